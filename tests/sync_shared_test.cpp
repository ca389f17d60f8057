// The process-shared lock and semaphore between real processes: forked
// children open the same key file, take, hold and release the lock, post
// and wait on the semaphore, and report back in lines.
//
// Each case owns a scratch directory with one key file; on the way out it
// removes the sets that file reaches, then the directory.  A hang fails the
// case instead of stalling: an alarm interrupts the parent's waits (System V
// waits are never restarted) and children die on their own alarm or with
// their parent.  The program stands in front of semget and stat, so that a
// child can be stopped between two steps of building an object.
#include <dlfcn.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include "libutils/csgl/csgl_sync.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/expect_failure.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

volatile std::sig_atomic_t hung = 0;

// In a child: the first call of `pause_function` (semget or stat) that finds
// nothing tells the parent "paused" and waits for its word.
const child_process* pause_child = nullptr;
const char* pause_function = "";

template <class F, class... A>
int pausing(const char* function, A... args) {
    static const auto next = reinterpret_cast<F*>(dlsym(RTLD_NEXT, function));
    const int result = next(args...), error = errno;
    if (result == -1 && error == ENOENT && pause_child && !std::strcmp(function, pause_function)) {
        const child_process* const child = std::exchange(pause_child, nullptr);
        child->say("paused");
        child->hear();
    }
    errno = error;
    return result;
}

}  // namespace

extern "C" int semget(key_t key, int count, int flags) noexcept {
    return pausing<int(key_t, int, int)>("semget", key, count, flags);
}
extern "C" int stat(const char* __restrict name, struct stat* __restrict status) noexcept {
    return pausing<int(const char*, struct stat*)>("stat", name, status);
}

namespace {

const auto other_action = static_cast<csgl_action_indicator>(3);
constexpr csgl_sync_sema::state_indicator reset = csgl_sync_sema::state_reset,
                                          posted = csgl_sync_sema::state_posted;

template <class E>
void expect_thrown(const std::function<void()>& operation, const char* text, unsigned long error) {
    expect_failure<E>(operation, "libutils/csgl/csgl_sync.cpp", text, error);
}

// Both kinds of object refuse every timeout but 0.
void expect_only_timeout_0(const std::function<void(long)>& request) {
    for (const long timeout : {1L, 2L, csgl_timeout_infinite})
        expect_thrown<exc_domain_overflow_t>([&] { request(timeout); }, "timeout must be 0", 0x2003000F);
}

class shared : public ::testing::Test {
protected:
    shared() {
        struct sigaction action {};
        action.sa_handler = [](int) { hung = 1, alarm(1); };  // no SA_RESTART: waits end with EINTR
        sigaction(SIGALRM, &action, nullptr);
        std::signal(SIGPIPE, SIG_IGN);  // a word to a child that is gone is lost
        hung = 0;
        alarm(60);
    }
    ~shared() override {
        alarm(0);
        for (const char kind : {'l', 's'})
            if (const int id = set(kind); id != -1) semctl(id, 0, IPC_RMID);
    }

    // The set of the key file for a lock ('l') or a semaphore ('s'), or -1.
    int set(char kind) const { return semget(ftok(key, kind), 1, 0); }
    int value(char kind, int command = GETVAL) const { return semctl(set(kind), 0, command); }
    // Returns once `count` processes wait: for an increase of the lock, for
    // zero on the semaphore.
    void until_waiting(char kind, int count) const {
        while (value(kind, kind == 'l' ? GETNCNT : GETZCNT) != count) {
            if (hung) throw std::runtime_error("hang guard");
            usleep(1000);
        }
    }

    const temp_dir dir_;
    const std::string key_ = dir_ / "key";
    const char* const key = key_.c_str();
};

TEST_F(shared, records) {
    host_session session(0x800);
    auto lock = std::make_unique<csgl_sync_lock_shared>(key, csgl_action_create);
    auto sema = std::make_unique<csgl_sync_sema_shared>(key, csgl_action_create, reset);
    const void *const l = lock.get(), *const s = sema.get();
    lock.reset();
    sema.reset();
    EXPECT_EQ(recorded_traces(), (records{{created, 0x14130000, l, false, ""},
                                          {created, 0x14170000, s, false, ""},
                                          {destroyed, 0x14130000, l, false, ""},
                                          {destroyed, 0x14170000, s, false, ""}}));
}

// In one process: what each action opens, creates and removes, what an
// existing set keeps, and the key file left behind.
TEST_F(shared, lock_actions) {
    for (const csgl_action_indicator action : {csgl_action_open, other_action}) {
        expect_thrown<exc_does_not_exist_t>([&] { csgl_sync_lock_shared lock(key, action); },
                                            "does_not_exist (ENOENT)", 0x20030023);
    }
    EXPECT_EQ(read_file(key), "");  // made by the first attempt, empty
    EXPECT_EQ(set('l'), -1);
    {
        csgl_sync_lock_shared first(key, csgl_action_create);
        EXPECT_EQ(value('l'), 1);
        first.request();
        csgl_sync_lock_shared second(key, csgl_action_create);
        { csgl_sync_lock_shared opened(key, csgl_action_open); }
        { csgl_sync_lock_shared other(key, other_action); }
        EXPECT_EQ(value('l'), 0);  // no opening touched the value, no opener removed the set
        EXPECT_TRUE(second.request(0));
        expect_only_timeout_0([&](long timeout) { second.request(timeout); });
        EXPECT_EQ(value('l'), 0);
        second.release();
        second.release();  // unchecked: the value goes above 1
        EXPECT_EQ(value('l'), 2);
        EXPECT_FALSE(first.request(0));
        EXPECT_EQ(value('l'), 1);
    }  // the second creator removes the set; the first one's removal fails
    EXPECT_EQ(set('l'), -1);
    EXPECT_EQ(read_file(key), "");
    auto creator = std::make_unique<csgl_sync_lock_shared>(key, csgl_action_create);
    csgl_sync_lock_shared opened(key, csgl_action_open);
    creator.reset();
    expect_thrown<exc_invalid_parameter_t>([&] { opened.release(); }, "invalid_parameter (EINVAL)",
                                           0x20000000);
}

// A child holds the lock against the parent and, killed, gives it back
// through the kernel's undo record; another waits for the parent's; a third
// loses the set from under its wait.
TEST_F(shared, lock_between_processes) {
    auto lock = std::make_unique<csgl_sync_lock_shared>(key, csgl_action_create);
    const auto take = [this](child_process& me) {
        csgl_sync_lock_shared mine(key, csgl_action_open);
        mine.request();
        me.say("held");
        me.hear();
        mine.release();
    };
    {
        child_process holder(take);
        EXPECT_EQ(holder.hear(), "held");
        EXPECT_EQ(value('l'), 0);
        EXPECT_TRUE(lock->request(0));
        EXPECT_EQ(holder.end(SIGKILL), "signal 9");
        EXPECT_EQ(value('l'), 1);
    }
    EXPECT_FALSE(lock->request(0));
    {
        child_process waiter(take);
        until_waiting('l', 1);
        lock->release();
        EXPECT_EQ(waiter.hear(), "held");
        waiter.say("go");
        EXPECT_EQ(waiter.end(), "exit 0");
        EXPECT_EQ(value('l'), 1);
    }
    lock->request();
    child_process waiter(take);
    until_waiting('l', 1);
    lock.reset();
    EXPECT_EQ(waiter.hear(), "does_not_exist (EIDRM)");
    EXPECT_EQ(waiter.end(), "exit 1");
}

// Two creators at once: a child is stopped after it found no set (or no key
// file) and the parent creates it meanwhile.  The child then fails its
// exclusive creation of the set, looks again and opens the parent's set
// without touching its value; or it loses the creation of the key file.
TEST_F(shared, racing_creators) {
    for (const char* stop_in : {"stat", "semget"}) {
        child_process later([this, stop_in](child_process& me) {
            pause_child = &me, pause_function = stop_in;
            csgl_sync_lock_shared lock(key, csgl_action_create);
            me.say(std::to_string(set('l')) + " " + std::to_string(value('l')));
            me.hear();
        });
        EXPECT_EQ(later.hear(), "paused");
        csgl_sync_lock_shared lock(key, csgl_action_create);
        lock.request();  // an opener that set the value would free it
        later.say("go");
        if (!std::strcmp(stop_in, "stat")) {
            EXPECT_EQ(later.hear(), "already_exists (EEXIST)");
            EXPECT_EQ(later.end(), "exit 1");
            continue;
        }
        EXPECT_EQ(later.hear(), std::to_string(set('l')) + " 0");
        lock.release();
        EXPECT_EQ(value('l'), 1);
        later.say("go");
        EXPECT_EQ(later.end(), "exit 0");
    }
}

// In one process: states, every construction overwriting the state, the
// actions, and a lock on the same key file that is another set.
TEST_F(shared, sema_actions_and_states) {
    expect_thrown<exc_does_not_exist_t>(
        [&] { csgl_sync_sema_shared sema(key, csgl_action_open, posted); },
        "does_not_exist (ENOENT)", 0x20030023);
    {
        csgl_sync_sema_shared sema(key, csgl_action_create, reset);
        csgl_sync_lock_shared lock(key, csgl_action_create);
        EXPECT_NE(set('s'), set('l'));
        EXPECT_EQ(value('s'), 1);
        EXPECT_TRUE(sema.wait(0));
        sema.post();
        EXPECT_EQ(value('s'), 0);
        sema.wait();
        sema.post();
        EXPECT_FALSE(sema.wait(0));
        expect_only_timeout_0([&](long timeout) { sema.wait(timeout); });
        { csgl_sync_sema_shared opened(key, csgl_action_open, reset); }
        EXPECT_TRUE(sema.wait(0));
        { csgl_sync_sema_shared other(key, other_action, posted); }
        EXPECT_FALSE(sema.wait(0));
        sema.reset();
        sema.reset();
        EXPECT_EQ(value('s'), 1);
        EXPECT_EQ(value('l'), 1);
    }
    EXPECT_EQ(set('s'), -1);
    { csgl_sync_sema_shared other(key, other_action, posted); }  // creates, never removes
    EXPECT_EQ(value('s'), 0);
}

// A state set in one process is the state of all; one post lets every
// waiting process through; removal fails a pending wait.
TEST_F(shared, sema_between_processes) {
    auto sema = std::make_unique<csgl_sync_sema_shared>(key, csgl_action_create, reset);
    {
        child_process opener([this](child_process& me) {
            csgl_sync_sema_shared mine(key, csgl_action_open, posted);
            me.say(mine.wait(0) ? "reset" : "posted");
        });
        EXPECT_EQ(opener.hear(), "posted");
        EXPECT_EQ(opener.end(), "exit 0");
    }
    EXPECT_FALSE(sema->wait(0));
    sema->reset();
    const auto wait = [this](child_process& me) {
        csgl_sync_sema_shared mine(key, csgl_action_open, reset);
        mine.wait();
        me.say("passed");
    };
    {
        child_process first(wait), second(wait), third(wait);
        until_waiting('s', 3);
        sema->post();
        for (child_process* waiter : {&first, &second, &third}) {
            EXPECT_EQ(waiter->hear(), "passed");
            EXPECT_EQ(waiter->end(), "exit 0");
        }
    }
    sema->reset();
    child_process waiter(wait);
    until_waiting('s', 1);
    sema.reset();
    EXPECT_EQ(waiter.hear(), "does_not_exist (EIDRM)");
    EXPECT_EQ(waiter.end(), "exit 1");
}

}  // namespace
