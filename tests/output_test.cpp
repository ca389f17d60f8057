// Output streams on real files.  The printing operators, the redirector and
// the string stream are checked by the output fuzz target's model (snprintf
// and plain forms), over its committed seeds in every configuration: the
// documented cases and the extremes among them.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <sstream>

#include "libutils/csgl/csgl_output.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/expect_failure.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using output_file = csgl_output_file;
const char* const here = "libutils/csgl/csgl_output.cpp";
const char* const files = "libutils/csgl/csgl_file.cpp";

// The lengths of the writes the file streams made, from their trace.
using texts = std::vector<std::string>;
texts writes() { return record_data(0x02200000, 0x14031100); }

// Files may grow to `bytes` only; a write past that stores what fits, or
// fails with EFBIG, instead of raising SIGXFSZ.
struct file_size_limit {
    explicit file_size_limit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_limit);
        const rlimit limit = {bytes, old_limit.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~file_size_limit() { setrlimit(RLIMIT_FSIZE, &old_limit), signal(SIGXFSZ, old_handler); }
    void (*const old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit;
};

// Prints `text` to a stream on a name or a handle, then destroys it.
template <class Target>
void print_to(const char* text, Target& target, output_file::mode_indicator mode) {
    output_file out(target, mode);
    out << text;
}

// A stream on a file `name` in a scratch directory.
class output_file_test : public testing::Test {
protected:
    const temp_dir dir;
    const std::string path = dir / "f";
    const char* const name = path.c_str();
};

// A block goes out when the buffer is full and the next character comes,
// the rest when flushed or destroyed.  A short write throws and keeps the
// buffer; at the limit, a stream's last write fails in its destructor,
// unless an exception is already on its way.
TEST_F(output_file_test, writes_whole_blocks_and_keeps_them_on_a_short_write) {
    const host_session session(0x1000);
    {
        output_file out(name, output_file::mode_truncate);
        out.flush();  // empty: no write
        out.put_chars('a', 512);
        EXPECT_EQ(writes(), texts{});
        EXPECT_EQ(read_file(name), "");
        std::optional<file_size_limit> limit(std::in_place, 700);
        out.put_chars('b', 512);
        EXPECT_EQ(writes(), texts{"512"});
        expect_failure<exc_not_enough_disk_t>([&] { out.flush(); }, here, "exc_not_enough_disk",
                                              0x2003001C);
        expect_failure<exc_unmapped_t>([&] { out.flush(); }, files, "unmapped LINUX2 error",
                                       EFBIG);  // at the limit
        expect_failure<exc_unmapped_t>([&] { print_to("x", name, output_file::mode_append); },
                                       files, "unmapped LINUX2 error", EFBIG);
        try {
            output_file last(name, output_file::mode_append);
            last << 'x';
            throw std::runtime_error("first");
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "first");  // the stream's failure was dropped
        }
        limit.reset();
        out.flush();  // the same 512 characters again
        out.flush_to_disk();
        out << "cd";
    }
    EXPECT_EQ(writes(), (texts{"512", "512", "512", "1", "1", "512", "2"}));
    EXPECT_EQ(read_file(name), std::string(512, 'a') + std::string(188 + 512, 'b') + "cd");
}

TEST_F(output_file_test, modes_from_a_name_and_from_a_handle) {
    for (const int mode : {int(output_file::mode_keep), 3, -1}) {
        expect_failure<exc_invalid_parameter_t>(
            [&] { output_file(name, output_file::mode_indicator(mode)); }, here,
            "exc_invalid_parameter", 0x20000000);
        EXPECT_FALSE(csgl_file::exists(name));
    }
    print_to("one", name, output_file::mode_append);
    print_to("two", name, output_file::mode_append);
    EXPECT_EQ(read_file(name), "onetwo");
    print_to("three", name, output_file::mode_truncate);
    EXPECT_EQ(read_file(name), "three");

    csgl_file handle(name, csgl_file::open_existing, csgl_file::access_read_write,
                     csgl_file::deny_none);
    handle.seek(1, csgl_file::seek_begin);
    expect_failure<exc_invalid_parameter_t>(
        [&] { output_file(handle, output_file::mode_indicator(3)); }, here,
        "exc_invalid_parameter", 0x20000000);
    const struct { const char* text; output_file::mode_indicator mode; std::string file; } steps[] = {
        {"H", output_file::mode_keep, "tHree"}, {"!", output_file::mode_append, "tHree!"},
        {"x", output_file::mode_truncate, std::string(6, '\0') + "x"}};  // at the shared offset 6
    for (const auto& step : steps) {
        print_to(step.text, handle, step.mode);
        EXPECT_EQ(read_file(name), step.file);
    }
    EXPECT_EQ(handle.seek(0, csgl_file::seek_current), 7);
}

// The process-wide streams, in a child so that its standard output and
// error can be files and its exit can be watched.
TEST_F(output_file_test, standard_streams_at_exit_and_the_null_fallback) {
    const std::string out_name = dir / "out", err_name = dir / "err";
    child_process writer([&](child_process&) {
        freopen(out_name.c_str(), "w", stdout);
        freopen(err_name.c_str(), "w", stderr);
        output_file& out = output_file::std_output();
        output_file& err = output_file::std_error();
        out << "to standard output";
        err << "flushed";
        err.flush();
        err << " and lost at exit";
        std::exit(&out == &output_file::std_output() && &err == &output_file::std_error() ? 0 : 1);
    });
    EXPECT_EQ(writer.end(), "exit 0");
    EXPECT_EQ(read_file(out_name), "to standard output");
    EXPECT_EQ(read_file(err_name), "flushed");

    child_process orphan([](child_process& me) {  // standard error closed: "/dev/null" stands in
        close(2);
        const host_session session(0x40);
        output_file& err = output_file::std_error();
        err << "nowhere";
        err.flush();
        const records r = recorded_traces();
        std::ostringstream shown;
        shown << r.size() << " " << std::hex << r.at(0).id << ", " << r.at(1);
        me.say(shown.str() + (&err == &output_file::std_error() ? ", same" : ""));
    });
    // The exception's own error record, then the stream's.
    EXPECT_EQ(orphan.hear(), "2 141b0100, 02070000 14080400 (nil) -, same");
    EXPECT_EQ(orphan.end(), "exit 0");
}

}  // namespace
