// Synchronisation of the support library: the abstract lock, the
// process-private and process-shared locks, the scope guard that holds any
// lock, the two-state semaphores (events) of either scope, and the locked
// counter that reference counts are kept in.
//
// No synchronisation object can be copied or assigned.  Every failure of a
// system or thread call is thrown as an exception of the library's tree
// (libutils/csgl/csgl_exc.hpp), carrying this unit's source file and line;
// nothing is retried, an interrupted wait included.
//
// The process-shared objects are System V semaphore sets of one semaphore,
// permission 0777, found through a key file: every process that names the
// same file reaches the same set.  A missing key file is created empty and
// never removed by the library.  A set outlives the processes that use it;
// only the destructor of an object built with csgl_action_create removes it,
// after which other processes' operations on it throw.
#ifndef LIBUTILS_CSGL_CSGL_SYNC_HPP
#define LIBUTILS_CSGL_CSGL_SYNC_HPP

#include <pthread.h>

#include "libutils/base/thread_annotations.h"
#include "libutils/csgl/csgl_ban.hpp"
#include "libutils/cstr/cstr.hpp"

// The one timeout that means "wait for ever"; no timed operation of the
// library accepts it (only 0, "do not wait", is accepted).
const long csgl_timeout_infinite = -1;

// How a process-shared object is reached.  Another value opens like
// csgl_action_open for the shared lock, and creates a missing set without
// ever removing it for the shared semaphore.
enum csgl_action_indicator {
    csgl_action_create = 1,  // open, creating if missing; removed by its destroyer
    csgl_action_open = 2     // open an existing object only; never removed
};

// Root of the synchronisation objects.
class TRANSYS_EXPORT csgl_sync : public csgl_ban_copy_and_assignment {
public:
    csgl_sync();
    virtual ~csgl_sync();
};

class TRANSYS_EXPORT csgl_sync_imp : public csgl_sync {
public:
    csgl_sync_imp();
    ~csgl_sync_imp() override;
};

// A lock.  The operations of this class itself refuse to run (they throw
// exc_should_not_execute_t); a derived lock overrides all three.
class TRANSYS_EXPORT TRANSYS_CAPABILITY("mutex") csgl_sync_lock : public csgl_sync_imp {
public:
    csgl_sync_lock();
    ~csgl_sync_lock() override;

    // Tries to take the lock without waiting; `timeout` must be 0.
    // Returns true when the lock was NOT taken, false when the caller holds it.
    virtual bool request(long timeout) TRANSYS_TRY_ACQUIRE(false);
    // Waits until the caller holds the lock.
    virtual void request() TRANSYS_ACQUIRE();
    // Gives the lock back.
    virtual void release() TRANSYS_RELEASE();
};

// A lock for the threads of one process: a POSIX mutex with default
// attributes, so not recursive; only the holding thread may release it.
class TRANSYS_EXPORT csgl_sync_lock_private
    : public csgl_sync_lock,
      public cstr_class<cstr_type(trace_kind_created), trace_event_objects,
                        trace_id_csgl_sync_lock_private, csgl_sync_lock_private> {
public:
    csgl_sync_lock_private();
    ~csgl_sync_lock_private() override;

    bool request(long timeout) override;
    void request() override;
    void release() override;

private:
    friend class csgl_sync_sema_private;  // waits on the mutex

    pthread_mutex_t mutex_;
};

// A lock for the processes of one machine: semaphore 0 of a System V set,
// value 1 when free and 0 when held.  Every operation goes through the
// kernel's undo record, so a process that ends while holding the lock gives
// it back.  Threads of one process may share it as well; the undo record is
// per process, so one thread may take the lock and another release it.
// A release is not checked: a surplus one raises the value above 1.
class TRANSYS_EXPORT csgl_sync_lock_shared
    : public csgl_sync_lock,
      public cstr_class<cstr_type(trace_kind_created), trace_event_objects,
                        trace_id_csgl_sync_lock_shared, csgl_sync_lock_shared> {
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
class TRANSYS_EXPORT TRANSYS_SCOPED_CAPABILITY csgl_sync_monitor
    : public csgl_ban_copy_and_assignment,
      public cstr_class<cstr_type(trace_kind_created), trace_event_objects,
                        trace_id_csgl_sync_monitor, csgl_sync_monitor> {
public:
    explicit csgl_sync_monitor(csgl_sync_lock& lock) TRANSYS_ACQUIRE(lock);
    ~csgl_sync_monitor() noexcept(false) TRANSYS_RELEASE();

private:
    csgl_sync_lock& lock_;
};

// A two-state event, which the library calls a semaphore: once posted it lets
// every waiter through until it is reset.  The operations of this class
// itself refuse to run (they throw exc_should_not_execute_t); a derived
// semaphore overrides all three.
class TRANSYS_EXPORT csgl_sync_sema : public csgl_sync_imp {
public:
    enum state_indicator {
        state_reset = 0,  // wait() blocks
        state_posted = 1  // wait() returns at once
    };

    csgl_sync_sema();
    ~csgl_sync_sema() override;

    // Moves to posted, releasing every current waiter.
    virtual void post();
    // Moves to reset; wakes nobody.
    virtual void reset();
    // Returns once the semaphore is posted.
    virtual void wait();
};

// A semaphore for the threads of one process: a state word guarded by a
// private lock, and a condition variable that post() broadcasts when it
// changes the state.  Any number of threads may use it at once.
//
// wait() looks at the state once, before it sleeps: a waiter woken by a
// post returns even if a reset came first, and so does one woken without a
// post.  Posting a posted semaphore changes nothing and wakes nobody.
class TRANSYS_EXPORT csgl_sync_sema_private
    : public csgl_sync_sema,
      public cstr_class<cstr_type(trace_kind_created), trace_event_objects,
                        trace_id_csgl_sync_sema_private, csgl_sync_sema_private> {
public:
    explicit csgl_sync_sema_private(state_indicator initial);
    ~csgl_sync_sema_private() override;

    void post() override;
    void reset() override;
    void wait() override;

private:
    csgl_sync_lock_private lock_;
    pthread_cond_t cond_;
    state_indicator state_ TRANSYS_GUARDED_BY(lock_);
};

// A semaphore for the processes of one machine: semaphore 0 of a System V
// set, value 0 when posted and 1 when reset; waiting is the kernel's
// wait-for-zero, so any number of processes pass while it is posted.
// Posting and resetting set the value outright (last writer wins) and
// nothing is undone when a process ends.
class TRANSYS_EXPORT csgl_sync_sema_shared
    : public csgl_sync_sema,
      public cstr_class<cstr_type(trace_kind_created), trace_event_objects,
                        trace_id_csgl_sync_sema_shared, csgl_sync_sema_shared> {
public:
    // Reaches the set of key file `name`, then sets it to `initial`, also
    // when the set already existed: every construction overwrites the state
    // the other processes see.  csgl_action_open only opens an existing set
    // and throws exc_does_not_exist_t when there is none; any other action
    // creates a missing set.  One key file may serve a shared lock and a
    // shared semaphore: their keys differ.
    csgl_sync_sema_shared(const char* name, csgl_action_indicator action, state_indicator initial);
    // Removes the set when built with csgl_action_create.
    ~csgl_sync_sema_shared() override;

    void post() override;
    void reset() override;
    void wait() override;
    // Looks without waiting; `timeout` must be 0.  Returns true when the
    // semaphore is NOT posted, false when it is.
    bool wait(long timeout);

private:
    int id_;
    const csgl_action_indicator action_;
};

// A `long` counter whose every step is serialised by a private lock; any
// number of threads may step it at once.  The value can only be read as the
// result of a step.
class TRANSYS_EXPORT csgl_sync_value
    : public cstr_class<cstr_type(trace_kind_created), trace_event_objects,
                        trace_id_csgl_sync_value, csgl_sync_value> {
public:
    explicit csgl_sync_value(long initial);
    ~csgl_sync_value();

    // Add (subtract) 1 and return the new value.
    long increment();
    long decrement();

private:
    csgl_sync_lock_private lock_;
    long value_ TRANSYS_GUARDED_BY(lock_);
};

#endif
