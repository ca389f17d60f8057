#include "tools/gateway/listener.hpp"

#include "tools/gateway/gateway_log.hpp"
#include "tools/gateway/io_thread.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace gateway {

std::string address_text(const void* address, unsigned length)
{
    char host[NI_MAXHOST] = "?";
    char port[NI_MAXSERV] = "?";
    getnameinfo(static_cast<const sockaddr*>(address), length, host, sizeof host, port,
                sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
    const bool six = static_cast<const sockaddr*>(address)->sa_family == AF_INET6;
    return (six ? "[" + std::string(host) + "]" : std::string(host)) + ":" + port;
}

listener::~listener()
{
    stop();
}

bool listener::bind_to(const std::string& host, unsigned port, std::string* error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int looked_up = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (looked_up != 0) {
        *error = "cannot resolve " + host + ": " + gai_strerror(looked_up);
        return false;
    }
    for (const addrinfo* candidate = found; candidate != nullptr && listen_fd_ < 0;
         candidate = candidate->ai_next) {
        const int fd = ::socket(candidate->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            continue;
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, candidate->ai_addr, candidate->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0)
            listen_fd_ = fd;
        else {
            *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " +
                     std::strerror(errno);
            ::close(fd);
        }
    }
    freeaddrinfo(found);
    stop_fd_ = eventfd(0, EFD_CLOEXEC);
    return listen_fd_ >= 0 && stop_fd_ >= 0;
}

unsigned listener::bound_port() const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

void listener::start(std::vector<std::unique_ptr<io_thread>>& io_threads)
{
    thread_ = std::thread([this, &io_threads] { run(io_threads); });
}

void listener::stop()
{
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stop_fd_, &one, sizeof one);
        thread_.join();
    }
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
    if (stop_fd_ >= 0)
        ::close(stop_fd_);
    listen_fd_ = stop_fd_ = -1;
}

void listener::run(std::vector<std::unique_ptr<io_thread>>& io_threads)
{
    std::size_t next = 0;
    for (;;) {
        pollfd watched[2] = { { listen_fd_, POLLIN, 0 }, { stop_fd_, POLLIN, 0 } };
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            return;
        if (watched[1].revents != 0)
            return;
        if ((watched[0].revents & POLLIN) == 0)
            continue;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int client = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: wait a little rather than spin.
                log_line("accept: %s", std::strerror(errno));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            continue;
        }
        io_threads[next]->adopt_client(client, address_text(&peer, length));
        next = (next + 1) % io_threads.size();
    }
}

}  // namespace gateway
