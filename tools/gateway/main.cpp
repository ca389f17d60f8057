// transys-gateway: relays LDAP clients to a directory and adds, through
// libtransys, a limit on open transactions, one transaction per
// connection, a limit on a transaction's updates and the time-out of
// abandoned transactions.  See docs/gateway.md.
#include "libtransys/tran_api.h"
#include "tools/gateway/flags.hpp"
#include "tools/gateway/gateway_context.hpp"
#include "tools/gateway/gateway_log.hpp"
#include "tools/gateway/io_thread.hpp"
#include "tools/gateway/listener.hpp"
#include "tools/gateway/sweeper.hpp"

#include <netdb.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int exit_bad_flags = 2;

// Resolves the backend's host once, at start.
bool resolve_backend(gateway::gateway_context& context, std::string* error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const gateway::flags& settings = context.settings;
    const int looked_up = getaddrinfo(settings.backend_host.c_str(),
                                      std::to_string(settings.backend_port).c_str(), &hints, &found);
    if (looked_up != 0) {
        *error = "--backend " + settings.backend_uri + ": cannot resolve " +
                 settings.backend_host + ": " + gai_strerror(looked_up);
        return false;
    }
    std::memcpy(&context.backend_address, found->ai_addr, found->ai_addrlen);
    context.backend_address_length = found->ai_addrlen;
    freeaddrinfo(found);
    return true;
}

std::string listen_uri(const std::string& host, unsigned port)
{
    const bool six = host.find(':') != std::string::npos;
    return "ldap://" + (six ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

int main(int argc, char** argv)
{
    const gateway::flags_result parsed =
        gateway::parse_flags(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.help) {
        std::fputs(gateway::usage_text().c_str(), stdout);
        return 0;
    }
    if (!parsed.value) {
        std::fprintf(stderr, "transys-gateway: %s (try --help)\n", parsed.error.c_str());
        return exit_bad_flags;
    }
    auto context = std::make_unique<gateway::gateway_context>();
    context->settings = *parsed.value;
    const gateway::flags& settings = context->settings;
    std::string error;
    if (!resolve_backend(*context, &error)) {
        std::fprintf(stderr, "transys-gateway: %s\n", error.c_str());
        return exit_bad_flags;
    }
    gateway::listener accepting;
    if (!accepting.bind_to(settings.listen_host, settings.listen_port, &error)) {
        std::fprintf(stderr, "transys-gateway: %s\n", error.c_str());
        return 1;
    }
    if (tran_api_system_init() != TRAN_API_SUCCESS) {
        std::fprintf(stderr, "transys-gateway: %s", tran_api_system_err());
        return 1;
    }
    tran_api_set_maxnum(settings.maxnum);
    tran_api_set_maxop(settings.maxop);
    tran_api_set_tlimit(settings.tlimit);

    // Every thread inherits this mask: the signals reach sigwait alone.
    // SIGUSR1 asks for the statistics line.
    sigset_t handled_signals;
    sigemptyset(&handled_signals);
    sigaddset(&handled_signals, SIGINT);
    sigaddset(&handled_signals, SIGTERM);
    sigaddset(&handled_signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &handled_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<gateway::io_thread>> io_threads;
    for (int i = 0; i < settings.threads; ++i) {
        io_threads.push_back(std::make_unique<gateway::io_thread>(*context));
        if (!io_threads.back()->start()) {
            std::fprintf(stderr, "transys-gateway: cannot start an I/O thread: %s\n",
                         std::strerror(errno));
            return 1;
        }
    }
    gateway::sweeper sweeping(*context);
    sweeping.start();
    accepting.start(io_threads);

    const std::string uri = listen_uri(settings.listen_host, accepting.bound_port());
    gateway::log_line("directory %s; limits: %d transactions, %d updates, %ld seconds (swept every %ld)",
                      settings.backend_uri.c_str(), tran_api_system_maxnum(),
                      tran_api_system_maxop(), tran_api_system_tlimit(), settings.sweep);
    std::printf("listening on %s\n", uri.c_str());
    std::fflush(stdout);

    int received = 0;
    for (;;) {
        if (sigwait(&handled_signals, &received) != 0)
            continue;
        if (received != SIGUSR1)
            break;
        const gateway::connection_registry::statistics now = context->registry.count();
        gateway::log_line("statistics: %zu connections open, %zu transactions registered",
                          now.connections, now.transactions);
    }
    gateway::log_line("stopping on %s", received == SIGINT ? "SIGINT" : "SIGTERM");
    accepting.stop();
    sweeping.stop();
    for (const auto& thread : io_threads)
        thread->shut_down();
    for (const auto& thread : io_threads)
        thread->join();
    gateway::log_line("stopped");
    return 0;
}
