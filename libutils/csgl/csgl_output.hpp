// Character output of the support library.
//
// `csgl_output` is an abstract sink that takes one character at a time
// through `put_char`.  The tree below it: a stream buffered in a caller's
// buffer, the same with its own 512 bytes, a file stream over a
// `csgl_file`, a stream that appends to a `csgl_string`, one that discards
// everything and one that copies everything to a second stream.  The
// `operator<<` family prints numbers, characters, texts, a few wrappers and
// exceptions, each in exactly one form: there are no widths, bases or other
// stream state.
//
// Failures are thrown as exceptions of the library's tree.
//
// Thread rules: no stream is locked; one thread uses a stream at a time,
// the standard-output and standard-error streams included.  Those two
// streams and the "/dev/null" fallback are each built exactly once, also
// when first uses race.
#ifndef LIBUTILS_CSGL_CSGL_OUTPUT_HPP
#define LIBUTILS_CSGL_CSGL_OUTPUT_HPP

#include "host/input.hpp"
#include "libutils/csgl/csgl_ban.hpp"
#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_file.hpp"
#include "libutils/csgl/csgl_string.hpp"
#include "libutils/cstr/cstr.hpp"

// The abstract sink.  Destructors may throw (a file stream's last write can
// fail), so every stream's destructor is noexcept(false).
class TRANSYS_EXPORT csgl_output {
public:
    // The one entry through which every character reaches a stream.
    void put_char(char ch) { really_put_char(ch); }
    // Writes `ch` `n` times.
    virtual void put_chars(char ch, unsigned int n) = 0;
    // Pushes buffered characters onward.
    virtual void flush() = 0;
    virtual ~csgl_output() noexcept(false);

protected:
    virtual void really_put_char(char ch) = 0;
};

// Supplies `put_chars` and a `flush` that does nothing.
class TRANSYS_EXPORT csgl_output_imp : public csgl_output {
public:
    void put_chars(char ch, unsigned int n) override;
    void flush() override;
    ~csgl_output_imp() noexcept(false) override;
};

// A stream buffered in `size` bytes it does not own.  Characters are stored
// until the buffer is full; the next character first calls `flush()`, which
// a derived class implements by passing [buffer, current) to `write` and
// setting `current` back to `buffer`.  The destructor does not flush.
class TRANSYS_EXPORT csgl_output_buffer_imp : public csgl_output_imp,
                                              public csgl_ban_copy_and_assignment {
public:
    csgl_output_buffer_imp(unsigned int size, char* buffer);
    void flush() override = 0;
    ~csgl_output_buffer_imp() noexcept(false) override;

    // Writes `n` bytes of `data` onward; returns the count written.
    virtual unsigned int write(void* data, unsigned int n) = 0;

protected:
    void really_put_char(char ch) override;

    char* buffer;   // first byte of the buffer
    char* current;  // where the next character goes; [buffer, current) is pending
    char* limit;    // one past the last byte
};

// The buffered stream with its own 512-byte buffer.
class TRANSYS_EXPORT csgl_output_buffer_imp_of_512 : public csgl_output_buffer_imp {
public:
    csgl_output_buffer_imp_of_512();
    ~csgl_output_buffer_imp_of_512() noexcept(false) override;

private:
    char storage[512];
};

// A stream into a file, through a handle of its own (the private base),
// written one system write per full buffer or flush.  The handle is closed
// when the stream is destroyed.
//
// Destruction flushes.  A failing last write leaves the destructor as its
// exception, except while another exception is propagating: then it is
// dropped (the characters are lost) and the stream is destroyed, so the
// process is not ended.
class TRANSYS_EXPORT csgl_output_file
    : public csgl_output_buffer_imp_of_512,
      private csgl_file,
      public cstr_class<cstr_type(trace_kind_created), trace_event_objects,
                        trace_id_csgl_output_file, csgl_output_file> {
public:
    enum mode_indicator : int {
        mode_truncate = 0,  // empty the file first
        mode_append = 1,    // write from the file's end
        mode_keep = 2       // an open handle only: write at its position
    };

    // Opens `name` for writing, creating it if absent (mode 0640 less the
    // umask).  mode_keep and any other value but mode_truncate and
    // mode_append throw exc_invalid_parameter_t before anything is opened.
    csgl_output_file(const char* name, mode_indicator mode);
    // Writes through a duplicate of `file`'s handle, which shares the open
    // file and its offset with `file`: truncating or positioning at the end
    // acts on both.  A mode outside the three throws
    // exc_invalid_parameter_t.
    csgl_output_file(csgl_file& file, mode_indicator mode);
    ~csgl_output_file() noexcept(false) override;

    // Writes the pending characters in one write.  A short write throws
    // exc_not_enough_disk_t and keeps them pending for the next flush.
    void flush() override;
    // flush(), then fsync of the handle.
    void flush_to_disk();
    // One write of the handle.
    unsigned int write(void* data, unsigned int n) override;

    // The standard-output stream, on a duplicate of descriptor 1; its last
    // buffer is written at process exit (a failure there is dropped).
    static csgl_output_file& std_output();
    // The standard-error stream, on a duplicate of descriptor 2; never
    // destroyed, so usable while other statics are destroyed at exit, and
    // what is still buffered at exit is not written.  When it cannot be
    // built, a stream appending to "/dev/null" stands in.
    static csgl_output_file& std_error();
};

// Appends every character to a string, by building a new representation
// one character longer: the string's other handles keep the old text.  A
// NUL changes nothing.  For short texts.  The string must outlive the
// stream.
class TRANSYS_EXPORT csgl_output_str : public csgl_output_imp {
public:
    explicit csgl_output_str(csgl_string& s);
    ~csgl_output_str() noexcept(false) override;

protected:
    void really_put_char(char ch) override;

private:
    csgl_string* target;
};

// Discards every character.
class TRANSYS_EXPORT csgl_output_black_hole : public csgl_output_imp {
public:
    csgl_output_black_hole();
    ~csgl_output_black_hole() noexcept(false) override;

protected:
    void really_put_char(char ch) override;
};

// Passes every character to `first`, and a copy to `second` (a NUL as a
// newline) until `halt_redirection()`.  Neither stream is owned, flushed or
// destroyed by the redirector.
class TRANSYS_EXPORT csgl_output_redirector : public csgl_output_imp {
public:
    csgl_output_redirector(csgl_output& first, csgl_output& second);
    ~csgl_output_redirector() noexcept(false) override;

    // Stops the copies for good.
    void halt_redirection();

protected:
    void really_put_char(char ch) override;

private:
    csgl_output* primary;
    csgl_output* secondary;  // null once halted
};

// A 32-bit number printed as "0x" and 8 lower-case hexadecimal digits.
struct TRANSYS_EXPORT csgl_hex {
    explicit csgl_hex(unsigned int value) : value(value) {}
    unsigned int value;
};

// A pointer printed as lower-case hexadecimal digits at the pointer's full
// width (8 on i386, 16 on x86_64), no prefix.
struct TRANSYS_EXPORT csgl_output_voidp_proxy {
    explicit csgl_output_voidp_proxy(const void* address) : address(address) {}
    const void* address;
};

// A text printed between quote characters, each quote inside doubled.
// Holds a reference: the string must outlive the proxy.
struct TRANSYS_EXPORT csgl_str_quoted {
    csgl_str_quoted(const csgl_string& s, char quote) : quoted(s), quote(quote) {}
    const csgl_string& quoted;
    char quote;
};

// Decimal numbers: an optional '-' and the digits, nothing else.  `long`
// and `unsigned long` print at their full width (64 bits on x86_64).
// Printing a number allocates its digits on the heap: exc_not_enough_memory_t
// when that fails, with no digit printed.
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, int value);
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, long value);
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, unsigned int value);
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, unsigned long value);
// The one character, NUL included.
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, const char& ch);
// The characters before the first NUL; `text` must not be null.
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, const char* text);
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, const csgl_string& text);
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, const csgl_str_quoted& text);
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, csgl_hex number);
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, csgl_output_voidp_proxy pointer);
// Every character `input` yields until it yields NUL.
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, csgl_input& input);
// "exc 'FILE' LINE ERROR 'TEXT'", quoted with the apostrophe; no line end.
TRANSYS_EXPORT csgl_output& operator<<(csgl_output& out, const exc_t& e);

// The number of characters operator<< prints for `n`.
TRANSYS_EXPORT int csgl_output_length(int n);

#endif
