// Exceptions: the class tree, the mapping of error numbers onto it, and
// what building and copying an exception writes to the host's trace and
// message services.  What is expected is written here as the library
// documents it: a few classes of each family with their bases, codes and
// error numbers, and numbers that no class stands for.
#include <cxxabi.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <typeinfo>
#include <vector>

#include "libutils/csgl/csgl_exc.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

const char* const site = "site.cpp";  // exceptions keep this pointer, not a copy

std::string said(const std::string& lineage, unsigned long error, int line,
                 const std::string& text) {
    char middle[40];
    std::snprintf(middle, sizeof middle, ": %#lx %d ", error, line);
    return lineage + middle + text;
}

// What `call` throws: its class and the bases up to exc_t, named without
// "exc_" and "_t" ("does_not_exist < maybe"), then error, line and text.
std::string thrown_by(const std::function<void()>& call) {
    try {
        call();
    } catch (const exc_t& e) {
        EXPECT_EQ(e.file, site);  // the same pointer
        std::string lineage;
        for (const std::type_info* type = &typeid(e); *type != typeid(exc_t);) {
            const std::string name = type->name();  // the length, then the name
            lineage += (lineage.empty() ? "" : " < ") + name.substr(name.find("exc_") + 4);
            lineage.resize(lineage.size() - 2);
            const auto* single = dynamic_cast<const abi::__si_class_type_info*>(type);
            type = single ? single->__base_type : &typeid(exc_t);
        }
        return said(lineage, e.error, e.line, e.message().msg_string());
    }
    return "nothing";
}

// The operating-system throwers: posix, tcpip, and the last tcpip error (errno).
using thrower = void (*)(const char*, int, unsigned long);
const thrower posix_throwers[] = {exc_t::throw_posix_error, exc_t::throw_tcpip_error,
                                  [](const char* file, int line, unsigned long number) {
                                      errno = static_cast<int>(number);
                                      exc_t::throw_last_tcpip_error(file, line);
                                  }};

// A few classes of each family: class and bases, fixed code, and an error
// number mapped onto the class (0: none).  A csgl code throws its class
// with the caller's text (only its low 32 bits count); an error number its
// class with the text "<class> (<name>)", and never a catalogue message.
// Codes and numbers without a class, and every foreign code, throw
// exc_unmapped_t carrying them; 0 is no error: nothing is thrown.  Built
// directly, form A keeps the caller's code, cut to 32 bits, whatever the
// class; form B gives the class's own.
TEST(exception_mapping, classes) {
    {
        const host_session forms;
        const unsigned long wide = static_cast<unsigned long>(0x120030009ull);
        EXPECT_EQ(thrown_by([] { throw exc_invalid_state_t(site, 12, "x [p[y]p]", 153); }),
                  "invalid_state < logic: 0x20030013 12 x y");
        EXPECT_EQ(thrown_by([&] { throw exc_invalid_state_t(site, 12, "x", wide, 153); }),
                  "invalid_state < logic: 0x20030009 12 x");
        EXPECT_EQ(thrown_by([] { throw exc_timing_t(site, 12, "x", 7, 153); }),
                  "timing < runtime: 0x7 12 x");
        EXPECT_EQ(recorded_messages().size(), 6u);  // each logs its message, printed and fetched
    }
    host_session session;
#define ROW(lineage, code, number) std::make_tuple(lineage, code, number, #number)
    const std::tuple<std::string, unsigned long, unsigned long, std::string> rows[] = {
        ROW("not_enough_handles < not_enough_resources < runtime", 0x2003001D, ENOLCK),
        ROW("not_enough_memory < not_enough_resources < runtime", 0x20000001, ENOMEM),
        ROW("owner_died < runtime", 0x20030021, 0),
        ROW("object_busy < timing < runtime", 0x2003001F, ETXTBSY),
        ROW("timeout < timing < runtime", 0x20000002, 0),
        ROW("unexpected", 0x20030026, 0),
        ROW("does_not_exist < maybe", 0x20030023, EIDRM),
        ROW("permission_denied < maybe", 0x20030025, EROFS),
        ROW("state_underflow < invalid_state < logic", 0x20030014, 0),
        ROW("invalid_parameter < logic", 0x20000000, EINVAL),
        ROW("domain_overflow < invalid_parameter < logic", 0x2003000F, E2BIG),
        ROW("unexpected_end_of_input < domain_underflow < invalid_parameter < logic", 0x2003000E, 0),
        ROW("range_overflow < out_of_range < logic", 0x2003000B, EOVERFLOW),
        ROW("not_implemented < assertion_failed < logic", 0x20030008, ENOTSUP),
        ROW("invalid_token < input", 0x20030000, 0),
        ROW("unmapped", 0x20030002, EISDIR), ROW("unmapped", 0x2003001A, 140),
        ROW("unmapped", 0x20030027, 0), ROW("unmapped", 0x20000003, 0),
        ROW("unmapped", 0x20010000, 0), ROW("unmapped", 0xFFFFFFFF, 0xFFFFFFFF),
        ROW("unmapped", 1, 0), ROW("unmapped", 0x1FFFFFFF, 0)};
#undef ROW
    for (const auto& [lineage, code, number, name] : rows) {
        const unsigned long wide = code | static_cast<unsigned long>(0x500000000ull);
        EXPECT_EQ(thrown_by([&] { exc_t::throw_csgl_error(site, 31, wide, "as [p[given]p]"); }),
                  said(lineage, code, 31, "as given"));
        EXPECT_EQ(thrown_by([&, code = code] { exc_t::throw_cspl_error(site, 40, code); }),
                  said("unmapped", code, 40, "unmapped CSPL error"));
        const std::string text = lineage == "unmapped"
                                     ? "unmapped LINUX2 error"
                                     : lineage.substr(0, lineage.find(' ')) + " (" + name + ")";
        if (number == 0) continue;
        for (const thrower call : posix_throwers)
            EXPECT_EQ(thrown_by([&, number = number] { call(site, 7, number); }),
                      said(lineage, lineage == "unmapped" ? number : code, 7, text));
    }
    EXPECT_EQ(thrown_by([] { exc_t::throw_csgl_error(site, 9, 0, "t"); }), "nothing");
    EXPECT_EQ(thrown_by([] { exc_t::throw_cspl_error(site, 9, 0); }), "nothing");
    for (const thrower call : posix_throwers)
        EXPECT_EQ(thrown_by([&] { call(site, 9, 0); }), "nothing");
    EXPECT_TRUE(recorded_messages().empty());
    int object = 0;  // exc_if_no_mem throws only for a null pointer
    EXPECT_EQ(exc_if_no_mem(site, 50, &object), &object);
    EXPECT_EQ(thrown_by([] { exc_if_no_mem<char>(site, 51, nullptr); }),
              said("not_enough_memory < not_enough_resources < runtime", 0x20000001, 51,
                   "not enough memory"));
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
// copy's creation record names its source.  The catalogue message is
// logged once, the copy logs none: printed, then fetched.
TEST(exception_trace, records_by_event_bits_and_of_the_thrown_copy) {
    constexpr unsigned long error_type = 0x02070000, id = 0x141B0000;
    using call = std::tuple<bool, int, int, int, std::string, int, std::string>;
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
        if (row.events & 0x800)
            expected.insert(expected.end(), {{created, id, copy, true, "= " + pointer_text(e)},
                                             {destroyed, id, copy, false, ""},
                                             {destroyed, id, e, false, ""}});
        delete copy;
        delete e;
        std::vector<call> calls;
        for (const message_call& m : recorded_messages())
            calls.emplace_back(m.printed, m.selector1, m.selector2, m.number, m.name, m.int_insert,
                               m.params.at(0));
        EXPECT_EQ(calls, (std::vector<call>{{true, 5, 8, 153, "f.cpp", 12, "x"},
                                            {false, 5, 8, 153, "f.cpp", 12, "x"}}));
        EXPECT_EQ(row.events == 0x40 ? recorded_traces() : exception_records(), expected);
    }
    // The library throws a copy of the exception it builds: the handler sees
    // the copy, the original goes as the stack unwinds.  Numbers are 32-bit
    // on every target, and a null file shows as the C library prints it.
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
    EXPECT_EQ(r, (records{{created, id, built, true,
                  "does_not_exist (ENOENT)\nfile: (null); line: 7; error: 0x20030023 = 537067555"},
                 {created, id, handled, true, "= " + pointer_text(built)},
                 {destroyed, id, built, false, ""}, {destroyed, id, handled, false, ""}}));
}

}  // namespace
