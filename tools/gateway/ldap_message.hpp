// Message inspection: pure functions over the bytes of LDAP messages.
//
// Framing finds where the next message of a byte stream ends; inspection
// reads what the gateway needs of a request or a response; the builders
// encode the messages the gateway sends itself.  All decoding and encoding
// goes through liblber, and the protocol numbers come from ldap.h.  No
// function needs a socket, and none reads outside the bytes it is given
// (liblber's element walk is only ever asked to peek, never to step past
// the last byte), so they can be fed any bytes at all.  Thread-safe: they
// share nothing.
#ifndef TOOLS_GATEWAY_LDAP_MESSAGE_HPP
#define TOOLS_GATEWAY_LDAP_MESSAGE_HPP

#include <lber.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace gateway {

// Where the first message of a byte buffer ends.
struct frame {
    enum class status {
        complete,   // `length` bytes hold the whole message
        need_more,  // the buffer holds the start of a message
        too_long,   // the message announces `length` bytes, more than allowed
        malformed,  // not the start of an LDAP message
    };
    status state;
    std::size_t length;  // complete: whole message; too_long: its contents
};

// Frames the first message of `bytes`, allowing messages whose contents
// take at most `max_length` bytes.  The decision on the length is taken
// from the message's header alone, before its contents arrive.
frame frame_message(std::string_view bytes, std::size_t max_length);

// What a client's request is to the gateway.
enum class request_kind {
    start_transaction,      // Start Transaction
    end_transaction,        // End Transaction: commit, identifier
    transactional_update,   // add, delete, modify or modify DN with the
                            // transaction control
    unbind,
    other,                  // relayed as it is
};

struct request {
    ber_int_t message_id;
    ber_tag_t operation;      // LDAP_REQ_*
    request_kind kind;
    bool commit;              // end_transaction
    std::string_view identifier;  // end_transaction, transactional_update
};

// Reads a whole message (as framed) sent by a client.  Nothing when it is
// not an LDAPMessage, or when a Start Transaction request carries a value
// or an End Transaction request's value is not SEQUENCE { BOOLEAN DEFAULT
// TRUE, OCTET STRING }.  The views point into `message`.
std::optional<request> inspect_request(std::string_view message);

// What a directory's response is to the gateway.  Only results of the
// operations that carry one are read; others are relayed unread.
struct response {
    ber_int_t message_id;
    ber_tag_t operation;         // LDAP_RES_*
    bool has_result;             // an LDAPResult was read
    ber_int_t result_code;
    std::string_view diagnostic;
    std::optional<std::string_view> value;  // an extended response's value
};

std::optional<response> inspect_response(std::string_view message);

// The response to an update request (LDAP_RES_ADD for LDAP_REQ_ADD, and so
// on); nothing for other operations.
std::optional<ber_tag_t> update_response_operation(ber_tag_t request_operation);

// An LDAPResult response of `operation` (LDAP_RES_*) without referral.
std::string build_result(ber_tag_t operation, ber_int_t message_id, ber_int_t result_code,
                         std::string_view diagnostic);

// An extended response; `name` and `value` are left out when null.
std::string build_extended_response(ber_int_t message_id, ber_int_t result_code,
                                    std::string_view diagnostic, const char* name,
                                    const std::string_view* value);

// The unsolicited notices (message id 0).
std::string build_notice_of_disconnection(ber_int_t result_code, std::string_view diagnostic);
std::string build_aborted_transaction_notice(std::string_view identifier,
                                             std::string_view diagnostic);

// An End Transaction request.
std::string build_end_transaction_request(ber_int_t message_id, std::string_view identifier,
                                          bool commit);

}  // namespace gateway

#endif
