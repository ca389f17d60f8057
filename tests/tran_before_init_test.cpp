// The transaction system used before tran_api_system_init: there is no
// system mutex, and nothing may touch one.  Registration and removal are
// refused with 1, the lock calls leave a text naming the missing mutex, and
// everything that needs no mutex works.  One case, so that nothing runs
// after the init it ends with.
#include <gtest/gtest.h>

#include <string>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

TEST(before_init, refusals_until_init) {
    const char not_initialised[] = "tran_system: the transaction system is not initialised\n";
    const std::string missing =
        "=>  the system mutex does not exist: tran_api_system_init was not called\n";
    host_session session;
    EXPECT_STREQ(tran_api_system_err(), "");  // as the library is loaded
    _Connection c{1, 0, nullptr};
    EXPECT_EQ(tran_api_create_transaction(&c), TRAN_API_OPERATIONS_ERROR);
    EXPECT_STREQ(tran_api_system_err(), not_initialised);
    tran_api_set_err("");
    EXPECT_EQ(tran_api_delete_transaction(1), TRAN_API_OPERATIONS_ERROR);
    EXPECT_STREQ(tran_api_system_err(), not_initialised);
    tran_api_system_lock();
    EXPECT_EQ(tran_api_system_err(), "tran_system::system_lock" + missing);
    tran_api_system_unlock();
    EXPECT_EQ(tran_api_system_err(), "tran_system::system_unlock" + missing);
    EXPECT_EQ(tran_api_timeout_transactions(1000000), nullptr);
    EXPECT_EQ(tran_api_system_maxop(), 5);
    EXPECT_EQ(tran_api_system_maxnum(), 20);
    EXPECT_EQ(tran_api_system_tlimit(), 300);
    {
        // No mutex exists yet, and nothing can change the table.
        const tran_system::pool_lock hold(*transys);
        EXPECT_TRUE(transys->pool().empty());
    }
    ASSERT_EQ(tran_api_system_init(), TRAN_API_SUCCESS);
    EXPECT_EQ(tran_api_create_transaction(&c), TRAN_API_SUCCESS);
    EXPECT_EQ(tran_api_delete_transaction(1), TRAN_API_SUCCESS);
}

}  // namespace
