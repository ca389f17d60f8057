// Allocation failures.  This program replaces the allocation functions so
// that, once armed with N, the Nth allocation fails (that one only).  For
// every operation of the library that allocates, N walks from 1 until the
// operation runs through without a failure, and at each N the documented
// outcome is checked: exc_not_enough_memory_t in the support library, 80
// with its text, the mutex released and the table unchanged for the
// transaction table, null and nothing removed for the sweep.  Leaks are
// LeakSanitizer's to find (the asan configuration runs this program).
//
// The host's trace and message services are defined here without
// allocating, so the allocations counted are the library's own, and the
// system mutex is watched on its way through pthread_mutex_lock/unlock.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"
#include "libutils/csgl/csgl_file.hpp"
#include "libutils/csgl/csgl_local.hpp"
#include "libutils/csgl/csgl_output.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

long countdown = -1;  // allocations to let through before one fails; -1: none fails
bool failure_injected = false;

// Whether the allocation at hand is the one to fail.
bool fails_now() { return countdown >= 0 && countdown-- == 0 && (failure_injected = true); }

// The system mutex is the one inside the table; how often this thread holds it.
int system_mutex_depth = 0;
bool is_system_mutex(const pthread_mutex_t* mutex) {
    return mutex >= static_cast<const void*>(transys) && static_cast<const void*>(mutex + 1) <= transys + 1;
}

// What the host received: messages printed (and whether the system mutex
// was held then), and the last debug text.
int messages_printed = 0;
bool message_under_mutex = false;
char last_debug[256];

long frees = 0;              // calls of free
int destroy_result = -1;     // what the last pthread_mutex_destroy answered

// The next definition of a function this program replaces.
template <class F>
F* next_symbol(const char* name) { return reinterpret_cast<F*>(dlsym(RTLD_NEXT, name)); }

}  // namespace

extern "C" {

// The host's trace event mask is defined here as well as in the stand-in.
const char* __asan_default_options() { return "detect_odr_violation=0"; }

// The sanitizer's allocator where one is loaded, the C library's otherwise.
void* __interceptor_malloc(std::size_t size) __attribute__((weak));
void* __interceptor_calloc(std::size_t count, std::size_t size) __attribute__((weak));
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void __interceptor_free(void* p) __attribute__((weak));
void __libc_free(void* p);

void* malloc(std::size_t size) noexcept {
    if (fails_now()) return nullptr;
    size += size == 0;
    return __interceptor_malloc != nullptr ? __interceptor_malloc(size) : __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    if (fails_now()) return nullptr;
    return __interceptor_calloc != nullptr ? __interceptor_calloc(count, size) : __libc_calloc(count, size);
}

void free(void* p) noexcept {
    ++frees;
    __interceptor_free != nullptr ? __interceptor_free(p) : __libc_free(p);
}

int pthread_mutex_destroy(pthread_mutex_t* mutex) {
    static const auto destroy = next_symbol<int(pthread_mutex_t*)>("pthread_mutex_destroy");
    return destroy_result = destroy(mutex);
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    static const auto lock = next_symbol<int(pthread_mutex_t*)>("pthread_mutex_lock");
    const int result = lock(mutex);
    system_mutex_depth += result == 0 && is_system_mutex(mutex);
    return result;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
    static const auto unlock = next_symbol<int(pthread_mutex_t*)>("pthread_mutex_unlock");
    system_mutex_depth -= is_system_mutex(mutex);
    return unlock(mutex);
}

unsigned int trcEvents = 0;
int trcInit(void) { return 0; }
int trcWriteRec(unsigned long, unsigned long, const void*, unsigned long, const void*,
                unsigned long, unsigned long, unsigned long, unsigned long) { return 0; }
int PrintMessage(int, int, int, ...) {
    return ++messages_printed, message_under_mutex = system_mutex_depth != 0, 0;
}
int getPrintedMessage(char* buffer, unsigned int capacity, int, int, int, ...) {
    return std::snprintf(buffer, capacity, "printed"), 0;
}
int PrintDebugVa(unsigned long, const char* format, va_list args) {
    return std::vsnprintf(last_debug, sizeof last_debug, format, args), 0;
}

}  // extern "C"

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return malloc(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return malloc(size); }
void* operator new(std::size_t size) {
    if (void* const p = operator new(size, std::nothrow)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// One operation of the library: `prepare` sets the scene (nothing fails
// there), `run` does the operation, `check` looks at the outcome, knowing
// whether an allocation failed.
struct operation { const char* name; std::function<void()> prepare, run; std::function<void(bool failed)> check; };

// Walks N from 1 until `op` runs without a failure; returns the number of
// allocations it made, each of which was made to fail once.
long walk(const operation& op) {
    for (long n = 1;; ++n) {
        if (op.prepare) op.prepare();
        failure_injected = false, countdown = n - 1;
        op.run(), countdown = -1;
        op.check(failure_injected);
        if (!failure_injected) {
            std::printf("%-44s %2ld allocation sites, each failed once\n", op.name, n - 1);
            return n - 1;
        }
        if (testing::Test::HasFailure()) {
            ADD_FAILURE() << op.name << ": wrong outcome with allocation " << n << " failing";
            return n;
        }
    }
}

// Runs `body`, which may throw exc_not_enough_memory_t only, with its
// documented text and code; returns whether it did.
bool throws_memory_exception(const std::function<void()>& body) {
    try {
        body();
    } catch (const exc_not_enough_memory_t& e) {
        countdown = -1;  // the text is read without failures
        EXPECT_STREQ(e.message().msg_string(), "not enough memory");
        EXPECT_EQ(e.error, 0x20000001u);
        return true;
    }
    return false;
}

// Support-library operations: each either completes or throws
// exc_not_enough_memory_t, and leaves what it was given unchanged.
TEST(allocation_failure, support_library) {
    const temp_dir dir;
    const std::string from = dir / "from", to = dir / "to";
    write_file(from, std::string(20000, 'x'));
    csgl_string kept;  // "kept" before each run; what it must hold after one that completed
    const struct {
        const char* name;
        std::function<void()> body;
        const char* kept_after = "kept";
        std::function<void(bool)> check = nullptr;  // anything else to check
    } operations[] = {
        {"string from a text", [] { csgl_string s("text"); }},
        {"string + text", [&] { kept = kept + "!"; }, "kept!"},
        {"string + character", [&] { kept = kept + '!'; }, "kept!"},
        {"text + string", [&] { csgl_string s = "!" + kept; }},
        {"message with markers", [] { csgl_message m("[v[=v=V=v=]v] x [p[p]p]", 0, "f", 1); }},
        {"exception", [] { exc_invalid_parameter_t e("f", 1, "bad [p[p]p]", 0); }},
        {"local array", [] { csgl_local_array_of<char> a(64); }},
        {"string stream", [&] { csgl_output_str out(kept); out << '!'; }, "kept!"},
        {"file stream printing numbers and exceptions",
         [&] {
             csgl_output_file out(to.c_str(), csgl_output_file::mode_truncate);
             out << 12345 << -6789L << exc_t("f", 1, "text", 2, 0);
         },
         "kept", [&](bool failed) { EXPECT_TRUE(failed || read_file(to) == "12345-6789exc 'f' 1 2 'text'"); }},
        {"canonize", [] { csgl_file::canonize("relative"); }},
        {"copy", [&] { csgl_file::copy(from.c_str(), to.c_str(), csgl_file::force); }, "kept",
         [&](bool failed) { EXPECT_EQ(read_file(to), failed ? "" : std::string(20000, 'x')); }},
    };
    for (const auto& op : operations) {
        bool thrown = false;
        const auto check = [&](bool failed) {
            EXPECT_EQ(thrown, failed);
            EXPECT_STREQ(kept, failed ? "kept" : op.kept_after);
            if (op.check) op.check(failed);
        };
        EXPECT_GT(walk({op.name, [&] { kept = "kept"; }, [&] { thrown = throws_memory_exception(op.body); }, check}), 0);
    }
}

// The ids registered, read holding the system mutex, under which alone the
// table changes.
std::string table_ids() {
    std::string ids;
    const tran_system::pool_lock hold(*transys);
    for (const auto& entry : transys->pool()) ids += std::to_string(entry.first.id()) + " ";
    return ids;
}

// Transaction operations: 80 and the table unchanged for a registration,
// null and nothing removed for a sweep; the system mutex is always released.
TEST(allocation_failure, transactions) {
    ASSERT_EQ(tran_api_system_init(), TRAN_API_SUCCESS);
    char names[] = "a\0b\0c";
    _Connection a{1, 0, names}, b{2, 0, names + 2}, c{3, 0, names + 4};
    int result = -1;
    tran_api_conn_list* list = nullptr;
    const char* const insert_failed = "tran_system::insert_tran: Internal error . exception thrown from map";
    const auto clear = [] {
        for (int id : {1, 2, 3}) tran_api_delete_transaction(id);
        tran_api_set_maxnum(20), tran_api_set_err("before"), messages_printed = 0;
    };
    // Registrations with `a` registered answer `code` with `text` and leave the
    // table as `ids` when nothing fails, 80 and the table
    // unchanged when something does; a refusal prints the limit message once
    // the mutex is free.
    const struct { const char* name; _Connection* conn; int limit, code; const char *text, *ids; }
        registrations[] = {
        {"registration", &b, 20, 0, "before", "1 2 "},
        {"registration of a registered id", &a, 20, 68, "Duplicate StartTransactions with a issued", "1 "},
        {"registration over the limit", &b, 1, 4, "The number of transaction exceeds limit\n", "1 "}};
    for (const auto& r : registrations) {
        walk({r.name, [&] { clear(), tran_api_create_transaction(&a), tran_api_set_maxnum(r.limit); },
              [&] { result = tran_api_create_transaction(r.conn); },
              [&](bool failed) {
                  EXPECT_EQ(system_mutex_depth, 0);
                  EXPECT_EQ(result, failed ? 80 : r.code);
                  EXPECT_STREQ(tran_api_system_err(), failed ? insert_failed : r.text);
                  EXPECT_EQ(table_ids(), failed ? "1 " : r.ids);
                  EXPECT_EQ(messages_printed, !failed && r.code == 4);
                  EXPECT_FALSE(message_under_mutex);
              }});
    }
    const operation operations[] = {
        {"removal", [&] { clear(), tran_api_create_transaction(&a); },
         [&] { result = tran_api_delete_transaction(1); },
         [&](bool) { EXPECT_EQ(std::to_string(result) + ": " + table_ids(), "0: "); }},
        {"last error", clear, [&] { result = throws_memory_exception([] { tran_api_set_err("after"); }); },
         [&](bool failed) {
             EXPECT_EQ(result, failed);
             EXPECT_STREQ(tran_api_system_err(), failed ? "before" : "after");
         }},
        {"list node", nullptr, [&] { list = tran_api_conn_list_new(&a); },
         [&](bool failed) {
             EXPECT_EQ(list == nullptr, failed);
             const long before = frees;
             tran_api_conn_list_delete(list);
             EXPECT_EQ(frees - before, failed ? 0 : 1);
         }},
    };
    for (const operation& op : operations) walk(op);

    // The sweep keeps room for the entries it takes from one sweep to the
    // next; one sweep of the three makes it, so the walk meets the nodes of
    // the list only.  A node that cannot be had ends the sweep with nothing
    // removed.
    clear();
    for (_Connection* conn : {&a, &b, &c}) tran_api_create_transaction(conn);
    tran_api_conn_list_delete(tran_api_timeout_transactions(1000));
    for (const unsigned int events : {0u, 0x4000000u}) {
        const operation sweep = {
            events ? "sweep, debug texts on" : "sweep",
            [&] {
                clear(), trcEvents = events, last_debug[0] = '\0';
                for (_Connection* conn : {&a, &b, &c}) tran_api_create_transaction(conn);
            },
            [&] { list = tran_api_timeout_transactions(1000); },
            [&](bool failed) {
                trcEvents = 0;
                EXPECT_EQ(system_mutex_depth, 0);
                EXPECT_EQ(list == nullptr, failed);
                EXPECT_EQ(table_ids(), failed ? "1 2 3 " : "");
                EXPECT_STREQ(last_debug, failed && events ? "tran_api_conn_list_new failed!\n" : "");
                tran_api_conn_list_delete(list);
            }};
        EXPECT_EQ(walk(sweep), 3);
    }
    // A table larger than any swept before needs more room; without it the
    // sweep removes the same entries, searching them by id.
    clear();
    tran_api_set_maxnum(0);
    std::vector<_Connection> many(64, _Connection{0, 0, names});
    for (int id = 0; id < 64; ++id) many[id].conn_id = 100 + id, tran_api_create_transaction(&many[id]);
    countdown = 0, failure_injected = false;
    list = tran_api_timeout_transactions(1000);
    EXPECT_TRUE(failure_injected);
    countdown = -1;
    int listed = 0;  // in descending id
    for (const tran_api_conn_list* node = list; node != nullptr; node = node->next, ++listed)
        EXPECT_EQ(node->conn, &many[63 - listed]);
    EXPECT_EQ(std::to_string(listed) + ": " + table_ids(), "64: ");
    tran_api_conn_list_delete(list);
    clear();
}

// The table's mutex is destroyed free, whether the host held it or not
// when the table went away.
void hold(tran_system& table) TRANSYS_NO_THREAD_SAFETY_ANALYSIS { table.system_lock(); }

TEST(system_mutex, destroyed_free_held_or_not) {
    for (const bool held : {false, true}) {
        {
            tran_system own;
            ASSERT_EQ(own.init(), TRAN_API_SUCCESS);
            if (held) hold(own);
        }
        EXPECT_EQ(destroy_result, 0) << held;
    }
}

}  // namespace
