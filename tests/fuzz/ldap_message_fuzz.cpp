// Fuzz target: the gateway's message inspection (tools/gateway/ldap_message)
// on any bytes, checked against a model of its own.
//
// The input is taken as bytes received from a peer.  Three things are
// checked on every input:
//
//  - framing against a plain reading of the BER header (tag 0x30, a short
//    or a long definite length of at most 8 octets): whole, needs more,
//    too long (with the announced length) or not LDAP; and consistency over
//    prefixes: every strict prefix of a whole message needs more, and bytes
//    behind it change nothing;
//  - reading as a client's request and as a directory's response, against
//    a decoder written here without liblber, which knows the LDAP message
//    envelope, the extended operations, the transaction specification
//    control and LDAPResult.  Where the decoder is sure (every input that
//    uses only one-byte tags), the inspection must give exactly its answer:
//    the same refusal, or the same message id, operation, kind, commit flag,
//    identifier, result code, diagnostic and value;
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
#include <optional>
#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_support.hpp"
#include "tools/gateway/ldap_message.hpp"

namespace {

constexpr std::size_t max_length = 8388608;

// ---- bytes that end at an inaccessible page --------------------------------

// A mapping of `capacity` bytes followed by a page without access.
class guarded_region {
public:
    explicit guarded_region(std::size_t capacity) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        usable_ = (capacity + page - 1) / page * page;
        total_ = usable_ + page;
        void* mapped = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        FUZZ_CHECK(mapped != MAP_FAILED);
        base_ = static_cast<char*>(mapped);
        FUZZ_CHECK(mprotect(base_ + usable_, page, PROT_NONE) == 0);
    }
    ~guarded_region() { munmap(base_, total_); }
    guarded_region(const guarded_region&) = delete;
    guarded_region& operator=(const guarded_region&) = delete;

    std::size_t capacity() const { return usable_; }
    // Copies `bytes` so that they end where the inaccessible page begins.
    std::string_view place(const std::uint8_t* bytes, std::size_t size) {
        char* const start = base_ + usable_ - size;
        if (size > 0) std::memcpy(start, bytes, size);
        return std::string_view(start, size);
    }

private:
    char* base_;
    std::size_t usable_, total_;
};

// ---- the model: BER and LDAP read without liblber ----------------------------

// What the model says of some bytes: a definite answer, or none where it
// does not decide (an operation under a multi-octet tag, whose number
// liblber reads by rules the model does not repeat).
enum class verdict { accepted, refused, undecided };

struct model_element {
    unsigned tag;
    std::string_view contents;
};

// Reads the elements of some bytes one after the other: a one-octet tag, a
// definite length (short, or long in 1 to 8 octets) and that many bytes.
class model_reader {
public:
    explicit model_reader(std::string_view bytes) : rest_(bytes) {}
    bool at_end() const { return rest_.empty(); }
    // The last step failed on a multi-octet tag.
    bool met_long_tag() const { return met_long_tag_; }

    std::optional<model_element> next() {
        met_long_tag_ = false;
        if (rest_.empty()) return std::nullopt;
        const unsigned char tag = static_cast<unsigned char>(rest_[0]);
        if ((tag & 0x1f) == 0x1f) {
            met_long_tag_ = true;
            return std::nullopt;
        }
        if (rest_.size() < 2) return std::nullopt;
        std::size_t header = 2;
        std::uint64_t length = static_cast<unsigned char>(rest_[1]);
        if (length & 0x80) {
            const std::size_t octets = length & 0x7f;
            if (octets == 0 || octets > 8 || rest_.size() < 2 + octets) return std::nullopt;
            length = 0;
            for (std::size_t i = 0; i < octets; ++i) length = length << 8 | static_cast<unsigned char>(rest_[2 + i]);
            header += octets;
        }
        if (length > rest_.size() - header) return std::nullopt;
        const model_element found{tag, rest_.substr(header, static_cast<std::size_t>(length))};
        rest_.remove_prefix(header + static_cast<std::size_t>(length));
        return found;
    }

    // The next element when it is whole and has `tag`; otherwise nothing,
    // and no step.  (An element under a multi-octet tag never has a
    // one-octet tag's number, however liblber reads it.)
    std::optional<model_element> next_if(unsigned tag) {
        model_reader probe(rest_);
        const std::optional<model_element> found = probe.next();
        if (!found || found->tag != tag) return std::nullopt;
        rest_ = probe.rest_;
        return found;
    }

private:
    std::string_view rest_;
    bool met_long_tag_ = false;
};

// An element of a required tag: refused when it is missing, not whole, or
// of another tag, multi-octet tags included.
std::optional<model_element> expect(model_reader& reader, unsigned tag) {
    const std::optional<model_element> found = reader.next();
    if (!found || found->tag != tag) return std::nullopt;
    return found;
}

// INTEGER, ENUMERATED and BOOLEAN contents: one to four octets, two's
// complement (a BOOLEAN is true when not zero).
std::optional<std::int32_t> model_number(const std::optional<model_element>& item) {
    if (!item || item->contents.empty() || item->contents.size() > 4) return std::nullopt;
    std::uint32_t value = static_cast<unsigned char>(item->contents[0]) & 0x80 ? ~std::uint32_t{0} : 0;
    for (const char octet : item->contents) value = value << 8 | static_cast<unsigned char>(octet);
    return static_cast<std::int32_t>(value);
}

struct model_message {
    verdict outcome = verdict::refused;
    std::int32_t message_id = 0;
    unsigned operation = 0;
    std::string_view operation_contents;
    std::optional<std::string_view> controls;
};

// LDAPMessage ::= SEQUENCE { messageID INTEGER (0 .. maxInt), protocolOp,
// controls [0] OPTIONAL }, and nothing behind it.
model_message model_envelope(std::string_view bytes) {
    model_message m;
    model_reader outer(bytes);
    const std::optional<model_element> top = expect(outer, 0x30);
    if (!top || !outer.at_end()) return m;
    model_reader inside(top->contents);
    const std::optional<std::int32_t> id = model_number(expect(inside, 0x02));
    if (!id || *id < 0) return m;
    const std::optional<model_element> operation = inside.next();
    if (!operation) {
        if (inside.met_long_tag()) m.outcome = verdict::undecided;
        return m;
    }
    const std::optional<model_element> controls = inside.next_if(0xa0);
    if (!inside.at_end()) return m;
    m.outcome = verdict::accepted;
    m.message_id = *id;
    m.operation = operation->tag;
    m.operation_contents = operation->contents;
    if (controls) m.controls = controls->contents;
    return m;
}

struct model_request {
    verdict outcome = verdict::refused;
    std::int32_t message_id = 0;
    unsigned operation = 0;
    gateway::request_kind kind = gateway::request_kind::other;
    bool commit = true;
    std::string_view identifier;
};

bool is_update(unsigned operation) {
    return operation == LDAP_REQ_ADD || operation == LDAP_REQ_DELETE || operation == LDAP_REQ_MODIFY ||
           operation == LDAP_REQ_MODDN;
}

// Controls ::= SEQUENCE OF SEQUENCE { controlType OCTET STRING, criticality
// BOOLEAN OPTIONAL, controlValue OCTET STRING OPTIONAL }: false when they
// are not; the last transaction specification control among them gives
// the identifier (empty without a value).
bool model_controls(std::string_view controls, std::optional<std::string_view>* identifier) {
    model_reader list(controls);
    while (!list.at_end()) {
        const std::optional<model_element> control = expect(list, 0x30);
        if (!control) return false;
        model_reader fields(control->contents);
        const std::optional<model_element> type = expect(fields, 0x04);
        if (!type) return false;
        if (const std::optional<model_element> critical = fields.next_if(0x01))
            if (!model_number(critical)) return false;
        const std::optional<model_element> value = fields.next_if(0x04);
        if (!fields.at_end()) return false;
        if (type->contents == LDAP_CONTROL_TXN_SPEC) *identifier = value ? value->contents : std::string_view();
    }
    return true;
}

// The End Transaction request's value: SEQUENCE { commit BOOLEAN DEFAULT
// TRUE, identifier OCTET STRING }, and nothing behind it.
bool model_end_value(std::string_view value, model_request* r) {
    model_reader outer(value);
    const std::optional<model_element> sequence = expect(outer, 0x30);
    if (!sequence || !outer.at_end()) return false;
    model_reader fields(sequence->contents);
    if (const std::optional<model_element> commit = fields.next_if(0x01)) {
        const std::optional<std::int32_t> flag = model_number(commit);
        if (!flag) return false;
        r->commit = *flag != 0;
    }
    const std::optional<model_element> identifier = expect(fields, 0x04);
    if (!identifier || !fields.at_end()) return false;
    r->identifier = identifier->contents;
    return true;
}

// ExtendedRequest ::= [APPLICATION 23] SEQUENCE { requestName [0],
// requestValue [1] OPTIONAL }: Start Transaction without a value, End
// Transaction with a valid one, any other name as it is.
bool model_extended(std::string_view contents, model_request* r) {
    model_reader fields(contents);
    const std::optional<model_element> name = expect(fields, 0x80);
    if (!name) return false;
    const std::optional<model_element> value = fields.next_if(0x81);
    if (!fields.at_end()) return false;
    if (name->contents == LDAP_EXOP_TXN_START) {
        r->kind = gateway::request_kind::start_transaction;
        return !value;
    }
    if (name->contents == LDAP_EXOP_TXN_END) {
        r->kind = gateway::request_kind::end_transaction;
        return value && model_end_value(value->contents, r);
    }
    return true;
}

model_request model_read_request(std::string_view bytes) {
    model_request r;
    const model_message m = model_envelope(bytes);
    r.outcome = m.outcome;
    if (m.outcome != verdict::accepted) return r;
    r.message_id = m.message_id;
    r.operation = m.operation;
    bool valid = true;
    if (m.operation == LDAP_REQ_UNBIND) {
        r.kind = gateway::request_kind::unbind;
    } else if (m.operation == LDAP_REQ_EXTENDED) {
        valid = model_extended(m.operation_contents, &r);
    } else if (is_update(m.operation) && m.controls) {
        std::optional<std::string_view> identifier;
        valid = model_controls(*m.controls, &identifier);
        if (identifier) {
            r.kind = gateway::request_kind::transactional_update;
            r.identifier = *identifier;
        }
    }
    if (!valid) r.outcome = verdict::refused;
    return r;
}

struct model_response {
    verdict outcome = verdict::refused;
    std::int32_t message_id = 0;
    unsigned operation = 0;
    bool has_result = false;
    std::int32_t result_code = 0;
    std::string_view diagnostic;
    std::optional<std::string_view> value;
};

bool carries_result(unsigned operation) {
    for (const unsigned tag : {LDAP_RES_BIND, LDAP_RES_SEARCH_RESULT, LDAP_RES_MODIFY, LDAP_RES_ADD,
                               LDAP_RES_DELETE, LDAP_RES_MODDN, LDAP_RES_COMPARE, LDAP_RES_EXTENDED})
        if (operation == tag) return true;
    return false;
}

// LDAPResult ::= resultCode ENUMERATED, matchedDN, diagnosticMessage, and
// whatever follows; an extended response allows behind them referral [3],
// responseName [10] and responseValue [11], each optional, and nothing
// else.
model_response model_read_response(std::string_view bytes) {
    model_response r;
    const model_message m = model_envelope(bytes);
    r.outcome = m.outcome;
    if (m.outcome != verdict::accepted) return r;
    r.message_id = m.message_id;
    r.operation = m.operation;
    if (!carries_result(m.operation)) return r;
    model_reader fields(m.operation_contents);
    const std::optional<std::int32_t> code = model_number(expect(fields, 0x0a));
    const std::optional<model_element> matched = code ? expect(fields, 0x04) : std::nullopt;
    const std::optional<model_element> diagnostic = matched ? expect(fields, 0x04) : std::nullopt;
    if (!diagnostic) {
        r.outcome = verdict::refused;
        return r;
    }
    r.has_result = true;
    r.result_code = *code;
    r.diagnostic = diagnostic->contents;
    if (m.operation == LDAP_RES_EXTENDED) {
        fields.next_if(0xa3);
        fields.next_if(0x8a);
        if (const std::optional<model_element> value = fields.next_if(0x8b)) r.value = value->contents;
        if (!fields.at_end()) r.outcome = verdict::refused;
    }
    return r;
}

// ---- the checks -----------------------------------------------------------

// The framing the header announces, read plainly.
gateway::frame model_frame(std::string_view bytes, std::size_t limit) {
    using status = gateway::frame::status;
    if (bytes.empty()) return {status::need_more, 0};
    if (static_cast<unsigned char>(bytes[0]) != 0x30) return {status::malformed, 0};
    if (bytes.size() < 2) return {status::need_more, 0};
    const unsigned char first = static_cast<unsigned char>(bytes[1]);
    std::size_t header = 2;
    std::uint64_t length = first;
    if (first & 0x80) {
        const std::size_t octets = first & 0x7f;
        if (octets == 0 || octets > 8) return {status::malformed, 0};
        if (bytes.size() < 2 + octets) return {status::need_more, 0};
        length = 0;
        for (std::size_t i = 0; i < octets; ++i) length = length << 8 | static_cast<unsigned char>(bytes[2 + i]);
        header += octets;
    }
    if (length > limit) return {status::too_long, static_cast<std::size_t>(length)};
    if (length > bytes.size() - header) return {status::need_more, 0};
    return {status::complete, header + static_cast<std::size_t>(length)};
}

void check_framing(std::string_view bytes, std::size_t limit) {
    const gateway::frame found = gateway::frame_message(bytes, limit);
    const gateway::frame expected = model_frame(bytes, limit);
    FUZZ_CHECK(found.state == expected.state);
    FUZZ_CHECK(found.length == expected.length);
    if (found.state != gateway::frame::status::complete) return;
    FUZZ_CHECK(found.length >= 2 && found.length <= bytes.size());
    // The whole message alone frames the same; a strict prefix needs more.
    const gateway::frame alone = gateway::frame_message(bytes.substr(0, found.length), limit);
    FUZZ_CHECK(alone.state == gateway::frame::status::complete && alone.length == found.length);
    const std::size_t cut = found.length / 2;
    FUZZ_CHECK(gateway::frame_message(bytes.substr(0, cut), limit).state == gateway::frame::status::need_more);
}

bool inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void check_request(std::string_view bytes) {
    const std::optional<gateway::request> found = gateway::inspect_request(bytes);
    if (found) {
        // Only ever one whole message.
        const gateway::frame whole = gateway::frame_message(bytes, max_length);
        FUZZ_CHECK(whole.state == gateway::frame::status::complete && whole.length == bytes.size());
        FUZZ_CHECK(found->message_id >= 0 && inside(found->identifier, bytes));
    }
    const model_request expected = model_read_request(bytes);
    if (expected.outcome == verdict::undecided) return;
    FUZZ_CHECK(found.has_value() == (expected.outcome == verdict::accepted));
    if (!found) return;
    FUZZ_CHECK(found->message_id == expected.message_id);
    FUZZ_CHECK(found->operation == expected.operation);
    FUZZ_CHECK(found->kind == expected.kind);
    const bool carries_identifier = expected.kind == gateway::request_kind::end_transaction ||
                                    expected.kind == gateway::request_kind::transactional_update;
    if (carries_identifier) FUZZ_CHECK(found->identifier == expected.identifier);
    if (expected.kind != gateway::request_kind::end_transaction) return;
    FUZZ_CHECK(found->commit == expected.commit);
    // The gateway's own End Transaction with the same fields reads back the same.
    const std::string built =
        gateway::build_end_transaction_request(found->message_id, found->identifier, found->commit);
    const std::optional<gateway::request> again = gateway::inspect_request(built);
    FUZZ_CHECK(again && again->kind == gateway::request_kind::end_transaction);
    FUZZ_CHECK(again->message_id == found->message_id && again->commit == found->commit);
    FUZZ_CHECK(again->identifier == found->identifier);
}

void check_response(std::string_view bytes) {
    const std::optional<gateway::response> found = gateway::inspect_response(bytes);
    if (found) {
        const gateway::frame whole = gateway::frame_message(bytes, max_length);
        FUZZ_CHECK(whole.state == gateway::frame::status::complete && whole.length == bytes.size());
        FUZZ_CHECK(inside(found->diagnostic, bytes) && (!found->value || inside(*found->value, bytes)));
    }
    const model_response expected = model_read_response(bytes);
    if (expected.outcome == verdict::undecided) return;
    FUZZ_CHECK(found.has_value() == (expected.outcome == verdict::accepted));
    if (!found) return;
    FUZZ_CHECK(found->message_id == expected.message_id && found->operation == expected.operation);
    FUZZ_CHECK(found->has_result == expected.has_result);
    if (!found->has_result) return;
    FUZZ_CHECK(found->result_code == expected.result_code && found->diagnostic == expected.diagnostic);
    FUZZ_CHECK(found->value == expected.value);
    // The same result built by the gateway reads back the same.
    const std::string built =
        found->operation == LDAP_RES_EXTENDED
            ? gateway::build_extended_response(found->message_id, found->result_code, found->diagnostic, nullptr,
                                               found->value ? &*found->value : nullptr)
            : gateway::build_result(found->operation, found->message_id, found->result_code, found->diagnostic);
    const std::optional<gateway::response> again = gateway::inspect_response(built);
    FUZZ_CHECK(again && again->message_id == found->message_id && again->operation == found->operation);
    FUZZ_CHECK(again->has_result && again->result_code == found->result_code);
    FUZZ_CHECK(again->diagnostic == found->diagnostic && again->value == found->value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static guarded_region region(1 << 16);
    std::optional<guarded_region> larger;
    guarded_region& room = size <= region.capacity() ? region : larger.emplace(size);
    const std::string_view bytes = room.place(data, size);

    // The default limit, and a small one that the seeds' lengths cross.
    check_framing(bytes, max_length);
    check_framing(bytes, 64);
    check_request(bytes);
    check_response(bytes);
    // The first message of a stream, on its own, as the relay reads it.
    const gateway::frame first = gateway::frame_message(bytes, max_length);
    if (first.state == gateway::frame::status::complete && first.length < bytes.size()) {
        const std::string_view message = room.place(data, first.length);
        check_request(message);
        check_response(message);
    }
    return 0;
}
