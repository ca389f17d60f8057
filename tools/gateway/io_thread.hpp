// An I/O thread: one epoll loop that owns the relays assigned to it.
#ifndef TOOLS_GATEWAY_IO_THREAD_HPP
#define TOOLS_GATEWAY_IO_THREAD_HPP

#include "tools/gateway/relay.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace gateway {

struct gateway_context;

// Owns its relays and their sockets: only its own thread touches them.
// Other threads hand it work through post() (a queue and an eventfd): new
// clients from the listener, time-outs from the sweeper, the stop from
// main.  Once stopping, it ends when its last relay has closed.
class io_thread {
public:
    explicit io_thread(gateway_context& context);
    ~io_thread();  // joins the thread
    io_thread(const io_thread&) = delete;
    io_thread& operator=(const io_thread&) = delete;

    // False when the epoll or eventfd descriptors could not be made.
    bool start();
    void join();

    // Any thread.
    void adopt_client(int client_fd, std::string peer);
    void time_out(int conn_id, std::uint64_t serial);
    void shut_down();

    // The owning thread only, for its relays.
    void watch(int fd, std::uint64_t key, std::uint32_t events);
    void forget(int fd);

private:
    using task = std::function<void()>;
    void post(task work);
    void run();
    void run_tasks();
    void dispatch(std::uint64_t key, std::uint32_t events);
    // Closes the relay's registration and frees it once both sides are shut.
    void reap(int conn_id);

    gateway_context& context_;
    int epoll_fd_ = -1;
    int wake_fd_ = -1;
    std::thread thread_;

    std::mutex tasks_mutex_;
    std::vector<task> tasks_;

    std::map<int, std::unique_ptr<relay>> relays_;
    std::unordered_set<int> watched_;
    bool stopping_ = false;
};

}  // namespace gateway

#endif
