// Files: the handle's choices and operations, its traces, and the
// whole-file operations on real files in a scratch directory.
#include <sys/stat.h>
#include <unistd.h>

#include <list>
#include <optional>

#include "libutils/csgl/csgl_file.hpp"
#include "tests/support/expect_failure.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using file = csgl_file;
using texts = std::vector<std::string>;
constexpr unsigned long entry = 0x02200000, exit_type = 0x02210000, data = 0x02220000;
constexpr unsigned long invalid_parameter = 0x20000000, does_not_exist = 0x20030023,
                        already_exists = 0x20030022, invalid_handle = 0x20030010;

void expect_failure(const std::function<void()>& operation, const char* text, unsigned long error) {
    ::expect_failure(operation, "libutils/csgl/csgl_file.cpp", text, error);
}

// The lowest free descriptor: unchanged when a failed call leaked nothing.
int next_descriptor() {
    const int fd = dup(0);
    return close(fd), fd;
}

std::string working_directory() {
    return std::unique_ptr<char, void (*)(void*)>(getcwd(nullptr, 0), free).get();
}

// Runs with the working directory changed, and changes it back.
struct in_directory {
    explicit in_directory(const std::string& path) { EXPECT_EQ(chdir(path.c_str()), 0); }
    ~in_directory() { EXPECT_EQ(chdir(old.c_str()), 0); }
    const std::string old = working_directory();
};

class file_test : public testing::Test {
protected:
    // The name of `n` in the scratch directory, kept to the end of the case.
    const char* name(const char* n) { return names.emplace_back(dir / n).c_str(); }
    temp_dir dir;
    std::list<std::string> names;
};

TEST_F(file_test, invalid_choices_are_refused_before_anything_is_opened) {
    struct { int action, access, denied; } const cases[] = {
        {0, 2, 0}, {6, 2, 0}, {-1, 2, 0}, {3, 0, 0}, {3, 4, 0}, {3, 2, 1}, {3, 2, 4}, {3, 2, -1},
    };
    const host_session session;
    const int fd = next_descriptor();
    const char* const x = name("x");
    for (const auto& c : cases) {
        expect_failure([&] { file(x, file::action_indicator(c.action),
                                  file::access_requested_indicator(c.access),
                                  file::access_denied_indicator(c.denied)); },
                       "exc_invalid_parameter", invalid_parameter);
        EXPECT_FALSE(file::exists(x));
    }
    EXPECT_EQ(next_descriptor(), fd);
    EXPECT_TRUE(recorded_messages().empty());  // the class's name, no catalogue message
    file(x, file::open_or_create, file::access_write, file::deny_read_write);
    EXPECT_TRUE(file::exists(x));
}

TEST_F(file_test, actions_follow_the_table_and_failures_map_their_error_numbers) {
    const char *f = name("f"), *g = name("g");
    for (const file::action_indicator action : {file::open_existing, file::truncate_existing}) {
        expect_failure([&] { file(f, action, file::access_write, file::deny_none); },
                       "does_not_exist (ENOENT)", does_not_exist);
    }
    const mode_t old_mask = umask(027);
    file(f, file::create_new, file::access_write, file::deny_none);
    umask(0200);
    file(g, file::create_or_truncate, file::access_read, file::deny_none);
    umask(old_mask);
    EXPECT_EQ(file_mode(f), 0640);
    EXPECT_EQ(file_mode(g), 0440);
    expect_failure([&] { file(f, file::create_new, file::access_write, file::deny_none); },
                   "already_exists (EEXIST)", already_exists);
    expect_failure(  // EISDIR is outside the mapping
        [&] { file(dir.path().c_str(), file::open_existing, file::access_write, file::deny_none); },
        "unmapped LINUX2 error", EISDIR);

    write_file(f, "abc");
    file(f, file::open_or_create, file::access_read, file::deny_none);
    EXPECT_EQ(read_file(f), "abc");
    file(f, file::truncate_existing, file::access_read_write, file::deny_none);
    EXPECT_EQ(read_file(f), "");

    file reader(f, file::open_existing, file::access_read, file::deny_none);
    char byte = 'x';
    expect_failure([&] { reader.write(&byte, 1); }, "invalid_handle (EBADF)", invalid_handle);
    EXPECT_EQ(reader.read(&byte, 1), 0u);  // still usable; at the end of the file
    expect_failure([] { file(-1); }, "invalid_handle (EBADF)", invalid_handle);
}

TEST_F(file_test, operations_and_offsets) {
    file f(name("f"), file::create_new, file::access_read_write, file::deny_none);
    EXPECT_EQ(f.seek(0, file::seek_end), 0);
    f.append();
    EXPECT_EQ(f.seek(0, file::seek_current), 0);
    char bytes[100];
    std::fill(bytes, bytes + 100, 'a');
    EXPECT_EQ(f.write(bytes, 100), 100u);
    f.truncate();
    EXPECT_EQ(f.size(), 0);
    EXPECT_EQ(f.write(bytes, 10), 10u);  // at offset 100
    EXPECT_EQ(f.size(), 110);
    EXPECT_EQ(read_file(dir / "f"), std::string(100, '\0') + std::string(10, 'a'));
    expect_failure([&] { f.seek(0, file::seek_indicator(3)); }, "exc_invalid_parameter",
                   invalid_parameter);
    const struct { long offset; file::seek_indicator origin; long at; } seeks[] = {
        {50, file::seek_begin, 50}, {-10, file::seek_current, 40}, {-10, file::seek_end, 100}};
    for (const auto& s : seeks) EXPECT_EQ(f.seek(s.offset, s.origin), s.at);
    expect_failure([&] { f.seek(-1, file::seek_begin); }, "invalid_parameter (EINVAL)",
                   invalid_parameter);
    f.flush();
    EXPECT_EQ(file(f).read(bytes, 100), 10u);  // a duplicate sharing the offset
    EXPECT_EQ(f.seek(0, file::seek_current), 110);
    expect_failure([&] { f.get_last_mod_time(); }, "exc_not_implemented", 0x20030008);
    expect_failure([] { (void)(file::timestamp(1) < file::timestamp(2)); }, "exc_not_implemented",
                   0x20030008);
}

TEST_F(file_test, standard_handles_are_one_object_each_on_their_own_descriptor) {
    // Standard input is a pipe holding "ab" when the handle is first used.
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    ASSERT_EQ(write(pipe_ends[1], "ab", 2), 2);
    const int saved = dup(0);
    dup2(pipe_ends[0], 0);
    file& in = file::std_input();
    file zero(0);
    dup2(saved, 0);
    for (int fd : {saved, pipe_ends[0], pipe_ends[1]}) close(fd);
    char got[2];
    EXPECT_EQ(zero.read(got, 1), 1u);
    EXPECT_EQ(in.read(got + 1, 1), 1u);
    EXPECT_EQ(std::string(got, 2), "ab");
    EXPECT_EQ(in.read(got, 1), 0u);  // the write end is closed: end of input
    EXPECT_EQ(&in, &file::std_input());
    EXPECT_EQ(&file::std_output(), &file::std_output());
    EXPECT_NE(&file::std_output(), &file::std_error());
    EXPECT_EQ(std::string(csgl_file_null_name, sizeof csgl_file_null_name), std::string("/dev/null", 10));
}

TEST_F(file_test, member_operations_write_their_records) {
    file f(name("f"), file::create_new, file::access_read_write, file::deny_none);
    const host_session session(0x7800);
    char bytes[4] = {'a', 'b', 'c', 'd'};
    f.write(bytes, 4);
    f.seek(-2, file::seek_end);
    f.size();
    f.truncate();
    std::optional<file> duplicate(f);  // its storage outlives the copy
    const void *const self = &f, *const copy = &*duplicate;
    duplicate.reset();
    EXPECT_EQ(recorded_traces(),
              (records{{entry, 0x14031100, self, true, "4"}, coded(exit_type, 0x14031100, self, 0),
                       {entry, 0x14030B00, self, true, "-2, 2"}, coded(exit_type, 0x14030B00, self, 0),
                       {data, 0x14030C00, self, true, "4"}, {entry, 0x14031000, self, false, ""},
                       coded(exit_type, 0x14031000, self, 0),
                       {created, 0x14030000, copy, false, ""},  // a copy names no source
                       {destroyed, 0x14030000, copy, false, ""}}));
    const host_session sizes_only(0x4000);
    f.size();
    EXPECT_EQ(recorded_traces(), (records{{data, 0x14030C00, self, true, "0"}}));
}

TEST_F(file_test, copy_in_blocks_and_its_refusals) {
    std::string contents(20000, '\0');
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 7);
    const char *from = name("from"), *to = name("to"), *missing = name("missing");
    write_file(from, contents);
    {
        const host_session session(0x1000);
        file::copy(from, to);
        const std::string names = std::string(from) + " -> " + to;
        EXPECT_EQ(record_data(entry, 0x14030300), (texts{names + " (don't force)", names + " (force)"}));
        EXPECT_EQ(record_data(entry, 0x14030800), (texts{"8192", "8192", "8192", "8192"}));
        EXPECT_EQ(record_data(entry, 0x14031100), (texts{"8192", "8192", "3616"}));
    }
    EXPECT_EQ(read_file(to), contents);
    write_file(from, "short");
    expect_failure([&] { file::copy(from, to); }, "exc_already_exists", already_exists);
    EXPECT_EQ(read_file(to), contents);
    // Forced: onto a longer file, onto itself (untouched), an empty file.
    const struct { const char *source, *before, *after; } forced[] = {
        {from, "short", "short"}, {to, "short", "short"}, {from, "", ""}};
    for (const auto& c : forced) {
        write_file(from, c.before);
        file::copy(c.source, to, file::force);
        EXPECT_EQ(read_file(to), c.after);
    }
    write_file(to, "kept");
    expect_failure([&] { file::copy(missing, to, file::force); }, "does_not_exist (ENOENT)",
                   does_not_exist);
    EXPECT_EQ(read_file(to), "kept");
}

TEST_F(file_test, rename_remove_and_exists) {
    const char *a = name("a"), *b = name("b"), *d = name("d"), *dangling = name("dangling");
    write_file(a, "A");
    write_file(b, "B");
    expect_failure([&] { file::rename(a, b); }, "exc_already_exists", already_exists);
    {
        const host_session session(0x1000);
        file::rename(a, b, file::force);
        EXPECT_EQ(record_data(entry, 0x14030A00), texts{std::string(a) + " -> " + b + " (force)"});
        EXPECT_EQ(record_data(entry, 0x14030900), texts{b});
    }
    EXPECT_FALSE(file::exists(a));
    EXPECT_EQ(read_file(b), "A");
    file::rename(b, a);
    file::rename(a, a, file::force);  // onto itself: kept
    EXPECT_EQ(read_file(a), "A");
    EXPECT_FALSE(file::exists(b));

    ASSERT_EQ(mkdir(d, 0700), 0);
    EXPECT_TRUE(file::exists(d));
    expect_failure([&] { file::rename(d, b); }, "permission_denied (EPERM)", 0x20030025);
    ASSERT_EQ(symlink(name("nowhere"), dangling), 0);
    EXPECT_FALSE(file::exists(dangling));
    file::remove(a);
    EXPECT_FALSE(file::exists(a));
    expect_failure([&] { file::remove(a); }, "does_not_exist (ENOENT)", does_not_exist);
}

TEST_F(file_test, canonize_joins_without_normalising) {
    EXPECT_STREQ(file::canonize("/a/./b"), "/a/./b");
    {
        const in_directory here(dir.path());
        const std::string cwd = working_directory();
        EXPECT_EQ(std::string(file::canonize("x/../y")), cwd + "/x/../y");
        EXPECT_EQ(std::string(file::canonize("")), cwd + "/");
    }
    {
        const in_directory root("/");
        EXPECT_STREQ(file::canonize("a"), "//a");
    }
    // A working directory longer than 1024 characters: getcwd's ERANGE.
    std::string deep = dir.path();
    while (deep.size() <= 1024) {
        deep += "/" + std::string(100, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    const in_directory there(deep);
    expect_failure([] { file::canonize("a"); }, "unmapped LINUX2 error", ERANGE);
}

}  // namespace
