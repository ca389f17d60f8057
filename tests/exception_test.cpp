// Exceptions: the class tree with its codes, the mapping of error numbers
// onto it, and what building and copying an exception writes to the host's
// trace and message services.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <tuple>
#include <typeinfo>
#include <vector>

#include "libutils/csgl/csgl_exc.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

const char* const site = "site.cpp";  // exceptions keep this pointer, not a copy

// The two constructor forms, thrown with a catalogue message; Form A with a
// code wider than 32 bits where long is.
template <class C>
void throw_a() { throw C(site, 12, "x [p[y]p]", static_cast<unsigned long>(0x120030001ull), 153); }
template <class C>
void throw_b() { throw C(site, 12, "x [p[y]p]", 153); }
template <class C>
bool is(const exc_t* e) {
    static_assert(sizeof(C) == sizeof(exc_t), "no class adds a field");
    return dynamic_cast<const C*>(e) != nullptr;
}

// Name without "exc_" and "_t" (but for the root), fixed code or 0, the
// forms it has (or null): A (file, line, text, error, number), B (file, line,
// text, number).
struct klass {
    const char *name, *parent;
    const std::type_info* type;
    bool (*is)(const exc_t*);
    unsigned long code;
    void (*a)(), (*b)();
};

#define K(C, P, code, a, b) klass{#C, #P, &typeid(exc_##C##_t), is<exc_##C##_t>, code, a, b}
#define A(C, P) K(C, P, 0, throw_a<exc_##C##_t>, nullptr)
#define B(C, P, code) K(C, P, code, nullptr, throw_b<exc_##C##_t>)
#define AB(C, P, code) K(C, P, code, throw_a<exc_##C##_t>, throw_b<exc_##C##_t>)

const std::vector<klass> tree = {
    klass{"exc_t", "", &typeid(exc_t), is<exc_t>, 0, throw_a<exc_t>, nullptr},
    A(runtime, exc_t), B(owner_died, runtime, 0x20030021), B(hardware_error, runtime, 0x20030019),
    A(not_enough_resources, runtime), B(not_enough_memory, not_enough_resources, 0x20000001),
    B(not_enough_handles, not_enough_resources, 0x2003001D),
    B(not_enough_disk, not_enough_resources, 0x2003001C),
    A(timing, runtime), B(would_deadlock, timing, 0x20030020), B(object_busy, timing, 0x2003001F),
    B(timeout, timing, 0x20000002), B(interrupt, timing, 0x2003001E),
    A(unmapped, exc_t), B(unexpected, exc_t, 0x20030026),
    A(maybe, exc_t), B(permission_denied, maybe, 0x20030025), B(end_of_input, maybe, 0x20030024),
    B(does_not_exist, maybe, 0x20030023), B(already_exists, maybe, 0x20030022),
    A(logic, exc_t), B(invalid_protocol, logic, 0x20030018),
    B(invalid_operation, logic, 0x20030017), B(invalid_cast, logic, 0x20030016),
    AB(invalid_state, logic, 0x20030013), B(state_overflow, invalid_state, 0x20030015),
    B(state_underflow, invalid_state, 0x20030014),
    AB(invalid_parameter, logic, 0x20000000), B(invalid_name, invalid_parameter, 0x20030012),
    B(invalid_address, invalid_parameter, 0x20030011),
    B(invalid_handle, invalid_parameter, 0x20030010),
    B(domain_overflow, invalid_parameter, 0x2003000F),
    B(invalid_parameter_type, invalid_parameter, 0x2003000C),
    AB(domain_underflow, invalid_parameter, 0x2003000D),
    B(unexpected_end_of_input, domain_underflow, 0x2003000E),
    AB(out_of_range, logic, 0x20030009), B(range_overflow, out_of_range, 0x2003000B),
    B(range_underflow, out_of_range, 0x2003000A),
    AB(assertion_failed, logic, 0x20030003), B(not_implemented, assertion_failed, 0x20030008),
    B(should_not_execute, assertion_failed, 0x20030007),
    B(invariant_failed, assertion_failed, 0x20030006),
    B(postcondition_failed, assertion_failed, 0x20030005),
    B(precondition_failed, assertion_failed, 0x20030004),
    A(input, exc_t), B(invalid_grammar, input, 0x20030001), B(invalid_token, input, 0x20030000)};

const klass* named(const std::string& name) {
    for (const klass& k : tree) if (name == k.name) return &k;
    return nullptr;
}

std::string said(const std::string& type, unsigned long error, int line, const std::string& text) {
    char head[40];
    std::snprintf(head, sizeof head, " %#lx %d ", error, line);
    return type + head + text;
}

// What `call` throws: class, error, line and text; and the handlers that
// catch it.
template <class F>
std::string thrown_by(F call, std::set<std::string>* handlers = nullptr) {
    try {
        call();
    } catch (const exc_t& e) {
        EXPECT_EQ(e.file, site);  // the same pointer
        std::string type = "?";
        for (const klass& k : tree) {
            if (*k.type == typeid(e)) type = k.name;
            if (handlers && k.is(&e)) handlers->insert(k.name);
        }
        return said(type, e.error, e.line, e.message().msg_string());
    }
    return "nothing";
}

// For every class: what each constructor form builds and logs, which
// handlers catch it (exactly those on its line of descent), and its fixed
// code thrown as a csgl code.  Form A keeps the caller's code, cut to 32 bits.
TEST(exception_tree, classes_codes_and_families) {
    using call = std::tuple<bool, int, int, int, std::string, int, std::string>;
    int fixed = 0;
    for (const klass& k : tree) {
        SCOPED_TRACE(k.name);
        std::set<std::string> lineage;
        for (const klass* n = &k; n; n = named(n->parent)) lineage.insert(n->name);
        for (auto form : {k.a, k.b}) {
            if (!form) continue;
            host_session session;
            std::set<std::string> handlers;
            EXPECT_EQ(thrown_by(form, &handlers),
                      said(k.name, form == k.a ? 0x20030001 : k.code, 12, "x y"));
            EXPECT_EQ(handlers, lineage);
            std::vector<call> calls;  // logged once: printed, then fetched
            for (const message_call& m : recorded_messages()) {
                calls.emplace_back(m.printed, m.selector1, m.selector2, m.number, m.name,
                                   m.int_insert, m.params.at(0));
            }
            EXPECT_EQ(calls, (std::vector<call>{{true, 5, 8, 153, site, 12, "y"},
                                                {false, 5, 8, 153, site, 12, "y"}}));
        }
        if (k.code == 0) continue;
        ++fixed;
        EXPECT_EQ(thrown_by([&] { exc_t::throw_csgl_error(site, 31, k.code, "as [p[given]p]"); }),
                  said(k.name, k.code, 31, "as given"));
        EXPECT_EQ(thrown_by([&] { exc_t::throw_cspl_error(site, 40, k.code); }),
                  said("unmapped", k.code, 40, "unmapped CSPL error"));
    }
    EXPECT_EQ(fixed, 39);
}

// Number, class, symbolic name: the text is "<class> (<name>)".
#define E(number, type, name) posix_row{number, #type, #name}
const struct posix_row { unsigned long number; const char *type, *name; } posix_rows[] = {
    E(1, permission_denied, EPERM), E(2, does_not_exist, ENOENT), E(3, does_not_exist, ESRCH),
    E(6, does_not_exist, ENXIO), E(7, domain_overflow, E2BIG), E(9, invalid_handle, EBADF),
    E(11, object_busy, EAGAIN), E(12, not_enough_memory, ENOMEM), E(13, permission_denied, EACCES),
    E(14, invalid_address, EFAULT), E(16, object_busy, EBUSY), E(17, already_exists, EEXIST),
    E(19, does_not_exist, ENODEV), E(22, invalid_parameter, EINVAL),
    E(23, not_enough_handles, ENFILE), E(24, not_enough_handles, EMFILE),
    E(26, object_busy, ETXTBSY), E(28, not_enough_disk, ENOSPC), E(30, permission_denied, EROFS),
    E(35, would_deadlock, EDEADLK), E(37, not_enough_handles, ENOLCK),
    E(38, not_implemented, ENOSYS), E(43, does_not_exist, EIDRM), E(75, range_overflow, EOVERFLOW),
    E(95, not_implemented, ENOTSUP), E(122, not_enough_disk, EDQUOT)};

// Every thrower returns normally for 0 and passes message number 0, and
// exc_if_no_mem throws only for a null pointer.
TEST(exception_mapping, throwers) {
    host_session session;
    using thrower = void (*)(const char*, int, unsigned long);
    const thrower throwers[] = {
        exc_t::throw_posix_error, exc_t::throw_tcpip_error,
        [](const char* file, int line, unsigned long number) {
            errno = static_cast<int>(number);
            exc_t::throw_last_tcpip_error(file, line);
        }};
    for (const thrower call : throwers) {
        for (const auto& row : posix_rows) {
            const std::string text = std::string(row.type) + " (" + row.name + ")";
            EXPECT_EQ(thrown_by([&] { call(site, 7, row.number); }),
                      said(row.type, named(row.type)->code, 7, text));
        }
        for (const unsigned long number : {4ul, 5ul, 123ul, 200ul, 0xFFFFFFFFul}) {
            EXPECT_EQ(thrown_by([&] { call(site, 8, number); }),
                      said("unmapped", number, 8, "unmapped LINUX2 error"));
        }
        EXPECT_EQ(thrown_by([&] { call(site, 9, 0); }), "nothing");
    }
    // The holes of the csgl range and everything outside it: unmapped, the
    // text as given.
    for (const unsigned long code : {0x20030002ul, 0x2003001Aul, 0x2003001Bul, 0x20030027ul,
                                     0x20000003ul, 1ul, 0x1FFFFFFFul, 0xFFFFFFFFul}) {
        EXPECT_EQ(thrown_by([&] { exc_t::throw_csgl_error(site, 32, code, "t [p[u]p]"); }),
                  said("unmapped", code, 32, "t u"));
    }
    EXPECT_EQ(thrown_by([] { exc_t::throw_csgl_error(site, 9, 0, "t"); }), "nothing");
    EXPECT_EQ(thrown_by([] { exc_t::throw_cspl_error(site, 9, 0); }), "nothing");
    EXPECT_TRUE(recorded_messages().empty());
    int object = 0;
    EXPECT_EQ(exc_if_no_mem(site, 50, &object), &object);
    EXPECT_EQ(thrown_by([] { exc_if_no_mem<char>(site, 51, nullptr); }),
              said("not_enough_memory", 0x20000001, 51, "not enough memory"));
}

// The records about exceptions, the error records by the class's own
// functions (id 0x141B01xx) included.
records exception_records() {
    records found;
    for (const trace_record& r : recorded_traces())
        if ((r.id & 0xFFFF0000) == 0x141B0000) found.push_back(r);
    return found;
}

// Building and copying an exception: a creation record by bit 0x800, an
// error record by bit 0x40 (and nothing else), the markers left in; a
// copy's creation record names its source, and the copy logs no message.
TEST(exception_trace, records_by_event_bits) {
    constexpr unsigned long error_type = 0x02070000, id = 0x141B0000;
    const struct { unsigned int events; unsigned long error; std::string value; } rows[] = {
        {0x840, 0, "0 = 0"}, {0x800, 0x7FFFFFFF, "0x7fffffff = 2147483647"},
        {0x40, 0x80000000, "0x80000000 = -2147483648"}, {0x840, 0xFFFFFFFE, "0xfffffffe = -2"},
        {0, 1, ""}, {~0x840u, 1, ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        host_session session(row.events);
        auto* e = new exc_unmapped_t("f.cpp", 12, "bad [p[x]p]", row.error, 153);
        auto* copy = new exc_unmapped_t(*e);
        const std::string text = "bad [p[x]p]\nfile: f.cpp; line: 12; error: " + row.value;
        records expected;
        if (row.events & 0x800) expected.push_back({created, id, e, true, text});
        if (row.events & 0x40) expected.push_back({error_type, id + 0x100, nullptr, true, text});
        if (row.events & 0x800) {
            expected.insert(expected.end(), {{created, id, copy, true, "= " + pointer_text(e)},
                                             {destroyed, id, copy, false, ""},
                                             {destroyed, id, e, false, ""}});
        }
        delete copy;
        delete e;
        EXPECT_EQ(recorded_messages().size(), 2u);
        EXPECT_EQ(row.events == 0x40 ? recorded_traces() : exception_records(), expected);
    }
}

// The library throws a copy of the exception it builds: the handler sees
// the copy, the original goes as the stack unwinds.  Numbers are 32-bit on
// every target, and a null file shows as the C library prints it.
TEST(exception_trace, library_throws_a_copy) {
    host_session session(0x800);
    const void* handled = nullptr;
    try {
        exc_t::throw_posix_error(nullptr, 7, static_cast<unsigned long>(0x100000002ull));
    } catch (const exc_does_not_exist_t& e) {
        handled = &e;
    }
    const records r = exception_records();
    ASSERT_EQ(r.size(), 4u);
    const void* const built = r[0].object;
    EXPECT_NE(built, handled);
    EXPECT_EQ(r, (records{{created, 0x141B0000, built, true,
                           "does_not_exist (ENOENT)\nfile: (null); line: 7; error: 0x20030023 = 537067555"},
                          {created, 0x141B0000, handled, true, "= " + pointer_text(built)},
                          {destroyed, 0x141B0000, built, false, ""},
                          {destroyed, 0x141B0000, handled, false, ""}}));
}

}  // namespace
