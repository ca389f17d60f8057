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

// Every refusal throws its class with the library's text, logs no catalogue
// message, leaks no descriptor and leaves the files as they were; invalid
// choices are refused before anything is opened.
TEST_F(file_test, refusals) {
    const char *f = name("f"), *g = name("g"), *x = name("x"), *d = name("d");
    write_file(f, "F");
    write_file(g, "G");
    ASSERT_EQ(mkdir(d, 0700), 0);
    file reader(f, file::open_existing, file::access_read, file::deny_none);
    const host_session session;
    const int fd = next_descriptor();
    char byte = 'x';
    const struct { std::function<void()> call; const char* text; unsigned long error; } rows[] = {
        {[&] { file(x, file::open_existing, file::access_write, file::deny_none); },
         "does_not_exist (ENOENT)", 0x20030023},
        {[&] { file(x, file::truncate_existing, file::access_write, file::deny_none); },
         "does_not_exist (ENOENT)", 0x20030023},
        {[&] { file(f, file::create_new, file::access_write, file::deny_none); },
         "already_exists (EEXIST)", 0x20030022},
        {[&] { file(d, file::open_existing, file::access_write, file::deny_none); },
         "unmapped LINUX2 error", EISDIR},  // outside the mapping
        {[&] { reader.write(&byte, 1); }, "invalid_handle (EBADF)", 0x20030010},
        {[] { file(-1); }, "invalid_handle (EBADF)", 0x20030010},
        {[&] { reader.seek(0, file::seek_indicator(3)); }, "exc_invalid_parameter", 0x20000000},
        {[&] { reader.seek(-1, file::seek_begin); }, "invalid_parameter (EINVAL)", 0x20000000},
        {[&] { reader.get_last_mod_time(); }, "exc_not_implemented", 0x20030008},
        {[] { (void)(file::timestamp(1) < file::timestamp(2)); }, "exc_not_implemented",
         0x20030008},
        {[&] { file::copy(f, g); }, "exc_already_exists", 0x20030022},
        {[&] { file::copy(x, g, file::force); }, "does_not_exist (ENOENT)", 0x20030023},
        {[&] { file::rename(f, g); }, "exc_already_exists", 0x20030022},
        {[&] { file::rename(d, x); }, "permission_denied (EPERM)", 0x20030025},
        {[&] { file::remove(x); }, "does_not_exist (ENOENT)", 0x20030023}};
    for (const auto& row : rows)
        expect_failure(row.call, "libutils/csgl/csgl_file.cpp", row.text, row.error);
    struct { int action, access, denied; } const choices[] = {
        {0, 2, 0}, {6, 2, 0}, {-1, 2, 0}, {3, 0, 0}, {3, 4, 0}, {3, 2, 1}, {3, 2, 4}, {3, 2, -1},
    };
    for (const auto& c : choices) {
        expect_failure([&] { file(x, file::action_indicator(c.action),
                                  file::access_requested_indicator(c.access),
                                  file::access_denied_indicator(c.denied)); },
                       "libutils/csgl/csgl_file.cpp", "exc_invalid_parameter", 0x20000000);
    }
    EXPECT_EQ(next_descriptor(), fd);
    EXPECT_TRUE(recorded_messages().empty());  // the class's name, no catalogue message
    EXPECT_EQ(read_file(f) + read_file(g) + read_file(x), "FG<missing>");
    EXPECT_EQ(reader.read(&byte, 1), 1u);  // still usable, at the start
    file(x, file::open_or_create, file::access_write, file::deny_read_write);
    EXPECT_TRUE(file::exists(x));
}

// Creation under the mask, opening and truncating; offsets, and the records
// of the member operations: their entries and exits, the size as data, a
// copy's creation naming no source.
TEST_F(file_test, actions_offsets_and_records) {
    const char *g = name("g"), *h = name("h");
    const mode_t old_mask = umask(027);
    file f(name("f"), file::create_new, file::access_read_write, file::deny_none);
    umask(0200);
    file(g, file::create_or_truncate, file::access_read, file::deny_none);
    umask(old_mask);
    EXPECT_EQ(file_mode(dir / "f"), 0640);
    EXPECT_EQ(file_mode(g), 0440);
    write_file(h, "abc");
    file(h, file::open_or_create, file::access_read, file::deny_none);
    EXPECT_EQ(read_file(h), "abc");
    file(h, file::truncate_existing, file::access_read_write, file::deny_none);
    EXPECT_EQ(read_file(h), "");
    EXPECT_EQ(f.seek(0, file::seek_end), 0);
    f.append();
    char bytes[100];
    std::fill(bytes, bytes + 100, 'a');
    EXPECT_EQ(f.write(bytes, 100), 100u);
    f.truncate();
    EXPECT_EQ(f.size(), 0);
    EXPECT_EQ(f.write(bytes, 10), 10u);  // at offset 100
    EXPECT_EQ(f.size(), 110);
    EXPECT_EQ(read_file(dir / "f"), std::string(100, '\0') + std::string(10, 'a'));
    const struct { long offset; file::seek_indicator origin; long at; } seeks[] = {
        {50, file::seek_begin, 50}, {-10, file::seek_current, 40}, {-10, file::seek_end, 100}};
    for (const auto& s : seeks) EXPECT_EQ(f.seek(s.offset, s.origin), s.at);
    f.flush();
    EXPECT_EQ(file(f).read(bytes, 100), 10u);  // a duplicate sharing the offset
    EXPECT_EQ(f.seek(0, file::seek_current), 110);

    const host_session session(0x7800);
    f.write(bytes, 4);
    f.seek(-2, file::seek_end);
    f.size();
    f.truncate();
    std::optional<file> duplicate(f);  // its storage outlives the copy
    const void *const self = &f, *const copy = &*duplicate;
    duplicate.reset();
    EXPECT_EQ(recorded_traces(),
              (records{{entry, 0x14031100, self, true, "4"}, coded(exit_type, 0x14031100, self, 0),
                       {entry, 0x14030B00, self, true, "-2, 2"},
                       coded(exit_type, 0x14030B00, self, 0),
                       {data, 0x14030C00, self, true, "114"}, {entry, 0x14031000, self, false, ""},
                       coded(exit_type, 0x14031000, self, 0),
                       {created, 0x14030000, copy, false, ""},  // a copy names no source
                       {destroyed, 0x14030000, copy, false, ""}}));
    const host_session sizes_only(0x4000);
    f.size();
    EXPECT_EQ(recorded_traces(), (records{{data, 0x14030C00, self, true, "0"}}));
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
    EXPECT_EQ(std::string(csgl_file_null_name, sizeof csgl_file_null_name),
              std::string("/dev/null", 10));
}

// Copying in blocks; forced onto a longer file, onto itself (untouched), an
// empty file.  Renaming with force, onto itself; a dangling link does not exist.
TEST_F(file_test, copy_rename_remove_and_exists) {
    std::string contents(20000, '\0');
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 7);
    const char *from = name("from"), *to = name("to"), *dangling = name("dangling");
    write_file(from, contents);
    {
        const host_session session(0x1000);
        file::copy(from, to);
        const std::string names = std::string(from) + " -> " + to;
        EXPECT_EQ(record_data(entry, 0x14030300),
                  (texts{names + " (don't force)", names + " (force)"}));
        EXPECT_EQ(record_data(entry, 0x14030800), (texts{"8192", "8192", "8192", "8192"}));
        EXPECT_EQ(record_data(entry, 0x14031100), (texts{"8192", "8192", "3616"}));
    }
    EXPECT_EQ(read_file(to), contents);
    const struct { const char *source, *before, *after; } forced[] = {
        {from, "short", "short"}, {to, "short", "short"}, {from, "", ""}};
    for (const auto& c : forced) {
        write_file(from, c.before);
        file::copy(c.source, to, file::force);
        EXPECT_EQ(read_file(to), c.after);
    }
    write_file(from, "A");
    {
        const host_session session(0x1000);
        file::rename(from, to, file::force);
        EXPECT_EQ(record_data(entry, 0x14030A00),
                  texts{std::string(from) + " -> " + to + " (force)"});
        EXPECT_EQ(record_data(entry, 0x14030900), texts{to});
    }
    EXPECT_FALSE(file::exists(from));
    file::rename(to, from);
    file::rename(from, from, file::force);  // onto itself: kept
    EXPECT_EQ(read_file(from) + read_file(to), "A<missing>");
    EXPECT_TRUE(file::exists(dir.path().c_str()));
    ASSERT_EQ(symlink(name("nowhere"), dangling), 0);
    EXPECT_FALSE(file::exists(dangling));
    file::remove(from);
    EXPECT_FALSE(file::exists(from));
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
    // A working directory of 1024 characters is the longest taken; a longer
    // one is getcwd's ERANGE.
    std::string deep = dir.path();
    while (deep.size() < 1024) {
        const std::size_t left = 1024 - deep.size() - 1;
        deep += "/" + std::string(left > 100 ? 50 : left, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    {
        const in_directory longest(deep);
        ASSERT_EQ(working_directory().size(), 1024u);
        EXPECT_EQ(std::string(file::canonize("a")), deep + "/a");
    }
    deep += "/d";
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    const in_directory there(deep);
    expect_failure([] { file::canonize("a"); }, "libutils/csgl/csgl_file.cpp",
                   "unmapped LINUX2 error", ERANGE);
}

}  // namespace
