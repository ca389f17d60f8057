// Output streams and the printing operators.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "libutils/csgl/csgl_output.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using output_file = csgl_output_file;

// Keeps what it is given, NUL included.
class recording_output : public csgl_output_imp {
public:
    std::string text;

protected:
    void really_put_char(char ch) override { text.push_back(ch); }
};

template <class T>
std::string printed(const T& value) {
    recording_output out;
    out << value;
    return out.text;
}

// The lengths of the writes the file streams made, from their trace.
std::vector<std::string> writes() {
    std::vector<std::string> lengths;
    for (const trace_record& r : recorded_traces())
        if (r.type == 0x02200000 && r.id == 0x14031100) lengths.push_back(r.data);
    return lengths;
}

template <class E, class F>
void expect_thrown(F operation, const char* text, const char* file) {
    try {
        operation();
        ADD_FAILURE() << "nothing thrown, expected " << text;
    } catch (const E& e) {
        EXPECT_STREQ(e.message().msg_string(), text);
        EXPECT_STREQ(e.file, file);
    }
}

// Files may grow to `bytes` only; a write past that stores what fits, or
// fails with EFBIG, instead of raising SIGXFSZ.
class file_size_limit {
public:
    explicit file_size_limit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_limit_);
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {bytes, old_limit_.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~file_size_limit() {
        setrlimit(RLIMIT_FSIZE, &old_limit_);
        signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit old_limit_;
    void (*old_handler_)(int);
};

// Prints `text` to a stream on a name or a handle, then destroys it.
void print_to(const char* text, const std::string& name, output_file::mode_indicator mode) {
    output_file out(name.c_str(), mode);
    out << text;
}
void print_to(const char* text, csgl_file& handle, output_file::mode_indicator mode) {
    output_file out(handle, mode);
    out << text;
}

class output_test : public testing::Test {
protected:
    std::string path(const char* name) const { return dir / name; }
    temp_dir dir;
};

TEST_F(output_test, a_file_stream_writes_one_block_per_full_buffer) {
    const host_session session(0x1000);
    {
        output_file out(path("f").c_str(), output_file::mode_truncate);
        out.flush();  // empty: no write
        out.put_chars('a', 512);
        EXPECT_EQ(writes(), std::vector<std::string>{});
        EXPECT_EQ(read_file(path("f")), "");
        out << 'b';
        EXPECT_EQ(writes(), std::vector<std::string>{"512"});
        out.flush_to_disk();
        out.flush();
        EXPECT_EQ(writes(), (std::vector<std::string>{"512", "1"}));
        out << "cd";
    }
    EXPECT_EQ(writes(), (std::vector<std::string>{"512", "1", "2"}));
    EXPECT_EQ(read_file(path("f")), std::string(512, 'a') + "bcd");
}

TEST_F(output_test, a_short_write_throws_and_keeps_the_buffer) {
    const std::string name = path("f");
    output_file out(name.c_str(), output_file::mode_truncate);
    {
        const file_size_limit limit(700);
        out.put_chars('a', 512);
        out.put_chars('b', 512);  // the first block goes out whole
        expect_thrown<exc_not_enough_disk_t>([&] { out.flush(); }, "exc_not_enough_disk",
                                             "libutils/csgl/csgl_output.cpp");
        expect_thrown<exc_unmapped_t>([&] { out.flush(); }, "unmapped LINUX2 error",
                                      "libutils/csgl/csgl_file.cpp");  // EFBIG at the limit
    }
    out.flush();  // the same 512 characters again
    EXPECT_EQ(read_file(name), std::string(512, 'a') + std::string(188 + 512, 'b'));
}

TEST_F(output_test, a_failing_last_write_leaves_the_destructor_unless_unwinding) {
    const file_size_limit limit(0);
    expect_thrown<exc_unmapped_t>(
        [&] {
            output_file out(path("f").c_str(), output_file::mode_truncate);
            out << 'x';
        },
        "unmapped LINUX2 error", "libutils/csgl/csgl_file.cpp");
    try {
        output_file out(path("g").c_str(), output_file::mode_truncate);
        out << 'x';
        throw std::runtime_error("first");
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "first");  // the stream's failure was dropped
    }
}

TEST_F(output_test, modes_from_a_name_and_from_a_handle) {
    const std::string name = path("f");
    const int modes[] = {output_file::mode_keep, 3, -1};
    for (const int mode : modes) {
        expect_thrown<exc_invalid_parameter_t>(
            [&] { output_file(name.c_str(), output_file::mode_indicator(mode)); },
            "exc_invalid_parameter", "libutils/csgl/csgl_output.cpp");
        EXPECT_FALSE(csgl_file::exists(name.c_str()));
    }
    const mode_t old_mask = umask(022);
    print_to("one", name, output_file::mode_append);
    umask(old_mask);
    EXPECT_EQ(file_mode(name), 0640);
    print_to("two", name, output_file::mode_append);
    EXPECT_EQ(read_file(name), "onetwo");
    print_to("three", name, output_file::mode_truncate);
    EXPECT_EQ(read_file(name), "three");

    csgl_file handle(name.c_str(), csgl_file::open_existing, csgl_file::access_read_write,
                     csgl_file::deny_none);
    handle.seek(1, csgl_file::seek_begin);
    expect_thrown<exc_invalid_parameter_t>(
        [&] { output_file(handle, output_file::mode_indicator(3)); }, "exc_invalid_parameter",
        "libutils/csgl/csgl_output.cpp");
    print_to("H", handle, output_file::mode_keep);
    EXPECT_EQ(read_file(name), "tHree");
    print_to("!", handle, output_file::mode_append);
    EXPECT_EQ(read_file(name), "tHree!");
    print_to("x", handle, output_file::mode_truncate);  // at the shared offset 6
    EXPECT_EQ(read_file(name), std::string(6, '\0') + "x");
    EXPECT_EQ(handle.seek(0, csgl_file::seek_current), 7);
}

TEST(output, string_black_hole_redirector_and_put_chars) {
    csgl_string mine("ab");
    const csgl_string shared(mine);
    {
        csgl_output_str out(mine);
        out << 'c' << '\0' << "d";
    }
    EXPECT_STREQ(mine, "abcd");
    EXPECT_STREQ(shared, "ab");

    recording_output a, b;
    csgl_output_redirector both(a, b);
    both << 'a' << '\0' << 'b';
    both.halt_redirection();
    both << 'c';
    both.flush();
    EXPECT_EQ(a.text, std::string("a\0bc", 4));
    EXPECT_EQ(b.text, "a\nb");

    csgl_output_black_hole hole;
    hole << "gone" << 12;
    recording_output x;
    x.put_chars('x', 0);
    x.put_chars('x', 3);
    EXPECT_EQ(x.text, "xxx");
}

TEST(output, numbers_print_as_the_c_library_prints_them) {
    const struct { long value; const char* text; int length; } ints[] = {
        {0, "0", 1}, {9, "9", 1}, {10, "10", 2}, {-1, "-1", 2}, {-5, "-5", 2}, {-10, "-10", 3},
        {INT_MAX, "2147483647", 10}, {INT_MIN, "-2147483648", 11},
    };
    for (const auto& c : ints) {
        EXPECT_EQ(printed(static_cast<int>(c.value)), c.text);
        EXPECT_EQ(printed(c.value), c.text);
        EXPECT_EQ(csgl_output_length(static_cast<int>(c.value)), c.length) << c.text;
    }
    EXPECT_EQ(printed(4294967295u), "4294967295");
    EXPECT_EQ(printed(10ul), "10");
    char text[32];
    std::snprintf(text, sizeof text, "%lu", ULONG_MAX);
    EXPECT_EQ(printed(ULONG_MAX), text);  // full width where long has 64 bits
    std::snprintf(text, sizeof text, "%ld", LONG_MIN);
    EXPECT_EQ(printed(LONG_MIN), text);

    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        const unsigned long bits = (static_cast<unsigned long>(random()) << 16 << 16) | random();
        const unsigned long value = bits >> (random() % (8 * sizeof(long)));
        std::snprintf(text, sizeof text, "%lu", value);
        ASSERT_EQ(printed(value), text);
        std::snprintf(text, sizeof text, "%ld", static_cast<long>(value));
        ASSERT_EQ(printed(static_cast<long>(value)), text);
        const int n = static_cast<int>(value);
        std::snprintf(text, sizeof text, "%d", n);
        ASSERT_EQ(printed(n), text);
        ASSERT_EQ(csgl_output_length(n), static_cast<int>(std::string(text).size()));
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned int>(value));
        ASSERT_EQ(printed(static_cast<unsigned int>(value)), text);
    }
}

TEST(output, characters_texts_quotes_hex_pointers_inputs_exceptions) {
    EXPECT_EQ(printed('\0'), std::string(1, '\0'));
    EXPECT_EQ(printed("a\0b"), "a");
    EXPECT_EQ(printed(csgl_string("str")), "str");
    const struct { const char* text; char quote; const char* expected; } quoted[] = {
        {"abc", '\'', "'abc'"}, {"it's", '\'', "'it''s'"}, {"", '\'', "''"},
        {"''", '\'', "''''''"}, {"a\"b\n", '\'', "'a\"b\n'"}, {"abc", '|', "|abc|"},
    };
    for (const auto& c : quoted) {
        const csgl_string s(c.text);
        EXPECT_EQ(printed(csgl_str_quoted(s, c.quote)), c.expected);
    }
    EXPECT_EQ(printed(csgl_hex(0)), "0x00000000");
    EXPECT_EQ(printed(csgl_hex(305441741)), "0x1234abcd");
    EXPECT_EQ(printed(csgl_hex(0xFFFFFFFFu)), "0xffffffff");
    EXPECT_EQ(printed(csgl_output_voidp_proxy(nullptr)), std::string(2 * sizeof(void*), '0'));
    char text[32];
    std::snprintf(text, sizeof text, "%0*lx", static_cast<int>(2 * sizeof(void*)),
                  reinterpret_cast<unsigned long>(&text));
    EXPECT_EQ(printed(csgl_output_voidp_proxy(&text)), text);

    struct characters : csgl_input {
        explicit characters(const char* text) : next(text) {}
        char next_char() override { return *next ? *next++ : '\0'; }
        const char* next;
    };
    for (const char* input : {"", "abc"}) {
        recording_output out;
        characters source(input);
        out << source;
        EXPECT_EQ(out.text, input);
    }

    EXPECT_EQ(printed(exc_not_enough_memory_t("util/x", 12, "not enough memory", 0)),
              "exc 'util/x' 12 536870913 'not enough memory'");
    EXPECT_EQ(printed(exc_unmapped_t("it's.cpp", -3, "don't", 4294967295ul, 0)),
              "exc 'it''s.cpp' -3 4294967295 'don''t'");
}

// The process-wide streams, in a child so that its standard output and
// error can be files and its exit can be watched.
TEST_F(output_test, standard_streams_at_exit_and_the_null_fallback) {
    const std::string out_name = path("out"), err_name = path("err");
    const pid_t child = fork();
    if (child == 0) {
        freopen(out_name.c_str(), "w", stdout);
        freopen(err_name.c_str(), "w", stderr);
        output_file& out = output_file::std_output();
        output_file& err = output_file::std_error();
        out << "to standard output";
        err << "flushed";
        err.flush();
        err << " and lost at exit";
        std::exit(&out == &output_file::std_output() && &err == &output_file::std_error() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file(out_name), "to standard output");
    EXPECT_EQ(read_file(err_name), "flushed");

    const pid_t orphan = fork();  // standard error closed: the "/dev/null" stream stands in
    if (orphan == 0) {
        close(2);
        const host_session session(0x40);
        output_file& err = output_file::std_error();
        err << "nowhere";
        err.flush();
        // The exception's own error record, then the stream's.
        const std::vector<trace_record> records = recorded_traces();
        const trace_record fallback = {0x02070000, 0x14080400, nullptr, false, ""};
        const bool traced = records.size() == 2 && records[0].id == 0x141B0100 &&
                            records[1] == fallback;
        std::_Exit(traced && &err == &output_file::std_error() ? 0 : 1);
    }
    ASSERT_EQ(waitpid(orphan, &status, 0), orphan);
    EXPECT_EQ(status, 0);
}

}  // namespace
