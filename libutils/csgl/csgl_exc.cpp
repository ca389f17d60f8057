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

exc_t::exc_t(const char* file, int line, const char* text, unsigned long error,
             int message_number)
    : cstr_class(1),
      error(low_32_bits(error)),
      file(file),
      line(line),
      msg(text, message_number, file, line) {
    // The code is printed once as hexadecimal and once as a signed 32-bit
    // number, whatever the width of long.
    const long signed_error = static_cast<std::int32_t>(this->error);
    if (trcEvents & cstr_event_objects) {
        cstr_fun(cstr_type_created)
            .new_delete(0x141B0000, this, "%s\nfile: %s; line: %d; error: %#lx = %ld",
                        printable(text), printable(file), line, this->error, signed_error);
    }
    if (trcEvents & cstr_event_error) {
        cstr_fun(cstr_type_error)(0x141B0100, "%s\nfile: %s; line: %d; error: %#lx = %ld",
                                  printable(text), printable(file), line, this->error,
                                  signed_error);
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
        case 0: return;
        case EPERM: exc_throw(exc_permission_denied_t(file, line, "permission_denied (EPERM)", 0));
        case ENOENT: exc_throw(exc_does_not_exist_t(file, line, "does_not_exist (ENOENT)", 0));
        case ESRCH: exc_throw(exc_does_not_exist_t(file, line, "does_not_exist (ESRCH)", 0));
        case ENXIO: exc_throw(exc_does_not_exist_t(file, line, "does_not_exist (ENXIO)", 0));
        case E2BIG: exc_throw(exc_domain_overflow_t(file, line, "domain_overflow (E2BIG)", 0));
        case EBADF: exc_throw(exc_invalid_handle_t(file, line, "invalid_handle (EBADF)", 0));
        case EAGAIN: exc_throw(exc_object_busy_t(file, line, "object_busy (EAGAIN)", 0));
        case ENOMEM: exc_throw(exc_not_enough_memory_t(file, line, "not_enough_memory (ENOMEM)", 0));
        case EACCES: exc_throw(exc_permission_denied_t(file, line, "permission_denied (EACCES)", 0));
        case EFAULT: exc_throw(exc_invalid_address_t(file, line, "invalid_address (EFAULT)", 0));
        case EBUSY: exc_throw(exc_object_busy_t(file, line, "object_busy (EBUSY)", 0));
        case EEXIST: exc_throw(exc_already_exists_t(file, line, "already_exists (EEXIST)", 0));
        case ENODEV: exc_throw(exc_does_not_exist_t(file, line, "does_not_exist (ENODEV)", 0));
        case EINVAL: exc_throw(exc_invalid_parameter_t(file, line, "invalid_parameter (EINVAL)", 0));
        case ENFILE: exc_throw(exc_not_enough_handles_t(file, line, "not_enough_handles (ENFILE)", 0));
        case EMFILE: exc_throw(exc_not_enough_handles_t(file, line, "not_enough_handles (EMFILE)", 0));
        case ETXTBSY: exc_throw(exc_object_busy_t(file, line, "object_busy (ETXTBSY)", 0));
        case ENOSPC: exc_throw(exc_not_enough_disk_t(file, line, "not_enough_disk (ENOSPC)", 0));
        case EROFS: exc_throw(exc_permission_denied_t(file, line, "permission_denied (EROFS)", 0));
        case EDEADLK: exc_throw(exc_would_deadlock_t(file, line, "would_deadlock (EDEADLK)", 0));
        case ENOLCK: exc_throw(exc_not_enough_handles_t(file, line, "not_enough_handles (ENOLCK)", 0));
        case ENOSYS: exc_throw(exc_not_implemented_t(file, line, "not_implemented (ENOSYS)", 0));
        case EIDRM: exc_throw(exc_does_not_exist_t(file, line, "does_not_exist (EIDRM)", 0));
        case EOVERFLOW: exc_throw(exc_range_overflow_t(file, line, "range_overflow (EOVERFLOW)", 0));
        case ENOTSUP: exc_throw(exc_not_implemented_t(file, line, "not_implemented (ENOTSUP)", 0));
        case EDQUOT: exc_throw(exc_not_enough_disk_t(file, line, "not_enough_disk (EDQUOT)", 0));
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
        case 0: return;
        case exc_not_enough_memory_t::fixed_code: exc_throw(exc_not_enough_memory_t(file, line, text, 0));
        case exc_not_enough_handles_t::fixed_code: exc_throw(exc_not_enough_handles_t(file, line, text, 0));
        case exc_not_enough_disk_t::fixed_code: exc_throw(exc_not_enough_disk_t(file, line, text, 0));
        case exc_owner_died_t::fixed_code: exc_throw(exc_owner_died_t(file, line, text, 0));
        case exc_would_deadlock_t::fixed_code: exc_throw(exc_would_deadlock_t(file, line, text, 0));
        case exc_object_busy_t::fixed_code: exc_throw(exc_object_busy_t(file, line, text, 0));
        case exc_timeout_t::fixed_code: exc_throw(exc_timeout_t(file, line, text, 0));
        case exc_interrupt_t::fixed_code: exc_throw(exc_interrupt_t(file, line, text, 0));
        case exc_hardware_error_t::fixed_code: exc_throw(exc_hardware_error_t(file, line, text, 0));
        case exc_unexpected_t::fixed_code: exc_throw(exc_unexpected_t(file, line, text, 0));
        case exc_permission_denied_t::fixed_code: exc_throw(exc_permission_denied_t(file, line, text, 0));
        case exc_end_of_input_t::fixed_code: exc_throw(exc_end_of_input_t(file, line, text, 0));
        case exc_does_not_exist_t::fixed_code: exc_throw(exc_does_not_exist_t(file, line, text, 0));
        case exc_already_exists_t::fixed_code: exc_throw(exc_already_exists_t(file, line, text, 0));
        case exc_invalid_protocol_t::fixed_code: exc_throw(exc_invalid_protocol_t(file, line, text, 0));
        case exc_invalid_operation_t::fixed_code: exc_throw(exc_invalid_operation_t(file, line, text, 0));
        case exc_invalid_cast_t::fixed_code: exc_throw(exc_invalid_cast_t(file, line, text, 0));
        case exc_invalid_state_t::fixed_code: exc_throw(exc_invalid_state_t(file, line, text, 0));
        case exc_state_overflow_t::fixed_code: exc_throw(exc_state_overflow_t(file, line, text, 0));
        case exc_state_underflow_t::fixed_code: exc_throw(exc_state_underflow_t(file, line, text, 0));
        case exc_invalid_parameter_t::fixed_code: exc_throw(exc_invalid_parameter_t(file, line, text, 0));
        case exc_invalid_name_t::fixed_code: exc_throw(exc_invalid_name_t(file, line, text, 0));
        case exc_invalid_address_t::fixed_code: exc_throw(exc_invalid_address_t(file, line, text, 0));
        case exc_invalid_handle_t::fixed_code: exc_throw(exc_invalid_handle_t(file, line, text, 0));
        case exc_domain_overflow_t::fixed_code: exc_throw(exc_domain_overflow_t(file, line, text, 0));
        case exc_domain_underflow_t::fixed_code: exc_throw(exc_domain_underflow_t(file, line, text, 0));
        case exc_unexpected_end_of_input_t::fixed_code: exc_throw(exc_unexpected_end_of_input_t(file, line, text, 0));
        case exc_invalid_parameter_type_t::fixed_code: exc_throw(exc_invalid_parameter_type_t(file, line, text, 0));
        case exc_out_of_range_t::fixed_code: exc_throw(exc_out_of_range_t(file, line, text, 0));
        case exc_range_overflow_t::fixed_code: exc_throw(exc_range_overflow_t(file, line, text, 0));
        case exc_range_underflow_t::fixed_code: exc_throw(exc_range_underflow_t(file, line, text, 0));
        case exc_assertion_failed_t::fixed_code: exc_throw(exc_assertion_failed_t(file, line, text, 0));
        case exc_not_implemented_t::fixed_code: exc_throw(exc_not_implemented_t(file, line, text, 0));
        case exc_should_not_execute_t::fixed_code: exc_throw(exc_should_not_execute_t(file, line, text, 0));
        case exc_invariant_failed_t::fixed_code: exc_throw(exc_invariant_failed_t(file, line, text, 0));
        case exc_postcondition_failed_t::fixed_code: exc_throw(exc_postcondition_failed_t(file, line, text, 0));
        case exc_precondition_failed_t::fixed_code: exc_throw(exc_precondition_failed_t(file, line, text, 0));
        case exc_invalid_grammar_t::fixed_code: exc_throw(exc_invalid_grammar_t(file, line, text, 0));
        case exc_invalid_token_t::fixed_code: exc_throw(exc_invalid_token_t(file, line, text, 0));
        default: exc_throw(exc_unmapped_t(file, line, text, code, 0));
    }
}

exc_runtime_t::exc_runtime_t(const char* file, int line, const char* text,
                             unsigned long error, int message_number)
    : exc_t(file, line, text, error, message_number) {}
exc_runtime_t::~exc_runtime_t() = default;

exc_not_enough_resources_t::exc_not_enough_resources_t(const char* file, int line, const char* text,
                                                       unsigned long error, int message_number)
    : exc_runtime_t(file, line, text, error, message_number) {}
exc_not_enough_resources_t::~exc_not_enough_resources_t() = default;

exc_not_enough_memory_t::exc_not_enough_memory_t(const char* file, int line, const char* text,
                                                 int message_number)
    : exc_not_enough_resources_t(file, line, text, fixed_code, message_number) {}
exc_not_enough_memory_t::~exc_not_enough_memory_t() = default;

exc_not_enough_handles_t::exc_not_enough_handles_t(const char* file, int line, const char* text,
                                                   int message_number)
    : exc_not_enough_resources_t(file, line, text, fixed_code, message_number) {}
exc_not_enough_handles_t::~exc_not_enough_handles_t() = default;

exc_not_enough_disk_t::exc_not_enough_disk_t(const char* file, int line, const char* text,
                                             int message_number)
    : exc_not_enough_resources_t(file, line, text, fixed_code, message_number) {}
exc_not_enough_disk_t::~exc_not_enough_disk_t() = default;

exc_owner_died_t::exc_owner_died_t(const char* file, int line, const char* text,
                                   int message_number)
    : exc_runtime_t(file, line, text, fixed_code, message_number) {}
exc_owner_died_t::~exc_owner_died_t() = default;

exc_timing_t::exc_timing_t(const char* file, int line, const char* text,
                           unsigned long error, int message_number)
    : exc_runtime_t(file, line, text, error, message_number) {}
exc_timing_t::~exc_timing_t() = default;

exc_would_deadlock_t::exc_would_deadlock_t(const char* file, int line, const char* text,
                                           int message_number)
    : exc_timing_t(file, line, text, fixed_code, message_number) {}
exc_would_deadlock_t::~exc_would_deadlock_t() = default;

exc_object_busy_t::exc_object_busy_t(const char* file, int line, const char* text,
                                     int message_number)
    : exc_timing_t(file, line, text, fixed_code, message_number) {}
exc_object_busy_t::~exc_object_busy_t() = default;

exc_timeout_t::exc_timeout_t(const char* file, int line, const char* text,
                             int message_number)
    : exc_timing_t(file, line, text, fixed_code, message_number) {}
exc_timeout_t::~exc_timeout_t() = default;

exc_interrupt_t::exc_interrupt_t(const char* file, int line, const char* text,
                                 int message_number)
    : exc_timing_t(file, line, text, fixed_code, message_number) {}
exc_interrupt_t::~exc_interrupt_t() = default;

exc_hardware_error_t::exc_hardware_error_t(const char* file, int line, const char* text,
                                           int message_number)
    : exc_runtime_t(file, line, text, fixed_code, message_number) {}
exc_hardware_error_t::~exc_hardware_error_t() = default;

exc_unmapped_t::exc_unmapped_t(const char* file, int line, const char* text,
                               unsigned long error, int message_number)
    : exc_t(file, line, text, error, message_number) {}
exc_unmapped_t::~exc_unmapped_t() = default;

exc_unexpected_t::exc_unexpected_t(const char* file, int line, const char* text,
                                   int message_number)
    : exc_t(file, line, text, fixed_code, message_number) {}
exc_unexpected_t::~exc_unexpected_t() = default;

exc_maybe_t::exc_maybe_t(const char* file, int line, const char* text,
                         unsigned long error, int message_number)
    : exc_t(file, line, text, error, message_number) {}
exc_maybe_t::~exc_maybe_t() = default;

exc_permission_denied_t::exc_permission_denied_t(const char* file, int line, const char* text,
                                                 int message_number)
    : exc_maybe_t(file, line, text, fixed_code, message_number) {}
exc_permission_denied_t::~exc_permission_denied_t() = default;

exc_end_of_input_t::exc_end_of_input_t(const char* file, int line, const char* text,
                                       int message_number)
    : exc_maybe_t(file, line, text, fixed_code, message_number) {}
exc_end_of_input_t::~exc_end_of_input_t() = default;

exc_does_not_exist_t::exc_does_not_exist_t(const char* file, int line, const char* text,
                                           int message_number)
    : exc_maybe_t(file, line, text, fixed_code, message_number) {}
exc_does_not_exist_t::~exc_does_not_exist_t() = default;

exc_already_exists_t::exc_already_exists_t(const char* file, int line, const char* text,
                                           int message_number)
    : exc_maybe_t(file, line, text, fixed_code, message_number) {}
exc_already_exists_t::~exc_already_exists_t() = default;

exc_logic_t::exc_logic_t(const char* file, int line, const char* text,
                         unsigned long error, int message_number)
    : exc_t(file, line, text, error, message_number) {}
exc_logic_t::~exc_logic_t() = default;

exc_invalid_protocol_t::exc_invalid_protocol_t(const char* file, int line, const char* text,
                                               int message_number)
    : exc_logic_t(file, line, text, fixed_code, message_number) {}
exc_invalid_protocol_t::~exc_invalid_protocol_t() = default;

exc_invalid_operation_t::exc_invalid_operation_t(const char* file, int line, const char* text,
                                                 int message_number)
    : exc_logic_t(file, line, text, fixed_code, message_number) {}
exc_invalid_operation_t::~exc_invalid_operation_t() = default;

exc_invalid_cast_t::exc_invalid_cast_t(const char* file, int line, const char* text,
                                       int message_number)
    : exc_logic_t(file, line, text, fixed_code, message_number) {}
exc_invalid_cast_t::~exc_invalid_cast_t() = default;

exc_invalid_state_t::exc_invalid_state_t(const char* file, int line, const char* text,
                                         unsigned long error, int message_number)
    : exc_logic_t(file, line, text, error, message_number) {}
exc_invalid_state_t::exc_invalid_state_t(const char* file, int line, const char* text,
                                         int message_number)
    : exc_logic_t(file, line, text, fixed_code, message_number) {}
exc_invalid_state_t::~exc_invalid_state_t() = default;

exc_state_overflow_t::exc_state_overflow_t(const char* file, int line, const char* text,
                                           int message_number)
    : exc_invalid_state_t(file, line, text, fixed_code, message_number) {}
exc_state_overflow_t::~exc_state_overflow_t() = default;

exc_state_underflow_t::exc_state_underflow_t(const char* file, int line, const char* text,
                                             int message_number)
    : exc_invalid_state_t(file, line, text, fixed_code, message_number) {}
exc_state_underflow_t::~exc_state_underflow_t() = default;

exc_invalid_parameter_t::exc_invalid_parameter_t(const char* file, int line, const char* text,
                                                 unsigned long error, int message_number)
    : exc_logic_t(file, line, text, error, message_number) {}
exc_invalid_parameter_t::exc_invalid_parameter_t(const char* file, int line, const char* text,
                                                 int message_number)
    : exc_logic_t(file, line, text, fixed_code, message_number) {}
exc_invalid_parameter_t::~exc_invalid_parameter_t() = default;

exc_invalid_name_t::exc_invalid_name_t(const char* file, int line, const char* text,
                                       int message_number)
    : exc_invalid_parameter_t(file, line, text, fixed_code, message_number) {}
exc_invalid_name_t::~exc_invalid_name_t() = default;

exc_invalid_address_t::exc_invalid_address_t(const char* file, int line, const char* text,
                                             int message_number)
    : exc_invalid_parameter_t(file, line, text, fixed_code, message_number) {}
exc_invalid_address_t::~exc_invalid_address_t() = default;

exc_invalid_handle_t::exc_invalid_handle_t(const char* file, int line, const char* text,
                                           int message_number)
    : exc_invalid_parameter_t(file, line, text, fixed_code, message_number) {}
exc_invalid_handle_t::~exc_invalid_handle_t() = default;

exc_domain_overflow_t::exc_domain_overflow_t(const char* file, int line, const char* text,
                                             int message_number)
    : exc_invalid_parameter_t(file, line, text, fixed_code, message_number) {}
exc_domain_overflow_t::~exc_domain_overflow_t() = default;

exc_domain_underflow_t::exc_domain_underflow_t(const char* file, int line, const char* text,
                                               unsigned long error, int message_number)
    : exc_invalid_parameter_t(file, line, text, error, message_number) {}
exc_domain_underflow_t::exc_domain_underflow_t(const char* file, int line, const char* text,
                                               int message_number)
    : exc_invalid_parameter_t(file, line, text, fixed_code, message_number) {}
exc_domain_underflow_t::~exc_domain_underflow_t() = default;

exc_unexpected_end_of_input_t::exc_unexpected_end_of_input_t(const char* file, int line, const char* text,
                                                             int message_number)
    : exc_domain_underflow_t(file, line, text, fixed_code, message_number) {}
exc_unexpected_end_of_input_t::~exc_unexpected_end_of_input_t() = default;

exc_invalid_parameter_type_t::exc_invalid_parameter_type_t(const char* file, int line, const char* text,
                                                           int message_number)
    : exc_invalid_parameter_t(file, line, text, fixed_code, message_number) {}
exc_invalid_parameter_type_t::~exc_invalid_parameter_type_t() = default;

exc_out_of_range_t::exc_out_of_range_t(const char* file, int line, const char* text,
                                       unsigned long error, int message_number)
    : exc_logic_t(file, line, text, error, message_number) {}
exc_out_of_range_t::exc_out_of_range_t(const char* file, int line, const char* text,
                                       int message_number)
    : exc_logic_t(file, line, text, fixed_code, message_number) {}
exc_out_of_range_t::~exc_out_of_range_t() = default;

exc_range_overflow_t::exc_range_overflow_t(const char* file, int line, const char* text,
                                           int message_number)
    : exc_out_of_range_t(file, line, text, fixed_code, message_number) {}
exc_range_overflow_t::~exc_range_overflow_t() = default;

exc_range_underflow_t::exc_range_underflow_t(const char* file, int line, const char* text,
                                             int message_number)
    : exc_out_of_range_t(file, line, text, fixed_code, message_number) {}
exc_range_underflow_t::~exc_range_underflow_t() = default;

exc_assertion_failed_t::exc_assertion_failed_t(const char* file, int line, const char* text,
                                               unsigned long error, int message_number)
    : exc_logic_t(file, line, text, error, message_number) {}
exc_assertion_failed_t::exc_assertion_failed_t(const char* file, int line, const char* text,
                                               int message_number)
    : exc_logic_t(file, line, text, fixed_code, message_number) {}
exc_assertion_failed_t::~exc_assertion_failed_t() = default;

exc_not_implemented_t::exc_not_implemented_t(const char* file, int line, const char* text,
                                             int message_number)
    : exc_assertion_failed_t(file, line, text, fixed_code, message_number) {}
exc_not_implemented_t::~exc_not_implemented_t() = default;

exc_should_not_execute_t::exc_should_not_execute_t(const char* file, int line, const char* text,
                                                   int message_number)
    : exc_assertion_failed_t(file, line, text, fixed_code, message_number) {}
exc_should_not_execute_t::~exc_should_not_execute_t() = default;

exc_invariant_failed_t::exc_invariant_failed_t(const char* file, int line, const char* text,
                                               int message_number)
    : exc_assertion_failed_t(file, line, text, fixed_code, message_number) {}
exc_invariant_failed_t::~exc_invariant_failed_t() = default;

exc_postcondition_failed_t::exc_postcondition_failed_t(const char* file, int line, const char* text,
                                                       int message_number)
    : exc_assertion_failed_t(file, line, text, fixed_code, message_number) {}
exc_postcondition_failed_t::~exc_postcondition_failed_t() = default;

exc_precondition_failed_t::exc_precondition_failed_t(const char* file, int line, const char* text,
                                                     int message_number)
    : exc_assertion_failed_t(file, line, text, fixed_code, message_number) {}
exc_precondition_failed_t::~exc_precondition_failed_t() = default;

exc_input_t::exc_input_t(const char* file, int line, const char* text,
                         unsigned long error, int message_number)
    : exc_t(file, line, text, error, message_number) {}
exc_input_t::~exc_input_t() = default;

exc_invalid_grammar_t::exc_invalid_grammar_t(const char* file, int line, const char* text,
                                             int message_number)
    : exc_input_t(file, line, text, fixed_code, message_number) {}
exc_invalid_grammar_t::~exc_invalid_grammar_t() = default;

exc_invalid_token_t::exc_invalid_token_t(const char* file, int line, const char* text,
                                         int message_number)
    : exc_input_t(file, line, text, fixed_code, message_number) {}
exc_invalid_token_t::~exc_invalid_token_t() = default;
