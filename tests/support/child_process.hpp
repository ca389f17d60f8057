// A forked child process that talks with the test in lines, through a pipe
// each way.  The child runs `body` and exits with status 0; an exception of
// the library ends it with the exception's text as its last line and status
// 1.  It never returns into the test program, dies with it, and dies on its
// own alarm after two minutes.  The object kills and reaps a child still
// running.
#ifndef TESTS_SUPPORT_CHILD_PROCESS_HPP
#define TESTS_SUPPORT_CHILD_PROCESS_HPP

#include <sys/types.h>

#include <functional>
#include <string>

class child_process {
public:
    explicit child_process(const std::function<void(child_process&)>& body);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // Either side: a line to the other; the other's next line, with "<end>"
    // behind what came when the pipe closes or a wait is interrupted first.
    void say(const std::string& line) const;
    std::string hear() const;
    // The test: the child's end, after `signal` if one is given: "exit N" or
    // "signal N".  An interrupted wait kills the child.
    std::string end(int signal = 0);

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
};

#endif
