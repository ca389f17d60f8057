// Catalogue messages: the block and the room offered to the host.  The
// marker rules and logging through the host message service (selectors,
// numbers, file names, inserts, the text behind the default name) are
// checked by the message fuzz target's model, over its committed seeds in
// every configuration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libutils/csgl/csgl_message.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

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

}  // namespace
