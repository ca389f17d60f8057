#include "libutils/csgl/csgl_sync.hpp"

#include <fcntl.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_exc_named.hpp"

namespace {

// Operations on semaphore 0 of a shared object's set.  The lock takes and
// gives a unit under the kernel's undo record; the semaphore waits for the
// value 0 without changing it.  The second entry of a pair does not wait.
const sembuf request_op[] = {{0, -1, SEM_UNDO}, {0, -1, SEM_UNDO | IPC_NOWAIT}};
const sembuf release_op[] = {{0, +1, SEM_UNDO}};
const sembuf wait_op[] = {{0, 0, 0}, {0, 0, IPC_NOWAIT}};

// semop takes its operations by a non-const pointer; it only reads them.
int apply(int id, const sembuf& op) {
    sembuf copy = op;
    return semop(id, &copy, 1);
}

// The fourth argument of semctl, which the caller has to declare.
union semctl_argument {
    int val;
    semid_ds* buf;
    unsigned short* array;
};

int set_value(int id, int value) {
    semctl_argument argument;
    argument.val = value;
    return semctl(id, 0, SETVAL, argument);
}

// The System V key of key file `name` for the kind of object `id` ('l' for
// a lock, 's' for a semaphore, so that one file can serve both).  A missing
// file is created empty; losing that creation to another process throws
// exc_already_exists_t.  Any other failure to look at the file is left to
// ftok, whose result is returned as it comes.
key_t file_to_key(const char* name, char id) {
    struct stat status;
    if (stat(name, &status) != 0 && errno == ENOENT) {
        // Nobody reads or writes the file; its permissions are those the
        // library gives every file it creates.
        const int fd = open(name, O_RDONLY | O_CREAT | O_EXCL | O_NOCTTY, 0640);
        if (fd == -1) exc_t::throw_posix_error(__FILE__, __LINE__, errno);
        close(fd);
    }
    return ftok(name, id);
}

void refuse_nonzero_timeout(long timeout, int line) {
    if (timeout != 0) exc_throw(exc_domain_overflow_t(__FILE__, line, "timeout must be 0", 0));
}

}  // namespace

csgl_sync::csgl_sync() {}
csgl_sync::~csgl_sync() {}

csgl_sync_imp::csgl_sync_imp() {}
csgl_sync_imp::~csgl_sync_imp() {}

csgl_sync_lock::csgl_sync_lock() {}
csgl_sync_lock::~csgl_sync_lock() {}

bool csgl_sync_lock::request(long) {
    exc_throw_named<exc_should_not_execute_t>(__FILE__, __LINE__);
    return true;
}

void csgl_sync_lock::request() { exc_throw_named<exc_should_not_execute_t>(__FILE__, __LINE__); }

void csgl_sync_lock::release() { exc_throw_named<exc_should_not_execute_t>(__FILE__, __LINE__); }

csgl_sync_lock_private::csgl_sync_lock_private() {
    const int result = pthread_mutex_init(&mutex_, nullptr);
    if (result != 0) exc_t::throw_posix_error(__FILE__, __LINE__, result);
}

csgl_sync_lock_private::~csgl_sync_lock_private() { pthread_mutex_destroy(&mutex_); }

bool csgl_sync_lock_private::request(long timeout) {
    refuse_nonzero_timeout(timeout, __LINE__);
    const int result = pthread_mutex_trylock(&mutex_);
    if (result == 0) return false;
    if (result == EBUSY) return true;
    exc_t::throw_posix_error(__FILE__, __LINE__, result);
    return true;
}

void csgl_sync_lock_private::request() {
    const int result = pthread_mutex_lock(&mutex_);
    if (result != 0) exc_t::throw_posix_error(__FILE__, __LINE__, result);
}

void csgl_sync_lock_private::release() {
    const int result = pthread_mutex_unlock(&mutex_);
    if (result != 0) exc_t::throw_posix_error(__FILE__, __LINE__, result);
}

csgl_sync_lock_shared::csgl_sync_lock_shared(const char* name, csgl_action_indicator action)
    : id_(-1), action_(action) {
    const key_t key = file_to_key(name, 'l');
    const bool may_create = action_ == csgl_action_create;
    bool created = false;
    // Another process may create the set between the look and the exclusive
    // creation; then look again.
    do {
        id_ = semget(key, 1, 0);
        if (id_ == -1 && errno == ENOENT && may_create) {
            id_ = semget(key, 1, IPC_CREAT | IPC_EXCL | 0777);
            created = id_ != -1;
        }
    } while (id_ == -1 && errno == EEXIST && may_create);
    if (id_ == -1) exc_t::throw_posix_error(__FILE__, __LINE__, errno);
    // The kernel creates the set at 0, held: whoever opens it meanwhile
    // waits until it is made free here.
    if (created && set_value(id_, 1) == -1) {
        const int error = errno;
        semctl(id_, 0, IPC_RMID);
        exc_t::throw_posix_error(__FILE__, __LINE__, error);
    }
}

csgl_sync_lock_shared::~csgl_sync_lock_shared() {
    if (action_ == csgl_action_create) semctl(id_, 0, IPC_RMID);
}

bool csgl_sync_lock_shared::request(long timeout) {
    refuse_nonzero_timeout(timeout, __LINE__);
    if (apply(id_, request_op[1]) == 0) return false;
    if (errno == EAGAIN) return true;
    exc_t::throw_posix_error(__FILE__, __LINE__, errno);
    return true;
}

void csgl_sync_lock_shared::request() {
    if (apply(id_, request_op[0]) == -1) exc_t::throw_posix_error(__FILE__, __LINE__, errno);
}

void csgl_sync_lock_shared::release() {
    if (apply(id_, release_op[0]) == -1) exc_t::throw_posix_error(__FILE__, __LINE__, errno);
}

csgl_sync_monitor::csgl_sync_monitor(csgl_sync_lock& lock) : cstr_class(1), lock_(lock) {
    if (trcEvents & trace_event_objects) {
        cstr_fun(cstr_type(trace_kind_created))
            .new_delete(trace_id_csgl_sync_monitor, this, "%p", static_cast<void*>(&lock));
    }
    lock_.request();
}

csgl_sync_monitor::~csgl_sync_monitor() noexcept(false) { lock_.release(); }

csgl_sync_sema::csgl_sync_sema() {}
csgl_sync_sema::~csgl_sync_sema() {}

void csgl_sync_sema::post() { exc_throw_named<exc_should_not_execute_t>(__FILE__, __LINE__); }

void csgl_sync_sema::reset() { exc_throw_named<exc_should_not_execute_t>(__FILE__, __LINE__); }

void csgl_sync_sema::wait() { exc_throw_named<exc_should_not_execute_t>(__FILE__, __LINE__); }

csgl_sync_sema_private::csgl_sync_sema_private(state_indicator initial) : state_(initial) {
    const int result = pthread_cond_init(&cond_, nullptr);
    if (result != 0) exc_t::throw_posix_error(__FILE__, __LINE__, result);
}

csgl_sync_sema_private::~csgl_sync_sema_private() { pthread_cond_destroy(&cond_); }

void csgl_sync_sema_private::post() {
    csgl_sync_monitor hold(lock_);
    if (state_ == state_posted) return;
    state_ = state_posted;
    const int result = pthread_cond_broadcast(&cond_);
    if (result != 0) exc_t::throw_posix_error(__FILE__, __LINE__, result);
}

void csgl_sync_sema_private::reset() {
    csgl_sync_monitor hold(lock_);
    state_ = state_reset;
}

void csgl_sync_sema_private::wait() {
    csgl_sync_monitor hold(lock_);
    if (state_ == state_posted) return;
    // One wait, whatever the state is on waking.
    const int result = pthread_cond_wait(&cond_, &lock_.mutex_);
    if (result != 0) exc_t::throw_posix_error(__FILE__, __LINE__, result);
}

csgl_sync_sema_shared::csgl_sync_sema_shared(const char* name, csgl_action_indicator action,
                                             state_indicator initial)
    : id_(-1), action_(action) {
    const key_t key = file_to_key(name, 's');
    id_ = semget(key, 1, action_ == csgl_action_open ? 0 : IPC_CREAT | 0777);
    if (id_ == -1) exc_t::throw_posix_error(__FILE__, __LINE__, errno);
    if (set_value(id_, initial == state_reset ? 1 : 0) == -1) {
        exc_t::throw_posix_error(__FILE__, __LINE__, errno);
    }
}

csgl_sync_sema_shared::~csgl_sync_sema_shared() {
    if (action_ == csgl_action_create) semctl(id_, 0, IPC_RMID);
}

void csgl_sync_sema_shared::post() {
    if (set_value(id_, 0) == -1) exc_t::throw_posix_error(__FILE__, __LINE__, errno);
}

void csgl_sync_sema_shared::reset() {
    if (set_value(id_, 1) == -1) exc_t::throw_posix_error(__FILE__, __LINE__, errno);
}

void csgl_sync_sema_shared::wait() {
    if (apply(id_, wait_op[0]) == -1) exc_t::throw_posix_error(__FILE__, __LINE__, errno);
}

bool csgl_sync_sema_shared::wait(long timeout) {
    refuse_nonzero_timeout(timeout, __LINE__);
    if (apply(id_, wait_op[1]) == 0) return false;
    if (errno == EAGAIN) return true;
    exc_t::throw_posix_error(__FILE__, __LINE__, errno);
    return true;
}

csgl_sync_value::csgl_sync_value(long initial) : cstr_class(1), value_(initial) {
    if (trcEvents & trace_event_objects) {
        cstr_fun(cstr_type(trace_kind_created))
            .new_delete(trace_id_csgl_sync_value, this, "%ld", initial);
    }
}

csgl_sync_value::~csgl_sync_value() {}

long csgl_sync_value::increment() {
    csgl_sync_monitor hold(lock_);
    return ++value_;
}

long csgl_sync_value::decrement() {
    csgl_sync_monitor hold(lock_);
    return --value_;
}
