#include "libtransys/tran_system.hpp"

#include <cerrno>
#include <tuple>

#include "host/message.h"
#include "libtransys/tran_api.h"

tran_system sys;
tran_system* transys = &sys;

namespace {

constexpr const char* not_initialised_text =
    "tran_system: the transaction system is not initialised\n";

// The last errors of system_lock and system_unlock.
constexpr const char* lock_missing_text =
    "tran_system::system_lock=>  the system mutex does not exist: "
    "tran_api_system_init was not called\n";
constexpr const char* lock_failed_text = "tran_system::system_lock=>  pthread_mutex_lock failed!\n";
constexpr const char* unlock_missing_text =
    "tran_system::system_unlock=>  the system mutex does not exist: "
    "tran_api_system_init was not called\n";
constexpr const char* unlock_failed_text =
    "tran_system::system_unlock=>  pthread_mutex_unlock failed!\n";

// The texts of the failures answered with 80, built when the library is
// loaded: the failure is most often the lack of memory, and answering it
// must not need any.
const csgl_string insert_failed_text(
    "tran_system::insert_tran: Internal error . exception thrown from map");
const csgl_string remove_failed_text(
    "tran_system::remove_tran: Internal error . exception thrown from map");

// The last error of a refused duplicate, built out of the way of a
// registration that succeeds.
__attribute__((noinline, cold)) void set_duplicate_err(tran_system& system,
                                                       const tran_connection& entry) {
    system.set_err(csgl_string("Duplicate StartTransactions with ") + entry.text() + " issued");
}

// The members defined in the header, taken here so that this unit emits an
// out-of-line copy of each for the library to export.
[[gnu::used]] const auto header_defined_members =
    std::make_tuple(&tran_system::initialised, &tran_system::set_maxop, &tran_system::maxop,
                    &tran_system::set_maxnum, &tran_system::maxnum, &tran_system::set_tlimit,
                    &tran_system::tlimit, &tran_system::err, &tran_system::pool);

}  // namespace

tran_system::tran_system() : maxop_(5), maxnum_(20), tlimit_(300), initialised_(false) {}

tran_system::~tran_system() {
    if (!initialised()) return;
    // The host may unload the library while it holds the mutex.  The trylock
    // makes sure the mutex is held whichever way, so the unlock releases a
    // held mutex before it is destroyed.
    pthread_mutex_trylock(&mutex_);
    pthread_mutex_unlock(&mutex_);
    pthread_mutex_destroy(&mutex_);
}

int tran_system::init() {
    if (initialised()) return TRAN_API_SUCCESS;
    if (pthread_mutex_init(&mutex_, nullptr) != 0) return TRAN_API_OPERATIONS_ERROR;
    initialised_.store(true, std::memory_order_release);
    return TRAN_API_SUCCESS;
}

// Defined ahead of their callers, so they expand into them.  The thread-
// safety analysis cannot see a POSIX mutex taken and released; these two
// are where it is, and their declarations say so to their callers.
inline int tran_system::lock_mutex() TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    const int result = pthread_mutex_lock(&mutex_);
    if (result != 0) set_err_text(lock_failed_text);
    return result;
}

inline int tran_system::unlock_mutex() TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    const int result = pthread_mutex_unlock(&mutex_);
    if (result != 0) set_err_text(unlock_failed_text);
    return result;
}

int tran_system::insert_tran(_Connection* conn) {
    if (!initialised()) {
        set_err_text(not_initialised_text);
        return TRAN_API_OPERATIONS_ERROR;
    }
    try {
        lock_mutex();
        // Read once, so the test and the message agree on the limit.
        const int limit = maxnum();
        if (limit != 0 &&
            static_cast<unsigned int>(pool_.size()) >= static_cast<unsigned int>(limit)) {
            set_err_text("The number of transaction exceeds limit\n");
            unlock_mutex();
            PrintMessage(TRAN_API_LIMIT_MESSAGE_SELECTOR1, TRAN_API_LIMIT_MESSAGE_SELECTOR2,
                         TRAN_API_LIMIT_MESSAGE, limit);
            return TRAN_API_SIZE_LIMIT_EXCEEDED;
        }
        const tran_connection entry(conn);
        // Stores the entry unless the id is registered already, which then
        // keeps the record it has.
        const bool stored = pool_.insert(table::value_type(tran_id(entry.id()), entry)).second;
        int result = TRAN_API_SUCCESS;
        if (!stored) {
            set_duplicate_err(*this, entry);
            result = TRAN_API_ENTRY_ALREADY_EXISTS;
        }
        unlock_mutex();
        return result;
    } catch (...) {
        set_err(insert_failed_text);
        unlock_mutex();
        return TRAN_API_OTHER;
    }
}

int tran_system::remove_tran(int id) {
    if (!initialised()) {
        set_err_text(not_initialised_text);
        return TRAN_API_OPERATIONS_ERROR;
    }
    try {
        lock_mutex();
        const table::iterator found = pool_.find(tran_id(id));
        if (found != pool_.end()) pool_.erase(found);
        unlock_mutex();
        return TRAN_API_SUCCESS;
    } catch (...) {
        set_err(remove_failed_text);
        unlock_mutex();
        return TRAN_API_OTHER;
    }
}

// Before init() there is no mutex to take and nothing to guard, which the
// analysis cannot know.
int tran_system::system_lock() TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    if (!initialised()) {
        set_err_text(lock_missing_text);
        return EINVAL;
    }
    return lock_mutex();
}

int tran_system::system_unlock() TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    if (!initialised()) {
        set_err_text(unlock_missing_text);
        return EINVAL;
    }
    return unlock_mutex();
}

void tran_system::set_err(const csgl_string& text) { err_ = text; }

void tran_system::set_err_text(const char* text) { set_err(csgl_string(text)); }

// Holds the mutex unless there is none yet (before init()) or taking it
// failed: a condition the analysis cannot follow into the destructor.
tran_system::pool_lock::pool_lock(tran_system& system) TRANSYS_NO_THREAD_SAFETY_ANALYSIS
    : system_(system),
      locked_(system.initialised() && system.system_lock() == 0) {}

tran_system::pool_lock::~pool_lock() TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    if (locked_) system_.system_unlock();
}
