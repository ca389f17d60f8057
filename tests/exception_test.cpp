// Exceptions: the class tree with its codes, the mapping of error numbers
// onto it, and what building, copying and destroying an exception writes to
// the host's trace and message services.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "libutils/csgl/csgl_exc.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

static_assert(std::is_base_of<cstr_class<35520512, 2048, 337313792, exc_t>, exc_t>::value,
              "exc_t is tracked as class 0x141B0000");

const char* const site = "site.cpp";  // exceptions keep this pointer, not a copy
constexpr int at = 12;

// ---- the class tree, as a table ------------------------------------------

template <class C>
bool is(const exc_t* e) { return dynamic_cast<const C*>(e) != nullptr; }
template <class C>
std::unique_ptr<exc_t> form_a(const char* text, unsigned long error, int number) {
    return std::make_unique<C>(site, at, text, error, number);
}
template <class C>
std::unique_ptr<exc_t> form_b(const char* text, int number) {
    return std::make_unique<C>(site, at, text, number);
}

struct klass {
    const char* name;
    const char* parent;  // "" for the root
    const std::type_info* type;
    bool (*is)(const exc_t*);
    unsigned long code;  // the fixed code; 0 for Form A only
    std::unique_ptr<exc_t> (*a)(const char*, unsigned long, int);  // null: no Form A
    std::unique_ptr<exc_t> (*b)(const char*, int);                 // null: no Form B
    std::size_t size;
};

#define ROW(C, P, code, a, b) klass{#C, P, &typeid(C), is<C>, code, a, b, sizeof(C)}
#define A_ONLY(C, P) ROW(C, #P, 0, form_a<C>, nullptr)
#define B_ONLY(C, P, code) ROW(C, #P, code, nullptr, form_b<C>)
#define A_AND_B(C, P, code) ROW(C, #P, code, form_a<C>, form_b<C>)

const std::vector<klass>& tree() {
    static const std::vector<klass> rows = {
        ROW(exc_t, "", 0, form_a<exc_t>, nullptr),
        A_ONLY(exc_runtime_t, exc_t),
        A_ONLY(exc_not_enough_resources_t, exc_runtime_t),
        B_ONLY(exc_not_enough_memory_t, exc_not_enough_resources_t, 0x20000001),
        B_ONLY(exc_not_enough_handles_t, exc_not_enough_resources_t, 0x2003001D),
        B_ONLY(exc_not_enough_disk_t, exc_not_enough_resources_t, 0x2003001C),
        B_ONLY(exc_owner_died_t, exc_runtime_t, 0x20030021),
        A_ONLY(exc_timing_t, exc_runtime_t),
        B_ONLY(exc_would_deadlock_t, exc_timing_t, 0x20030020),
        B_ONLY(exc_object_busy_t, exc_timing_t, 0x2003001F),
        B_ONLY(exc_timeout_t, exc_timing_t, 0x20000002),
        B_ONLY(exc_interrupt_t, exc_timing_t, 0x2003001E),
        B_ONLY(exc_hardware_error_t, exc_runtime_t, 0x20030019),
        A_ONLY(exc_unmapped_t, exc_t),
        B_ONLY(exc_unexpected_t, exc_t, 0x20030026),
        A_ONLY(exc_maybe_t, exc_t),
        B_ONLY(exc_permission_denied_t, exc_maybe_t, 0x20030025),
        B_ONLY(exc_end_of_input_t, exc_maybe_t, 0x20030024),
        B_ONLY(exc_does_not_exist_t, exc_maybe_t, 0x20030023),
        B_ONLY(exc_already_exists_t, exc_maybe_t, 0x20030022),
        A_ONLY(exc_logic_t, exc_t),
        B_ONLY(exc_invalid_protocol_t, exc_logic_t, 0x20030018),
        B_ONLY(exc_invalid_operation_t, exc_logic_t, 0x20030017),
        B_ONLY(exc_invalid_cast_t, exc_logic_t, 0x20030016),
        A_AND_B(exc_invalid_state_t, exc_logic_t, 0x20030013),
        B_ONLY(exc_state_overflow_t, exc_invalid_state_t, 0x20030015),
        B_ONLY(exc_state_underflow_t, exc_invalid_state_t, 0x20030014),
        A_AND_B(exc_invalid_parameter_t, exc_logic_t, 0x20000000),
        B_ONLY(exc_invalid_name_t, exc_invalid_parameter_t, 0x20030012),
        B_ONLY(exc_invalid_address_t, exc_invalid_parameter_t, 0x20030011),
        B_ONLY(exc_invalid_handle_t, exc_invalid_parameter_t, 0x20030010),
        B_ONLY(exc_domain_overflow_t, exc_invalid_parameter_t, 0x2003000F),
        A_AND_B(exc_domain_underflow_t, exc_invalid_parameter_t, 0x2003000D),
        B_ONLY(exc_unexpected_end_of_input_t, exc_domain_underflow_t, 0x2003000E),
        B_ONLY(exc_invalid_parameter_type_t, exc_invalid_parameter_t, 0x2003000C),
        A_AND_B(exc_out_of_range_t, exc_logic_t, 0x20030009),
        B_ONLY(exc_range_overflow_t, exc_out_of_range_t, 0x2003000B),
        B_ONLY(exc_range_underflow_t, exc_out_of_range_t, 0x2003000A),
        A_AND_B(exc_assertion_failed_t, exc_logic_t, 0x20030003),
        B_ONLY(exc_not_implemented_t, exc_assertion_failed_t, 0x20030008),
        B_ONLY(exc_should_not_execute_t, exc_assertion_failed_t, 0x20030007),
        B_ONLY(exc_invariant_failed_t, exc_assertion_failed_t, 0x20030006),
        B_ONLY(exc_postcondition_failed_t, exc_assertion_failed_t, 0x20030005),
        B_ONLY(exc_precondition_failed_t, exc_assertion_failed_t, 0x20030004),
        A_ONLY(exc_input_t, exc_t),
        B_ONLY(exc_invalid_grammar_t, exc_input_t, 0x20030001),
        B_ONLY(exc_invalid_token_t, exc_input_t, 0x20030000),
    };
    return rows;
}

const klass& named(const std::string& name) {
    for (const klass& k : tree()) {
        if (name == k.name) return k;
    }
    throw std::out_of_range(name);
}

std::string name_of(const std::type_info& type) {
    for (const klass& k : tree()) {
        if (*k.type == type) return k.name;
    }
    return std::string("? ") + type.name();
}

// ---- what a call throws ----------------------------------------------------

struct caught {
    std::string type;
    unsigned long error;
    std::string text;
    const char* file;
    int line;
};

template <class F>
std::optional<caught> thrown_by(F call) {
    try {
        call();
    } catch (const exc_t& e) {
        return caught{name_of(typeid(e)), e.error, e.message().msg_string(), e.file, e.line};
    }
    return std::nullopt;
}

void expect_caught(const std::optional<caught>& c, const std::string& type, unsigned long error,
                   const std::string& text, int line) {
    ASSERT_TRUE(c.has_value()) << "nothing thrown";
    EXPECT_EQ(c->type, type);
    EXPECT_EQ(c->error, error) << std::hex << c->error;
    EXPECT_EQ(c->text, text);
    EXPECT_EQ(c->file, site);  // the same pointer
    EXPECT_EQ(c->line, line);
}

// ---- trace records ---------------------------------------------------------

constexpr unsigned long created = 0x021E0000, destroyed = 0x021F0000, error_type = 0x02070000;

std::string pointer_text(const void* p) {
    char text[40];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

// An object's address as %p prints it, taken while the object exists.
struct address {
    address(const void* p) : text(pointer_text(p)) {}
    std::string text;
};

std::string line(unsigned long type, unsigned long id, const address& object,
                 const std::optional<std::string>& data = std::nullopt) {
    char head[40];
    std::snprintf(head, sizeof head, "%08lx %08lx ", type, id);
    return head + object.text + (data ? " [" + *data + "]" : " -");
}

// The records of class 0x141B0000 (the exceptions), or all of them.
std::vector<std::string> lines(bool exceptions_only = true) {
    std::vector<std::string> out;
    for (const trace_record& r : recorded_traces()) {
        if (exceptions_only && (r.id & 0xFFFF0000) != 0x141B0000) continue;
        out.push_back(line(r.type, r.id, r.object, r.has_data ? std::optional<std::string>(r.data) : std::nullopt));
    }
    return out;
}

// The text of an exception's creation and error records, derived without printf.
std::string record_text(const std::string& text, const char* file, int line, unsigned long error) {
    std::ostringstream out;
    out << text << "\nfile: " << file << "; line: " << line << "; error: " << std::showbase
        << std::hex << error << std::dec << " = " << static_cast<std::int32_t>(error);
    return out.str();
}

// ---- tests -----------------------------------------------------------------

TEST(exception_tree, classes_codes_and_families) {
    host_session session;
    std::map<std::string, const klass*> by_name;
    std::set<unsigned long> codes;
    for (const klass& k : tree()) {
        EXPECT_TRUE(by_name.emplace(k.name, &k).second) << k.name;
        if (k.code != 0) {
            EXPECT_TRUE(codes.insert(k.code).second) << k.name;
        }
    }
    EXPECT_EQ(by_name.size(), 47u);
    EXPECT_EQ(codes.size(), 39u);
    for (const klass& k : tree()) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(k.size, sizeof(exc_t));  // no class adds a field
        std::set<std::string> lineage;
        for (std::string n = k.name; !n.empty(); n = by_name.at(n)->parent) {
            ASSERT_TRUE(by_name.count(n)) << n;
            lineage.insert(n);
        }
        EXPECT_LE(lineage.size(), 5u);  // at most four levels below exc_t
        // Form B, or Form A; and Form A with a code of another class where
        // there are both: the class stays, the code is the caller's.
        std::vector<std::pair<std::unique_ptr<exc_t>, unsigned long>> made;
        made.emplace_back(k.b ? k.b("x [p[y]p]", 0) : k.a("x [p[y]p]", 0x7654321, 0),
                          k.b ? k.code : 0x7654321);
        if (k.a && k.b) made.emplace_back(k.a("x [p[y]p]", 0x20030009, 0), 0x20030009);
        for (const auto& [object, error] : made) {
            const exc_t& e = *object;
            EXPECT_EQ(name_of(typeid(e)), k.name);
            EXPECT_EQ(e.error, error);
            EXPECT_EQ(e.file, site);
            EXPECT_EQ(e.line, at);
            EXPECT_STREQ(e.message().msg_string(), "x y");
            // A handler catches it exactly when its class is on the line of descent.
            for (const klass& handler : tree()) {
                EXPECT_EQ(handler.is(&e), lineage.count(handler.name) == 1) << "handler " << handler.name;
            }
        }
    }
    EXPECT_TRUE(recorded_traces().empty());
    EXPECT_TRUE(recorded_messages().empty());
}

// Number, class without "exc_" and "_t", symbolic name: the text is
// "<class> (<name>)".
const struct posix_row {
    unsigned long number;
    const char* type;
    const char* name;
} posix_rows[] = {
    {1, "permission_denied", "EPERM"},     {2, "does_not_exist", "ENOENT"},
    {3, "does_not_exist", "ESRCH"},        {6, "does_not_exist", "ENXIO"},
    {7, "domain_overflow", "E2BIG"},       {9, "invalid_handle", "EBADF"},
    {11, "object_busy", "EAGAIN"},         {12, "not_enough_memory", "ENOMEM"},
    {13, "permission_denied", "EACCES"},   {14, "invalid_address", "EFAULT"},
    {16, "object_busy", "EBUSY"},          {17, "already_exists", "EEXIST"},
    {19, "does_not_exist", "ENODEV"},      {22, "invalid_parameter", "EINVAL"},
    {23, "not_enough_handles", "ENFILE"},  {24, "not_enough_handles", "EMFILE"},
    {26, "object_busy", "ETXTBSY"},        {28, "not_enough_disk", "ENOSPC"},
    {30, "permission_denied", "EROFS"},    {35, "would_deadlock", "EDEADLK"},
    {37, "not_enough_handles", "ENOLCK"},  {38, "not_implemented", "ENOSYS"},
    {43, "does_not_exist", "EIDRM"},       {75, "range_overflow", "EOVERFLOW"},
    {95, "not_implemented", "ENOTSUP"},    {122, "not_enough_disk", "EDQUOT"},
};

TEST(exception_mapping, posix_and_tcpip_numbers) {
    using thrower = void (*)(const char*, int, unsigned long);
    for (const thrower call : {thrower(exc_t::throw_posix_error), thrower(exc_t::throw_tcpip_error)}) {
        std::vector<std::tuple<unsigned long, std::string, unsigned long, std::string>> cases;
        for (const posix_row& row : posix_rows) {
            const std::string type = std::string("exc_") + row.type + "_t";
            cases.emplace_back(row.number, type, named(type).code,
                               std::string(row.type) + " (" + row.name + ")");
        }
        for (const unsigned long number : {4ul, 5ul, 123ul, 200ul, 0xFFFFFFFFul}) {
            cases.emplace_back(number, "exc_unmapped_t", number, "unmapped LINUX2 error");
        }
        ASSERT_EQ(cases.size(), 31u);
        for (const auto& [number, type, error, text] : cases) {
            SCOPED_TRACE(number);
            host_session session(0x40);
            const int where = 100 + static_cast<int>(number % 1000);
            expect_caught(thrown_by([&, number = number] { call(site, where, number); }), type, error,
                          text, where);
            EXPECT_EQ(lines(), std::vector<std::string>{line(error_type, 0x141B0100, nullptr,
                                                             record_text(text, site, where, error))});
            EXPECT_TRUE(recorded_messages().empty());  // message number 0
        }
    }
}

TEST(exception_mapping, zero_is_no_error) {
    host_session session(0x840);
    const std::function<void()> calls[] = {
        [] { exc_t::throw_posix_error(site, 1, 0); },     [] { exc_t::throw_tcpip_error(site, 1, 0); },
        [] { exc_t::throw_csgl_error(site, 1, 0, "t"); }, [] { exc_t::throw_cspl_error(site, 1, 0); },
        [] { errno = 0, exc_t::throw_last_tcpip_error(site, 1); },
    };
    for (const auto& call : calls) EXPECT_FALSE(thrown_by(call));
    EXPECT_TRUE(recorded_traces().empty());
    EXPECT_TRUE(recorded_messages().empty());
}

TEST(exception_mapping, last_tcpip_error_reads_errno) {
    expect_caught(thrown_by([] { errno = 11, exc_t::throw_last_tcpip_error(site, 6); }),
                  "exc_object_busy_t", 0x2003001F, "object_busy (EAGAIN)", 6);
    expect_caught(thrown_by([] { errno = EINTR, exc_t::throw_last_tcpip_error(site, 7); }),
                  "exc_unmapped_t", 4, "unmapped LINUX2 error", 7);
}

TEST(exception_mapping, csgl_codes_are_the_fixed_codes) {
    int mapped = 0;
    for (const klass& k : tree()) {
        if (k.code == 0) continue;
        SCOPED_TRACE(k.name);
        ++mapped;
        host_session session(0x40);
        expect_caught(thrown_by([&] { exc_t::throw_csgl_error(site, 31, k.code, "as [p[given]p]"); }),
                      k.name, k.code, "as given", 31);
        EXPECT_EQ(lines(), std::vector<std::string>{line(error_type, 0x141B0100, nullptr,
                                                         record_text("as [p[given]p]", site, 31, k.code))});
        EXPECT_TRUE(recorded_messages().empty());
    }
    EXPECT_EQ(mapped, 39);
    // The holes of the range and everything outside it: unmapped, text unchanged.
    for (const unsigned long code : {0x20030002ul, 0x2003001Aul, 0x2003001Bul, 0x20030027ul,
                                     0x20000003ul, 1ul, 0x1FFFFFFFul, 0xFFFFFFFFul}) {
        SCOPED_TRACE(code);
        expect_caught(thrown_by([&] { exc_t::throw_csgl_error(site, 32, code, "t"); }), "exc_unmapped_t",
                      code, "t", 32);
    }
}

TEST(exception_mapping, cspl_codes_are_never_mapped) {
    for (const unsigned long code : {1ul, 4ul, 0x20000000ul, 0x2003001Ful, 0xFFFFFFFFul}) {
        SCOPED_TRACE(code);
        expect_caught(thrown_by([&] { exc_t::throw_cspl_error(site, 40, code); }), "exc_unmapped_t", code,
                      "unmapped CSPL error", 40);
    }
}

// Building, copying and destroying an exception: records by event bits.
TEST(exception_trace, records_by_event_bits) {
    const struct {
        unsigned int events;
        bool every_record;  // else the exceptions' records only
        const char* text;
        unsigned long error;
        const char* expected;
    } rows[] = {
        {0x840, false, "exc_unmapped", 0, "exc_unmapped\nfile: f.cpp; line: 12; error: 0 = 0"},
        {0x840, false, "exc_invalid_parameter", 0x20000000,
         "exc_invalid_parameter\nfile: f.cpp; line: 12; error: 0x20000000 = 536870912"},
        {0x800, false, "", 0x7FFFFFFF, "\nfile: f.cpp; line: 12; error: 0x7fffffff = 2147483647"},
        {0x40, true, "big", 0x80000000, "big\nfile: f.cpp; line: 12; error: 0x80000000 = -2147483648"},
        {0x840, false, "bad [p[x]p]", 0xFFFFFFFE, "bad [p[x]p]\nfile: f.cpp; line: 12; error: 0xfffffffe = -2"},
        {0, true, "quiet", 1, nullptr},
        {~0x840u, false, "other bits", 1, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        host_session session(row.events);
        std::optional<address> original, copied;
        {
            exc_unmapped_t e("f.cpp", 12, row.text, row.error, 0);
            const exc_unmapped_t copy(e);
            original.emplace(&e);
            copied.emplace(&copy);
        }
        std::vector<std::string> expected;
        if (row.events & 0x800) expected.push_back(line(created, 0x141B0000, *original, row.expected));
        if (row.events & 0x40) expected.push_back(line(error_type, 0x141B0100, nullptr, row.expected));
        if (row.events & 0x800) {
            expected.push_back(line(created, 0x141B0000, *copied, "= " + original->text));
            expected.push_back(line(destroyed, 0x141B0000, *copied));
            expected.push_back(line(destroyed, 0x141B0000, *original));
        }
        EXPECT_EQ(lines(!row.every_record), expected);
    }
}

TEST(exception_trace, records_of_one_construction_in_order) {
    host_session session(0x800);
    std::optional<address> where;
    {
        exc_invalid_parameter_t e("f.cpp", 12, "exc_invalid_parameter", 0);
        where.emplace(&e);
    }
    const std::vector<trace_record> r = recorded_traces();
    const std::vector<std::string> expected = {
        "021e0000 14120000",  // the private lock of the message body's count
        "021e0000 14110000",  // the count, starting at 0
        "021e0000 14140000",  // the monitor of its step to 1
        "021f0000 14140000",
        "021e0000 141b0000",  // the exception
        "021e0000 14140000",  // destruction: the step to 0 frees the body
        "021f0000 14140000",
        "021f0000 14120000",
        "021f0000 14110000",
        "021f0000 141b0000",
    };
    std::vector<std::string> kinds;
    for (const trace_record& t : r) kinds.push_back(line(t.type, t.id, nullptr).substr(0, 17));
    ASSERT_EQ(kinds, expected);
    const std::string lock = pointer_text(r[0].object);
    EXPECT_EQ(line(r[0].type, r[0].id, r[0].object), line(created, 0x14120000, r[0].object));  // no data
    EXPECT_EQ(r[1].data, "0");
    EXPECT_EQ(r[2].data, lock);
    EXPECT_EQ(r[5].data, lock);
    EXPECT_EQ(line(r[4].type, r[4].id, r[4].object, r[4].data),
              line(created, 0x141B0000, *where,
                   "exc_invalid_parameter\nfile: f.cpp; line: 12; error: 0x20000000 = 536870912"));
    const std::pair<int, int> same_object[] = {{0, 7}, {1, 8}, {2, 3}, {5, 6}, {4, 9}};
    for (const auto& [made, gone] : same_object) {
        EXPECT_EQ(r[made].object, r[gone].object) << made;
        EXPECT_FALSE(r[gone].has_data) << gone;
    }
    EXPECT_EQ(pointer_text(r[9].object), where->text);
}

std::string call_text(const message_call& m) {
    std::string out = (m.printed ? "print " : "get ") + std::to_string(m.selector1) + " " +
                      std::to_string(m.selector2) + " " + std::to_string(m.number) + " " + m.name +
                      ":" + std::to_string(m.int_insert);
    for (const std::string& p : m.params) out += " " + p;
    return out;
}

std::vector<std::string> message_texts() {
    std::vector<std::string> out;
    for (const message_call& m : recorded_messages()) out.push_back(call_text(m));
    return out;
}

TEST(exception_base, catalogue_message_logged_once) {
    {
        host_session session(0);
        exc_invalid_parameter_t e(site, 1, "no message [p[p]p]", 0);
        exc_invalid_parameter_t copy(e);
        EXPECT_TRUE(recorded_messages().empty());
    }
    const std::string inserts = " one <null> <null> <null> <null> <null> <null> <null> <null> <null>";
    const std::string form_a = "5 8 153 site.cpp:40" + inserts, form_b = "5 8 153 site.cpp:41" + inserts;
    host_session session(0);
    set_insert_layout(insert_layout::name_line_params);
    {
        exc_logic_t a(site, 40, "bad [p[one]p]", 0x20030017, 153);
        EXPECT_EQ(message_texts(), (std::vector<std::string>{"print " + form_a, "get " + form_a}));
        exc_logic_t copy(a);
        EXPECT_EQ(message_texts().size(), 2u);
    }
    clear_recorded();
    set_insert_layout(insert_layout::name_line_params);
    exc_invalid_state_t b(site, 41, "[p[one]p] state", 153);
    EXPECT_EQ(b.error, 0x20030013ul);
    EXPECT_STREQ(b.message().msg_string(), "one state");
    EXPECT_EQ(message_texts(), (std::vector<std::string>{"print " + form_b, "get " + form_b}));
}

// The only test that touches the quiet flag, so its first call is the
// process's first.
TEST(exception_base, be_quiet_returns_the_replaced_value) {
    EXPECT_TRUE(exc_t::be_quiet(false));
    EXPECT_FALSE(exc_t::be_quiet(true));
    EXPECT_TRUE(exc_t::be_quiet(true));
    EXPECT_TRUE(exc_t::be_quiet(false));
    EXPECT_FALSE(exc_t::be_quiet(false));
    EXPECT_FALSE(exc_t::be_quiet(true));  // back as it started
}

TEST(exception_base, get_current_is_always_null) {
    EXPECT_EQ(exc_t::get_current(), nullptr);
    try {
        exc_t::throw_posix_error(site, 1, 2);
    } catch (const exc_t&) {
        EXPECT_EQ(exc_t::get_current(), nullptr);
    }
}

TEST(exception_base, copy_outlives_its_source) {
    auto* source = new exc_invalid_name_t(site, 8, "name [p[cn=x]p]", 0);
    const exc_invalid_name_t copy(*source);
    EXPECT_EQ(copy.message().representation(), source->message().representation());
    delete source;
    EXPECT_STREQ(copy.message().msg_string(), "name cn=x");
    EXPECT_EQ(copy.error, 0x20030012ul);
    EXPECT_EQ(copy.file, site);
    EXPECT_EQ(copy.line, 8);
}

TEST(exception_base, exc_if_no_mem) {
    int object = 0;
    EXPECT_EQ(exc_if_no_mem(site, 50, &object), &object);
    expect_caught(thrown_by([] { exc_if_no_mem<char>(site, 51, nullptr); }), "exc_not_enough_memory_t",
                  0x20000001, "not enough memory", 51);
}

}  // namespace
