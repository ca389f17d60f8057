#include "libutils/csgl/csgl_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_exc_named.hpp"
#include "libutils/csgl/csgl_local.hpp"
#include "libutils/csgl/csgl_str.hpp"
#include "libutils/csgl/csgl_trc.hpp"

const char csgl_file_null_name[10] = "/dev/null";

namespace {

// The trace scopes of the operations, under their ids of the registry
// (libutils/trace/trace_ids.h).
template <unsigned long ID>
using member_scope = csgl_trc_local<ID, trace_kind_exit, trace_event_entry>;
template <unsigned long ID>
using static_scope = csgl_trc_local_static<ID, trace_kind_exit, trace_event_entry>;

constexpr mode_t created_file_mode = 0640;
constexpr unsigned int copy_block = 8192;
constexpr unsigned int max_directory_length = 1024;

[[noreturn]] void throw_errno(int line) {
    exc_t::throw_posix_error(__FILE__, line, errno);
    // throw_posix_error returns only for error 0, which no failing call sets.
    exc_throw(exc_unmapped_t(__FILE__, line, "unmapped LINUX2 error", 0, 0));
}

// The open(2) flags of an action, an access and a denial, checked in that
// order.
int open_flags(csgl_file::action_indicator action, csgl_file::access_requested_indicator access,
               csgl_file::access_denied_indicator denied) {
    int flags = 0;
    switch (action) {
        case csgl_file::create_new: flags = O_CREAT | O_EXCL; break;
        case csgl_file::open_existing: flags = 0; break;
        case csgl_file::open_or_create: flags = O_CREAT; break;
        case csgl_file::truncate_existing: flags = O_TRUNC; break;
        case csgl_file::create_or_truncate: flags = O_CREAT | O_TRUNC; break;
        default: exc_throw_named<exc_invalid_parameter_t>(__FILE__, __LINE__);
    }
    switch (access) {
        case csgl_file::access_read: flags |= O_RDONLY; break;
        case csgl_file::access_write: flags |= O_WRONLY; break;
        case csgl_file::access_read_write: flags |= O_RDWR; break;
        default: exc_throw_named<exc_invalid_parameter_t>(__FILE__, __LINE__);
    }
    switch (denied) {
        case csgl_file::deny_none:
        case csgl_file::deny_write:
        case csgl_file::deny_read_write: break;
        default: exc_throw_named<exc_invalid_parameter_t>(__FILE__, __LINE__);
    }
    return flags;
}

// Whether the two names reach one file (the same device and inode).
bool same_file(const char* a, const char* b) {
    struct stat sa, sb;
    if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

csgl_file::timestamp::timestamp(const long& value) : value(value) {}

bool csgl_file::timestamp::operator<(const timestamp&) const {
    exc_throw_named<exc_not_implemented_t>(__FILE__, __LINE__);
}

csgl_file::csgl_file(const char* name, action_indicator action, access_requested_indicator access,
                     access_denied_indicator denied)
    : handle_(-1) {
    const int flags = open_flags(action, access, denied);
    handle_ = open(name, flags, created_file_mode);
    if (handle_ == -1) throw_errno(__LINE__);
}

csgl_file::csgl_file(int handle) : handle_(duplicate_handle(handle)) {}

// A copy is recorded as every other new handle is, without naming its
// source: the base's default constructor, not its copy constructor.
csgl_file::csgl_file(const csgl_file& other)
    : csgl_ban_assignment(other), cstr_class(), handle_(duplicate_handle(other.handle_)) {}

csgl_file::~csgl_file() { close(handle_); }

long csgl_file::size() {
    struct stat status;
    if (fstat(handle_, &status) != 0) throw_errno(__LINE__);
    const long bytes = status.st_size;
    if (trcEvents & trace_event_data) {
        cstr_formater_local(trace_id_csgl_file_size, cstr_type(trace_kind_data), this)("%ld",
                                                                                       bytes);
    }
    return bytes;
}

unsigned int csgl_file::read(void* buffer, unsigned int length) {
    const member_scope<trace_id_csgl_file_read> scope(this);
    if (trcEvents & trace_event_entry)
        scope(cstr_type(trace_kind_entry))("%ld", static_cast<long>(length));
    const ssize_t count = ::read(handle_, buffer, length);
    if (count == -1) throw_errno(__LINE__);
    return static_cast<unsigned int>(count);
}

unsigned int csgl_file::write(void* buffer, unsigned int length) {
    const member_scope<trace_id_csgl_file_write> scope(this);
    if (trcEvents & trace_event_entry)
        scope(cstr_type(trace_kind_entry))("%ld", static_cast<long>(length));
    const ssize_t count = ::write(handle_, buffer, length);
    if (count == -1) throw_errno(__LINE__);
    return static_cast<unsigned int>(count);
}

long csgl_file::seek(long offset, seek_indicator origin) {
    const member_scope<trace_id_csgl_file_seek> scope(this);
    if (trcEvents & trace_event_entry) {
        scope(cstr_type(trace_kind_entry))("%ld, %d", offset, static_cast<int>(origin));
    }
    int whence = SEEK_SET;
    switch (origin) {
        case seek_begin: whence = SEEK_SET; break;
        case seek_current: whence = SEEK_CUR; break;
        case seek_end: whence = SEEK_END; break;
        default: exc_throw_named<exc_invalid_parameter_t>(__FILE__, __LINE__);
    }
    const off_t position = lseek(handle_, offset, whence);
    if (position == -1) throw_errno(__LINE__);
    return static_cast<long>(position);
}

void csgl_file::truncate() {
    const member_scope<trace_id_csgl_file_truncate> scope(this);
    if (trcEvents & trace_event_entry) scope(cstr_type(trace_kind_entry))();
    if (ftruncate(handle_, 0) != 0) throw_errno(__LINE__);
}

void csgl_file::append() {
    const member_scope<trace_id_csgl_file_append> scope(this);
    if (trcEvents & trace_event_entry) scope(cstr_type(trace_kind_entry))();
    seek(0, seek_end);
}

void csgl_file::flush() {
    const member_scope<trace_id_csgl_file_flush> scope(this);
    if (trcEvents & trace_event_entry) scope(cstr_type(trace_kind_entry))();
    if (fsync(handle_) != 0) throw_errno(__LINE__);
}

csgl_file::timestamp csgl_file::get_last_mod_time() {
    exc_throw_named<exc_not_implemented_t>(__FILE__, __LINE__);
}

int csgl_file::duplicate_handle(int handle) {
    const int duplicate = dup(handle);
    if (duplicate == -1) throw_errno(__LINE__);
    return duplicate;
}

// Function-local statics: built once even when first uses race, built
// again by a later call when building failed, destroyed at process exit.
csgl_file& csgl_file::std_input() {
    static csgl_file handle(0);
    return handle;
}

csgl_file& csgl_file::std_output() {
    static csgl_file handle(1);
    return handle;
}

csgl_file& csgl_file::std_error() {
    static csgl_file handle(2);
    return handle;
}

void csgl_file::copy(const char* from, const char* to) {
    const static_scope<trace_id_csgl_file_copy> scope;
    if (trcEvents & trace_event_entry)
        scope(cstr_type(trace_kind_entry))("%s -> %s (don't force)", from, to);
    if (exists(to)) exc_throw_named<exc_already_exists_t>(__FILE__, __LINE__);
    copy(from, to, force);
}

void csgl_file::copy(const char* from, const char* to, force_indicator) {
    const static_scope<trace_id_csgl_file_copy> scope;
    if (trcEvents & trace_event_entry)
        scope(cstr_type(trace_kind_entry))("%s -> %s (force)", from, to);
    csgl_file source(from, open_existing, access_read, deny_none);
    if (same_file(from, to)) return;
    csgl_file target(to, create_or_truncate, access_write, deny_none);
    const csgl_local_array_of<char> buffer(copy_block);
    for (;;) {
        const unsigned int read = source.read(buffer, copy_block);
        if (read == 0) break;
        if (target.write(buffer, read) != read) {
            exc_throw_named<exc_not_enough_disk_t>(__FILE__, __LINE__);
        }
    }
}

void csgl_file::rename(const char* from, const char* to) {
    const static_scope<trace_id_csgl_file_rename> scope;
    if (trcEvents & trace_event_entry)
        scope(cstr_type(trace_kind_entry))("%s -> %s (don't force)", from, to);
    if (exists(to)) exc_throw_named<exc_already_exists_t>(__FILE__, __LINE__);
    rename(from, to, force);
}

void csgl_file::rename(const char* from, const char* to, force_indicator) {
    const static_scope<trace_id_csgl_file_rename> scope;
    if (trcEvents & trace_event_entry)
        scope(cstr_type(trace_kind_entry))("%s -> %s (force)", from, to);
    if (same_file(from, to)) return;
    if (exists(to)) remove(to);
    if (link(from, to) != 0) throw_errno(__LINE__);
    if (unlink(from) != 0) throw_errno(__LINE__);
}

void csgl_file::remove(const char* name) {
    const static_scope<trace_id_csgl_file_remove> scope;
    if (trcEvents & trace_event_entry) scope(cstr_type(trace_kind_entry))("%s", name);
    if (unlink(name) != 0) throw_errno(__LINE__);
}

bool csgl_file::exists(const char* name) {
    struct stat status;
    return stat(name, &status) == 0;
}

csgl_string csgl_file::canonize(const char* name) {
    if (name[0] == '/') return csgl_string(name);
    char directory[max_directory_length + 1];
    if (getcwd(directory, sizeof directory) == nullptr) throw_errno(__LINE__);
    const csgl_local_array_of<char> joined(csgl_str_length(directory) + 1 + csgl_str_length(name) +
                                           1);
    csgl_str_copy(joined, directory);
    csgl_str_concat(joined, "/");
    csgl_str_concat(joined, name);
    return csgl_string(joined);
}
