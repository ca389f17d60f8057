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
// caller; some classes have both.
//
// Library throw sites pass their own __FILE__ and __LINE__, message number
// 0, and as text the class name without "_t" or a short description.
#ifndef LIBUTILS_CSGL_CSGL_EXC_HPP
#define LIBUTILS_CSGL_CSGL_EXC_HPP

#include "libutils/csgl/csgl_message.hpp"
#include "libutils/cstr/cstr.hpp"

class TRANSYS_EXPORT exc_t : public cstr_class<35520512, 2048, 337313792, exc_t> {
public:
    // `message_number` selects a catalogue message; 0 means none.  Throws
    // exc_not_enough_memory_t instead when the message cannot be allocated.
    exc_t(const char* file, int line, const char* text, unsigned long error,
          int message_number);
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
    static void throw_csgl_error(const char* file, int line, unsigned long code,
                                 const char* text);
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

// Family: failures of the running environment.
class TRANSYS_EXPORT exc_runtime_t : public exc_t {
public:
    exc_runtime_t(const char* file, int line, const char* text, unsigned long error,
                  int message_number);
    exc_runtime_t(const exc_runtime_t&) = default;
    ~exc_runtime_t() override;
};

// Family: a resource ran out.
class TRANSYS_EXPORT exc_not_enough_resources_t : public exc_runtime_t {
public:
    exc_not_enough_resources_t(const char* file, int line, const char* text, unsigned long error,
                               int message_number);
    exc_not_enough_resources_t(const exc_not_enough_resources_t&) = default;
    ~exc_not_enough_resources_t() override;
};

// ENOMEM; a failed allocation.
class TRANSYS_EXPORT exc_not_enough_memory_t : public exc_not_enough_resources_t {
public:
    static constexpr unsigned long fixed_code = 0x20000001;
    exc_not_enough_memory_t(const char* file, int line, const char* text, int message_number);
    exc_not_enough_memory_t(const exc_not_enough_memory_t&) = default;
    ~exc_not_enough_memory_t() override;
};

// ENFILE, EMFILE, ENOLCK.
class TRANSYS_EXPORT exc_not_enough_handles_t : public exc_not_enough_resources_t {
public:
    static constexpr unsigned long fixed_code = 0x2003001D;
    exc_not_enough_handles_t(const char* file, int line, const char* text, int message_number);
    exc_not_enough_handles_t(const exc_not_enough_handles_t&) = default;
    ~exc_not_enough_handles_t() override;
};

// ENOSPC, EDQUOT; a short write.
class TRANSYS_EXPORT exc_not_enough_disk_t : public exc_not_enough_resources_t {
public:
    static constexpr unsigned long fixed_code = 0x2003001C;
    exc_not_enough_disk_t(const char* file, int line, const char* text, int message_number);
    exc_not_enough_disk_t(const exc_not_enough_disk_t&) = default;
    ~exc_not_enough_disk_t() override;
};

// the owner of a resource died.
class TRANSYS_EXPORT exc_owner_died_t : public exc_runtime_t {
public:
    static constexpr unsigned long fixed_code = 0x20030021;
    exc_owner_died_t(const char* file, int line, const char* text, int message_number);
    exc_owner_died_t(const exc_owner_died_t&) = default;
    ~exc_owner_died_t() override;
};

// Family: waiting and scheduling.
class TRANSYS_EXPORT exc_timing_t : public exc_runtime_t {
public:
    exc_timing_t(const char* file, int line, const char* text, unsigned long error,
                 int message_number);
    exc_timing_t(const exc_timing_t&) = default;
    ~exc_timing_t() override;
};

// EDEADLK.
class TRANSYS_EXPORT exc_would_deadlock_t : public exc_timing_t {
public:
    static constexpr unsigned long fixed_code = 0x20030020;
    exc_would_deadlock_t(const char* file, int line, const char* text, int message_number);
    exc_would_deadlock_t(const exc_would_deadlock_t&) = default;
    ~exc_would_deadlock_t() override;
};

// EAGAIN, EBUSY, ETXTBSY.
class TRANSYS_EXPORT exc_object_busy_t : public exc_timing_t {
public:
    static constexpr unsigned long fixed_code = 0x2003001F;
    exc_object_busy_t(const char* file, int line, const char* text, int message_number);
    exc_object_busy_t(const exc_object_busy_t&) = default;
    ~exc_object_busy_t() override;
};

// a wait timed out.
class TRANSYS_EXPORT exc_timeout_t : public exc_timing_t {
public:
    static constexpr unsigned long fixed_code = 0x20000002;
    exc_timeout_t(const char* file, int line, const char* text, int message_number);
    exc_timeout_t(const exc_timeout_t&) = default;
    ~exc_timeout_t() override;
};

// a wait was interrupted.
class TRANSYS_EXPORT exc_interrupt_t : public exc_timing_t {
public:
    static constexpr unsigned long fixed_code = 0x2003001E;
    exc_interrupt_t(const char* file, int line, const char* text, int message_number);
    exc_interrupt_t(const exc_interrupt_t&) = default;
    ~exc_interrupt_t() override;
};

// the hardware failed.
class TRANSYS_EXPORT exc_hardware_error_t : public exc_runtime_t {
public:
    static constexpr unsigned long fixed_code = 0x20030019;
    exc_hardware_error_t(const char* file, int line, const char* text, int message_number);
    exc_hardware_error_t(const exc_hardware_error_t&) = default;
    ~exc_hardware_error_t() override;
};

// a number with no class of its own; `error` is that number.
class TRANSYS_EXPORT exc_unmapped_t : public exc_t {
public:
    exc_unmapped_t(const char* file, int line, const char* text, unsigned long error,
                   int message_number);
    exc_unmapped_t(const exc_unmapped_t&) = default;
    ~exc_unmapped_t() override;
};

// an unexpected failure.
class TRANSYS_EXPORT exc_unexpected_t : public exc_t {
public:
    static constexpr unsigned long fixed_code = 0x20030026;
    exc_unexpected_t(const char* file, int line, const char* text, int message_number);
    exc_unexpected_t(const exc_unexpected_t&) = default;
    ~exc_unexpected_t() override;
};

// Family: permission, end of input, existence.
class TRANSYS_EXPORT exc_maybe_t : public exc_t {
public:
    exc_maybe_t(const char* file, int line, const char* text, unsigned long error,
                int message_number);
    exc_maybe_t(const exc_maybe_t&) = default;
    ~exc_maybe_t() override;
};

// EPERM, EACCES, EROFS.
class TRANSYS_EXPORT exc_permission_denied_t : public exc_maybe_t {
public:
    static constexpr unsigned long fixed_code = 0x20030025;
    exc_permission_denied_t(const char* file, int line, const char* text, int message_number);
    exc_permission_denied_t(const exc_permission_denied_t&) = default;
    ~exc_permission_denied_t() override;
};

// the input is exhausted.
class TRANSYS_EXPORT exc_end_of_input_t : public exc_maybe_t {
public:
    static constexpr unsigned long fixed_code = 0x20030024;
    exc_end_of_input_t(const char* file, int line, const char* text, int message_number);
    exc_end_of_input_t(const exc_end_of_input_t&) = default;
    ~exc_end_of_input_t() override;
};

// ENOENT, ESRCH, ENXIO, ENODEV, EIDRM.
class TRANSYS_EXPORT exc_does_not_exist_t : public exc_maybe_t {
public:
    static constexpr unsigned long fixed_code = 0x20030023;
    exc_does_not_exist_t(const char* file, int line, const char* text, int message_number);
    exc_does_not_exist_t(const exc_does_not_exist_t&) = default;
    ~exc_does_not_exist_t() override;
};

// EEXIST.
class TRANSYS_EXPORT exc_already_exists_t : public exc_maybe_t {
public:
    static constexpr unsigned long fixed_code = 0x20030022;
    exc_already_exists_t(const char* file, int line, const char* text, int message_number);
    exc_already_exists_t(const exc_already_exists_t&) = default;
    ~exc_already_exists_t() override;
};

// Family: misuse by the calling code.
class TRANSYS_EXPORT exc_logic_t : public exc_t {
public:
    exc_logic_t(const char* file, int line, const char* text, unsigned long error,
                int message_number);
    exc_logic_t(const exc_logic_t&) = default;
    ~exc_logic_t() override;
};

// a protocol was not followed.
class TRANSYS_EXPORT exc_invalid_protocol_t : public exc_logic_t {
public:
    static constexpr unsigned long fixed_code = 0x20030018;
    exc_invalid_protocol_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_protocol_t(const exc_invalid_protocol_t&) = default;
    ~exc_invalid_protocol_t() override;
};

// an operation not allowed here.
class TRANSYS_EXPORT exc_invalid_operation_t : public exc_logic_t {
public:
    static constexpr unsigned long fixed_code = 0x20030017;
    exc_invalid_operation_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_operation_t(const exc_invalid_operation_t&) = default;
    ~exc_invalid_operation_t() override;
};

// a conversion not allowed.
class TRANSYS_EXPORT exc_invalid_cast_t : public exc_logic_t {
public:
    static constexpr unsigned long fixed_code = 0x20030016;
    exc_invalid_cast_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_cast_t(const exc_invalid_cast_t&) = default;
    ~exc_invalid_cast_t() override;
};

// an object in the wrong state.
class TRANSYS_EXPORT exc_invalid_state_t : public exc_logic_t {
public:
    static constexpr unsigned long fixed_code = 0x20030013;
    exc_invalid_state_t(const char* file, int line, const char* text, unsigned long error,
                        int message_number);
    exc_invalid_state_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_state_t(const exc_invalid_state_t&) = default;
    ~exc_invalid_state_t() override;
};

// a state above its range.
class TRANSYS_EXPORT exc_state_overflow_t : public exc_invalid_state_t {
public:
    static constexpr unsigned long fixed_code = 0x20030015;
    exc_state_overflow_t(const char* file, int line, const char* text, int message_number);
    exc_state_overflow_t(const exc_state_overflow_t&) = default;
    ~exc_state_overflow_t() override;
};

// a state below its range.
class TRANSYS_EXPORT exc_state_underflow_t : public exc_invalid_state_t {
public:
    static constexpr unsigned long fixed_code = 0x20030014;
    exc_state_underflow_t(const char* file, int line, const char* text, int message_number);
    exc_state_underflow_t(const exc_state_underflow_t&) = default;
    ~exc_state_underflow_t() override;
};

// EINVAL; a bad argument.
class TRANSYS_EXPORT exc_invalid_parameter_t : public exc_logic_t {
public:
    static constexpr unsigned long fixed_code = 0x20000000;
    exc_invalid_parameter_t(const char* file, int line, const char* text, unsigned long error,
                            int message_number);
    exc_invalid_parameter_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_parameter_t(const exc_invalid_parameter_t&) = default;
    ~exc_invalid_parameter_t() override;
};

// a bad name.
class TRANSYS_EXPORT exc_invalid_name_t : public exc_invalid_parameter_t {
public:
    static constexpr unsigned long fixed_code = 0x20030012;
    exc_invalid_name_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_name_t(const exc_invalid_name_t&) = default;
    ~exc_invalid_name_t() override;
};

// EFAULT.
class TRANSYS_EXPORT exc_invalid_address_t : public exc_invalid_parameter_t {
public:
    static constexpr unsigned long fixed_code = 0x20030011;
    exc_invalid_address_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_address_t(const exc_invalid_address_t&) = default;
    ~exc_invalid_address_t() override;
};

// EBADF.
class TRANSYS_EXPORT exc_invalid_handle_t : public exc_invalid_parameter_t {
public:
    static constexpr unsigned long fixed_code = 0x20030010;
    exc_invalid_handle_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_handle_t(const exc_invalid_handle_t&) = default;
    ~exc_invalid_handle_t() override;
};

// E2BIG; a timeout other than 0.
class TRANSYS_EXPORT exc_domain_overflow_t : public exc_invalid_parameter_t {
public:
    static constexpr unsigned long fixed_code = 0x2003000F;
    exc_domain_overflow_t(const char* file, int line, const char* text, int message_number);
    exc_domain_overflow_t(const exc_domain_overflow_t&) = default;
    ~exc_domain_overflow_t() override;
};

// an argument below its domain.
class TRANSYS_EXPORT exc_domain_underflow_t : public exc_invalid_parameter_t {
public:
    static constexpr unsigned long fixed_code = 0x2003000D;
    exc_domain_underflow_t(const char* file, int line, const char* text, unsigned long error,
                           int message_number);
    exc_domain_underflow_t(const char* file, int line, const char* text, int message_number);
    exc_domain_underflow_t(const exc_domain_underflow_t&) = default;
    ~exc_domain_underflow_t() override;
};

// input ended too early.
class TRANSYS_EXPORT exc_unexpected_end_of_input_t : public exc_domain_underflow_t {
public:
    static constexpr unsigned long fixed_code = 0x2003000E;
    exc_unexpected_end_of_input_t(const char* file, int line, const char* text, int message_number);
    exc_unexpected_end_of_input_t(const exc_unexpected_end_of_input_t&) = default;
    ~exc_unexpected_end_of_input_t() override;
};

// an argument of the wrong type.
class TRANSYS_EXPORT exc_invalid_parameter_type_t : public exc_invalid_parameter_t {
public:
    static constexpr unsigned long fixed_code = 0x2003000C;
    exc_invalid_parameter_type_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_parameter_type_t(const exc_invalid_parameter_type_t&) = default;
    ~exc_invalid_parameter_type_t() override;
};

// a value out of its range.
class TRANSYS_EXPORT exc_out_of_range_t : public exc_logic_t {
public:
    static constexpr unsigned long fixed_code = 0x20030009;
    exc_out_of_range_t(const char* file, int line, const char* text, unsigned long error,
                       int message_number);
    exc_out_of_range_t(const char* file, int line, const char* text, int message_number);
    exc_out_of_range_t(const exc_out_of_range_t&) = default;
    ~exc_out_of_range_t() override;
};

// EOVERFLOW.
class TRANSYS_EXPORT exc_range_overflow_t : public exc_out_of_range_t {
public:
    static constexpr unsigned long fixed_code = 0x2003000B;
    exc_range_overflow_t(const char* file, int line, const char* text, int message_number);
    exc_range_overflow_t(const exc_range_overflow_t&) = default;
    ~exc_range_overflow_t() override;
};

// a value below its range.
class TRANSYS_EXPORT exc_range_underflow_t : public exc_out_of_range_t {
public:
    static constexpr unsigned long fixed_code = 0x2003000A;
    exc_range_underflow_t(const char* file, int line, const char* text, int message_number);
    exc_range_underflow_t(const exc_range_underflow_t&) = default;
    ~exc_range_underflow_t() override;
};

// a checked assumption failed.
class TRANSYS_EXPORT exc_assertion_failed_t : public exc_logic_t {
public:
    static constexpr unsigned long fixed_code = 0x20030003;
    exc_assertion_failed_t(const char* file, int line, const char* text, unsigned long error,
                           int message_number);
    exc_assertion_failed_t(const char* file, int line, const char* text, int message_number);
    exc_assertion_failed_t(const exc_assertion_failed_t&) = default;
    ~exc_assertion_failed_t() override;
};

// ENOSYS, ENOTSUP.
class TRANSYS_EXPORT exc_not_implemented_t : public exc_assertion_failed_t {
public:
    static constexpr unsigned long fixed_code = 0x20030008;
    exc_not_implemented_t(const char* file, int line, const char* text, int message_number);
    exc_not_implemented_t(const exc_not_implemented_t&) = default;
    ~exc_not_implemented_t() override;
};

// code that must not be reached.
class TRANSYS_EXPORT exc_should_not_execute_t : public exc_assertion_failed_t {
public:
    static constexpr unsigned long fixed_code = 0x20030007;
    exc_should_not_execute_t(const char* file, int line, const char* text, int message_number);
    exc_should_not_execute_t(const exc_should_not_execute_t&) = default;
    ~exc_should_not_execute_t() override;
};

// an invariant does not hold.
class TRANSYS_EXPORT exc_invariant_failed_t : public exc_assertion_failed_t {
public:
    static constexpr unsigned long fixed_code = 0x20030006;
    exc_invariant_failed_t(const char* file, int line, const char* text, int message_number);
    exc_invariant_failed_t(const exc_invariant_failed_t&) = default;
    ~exc_invariant_failed_t() override;
};

// a postcondition does not hold.
class TRANSYS_EXPORT exc_postcondition_failed_t : public exc_assertion_failed_t {
public:
    static constexpr unsigned long fixed_code = 0x20030005;
    exc_postcondition_failed_t(const char* file, int line, const char* text, int message_number);
    exc_postcondition_failed_t(const exc_postcondition_failed_t&) = default;
    ~exc_postcondition_failed_t() override;
};

// a precondition does not hold.
class TRANSYS_EXPORT exc_precondition_failed_t : public exc_assertion_failed_t {
public:
    static constexpr unsigned long fixed_code = 0x20030004;
    exc_precondition_failed_t(const char* file, int line, const char* text, int message_number);
    exc_precondition_failed_t(const exc_precondition_failed_t&) = default;
    ~exc_precondition_failed_t() override;
};

// Family: malformed input being read.
class TRANSYS_EXPORT exc_input_t : public exc_t {
public:
    exc_input_t(const char* file, int line, const char* text, unsigned long error,
                int message_number);
    exc_input_t(const exc_input_t&) = default;
    ~exc_input_t() override;
};

// input against the grammar.
class TRANSYS_EXPORT exc_invalid_grammar_t : public exc_input_t {
public:
    static constexpr unsigned long fixed_code = 0x20030001;
    exc_invalid_grammar_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_grammar_t(const exc_invalid_grammar_t&) = default;
    ~exc_invalid_grammar_t() override;
};

// a token not understood.
class TRANSYS_EXPORT exc_invalid_token_t : public exc_input_t {
public:
    static constexpr unsigned long fixed_code = 0x20030000;
    exc_invalid_token_t(const char* file, int line, const char* text, int message_number);
    exc_invalid_token_t(const exc_invalid_token_t&) = default;
    ~exc_invalid_token_t() override;
};

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
