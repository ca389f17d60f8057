#include "tools/gateway/sweeper.hpp"

#include "tools/gateway/gateway_context.hpp"
#include "tools/gateway/io_thread.hpp"

#include <chrono>

namespace gateway {

sweeper::~sweeper()
{
    stop();
}

void sweeper::start()
{
    thread_ = std::thread([this] { run(); });
}

void sweeper::stop()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void sweeper::run()
{
    const std::chrono::seconds interval(context_.settings.sweep);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, interval, [this] { return stopping_; })) {
        lock.unlock();
        context_.registry.sweep(monotonic_seconds(),
                                [](io_thread& owner, int conn_id, std::uint64_t serial) {
                                    owner.time_out(conn_id, serial);
                                });
        lock.lock();
    }
}

}  // namespace gateway
