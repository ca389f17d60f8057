#include "libutils/csgl/csgl_sync.hpp"

#include <cerrno>

#include "libutils/csgl/csgl_exc.hpp"

namespace {

void throw_should_not_execute(int line) {
    exc_throw(exc_should_not_execute_t(__FILE__, line, "exc_should_not_execute", 0));
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
    throw_should_not_execute(__LINE__);
    return true;
}

void csgl_sync_lock::request() { throw_should_not_execute(__LINE__); }

void csgl_sync_lock::release() { throw_should_not_execute(__LINE__); }

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

csgl_sync_monitor::csgl_sync_monitor(csgl_sync_lock& lock) : cstr_class(1), lock_(lock) {
    if (trcEvents & cstr_event_objects) {
        cstr_fun(cstr_type_created).new_delete(0x14140000, this, "%p", static_cast<void*>(&lock));
    }
    lock_.request();
}

csgl_sync_monitor::~csgl_sync_monitor() noexcept(false) { lock_.release(); }

csgl_sync_value::csgl_sync_value(long initial) : cstr_class(1), value_(initial) {
    if (trcEvents & cstr_event_objects) {
        cstr_fun(cstr_type_created).new_delete(0x14110000, this, "%ld", initial);
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
