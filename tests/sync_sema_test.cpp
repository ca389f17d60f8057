// The process-private semaphore with threads waiting on it.  The program
// stands in front of pthread_cond_wait and pthread_cond_broadcast and counts
// the calls made on the condition variable inside the semaphore under test:
// a counted wait means that waiter holds the semaphore's lock on its way to
// sleep, so a post that follows finds it asleep; the broadcasts show whom a
// post woke.  The stand-ins forward to the sanitizer's functions where there
// are some, to the C library's otherwise.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_sync.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

std::atomic<const csgl_sync_sema_private*> watched{nullptr};
std::atomic<int> waits{0}, broadcasts{0};

bool inside_watched(const pthread_cond_t* cond) {
    const auto begin = reinterpret_cast<std::uintptr_t>(watched.load());
    const auto at = reinterpret_cast<std::uintptr_t>(cond);
    return begin != 0 && at >= begin && at + sizeof *cond <= begin + sizeof(csgl_sync_sema_private);
}

template <class F>
F current_version(F interceptor, const char* name) {
    return interceptor != nullptr ? interceptor
                                  : reinterpret_cast<F>(dlvsym(RTLD_NEXT, name, "GLIBC_2.3.2"));
}

}  // namespace

extern "C" {

int __interceptor_pthread_cond_wait(pthread_cond_t*, pthread_mutex_t*) __attribute__((weak));
int __interceptor_pthread_cond_broadcast(pthread_cond_t*) __attribute__((weak));

int pthread_cond_wait(pthread_cond_t* cond, pthread_mutex_t* mutex) {
    static const auto wait = current_version(__interceptor_pthread_cond_wait, "pthread_cond_wait");
    if (inside_watched(cond)) ++waits;
    return wait(cond, mutex);
}

int pthread_cond_broadcast(pthread_cond_t* cond) noexcept {
    static const auto broadcast =
        current_version(__interceptor_pthread_cond_broadcast, "pthread_cond_broadcast");
    if (inside_watched(cond)) ++broadcasts;
    return broadcast(cond);
}

}  // extern "C"

namespace {

// Watches one semaphore for the length of a case, which a hang cannot
// stall: the alarm ends the program.
class watch {
public:
    explicit watch(const csgl_sync_sema_private& sema) {
        waits = 0;
        broadcasts = 0;
        watched = &sema;
        alarm(60);
    }
    ~watch() {
        alarm(0);
        watched = nullptr;
    }
};

// Threads that each wait once on `sema`, started and then left alone until
// every one of them sleeps in it.
class waiters {
public:
    waiters(csgl_sync_sema_private& sema, int n) {
        const int before = waits;
        for (int i = 0; i < n; ++i) {
            threads_.emplace_back([this, &sema] {
                sema.wait();
                ++returned;
            });
        }
        while (waits < before + n) std::this_thread::yield();
    }
    ~waiters() { join(); }
    void join() {
        for (std::thread& thread : threads_)
            if (thread.joinable()) thread.join();
    }
    std::atomic<int> returned{0};

private:
    std::vector<std::thread> threads_;
};

// The semaphore is recorded by its tracking base around its internal lock;
// an operation holds that lock through a monitor.
TEST(sema_private, records) {
    host_session session(0x800);
    auto sema = std::make_unique<csgl_sync_sema_private>(csgl_sync_sema::state_posted);
    sema->wait();
    const void *const s = sema.get(), *const lock = recorded_traces().at(1).object,
                      *const monitor = recorded_traces().at(2).object;
    char lock_text[32];
    std::snprintf(lock_text, sizeof lock_text, "%p", lock);
    sema.reset();
    constexpr unsigned long created = 0x021E0000, destroyed = 0x021F0000;
    EXPECT_EQ(recorded_traces(), (std::vector<trace_record>{
                                     {created, 0x14160000, s, false, ""},
                                     {created, 0x14120000, lock, false, ""},
                                     {created, 0x14140000, monitor, true, lock_text},
                                     {destroyed, 0x14140000, monitor, false, ""},
                                     {destroyed, 0x14120000, lock, false, ""},
                                     {destroyed, 0x14160000, s, false, ""}}));
}

// A post wakes every waiter asleep at the time, also when a reset follows at
// once, since a woken waiter does not look at the state again.  Until the
// reset, every wait passes; after it, waiters sleep again.
TEST(sema_private, post_releases_every_waiter) {
    for (const bool reset_at_once : {false, true}) {
        SCOPED_TRACE(reset_at_once ? "reset at once" : "stays posted");
        csgl_sync_sema_private sema(csgl_sync_sema::state_reset);
        watch watching(sema);
        waiters three(sema, 3);
        EXPECT_EQ(three.returned.load(), 0);
        sema.post();
        if (reset_at_once) sema.reset();
        three.join();
        EXPECT_EQ(three.returned.load(), 3);
        EXPECT_EQ(broadcasts.load(), 1);
        if (!reset_at_once) {
            sema.wait();  // passes on this thread
            sema.wait();
            sema.reset();
        }
        waiters fourth(sema, 1);
        EXPECT_EQ(waits.load(), 4);
        sema.post();
        fourth.join();
        EXPECT_EQ(fourth.returned.load(), 1);
        EXPECT_EQ(broadcasts.load(), 2);
    }
}

// Only a post that changes the state broadcasts; a reset never does.
TEST(sema_private, post_on_a_posted_semaphore_broadcasts_nothing) {
    csgl_sync_sema_private sema(csgl_sync_sema::state_posted);
    watch watching(sema);
    sema.post();
    sema.wait();
    EXPECT_EQ(broadcasts.load(), 0);
    const struct {
        void (csgl_sync_sema::*operation)();
        int broadcasts;  // by then
    } steps[] = {{&csgl_sync_sema::reset, 0}, {&csgl_sync_sema::post, 1},
                 {&csgl_sync_sema::post, 1},  {&csgl_sync_sema::reset, 1},
                 {&csgl_sync_sema::post, 2},  {&csgl_sync_sema::post, 2}};
    int step = 0;
    for (const auto& s : steps) {
        (sema.*s.operation)();
        EXPECT_EQ(broadcasts.load(), s.broadcasts) << "step " << step++;
    }
    EXPECT_EQ(waits.load(), 0);  // nothing ever slept
}

}  // namespace
