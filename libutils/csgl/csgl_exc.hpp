// The exception tree of the support library.
//
// `exc_t` is the root of every exception the library throws.  An exception
// records where it was raised (file and line, as the throw site's compiler
// gives them), a 32-bit error code and a text held in a catalogue message.
// Building one writes trace records and logs its message.  Exceptions are
// thrown and caught by value; copies share one message body.
//
// Every class derives from exactly one direct base, so a handler for a
// family head catches the whole family.  No class adds a field.  Classes
// with a fixed csgl error code (`fixed_code`) have the form (file, line,
// text, message_number); family heads and `exc_unmapped_t` have the form
// (file, line, text, error, message_number) that takes the code from the
// caller; some classes have both.  csgl_exc_tree.def lists the classes, with
// their bases, forms and codes and the error numbers mapped onto them.
//
// Library throw sites pass their own __FILE__ and __LINE__, message number
// 0, and as text the class name without "_t" or a short description.
#ifndef LIBUTILS_CSGL_CSGL_EXC_HPP
#define LIBUTILS_CSGL_CSGL_EXC_HPP

#include "libutils/csgl/csgl_message.hpp"
#include "libutils/cstr/cstr.hpp"

class TRANSYS_EXPORT exc_t
    : public cstr_class<cstr_type(trace_kind_created), trace_event_objects, trace_id_exc_t, exc_t> {
public:
    // `message_number` selects a catalogue message; 0 means none.  Throws
    // exc_not_enough_memory_t instead when the message cannot be allocated.
    exc_t(const char* file, int line, const char* text, unsigned long error, int message_number);
    // Shares the source's message body; the message is not logged again.
    exc_t(const exc_t& other);
    exc_t& operator=(const exc_t& other) = default;
    virtual ~exc_t();

    // A copy of the message handle: message().msg_string() is the text with
    // its markers removed.
    csgl_message message() const;

    // Stores `quiet` and returns the value it replaced.  Nothing in the
    // library consults it.
    static bool be_quiet(bool quiet);
    // The library keeps no record of the exception being handled: null.
    static exc_t* get_current();

    // Throw the exception class an error number maps to; return normally
    // only for 0.
    // An operating-system error number.
    static void throw_posix_error(const char* file, int line, unsigned long code);
    // A csgl error code; `text` becomes the exception's text.
    static void throw_csgl_error(const char* file, int line, unsigned long code, const char* text);
    // A number of a foreign error space: always exc_unmapped_t.
    static void throw_cspl_error(const char* file, int line, unsigned long code);
    // Same as throw_posix_error.
    static void throw_tcpip_error(const char* file, int line, unsigned long code);
    // throw_posix_error with the calling thread's errno.
    static void throw_last_tcpip_error(const char* file, int line);

    unsigned long error;  // csgl error code (32 bits), or a foreign number
    const char* file;     // not copied: throw sites pass string literals
    int line;
    csgl_message msg;

    static bool _quiet;
};

// The classes below exc_t, one for each row of csgl_exc_tree.def, where
// their bases, forms, fixed codes and error numbers are listed.  Each has
// the constructors of its forms, a copy constructor and a virtual
// destructor, and nothing else: every exception has exc_t's layout.  A class
// with form B has its code as `fixed_code`.
#define CSGL_EXC_DECLARE_A(C, code) \
    C(const char* file, int line, const char* text, unsigned long error, int message_number);
#define CSGL_EXC_DECLARE_B(C, code)                   \
    static constexpr unsigned long fixed_code = code; \
    C(const char* file, int line, const char* text, int message_number);
#define CSGL_EXC_DECLARE_AB(C, code)                                                          \
    static constexpr unsigned long fixed_code = code;                                         \
    C(const char* file, int line, const char* text, unsigned long error, int message_number); \
    C(const char* file, int line, const char* text, int message_number);
#define CSGL_EXC_CLASS(name, base, forms, code)                   \
    class TRANSYS_EXPORT exc_##name##_t : public base {           \
    public:                                                       \
        CSGL_EXC_DECLARE_##forms(exc_##name##_t, code) exc_##name \
            ##_t(const exc_##name##_t&) = default;                \
        ~exc_##name##_t() override;                               \
    };
#include "libutils/csgl/csgl_exc_tree.def"
#undef CSGL_EXC_DECLARE_A
#undef CSGL_EXC_DECLARE_B
#undef CSGL_EXC_DECLARE_AB

// Throws a copy of `e`, as every throw site of the library does: the site
// builds the exception, handlers catch the copy, and the site's object is
// destroyed as the stack unwinds (a trace shows all three).
template <class E>
[[noreturn]] void exc_throw(const E& e) {
    throw e;
}

// Returns `p` unchanged when it is not null; throws exc_not_enough_memory_t
// with the caller's file and line and the text "not enough memory" when it
// is.  Every allocation of the support library goes through it.
template <class T>
T* exc_if_no_mem(const char* file, int line, T* p) {
    if (p == nullptr) exc_throw(exc_not_enough_memory_t(file, line, "not enough memory", 0));
    return p;
}

#endif
