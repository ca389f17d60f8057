// The sweeper: every --sweep seconds, the library's time-out sweep, and
// each timed-out connection handed to the I/O thread that owns it.
#ifndef TOOLS_GATEWAY_SWEEPER_HPP
#define TOOLS_GATEWAY_SWEEPER_HPP

#include <condition_variable>
#include <mutex>
#include <thread>

namespace gateway {

struct gateway_context;

// Owns its thread; stop() (from another thread) ends it promptly.  It
// never touches a connection itself: the abort and the notice are the
// owning I/O thread's work.
class sweeper {
public:
    explicit sweeper(gateway_context& context) : context_(context) {}
    ~sweeper();
    sweeper(const sweeper&) = delete;
    sweeper& operator=(const sweeper&) = delete;

    void start();
    void stop();

private:
    void run();

    gateway_context& context_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace gateway

#endif
