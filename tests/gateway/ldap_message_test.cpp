// Message inspection over bytes alone: framing at every cut of a stream,
// hostile headers, and what the builders encode read back by the readers.
#include "tools/gateway/ldap_message.hpp"

#include <gtest/gtest.h>
#include <ldap.h>

#include <string>

namespace {

using gateway::frame;
using gateway::request_kind;

constexpr std::size_t max_length = 8388608;

std::string bytes(std::initializer_list<int> values)
{
    std::string result;
    for (const int value : values)
        result.push_back(static_cast<char>(value));
    return result;
}

TEST(Framing, EveryPrefixOfAMessageNeedsMoreAndTheWholeIsComplete)
{
    const std::string end = gateway::build_end_transaction_request(7, "id", false);
    for (std::size_t cut = 0; cut < end.size(); ++cut)
        EXPECT_EQ(gateway::frame_message(end.substr(0, cut), max_length).state,
                  frame::status::need_more) << cut;
    const std::string stream = end + bytes({ 0x30 });
    const frame whole = gateway::frame_message(stream, max_length);
    EXPECT_EQ(whole.state, frame::status::complete);
    EXPECT_EQ(whole.length, end.size());
}

TEST(Framing, HostileHeaders)
{
    struct header_case {
        const char* what;
        std::string data;
        frame::status expected;
        std::size_t length;
    };
    const header_case cases[] = {
        { "2 GiB", bytes({ 0x30, 0x84, 0x80, 0, 0, 0 }), frame::status::too_long, 2147483648u },
        { "one past the limit", bytes({ 0x30, 0x83, 0x80, 0, 1 }), frame::status::too_long, 8388609 },
        { "the limit", bytes({ 0x30, 0x83, 0x80, 0, 0 }), frame::status::need_more, 0 },
        { "not a sequence", bytes({ 0x04, 0x01, 0x00 }), frame::status::malformed, 0 },
        { "text", "GET / HTTP/1.0\r\n", frame::status::malformed, 0 },
        { "indefinite length", bytes({ 0x30, 0x80, 0x02, 0x01, 0x01, 0, 0 }), frame::status::malformed, 0 },
        { "nine length octets", bytes({ 0x30, 0x89, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0 }),
          frame::status::malformed, 0 },
        { "127 length octets, told by the second byte", bytes({ 0x30, 0xff }),
          frame::status::malformed, 0 },
        { "indefinite length, told by the second byte", bytes({ 0x30, 0x80 }),
          frame::status::malformed, 0 },
        { "short header", bytes({ 0x30, 0x84, 0x00 }), frame::status::need_more, 0 },
        { "a lone tag", bytes({ 0x30 }), frame::status::need_more, 0 },
    };
    for (const header_case& c : cases) {
        const frame found = gateway::frame_message(c.data, max_length);
        EXPECT_EQ(found.state, c.expected) << c.what;
        EXPECT_EQ(found.length, c.length) << c.what;
    }
}

TEST(Requests, TransactionRequestsAndTheirMalformedForms)
{
    const std::string end = gateway::build_end_transaction_request(9, "txn", false);
    const std::optional<gateway::request> read = gateway::inspect_request(end);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->kind, request_kind::end_transaction);
    EXPECT_EQ(read->message_id, 9);
    EXPECT_FALSE(read->commit);
    EXPECT_EQ(read->identifier, "txn");
    const std::optional<gateway::request> commit =
        gateway::inspect_request(gateway::build_end_transaction_request(10, "", true));
    ASSERT_TRUE(commit);
    EXPECT_TRUE(commit->commit);

    // Start: messageID 1, [APPLICATION 23] { [0] "1.3.6.1.1.21.1" }.
    const std::string oid = LDAP_EXOP_TXN_START;
    const std::string start = bytes({ 0x30, static_cast<int>(oid.size()) + 7, 0x02, 0x01, 0x01, 0x77,
                                      static_cast<int>(oid.size()) + 2, 0x80,
                                      static_cast<int>(oid.size()) }) + oid;
    const std::optional<gateway::request> started = gateway::inspect_request(start);
    ASSERT_TRUE(started);
    EXPECT_EQ(started->kind, request_kind::start_transaction);
    std::string with_value = start + bytes({ 0x81, 0x00 });
    with_value[1] += 2;
    with_value[6] += 2;
    EXPECT_FALSE(gateway::inspect_request(with_value));
    EXPECT_FALSE(gateway::inspect_request(start.substr(0, start.size() - 1)));
    EXPECT_FALSE(gateway::inspect_request(start + bytes({ 0x00 })));
}

TEST(Responses, BuiltMessagesReadBack)
{
    const std::string identifier = "abc";
    struct built_case {
        std::string message;
        ber_int_t id;
        ber_tag_t operation;
        ber_int_t code;
        std::string diagnostic;
        bool has_value;
    };
    const built_case cases[] = {
        { gateway::build_result(LDAP_RES_MODDN, 4, LDAP_ADMINLIMIT_EXCEEDED, "eleven"), 4,
          LDAP_RES_MODDN, 11, "eleven", false },
        { gateway::build_extended_response(5, 68, "dup", nullptr, nullptr), 5, LDAP_RES_EXTENDED,
          68, "dup", false },
        { gateway::build_notice_of_disconnection(LDAP_UNAVAILABLE, "gone"), 0, LDAP_RES_EXTENDED,
          52, "gone", false },
        { gateway::build_aborted_transaction_notice(identifier, "late"), 0, LDAP_RES_EXTENDED, 3,
          "late", true },
    };
    for (const built_case& c : cases) {
        const std::optional<gateway::response> read = gateway::inspect_response(c.message);
        ASSERT_TRUE(read) << c.diagnostic;
        EXPECT_EQ(read->message_id, c.id);
        EXPECT_EQ(read->operation, c.operation);
        EXPECT_EQ(read->result_code, c.code);
        EXPECT_EQ(read->diagnostic, c.diagnostic);
        EXPECT_EQ(read->value.has_value(), c.has_value);
    }
    EXPECT_EQ(*gateway::inspect_response(cases[3].message)->value, "abc");
    EXPECT_EQ(gateway::update_response_operation(LDAP_REQ_ADD), LDAP_RES_ADD);
    EXPECT_FALSE(gateway::update_response_operation(LDAP_REQ_SEARCH));
}

}  // namespace
