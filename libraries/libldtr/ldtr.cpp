// The directory trace front-end: thin shells that stamp component 0x03 and
// hand every record to the trace-record core (libutils/trace/trace_core.hpp).
#include "libraries/libldtr/ldtr.hpp"

#include <cstdarg>

#include "libutils/trace/trace_core.hpp"
#include "libutils/trace/trace_text.hpp"

ldtr_function_global ldtr_fun;

ldtr_formater_local::ldtr_formater_local(unsigned long id, unsigned long type, const void* object)
    : id_(id), type_(type), object_(object) {}

ldtr_formater_global::ldtr_formater_global(unsigned long type) : type_(type) {}

ldtr_function_global::ldtr_function_global() {}

int ldtr_init() { return trcInit(); }

void ldtr_write(unsigned long type, unsigned long id, const void* object, const char* format,
                void* args) {
    trace_write_text(type, id, object, format, args);
}

void ldtr_write(unsigned long type, unsigned long id, const void* object) {
    trace_write(type, id, object);
}

void ldtr_exit_errcode(unsigned long id, unsigned long kind, unsigned long mask, long code,
                       const void* object) {
    trace_write_exit(trace_component_directory, id, kind, mask, code, object);
}

// Debug texts, the directory trace's own: written under the id ORed with
// the low byte of the level (a global formatter: the level itself), then
// handed to the host's debug output.

void ldtr_formater_local::debug(unsigned long level, const char* format, ...) {
    type_ = trace_debug_type(type_, level);
    va_list args;
    va_start(args, format);
    trace_write_debug(type_, id_ | trace_sub_id(level), object_, level, format, args);
    va_end(args);
}

void ldtr_formater_global::debug(unsigned long level, const char* format, ...) {
    type_ = trace_debug_type(type_, level);
    va_list args;
    va_start(args, format);
    trace_write_debug(type_, level, nullptr, level, format, args);
    va_end(args);
}

namespace {
using local_formatter = ldtr_formater_local;
using global_formatter = ldtr_formater_global;
using global_formatter_factory = ldtr_function_global;
}  // namespace
#include "libutils/trace/trace_formatters.inc"
