// The support library's trace front-end: thin shells that stamp component
// 0x02 and hand every record to the trace-record core
// (libutils/trace/trace_core.hpp).
#include "libutils/cstr/cstr.hpp"

#include <cstdarg>
#include <cstdio>

#include "libutils/trace/trace_core.hpp"
#include "libutils/trace/trace_text.hpp"

cstr_function_global cstr_fun;

cstr_formater_local::cstr_formater_local(unsigned long id, unsigned long type, const void* object)
    : id_(id), type_(type), object_(object) {}

cstr_formater_global::cstr_formater_global(unsigned long type) : type_(type) {}

cstr_function_global::cstr_function_global() {}

void cstr_write(unsigned long type, unsigned long id, const void* object, const char* format,
                void* args) {
    trace_write_text(type, id, object, format, args);
}

void cstr_write(unsigned long type, unsigned long id, const void* object) {
    trace_write(type, id, object);
}

void cstr_write(unsigned long type, unsigned long id, const void* object, const void* other) {
    char text[40];
    const int length = std::snprintf(text, sizeof text, "= %p", other);
    trace_write(type, id, object, text, static_cast<unsigned long>(length));
}

void cstr_exit_errcode(unsigned long id, unsigned long kind, unsigned long mask, long code,
                       const void* object) {
    trace_write_exit(trace_component_support, id, kind, mask, code, object);
}

// A record without data from a global formatter, the support library's own.
void cstr_formater_global::operator()(unsigned long id) { trace_write(type_, id, nullptr); }

namespace {
using local_formatter = cstr_formater_local;
using global_formatter = cstr_formater_global;
using global_formatter_factory = cstr_function_global;
}  // namespace
#include "libutils/trace/trace_formatters.inc"
