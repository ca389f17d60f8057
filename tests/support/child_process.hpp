// A forked child process that talks with the test in lines, through a pipe
// each way.  The child runs `body` and exits with status 0; an exception of
// the library ends it with the exception's text as its last line and status
// 1.  It never returns into the test program, dies with it, and dies on its
// own alarm after two minutes.  The object kills and reaps a child still
// running.
#ifndef TESTS_SUPPORT_CHILD_PROCESS_HPP
#define TESTS_SUPPORT_CHILD_PROCESS_HPP

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>

#include "libutils/csgl/csgl_exc.hpp"

class child_process {
public:
    explicit child_process(const std::function<void(child_process&)>& body) {
        int up[2] = {-1, -1}, down[2] = {-1, -1};
        const bool child = pipe(up) == 0 && pipe(down) == 0 && (pid_ = fork()) == 0;
        close(child ? up[0] : up[1]), close(child ? down[1] : down[0]);
        in_ = child ? down[0] : up[0], out_ = child ? up[1] : down[1];
        if (!child) return;
        prctl(PR_SET_PDEATHSIG, SIGKILL), std::signal(SIGALRM, SIG_DFL), alarm(120);
        try {
            body(*this), _exit(0);
        } catch (const exc_t& e) {
            say(e.message().msg_string()), _exit(1);
        }
    }
    ~child_process() { end(SIGKILL), close(in_), close(out_); }
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // Either side: a line to the other; the other's next line, with "<end>"
    // behind what came when the pipe closes first.
    void say(const std::string& line) const {
        if (write(out_, (line + "\n").data(), line.size() + 1)) {}
    }
    std::string hear() const {
        std::string line;
        char c = 0;
        while (read(in_, &c, 1) == 1 && c != '\n') line += c;
        return c == '\n' ? line : line + "<end>";
    }
    // The test: the child's end, after `signal` if one is given: "exit N" or
    // "signal N"; "<lost>" when there is no child (any more).
    std::string end(int signal = 0) {
        int status = 0;
        if (pid_ <= 0 || (signal && kill(pid_, signal)) || waitpid(pid_, &status, 0) != pid_)
            return "<lost>";
        pid_ = -1;
        return WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                 : "signal " + std::to_string(WTERMSIG(status));
    }

private:
    int pid_ = -1, in_ = -1, out_ = -1;
};

#endif
