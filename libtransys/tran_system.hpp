// The transaction table: the process-wide record of which connections have
// a transaction open, with the limits the server configures, the text of
// the last error and the system mutex.
//
// There is one table, `sys`, constructed when the library is loaded and
// reached through `transys`.  The table keys each transaction by its
// connection id, so a connection has at most one; it holds pointers to the
// host's connection records and owns none of them.
//
// Results are the LDAP result codes of the C interface (enum tran_api_result
// of libtransys/tran_api.h).  Exceptions raised while the map changes are
// answered with TRAN_API_OTHER and never reach the caller.
//
// The class is part of the library's interface: a host may call the
// members of `sys` through `transys`, or build a table of its own (a test
// harness does).  The members defined here in the header are exported as
// well, so that each has one address in the process.
//
// Thread rules: the map changes only under the system mutex, which is not
// recursive; a thread holding it (through system_lock) must not register,
// remove or sweep.  The limits are atomics read and written without a lock.
// The last error is written while the mutex is held (by the failing
// registration), except for the failures that have no mutex to hold (the
// lock calls themselves, and use before init); reading it while another
// thread may replace it is the host's to serialise.
//
// Before init() there is no mutex, and the table refuses to change rather
// than touch one that does not exist:
//  - insert_tran and remove_tran return TRAN_API_OPERATIONS_ERROR and set
//    the last error to "tran_system: the transaction system is not
//    initialised\n";
//  - system_lock and system_unlock return EINVAL and set the last error to
//    a text saying that the system mutex does not exist;
//  - the limits, the last error and a walk of the (then always empty) map
//    work as usual.
// A second init() keeps the mutex it created first, since other threads may
// be using it, and returns TRAN_API_SUCCESS.
#ifndef LIBTRANSYS_TRAN_SYSTEM_HPP
#define LIBTRANSYS_TRAN_SYSTEM_HPP

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <map>

#include "host/connection.h"
#include "libtransys/tran_connection.hpp"
#include "libtransys/tran_id.hpp"
#include "libutils/base/export.h"
#include "libutils/base/thread_annotations.h"
#include "libutils/csgl/csgl_string.hpp"

// The system mutex: a POSIX mutex, which the thread-safety analysis knows as
// a lock by this name.
typedef pthread_mutex_t tran_system_mutex TRANSYS_CAPABILITY("mutex");

class TRANSYS_EXPORT tran_system {
public:
    using table = std::map<tran_id, tran_connection>;

    // Limits 5 (operations), 20 (transactions) and 300 (time); no mutex yet.
    tran_system();
    // Releases and destroys the mutex if init() created it.
    ~tran_system();
    tran_system(const tran_system&) = delete;
    tran_system& operator=(const tran_system&) = delete;

    // Creates the system mutex: TRAN_API_SUCCESS, or
    // TRAN_API_OPERATIONS_ERROR when pthread_mutex_init fails.
    int init();
    TRANSYS_EXPORT bool initialised() const { return initialised_.load(std::memory_order_acquire); }

    // Registers a transaction for `conn`: TRAN_API_SUCCESS;
    // TRAN_API_SIZE_LIMIT_EXCEEDED when the table already holds the
    // transaction limit (checked first; the limit message is printed after
    // the mutex is released); TRAN_API_ENTRY_ALREADY_EXISTS when the
    // connection id is registered already (the registered record stays);
    // TRAN_API_OTHER on an exception; TRAN_API_OPERATIONS_ERROR before init().
    int insert_tran(_Connection* conn);
    // Removes the transaction of connection `id`: TRAN_API_SUCCESS (also
    // when there is none), TRAN_API_OTHER on an exception,
    // TRAN_API_OPERATIONS_ERROR before init().
    int remove_tran(int id);

    // 0, or the error number of the POSIX call (the last error names it).
    int system_lock() TRANSYS_ACQUIRE(mutex_);
    int system_unlock() TRANSYS_RELEASE(mutex_);

    // The operation limit, stored for the server and never consulted here.
    TRANSYS_EXPORT void set_maxop(int maxop) { maxop_.store(maxop, std::memory_order_relaxed); }
    TRANSYS_EXPORT int maxop() const { return maxop_.load(std::memory_order_relaxed); }
    // The transaction limit; 0 or a negative value means no limit.
    TRANSYS_EXPORT void set_maxnum(int maxnum) { maxnum_.store(maxnum, std::memory_order_relaxed); }
    TRANSYS_EXPORT int maxnum() const { return maxnum_.load(std::memory_order_relaxed); }
    // The time limit of the time-out sweep; 0 means no time-out.  Times are
    // 32-bit on every target: where long is wider, its upper half is not
    // kept.
    TRANSYS_EXPORT void set_tlimit(long tlimit) {
        tlimit_.store(static_cast<std::int32_t>(tlimit), std::memory_order_relaxed);
    }
    TRANSYS_EXPORT long tlimit() const { return tlimit_.load(std::memory_order_relaxed); }

    // The last error keeps its text until the next error or set_err.
    void set_err(const csgl_string& text);
    TRANSYS_EXPORT const csgl_string& err() const { return err_; }

    // The map itself.  Walk or change it only while holding the system
    // mutex (a `pool_lock`), as the library's own sweep does.
    TRANSYS_EXPORT table& pool() TRANSYS_REQUIRES(mutex_) { return pool_; }

    // Holds the system mutex for one walk or change of pool().  Before
    // init() there is no mutex and nothing to guard: the map is empty and
    // stays so.
    class TRANSYS_SCOPED_CAPABILITY pool_lock {
    public:
        explicit pool_lock(tran_system& system) TRANSYS_ACQUIRE(system.mutex_);
        ~pool_lock() TRANSYS_RELEASE();
        pool_lock(const pool_lock&) = delete;
        pool_lock& operator=(const pool_lock&) = delete;

    private:
        tran_system& system_;
        const bool locked_;
    };

private:
    // system_lock and system_unlock for callers that have found the system
    // initialised, which it stays: the POSIX call, and the last error when
    // it fails.  The private helpers stay out of the exported interface.
    __attribute__((visibility("hidden"))) int lock_mutex() TRANSYS_ACQUIRE(mutex_);
    __attribute__((visibility("hidden"))) int unlock_mutex() TRANSYS_RELEASE(mutex_);
    // set_err with a new string of `text`, kept out of the paths that
    // succeed.
    __attribute__((visibility("hidden"), noinline, cold)) void set_err_text(const char* text);

    std::atomic<int> maxop_;
    std::atomic<int> maxnum_;
    std::atomic<std::int32_t> tlimit_;
    std::atomic<bool> initialised_;
    table pool_ TRANSYS_GUARDED_BY(mutex_);
    tran_system_mutex mutex_;
    csgl_string err_;
};

// The one table of the process, and the pointer through which every
// function of the C interface reaches it (its address from the start).
TRANSYS_EXPORT extern tran_system sys;
TRANSYS_EXPORT extern tran_system* transys;

#endif
