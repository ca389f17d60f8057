// Catalogue messages: marker parsing, block sizes, logging through the host
// message service, and one body shared by all handles.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "libutils/csgl/csgl_message.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

using strings = std::vector<std::string>;

strings parameters_of(const csgl_message_* body) {
    EXPECT_LE(body->parameter_count, 10);
    for (int i = body->parameter_count; i < 10; ++i) EXPECT_EQ(body->parameters[i], nullptr) << i;
    return strings(body->parameters, body->parameters + std::min(body->parameter_count, 10));
}

strings ten(strings given) {
    given.resize(10, "<null>");
    return given;
}

const std::string v40(40, 'v');

TEST(message, markers) {
    struct row {
        const char* text;
        std::string expected;
        const char* variable;  // null: no leading variable, the area is not looked at
        strings parameters;
    };
    const std::string eleven = "[p[a]p] [p[b]p] [p[c]p] [p[d]p] [p[e]p] [p[f]p] [p[g]p] [p[h]p] "
                               "[p[i]p] [p[j]p] [p[k]p]";
    const std::string twice = "[v[" + v40 + "]v]<[v[=v=VAR=v=]v]|[v[=v=VAR=v=]v]>";
    const std::vector<row> rows = {
        {"no markers at all", "no markers at all", nullptr, {}},
        {nullptr, "", nullptr, {}},
        {"[v[cn=x]v]Entry [v[=v=VAR=v=]v] has [p[3]p] values", "Entry cn=x has 3 values", "cn=x",
         {"cn=x", "3"}},
        {"[v[cn=x]v]only text", "only text", "cn=x", {}},
        {"[v[]v]a[v[=v=VAR=v=]v]b", "ab", "", {""}},
        {"[v[cn=x has no end", "", "", {}},
        {"[v[cn=x]v", "", "", {}},
        {"Entry [v[=v=VAR=v=]v] gone", "Entry  gone", nullptr, {}},
        {"a [v[b", "a b", nullptr, {}},
        {"[v[X]v]a[v[=v=VAR=v=", "aX", "X", {"X"}},         // never past the end
        {"[v[X]v]a[v[=v=VAR=v=xyzb", "aXb", "X", {"X"}},     // "]v]" not tested
        {"[v[X]v]a=v=VAR=v=]v]", "a=v=VAR=v=]v]", "X", {}},
        {"[p[x", "x", nullptr, {}},
        {"x]p]y", "x]p]y", nullptr, {}},
        {"[p[a[p[b]p]c", "a[p[bc", nullptr, {"a[p[b"}},
        {"[v[V]v][p[a[v[=v=VAR=v=]v]b]p]", "aVb", "V", {"V", "ab"}},
        {"<[p[one]p]> and <[p[two]p]>", "<one> and <two>", nullptr, {"one", "two"}},
        {eleven.c_str(), "a b c d e f g h i j k", nullptr,
         {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
        {"[v[V]v][p[0]p][p[1]p][p[2]p][p[3]p][p[4]p][p[5]p][p[6]p][p[7]p][p[8]p][p[9]p]"
         "[v[=v=VAR=v=]v]",
         "0123456789V", "V", {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}},
        {twice.c_str(), "<" + v40 + "|" + v40 + ">", v40.c_str(), {v40, v40}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text ? r.text : "null");
        csgl_message m(r.text, 1, "f.cpp", 7);
        const csgl_message_* body = m.representation();
        EXPECT_EQ(m.msg_string(), body->block);
        EXPECT_EQ(m.msg_string(), r.expected);
        if (r.variable) {
            EXPECT_STREQ(body->variable, r.variable);
        }
        EXPECT_EQ(parameters_of(body), r.parameters);
        EXPECT_STREQ(body->printed, "");
    }
    // A reference records the variable itself.
    csgl_message m("[v[cn=x]v][v[=v=VAR=v=]v] and [v[=v=VAR=v=]v]", 1, "f", 1);
    EXPECT_EQ(m.representation()->parameters[0], m.representation()->variable);
    EXPECT_EQ(m.representation()->parameters[1], m.representation()->variable);
}

// 4 times the rounded need of file name, one byte and text; half of it is
// offered to the host, and a longer printed text is cut to fit.
TEST(message, block_sizes_and_capacity) {
    const std::string f3 = "abc", f100(100, 'f'), long_print(9000, 'p');
    const struct {
        unsigned int text_length;
        const char* file;
        unsigned int block_size;
    } rows[] = {{3, f3.c_str(), 32},  {0, nullptr, 32},      {0, "", 32},
                {7, nullptr, 32},     {8, nullptr, 64},      {5, f3.c_str(), 64},
                {1023, nullptr, 4096}, {1024, nullptr, 8192}, {2047, nullptr, 12288},
                {923, f100.c_str(), 4096}, {924, f100.c_str(), 8192}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text_length);
        host_session s;
        set_insert_layout(insert_layout::name_line_params);
        set_printed_text(long_print);
        const std::string text(r.text_length, 't');
        csgl_message m(text.c_str(), 1, r.file, 1);
        const csgl_message_* body = m.representation();
        EXPECT_EQ(body->block_size, r.block_size);
        EXPECT_EQ(m.msg_string(), text);
        m.log(8, 5);
        const std::vector<message_call> calls = recorded_messages();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[1].capacity, r.block_size / 2);
        EXPECT_EQ(body->printed, long_print.substr(0, r.block_size / 2 - 1));
        EXPECT_EQ(m.msg_string(), text);
    }
}

// A variable substituted twice makes the text longer than its marked-up
// form; the capacity stays that of the plain block (127 characters, no
// file: 128 bytes, block 512, 256 offered).
TEST(message, substitutions_get_room_of_their_own) {
    host_session s;
    set_insert_layout(insert_layout::name_line_params);
    const std::string long_print(400, 'p');
    set_printed_text(long_print);
    std::string text = "[v[" + v40 + "]v][v[=v=VAR=v=]v]-[v[=v=VAR=v=]v]";
    text += std::string(127 - text.size(), '.');
    const std::string expected = v40 + "-" + v40 + std::string(50, '.');
    csgl_message m(text.c_str(), 1, nullptr, 1);
    const csgl_message_* body = m.representation();
    EXPECT_EQ(m.msg_string(), expected);
    EXPECT_EQ(parameters_of(body), (strings{v40, v40}));
    m.log(8, 5);
    const std::vector<message_call> calls = recorded_messages();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].capacity, 256u);
    EXPECT_LE(body->printed - body->block + 256, static_cast<long>(body->block_size));
    EXPECT_EQ(body->printed, long_print.substr(0, 255));
    EXPECT_EQ(m.msg_string(), expected);
    EXPECT_STREQ(body->variable, v40.c_str());
}

TEST(message, log) {
    // With it the text has 75 characters: a block of 512 for every file below.
    const std::string room = " and a text long enough for a larger block";
    struct row {
        int number;
        const char* file;
        const char* host_text;
        insert_layout layout;
        int expected_number;
        const char* expected_name;
        const char* expected_printed;
    };
    const row rows[] = {
        {2, "src/x.cpp", "x ldap modify: hi", insert_layout::name_line_params, 2, "src/x.cpp",
         "x ldap modify: hi"},
        {1, nullptr, "x ldap modify: hello", insert_layout::name_line_params, 1, "ldap modify",
         "hello"},
        {1, "", "x ldap modify: hello", insert_layout::name_line_params, 1, "ldap modify",
         "hello"},
        {1, nullptr, "ldap modify: a ldap modify: b", insert_layout::name_line_params, 1,
         "ldap modify", "a ldap modify: b"},
        {1, nullptr, "ldap modify:no blank", insert_layout::name_line_params, 1, "ldap modify",
         "ldap modify:no blank"},
        {1, "", "ends in ldap modify: ", insert_layout::name_line_params, 1, "ldap modify", ""},
        {-153, "f.cpp", "The limit.", insert_layout::params, 153, "", "The limit."},
        {-153, nullptr, "x ldap modify: y", insert_layout::params, 153, "", "x ldap modify: y"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.number) + " " + r.host_text);
        host_session s;
        set_insert_layout(r.layout);
        set_printed_text(r.host_text);
        csgl_message m(("[v[cn=x]v][p[a]p] [v[=v=VAR=v=]v]" + room).c_str(), r.number, r.file, 42);
        // Twice: each log formats afresh from the start of the printed area.
        m.log(8, 5);
        const char* const view = m.representation()->printed;
        EXPECT_STREQ(view, r.expected_printed);
        m.log(8, 5);
        EXPECT_EQ(m.representation()->printed, view);
        const std::vector<message_call> calls = recorded_messages();
        ASSERT_EQ(calls.size(), 4u);
        for (std::size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].printed, i % 2 == 0);
            EXPECT_EQ(calls[i].selector1, 5);
            EXPECT_EQ(calls[i].selector2, 8);
            EXPECT_EQ(calls[i].number, r.expected_number);
            EXPECT_EQ(calls[i].name, r.expected_name);
            EXPECT_EQ(calls[i].int_insert, r.number > 0 ? 42 : 0);
            EXPECT_EQ(calls[i].params, ten({"a", "cn=x"}));
            EXPECT_EQ(calls[i].capacity, i % 2 == 0 ? 0u : 256u);
        }
    }
    // Other selectors arrive swapped the same way.
    host_session s;
    csgl_message m("x", 3, "f", 1);
    m.log(3, -1);
    const std::vector<message_call> calls = recorded_messages();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].selector1, -1);
    EXPECT_EQ(calls[1].selector2, 3);
    // Number 0 prints nothing, whatever the text.
    clear_recorded();
    for (const char* text : {"plain", "[p[a]p]", "", static_cast<const char*>(nullptr)}) {
        csgl_message quiet(text, 0, "f.cpp", 1);
        quiet.log(8, 5);
        EXPECT_STREQ(quiet.representation()->printed, "");
    }
    EXPECT_TRUE(recorded_messages().empty());
}

// Copies share the body.  With object records on, the body's reference
// counter writes its destruction record when the body goes: with its last
// handle, not before.
TEST(message, body_shared_and_freed_with_its_last_handle) {
    host_session s(0x800);
    const auto counters = [](unsigned long type) {
        std::vector<const void*> objects;
        for (const trace_record& r : recorded_traces())
            if (r.type == type && r.id == 0x14110000) objects.push_back(r.object);
        return objects;
    };
    std::optional<csgl_message> first;
    first.emplace("[p[a]p]", 1, "f", 1);
    const csgl_message_* body = first->representation();
    const std::vector<const void*> created = counters(0x021E0000);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_GE(created[0], static_cast<const void*>(body));
    EXPECT_LT(created[0], static_cast<const void*>(body + 1));
    {
        std::optional<csgl_message> second(*first);
        csgl_message third("x", 1, "g", 1);
        EXPECT_NE(third.representation(), body);
        third = *second;  // third's own body goes here
        const csgl_message& same = third;
        third = same;
        EXPECT_EQ(second->representation(), body);
        EXPECT_EQ(third.representation(), body);
        ASSERT_EQ(counters(0x021F0000).size(), 1u);
        EXPECT_NE(counters(0x021F0000)[0], created[0]);
        first.reset();
        second.reset();
        EXPECT_EQ(counters(0x021F0000).size(), 1u);
        EXPECT_STREQ(third.msg_string(), "a");
    }
    const std::vector<const void*> destroyed = counters(0x021F0000);
    ASSERT_EQ(destroyed.size(), 2u);
    EXPECT_EQ(destroyed[1], created[0]);
}

}  // namespace
