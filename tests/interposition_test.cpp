// A host that defines the trace service's event mask and record writer and
// the message service's PrintMessage itself: the library's records and
// messages must reach these definitions, while the symbols the program
// leaves undefined (getPrintedMessage, PrintDebugVa, trcInit) still come
// from the stand-in services.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "host/message.h"
#include "host/trc.h"
#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_message.hpp"

namespace {

struct record {
    unsigned long type;
    unsigned long id;
    const void* object;
    std::string data;
};

struct printed_message {
    int selector1;
    int selector2;
    int number;
    std::string name;  // numbers below 10 carry a name and a line
    int line;
    std::vector<std::string> params;
};

std::vector<record> records;
std::vector<printed_message> messages;

std::string text_of(const char* s) { return s ? s : "<null>"; }

std::vector<std::string> params(std::vector<std::string> given) {
    given.resize(10, "<null>");
    return given;
}

}  // namespace

extern "C" {

unsigned int trcEvents = 0;

int trcWriteRec(unsigned long type, unsigned long id, const void* object, unsigned long length,
                const void* data, unsigned long, unsigned long, unsigned long, unsigned long) {
    records.push_back({type, id, object,
                       data ? std::string(static_cast<const char*>(data), length) : ""});
    return 0;
}

int PrintMessage(int selector1, int selector2, int number, ...) {
    printed_message m{selector1, selector2, number, "", 0, {}};
    va_list args;
    va_start(args, number);
    if (number < 10) {
        m.name = text_of(va_arg(args, const char*));
        m.line = va_arg(args, int);
    }
    for (int i = 0; i < 10; ++i) m.params.push_back(text_of(va_arg(args, const char*)));
    va_end(args);
    messages.push_back(m);
    return 0;
}

// Defining the trace service's event mask here, next to the stand-in's, is
// the point of this program; AddressSanitizer would report the pair as a
// one-definition violation.
const char* __asan_default_options() { return "detect_odr_violation=0"; }

}  // extern "C"

namespace {

class interposition : public ::testing::Test {
protected:
    void SetUp() override {
        records.clear();
        messages.clear();
        trcEvents = 0;
    }
    void TearDown() override { trcEvents = 0; }

    static std::vector<record> find(unsigned long type, unsigned long id) {
        std::vector<record> found;
        for (const record& r : records)
            if (r.type == type && r.id == id) found.push_back(r);
        return found;
    }
};

TEST_F(interposition, trace_records_reach_the_program) {
    trcEvents = 0x800;
    const void* object = nullptr;
    {
        exc_t e("src/a.cpp", 10, "boom", 0x20000001, 0);
        object = &e;
        const std::vector<record> created = find(0x021E0000, 0x141B0000);
        ASSERT_EQ(created.size(), 1u);
        EXPECT_EQ(created[0].object, object);
        EXPECT_EQ(created[0].data, "boom\nfile: src/a.cpp; line: 10; error: 0x20000001 = 536870913");
        EXPECT_TRUE(find(0x021F0000, 0x141B0000).empty());
    }
    const std::vector<record> destroyed = find(0x021F0000, 0x141B0000);
    ASSERT_EQ(destroyed.size(), 1u);
    EXPECT_EQ(destroyed[0].object, object);
    EXPECT_TRUE(messages.empty());

    // The program's mask is the one the library reads.
    records.clear();
    trcEvents = 0;
    { exc_t quiet("src/a.cpp", 11, "quiet", 0x20000001, 0); }
    EXPECT_TRUE(records.empty());
}

TEST_F(interposition, exception_messages_reach_the_program) {
    exc_t e("src/thing.cpp", 77, "[p[alpha]p][p[beta]p]", 0x20000001, 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].selector1, 5);
    EXPECT_EQ(messages[0].selector2, 8);
    EXPECT_EQ(messages[0].number, 2);
    EXPECT_EQ(messages[0].name, "src/thing.cpp");
    EXPECT_EQ(messages[0].line, 77);
    EXPECT_EQ(messages[0].params, params({"alpha", "beta"}));
    // Formatted by the stand-in's catalogue entry 2, "%s: line %d: %s: %s".
    EXPECT_STREQ(e.msg.representation()->printed, "src/thing.cpp: line 77: alpha: beta");
    EXPECT_STREQ(e.msg.msg_string(), "alphabeta");
}

struct stand_in_case {
    const char* text;
    int number;
    const char* file;
    int line;
    const char* expected_name;  // empty: parameters only
    std::vector<std::string> expected_params;
    const char* expected_printed;
};

TEST_F(interposition, stand_in_formats_what_the_program_was_told) {
    const std::vector<stand_in_case> cases = {
        // Entry 1, "%s: line %d: %s": the view skips the default name.
        {"[p[hello]p]", 1, nullptr, 5, "ldap modify", {"hello"}, "line 5: hello"},
        {"[p[hello]p]", 1, "", 6, "ldap modify", {"hello"}, "line 6: hello"},
        // Entry 11, "entry %s has %s values", parameters only.
        {"[v[cn=x]v]Entry [v[=v=VAR=v=]v] has [p[3]p] values", -11, "src/b.cpp", 9, "",
         {"cn=x", "3"}, "entry cn=x has 3 values"},
        // Not in the catalogue: the stand-in's fixed text, cut to the 16
        // bytes offered for a text of 7 characters.
        {"[p[x]p]", -99, nullptr, 1, "", {"x"}, "message 99 is n"},
    };
    for (const stand_in_case& c : cases) {
        SCOPED_TRACE(c.text + (" / " + std::to_string(c.number)));
        messages.clear();
        csgl_message m(c.text, c.number, c.file, c.line);
        m.log(8, 5);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].selector1, 5);
        EXPECT_EQ(messages[0].selector2, 8);
        EXPECT_EQ(messages[0].number, c.number < 0 ? -c.number : c.number);
        EXPECT_EQ(messages[0].name, c.expected_name);
        if (c.number > 0) {
            EXPECT_EQ(messages[0].line, c.line);
        }
        EXPECT_EQ(messages[0].params, params(c.expected_params));
        EXPECT_STREQ(m.representation()->printed, c.expected_printed);
    }
}

}  // namespace
