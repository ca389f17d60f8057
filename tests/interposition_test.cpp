// A host that defines the trace service's event mask and record writer and
// the message service's PrintMessage itself: the library's records and
// messages must reach these definitions, while the symbols the program
// leaves undefined (getPrintedMessage, PrintDebugVa, trcInit) still come
// from the stand-in services.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <tuple>
#include <vector>

#include "host/message.h"
#include "host/trc.h"
#include "libutils/csgl/csgl_exc.hpp"

// What the program received: the exception class's records (type, object,
// data), and the messages as "selectors number: name line texts".
using record = std::tuple<unsigned long, const void*, std::string>;
static std::vector<record> records;
static std::vector<std::string> messages;

static std::string text_of(const char* s) { return s ? s : "-"; }

extern "C" {

// Defining the trace service's event mask here, next to the stand-in's, is
// the point of this program; AddressSanitizer would report the pair as a
// one-definition violation.
const char* __asan_default_options() { return "detect_odr_violation=0"; }

unsigned int trcEvents = 0;

int trcWriteRec(unsigned long type, unsigned long id, const void* object, unsigned long length,
                const void* data, unsigned long, unsigned long, unsigned long, unsigned long) {
    const char* bytes = static_cast<const char*>(data);
    if (id == 0x141B0000)
        records.emplace_back(type, object, bytes ? std::string(bytes, length) : "");
    return 0;
}

// The library's exception messages carry a file name, a line and ten texts.
int PrintMessage(int selector1, int selector2, int number, ...) {
    va_list args;
    va_start(args, number);
    std::string m = std::to_string(selector1) + "," + std::to_string(selector2) + " " +
                    std::to_string(number) + ": " + text_of(va_arg(args, const char*));
    m += " " + std::to_string(va_arg(args, int));
    for (int i = 0; i < 10; ++i) m += " " + text_of(va_arg(args, const char*));
    va_end(args);
    messages.push_back(m);
    return 0;
}

}  // extern "C"

TEST(interposition, library_calls_reach_the_program) {
    const void* object = nullptr;
    trcEvents = 0x800;
    {
        exc_t e("f.cpp", 7, "[p[a]p][p[b]p]", 0x20000001, 2);
        object = &e;
        // The stand-in's getPrintedMessage formats entry 2, "%s: line %d: %s: %s".
        EXPECT_STREQ(e.msg.representation()->printed, "f.cpp: line 7: a: b");
    }
    // The program's mask is the one the library reads.
    trcEvents = 0;
    { exc_t quiet("f.cpp", 8, "quiet", 0x20000001, 0); }
    const char* created = "[p[a]p][p[b]p]\nfile: f.cpp; line: 7; error: 0x20000001 = 536870913";
    EXPECT_EQ(records,
              (std::vector<record>{{0x021E0000, object, created}, {0x021F0000, object, ""}}));
    EXPECT_EQ(messages, std::vector<std::string>{"5,8 2: f.cpp 7 a b - - - - - - - -"});
}
