// What every part of one gateway process shares: its settings, the
// backend's address, the connection registry, and the clock it stamps
// transactions with.
#ifndef TOOLS_GATEWAY_GATEWAY_CONTEXT_HPP
#define TOOLS_GATEWAY_GATEWAY_CONTEXT_HPP

#include "tools/gateway/connection_registry.hpp"
#include "tools/gateway/flags.hpp"

#include <sys/socket.h>

#include <atomic>
#include <ctime>

namespace gateway {

// Built once by main before any thread starts; afterwards the settings and
// the address are only read.  Thread-safe as its members are.
struct gateway_context {
    flags settings;
    sockaddr_storage backend_address{};
    socklen_t backend_address_length = 0;
    connection_registry registry;
    // Connection ids, unique in the process.
    std::atomic<int> next_conn_id{ 1 };
};

// The clock of transaction stamps and of the sweep: whole seconds of
// CLOCK_MONOTONIC, so a change of the wall clock ages nothing.
inline long monotonic_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec);
}

// Milliseconds of the same clock, for the I/O threads' deadlines.
inline long long monotonic_milliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace gateway

#endif
