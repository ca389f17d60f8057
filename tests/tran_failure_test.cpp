// What the transaction system does when the process lets it down, and
// when it lets the system mutex go.  This program replaces the global
// allocation functions and stands in front of calloc, so that a chosen
// allocation fails, and in front of pthread_mutex_unlock, to see what was
// printed by the time the system mutex is released.  Tests run on one
// thread; the stand-ins forward to the process's own functions (the
// sanitizer's where there is one).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

// Allocations to let through before one fails; -1: none fails.
int news_before_failure = -1;
int nodes_before_failure = -1;
// The messages recorded when the system mutex was last released, while
// `watch_releases` is set.
bool watch_releases = false;
std::size_t messages_at_release = 0;

void* allocate(std::size_t size, int& before_failure) {
    if (before_failure >= 0 && before_failure-- == 0) return nullptr;
    return std::malloc(size != 0 ? size : 1);
}

}  // namespace

// The scalar forms, which the table's map and strings use; the array forms
// stay the process's own.
void* operator new(std::size_t size) {
    if (void* const p = allocate(size, news_before_failure)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, news_before_failure);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

extern "C" {

// The calloc of the sanitizer where one is loaded, the C library's otherwise.
void* __interceptor_calloc(std::size_t count, std::size_t size) __attribute__((weak));
void* __libc_calloc(std::size_t count, std::size_t size);

void* calloc(std::size_t count, std::size_t size) noexcept {
    if (count == 1 && size == sizeof(tran_api_conn_list) && nodes_before_failure >= 0 &&
        nodes_before_failure-- == 0)
        return nullptr;
    return __interceptor_calloc != nullptr ? __interceptor_calloc(count, size)
                                           : __libc_calloc(count, size);
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
    static int (*const unlock)(pthread_mutex_t*) = reinterpret_cast<int (*)(pthread_mutex_t*)>(
        dlsym(RTLD_NEXT, "pthread_mutex_unlock"));
    // The system mutex is the one inside the table.
    const void* const table = transys;
    if (watch_releases && mutex >= table && static_cast<const void*>(mutex + 1) <= transys + 1)
        messages_at_release = recorded_messages().size();
    return unlock(mutex);
}

}  // extern "C"

namespace {

TEST(failure, registration) {
    ASSERT_EQ(tran_api_system_init(), 0);
    host_session session;
    _Connection a{1, 0, nullptr}, b{2, 0, nullptr};
    watch_releases = true;
    messages_at_release = 99;
    news_before_failure = 0;  // the map node
    EXPECT_EQ(tran_api_create_transaction(&a), 80);
    news_before_failure = -1;
    ASSERT_EQ(messages_at_release, 0u);  // the mutex was released
    EXPECT_STREQ(tran_api_system_err(),
                 "tran_system::insert_tran: Internal error . exception thrown from map");
    EXPECT_TRUE(transys->pool().empty());
    EXPECT_EQ(tran_api_create_transaction(&a), 0);
    // Message 153 is printed once the mutex is released.
    tran_api_set_maxnum(1);
    messages_at_release = 99;
    EXPECT_EQ(tran_api_create_transaction(&b), 4);
    watch_releases = false;
    EXPECT_EQ(recorded_messages().size(), 1u);
    EXPECT_EQ(messages_at_release, 0u);
    tran_api_set_maxnum(20);
    EXPECT_EQ(tran_api_delete_transaction(1), 0);
}

TEST(failure, sweep_without_a_list_node_removes_nothing) {
    ASSERT_EQ(tran_api_system_init(), 0);
    for (const unsigned int events : {0u, 0x4000000u}) {
        host_session session(events);
        _Connection a{1, 0, nullptr}, b{2, 0, nullptr};
        ASSERT_EQ(tran_api_create_transaction(&a), 0);
        ASSERT_EQ(tran_api_create_transaction(&b), 0);
        nodes_before_failure = 1;  // the first node is made, the second is not
        EXPECT_EQ(tran_api_timeout_transactions(2000), nullptr);
        nodes_before_failure = -1;
        EXPECT_EQ(transys->pool().size(), 2u);
        // With bit 0x4000000 the sweep leaves its debug text.
        const char text[] = "tran_api_conn_list_new failed!\n";
        using traces = std::vector<trace_record>;
        EXPECT_EQ(recorded_traces(),
                  (events ? traces{{0x03070000, 0x3C020D00, nullptr, true, text}} : traces{}));
        const std::vector<debug_call> debugs = recorded_debugs();
        ASSERT_EQ(debugs.size(), events ? 1u : 0u);
        EXPECT_TRUE(debugs.empty() || (debugs[0].level == 0xC8110000 && debugs[0].text == text));
        tran_api_delete_transaction(1);
        tran_api_delete_transaction(2);
    }
}

}  // namespace
