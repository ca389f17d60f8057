// Fuzz target: the gateway's message inspection (tools/gateway/ldap_message)
// on any bytes, checked against a model of its own.
//
// The input is taken as bytes received from a peer.  Three things are
// checked on every input:
//
//  - framing against a plain reading of the BER header (tag 0x30, a short
//    or a long definite length of at most 8 octets): whole, needs more, too
//    long (with the announced length) or not LDAP;
//  - reading as a client's request and as a directory's response, against
//    a decoder written here without liblber, which knows the LDAP message
//    envelope, the extended operations, the transaction
//    control and LDAPResult.  Where the decoder is sure (every input whose
//    operation has a one-byte tag), the inspection must give exactly its
//    answer: the same refusal, or the same fields;
//  - the builders: what the inspection read, encoded again by the
//    gateway's builders, reads back the same.
//
// The bytes are placed at the very end of a mapping whose next page is
// inaccessible, so that a read past the last byte faults, also inside
// liblber, which carries no sanitizer instrumentation.
#include <sys/mman.h>
#include <unistd.h>

#include <ldap.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "tests/fuzz/fuzz_support.hpp"
#include "tests/gateway/ldap_message_fields.hpp"
#include "tools/gateway/ldap_message.hpp"

namespace {

using gateway::frame;
using gateway::request_kind;

// A copy of `bytes` that ends where a page without access begins; the
// mapping goes with the last owner.
std::shared_ptr<const char> guarded_copy(std::string_view bytes) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t size = (bytes.size() / page + 2) * page;
    void* const base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    FUZZ_CHECK(base != MAP_FAILED && mprotect(static_cast<char*>(base) + size - page, page, PROT_NONE) == 0);
    char* const start = static_cast<char*>(base) + size - page - bytes.size();
    if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
    return std::shared_ptr<const char>(start, [base, size](const char*) { munmap(base, size); });
}

// ---- the model: BER and LDAP read without liblber ----------------------------

unsigned octet(std::string_view bytes, std::size_t at) { return static_cast<unsigned char>(bytes[at]); }

// A header: a one-octet tag, then a definite length, short or long in 1 to
// 8 octets.  `size` is more than the bytes when they end inside it, and
// SIZE_MAX when they do not start a header at all.
struct header { std::size_t size; std::uint64_t length; };

header read_header(std::string_view bytes) {
    const unsigned first = bytes.size() < 2 ? 0 : octet(bytes, 1);
    const std::size_t octets = first & 0x80 ? first & 0x7f : 0;
    if ((first & 0x80) != 0 && (octets == 0 || octets > 8)) return {SIZE_MAX, 0};
    std::uint64_t length = octets == 0 ? first : 0;
    for (std::size_t i = 2; i < 2 + octets && i < bytes.size(); ++i) length = length << 8 | octet(bytes, i);
    return {2 + octets, length};
}

frame model_frame(std::string_view bytes, std::size_t limit) {
    const header h = read_header(bytes);
    if ((!bytes.empty() && octet(bytes, 0) != 0x30) || h.size == SIZE_MAX)
        return {frame::status::malformed, 0};
    if (h.size <= bytes.size() && h.length > limit) return {frame::status::too_long, h.length};
    if (h.size > bytes.size() || h.length > bytes.size() - h.size) return {frame::status::need_more, 0};
    return {frame::status::complete, h.size + h.length};
}

// Reads the elements of some bytes one after the other.  The first failure
// sticks: every later step reads nothing and fails too.
class model_reader {
public:
    explicit model_reader(std::string_view bytes) : rest_(bytes) {}
    bool ok() const { return ok_; }
    bool done() const { return ok_ && rest_.empty(); }
    unsigned next_tag() const { return ok_ && !rest_.empty() ? octet(rest_, 0) : 0; }

    // The next element's contents when it is whole and has `tag`.  When it
    // has not, no step, and the reader fails unless the element is optional.
    std::optional<std::string_view> read(unsigned tag, bool optional) {
        const header h = read_header(rest_);
        if (next_tag() != tag || h.size > rest_.size() || h.length > rest_.size() - h.size) {
            ok_ = ok_ && optional;
            return std::nullopt;
        }
        const std::string_view contents = rest_.substr(h.size, h.length);
        rest_.remove_prefix(h.size + h.length);
        return contents;
    }
    std::string_view take(unsigned tag) { return read(tag, false).value_or(std::string_view()); }
    std::optional<std::string_view> maybe(unsigned tag) { return read(tag, true); }

    // INTEGER, ENUMERATED or BOOLEAN contents: 1 to 4 octets, two's complement.
    std::int32_t number(std::string_view contents) {
        ok_ = ok_ && !contents.empty() && contents.size() <= 4;
        std::uint32_t value = ok_ && octet(contents, 0) & 0x80 ? ~std::uint32_t{0} : 0;
        for (std::size_t i = 0; ok_ && i < contents.size(); ++i) value = value << 8 | octet(contents, i);
        return static_cast<std::int32_t>(value);
    }

private:
    std::string_view rest_;
    bool ok_ = true;
};

// ExtendedRequest ::= [APPLICATION 23] SEQUENCE { requestName [0],
// requestValue [1] OPTIONAL }: Start Transaction without a value, End
// Transaction with SEQUENCE { commit BOOLEAN DEFAULT TRUE, identifier
// OCTET STRING }, any other name as it is.
bool model_extended(std::string_view contents, gateway::request* r) {
    model_reader fields(contents);
    const std::string_view name = fields.take(0x80);
    const std::optional<std::string_view> value = fields.maybe(0x81);
    if (name == LDAP_EXOP_TXN_START) r->kind = request_kind::start_transaction;
    if (name != LDAP_EXOP_TXN_END) return fields.done() && !(value && name == LDAP_EXOP_TXN_START);
    r->kind = request_kind::end_transaction;
    model_reader outer(value.value_or(""));
    model_reader end(outer.take(0x30));
    if (const std::optional<std::string_view> commit = end.maybe(0x01))
        r->commit = end.number(*commit) != 0;
    r->identifier = end.take(0x04);
    return fields.done() && value && outer.done() && end.done();
}

// Controls ::= SEQUENCE OF SEQUENCE { controlType OCTET STRING,
// criticality BOOLEAN OPTIONAL, controlValue OCTET STRING OPTIONAL }; the
// last transaction control gives the identifier.
bool model_controls(std::string_view controls, gateway::request* r) {
    model_reader list(controls);
    while (!list.done()) {  // a control that is not whole fails its fields
        model_reader fields(list.take(0x30));
        const std::string_view type = fields.take(0x04);
        if (const std::optional<std::string_view> critical = fields.maybe(0x01))
            fields.number(*critical);
        const std::optional<std::string_view> value = fields.maybe(0x04);
        if (!fields.done()) return false;
        if (type == LDAP_CONTROL_TXN_SPEC)
            *r = {r->message_id, r->operation, request_kind::transactional_update, true, value.value_or("")};
    }
    return true;
}

// LDAPResult ::= resultCode ENUMERATED, matchedDN, diagnosticMessage, and
// whatever follows; an extended response allows behind them referral [3],
// responseName [10] and responseValue [11], each optional, and nothing else.
bool model_result(std::string_view contents, gateway::response* r) {
    model_reader fields(contents);
    r->has_result = true;
    r->result_code = fields.number(fields.take(0x0a));
    fields.take(0x04);
    r->diagnostic = fields.take(0x04);
    if (r->operation != LDAP_RES_EXTENDED) return fields.ok();
    fields.maybe(0xa3);
    fields.maybe(0x8a);
    r->value = fields.maybe(0x8b);
    return fields.done();
}

// LDAPMessage ::= SEQUENCE { messageID INTEGER (0 .. maxInt), protocolOp,
// controls [0] OPTIONAL }, and nothing behind it, read as a request and as
// a response: nothing where refused.  False, undecided, when the
// operation's tag takes more octets, whose number liblber reads by rules
// the model does not repeat.
bool model_read(std::string_view bytes, std::optional<gateway::request>* request,
                std::optional<gateway::response>* response) {
    model_reader outer(bytes);
    model_reader inside(outer.take(0x30));
    const std::int32_t id = inside.number(inside.take(0x02));
    const unsigned op = inside.next_tag();
    const bool decided = !outer.done() || id < 0 || (op & 0x1f) != 0x1f;
    const std::string_view contents = inside.take(op);
    const std::optional<std::string_view> controls = inside.maybe(0xa0);
    if (!outer.done() || !inside.done() || id < 0) return decided;
    *request = gateway::request{id, op, request_kind::other, true, {}};
    *response = gateway::response{id, op, false, 0, {}, std::nullopt};
    if (op == LDAP_REQ_UNBIND) (*request)->kind = request_kind::unbind;
    const bool update = op == LDAP_REQ_ADD || op == LDAP_REQ_DELETE || op == LDAP_REQ_MODIFY ||
                        op == LDAP_REQ_MODDN;
    if ((op == LDAP_REQ_EXTENDED && !model_extended(contents, &**request)) ||
        (update && controls && !model_controls(*controls, &**request)))
        request->reset();
    for (const unsigned result : {LDAP_RES_BIND, LDAP_RES_SEARCH_RESULT, LDAP_RES_MODIFY,
                                  LDAP_RES_ADD, LDAP_RES_DELETE, LDAP_RES_MODDN, LDAP_RES_COMPARE,
                                  LDAP_RES_EXTENDED})
        if (op == result && !model_result(contents, &**response)) response->reset();
    return decided;
}

template <class Message>
bool same(const std::optional<Message>& a, const std::optional<Message>& b) {
    return a.has_value() == b.has_value() && (!a || gateway_test::fields(*a) == gateway_test::fields(*b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::shared_ptr<const char> copy =
        guarded_copy(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string_view bytes(copy.get(), size);
    const frame found = gateway::frame_message(bytes, 8388608);
    const frame expected_frame = model_frame(bytes, 8388608);
    FUZZ_CHECK(found.state == expected_frame.state && found.length == expected_frame.length);
    std::optional<gateway::request> model_request;
    std::optional<gateway::response> model_response;
    const bool decided = model_read(bytes, &model_request, &model_response);
    const std::optional<gateway::request> request = gateway::inspect_request(bytes);
    const std::optional<gateway::response> response = gateway::inspect_response(bytes);
    FUZZ_CHECK(!decided || (same(request, model_request) && same(response, model_response)));
    // What was read, built again by the gateway, reads back the same.
    if (request && request->kind == request_kind::end_transaction)
        FUZZ_CHECK(same(gateway::inspect_request(gateway_test::rebuilt(*request)), request));
    if (response && response->has_result)
        FUZZ_CHECK(same(gateway::inspect_response(gateway_test::rebuilt(*response)), response));
    return 0;
}
