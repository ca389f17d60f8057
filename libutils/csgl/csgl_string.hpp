// Immutable, reference-counted strings.
//
// A `csgl_string` is a handle to a shared representation `csgl_string_`.
// Copying or assigning a handle moves a reference (one locked counter step,
// no allocation); every operation that yields a different text builds a new
// representation, and a representation is freed with its last handle.  No
// string holds a NUL inside it: building one stops at the first NUL of each
// source.  `c_str()` is never null.  Positions and lengths are unsigned
// 32-bit; "not found" is 0xFFFFFFFF.
//
// Thread rules: handles of one representation may be copied, assigned and
// destroyed concurrently; the text is never changed after construction, so
// reading it needs no lock; one handle object must not be assigned in one
// thread while another uses it.
#ifndef LIBUTILS_CSGL_CSGL_STRING_HPP
#define LIBUTILS_CSGL_CSGL_STRING_HPP

#include <new>

#include "libutils/csgl/csgl_ban.hpp"
#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_refcounted.hpp"

// The shared representation: a character block of `capacity` bytes holding
// `len` characters and a NUL.  `assign` and `append` change it in place;
// no operation of `csgl_string` calls them, so a representation that
// handles share never changes.
class TRANSYS_EXPORT csgl_string_ : public csgl_refcounted<csgl_string_> {
public:
    explicit csgl_string_(const char* s);
    csgl_string_(const char* a, unsigned int la, const char* b, unsigned int lb);
    ~csgl_string_();

    // Take at most `n` characters of `s` (fewer at its first NUL).
    void init(const char* s, unsigned int n);
    // At most `la` characters of `a`, then at most `lb` of `b`.
    void init(const char* a, unsigned int la, const char* b, unsigned int lb);
    // Replace (extend) the text; the block only ever grows, and the new
    // block is obtained before anything changes.  `s` must not lie inside
    // this representation's block.
    void assign(const char* s, unsigned int n);
    void append(const char* s, unsigned int n);

    unsigned int length() const { return len; }
    // strlen, or 0 for null.
    static unsigned int get_length(const char* s);

    unsigned int capacity;  // bytes in `text`
    unsigned int len;       // characters before the NUL
    char* text;             // owned; never null once built
};

class TRANSYS_EXPORT csgl_string {
public:
    static constexpr unsigned int npos = 0xFFFFFFFFu;

    // The empty string.  All default-constructed strings share one
    // representation, created once on first use.
    csgl_string();
    // A new representation of `s`; null gives an empty text.
    csgl_string(const char* s)
        : rep_(exc_if_no_mem(__FILE__, __LINE__, new (std::nothrow) csgl_string_(s))) {}
    // At most `la` characters of `a` followed by at most `lb` of `b`.
    csgl_string(const char* a, unsigned int la, const char* b, unsigned int lb)
        : rep_(exc_if_no_mem(__FILE__, __LINE__, new (std::nothrow) csgl_string_(a, la, b, lb))) {}
    csgl_string(const csgl_string& other) = default;
    csgl_string& operator=(const csgl_string& other) = default;
    ~csgl_string() = default;

    csgl_string operator+(const char* s) const;
    // Appending NUL yields a copy of the same text.
    csgl_string operator+(char c) const;
    friend TRANSYS_EXPORT csgl_string operator+(const char* s, const csgl_string& t);

    const char* c_str() const { return rep_->text; }
    operator const char*() const { return rep_->text; }
    unsigned int length() const { return rep_->len; }
    unsigned int size() const { return rep_->len; }

    // First position at or after `pos` holding `c`; the terminating NUL's
    // position is searched too.  npos when there is none or `pos` > size().
    unsigned int find(char c, unsigned int pos) const;
    // Last position at or before `pos` (npos: from size()) holding `c`.
    unsigned int rfind(char c, unsigned int pos) const;

    // -1, 0 or 1, comparing characters as signed 8-bit values.
    static int compare(const char* a, const char* b);

    // The shared representation, for inspection.
    const csgl_string_* representation() const { return rep_; }

private:
    csgl_refcounted_pointer_to<csgl_string_> rep_;
};

TRANSYS_EXPORT csgl_string operator+(const char* s, const csgl_string& t);

#endif
