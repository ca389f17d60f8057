// Files of the support library.
//
// A `csgl_file` owns one open POSIX file descriptor from construction to
// destruction: there is no separate open or close.  It is built from a name
// and a few enumerated choices, or as a duplicate (`dup`) of a descriptor
// or of another `csgl_file`, so every object closes only its own descriptor;
// duplicates share the open file's offset.  Every failure is thrown as an
// exception of the library's tree, with this unit's file and line and the
// error number mapped as exc_t::throw_posix_error maps it; nothing is
// retried, EINTR included.  Created files get the permission bits 0640 less
// the process's umask.
//
// The whole-file operations (copy, rename, remove, exists, canonize) are
// static members.
//
// Thread rules: an object has no lock; one thread uses it at a time.  The
// three standard handles are built once, also when first uses race.
#ifndef LIBUTILS_CSGL_CSGL_FILE_HPP
#define LIBUTILS_CSGL_CSGL_FILE_HPP

#include "libutils/csgl/csgl_ban.hpp"
#include "libutils/csgl/csgl_string.hpp"
#include "libutils/cstr/cstr.hpp"

// The name of the platform's null device, "/dev/null".
TRANSYS_EXPORT extern const char csgl_file_null_name[10];

class TRANSYS_EXPORT csgl_file
    : public csgl_ban_assignment,
      public cstr_class<cstr_type(trace_kind_created), trace_event_objects, trace_id_csgl_file,
                        csgl_file> {
public:
    // The enumerations have `int` as their underlying type, so any number a
    // caller passes is a value the constructor can look at and refuse.

    // How the name is reached: which open(2) creation flags are added.
    enum action_indicator : int {
        create_new = 1,         // O_CREAT | O_EXCL: fails if the file exists
        open_existing = 2,      // fails if the file is missing
        open_or_create = 3,     // O_CREAT
        truncate_existing = 4,  // O_TRUNC: fails if the file is missing
        create_or_truncate = 5  // O_CREAT | O_TRUNC
    };
    enum access_requested_indicator : int {
        access_read = 1,       // O_RDONLY
        access_write = 2,      // O_WRONLY
        access_read_write = 3  // O_RDWR
    };
    // What other openers are to be denied.  Checked, but no sharing
    // restriction is enforced; 1 is not a valid value.
    enum access_denied_indicator : int { deny_none = 0, deny_write = 2, deny_read_write = 3 };
    enum seek_indicator : int { seek_begin = 0, seek_current = 1, seek_end = 2 };
    // Selects the forms of copy and rename that replace an existing target.
    enum force_indicator : int { force = 0 };

    // A modification time.  Times are not implemented: comparing throws
    // exc_not_implemented_t.
    class TRANSYS_EXPORT timestamp {
    public:
        timestamp(const long& value);
        bool operator<(const timestamp& other) const;

        long value;
    };

    // Opens `name`.  The three choices are checked in this order before
    // anything is opened: an invalid one throws exc_invalid_parameter_t.
    csgl_file(const char* name, action_indicator action, access_requested_indicator access,
              access_denied_indicator denied);
    // Takes a duplicate of `handle`; the caller keeps its own.
    explicit csgl_file(int handle);
    // Takes a duplicate of `other`'s descriptor.  Traced as a new handle:
    // its creation record names no source.
    csgl_file(const csgl_file& other);
    // Closes the descriptor; a failure of close is ignored.
    ~csgl_file();

    // The size in bytes (fstat).
    long size();
    // One read(2): the count read, 0 at the end of the file.
    unsigned int read(void* buffer, unsigned int length);
    // One write(2): the count written, which may be less than `length`.
    unsigned int write(void* buffer, unsigned int length);
    // lseek(2): the new offset from the start of the file.
    long seek(long offset, seek_indicator origin);
    // Empties the file; the offset does not move.
    void truncate();
    // Moves the offset to the end of the file (it does not set O_APPEND).
    void append();
    // fsync(2): forces the file's data to the device.
    void flush();
    // Always throws exc_not_implemented_t.
    timestamp get_last_mod_time();

    // dup(2).
    static int duplicate_handle(int handle);
    // Process-wide handles on duplicates of descriptors 0, 1 and 2, built
    // on first use and destroyed at normal process exit.
    static csgl_file& std_input();
    static csgl_file& std_output();
    static csgl_file& std_error();

    // Copies the contents of `from` into a new file `to`; throws
    // exc_already_exists_t when `to` exists.
    static void copy(const char* from, const char* to);
    // Copies, creating `to` or emptying it first; the tag is not looked at.
    // The source is opened before the target is touched; what was written
    // stays when a later step fails.  When both names reach the same file
    // (one name, or two links) nothing is done, so the file is not lost.
    static void copy(const char* from, const char* to, force_indicator);
    // Gives the file `from` the name `to`; throws exc_already_exists_t when
    // `to` exists.
    static void rename(const char* from, const char* to);
    // Removes an existing `to`, then links `from` as `to` and unlinks
    // `from`: one file system only, and no directories.  An existing `to`
    // is gone even when the link fails.  When both names reach the same file
    // (one name, or two links) nothing is done, as rename(2) does.
    static void rename(const char* from, const char* to, force_indicator);
    // unlink(2).
    static void remove(const char* name);
    // Whether stat(2) succeeds (symbolic links are followed); never throws.
    static bool exists(const char* name);
    // `name` when it is absolute, else the working directory (at most 1024
    // characters), "/" and `name`.  Nothing is normalised or tested.
    static csgl_string canonize(const char* name);

private:
    int handle_;
};

#endif
