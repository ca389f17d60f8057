// Files: the handle's choices and operations, its traces, and the
// whole-file operations on real files in a scratch directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <list>
#include <string>
#include <vector>

#include "libutils/csgl/csgl_file.hpp"
#include "tests/support/expect_failure.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using file = csgl_file;
using texts = std::vector<std::string>;
constexpr unsigned long entry = 0x02200000, exit_type = 0x02210000, data = 0x02220000;
const char* const unit = "libutils/csgl/csgl_file.cpp";
const unsigned long invalid_parameter = exc_invalid_parameter_t::fixed_code,
                    does_not_exist = exc_does_not_exist_t::fixed_code,
                    already_exists = exc_already_exists_t::fixed_code,
                    invalid_handle = exc_invalid_handle_t::fixed_code;

void expect_failure(const std::function<void()>& operation, const char* text, unsigned long error) {
    ::expect_failure(operation, unit, text, error);
}

// The lowest free descriptor: unchanged when a failed call leaked nothing.
int next_descriptor() {
    const int fd = dup(0);
    close(fd);
    return fd;
}

// The entry texts written under `id`.
texts entries(unsigned long id) {
    texts found;
    for (const trace_record& r : recorded_traces())
        if (r.type == entry && r.id == id) found.push_back(r.data);
    return found;
}

class file_test : public testing::Test {
protected:
    std::string path(const char* name) const { return dir / name; }
    const char* name(const char* n) {
        names.push_back(path(n));
        return names.back().c_str();
    }
    temp_dir dir;
    std::list<std::string> names;
};

TEST_F(file_test, invalid_choices_are_refused_before_anything_is_opened) {
    struct { int action, access, denied; } const cases[] = {
        {0, 2, 0}, {6, 2, 0}, {-1, 2, 0}, {3, 0, 0}, {3, 4, 0}, {3, 2, 1}, {3, 2, 4}, {3, 2, -1},
    };
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
    file(x, file::open_or_create, file::access_write, file::deny_read_write);
    EXPECT_TRUE(file::exists(x));
}

TEST_F(file_test, actions_follow_the_table_and_failures_map_their_error_numbers) {
    const char *f = name("f"), *g = name("g");
    expect_failure([&] { file(f, file::open_existing, file::access_read, file::deny_none); },
                   "does_not_exist (ENOENT)", does_not_exist);
    expect_failure([&] { file(f, file::truncate_existing, file::access_write, file::deny_none); },
                   "does_not_exist (ENOENT)", does_not_exist);
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
    EXPECT_EQ(read_file(path("f")), std::string(100, '\0') + std::string(10, 'a'));
    expect_failure([&] { f.seek(0, file::seek_indicator(3)); }, "exc_invalid_parameter",
                   invalid_parameter);
    EXPECT_EQ(f.seek(50, file::seek_begin), 50);
    EXPECT_EQ(f.seek(-10, file::seek_current), 40);
    EXPECT_EQ(f.seek(-10, file::seek_end), 100);
    expect_failure([&] { f.seek(-1, file::seek_begin); }, "invalid_parameter (EINVAL)",
                   invalid_parameter);
    f.flush();
    {
        file copy(f);  // a duplicate sharing the offset
        EXPECT_EQ(copy.read(bytes, 100), 10u);
    }
    EXPECT_EQ(f.seek(0, file::seek_current), 110);
    expect_failure([&] { f.get_last_mod_time(); }, "exc_not_implemented",
                   exc_not_implemented_t::fixed_code);
    expect_failure([] { (void)(file::timestamp(1) < file::timestamp(2)); }, "exc_not_implemented",
                   exc_not_implemented_t::fixed_code);
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
    EXPECT_STREQ(csgl_file_null_name, "/dev/null");
    EXPECT_EQ(sizeof csgl_file_null_name, 10u);
}

TEST_F(file_test, member_operations_write_their_records) {
    file f(name("f"), file::create_new, file::access_read_write, file::deny_none);
    const host_session session(0x7800);
    char bytes[4] = {'a', 'b', 'c', 'd'};
    f.write(bytes, 4);
    f.seek(-2, file::seek_end);
    f.size();
    f.truncate();
    { file copy(f); }
    const void* const self = &f;
    const std::string none(4, '\0');
    const std::vector<trace_record> expected = {
        {entry, 0x14031100, self, true, "4"},     {exit_type, 0x14031100, self, true, none},
        {entry, 0x14030B00, self, true, "-2, 2"}, {exit_type, 0x14030B00, self, true, none},
        {data, 0x14030C00, self, true, "4"},      {entry, 0x14031000, self, false, ""},
        {exit_type, 0x14031000, self, true, none},
    };
    std::vector<trace_record> records = recorded_traces();
    ASSERT_EQ(records.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<trace_record>(records.begin(), records.end() - 2), expected);
    EXPECT_EQ(records[7].type, 0x021E0000u);  // the copy: "= <original>"
    EXPECT_EQ(records[7].id, 0x14030000u);
    EXPECT_EQ(records[8].type, 0x021F0000u);
    EXPECT_EQ(records[8].object, records[7].object);

    const host_session sizes_only(0x4000);
    f.size();
    const std::vector<trace_record> size_record = {{data, 0x14030C00, self, true, "0"}};
    EXPECT_EQ(recorded_traces(), size_record);
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
        EXPECT_EQ(entries(0x14030300), (texts{names + " (don't force)", names + " (force)"}));
        EXPECT_EQ(entries(0x14030800), (texts{"8192", "8192", "8192", "8192"}));
        EXPECT_EQ(entries(0x14031100), (texts{"8192", "8192", "3616"}));
    }
    EXPECT_EQ(read_file(to), contents);

    write_file(from, "short");
    expect_failure([&] { file::copy(from, to); }, "exc_already_exists", already_exists);
    EXPECT_EQ(read_file(to), contents);
    file::copy(from, to, file::force);  // onto a longer file
    EXPECT_EQ(read_file(to), "short");
    file::copy(to, to, file::force);  // onto itself: untouched
    EXPECT_EQ(read_file(to), "short");
    write_file(from, "");
    file::copy(from, to, file::force);
    EXPECT_EQ(read_file(to), "");

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
        EXPECT_EQ(entries(0x14030A00), texts{std::string(a) + " -> " + b + " (force)"});
        EXPECT_EQ(entries(0x14030900), texts{b});
    }
    EXPECT_FALSE(file::exists(a));
    EXPECT_EQ(read_file(b), "A");
    file::rename(b, a);
    file::rename(a, a, file::force);  // onto itself: kept
    EXPECT_EQ(read_file(a), "A");
    EXPECT_FALSE(file::exists(b));

    ASSERT_EQ(mkdir(d, 0700), 0);
    EXPECT_TRUE(file::exists(d));
    expect_failure([&] { file::rename(d, b); }, "permission_denied (EPERM)",
                   exc_permission_denied_t::fixed_code);
    ASSERT_EQ(symlink(path("nowhere").c_str(), dangling), 0);
    EXPECT_FALSE(file::exists(dangling));
    file::remove(a);
    EXPECT_FALSE(file::exists(a));
    expect_failure([&] { file::remove(a); }, "does_not_exist (ENOENT)", does_not_exist);
}

// Runs with the working directory changed, and changes it back.
class in_directory {
public:
    explicit in_directory(const std::string& path) : old_(getcwd(nullptr, 0)) {
        EXPECT_EQ(chdir(path.c_str()), 0);
    }
    ~in_directory() {
        EXPECT_EQ(chdir(old_), 0);
        free(old_);
    }

private:
    char* old_;
};

TEST_F(file_test, canonize_joins_without_normalising) {
    EXPECT_STREQ(file::canonize("/a/./b"), "/a/./b");
    {
        const in_directory here(dir.path());
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        EXPECT_EQ(std::string(file::canonize("x/../y")), std::string(cwd) + "/x/../y");
        EXPECT_EQ(std::string(file::canonize("")), std::string(cwd) + "/");
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
