// Catalogue messages: the block and the room offered to the host, and
// logging through the host message service.  The marker rules are checked
// by the message fuzz target's model, over its committed seeds in every
// configuration.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "libutils/csgl/csgl_message.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

using strings = std::vector<std::string>;
const std::string v40(40, 'v'), ref = "[v[=v=VAR=v=]v]";

// The block is 4 times the rounded need of file name, one byte and text,
// laid out as text area, parameter area (each one byte longer than the
// text) and printed area.  When substitutions make the text longer, both
// areas grow by the same room and the block is 4 times one of them.  The
// host is offered half the block, and a longer printed text is cut to fit.
// The message fuzz target's seeds hold the blocks' boundaries.
TEST(message, block_and_room_offered) {
    const std::string long_print(9000, 'p'), t(2047, 't');
    std::string twice = "[v[" + v40 + "]v]" + ref + "-" + ref;  // 127 characters: 128 bytes
    twice += std::string(127 - twice.size(), '.');
    const std::string example = "[v[cn=x]v]Entry " + ref + " has [p[3]p] values";
    const struct { std::string text; const char* file; unsigned int block, offered; std::string shown = "";
                   unsigned int growth = 0; }
        rows[] = {
        {"", nullptr, 32, 16},        {t, nullptr, 12288, 6144},
        {example, "abc", 256, 128, "Entry cn=x has 3 values"},
        // 131 characters after substitution; the room is reckoned with
        // 12 characters taken out per reference, the least a reference takes.
        {twice, nullptr, 552, 276, v40 + "-" + v40 + std::string(50, '.'), 10},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text.size());
        host_session s;
        set_insert_layout(insert_layout::name_line_params);
        set_printed_text(long_print);
        csgl_message m(r.text.c_str(), 1, r.file, 1);
        const csgl_message_* body = m.representation();
        EXPECT_EQ(body->block_size, r.block);
        EXPECT_EQ(body->variable - body->block, r.text.size() + 1 + r.growth);
        EXPECT_EQ(body->printed - body->block, 2 * (body->variable - body->block));
        m.log(8, 5);
        const std::vector<message_call> calls = recorded_messages();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[1].capacity, r.offered);
        EXPECT_EQ(body->printed, long_print.substr(0, r.offered - 1));
        EXPECT_EQ(m.msg_string(), r.shown.empty() ? r.text : r.shown);  // empty: the text itself
    }
}

// The selectors reach the host swapped; positive numbers come with the file
// name (a default when there is none, cut from the printed text) and line,
// negative ones as their magnitude with the inserts only.
TEST(message, log) {
    // With it the text has 75 characters: a block of 512 for every file below.
    const std::string text = "[v[cn=x]v][p[a]p] " + ref + " and a text long enough for a larger block";
    const struct { int number; const char *file, *host_text, *name, *printed; } rows[] = {
        {2, "src/x.cpp", "x ldap modify: hi", "src/x.cpp", "x ldap modify: hi"},
        {1, nullptr, "x ldap modify: hello", "ldap modify", "hello"},
        {1, "", "x ldap modify: hello", "ldap modify", "hello"},
        {1, nullptr, "ldap modify: a ldap modify: b", "ldap modify", "a ldap modify: b"},
        {1, nullptr, "ldap modify:no blank", "ldap modify", "ldap modify:no blank"},
        {1, "", "ends in ldap modify: ", "ldap modify", ""},
        {-153, "f.cpp", "The limit.", "", "The limit."},
        {-153, nullptr, "x ldap modify: y", "", "x ldap modify: y"},
        {0, "f.cpp", "x", "", ""},  // nothing at all
    };
    strings inserts{"a", "cn=x"};
    inserts.resize(10, "<null>");
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.number) + " " + r.host_text);
        host_session s;
        set_insert_layout(r.number > 0 ? insert_layout::name_line_params : insert_layout::params);
        set_printed_text(r.host_text);
        csgl_message m(text.c_str(), r.number, r.file, 42);
        // Twice: each log formats afresh from the start of the printed area.
        m.log(8, 5);
        const char* const view = m.representation()->printed;
        EXPECT_STREQ(view, r.printed);
        m.log(8, 5);
        EXPECT_EQ(m.representation()->printed, view);
        const std::vector<message_call> calls = recorded_messages();
        ASSERT_EQ(calls.size(), r.number ? 4u : 0u);
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const message_call& c = calls[i];
            EXPECT_EQ(std::tie(c.printed, c.selector1, c.selector2, c.number, c.capacity, c.int_insert,
                               c.name, c.params),
                      std::make_tuple(i % 2 == 0, 5, 8, std::abs(r.number), i % 2 ? 256u : 0u,
                                      r.number > 0 ? 42 : 0, std::string(r.name), inserts)) << i;
        }
    }
}

}  // namespace
