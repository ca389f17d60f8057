// Synchronisation between processes: a shared lock and a shared semaphore
// found through one key file, and the private semaphore between threads.
#include <sys/wait.h>
#include <unistd.h>

#include <cassert>
#include <cstdlib>
#include <string>
#include <thread>

#include "libutils/csgl/csgl_sync.hpp"

int main() {
    char directory[] = "/tmp/sync-example.XXXXXX";
    assert(mkdtemp(directory) != nullptr);
    const std::string key = std::string(directory) + "/key";  // created on first use
    {
        // The creator removes the kernel objects when it is destroyed.
        csgl_sync_lock_shared lock(key.c_str(), csgl_action_create);
        csgl_sync_sema_shared started(key.c_str(), csgl_action_create,
                                      csgl_sync_sema::state_reset);
        lock.request();
        const pid_t child = fork();
        if (child == 0) {
            // The child opens the same objects and posts once it is running.
            csgl_sync_lock_shared same(key.c_str(), csgl_action_open);
            csgl_sync_sema_shared(key.c_str(), csgl_action_open, csgl_sync_sema::state_posted);
            const bool busy = same.request(0);  // the parent holds it: not taken
            std::_Exit(busy ? 0 : 1);
        }
        started.wait();  // returns once the child has posted
        int status = 0;
        assert(waitpid(child, &status, 0) == child && status == 0);
        lock.release();
    }

    // Between threads: a post wakes every waiter and lets later ones pass
    // until reset.
    csgl_sync_sema_private ready(csgl_sync_sema::state_reset);
    std::thread waiter([&] { ready.wait(); });
    ready.post();
    waiter.join();
    ready.wait();  // still posted
    ready.reset();

    assert(unlink(key.c_str()) == 0 && rmdir(directory) == 0);
    return 0;
}
