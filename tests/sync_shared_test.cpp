// The process-shared lock and semaphore between real processes: forked
// children open the same key file, take, hold and release the lock, post
// and wait on the semaphore, and report back in lines through a pipe.
//
// Each case owns a temporary directory with one key file; on the way out it
// removes the sets that file reaches, the file and the directory.  A hang
// fails the case instead of stalling: an alarm interrupts the parent's waits
// (System V waits are never restarted) and children die on their own alarm
// or with their parent.  The program stands in front of semget and stat, so
// that a child can be stopped between two steps of building an object.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_sync.hpp"
#include "tests/support/expect_failure.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

volatile std::sig_atomic_t hung = 0;

// Interrupts the wait at hand, and every later one, once the guard is up.
void on_alarm(int) {
    hung = 1;
    alarm(1);
}

// A forked child running `body`; an exception of the library ends it with
// the exception's text as its last line and status 1.  It never returns
// into the test program.  The object kills and reaps a child still running.
class child_process {
public:
    explicit child_process(const std::function<void(child_process&)>& body) {
        int up[2], down[2];
        if (pipe(up) != 0 || pipe(down) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            close(up[0]), close(down[1]);
            out_ = up[1], in_ = down[0];
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            std::signal(SIGALRM, SIG_DFL);
            alarm(120);
            int status = 0;
            try {
                body(*this);
            } catch (const exc_t& e) {
                say(e.message().msg_string());
                status = 1;
            }
            _exit(status);
        }
        close(up[1]), close(down[0]);
        in_ = up[0], out_ = down[1];
    }
    ~child_process() {
        if (pid_ > 0) end(SIGKILL);
        close(in_), close(out_);
    }
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // In the child: a line to the parent; the parent's word.
    void say(const std::string& line) const {
        if (write(out_, (line + "\n").data(), line.size() + 1)) {}
    }
    void await_word() const {
        char word;
        if (read(in_, &word, 1)) {}
    }

    // In the parent: the child's next line ("<end>" when there is none, or
    // on a hang); a word to the child; its end, after `signal` if one is
    // given: "exit N" or "signal N".
    std::string hear() const {
        std::string line;
        char c = 0;
        while (read(in_, &c, 1) == 1 && c != '\n') line += c;
        return c == '\n' ? line : line + "<end>";
    }
    void word() const {
        if (write(out_, "w", 1)) {}
    }
    std::string end(int signal = 0) {
        if (signal != 0) kill(pid_, signal);
        int status = 0;
        while (waitpid(pid_, &status, 0) == -1) {
            if (errno != EINTR) return "<lost>";
            kill(pid_, SIGKILL);  // hung
        }
        pid_ = -1;
        return WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                 : "signal " + std::to_string(WTERMSIG(status));
    }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
};

// In a child: the first semget or stat (as `pause_function` says) that
// finds nothing tells the parent "paused" and waits for its word.
const child_process* pause_child = nullptr;
const char* pause_function = "";

void pause_if_asked(const char* function, int result) {
    const int error = errno;
    if (result == -1 && error == ENOENT && pause_child && !std::strcmp(function, pause_function)) {
        const child_process* const child = std::exchange(pause_child, nullptr);
        child->say("paused");
        child->await_word();
    }
    errno = error;
}

}  // namespace

extern "C" {

int semget(key_t key, int count, int flags) noexcept {
    static const auto next = reinterpret_cast<int (*)(key_t, int, int)>(dlsym(RTLD_NEXT, "semget"));
    const int id = next(key, count, flags);
    pause_if_asked("semget", id);
    return id;
}

int stat(const char* __restrict name, struct stat* __restrict status) noexcept {
    static const auto next =
        reinterpret_cast<int (*)(const char*, struct stat*)>(dlsym(RTLD_NEXT, "stat"));
    const int result = next(name, status);
    pause_if_asked("stat", result);
    return result;
}

}  // extern "C"

namespace {

const auto other_action = static_cast<csgl_action_indicator>(3);
constexpr csgl_sync_sema::state_indicator reset = csgl_sync_sema::state_reset,
                                          posted = csgl_sync_sema::state_posted;

template <class Exc>
void expect_thrown(const std::function<void()>& operation, const char* text,
                   unsigned long error) {
    expect_failure<Exc>(operation, "libutils/csgl/csgl_sync.cpp", text, error);
}

class shared : public ::testing::Test {
protected:
    shared() : dir_(temporary_directory()), key_(dir_ + "/key") {
        struct sigaction action {};
        action.sa_handler = on_alarm;  // without SA_RESTART: waits end with EINTR
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, nullptr);
        std::signal(SIGPIPE, SIG_IGN);  // a word to a child that is gone is lost
        hung = 0;
        alarm(60);
    }
    ~shared() override {
        alarm(0);
        for (const char kind : {'l', 's'})
            if (const int id = set(kind); id != -1) semctl(id, 0, IPC_RMID);
        unlink(key);
        rmdir(dir_.c_str());
    }

    static std::string temporary_directory() {
        char name[] = "/tmp/csgl_sync_XXXXXX";
        if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp");
        return name;
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

    const std::string dir_, key_;
    const char* const key = key_.c_str();
};

TEST_F(shared, records) {
    host_session session(0x800);
    auto lock = std::make_unique<csgl_sync_lock_shared>(key, csgl_action_create);
    auto sema = std::make_unique<csgl_sync_sema_shared>(key, csgl_action_create, reset);
    const void *const l = lock.get(), *const s = sema.get();
    lock.reset();
    sema.reset();
    constexpr unsigned long created = 0x021E0000, destroyed = 0x021F0000;
    EXPECT_EQ(recorded_traces(),
              (std::vector<trace_record>{{created, 0x14130000, l, false, ""},
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
    struct stat status;
    ASSERT_EQ(stat(key, &status), 0);  // made by the first attempt, empty
    EXPECT_EQ(status.st_size, 0);
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
        for (const long timeout : {1L, csgl_timeout_infinite}) {
            expect_thrown<exc_domain_overflow_t>([&] { second.request(timeout); },
                                                 "timeout must be 0", 0x2003000F);
        }
        EXPECT_EQ(value('l'), 0);
        second.release();
        second.release();  // unchecked: the value goes above 1
        EXPECT_EQ(value('l'), 2);
        EXPECT_FALSE(first.request(0));
        EXPECT_EQ(value('l'), 1);
    }  // the second creator removes the set; the first one's removal fails
    EXPECT_EQ(set('l'), -1);
    EXPECT_EQ(stat(key, &status), 0);
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
        me.await_word();
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
        waiter.word();
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
    for (const std::string stop_in : {"stat", "semget"}) {
        child_process later([this, &stop_in](child_process& me) {
            pause_child = &me, pause_function = stop_in.c_str();
            csgl_sync_lock_shared lock(key, csgl_action_create);
            me.say(std::to_string(set('l')) + " " + std::to_string(value('l')));
            me.await_word();
        });
        EXPECT_EQ(later.hear(), "paused");
        csgl_sync_lock_shared lock(key, csgl_action_create);
        lock.request();  // an opener that set the value would free it
        later.word();
        if (stop_in == "stat") {
            EXPECT_EQ(later.hear(), "already_exists (EEXIST)");
            EXPECT_EQ(later.end(), "exit 1");
            continue;
        }
        EXPECT_EQ(later.hear(), std::to_string(set('l')) + " 0");
        lock.release();
        EXPECT_EQ(value('l'), 1);
        later.word();
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
        for (const long timeout : {2L, csgl_timeout_infinite}) {
            expect_thrown<exc_domain_overflow_t>([&] { sema.wait(timeout); }, "timeout must be 0",
                                                 0x2003000F);
        }
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
