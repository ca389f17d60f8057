#include "libutils/csgl/csgl_exc.hpp"

#include <cerrno>
#include <cstdint>

namespace {

// A null text or file shows as the C library prints a null string.
const char* printable(const char* s) { return s ? s : "(null)"; }

// Error numbers and codes are 32-bit on every target; where long is wider,
// its upper half is not part of the number.
unsigned long low_32_bits(unsigned long code) { return code & 0xFFFFFFFFul; }

}  // namespace

bool exc_t::_quiet = true;

exc_t::exc_t(const char* file, int line, const char* text, unsigned long error, int message_number)
    : cstr_class(1),
      error(low_32_bits(error)),
      file(file),
      line(line),
      msg(text, message_number, file, line) {
    // The code is printed once as hexadecimal and once as a signed 32-bit
    // number, whatever the width of long.
    const long signed_error = static_cast<std::int32_t>(this->error);
    static const char record_format[] = "%s\nfile: %s; line: %d; error: %#lx = %ld";
    if (trcEvents & trace_event_objects) {
        cstr_fun(cstr_type(trace_kind_created))
            .new_delete(trace_id_exc_t, this, record_format, printable(text), printable(file), line,
                        this->error, signed_error);
    }
    if (trcEvents & trace_event_error) {
        cstr_fun(cstr_type(trace_kind_text))(trace_id_exc_t_exc_t, record_format, printable(text),
                                             printable(file), line, this->error, signed_error);
    }
    msg.log(8, 5);
}

exc_t::exc_t(const exc_t& other)
    : cstr_class(other), error(other.error), file(other.file), line(other.line), msg(other.msg) {}

exc_t::~exc_t() = default;

csgl_message exc_t::message() const { return msg; }

bool exc_t::be_quiet(bool quiet) {
    const bool replaced = _quiet;
    _quiet = quiet;
    return replaced;
}

exc_t* exc_t::get_current() { return nullptr; }

void exc_t::throw_posix_error(const char* file, int line, unsigned long code) {
    switch (low_32_bits(code)) {
        case 0:
            return;
// Each error number of the tree's list, thrown as its class with the text
// "<class name without exc_ and _t> (<symbolic name>)".
#define CSGL_EXC_ERRNO(name, number) \
    case number:                     \
        exc_throw(exc_##name##_t(file, line, #name " (" #number ")", 0));
#include "libutils/csgl/csgl_exc_tree.def"
        default: exc_throw(exc_unmapped_t(file, line, "unmapped LINUX2 error", code, 0));
    }
}

void exc_t::throw_tcpip_error(const char* file, int line, unsigned long code) {
    throw_posix_error(file, line, code);
}

void exc_t::throw_last_tcpip_error(const char* file, int line) {
    throw_posix_error(file, line, static_cast<unsigned long>(errno));
}

void exc_t::throw_cspl_error(const char* file, int line, unsigned long code) {
    if (low_32_bits(code) == 0) return;
    exc_throw(exc_unmapped_t(file, line, "unmapped CSPL error", code, 0));
}

// Each class thrown with its own fixed code, so that throwing a code and
// building a class are inverse to each other.
void exc_t::throw_csgl_error(const char* file, int line, unsigned long code, const char* text) {
    switch (low_32_bits(code)) {
        case 0:
            return;
// Every class with form B, thrown under its fixed code.
#define CSGL_EXC_CASE_A(C)
#define CSGL_EXC_CASE_B(C) \
    case C::fixed_code:    \
        exc_throw(C(file, line, text, 0));
#define CSGL_EXC_CASE_AB(C) CSGL_EXC_CASE_B(C)
#define CSGL_EXC_CLASS(name, base, forms, code) CSGL_EXC_CASE_##forms(exc_##name##_t)
#include "libutils/csgl/csgl_exc_tree.def"
#undef CSGL_EXC_CASE_A
#undef CSGL_EXC_CASE_B
#undef CSGL_EXC_CASE_AB
        default: exc_throw(exc_unmapped_t(file, line, text, code, 0));
    }
}

// The classes of the tree's list.  Their constructors only pass their
// arguments on to the direct base's form A, form B with the class's fixed
// code as `error`, down to exc_t's constructor, which does all the work.
#define CSGL_EXC_DEFINE_A(C, base)                                                              \
    C::C(const char* file, int line, const char* text, unsigned long error, int message_number) \
        : base(file, line, text, error, message_number) {}
#define CSGL_EXC_DEFINE_B(C, base)                                         \
    C::C(const char* file, int line, const char* text, int message_number) \
        : base(file, line, text, fixed_code, message_number) {}
#define CSGL_EXC_DEFINE_AB(C, base) CSGL_EXC_DEFINE_A(C, base) CSGL_EXC_DEFINE_B(C, base)
#define CSGL_EXC_CLASS(name, base, forms, code) \
    CSGL_EXC_DEFINE_##forms(exc_##name##_t, base) exc_##name##_t::~exc_##name##_t() = default;
#include "libutils/csgl/csgl_exc_tree.def"
#undef CSGL_EXC_DEFINE_A
#undef CSGL_EXC_DEFINE_B
#undef CSGL_EXC_DEFINE_AB
