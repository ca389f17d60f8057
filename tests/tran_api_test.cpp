// The transaction table through the C interface: registration and
// removal, the limits, the last error, the time-out sweep and its lists,
// and the trace records of every function under each combination of the
// entry bit 0x1000 and the error-exit bit 0x2000.  Every case leaves the
// table empty and the limits at their defaults.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <deque>
#include <functional>
#include <tuple>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

using conns = std::vector<const _Connection*>;
constexpr unsigned long entry = 0x03200000, exit_type = 0x03210000, error_exit = 0x030B0000;

// A host connection record, kept to the end.
_Connection* connection(int id, long stamp = 0) {
    static std::deque<_Connection> kept;
    static char text[] = "conn-x";
    return &kept.emplace_back(_Connection{id, stamp, text});
}

// The ids registered, read holding the system mutex, under which alone the
// table changes.
std::vector<int> table_ids() {
    std::vector<int> ids;
    const tran_system::pool_lock hold(*transys);
    for (const auto& e : transys->pool()) ids.push_back(e.first.id());
    return ids;
}

// The connections of a list, first to last; the list is released, its
// head with free as C code of the host may (AddressSanitizer reports a
// node that did not come from calloc).
conns take(tran_api_conn_list* list) {
    conns result;
    for (const tran_api_conn_list* n = list; n != nullptr; n = n->next) result.push_back(n->conn);
    if (list != nullptr) tran_api_conn_list_delete(list->next);
    std::free(list);
    return result;
}

// Before tran_api_system_init there is no system mutex, and nothing may
// touch one: registration and removal are refused with 1, the lock calls
// leave a text naming the missing mutex, everything that needs no mutex
// works.  Declared first, so that in a run of the whole program no case
// has called init before it (ctest runs every case in a program of its own).
TEST(before_init, refusals_until_init) {
    const char not_initialised[] = "tran_system: the transaction system is not initialised\n";
    const std::string missing = "=>  the system mutex does not exist: tran_api_system_init was not called\n";
    const host_session session;
    EXPECT_STREQ(tran_api_system_err(), "");  // as the library is loaded
    _Connection* const first = connection(1);
    EXPECT_EQ(tran_api_create_transaction(first), 1);
    EXPECT_STREQ(tran_api_system_err(), not_initialised);
    tran_api_set_err("");
    EXPECT_EQ(tran_api_delete_transaction(1), 1);
    EXPECT_STREQ(tran_api_system_err(), not_initialised);
    tran_api_system_lock();
    EXPECT_EQ(tran_api_system_err(), "tran_system::system_lock" + missing);
    tran_api_system_unlock();
    EXPECT_EQ(tran_api_system_err(), "tran_system::system_unlock" + missing);
    EXPECT_EQ(tran_api_timeout_transactions(1000000), nullptr);
    EXPECT_EQ((std::vector<long>{tran_api_system_maxop(), tran_api_system_maxnum(), tran_api_system_tlimit()}),
              (std::vector<long>{5, 20, 300}));
    EXPECT_EQ(table_ids(), std::vector<int>{});  // no mutex exists yet, and nothing changed the table
    ASSERT_EQ(tran_api_system_init(), TRAN_API_SUCCESS);
    tran_api_set_err("before");
    EXPECT_EQ(tran_api_create_transaction(first), TRAN_API_SUCCESS);
    EXPECT_STREQ(tran_api_system_err(), "before");  // success keeps the text
    EXPECT_EQ(tran_api_create_transaction(connection(1)), 68);
    EXPECT_STREQ(tran_api_system_err(), "Duplicate StartTransactions with conn-x issued");
    EXPECT_EQ(tran_api_system_init(), TRAN_API_SUCCESS);  // a second init keeps the table
    EXPECT_EQ(take(tran_api_timeout_transactions(1000)), conns{first});  // the first record stayed
    EXPECT_EQ(tran_api_delete_transaction(1), TRAN_API_SUCCESS);  // none is not an error
}

class tran : public ::testing::Test {
    void SetUp() override { ASSERT_EQ(tran_api_system_init(), TRAN_API_SUCCESS); }
    void TearDown() override {
        EXPECT_EQ(table_ids(), std::vector<int>{});
        tran_api_set_maxop(5), tran_api_set_maxnum(20), tran_api_set_tlimit(300);
    }
    host_session session_;
};

TEST_F(tran, transaction_limit) {
    // A limit of 0 or below is none.  Each refusal sets the text and prints
    // the limit message with the limit.
    // The limit, the tries and how many are accepted.
    const int rows[][3] = {{0, 25, 25}, {-1, 25, 25}, {INT_MIN, 25, 25}, {1, 2, 1}, {3, 5, 3}, {20, 21, 20}};
    for (const auto& [limit, tries, accepted] : rows) {
        clear_recorded();
        tran_api_set_err("untouched");
        tran_api_set_maxnum(limit);
        std::vector<int> codes, expected(accepted, 0);
        expected.resize(tries, 4);
        for (int id = 1; id <= tries; ++id) codes.push_back(tran_api_create_transaction(connection(id)));
        EXPECT_EQ(codes, expected) << limit;
        EXPECT_STREQ(tran_api_system_err(), tries > accepted ? "The number of transaction exceeds limit\n" : "untouched");
        std::vector<std::vector<int>> messages;
        for (const message_call& m : recorded_messages()) messages.push_back({m.printed, m.selector1, m.selector2, m.number, m.int_insert});
        // The limit message: catalogue number 153, selectors 0 and 2.
        EXPECT_EQ(messages, decltype(messages)(tries - accepted, {true, 0, 2, 153, limit}));
        for (int id = 1; id <= tries; ++id) tran_api_delete_transaction(id);
    }
}

TEST_F(tran, sweep_age_against_the_time_limit) {
    // 2^32 where long is wider than 32 bits: only the low 32 bits count.
    const long wide = static_cast<long>(std::int64_t{1} << 32);
    // An age equal to the limit stays; a stamp in the future, a limit of 0,
    // never time out; below 0 the limit is passed from age 0 on.  A clock
    // that wraps still gives small ages; a difference beyond INT32_MAX
    // wraps to a negative age.
    const struct { long tlimit, stamp, now; bool timed_out; } rows[] = {
        {300, 1000, 1300, false}, {300, 1000, 1301, true}, {300, 2000, 1000, false},
        {0, -2000000000L, 2000000000L, false}, {-1, 1000, 1000, true}, {-1, 1001, 1000, false},
        {300, INT32_MAX - 100L, INT32_MIN + 200L, true}, {300, INT32_MAX - 100L, INT32_MIN + 199L, false},
        {300, 0, INT32_MAX, true}, {300, -1, INT32_MAX, false}, {300, wide + 1000, 1300, false},
        {300, wide + 1000, 2 * wide + 1301, true}, {wide, 0, 1000000, false}};
    tran_api_set_tlimit(wide + 5);
    EXPECT_EQ(tran_api_system_tlimit(), 5);
    for (const auto& r : rows) {
        tran_api_set_tlimit(r.tlimit);
        _Connection* const c = connection(77, r.stamp);
        ASSERT_EQ(tran_api_create_transaction(c), TRAN_API_SUCCESS);
        EXPECT_EQ(take(tran_api_timeout_transactions(r.now)), r.timed_out ? conns{c} : conns{})
            << r.tlimit << " " << r.stamp << " " << r.now;
        EXPECT_EQ(table_ids(), r.timed_out ? std::vector<int>{} : std::vector<int>{77});
        tran_api_delete_transaction(77);
    }
}

// Adds the records of a call that makes no traced calls itself, under the
// event mask `events`: an entry record with 0x1000 (an empty text stands
// for one without data), an exit record with 0x1000 or 0x2000, of the
// error-exit kind with 0x2000 when the code is not 0.
void add(records& r, unsigned int events, unsigned long id, const std::string& s, std::int32_t code) {
    if (events & 0x1000) r.push_back({entry, id, nullptr, !s.empty(), s});
    if (events & 0x3000) r.push_back(coded(code != 0 && (events & 0x2000) ? error_exit : exit_type, id, nullptr, code));
}

TEST_F(tran, every_function_traced_under_each_mask) {
    _Connection c{21, 0, nullptr}, d{22, 0, nullptr};
    for (const unsigned int events : {0u, 0x1000u, 0x2000u, 0x3000u}) {
        // A script of traced calls, each step one call; the steps leave the
        // table and the limits as they found them.
        tran_api_conn_list *head = nullptr, *made = nullptr;
        tran_api_conn_list* const node = tran_api_conn_list_new(&c);
        const std::string conn_c = "conn " + pointer_text(&c), conn_d = "conn " + pointer_text(&d),
                          head_at = "head " + pointer_text(&head), node_at = ", node " + pointer_text(node);
        // The function's number n (its id is 0x3C020000 + 0x100 n), its entry
        // text, its code (the LDAP result codes, written as numbers as the
        // server reads them), and the call.
        using step = std::tuple<unsigned long, std::string, std::int32_t, std::function<int()>>;
        const step steps[] = {
            {1, "", TRAN_API_SUCCESS, tran_api_system_init},
            {2, conn_c, TRAN_API_SUCCESS, [&] { return tran_api_create_transaction(&c); }},
            {2, conn_c, 68, [&] { return tran_api_create_transaction(&c); }},
            {2, conn_d, TRAN_API_SUCCESS, [&] { return tran_api_create_transaction(&d); }},
            // Over a limit lowered below the count, before the duplicate.
            {5, "maxnum 1", 0, [] { return tran_api_set_maxnum(1), 0; }},
            {2, conn_c, 4, [&] { return tran_api_create_transaction(&c); }},
            {8, "", 1, tran_api_system_maxnum},
            {5, "maxnum 20", 0, [] { return tran_api_set_maxnum(20), 0; }},
            {3, "conn id 22", TRAN_API_SUCCESS, [] { return tran_api_delete_transaction(22); }},
            {3, "conn id 21", TRAN_API_SUCCESS, [] { return tran_api_delete_transaction(21); }},
            {4, "maxop -5", 0, [] { return tran_api_set_maxop(-5), 0; }},
            {7, "", -5, tran_api_system_maxop},
            {9, "", 300, [] { return std::int32_t(tran_api_system_tlimit()); }},
            {6, "tlimit 300", 0, [] { return tran_api_set_tlimit(300), 0; }},
            {10, "", 0, [] { return tran_api_system_lock(), 0; }},
            {11, "", 0, [] { return tran_api_system_unlock(), 0; }},
            {12, "err: (null)", 0, [] { return tran_api_set_err(nullptr), 0; }},
            {17, "", 0, [] { return std::int32_t(*tran_api_system_err()); }},
            {13, "current time 1234", 0, [] { return !!tran_api_timeout_transactions(1234); }},
            {14, "connection " + pointer_text(&c), 0, [&] { return !(made = tran_api_conn_list_new(&c)); }},
            {16, "head 0x0" + node_at, -1, [&] { return tran_api_conn_list_insert(0, node); }},
            {16, head_at + ", node 0x0", -1, [&] { return tran_api_conn_list_insert(&head, 0); }},
            {16, head_at + node_at, 0, [&] { return tran_api_conn_list_insert(&head, node); }},
            {15, "List head " + pointer_text(node), 0, [&] { return tran_api_conn_list_delete(head), 0; }},
        };
        for (const auto& [n, text, code, call] : steps) {
            clear_recorded();
            trcEvents = events;
            const int result = call();
            trcEvents = 0;
            records expected;
            add(expected, events, 0x3C020000 + 0x100 * n, text, code);
            EXPECT_EQ(result, code) << text;
            EXPECT_EQ(recorded_traces(), expected) << text << " under 0x" << std::hex << events;
        }
        tran_api_conn_list_delete(made);
    }
}

// Under 0x1000 (the masks' effect on each function is checked above).
TEST_F(tran, sweep_removes_in_descending_id_inside_its_trace) {
    tran_api_set_maxnum(0);
    _Connection* const c[] = {connection(INT_MIN), connection(5), connection(INT_MAX)};
    for (const int i : {2, 0, 1}) tran_api_create_transaction(c[i]);
    tran_api_create_transaction(connection(4, 1001));  // age 300 at 1301: stays
    clear_recorded();
    trcEvents = 0x1000;
    tran_api_conn_list* const list = tran_api_timeout_transactions(1301);
    trcEvents = 0;
    ASSERT_TRUE(list && list->next && list->next->next);
    const void* const nodes[] = {list->next->next, list->next, list};
    // The list head lives in the sweep: read from the first insert.
    const std::string first_insert = record_data(entry, 0x3C021000).at(0);
    const std::string head = first_insert.substr(5, first_insert.find(',') - 5);
    // The walk makes and inserts the nodes in ascending id, then the
    // removals run in descending id, all inside the sweep's records.
    records expected = {{entry, 0x3C020D00, nullptr, true, "current time 1301"}};
    for (int i = 0; i < 3; ++i) {
        add(expected, 0x1000, 0x3C020E00, "connection " + pointer_text(c[i]), 0);
        add(expected, 0x1000, 0x3C021000, "head " + head + ", node " + pointer_text(nodes[i]), 0);
    }
    for (int i = 3; i-- > 0;) add(expected, 0x1000, 0x3C020300, "conn id " + std::to_string(c[i]->conn_id), 0);
    expected.push_back(coded(exit_type, 0x3C020D00, nullptr, 0));
    EXPECT_EQ(recorded_traces(), expected);
    EXPECT_EQ(take(list), (conns{c[2], c[1], c[0]}));
    EXPECT_EQ(table_ids(), std::vector<int>{4});
    tran_api_delete_transaction(4);
}

}  // namespace
