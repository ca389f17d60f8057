// What the message inspection tests compare of a request or a response,
// and the message the gateway's builders encode of the same fields.
#ifndef TESTS_GATEWAY_LDAP_MESSAGE_FIELDS_HPP
#define TESTS_GATEWAY_LDAP_MESSAGE_FIELDS_HPP

#include <ldap.h>

#include <string>
#include <tuple>

#include "tools/gateway/ldap_message.hpp"

namespace gateway_test {

inline auto fields(const gateway::request& r) {
    return std::tie(r.message_id, r.operation, r.kind, r.commit, r.identifier);
}

inline auto fields(const gateway::response& r) {
    return std::tie(r.message_id, r.operation, r.has_result, r.result_code, r.diagnostic, r.value);
}

// The End Transaction request of the same fields.
inline std::string rebuilt(const gateway::request& r) {
    return gateway::build_end_transaction_request(r.message_id, r.identifier, r.commit);
}

// The result (without a response name) of the same fields.
inline std::string rebuilt(const gateway::response& r) {
    return r.operation != LDAP_RES_EXTENDED
               ? gateway::build_result(r.operation, r.message_id, r.result_code, r.diagnostic)
               : gateway::build_extended_response(r.message_id, r.result_code, r.diagnostic,
                                                  nullptr, r.value ? &*r.value : nullptr);
}

}  // namespace gateway_test

#endif
