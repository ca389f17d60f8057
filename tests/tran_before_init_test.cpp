// The transaction system used before tran_api_system_init: there is no
// system mutex, and nothing may touch one.  Registration and removal are
// refused with 1, the lock calls leave a text naming the missing mutex, and
// everything that needs no mutex works.  No case here calls init except
// the last, which runs after the others when the program runs whole (and
// in a process of its own under CTest).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

const char not_initialised[] = "tran_system: the transaction system is not initialised\n";
const char lock_missing[] =
    "tran_system::system_lock=>  the system mutex does not exist: "
    "tran_api_system_init was not called\n";
const char unlock_missing[] =
    "tran_system::system_unlock=>  the system mutex does not exist: "
    "tran_api_system_init was not called\n";

char no_text[] = "";

TEST(before_init, registration_and_removal_are_refused) {
    host_session session(0x2000);
    tran_api_set_maxnum(0);
    _Connection c{1, 0, no_text};
    EXPECT_EQ(tran_api_create_transaction(&c), 1);
    EXPECT_STREQ(tran_api_system_err(), not_initialised);
    tran_api_set_err("");
    EXPECT_EQ(tran_api_delete_transaction(1), 1);
    EXPECT_STREQ(tran_api_system_err(), not_initialised);
    EXPECT_TRUE(transys->pool().empty());
    EXPECT_TRUE(recorded_messages().empty());
    // The refusals are failing exits of their trace scopes.
    const std::int32_t code = 1;
    const std::string data(reinterpret_cast<const char*>(&code), 4);
    const std::vector<trace_record> exits = {{0x030B0000, 0x3C020200, nullptr, true, data},
                                             {0x030B0000, 0x3C020300, nullptr, true, data}};
    std::vector<trace_record> seen;
    for (const trace_record& r : recorded_traces()) {
        if (r.id == 0x3C020200 || r.id == 0x3C020300) seen.push_back(r);
    }
    EXPECT_EQ(seen, exits);
    tran_api_set_maxnum(20);
}

TEST(before_init, lock_calls_name_the_missing_mutex) {
    host_session session;
    tran_api_system_lock();
    EXPECT_STREQ(tran_api_system_err(), lock_missing);
    tran_api_system_unlock();
    EXPECT_STREQ(tran_api_system_err(), unlock_missing);
}

TEST(before_init, limits_error_text_and_lists_work) {
    host_session session;
    EXPECT_EQ(tran_api_system_maxop(), 5);
    EXPECT_EQ(tran_api_system_maxnum(), 20);
    EXPECT_EQ(tran_api_system_tlimit(), 300);
    tran_api_set_tlimit(1);
    EXPECT_EQ(tran_api_system_tlimit(), 1);
    EXPECT_EQ(tran_api_timeout_transactions(1000000), nullptr);
    tran_api_set_tlimit(300);
    tran_api_set_err("set before init");
    EXPECT_STREQ(tran_api_system_err(), "set before init");
    _Connection c{2, 0, no_text};
    tran_api_conn_list* list = nullptr;
    EXPECT_EQ(tran_api_conn_list_insert(&list, tran_api_conn_list_new(&c)), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->conn, &c);
    tran_api_conn_list_delete(list);
}

// Defined last: see the top of the file.
TEST(before_init, init_ends_the_refusals) {
    host_session session;
    _Connection c{3, 0, no_text};
    EXPECT_EQ(tran_api_create_transaction(&c), 1);
    ASSERT_EQ(tran_api_system_init(), 0);
    EXPECT_EQ(tran_api_create_transaction(&c), 0);
    EXPECT_EQ(tran_api_delete_transaction(3), 0);
    EXPECT_TRUE(transys->pool().empty());
}

}  // namespace
