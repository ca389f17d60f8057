// Synchronisation between threads: the private lock with its monitor, and
// the locked counter.
#include <cassert>
#include <cstring>
#include <thread>

#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_sync.hpp"

int main() {
    csgl_sync_lock_private lock;
    long total = 0;  // guarded by lock
    csgl_sync_value steps(0);

    auto work = [&] {
        for (int i = 0; i < 1000; ++i) {
            csgl_sync_monitor hold(lock);  // released at the end of the block
            ++total;
        }
        for (int i = 0; i < 1000; ++i) steps.increment();
    };
    std::thread first(work), second(work);
    first.join();
    second.join();
    assert(total == 2000);
    // The counter's value is seen only as the result of a step.
    assert(steps.increment() == 2001 && steps.decrement() == 2000);

    // request(0) does not wait: false when the caller now holds the lock,
    // true when it is held elsewhere.
    assert(!lock.request(0));
    std::thread([&] { assert(lock.request(0)); }).join();
    lock.release();

    // Only the timeout 0 is accepted.
    try {
        lock.request(csgl_timeout_infinite);
        assert(!"not reached");
    } catch (const exc_domain_overflow_t& e) {
        assert(std::strcmp(e.message().msg_string(), "timeout must be 0") == 0);
    }
    return 0;
}
