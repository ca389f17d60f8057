// Message inspection, the exact cases: the bounds of the message length,
// and the messages real clients and a directory sent (the fuzz target's
// seeds) read to their fields and built again to the same bytes.  What
// holds for any bytes (framing, refusals, read-back) is the fuzz target's.
#include "tools/gateway/ldap_message.hpp"

#include <gtest/gtest.h>
#include <ldap.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>

#include "tests/gateway/ldap_message_fields.hpp"

namespace {

using gateway::frame;
using gateway::request_kind;
using gateway_test::fields;

std::string seed(const std::string& name) {
    std::ifstream in(LDAP_MESSAGE_SEEDS "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Framing, TheLimitIsTakenFromTheHeaderAlone) {
    const frame at_limit = gateway::frame_message(std::string("\x30\x83\x80\0\0", 5), 8388608);
    EXPECT_EQ(std::tie(at_limit.state, at_limit.length), std::make_tuple(frame::status::need_more, 0u));
    const frame past = gateway::frame_message(std::string("\x30\x84\0\x80\0\1", 6), 8388608);
    EXPECT_EQ(std::tie(past.state, past.length), std::make_tuple(frame::status::too_long, 8388609u));
}

// A client's requests, and the End Transaction built of the same fields.
TEST(Inspection, MessagesOfARealClientAndADirectory) {
    const std::pair<const char*, gateway::request> requests[] = {
        {"crafted_05_request_add_with_two_transaction_controls",
         {5, LDAP_REQ_ADD, request_kind::transactional_update, true, "second"}},
        {"abort_04_request_end_transaction_abort",
         {4, LDAP_REQ_EXTENDED, request_kind::end_transaction, false, ""}},
        {"commit_07_request_end_transaction_commit",
         {7, LDAP_REQ_EXTENDED, request_kind::end_transaction, true, ""}},
    };
    for (const auto& [name, expected] : requests) {
        const std::string message = seed(name);
        const std::optional<gateway::request> found = gateway::inspect_request(message);
        ASSERT_TRUE(found) << name;
        EXPECT_EQ(fields(*found), fields(expected)) << name;
        if (found->kind != request_kind::end_transaction) continue;
        EXPECT_EQ(gateway_test::rebuilt(*found), message) << name;
    }
    EXPECT_EQ(gateway::update_response_operation(LDAP_REQ_MODDN), LDAP_RES_MODDN);
    EXPECT_FALSE(gateway::update_response_operation(LDAP_REQ_SEARCH));
    // A directory's responses and the gateway's own (the limit's 11), and
    // the gateway's results of the same fields.
    const std::pair<const char*, gateway::response> responses[] = {
        {"commit_02_response_start_transaction_result_0", {2, LDAP_RES_EXTENDED, true, 0, "", ""}},
        {"abort_04_response_end_transaction_abort_result_0",
         {4, LDAP_RES_EXTENDED, true, 0, "transaction aborted", std::nullopt}},
        {"update_limit_04_response_add_in_transaction_result_11",
         {4, LDAP_RES_ADD, true, 11, "the transaction already holds the limit of 1 updates",
          std::nullopt}},
    };
    for (const auto& [name, expected] : responses) {
        const std::string message = seed(name);
        const std::optional<gateway::response> found = gateway::inspect_response(message);
        ASSERT_TRUE(found) << name;
        EXPECT_EQ(fields(*found), fields(expected)) << name;
        EXPECT_EQ(gateway_test::rebuilt(*found), message) << name;
    }
}

}  // namespace
