// Strings: block sizes, searching and comparing, sharing of representations,
// the in-place representation operations and the plain C-string helpers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "libutils/csgl/csgl_local.hpp"
#include "libutils/csgl/csgl_str.hpp"
#include "libutils/csgl/csgl_string.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

constexpr unsigned int npos = 0xFFFFFFFFu;
constexpr unsigned long created = 0x021E0000, destroyed = 0x021F0000;
constexpr unsigned long value_id = 0x14110000, lock_id = 0x14120000, monitor_id = 0x14140000;

std::string pointer_text(const void* p) {
    char text[40];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

// Records of the counter and lock of representations, as readable lines.
std::vector<std::string> lifecycle(unsigned long type) {
    std::vector<std::string> lines;
    for (const trace_record& r : recorded_traces()) {
        if (r.type != type || (r.id != value_id && r.id != lock_id)) continue;
        char head[64];
        std::snprintf(head, sizeof head, "%08lx %08lx ", r.type, r.id);
        lines.push_back(head + pointer_text(r.object) + (r.has_data ? " " + r.data : ""));
    }
    return lines;
}

TEST(string, capacity_follows_need) {
    const struct { unsigned int length, capacity; } rows[] = {
        {0, 8}, {7, 8}, {8, 16}, {1023, 1024}, {1024, 2048}, {2047, 3072}, {2999, 3072}};
    for (const auto& row : rows) {
        const std::string text(row.length, 'x');
        const csgl_string s(text.c_str());
        EXPECT_EQ(s.representation()->capacity, row.capacity) << row.length;
        EXPECT_EQ(s.length(), row.length);
        EXPECT_EQ(s.c_str(), text);
    }
    // Parts: each stops at its limit or its NUL; the block is sized from the
    // limits asked for.
    const csgl_string ac("a\0b", 3, "c", 1);
    EXPECT_STREQ(ac.c_str(), "ac");
    EXPECT_EQ(ac.size(), 2u);
    EXPECT_EQ(ac.representation()->capacity, 8u);
    const csgl_string abxyz("abc", 2, "xyz", 5);
    EXPECT_STREQ(abxyz, "abxyz");
    EXPECT_EQ(abxyz.representation()->capacity, 8u);
    const csgl_string short_text("ab", 100, "", 0);
    EXPECT_EQ(short_text.length(), 2u);
    EXPECT_EQ(short_text.representation()->capacity, 128u);
}

TEST(string, find_and_rfind) {
    const struct { const char* text; bool forward; char c; unsigned int pos, expected; } rows[] = {
        {"abca", true, 'a', 0, 0},       {"abca", true, 'a', 1, 3},   {"abca", true, 'c', 2, 2},
        {"abca", true, 'z', 0, npos},    {"abca", true, '\0', 0, 4},  {"abca", true, '\0', 4, 4},
        {"abca", true, 'a', 4, npos},    {"abca", true, 'a', 5, npos},
        {"abca", false, 'a', npos, 3},   {"abca", false, 'a', 2, 0},  {"abca", false, 'c', 3, 2},
        {"abca", false, '\0', npos, 4},  {"abca", false, 'a', 0, 0},  {"abca", false, 'b', 0, npos},
        {"abca", false, 'z', npos, npos},
        {"", true, 'x', 0, npos},        {"", true, '\0', 0, 0},      {"", true, 'x', 1, npos},
        {"", false, 'x', npos, npos},    {"", false, '\0', npos, 0},
    };
    for (const auto& row : rows) {
        const csgl_string s(row.text);
        const unsigned int found = row.forward ? s.find(row.c, row.pos) : s.rfind(row.c, row.pos);
        EXPECT_EQ(found, row.expected) << '"' << row.text << "\" " << (row.forward ? "find" : "rfind")
                                       << " '" << row.c << "' from " << row.pos;
    }
}

TEST(string, compare_and_ci_compare) {
    const struct { const char *a, *b; int expected; } ordered[] = {
        {"abc", "abd", -1}, {"abd", "abc", 1}, {"ab", "abc", -1}, {"abc", "ab", 1},
        {"", "", 0},        {"abc", "abc", 0}, {"a", "", 1},      {"\xE9t\xE9", "a", -1},
        {"\xE9", "", -1},   {"", "\xE9", 1},   {"zzz", "a", 1},
    };
    for (const auto& row : ordered) {
        EXPECT_EQ(csgl_string::compare(row.a, row.b), row.expected) << row.a << " / " << row.b;
    }
    const struct { const char *a, *b; int expected; } folded[] = {
        {"abc", "abd", -1}, {"ABC", "abc", 0}, {"a", "", 97},  {"", "A", -97},
        {"abC", "ABd", -1}, {"Z", "a", 25},    {"ab", "AB", 0}, {"ab", "ABC", -99},
    };
    for (const auto& row : folded) {
        EXPECT_EQ(csgl_str_ci_compare(row.a, row.b), row.expected) << row.a << " / " << row.b;
    }
}

TEST(string, empty_and_null_texts) {
    const csgl_string a, b, from_empty(""), from_null(static_cast<const char*>(nullptr));
    const csgl_string parts_null(nullptr, 0, nullptr, 0);
    EXPECT_EQ(a.representation(), b.representation());
    EXPECT_NE(from_empty.representation(), a.representation());
    EXPECT_NE(from_null.representation(), a.representation());
    for (const csgl_string* s : {&a, &from_empty, &from_null, &parts_null}) {
        ASSERT_NE(s->c_str(), nullptr);
        EXPECT_STREQ(s->c_str(), "");
        EXPECT_EQ(s->length(), 0u);
        EXPECT_EQ(s->representation()->capacity, 8u);
    }
    EXPECT_EQ(csgl_string_::get_length(nullptr), 0u);
    EXPECT_EQ(csgl_string_::get_length("abc"), 3u);
}

TEST(string, concatenation_leaves_operands) {
    const csgl_string s("abc");
    const csgl_string_* rep = s.representation();
    const struct { csgl_string result; const char* expected; } rows[] = {
        {s + static_cast<const char*>(nullptr), "abc"},
        {s + '\0', "abc"},
        {s + "de", "abcde"},
        {s + 'x', "abcx"},
        {"<" + s, "<abc"},
        {static_cast<const char*>(nullptr) + s, "abc"},
        {csgl_string() + "", ""},
    };
    for (const auto& row : rows) {
        EXPECT_STREQ(row.result.c_str(), row.expected);
        EXPECT_EQ(row.result.length(), std::string(row.expected).size());
        EXPECT_NE(row.result.representation(), rep);
    }
    EXPECT_EQ(s.representation(), rep);
    EXPECT_STREQ(s, "abc");
    EXPECT_EQ(s.length(), 3u);
}

TEST(string, copy_is_one_counter_step) {
    const csgl_string a("shared");
    host_session session(0x800);
    const csgl_string b(a);
    EXPECT_EQ(b.representation(), a.representation());
    const std::vector<trace_record> records = recorded_traces();
    ASSERT_EQ(records.size(), 2u);  // one monitor around one increment, no allocation
    EXPECT_EQ(records[0].type, created);
    EXPECT_EQ(records[0].id, monitor_id);
    EXPECT_EQ(records[1].type, destroyed);
    EXPECT_EQ(records[1].id, monitor_id);
    EXPECT_EQ(records[1].object, records[0].object);
}

TEST(string, assignment_and_release) {
    host_session session(0x800);
    csgl_string a("one");
    // The counter is built after its lock; both lie inside the representation.
    const std::vector<std::string> built = lifecycle(created);
    ASSERT_EQ(built.size(), 2u);
    const std::vector<trace_record> records = recorded_traces();
    const void* lock = records[0].object;
    const void* counter = records[1].object;
    EXPECT_EQ(built[0], "021e0000 14120000 " + pointer_text(lock));
    EXPECT_EQ(built[1], "021e0000 14110000 " + pointer_text(counter) + " 0");
    const char* rep = reinterpret_cast<const char*>(a.representation());
    for (const void* p : {lock, counter}) {
        EXPECT_GE(static_cast<const char*>(p), rep);
        EXPECT_LT(static_cast<const char*>(p), rep + sizeof(csgl_string_));
    }

    const csgl_string_* rep_one = a.representation();
    csgl_string& self = a;
    a = self;
    csgl_string b(a);
    a = b;
    b = a;
    EXPECT_EQ(a.representation(), rep_one);
    EXPECT_STREQ(a, "one");
    EXPECT_STREQ(b, "one");
    EXPECT_TRUE(lifecycle(destroyed).empty());

    b = csgl_string("two");
    EXPECT_STREQ(b, "two");
    EXPECT_TRUE(lifecycle(destroyed).empty());  // `a` still holds "one"
    a = b;                                      // the last handle of "one" goes
    EXPECT_STREQ(a, "two");
    EXPECT_EQ(lifecycle(destroyed), (std::vector<std::string>{
                                        "021f0000 14120000 " + pointer_text(lock),
                                        "021f0000 14110000 " + pointer_text(counter)}));
}

TEST(string, representation_assign_and_append) {
    csgl_string_ r("abc");
    const struct { bool append; const char* s; unsigned int n; const char* text; unsigned int capacity; }
        steps[] = {
            {false, "1234567", 7, "1234567", 8},          // need 8: fits
            {false, "12345678", 8, "12345678", 16},       // need 9: grows
            {false, "x", 1, "x", 16},                     // never shrinks
            {false, "ab\0cd", 5, "ab", 16},               // stops at NUL
            {false, "abcdef", 3, "abc", 16},              // stops at the limit
            {false, nullptr, 0, "", 16},                  // reads nothing
            {true, "abcdefghijklmno", 15, "abcdefghijklmno", 16},
            {true, "p", 1, "abcdefghijklmnop", 32},
            {true, "q\0r", 3, "abcdefghijklmnopq", 32},
            {true, "s", 100, "abcdefghijklmnopqs", 128},  // sized from the limit
            {false, "z", 1, "z", 128},
        };
    EXPECT_EQ(r.capacity, 8u);
    for (const auto& step : steps) {
        if (step.append) {
            r.append(step.s, step.n);
        } else {
            r.assign(step.s, step.n);
        }
        EXPECT_STREQ(r.text, step.text) << step.text;
        EXPECT_EQ(r.length(), std::string(step.text).size()) << step.text;
        EXPECT_EQ(r.capacity, step.capacity) << step.text;
    }
    const std::string long_text(2100, 'L');
    r.append(long_text.c_str(), 1100);  // need 1 + 1100 + 1 = 1102
    EXPECT_EQ(r.capacity, 2048u);
    EXPECT_EQ(std::string(r.text), "z" + long_text.substr(0, 1100));
    r.assign(long_text.c_str(), 2047);  // need 2048: fits exactly
    EXPECT_EQ(r.capacity, 2048u);
    EXPECT_EQ(std::string(r.text), long_text.substr(0, 2047));
    csgl_string_ fresh("");
    fresh.assign(long_text.c_str(), 2047);  // need 2048: a whole step above
    EXPECT_EQ(fresh.capacity, 3072u);
    EXPECT_EQ(fresh.length(), 2047u);
}

TEST(string, plain_helpers) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(csgl_str_copy(buffer, "abc"), buffer);
    EXPECT_EQ(csgl_str_concat(buffer, "de"), buffer);
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(buffer[6], '#');
    EXPECT_EQ(csgl_str_length(buffer), 5u);
    EXPECT_EQ(csgl_str_length(""), 0u);
    csgl_str_zero(buffer + 1, 3);
    EXPECT_EQ(std::string(buffer, 7), std::string("a\0\0\0e\0#", 7));
}

TEST(string, local_array) {
    static_assert(!std::is_copy_constructible_v<csgl_local_array_of<int>>);
    static_assert(!std::is_copy_assignable_v<csgl_local_array_of<int>>);
    csgl_local_array_of<int> numbers(5);
    for (int i = 0; i < 5; ++i) numbers[i] = i * i;
    const int* raw = numbers;
    EXPECT_EQ(&numbers[3], raw + 3);
    EXPECT_EQ(std::vector<int>(raw, raw + 5), (std::vector<int>{0, 1, 4, 9, 16}));
    csgl_local_array_of<char> none(0);
    EXPECT_NE(static_cast<char*>(none), nullptr);
}

}  // namespace
