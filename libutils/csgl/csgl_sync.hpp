// Synchronisation of the support library: the abstract lock, the
// process-private and process-shared locks, the scope guard that holds any
// lock, and the locked counter that reference counts are kept in.
//
// No synchronisation object can be copied or assigned.  Every failure of a
// system or thread call is thrown as an exception of the library's tree
// (libutils/csgl/csgl_exc.hpp), carrying this unit's source file and line;
// nothing is retried, an interrupted wait included.
//
// The process-shared lock is a System V semaphore set of one semaphore,
// permission 0777, found through a key file: every process that names the
// same file reaches the same set.  A missing key file is created empty and
// never removed by the library.  A set outlives the processes that use it;
// only the destructor of an object built with csgl_action_create removes it,
// after which other processes' operations on it throw.
#ifndef LIBUTILS_CSGL_CSGL_SYNC_HPP
#define LIBUTILS_CSGL_CSGL_SYNC_HPP

#include <pthread.h>

#include "libutils/csgl/csgl_ban.hpp"
#include "libutils/cstr/cstr.hpp"

// The one timeout that means "wait for ever"; no timed operation of the
// library accepts it (only 0, "do not wait", is accepted).
const long csgl_timeout_infinite = -1;

// How a process-shared object is reached.  Another value opens like
// csgl_action_open for the shared lock.
enum csgl_action_indicator {
    csgl_action_create = 1,  // open, creating if missing; removed by its destroyer
    csgl_action_open = 2     // open an existing object only; never removed
};

// Root of the synchronisation objects.
class CSGL_EXPORT csgl_sync : public csgl_ban_copy_and_assignment {
public:
    csgl_sync();
    virtual ~csgl_sync();
};

class CSGL_EXPORT csgl_sync_imp : public csgl_sync {
public:
    csgl_sync_imp();
    ~csgl_sync_imp() override;
};

// A lock.  The operations of this class itself refuse to run (they throw
// exc_should_not_execute_t); a derived lock overrides all three.
class CSGL_EXPORT csgl_sync_lock : public csgl_sync_imp {
public:
    csgl_sync_lock();
    ~csgl_sync_lock() override;

    // Tries to take the lock without waiting; `timeout` must be 0.
    // Returns true when the lock was NOT taken, false when the caller holds it.
    virtual bool request(long timeout);
    // Waits until the caller holds the lock.
    virtual void request();
    // Gives the lock back.
    virtual void release();
};

// A lock for the threads of one process: a POSIX mutex with default
// attributes, so not recursive; only the holding thread may release it.
class CSGL_EXPORT csgl_sync_lock_private
    : public csgl_sync_lock,
      public cstr_class<35520512, 2048, 336723968, csgl_sync_lock_private> {
public:
    csgl_sync_lock_private();
    ~csgl_sync_lock_private() override;

    bool request(long timeout) override;
    void request() override;
    void release() override;

private:
    pthread_mutex_t mutex_;
};

// A lock for the processes of one machine: semaphore 0 of a System V set,
// value 1 when free and 0 when held.  Every operation goes through the
// kernel's undo record, so a process that ends while holding the lock gives
// it back.  Threads of one process may share it as well; the undo record is
// per process, so one thread may take the lock and another release it.
// A release is not checked: a surplus one raises the value above 1.
class CSGL_EXPORT csgl_sync_lock_shared
    : public csgl_sync_lock,
      public cstr_class<35520512, 2048, 336789504, csgl_sync_lock_shared> {
public:
    // Reaches the set of key file `name`.  csgl_action_create opens the set,
    // creating it free when missing; any other action only opens an existing
    // set and throws exc_does_not_exist_t when there is none.  An existing
    // set is used with the value it has.
    csgl_sync_lock_shared(const char* name, csgl_action_indicator action);
    // Removes the set when built with csgl_action_create, whoever created it.
    ~csgl_sync_lock_shared() override;

    bool request(long timeout) override;
    void request() override;
    void release() override;

private:
    int id_;
    const csgl_action_indicator action_;
};

// Holds a lock for the lifetime of a scope: requests it on construction and
// releases it on destruction, exceptions included.  The lock must outlive
// the monitor.
class CSGL_EXPORT csgl_sync_monitor
    : public csgl_ban_copy_and_assignment,
      public cstr_class<35520512, 2048, 336855040, csgl_sync_monitor> {
public:
    explicit csgl_sync_monitor(csgl_sync_lock& lock);
    ~csgl_sync_monitor() noexcept(false);

private:
    csgl_sync_lock& lock_;
};

// A `long` counter whose every step is serialised by a private lock; any
// number of threads may step it at once.  The value can only be read as the
// result of a step.
class CSGL_EXPORT csgl_sync_value
    : public cstr_class<35520512, 2048, 336658432, csgl_sync_value> {
public:
    explicit csgl_sync_value(long initial);
    ~csgl_sync_value();

    // Add (subtract) 1 and return the new value.
    long increment();
    long decrement();

private:
    csgl_sync_lock_private lock_;
    long value_;
};

#endif
