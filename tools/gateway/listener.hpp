// The accept loop: takes client connections and hands each to an I/O
// thread, in turn.
#ifndef TOOLS_GATEWAY_LISTENER_HPP
#define TOOLS_GATEWAY_LISTENER_HPP

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace gateway {

class io_thread;

// Owns the listening socket and its thread.  stop() (from another thread)
// ends the loop and closes the socket; no client is accepted after it
// returns.
class listener {
public:
    listener() = default;
    ~listener();
    listener(const listener&) = delete;
    listener& operator=(const listener&) = delete;

    // Binds and listens on host:port; false with `error` set on failure.
    bool bind_to(const std::string& host, unsigned port, std::string* error);
    // The port actually bound (the free one picked for port 0).
    unsigned bound_port() const;
    void start(std::vector<std::unique_ptr<io_thread>>& io_threads);
    void stop();

private:
    void run(std::vector<std::unique_ptr<io_thread>>& io_threads);

    int listen_fd_ = -1;
    int stop_fd_ = -1;
    std::thread thread_;
};

// "HOST:PORT" of a socket address, with brackets around an IPv6 host.
std::string address_text(const void* address, unsigned length);

}  // namespace gateway

#endif
