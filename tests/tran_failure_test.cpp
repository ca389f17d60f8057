// Allocation failures inside the transaction system.  This program
// replaces the global allocation functions and interposes calloc, so that a
// chosen allocation fails: a registration whose map node or error text
// cannot be allocated is answered with 80, and a sweep whose list node
// cannot be allocated removes nothing, returns null and leaves its debug
// text.  Tests run on one thread; the allocators forward to the process's
// own (the sanitizer's where there is one) when not told to fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

// Allocations to let through before one fails; -1: none fails.
int news_before_failure = -1;
int nodes_before_failure = -1;
// List nodes handed out while a failure was pending.
std::vector<void*>* nodes_given = nullptr;

bool fail_now(int& before_failure) {
    if (before_failure < 0) return false;
    return before_failure-- == 0;
}

void* allocate(std::size_t size) { return std::malloc(size != 0 ? size : 1); }

}  // namespace

void* operator new(std::size_t size) {
    void* const p = fail_now(news_before_failure) ? nullptr : allocate(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return fail_now(news_before_failure) ? nullptr : allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

extern "C" {

// The calloc this program stands in front of: the sanitizer's where one is
// loaded, the C library's otherwise.
void* __interceptor_calloc(std::size_t count, std::size_t size) __attribute__((weak));
void* __libc_calloc(std::size_t count, std::size_t size);

void* calloc(std::size_t count, std::size_t size) noexcept {
    const bool node = count == 1 && size == sizeof(tran_api_conn_list);
    if (node && fail_now(nodes_before_failure)) return nullptr;
    void* const p = __interceptor_calloc != nullptr ? __interceptor_calloc(count, size)
                                                    : __libc_calloc(count, size);
    if (node && nodes_given != nullptr) nodes_given->push_back(p);
    return p;
}

}  // extern "C"

namespace {

class started_system : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(tran_api_system_init(), 0); }
};
::testing::Environment* const start = ::testing::AddGlobalTestEnvironment(new started_system);

char name_a[] = "client a";
char name_b[] = "client b";

const _Connection* registered(int id) {
    for (const auto& entry : transys->pool()) {
        if (entry.first.id() == id) return entry.second.conn();
    }
    return nullptr;
}

TEST(allocation_failure, registration_is_answered_with_80) {
    host_session session;
    _Connection a{1, 0, name_a};
    news_before_failure = 0;  // the map node
    EXPECT_EQ(tran_api_create_transaction(&a), 80);
    news_before_failure = -1;
    EXPECT_STREQ(tran_api_system_err(),
                 "tran_system::insert_tran: Internal error . exception thrown from map");
    EXPECT_TRUE(transys->pool().empty());
    // The handler released the mutex: the next registration goes through.
    EXPECT_EQ(tran_api_create_transaction(&a), 0);

    _Connection b{1, 0, name_b};
    news_before_failure = 0;  // the duplicate's error text
    EXPECT_EQ(tran_api_create_transaction(&b), 80);
    news_before_failure = -1;
    EXPECT_STREQ(tran_api_system_err(),
                 "tran_system::insert_tran: Internal error . exception thrown from map");
    EXPECT_EQ(registered(1), &a);
    EXPECT_EQ(tran_api_create_transaction(&b), 68);
    EXPECT_STREQ(tran_api_system_err(), "Duplicate StartTransactions with client b issued");
    EXPECT_EQ(tran_api_delete_transaction(1), 0);
    EXPECT_TRUE(transys->pool().empty());
}

std::string hex(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
    return text;
}

std::string code_bytes(std::int32_t code) {
    return std::string(reinterpret_cast<const char*>(&code), 4);
}

// The records of a sweep at time 2000 whose second list node cannot be
// allocated: the first node is made and put in the list, the second
// allocation fails, the debug text follows (bit 26), and the list built so
// far is released.  `head` is the sweep's list head variable.
std::vector<trace_record> failed_sweep_records(unsigned int events, const _Connection* first,
                                               const _Connection* second, const void* node,
                                               const std::string& head) {
    const bool entries = events & 0x1000, exits = events & 0x3000;
    std::vector<trace_record> records;
    const auto call = [&](unsigned long id, const std::string& text) {
        if (entries) records.push_back({0x03200000, id, nullptr, true, text});
        if (exits) records.push_back({0x03210000, id, nullptr, true, code_bytes(0)});
    };
    if (entries) records.push_back({0x03200000, 0x3C020D00, nullptr, true, "current time 2000"});
    call(0x3C020E00, "connection " + hex(first));
    call(0x3C021000, "head " + head + ", node " + hex(node));
    call(0x3C020E00, "connection " + hex(second));
    if (events & 0x4000000) {
        records.push_back(
            {0x03070000, 0x3C020D00, nullptr, true, "tran_api_conn_list_new failed!\n"});
    }
    call(0x3C020F00, "List head " + hex(node));
    if (exits) records.push_back({0x03210000, 0x3C020D00, nullptr, true, code_bytes(0)});
    return records;
}

TEST(allocation_failure, sweep_without_a_list_node_removes_nothing) {
    for (const unsigned int events : {0u, 0x3000u, 0x4000000u, 0x4003000u}) {
        host_session session;
        _Connection a{1, 0, name_a}, b{2, 0, name_b};
        ASSERT_EQ(tran_api_create_transaction(&a), 0);
        ASSERT_EQ(tran_api_create_transaction(&b), 0);
        std::vector<void*> nodes;
        nodes_given = &nodes;
        nodes_before_failure = 1;
        trcEvents = events;
        EXPECT_EQ(tran_api_timeout_transactions(2000), nullptr);
        trcEvents = 0;
        nodes_before_failure = -1;
        nodes_given = nullptr;

        EXPECT_EQ(registered(1), &a);
        EXPECT_EQ(registered(2), &b);
        ASSERT_EQ(nodes.size(), 1u);
        std::string head = "?";
        for (const trace_record& r : recorded_traces()) {
            if (r.type == 0x03200000 && r.id == 0x3C021000) {
                head = r.data.substr(5, r.data.find(',') - 5);
            }
        }
        EXPECT_EQ(recorded_traces(), failed_sweep_records(events, &a, &b, nodes[0], head))
            << std::hex << events;
        const std::vector<debug_call> debugs = recorded_debugs();
        if (events & 0x4000000) {
            ASSERT_EQ(debugs.size(), 1u);
            EXPECT_EQ(debugs[0].level, 0xC8110000);
            EXPECT_EQ(debugs[0].text, "tran_api_conn_list_new failed!\n");
        } else {
            EXPECT_TRUE(debugs.empty());
        }
        // A later sweep that gets its memory removes both.
        tran_api_conn_list* const list = tran_api_timeout_transactions(2000);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->conn, &b);
        ASSERT_NE(list->next, nullptr);
        EXPECT_EQ(list->next->conn, &a);
        tran_api_conn_list_delete(list);
        EXPECT_TRUE(transys->pool().empty());
    }
}

}  // namespace
