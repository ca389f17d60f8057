// Strings: block sizes, searching and comparing, concatenation, null texts
// and the in-place representation operations.  Sharing and releasing
// representations, threads included, is in sync_test.
#include <gtest/gtest.h>

#include <string>

#include "libutils/csgl/csgl_str.hpp"
#include "libutils/csgl/csgl_string.hpp"

namespace {

constexpr unsigned int npos = csgl_string::npos;

// Each part stops at its limit or its NUL; the block is sized from the
// limits asked for.
TEST(string, block_sizes) {
    const std::string x(2999, 'x');
    const struct { const char* a; unsigned int la; const char* b; unsigned int lb; std::string text;
                   unsigned int capacity; } rows[] = {
        {x.c_str(), 7, "", 0, x.substr(0, 7), 8}, {x.c_str(), 8, "", 0, x.substr(0, 8), 16},
        {x.c_str(), 1023, "", 0, x.substr(0, 1023), 1024}, {x.c_str(), 1024, "", 0, x.substr(0, 1024), 2048},
        {x.c_str(), 2000, x.c_str(), 47, x.substr(0, 2047), 3072}, {x.c_str(), 2999, "", 0, x, 3072},
        {"a\0b", 3, "c", 1, "ac", 8}, {"abc", 2, "xyz", 5, "abxyz", 8}, {"ab", 100, "", 0, "ab", 128},
        {nullptr, 0, nullptr, 0, "", 8}};
    for (const auto& row : rows) {
        const csgl_string s(row.a, row.la, row.b, row.lb);
        EXPECT_EQ(s.c_str(), row.text);
        EXPECT_EQ(s.size(), row.text.size());
        EXPECT_EQ(s.representation()->capacity, row.capacity) << row.la << " + " << row.lb;
    }
}

TEST(string, find_and_rfind) {
    // The string fuzz target compares both with a plain loop on any text.
    const struct { const char* text; bool forward; char c; unsigned int pos, expected; } rows[] = {
        {"abca", true, 'a', 0, 0},    {"abca", true, 'a', 1, 3},       {"abca", true, 'z', 0, npos},
        {"abca", true, '\0', 0, 4},   {"abca", true, 'a', 5, npos},    {"abca", false, 'a', npos, 3},
        {"abca", false, 'a', 2, 0},   {"abca", false, '\0', npos, 4},  {"abca", false, 'b', 0, npos},
        {"", true, 'x', 0, npos},     {"", false, 'x', npos, npos},    {"", false, '\0', npos, 0},
    };
    for (const auto& row : rows) {
        const csgl_string s(row.text);
        EXPECT_EQ(row.forward ? s.find(row.c, row.pos) : s.rfind(row.c, row.pos), row.expected)
            << '"' << row.text << (row.forward ? "\" find '" : "\" rfind '") << row.c << "' " << row.pos;
    }
}

// compare: -1, 0 or 1 over signed characters; csgl_str_ci_compare: the
// difference of the first folded characters that differ.
TEST(string, compare_and_ci_compare) {
    const struct { const char *a, *b; int plain, folded; } rows[] = {
        {"abc", "abd", -1, -1},  {"ab", "abc", -1, -99},  {"", "", 0, 0},         {"abc", "abc", 0, 0},
        {"a", "", 1, 97},        {"", "A", -1, -97},      {"ABC", "abc", -1, 0},  {"abC", "ABd", 1, -1},
        {"Z", "a", -1, 25},      {"zzz", "a", 1, 25},     {"\xE9x", "\xE9Y", 1, -1},
        // Characters above 0x7F are negative: before "a", and before the end.
        {"\xE9t\xE9", "a", -1, -23 - 97}, {"\xE9", "", -1, -23}, {"", "\xE9", 1, 23},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(csgl_string::compare(row.a, row.b), row.plain) << row.a << " / " << row.b;
        EXPECT_EQ(csgl_string::compare(row.b, row.a), -row.plain) << row.b << " / " << row.a;
        EXPECT_EQ(csgl_str_ci_compare(row.a, row.b), row.folded) << row.a << " / " << row.b;
    }
}

// The operands stay as they were.
TEST(string, concatenation_and_null_texts) {
    const csgl_string s("abc"), empty, from_empty(""), from_null(static_cast<const char*>(nullptr));
    EXPECT_EQ(csgl_string().representation(), empty.representation());
    const struct { csgl_string result; const char* text; } rows[] = {
        {s + static_cast<const char*>(nullptr), "abc"}, {s + '\0', "abc"}, {s + "de", "abcde"},
        {s + 'x', "abcx"}, {"<" + s, "<abc"}, {static_cast<const char*>(nullptr) + s, "abc"},
        {empty + "", ""}, {empty, ""}, {from_empty, ""}, {from_null, ""}};
    for (const auto& row : rows) {
        EXPECT_STREQ(row.result.c_str(), row.text);
        EXPECT_EQ(row.result.length(), std::string(row.text).size()) << row.text;
    }
    EXPECT_STREQ(s, "abc");
    csgl_string only("only"), &self = only;
    only = self;  // its only handle: must not be freed on the way
    EXPECT_STREQ(only, "only");
}

// The block only grows; each copy stops at its limit or its NUL.
TEST(string, representation_assign_and_append) {
    const std::string l(2047, 'L');
    csgl_string_ r("abc");
    const struct { bool append; const char* s; unsigned int n; std::string text; unsigned int capacity; }
        steps[] = {{false, "1234567", 7, "1234567", 8}, {false, "12345678", 8, "12345678", 16},
                   {false, "ab\0cd", 5, "ab", 16}, {false, nullptr, 0, "", 16},
                   {true, "abcdefghijklmno", 15, "abcdefghijklmno", 16},
                   {true, "p\0q", 3, "abcdefghijklmnop", 32}, {true, "s", 100, "abcdefghijklmnops", 128},
                   {false, l.c_str(), 2047, l, 3072}};
    for (const auto& step : steps) {
        step.append ? r.append(step.s, step.n) : r.assign(step.s, step.n);
        EXPECT_EQ(r.text, step.text) << step.n;
        EXPECT_EQ(r.length(), step.text.size()) << step.n;
        EXPECT_EQ(r.capacity, step.capacity) << step.n;
    }
}

}  // namespace
