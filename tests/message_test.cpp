// Catalogue messages: the room a text gets when variable references make it
// outgrow its area.  The marker rules, the block of every other text and
// logging through the host message service (selectors, numbers, file names,
// inserts, the room offered, the text behind the default name) are checked
// by the message fuzz target's model, over its committed seeds in every
// configuration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libutils/csgl/csgl_message.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

// A text of 127 characters, 131 after substitution.  Both areas grow by the
// same room, reckoned with 12 characters taken out per reference, the least
// a reference takes, and the block is 4 times one of them.  The host is
// offered half the block, and a longer printed text is cut to fit.
TEST(message, references_grow_the_block) {
    const std::string v40(40, 'v'), ref = "[v[=v=VAR=v=]v]", long_print(9000, 'p');
    std::string text = "[v[" + v40 + "]v]" + ref + "-" + ref;
    text += std::string(127 - text.size(), '.');
    host_session s;
    set_insert_layout(insert_layout::name_line_params);
    set_printed_text(long_print);
    csgl_message m(text.c_str(), 1, nullptr, 1);
    const csgl_message_* body = m.representation();
    EXPECT_EQ(body->block_size, 552u);
    EXPECT_EQ(body->variable - body->block, 138);
    EXPECT_EQ(body->printed - body->block, 276);
    m.log(8, 5);
    const std::vector<message_call> calls = recorded_messages();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].capacity, 276u);
    EXPECT_EQ(body->printed, long_print.substr(0, 275));
    EXPECT_EQ(m.msg_string(), v40 + "-" + v40 + std::string(50, '.'));
}

}  // namespace
