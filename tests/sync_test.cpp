// The locks, the monitor, the locked counter and the private semaphore, and
// the strings' shared parts used from several threads at once.
//
// The program stands in front of pthread_cond_wait and
// pthread_cond_broadcast and counts the calls made on the condition
// variable inside the semaphore watched: a counted wait means that waiter
// holds the semaphore's lock on its way to sleep, so a post that follows
// finds it asleep; the broadcasts show whom a post woke.  The stand-ins
// forward to the sanitizer's functions where there are some, to the C
// library's otherwise.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>

#include "libutils/csgl/csgl_string.hpp"
#include "libutils/csgl/csgl_sync.hpp"
#include "tests/support/expect_failure.hpp"
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
    waits += inside_watched(cond);
    return wait(cond, mutex);
}

int pthread_cond_broadcast(pthread_cond_t* cond) noexcept {
    static const auto broadcast =
        current_version(__interceptor_pthread_cond_broadcast, "pthread_cond_broadcast");
    broadcasts += inside_watched(cond);
    return broadcast(cond);
}

}  // extern "C"

namespace {

constexpr unsigned long value_id = 0x14110000, lock_id = 0x14120000, monitor_id = 0x14140000;
constexpr csgl_sync_sema::state_indicator reset = csgl_sync_sema::state_reset,
                                          posted = csgl_sync_sema::state_posted;

// Records of this type and id, of this object and with this data where those are given.
long count_records(unsigned long type, unsigned long id, const void* object,
                   const char* data = nullptr) {
    long n = 0;
    for (const trace_record& r : recorded_traces())
        n += r.type == type && r.id == id && (!object || r.object == object) &&
             (!data || r.data == data);
    return n;
}

// Runs `body(0)` to `body(n - 1)` in threads let go at once.
template <class F>
void in_threads(int n, F body) {
    std::promise<void> go;
    std::shared_future<void> started(go.get_future());
    std::vector<std::thread> threads;
    for (int t = 0; t < n; ++t) threads.emplace_back([&body, started, t] { started.wait(); body(t); });
    go.set_value();
    for (std::thread& thread : threads) thread.join();
}

template <class E>
void expect_thrown(const std::function<void()>& operation, const char* text, unsigned long error) {
    expect_failure<E>(operation, "libutils/csgl/csgl_sync.cpp", text, error);
}

// The shared empty string is built once, while the library is loaded (its
// transaction table holds a default string); default constructions racing
// in threads build nothing and all get that one representation.
TEST(string_threads, racing_default_constructions_share_one_empty_string) {
    std::vector<csgl_string> strings(8, csgl_string("x"));
    host_session session(0x800);
    in_threads(8, [&strings](int t) { strings[t] = csgl_string(); });
    EXPECT_EQ(count_records(created, value_id, nullptr), 0);
    for (const csgl_string& s : strings) EXPECT_EQ(s.representation(), strings[0].representation());
    EXPECT_STREQ(strings[0], "");
}

// Handles of one representation copied, assigned and released in several
// threads, the last thread releasing the original at once.
TEST(string_threads, representation_freed_once_from_many_threads) {
    constexpr int threads = 4, rounds = 100;
    host_session session(0x800);
    auto* original = new csgl_string("shared text");
    const records built = recorded_traces();  // the lock, the counter, a step
    std::vector<csgl_string*> handles(threads + 1, original);
    for (int t = 0; t < threads; ++t) handles[t] = new csgl_string(*original);
    in_threads(threads + 1, [&](int t) {
        for (int i = 0; t < threads && i < rounds; ++i) {
            csgl_string copy(*handles[t]), other;
            other = copy;
        }
        delete handles[t];
    });
    EXPECT_EQ(count_records(destroyed, lock_id, built.at(0).object), 1);
    EXPECT_EQ(count_records(destroyed, value_id, built.at(1).object), 1);
    // Up and down for the original, each thread's handle, and two per round.
    EXPECT_EQ(count_records(created, monitor_id, nullptr, pointer_text(built.at(0).object).c_str()),
              2 * (1 + threads + 2 * threads * rounds));
}

// Assigning over the last handle of a representation frees it.
TEST(string_threads, assignment_releases_the_last_handle) {
    host_session session(0x800);
    csgl_string last("old");
    const void* const lock = recorded_traces().at(0).object;
    last = csgl_string();
    EXPECT_EQ(count_records(destroyed, lock_id, lock), 1);
}

TEST(sync_value, steps_and_records) {
    host_session session(0x800);
    auto v = std::make_unique<csgl_sync_value>(-2);
    const void *lock = recorded_traces().at(0).object, *value = v.get();  // the lock is built first
    EXPECT_EQ(recorded_traces(),
              (records{{created, lock_id, lock, false, ""}, {created, value_id, value, true, "-2"}}));
    clear_recorded();
    EXPECT_EQ(v->increment(), -1);  // under the lock, held by a monitor
    const void* monitor = recorded_traces().at(0).object;
    EXPECT_EQ(recorded_traces(), (records{{created, monitor_id, monitor, true, pointer_text(lock)},
                                          {destroyed, monitor_id, monitor, false, ""}}));
    for (const long expected : {0, 1}) EXPECT_EQ(v->increment(), expected);
    for (const long expected : {0, -1, -2}) EXPECT_EQ(v->decrement(), expected);
    const records released{{destroyed, lock_id, lock, false, ""}, {destroyed, value_id, value, false, ""}};
    clear_recorded();
    v.reset();
    EXPECT_EQ(recorded_traces(), released);
}

// Each step's result is seen by exactly one thread.
TEST(sync_value, concurrent_increments_each_seen_once) {
    csgl_sync_value v(0);
    std::vector<char> seen(4000);
    in_threads(4, [&](int) {
        for (int i = 0; i < 1000; ++i) ++seen.at(v.increment() - 1);
    });
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 4000);
}

// The abstract lock and semaphore refuse to run.  The private lock's
// request(0) answers at once, true when the lock is taken (by anyone); any
// other timeout is refused before the lock is touched, held or not.
TEST(lock, base_refuses_private_tries_without_waiting) {
    csgl_sync_lock base;
    csgl_sync_sema sema;
    // Each call throws before it takes or releases anything, which the
    // thread-safety analysis cannot know.
    for (const auto& operation : std::vector<std::function<void()>>{
             [&] { base.request(0); }, [&]() TRANSYS_NO_THREAD_SAFETY_ANALYSIS { base.request(); },
             [&]() TRANSYS_NO_THREAD_SAFETY_ANALYSIS { base.release(); },
             [&] { sema.post(); }, [&] { sema.reset(); }, [&] { sema.wait(); }}) {
        expect_thrown<exc_should_not_execute_t>(operation, "exc_should_not_execute", 0x20030007);
    }
    csgl_sync_lock_private lock;
    for (const bool held : {false, true}) {
        for (const long timeout : {1L, csgl_timeout_infinite}) {
            expect_thrown<exc_domain_overflow_t>([&] { lock.request(timeout); }, "timeout must be 0",
                                                 0x2003000F);
        }
        EXPECT_EQ(lock.request(0), held);  // free: taken now; held: refused at once
    }
    lock.release();
    EXPECT_FALSE(lock.request(0));
    lock.release();
}

// A lock noting each call with the number of trace records by then.
struct noting_lock : csgl_sync_lock {
    std::string calls;
    bool refuse = false;
    void request() override {
        calls += "request" + std::to_string(recorded_traces().size()) + " ";
        if (refuse) throw 7;
    }
    void release() override { calls += "release" + std::to_string(recorded_traces().size()) + " "; }
};

// The monitor writes its creation record before it requests the lock and
// releases the lock before its destruction record; a refused request
// releases nothing.
TEST(monitor, holds_the_lock_inside_its_records) {
    host_session session(0x800);
    noting_lock noted;
    { const csgl_sync_monitor hold(noted); }
    noted.refuse = true;
    EXPECT_THROW(csgl_sync_monitor hold(noted), int);
    EXPECT_EQ(noted.calls, "request1 release1 request3 ");
}

// Watches one semaphore for the length of a case, which a hang cannot
// stall: the alarm ends the program.
struct watch {
    explicit watch(const csgl_sync_sema_private& sema) { waits = broadcasts = 0, watched = &sema, alarm(60); }
    ~watch() { alarm(0), watched = nullptr; }
};

// Threads that each wait once on `sema`, started and then left alone until
// every one of them sleeps in it.
struct waiters {
    waiters(csgl_sync_sema_private& sema, int n) {
        const int before = waits;
        for (int i = 0; i < n; ++i) threads.emplace_back([this, &sema] { sema.wait(), ++returned; });
        while (waits < before + n) std::this_thread::yield();
    }
    ~waiters() { join(); }
    void join() {
        for (std::thread& thread : threads)
            if (thread.joinable()) thread.join();
    }
    std::atomic<int> returned{0};
    std::vector<std::thread> threads;
};

// The semaphore is recorded by its tracking base around its internal lock;
// an operation holds that lock through a monitor.
TEST(sema_private, records) {
    host_session session(0x800);
    auto sema = std::make_unique<csgl_sync_sema_private>(posted);
    sema->wait();
    const void *const s = sema.get(), *const lock = recorded_traces().at(1).object,
                      *const monitor = recorded_traces().at(2).object;
    sema.reset();
    EXPECT_EQ(recorded_traces(), (records{{created, 0x14160000, s, false, ""},
                                          {created, lock_id, lock, false, ""},
                                          {created, monitor_id, monitor, true, pointer_text(lock)},
                                          {destroyed, monitor_id, monitor, false, ""},
                                          {destroyed, lock_id, lock, false, ""},
                                          {destroyed, 0x14160000, s, false, ""}}));
}

// A post wakes every waiter asleep at the time, also when a reset follows at
// once, since a woken waiter does not look at the state again.  Until the
// reset, every wait passes; after it, waiters sleep again.
TEST(sema_private, post_releases_every_waiter) {
    for (const bool reset_at_once : {false, true}) {
        SCOPED_TRACE(reset_at_once ? "reset at once" : "stays posted");
        csgl_sync_sema_private sema(reset);
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
    csgl_sync_sema_private sema(posted);
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
