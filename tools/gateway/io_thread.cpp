#include "tools/gateway/io_thread.hpp"

#include "tools/gateway/gateway_context.hpp"
#include "tools/gateway/gateway_log.hpp"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace gateway {
namespace {

constexpr std::uint64_t wake_key = ~std::uint64_t{ 0 };
constexpr int tick_milliseconds = 250;

}  // namespace

io_thread::io_thread(gateway_context& context) : context_(context) {}

io_thread::~io_thread()
{
    join();
    relays_.clear();
    if (wake_fd_ >= 0)
        ::close(wake_fd_);
    if (epoll_fd_ >= 0)
        ::close(epoll_fd_);
}

bool io_thread::start()
{
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_fd_ < 0 || wake_fd_ < 0)
        return false;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.u64 = wake_key;
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &wake) != 0)
        return false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void io_thread::join()
{
    if (thread_.joinable())
        thread_.join();
}

void io_thread::post(task work)
{
    {
        const std::lock_guard<std::mutex> lock(tasks_mutex_);
        tasks_.push_back(std::move(work));
    }
    const std::uint64_t one = 1;
    // A full counter still wakes the thread; nothing else can fail here.
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
}

void io_thread::adopt_client(int client_fd, std::string peer)
{
    post([this, client_fd, peer = std::move(peer)] {
        if (stopping_) {
            ::close(client_fd);
            return;
        }
        auto created = std::make_unique<relay>(*this, context_, client_fd, peer);
        relay& added = *created;
        relays_.emplace(added.conn_id(), std::move(created));
        context_.registry.add(added.record(), *this);
        added.open();
        reap(added.conn_id());
    });
}

void io_thread::time_out(int conn_id, std::uint64_t serial)
{
    post([this, conn_id, serial] {
        const auto found = relays_.find(conn_id);
        if (found == relays_.end())
            return;
        found->second->on_timed_out(serial);
        reap(conn_id);
    });
}

void io_thread::shut_down()
{
    post([this] {
        stopping_ = true;
        std::vector<int> ids;
        for (const auto& entry : relays_)
            ids.push_back(entry.first);
        for (const int id : ids) {
            relays_[id]->shut_down();
            reap(id);
        }
    });
}

void io_thread::watch(int fd, std::uint64_t key, std::uint32_t events)
{
    epoll_event interest{};
    interest.events = events;
    interest.data.u64 = key;
    const bool known = watched_.count(fd) != 0;
    if (epoll_ctl(epoll_fd_, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &interest) == 0)
        watched_.insert(fd);
    else
        log_line("epoll_ctl on descriptor %d: %s", fd, std::strerror(errno));
}

void io_thread::forget(int fd)
{
    if (watched_.erase(fd) != 0)
        epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
}

void io_thread::reap(int conn_id)
{
    const auto found = relays_.find(conn_id);
    if (found == relays_.end() || !found->second->finished())
        return;
    relay& done = *found->second;
    context_.registry.remove(done.record(), done.may_be_registered());
    log_line("%s: connection %d closed", done.record().text.c_str(), conn_id);
    relays_.erase(found);
}

void io_thread::run_tasks()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wake_fd_, &count, sizeof count);
    std::vector<task> ready;
    {
        const std::lock_guard<std::mutex> lock(tasks_mutex_);
        ready.swap(tasks_);
    }
    for (const task& work : ready)
        work();
}

void io_thread::dispatch(std::uint64_t key, std::uint32_t events)
{
    const int conn_id = static_cast<int>(key >> 1);
    const auto found = relays_.find(conn_id);
    if (found == relays_.end())
        return;  // closed earlier in this round
    found->second->on_ready(static_cast<relay::side>(key & 1), events);
    reap(conn_id);
}

void io_thread::run()
{
    std::array<epoll_event, 64> events{};
    long long next_tick = monotonic_milliseconds() + tick_milliseconds;
    while (!(stopping_ && relays_.empty())) {
        const int ready = epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()),
                                     tick_milliseconds);
        if (ready < 0 && errno != EINTR) {
            log_line("epoll_wait: %s", std::strerror(errno));
            return;
        }
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.u64 == wake_key)
                run_tasks();
            else
                dispatch(events[i].data.u64, events[i].events);
        }
        const long long now = monotonic_milliseconds();
        if (now >= next_tick) {
            next_tick = now + tick_milliseconds;
            std::vector<int> ids;
            for (const auto& entry : relays_)
                ids.push_back(entry.first);
            for (const int id : ids) {
                relays_[id]->on_tick(now);
                reap(id);
            }
        }
    }
    // Stopping: a task posted after the last relay closed may still hold a
    // client's descriptor.
    run_tasks();
}

}  // namespace gateway
