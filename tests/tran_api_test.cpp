// The transaction table through the C interface: registration and removal,
// the limits, the last error, and the time-out sweep with its lists.
// Every case leaves the table empty and the limits at their defaults.
#include "libtransys/tran_api.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "libtransys/tran_system.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

// The server's start-up: the library is loaded with an empty last error,
// and init is called once.
class started_system : public ::testing::Environment {
public:
    void SetUp() override {
        EXPECT_STREQ(tran_api_system_err(), "");
        ASSERT_EQ(tran_api_system_init(), 0);
    }
};
::testing::Environment* const start = ::testing::AddGlobalTestEnvironment(new started_system);

const char limit_text[] = "The number of transaction exceeds limit\n";

std::vector<int> table_ids() {
    std::vector<int> ids;
    for (const auto& entry : transys->pool()) ids.push_back(entry.first.id());
    return ids;
}

// The connections of a list, first to last; the list is released.
std::vector<const _Connection*> take(tran_api_conn_list* list) {
    std::vector<const _Connection*> conns;
    for (const tran_api_conn_list* n = list; n != nullptr; n = n->next) conns.push_back(n->conn);
    tran_api_conn_list_delete(list);
    return conns;
}

class transactions : public ::testing::Test {
protected:
    void TearDown() override {
        for (const _Connection& c : conns_) tran_api_delete_transaction(c.conn_id);
        EXPECT_TRUE(transys->pool().empty());
        tran_api_set_maxop(5);
        tran_api_set_maxnum(20);
        tran_api_set_tlimit(300);
    }
    // A host connection record that outlives the case; its text is
    // "conn-<id>".
    _Connection* connection(int id, long stamp = 0) {
        texts_.push_back("conn-" + std::to_string(id));
        conns_.push_back(_Connection{id, stamp, &texts_.back()[0]});
        return &conns_.back();
    }
    // Registers connections 1..count and returns the codes.
    std::vector<int> register_ids(int count) {
        std::vector<int> codes;
        for (int id = 1; id <= count; ++id)
            codes.push_back(tran_api_create_transaction(connection(id)));
        return codes;
    }
    host_session session_;
    std::deque<std::string> texts_;
    std::deque<_Connection> conns_;
};

TEST_F(transactions, limits_default_and_take_any_value) {
    EXPECT_EQ(tran_api_system_maxop(), 5);
    EXPECT_EQ(tran_api_system_maxnum(), 20);
    EXPECT_EQ(tran_api_system_tlimit(), 300);
    for (const int value : {0, -7, INT_MAX, INT_MIN}) {
        tran_api_set_maxop(value);
        tran_api_set_maxnum(value);
        tran_api_set_tlimit(value);
        EXPECT_EQ(tran_api_system_maxop(), value);
        EXPECT_EQ(tran_api_system_maxnum(), value);
        EXPECT_EQ(tran_api_system_tlimit(), value);
    }
}

TEST_F(transactions, register_remove_and_duplicates) {
    tran_api_set_err("before");
    _Connection* const first = connection(3);
    EXPECT_EQ(tran_api_create_transaction(first), 0);
    EXPECT_EQ(tran_api_create_transaction(connection(3)), 68);
    EXPECT_STREQ(tran_api_system_err(), "Duplicate StartTransactions with conn-3 issued");
    // The record registered first stays.
    EXPECT_EQ(take(tran_api_timeout_transactions(1000)), std::vector<const _Connection*>{first});
    tran_api_set_err("kept");
    EXPECT_EQ(tran_api_create_transaction(first), 0);
    EXPECT_EQ(tran_api_delete_transaction(3), 0);
    EXPECT_EQ(tran_api_delete_transaction(3), 0);  // none is not an error
    EXPECT_EQ(tran_api_delete_transaction(-1), 0);
    EXPECT_STREQ(tran_api_system_err(), "kept");  // success keeps the text
    tran_api_set_err(nullptr);
    EXPECT_STREQ(tran_api_system_err(), "");
    tran_api_system_lock();
    tran_api_system_unlock();
    EXPECT_TRUE(recorded_messages().empty());
}

TEST_F(transactions, transaction_limit) {
    struct row {
        int limit, count;
        std::vector<int> codes;
    };
    std::vector<int> twenty_one(20, 0);
    twenty_one.push_back(4);
    const std::vector<row> rows = {
        {0, 25, std::vector<int>(25, 0)},
        {-1, 25, std::vector<int>(25, 0)},
        {INT_MIN, 25, std::vector<int>(25, 0)},
        {1, 2, {0, 4}},
        {3, 5, {0, 0, 0, 4, 4}},
        {20, 21, twenty_one},
    };
    for (const row& r : rows) {
        clear_recorded();
        tran_api_set_err("untouched");
        tran_api_set_maxnum(r.limit);
        EXPECT_EQ(register_ids(r.count), r.codes) << r.limit;
        // Each refusal sets the text and prints message 153 with the limit.
        const int refusals = r.limit > 0 ? r.count - r.limit : 0;
        EXPECT_STREQ(tran_api_system_err(), refusals ? limit_text : "untouched");
        const std::vector<message_call> messages = recorded_messages();
        ASSERT_EQ(messages.size(), static_cast<std::size_t>(refusals)) << r.limit;
        for (const message_call& m : messages) {
            EXPECT_EQ(
                std::vector<int>({m.printed, m.selector1, m.selector2, m.number, m.int_insert}),
                std::vector<int>({true, 0, 2, 153, r.limit}));
        }
        for (int id = 1; id <= r.count; ++id) tran_api_delete_transaction(id);
    }
}

TEST_F(transactions, limit_comes_before_duplicates_and_lowering_keeps_entries) {
    tran_api_set_maxnum(0);
    ASSERT_EQ(register_ids(3), std::vector<int>(3, 0));
    tran_api_set_maxnum(2);
    EXPECT_EQ(tran_api_create_transaction(connection(1)), 4);
    EXPECT_EQ(tran_api_create_transaction(connection(4)), 4);
    EXPECT_EQ(table_ids(), (std::vector<int>{1, 2, 3}));
    tran_api_delete_transaction(3);
    tran_api_delete_transaction(2);
    EXPECT_EQ(tran_api_create_transaction(connection(1)), 68);
    EXPECT_EQ(tran_api_create_transaction(connection(4)), 0);
}

TEST_F(transactions, second_init_keeps_the_table_working) {
    ASSERT_EQ(tran_api_create_transaction(connection(12)), 0);
    EXPECT_EQ(tran_api_system_init(), 0);
    EXPECT_EQ(table_ids(), std::vector<int>{12});
    EXPECT_EQ(tran_api_create_transaction(connection(12)), 68);
}

TEST_F(transactions, sweep_age_against_the_time_limit) {
    struct row {
        long tlimit, stamp, now;
        bool timed_out;
    };
    // 2^32 where long is wider than 32 bits: only the low 32 bits count.
    const long wide = static_cast<long>(std::int64_t{1} << 32);
    const std::vector<row> rows = {
        {300, 1000, 1300, false},  // an age equal to the limit stays
        {300, 1000, 1301, true},
        {300, 2000, 1000, false},               // stamped in the future
        {0, -2000000000L, 2000000000L, false},  // limit 0: never
        {-1, 1000, 1000, true},                 // a negative limit: age 0 is over it
        {-1, 1001, 1000, false},
        // A clock that wraps still gives small ages; a difference beyond
        // INT32_MAX wraps to a negative age.
        {300, INT32_MAX - 100L, INT32_MIN + 200L, true},
        {300, INT32_MAX - 100L, INT32_MIN + 199L, false},
        {300, 0, INT32_MAX, true},
        {300, -1, INT32_MAX, false},
        {300, wide + 1000, 1300, false},
        {300, wide + 1000, 2 * wide + 1301, true},
        {wide, 0, 1000000, false},
    };
    for (const row& r : rows) {
        tran_api_set_tlimit(r.tlimit);
        _Connection* const c = connection(77, r.stamp);
        ASSERT_EQ(tran_api_create_transaction(c), 0);
        EXPECT_EQ(
            take(tran_api_timeout_transactions(r.now)),
            r.timed_out ? std::vector<const _Connection*>{c} : std::vector<const _Connection*>{})
            << r.tlimit << " " << r.stamp << " " << r.now;
        EXPECT_EQ(table_ids(), r.timed_out ? std::vector<int>{} : std::vector<int>{77});
        tran_api_delete_transaction(77);
    }
}

TEST_F(transactions, sweep_returns_and_removes_in_descending_id) {
    host_session traced(0x1000);
    tran_api_set_maxnum(0);
    std::vector<const _Connection*> old;
    for (const int id : {3, INT_MIN, 7, -2, INT_MAX, 5}) {
        old.push_back(connection(id, 0));
        ASSERT_EQ(tran_api_create_transaction(&conns_.back()), 0);
    }
    ASSERT_EQ(tran_api_create_transaction(connection(4, 900)), 0);
    clear_recorded();
    EXPECT_EQ(take(tran_api_timeout_transactions(1000)),
              (std::vector<const _Connection*>{old[4], old[2], old[5], old[0], old[3], old[1]}));
    EXPECT_EQ(table_ids(), std::vector<int>{4});
    std::vector<std::string> removals;
    for (const trace_record& r : recorded_traces()) {
        if (r.type == 0x03200000 && r.id == 0x3C020300) removals.push_back(r.data);
    }
    EXPECT_EQ(removals,
              (std::vector<std::string>{"conn id 2147483647", "conn id 7", "conn id 5", "conn id 3",
                                        "conn id -2", "conn id -2147483648"}));
    EXPECT_EQ(tran_api_timeout_transactions(1000), nullptr);
}

TEST(conn_list, new_insert_delete) {
    host_session session;
    _Connection a{1, 0, nullptr}, b{2, 0, nullptr};
    tran_api_conn_list* const na = tran_api_conn_list_new(&a);
    tran_api_conn_list* const nb = tran_api_conn_list_new(&b);
    ASSERT_TRUE(na != nullptr && nb != nullptr);
    EXPECT_EQ(na->conn, &a);
    EXPECT_EQ(na->next, nullptr);
    tran_api_conn_list* head = nullptr;
    EXPECT_EQ(tran_api_conn_list_insert(nullptr, na), -1);
    EXPECT_EQ(tran_api_conn_list_insert(&head, nullptr), -1);
    EXPECT_EQ(head, nullptr);
    // Into an empty list the node's successor is left as it is.
    tran_api_conn_list stray{&b, nullptr};
    na->next = &stray;
    EXPECT_EQ(tran_api_conn_list_insert(&head, na), 0);
    EXPECT_EQ(head, na);
    EXPECT_EQ(na->next, &stray);
    na->next = nullptr;
    EXPECT_EQ(tran_api_conn_list_insert(&head, nb), 0);
    EXPECT_EQ(head, nb);
    EXPECT_EQ(nb->next, na);
    tran_api_conn_list_delete(head);
    tran_api_conn_list_delete(nullptr);
    EXPECT_TRUE(recorded_traces().empty());
}

}  // namespace
