#include "tests/support/child_process.hpp"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "libutils/csgl/csgl_exc.hpp"

child_process::child_process(const std::function<void(child_process&)>& body) {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) throw std::runtime_error("pipe");
    const bool child = (pid_ = fork()) == 0;
    close(child ? up[0] : up[1]), close(child ? down[1] : down[0]);
    in_ = child ? down[0] : up[0], out_ = child ? up[1] : down[1];
    if (!child) return;
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

child_process::~child_process() {
    if (pid_ > 0) end(SIGKILL);
    close(in_), close(out_);
}

void child_process::say(const std::string& line) const {
    if (write(out_, (line + "\n").data(), line.size() + 1)) {}
}

std::string child_process::hear() const {
    std::string line;
    char c = 0;
    while (read(in_, &c, 1) == 1 && c != '\n') line += c;
    return c == '\n' ? line : line + "<end>";
}

std::string child_process::end(int signal) {
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
