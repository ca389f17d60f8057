// The locks, the monitor, the locked counter and the semaphores of either
// scope: threads of this program on the private ones (and on the strings'
// shared parts), forked children on the shared ones, which open the same key
// file and report back in lines.
//
// The program stands in front of pthread_cond_wait and
// pthread_cond_broadcast and counts the calls made on the condition variable
// inside the private semaphore watched: a counted wait means that waiter holds
// the semaphore's lock on its way to sleep, so a post that follows finds it
// asleep; the broadcasts show whom a post woke.  The stand-ins forward to the
// sanitizer's functions where there are some, to the C library's otherwise.
// It also stands in front of semget and stat, so that a child can be stopped
// between two steps of building a shared object.
#include <dlfcn.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <sstream>
#include <thread>

#include "libutils/csgl/csgl_string.hpp"
#include "libutils/csgl/csgl_sync.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/expect_failure.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

std::atomic<const csgl_sync_sema_private*> watched{nullptr};
std::atomic<int> waits{0}, broadcasts{0};

bool inside_watched(const void* cond) {
    const char* const begin = reinterpret_cast<const char*>(watched.load());
    return begin && cond >= begin && cond < begin + sizeof(csgl_sync_sema_private);
}

template <class F>
F current_version(F interceptor, const char* name) {
    return interceptor ? interceptor : reinterpret_cast<F>(dlvsym(RTLD_NEXT, name, "GLIBC_2.3.2"));
}

// In a child: the first call of `pause_function` (semget or stat) that finds
// nothing tells the parent "paused" and waits for its word.
const child_process* pause_child = nullptr;
std::string pause_function;

template <class F, class... A>
int pausing(const char* function, A... args) {
    static const auto next = reinterpret_cast<F*>(dlsym(RTLD_NEXT, function));
    const int result = next(args...), error = errno;
    if (result == -1 && error == ENOENT && pause_child && pause_function == function)
        pause_child->say("paused"), pause_child->hear(), pause_child = nullptr;
    errno = error;
    return result;
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
int semget(key_t key, int count, int flags) noexcept {
    return pausing<int(key_t, int, int)>("semget", key, count, flags);
}
int stat(const char* __restrict name, struct stat* __restrict status) noexcept {
    return pausing<int(const char*, struct stat*)>("stat", name, status);
}

}  // extern "C"

namespace {

constexpr csgl_sync_sema::state_indicator reset = csgl_sync_sema::state_reset,
                                          posted = csgl_sync_sema::state_posted;
const auto other_action = static_cast<csgl_action_indicator>(3);

// The records so far as text: created (+) or destroyed (-), the id and the
// object, with its data if any; objects are named a, b, ... in order of
// appearance, also where the data is an address.
std::string story() {
    std::vector<std::string> objects;
    const auto name = [&objects](const std::string& object) {
        auto at = std::find(objects.begin(), objects.end(), object);
        if (at == objects.end()) at = objects.insert(at, object);
        return std::string(1, static_cast<char>('a' + (at - objects.begin())));
    };
    std::ostringstream out;
    for (const trace_record& r : recorded_traces())
        out << (r.type == created ? " +" : r.type == destroyed ? " -" : " ?") << std::hex << r.id
            << " " << name(pointer_text(r.object))
            << (!r.has_data ? "" : ":" + (r.data.rfind("0x", 0) == 0 ? name(r.data) : r.data));
    return out.str();
}

template <class E>
void expect_thrown(const std::function<void()>& operation, const char* text, unsigned long error) {
    expect_failure<E>(operation, "libutils/csgl/csgl_sync.cpp", text, error);
}

// Either lock and the shared semaphore refuse every timeout but 0.
void expect_only_timeout_0(const std::function<void(long)>& call) {
    for (const long t : {1L, csgl_timeout_infinite})
        expect_thrown<exc_domain_overflow_t>([&] { call(t); }, "timeout must be 0", 0x2003000F);
}

// Either lock, free before and after: request(0) takes it at once (false) or
// refuses at once while anyone holds it (true); any other timeout is refused
// before the lock is touched, held or not.
void check_tries(csgl_sync_lock& lock) TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    for (const bool held : {false, true}) {
        expect_only_timeout_0([&](long timeout) { lock.request(timeout); });
        EXPECT_EQ(lock.request(0), held);
    }
    lock.release();
    EXPECT_FALSE(lock.request(0));
    lock.release();
}

// Threads step a counter, each result seen by exactly one of them, and copy
// and assign handles of one string representation, each thread then
// assigning the empty string over its handle: the representation is freed
// once, and the empty string, built while the library is loaded, is shared
// by all and never built again.
TEST(sync_threads, counter_and_string_handles) {
    constexpr int threads = 4, rounds = 100;
    host_session session(0x800);
    std::vector<csgl_string> handles(threads, csgl_string("shared text"));
    csgl_sync_value counter(-1);
    std::vector<char> seen(threads * rounds);
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) {
                ++seen.at(counter.increment());
                csgl_string copy(handles[t]), other;
                other = copy;
            }
            handles[t] = csgl_string();
        });
    for (std::thread& thread : running) thread.join();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), threads * rounds);
    EXPECT_EQ(record_data(destroyed, 0x14120000).size(), 1u);
    EXPECT_EQ(record_data(created, 0x14110000), (std::vector<std::string>{"0", "-1"}));
    // Up and down for the first handle, each copy of it, and two per round.
    const std::vector<std::string> steps = record_data(created, 0x14140000);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), pointer_text(recorded_traces().at(0).object)),
              2 * (1 + threads + 2 * threads * rounds));
    for (const csgl_string& s : handles) EXPECT_EQ(s.representation(), handles[0].representation());
    EXPECT_STREQ(handles[0], "");
}

// A lock noting each call with the number of trace records by then.
struct noting_lock : csgl_sync_lock {
    std::string calls;
    void request() override { calls += "request" + std::to_string(recorded_traces().size()) + " "; }
    void release() override { calls += "release" + std::to_string(recorded_traces().size()) + " "; }
};

// The abstract lock and semaphore refuse to run; the private lock's tries.
// The monitor writes its creation record before it requests the lock and
// releases the lock before its destruction record; a refused request
// releases nothing.
TEST(sync_lock, base_private_and_monitor) {
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
    check_tries(lock);
    host_session session(0x800);
    noting_lock noted;
    { const csgl_sync_monitor hold(noted); }
    EXPECT_EQ(noted.calls, "request1 release1 ");
    EXPECT_THROW(csgl_sync_monitor hold(base), exc_should_not_execute_t);  // and releases nothing
}

// Starts `n` threads that each wait once on the watched `sema`; returns them
// once all of them sleep in it.
std::vector<std::thread> sleepers(csgl_sync_sema_private& sema, int n) {
    const int before = waits;
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) threads.emplace_back([&sema] { sema.wait(); });
    while (waits < before + n) std::this_thread::yield();
    return threads;
}

// A post wakes every waiter asleep at the time with one broadcast, also when
// a reset follows at once, since a woken waiter does not look at the state
// again.  Until the reset, every wait passes.  Only a post that changes the
// state broadcasts; a reset never does.  A hang cannot stall the case: the
// alarm ends the program.
TEST(sync_event, post_wakes_every_sleeper_once) {
    csgl_sync_sema_private sema(posted);
    watched = &sema, std::signal(SIGALRM, SIG_DFL), alarm(60);
    sema.wait(), sema.reset();  // the first wait passes
    std::vector<std::thread> sleeping = sleepers(sema, 3);
    sema.post(), sema.reset();  // too late to keep them
    for (std::thread& thread : sleeping) thread.join();
    sleeping = sleepers(sema, 1);
    sema.post();
    sleeping.back().join();
    sema.wait(), sema.post(), sema.reset(), sema.reset();  // the wait passes: it stays posted
    sleeping = sleepers(sema, 1);
    sema.post(), sema.post();
    sleeping.back().join();
    EXPECT_EQ(broadcasts.load(), 3);
    EXPECT_EQ(waits.load(), 5);
    alarm(0), watched = nullptr;
}

// Each case owns a scratch directory with one key file; on the way out it
// removes the sets that file reaches, then the directory.  A hang fails the
// case instead of stalling: the parent's waits for children are bounded, and
// children die on their own alarm or with their parent.
class sync_shared : public ::testing::Test {
protected:
    sync_shared() { std::signal(SIGPIPE, SIG_IGN); }  // a word to a child that is gone is lost
    ~sync_shared() override { for (const char kind : {'l', 's'}) semctl(set(kind), 0, IPC_RMID); }

    // The set of the key file for a lock ('l') or a semaphore ('s'), or -1.
    int set(char kind) const { return semget(ftok(key, kind), 1, 0); }
    int value(char kind, int command = GETVAL) const { return semctl(set(kind), 0, command); }
    // Returns once `count` processes wait, for an increase of the lock or for
    // zero on the semaphore; throws after a minute.
    void until_waiting(char kind, int count) const {
        for (int ms = 0; value(kind, kind == 'l' ? GETNCNT : GETZCNT) != count; ++ms, usleep(1000))
            if (ms == 60000) throw std::runtime_error("hang guard");
    }

    const temp_dir dir_;
    const std::string key_ = dir_ / "key";
    const char* const key = key_.c_str();
};

// Each child's last line and end.
void expect_ends(std::initializer_list<child_process*> children, const std::string& line_and_end) {
    for (child_process* child : children)
        EXPECT_EQ(child->hear() + ", " + child->end(), line_and_end);
}

// Every object's records, and those of the lock and the monitor inside the
// counter and the private semaphore (the counter and its lock share an
// address).
TEST_F(sync_shared, records_of_every_kind) {
    using row = std::pair<std::function<void()>, std::string>;
    for (const auto& [build_and_use, expected] : std::vector<row>{
             {[] { csgl_sync_value(-2).increment(); },
              " +14120000 a +14110000 a:-2 +14140000 b:a -14140000 b -14120000 a -14110000 a"},
             {[] { csgl_sync_sema_private(posted).wait(); },
              " +14160000 a +14120000 b +14140000 c:b -14140000 c -14120000 b -14160000 a"},
             {[this] { csgl_sync_lock_shared(key, csgl_action_create),
                       csgl_sync_sema_shared(key, csgl_action_create, reset); },
              " +14130000 a +14170000 b -14170000 b -14130000 a"}}) {
        host_session session(0x800);
        build_and_use();
        EXPECT_EQ(story(), expected);
    }
}

// In one process: what each action opens, creates and removes, what an
// existing set keeps, the states every construction overwrites, and the key
// file left behind, which reaches a lock and a semaphore as two sets.
TEST_F(sync_shared, actions_and_values) {
    for (const auto& open_missing : std::vector<std::function<void()>>{
             [&] { csgl_sync_lock_shared(key, csgl_action_open); },
             [&] { csgl_sync_lock_shared(key, other_action); },
             [&] { csgl_sync_sema_shared(key, csgl_action_open, posted); }}) {
        expect_thrown<exc_does_not_exist_t>(open_missing, "does_not_exist (ENOENT)", 0x20030023);
    }
    {
        csgl_sync_lock_shared first(key, csgl_action_create);
        check_tries(first);
        first.request();
        csgl_sync_lock_shared second(key, csgl_action_create);
        { csgl_sync_lock_shared opened(key, csgl_action_open), other(key, other_action); }
        EXPECT_EQ(value('l'), 0);  // no opening touched the value, no opener removed the set
        second.release(), second.release();  // unchecked: the value goes above 1
        EXPECT_EQ(value('l'), 2);
        EXPECT_FALSE(first.request(0));
        csgl_sync_sema_shared sema(key, csgl_action_create, reset);
        EXPECT_NE(set('s'), set('l'));
        expect_only_timeout_0([&](long timeout) { sema.wait(timeout); });
        // Each step, then the value of the set (1 reset, 0 posted), seen by wait(0).
        for (const auto& [step, reset_value] : std::vector<std::pair<std::function<void()>, int>>{
                 {[] {}, 1},
                 {[&] { sema.post(), sema.wait(), sema.post(); }, 0},
                 {[&] { csgl_sync_sema_shared(key, csgl_action_open, reset); }, 1},
                 {[&] { csgl_sync_sema_shared(key, other_action, posted); }, 0},
                 {[&] { sema.reset(), sema.reset(); }, 1}}) {
            step();
            EXPECT_EQ(value('s'), reset_value);
            EXPECT_EQ(sema.wait(0), reset_value == 1);
        }
    }  // the second creator removes the lock's set; the first one's removal fails
    for (const char kind : {'l', 's'}) EXPECT_EQ(set(kind), -1);
    { csgl_sync_sema_shared other(key, other_action, posted); }  // creates, never removes
    EXPECT_EQ(value('s'), 0);
    EXPECT_EQ(read_file(key), "");  // made by the first attempt, empty
    auto creator = std::make_unique<csgl_sync_lock_shared>(key, csgl_action_create);
    csgl_sync_lock_shared opened(key, csgl_action_open);
    creator.reset();
    expect_thrown<exc_invalid_parameter_t>([&] { opened.release(); }, "invalid_parameter (EINVAL)",
                                           0x20000000);
}

// Children on the same key file.  One holds the lock and, killed, gives it
// back through the kernel's undo record; one waits for the parent's release.
// Waiters that open the semaphore reset it for every process; one post then
// lets them all through.  Removing a set fails the waits pending on it.
TEST_F(sync_shared, between_processes) {
    auto lock = std::make_unique<csgl_sync_lock_shared>(key, csgl_action_create);
    auto sema = std::make_unique<csgl_sync_sema_shared>(key, csgl_action_create, posted);
    const auto take = [this](child_process& me) {
        csgl_sync_lock_shared mine(key, csgl_action_open);
        mine.request(), me.say("held"), me.hear(), mine.release();
    };
    const auto wait = [this](child_process& me) {
        csgl_sync_sema_shared(key, csgl_action_open, reset).wait(), me.say("passed");
    };
    child_process holder(take);
    EXPECT_EQ(holder.hear(), "held");
    EXPECT_TRUE(lock->request(0));
    EXPECT_EQ(holder.end(SIGKILL), "signal 9");
    EXPECT_FALSE(lock->request(0));
    child_process taker(take), first(wait), second(wait), third(wait);
    until_waiting('l', 1), until_waiting('s', 3);
    EXPECT_TRUE(sema->wait(0));
    lock->release();
    EXPECT_EQ(taker.hear(), "held");
    taker.say("go");
    sema->post();
    expect_ends({&first, &second, &third}, "passed, exit 0");
    EXPECT_EQ(taker.end(), "exit 0");
    EXPECT_FALSE(lock->request(0));
    sema->reset();
    child_process late_taker(take), late_waiter(wait);
    until_waiting('l', 1), until_waiting('s', 1);
    lock.reset(), sema.reset();
    expect_ends({&late_taker, &late_waiter}, "does_not_exist (EIDRM), exit 1");
}

// Two creators of a lock at once: a child is stopped after it found no set
// (or no key file) and the parent creates it meanwhile.  The child then fails
// its exclusive creation of the set, looks again and opens the parent's set
// without touching its value; or it loses the creation of the key file.
TEST_F(sync_shared, racing_creators) {
    for (const std::string stop_in : {"stat", "semget"}) {
        child_process later([this, stop_in](child_process& me) {
            pause_child = &me, pause_function = stop_in;
            csgl_sync_lock_shared lock(key, csgl_action_create);
            me.say("value " + std::to_string(value('l')));
        });
        EXPECT_EQ(later.hear(), "paused");
        csgl_sync_lock_shared lock(key, csgl_action_create);
        lock.request();  // an opener that set the value would free it
        later.say("go");
        expect_ends({&later},
                    stop_in == "stat" ? "already_exists (EEXIST), exit 1" : "value 0, exit 0");
    }
}

}  // namespace
