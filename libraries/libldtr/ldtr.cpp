#include "libraries/libldtr/ldtr.hpp"

#include <cstdarg>
#include <cstdint>

#include "host/message.h"
#include "libutils/trace/trace_text.hpp"

ldtr_function_global ldtr_fun;

namespace {

// The type a debug formatter writes with: at the one debug level in use the
// record kind becomes 0x07 (debug text), keeping the trace component.
unsigned long debug_type(unsigned long type, unsigned long level) {
    if (level != ldtr_debug_level) return type;
    return (type & 0xFF000000) | (ldtr_type_debug_text & 0x00FF0000);
}

// Writes a debug text as a record and hands it to the host's debug output.
void write_debug(unsigned long type, unsigned long id, const void* object, unsigned long level,
                 const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    ldtr_write(type, id, object, format, trace_va_pointer(args));
    PrintDebugVa(level, format, again);
    va_end(again);
}

}  // namespace

int ldtr_init() { return trcInit(); }

void ldtr_write(unsigned long type, unsigned long id, const void* object, const char* format,
                void* args) {
    char text[ldtr_text_area];
    const unsigned long length = trace_format(text, sizeof text, format, args);
    trcWriteRec(type, id, object, length, text, 0, 0, 0, 0);
}

void ldtr_write(unsigned long type, unsigned long id, const void* object) {
    trcWriteRec(type, id, object, 0, nullptr, 0, 0, 0, 0);
}

void ldtr_exit_errcode(unsigned long id, unsigned long kind, unsigned long mask, long code,
                       const void* object) {
    unsigned long type;
    if ((trcEvents & 2 * mask) && code != 0) {
        type = 0x03000000 + (kind / 10 + 8) * 0x10000;
    } else {
        type = 0x03000000 + kind * 0x10000;
    }
    const std::int32_t data = static_cast<std::int32_t>(code);
    trcWriteRec(type, id, object, sizeof data, &data, 0, 0, 0, 0);
}

ldtr_formater_local::ldtr_formater_local(unsigned long id, unsigned long type, const void* object)
    : id_(id), type_(type), object_(object) {}

void ldtr_formater_local::operator()() { ldtr_write(type_, id_, object_); }

void ldtr_formater_local::operator()(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ldtr_write(type_, id_, object_, format, trace_va_pointer(args));
    va_end(args);
}

void ldtr_formater_local::operator()(unsigned long sub, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ldtr_write(type_, id_ | (sub & 0xFF), object_, format, trace_va_pointer(args));
    va_end(args);
}

void ldtr_formater_local::debug(unsigned long level, const char* format, ...) {
    type_ = debug_type(type_, level);
    va_list args;
    va_start(args, format);
    write_debug(type_, id_ | (level & 0xFF), object_, level, format, args);
    va_end(args);
}

void ldtr_formater_local::new_delete(const void* p, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ldtr_write(type_, id_, p, format, trace_va_pointer(args));
    va_end(args);
}

void ldtr_formater_local::new_delete(unsigned long sub, const void* p, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ldtr_write(type_, id_ | (sub & 0xFF), p, format, trace_va_pointer(args));
    va_end(args);
}

ldtr_formater_global::ldtr_formater_global(unsigned long type) : type_(type) {}

void ldtr_formater_global::operator()(unsigned long id, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ldtr_write(type_, id, nullptr, format, trace_va_pointer(args));
    va_end(args);
}

void ldtr_formater_global::new_delete(unsigned long id, const void* p, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ldtr_write(type_, id, p, format, trace_va_pointer(args));
    va_end(args);
}

void ldtr_formater_global::debug(unsigned long level, const char* format, ...) {
    type_ = debug_type(type_, level);
    va_list args;
    va_start(args, format);
    write_debug(type_, level, nullptr, level, format, args);
    va_end(args);
}

ldtr_function_global::ldtr_function_global() {}

ldtr_formater_global ldtr_function_global::operator()(unsigned long type) const {
    return ldtr_formater_global(type);
}
