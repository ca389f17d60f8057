#include "tools/gateway/ldap_message.hpp"

#include <ldap.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace gateway {
namespace {

// A BerElement that reads bytes it does not own: released without them.
struct reader_release {
    void operator()(BerElement* ber) const { ber_free(ber, 0); }
};
using ber_reader = std::unique_ptr<BerElement, reader_release>;

// A BerElement that encodes into its own buffer: released with it.
struct writer_release {
    void operator()(BerElement* ber) const { ber_free(ber, 1); }
};
using ber_writer = std::unique_ptr<BerElement, writer_release>;

berval view_berval(std::string_view bytes)
{
    // liblber only reads through this pointer when decoding.
    return berval{ static_cast<ber_len_t>(bytes.size()), const_cast<char*>(bytes.data()) };
}

// One BER element: its tag, all its bytes, and its contents.
struct element {
    ber_tag_t tag;
    std::string_view whole;
    std::string_view contents;
};

// What liblber's peek at the first element of some bytes tells: the tag
// (LBER_DEFAULT when the element is not whole or not valid), and, also on
// failure, how far the header was read and the length it announced.
struct peek_result {
    ber_tag_t tag;
    std::size_t header_read;
    ber_len_t announced;
};

peek_result peek(std::string_view bytes)
{
    const ber_reader ber(ber_alloc_t(0));
    if (!ber || bytes.empty())
        return { LBER_DEFAULT, 0, 0 };
    berval all = view_berval(bytes);
    ber_init2(ber.get(), &all, 0);
    berval contents{ 0, nullptr };
    const ber_tag_t tag = ber_peek_element(ber.get(), &contents);
    const char* const start = bytes.data();
    if (contents.bv_val == nullptr || contents.bv_val < start ||
        contents.bv_val > start + bytes.size())
        return { LBER_DEFAULT, 0, 0 };
    return { tag, static_cast<std::size_t>(contents.bv_val - start), contents.bv_len };
}

// Walks the elements of some bytes (a constructed element's contents) one
// after the other.  Each step only peeks, so liblber never reads past the
// bytes given.
class element_walker {
public:
    explicit element_walker(std::string_view bytes) : rest_(bytes) {}

    bool at_end() const { return rest_.empty(); }

    // The next element, or nothing when the bytes left do not start with a
    // whole, valid element.
    std::optional<element> next()
    {
        const peek_result found = peek(rest_);
        if (found.tag == LBER_DEFAULT)
            return std::nullopt;
        const std::size_t size = found.header_read + found.announced;
        element result{ found.tag, rest_.substr(0, size),
                        rest_.substr(found.header_read, found.announced) };
        rest_.remove_prefix(size);
        return result;
    }

    // The next element if it has `tag`; nothing (and no step) otherwise.
    std::optional<element> next_if(ber_tag_t tag)
    {
        element_walker probe(rest_);
        const std::optional<element> found = probe.next();
        if (!found || found->tag != tag)
            return std::nullopt;
        rest_ = probe.rest_;
        return found;
    }

private:
    std::string_view rest_;
};

// Scalars are decoded by liblber from a copy with a spare byte behind the
// element, where its decoder may look when an element ends the buffer.
enum class scalar { integer, enumerated, boolean };

std::optional<ber_int_t> decode_scalar(const element& item, scalar kind)
{
    static const std::array<ber_tag_t, 3> tags = { LBER_INTEGER, LBER_ENUMERATED, LBER_BOOLEAN };
    std::array<char, 16> copy{};
    if (item.tag != tags[static_cast<std::size_t>(kind)] || item.contents.empty() ||
        item.whole.size() >= copy.size())
        return std::nullopt;
    std::memcpy(copy.data(), item.whole.data(), item.whole.size());
    const ber_reader ber(ber_alloc_t(0));
    if (!ber)
        return std::nullopt;
    berval bytes{ static_cast<ber_len_t>(item.whole.size()), copy.data() };
    ber_init2(ber.get(), &bytes, 0);
    ber_int_t value = 0;
    ber_tag_t tag = LBER_DEFAULT;
    switch (kind) {
    case scalar::integer: tag = ber_get_int(ber.get(), &value); break;
    case scalar::enumerated: tag = ber_get_enum(ber.get(), &value); break;
    case scalar::boolean: tag = ber_get_boolean(ber.get(), &value); break;
    }
    if (tag == LBER_DEFAULT)
        return std::nullopt;
    return value;
}

std::optional<std::string_view> decode_string(const std::optional<element>& item,
                                              ber_tag_t tag = LBER_OCTETSTRING)
{
    if (!item || item->tag != tag)
        return std::nullopt;
    return item->contents;
}

// The envelope every LDAPMessage shares.
struct envelope {
    ber_int_t message_id;
    element operation;
    std::optional<element> controls;
};

std::optional<envelope> open_envelope(std::string_view message)
{
    element_walker outer(message);
    const std::optional<element> top = outer.next();
    if (!top || top->tag != LBER_SEQUENCE || !outer.at_end())
        return std::nullopt;
    element_walker inside(top->contents);
    const std::optional<element> id = inside.next();
    const std::optional<element> operation = inside.next();
    if (!id || !operation)
        return std::nullopt;
    const std::optional<ber_int_t> message_id = decode_scalar(*id, scalar::integer);
    if (!message_id || *message_id < 0)
        return std::nullopt;
    envelope result{ *message_id, *operation, inside.next_if(LDAP_TAG_CONTROLS) };
    if (!inside.at_end())
        return std::nullopt;
    return result;
}

bool equals(std::string_view text, const char* oid) { return text == std::string_view(oid); }

// The value of the transaction control among `controls`;
// nothing when it is absent; malformed controls make the whole false.
bool find_transaction_control(const element& controls, std::optional<std::string_view>* value)
{
    element_walker list(controls.contents);
    while (!list.at_end()) {
        const std::optional<element> control = list.next();
        if (!control || control->tag != LBER_SEQUENCE)
            return false;
        element_walker fields(control->contents);
        const std::optional<std::string_view> type = decode_string(fields.next());
        if (!type)
            return false;
        if (const std::optional<element> critical = fields.next_if(LBER_BOOLEAN))
            if (!decode_scalar(*critical, scalar::boolean))
                return false;
        const std::optional<element> control_value = fields.next_if(LBER_OCTETSTRING);
        if (!fields.at_end())
            return false;
        if (equals(*type, LDAP_CONTROL_TXN_SPEC))
            *value = control_value ? control_value->contents : std::string_view();
    }
    return true;
}

// The End Transaction request value: SEQUENCE { commit BOOLEAN DEFAULT
// TRUE, identifier OCTET STRING }.
bool read_end_value(std::string_view value, request* into)
{
    element_walker outer(value);
    const std::optional<element> sequence = outer.next();
    if (!sequence || sequence->tag != LBER_SEQUENCE || !outer.at_end())
        return false;
    element_walker fields(sequence->contents);
    into->commit = true;
    if (const std::optional<element> commit = fields.next_if(LBER_BOOLEAN)) {
        const std::optional<ber_int_t> flag = decode_scalar(*commit, scalar::boolean);
        if (!flag)
            return false;
        into->commit = *flag != 0;
    }
    const std::optional<std::string_view> identifier = decode_string(fields.next());
    if (!identifier || !fields.at_end())
        return false;
    into->identifier = *identifier;
    return true;
}

// Update requests and their responses: the one table.
struct update_pair {
    ber_tag_t request;
    ber_tag_t response;
};
constexpr std::array<update_pair, 4> update_operations = { {
    { LDAP_REQ_ADD, LDAP_RES_ADD },
    { LDAP_REQ_DELETE, LDAP_RES_DELETE },
    { LDAP_REQ_MODIFY, LDAP_RES_MODIFY },
    { LDAP_REQ_MODDN, LDAP_RES_MODDN },
} };

// Responses that carry an LDAPResult first.
constexpr std::array<ber_tag_t, 8> result_operations = {
    LDAP_RES_BIND, LDAP_RES_SEARCH_RESULT, LDAP_RES_MODIFY, LDAP_RES_ADD,
    LDAP_RES_DELETE, LDAP_RES_MODDN, LDAP_RES_COMPARE, LDAP_RES_EXTENDED,
};

ber_len_t length_of(std::string_view text) { return static_cast<ber_len_t>(text.size()); }
char* chars_of(std::string_view text) { return const_cast<char*>(text.data()); }

std::string flatten(const ber_writer& ber, int status)
{
    berval* bytes = nullptr;
    if (status == -1 || ber_flatten(ber.get(), &bytes) != 0 || bytes == nullptr)
        return std::string();  // only when memory ran out
    std::string result(bytes->bv_val, bytes->bv_len);
    ber_bvfree(bytes);
    return result;
}

}  // namespace

frame frame_message(std::string_view bytes, std::size_t max_length)
{
    if (bytes.size() < 2)
        return { bytes.empty() || static_cast<unsigned char>(bytes[0]) == LBER_SEQUENCE
                     ? frame::status::need_more
                     : frame::status::malformed,
                 0 };
    if (static_cast<unsigned char>(bytes[0]) != LBER_SEQUENCE)
        return { frame::status::malformed, 0 };
    // An indefinite length, or a long one in more octets than liblber
    // reads, is never a message: known from the second byte, without
    // waiting for the octets it announces.
    const unsigned char first_length_octet = static_cast<unsigned char>(bytes[1]);
    const std::size_t length_octets = first_length_octet & 0x7f;
    if ((first_length_octet & 0x80) != 0 &&
        (length_octets == 0 || length_octets > sizeof(ber_len_t)))
        return { frame::status::malformed, 0 };
    const peek_result found = peek(bytes);
    if (found.announced > max_length)
        return { frame::status::too_long, static_cast<std::size_t>(found.announced) };
    if (found.tag != LBER_DEFAULT)
        return { frame::status::complete, found.header_read + found.announced };
    // The peek failed.  While the header is short liblber has read the
    // length's first octet and announces how many octets follow, less than
    // the bytes still needed; once it is whole, the announced length is the
    // message's.  Either way, a message whose bytes have not all arrived
    // needs more, and bytes enough for what was announced are not an
    // element at all.
    if (found.header_read + found.announced > bytes.size())
        return { frame::status::need_more, 0 };
    return { frame::status::malformed, 0 };
}

std::optional<request> inspect_request(std::string_view message)
{
    const std::optional<envelope> outer = open_envelope(message);
    if (!outer)
        return std::nullopt;
    request result{ outer->message_id, outer->operation.tag, request_kind::other, true, {} };
    const element& operation = outer->operation;
    if (operation.tag == LDAP_REQ_UNBIND) {
        result.kind = request_kind::unbind;
    } else if (operation.tag == LDAP_REQ_EXTENDED) {
        element_walker fields(operation.contents);
        const std::optional<std::string_view> name =
            decode_string(fields.next(), LDAP_TAG_EXOP_REQ_OID);
        if (!name)
            return std::nullopt;
        const std::optional<element> value = fields.next_if(LDAP_TAG_EXOP_REQ_VALUE);
        if (!fields.at_end())
            return std::nullopt;
        if (equals(*name, LDAP_EXOP_TXN_START)) {
            if (value)
                return std::nullopt;  // Start Transaction takes no value
            result.kind = request_kind::start_transaction;
        } else if (equals(*name, LDAP_EXOP_TXN_END)) {
            if (!value || !read_end_value(value->contents, &result))
                return std::nullopt;
            result.kind = request_kind::end_transaction;
        }
    } else if (update_response_operation(operation.tag) && outer->controls) {
        std::optional<std::string_view> identifier;
        if (!find_transaction_control(*outer->controls, &identifier))
            return std::nullopt;
        if (identifier) {
            result.kind = request_kind::transactional_update;
            result.identifier = *identifier;
        }
    }
    return result;
}

std::optional<response> inspect_response(std::string_view message)
{
    const std::optional<envelope> outer = open_envelope(message);
    if (!outer)
        return std::nullopt;
    response result{ outer->message_id, outer->operation.tag, false, 0, {}, std::nullopt };
    bool carries_result = false;
    for (const ber_tag_t operation : result_operations)
        carries_result = carries_result || operation == result.operation;
    if (!carries_result)
        return result;
    element_walker fields(outer->operation.contents);
    const std::optional<element> code = fields.next();
    const std::optional<std::string_view> matched = decode_string(fields.next());
    const std::optional<std::string_view> diagnostic = decode_string(fields.next());
    const std::optional<ber_int_t> result_code =
        code ? decode_scalar(*code, scalar::enumerated) : std::nullopt;
    if (!result_code || !matched || !diagnostic)
        return std::nullopt;
    result.has_result = true;
    result.result_code = *result_code;
    result.diagnostic = *diagnostic;
    if (result.operation == LDAP_RES_EXTENDED) {
        fields.next_if(LDAP_TAG_REFERRAL);
        fields.next_if(LDAP_TAG_EXOP_RES_OID);
        if (const std::optional<element> value = fields.next_if(LDAP_TAG_EXOP_RES_VALUE))
            result.value = value->contents;
        if (!fields.at_end())
            return std::nullopt;
    }
    return result;
}

std::optional<ber_tag_t> update_response_operation(ber_tag_t request_operation)
{
    for (const update_pair& pair : update_operations)
        if (pair.request == request_operation)
            return pair.response;
    return std::nullopt;
}

std::string build_result(ber_tag_t operation, ber_int_t message_id, ber_int_t result_code,
                         std::string_view diagnostic)
{
    const ber_writer ber(ber_alloc_t(LBER_USE_DER));
    if (!ber)
        return std::string();
    const int status = ber_printf(ber.get(), "{it{eoo}}", message_id, operation, result_code,
                                  "", static_cast<ber_len_t>(0), chars_of(diagnostic),
                                  length_of(diagnostic));
    return flatten(ber, status);
}

std::string build_extended_response(ber_int_t message_id, ber_int_t result_code,
                                    std::string_view diagnostic, const char* name,
                                    const std::string_view* value)
{
    const ber_writer ber(ber_alloc_t(LBER_USE_DER));
    if (!ber)
        return std::string();
    int status = ber_printf(ber.get(), "{it{eoo", message_id, LDAP_RES_EXTENDED, result_code, "",
                            static_cast<ber_len_t>(0), chars_of(diagnostic),
                            length_of(diagnostic));
    if (status != -1 && name != nullptr)
        status = ber_printf(ber.get(), "to", LDAP_TAG_EXOP_RES_OID, name,
                            static_cast<ber_len_t>(std::strlen(name)));
    if (status != -1 && value != nullptr)
        status = ber_printf(ber.get(), "to", LDAP_TAG_EXOP_RES_VALUE, chars_of(*value),
                            length_of(*value));
    if (status != -1)
        status = ber_printf(ber.get(), "}}");
    return flatten(ber, status);
}

std::string build_notice_of_disconnection(ber_int_t result_code, std::string_view diagnostic)
{
    return build_extended_response(LDAP_RES_UNSOLICITED, result_code, diagnostic,
                                   LDAP_NOTICE_OF_DISCONNECTION, nullptr);
}

std::string build_aborted_transaction_notice(std::string_view identifier,
                                             std::string_view diagnostic)
{
    return build_extended_response(LDAP_RES_UNSOLICITED, LDAP_TIMELIMIT_EXCEEDED, diagnostic,
                                   LDAP_EXOP_TXN_ABORTED_NOTICE, &identifier);
}

std::string build_end_transaction_request(ber_int_t message_id, std::string_view identifier,
                                          bool commit)
{
    const ber_writer value(ber_alloc_t(LBER_USE_DER));
    if (!value)
        return std::string();
    // commit is DEFAULT TRUE: written only when false.
    const int value_status =
        commit ? ber_printf(value.get(), "{o}", chars_of(identifier), length_of(identifier))
               : ber_printf(value.get(), "{bo}", static_cast<ber_int_t>(0), chars_of(identifier),
                            length_of(identifier));
    const std::string encoded_value = flatten(value, value_status);
    if (encoded_value.empty())
        return std::string();
    const ber_writer ber(ber_alloc_t(LBER_USE_DER));
    if (!ber)
        return std::string();
    const char* const name = LDAP_EXOP_TXN_END;
    const int status = ber_printf(ber.get(), "{it{toto}}", message_id, LDAP_REQ_EXTENDED,
                                  LDAP_TAG_EXOP_REQ_OID, name,
                                  static_cast<ber_len_t>(std::strlen(name)),
                                  LDAP_TAG_EXOP_REQ_VALUE, chars_of(encoded_value),
                                  length_of(encoded_value));
    return flatten(ber, status);
}

}  // namespace gateway
