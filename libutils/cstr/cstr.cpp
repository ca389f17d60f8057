#include "libutils/cstr/cstr.hpp"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "libutils/trace/trace_text.hpp"

cstr_function_global cstr_fun;

void cstr_write(unsigned long type, unsigned long id, const void* object, const char* format,
                void* args) {
    char text[cstr_text_area];
    const unsigned long length = trace_format(text, sizeof text, format, args);
    trcWriteRec(type, id, object, length, text, 0, 0, 0, 0);
}

void cstr_write(unsigned long type, unsigned long id, const void* object) {
    trcWriteRec(type, id, object, 0, nullptr, 0, 0, 0, 0);
}

void cstr_write(unsigned long type, unsigned long id, const void* object, const void* other) {
    char text[40];
    const int length = std::snprintf(text, sizeof text, "= %p", other);
    trcWriteRec(type, id, object, static_cast<unsigned long>(length), text, 0, 0, 0, 0);
}

void cstr_exit_errcode(unsigned long id, unsigned long kind, unsigned long mask, long code,
                       const void* object) {
    unsigned long type;
    if ((trcEvents & 2 * mask) && code != 0) {
        type = 0x02000000 + (kind / 10 + 8) * 0x10000;
    } else {
        type = 0x02000000 + kind * 0x10000;
    }
    const std::int32_t data = static_cast<std::int32_t>(code);
    trcWriteRec(type, id, object, sizeof data, &data, 0, 0, 0, 0);
}

cstr_formater_local::cstr_formater_local(unsigned long id, unsigned long type,
                                         const void* object)
    : id_(id), type_(type), object_(object) {}

void cstr_formater_local::operator()() { cstr_write(type_, id_, object_); }

void cstr_formater_local::operator()(const char* format, ...) {
    va_list args;
    va_start(args, format);
    cstr_write(type_, id_, object_, format, trace_va_pointer(args));
    va_end(args);
}

void cstr_formater_local::operator()(unsigned long sub, const char* format, ...) {
    va_list args;
    va_start(args, format);
    cstr_write(type_, id_ | (sub & 0xFF), object_, format, trace_va_pointer(args));
    va_end(args);
}

void cstr_formater_local::new_delete(const void* p, const char* format, ...) {
    va_list args;
    va_start(args, format);
    cstr_write(type_, id_, p, format, trace_va_pointer(args));
    va_end(args);
}

void cstr_formater_local::new_delete(unsigned long sub, const void* p, const char* format, ...) {
    va_list args;
    va_start(args, format);
    cstr_write(type_, id_ | (sub & 0xFF), p, format, trace_va_pointer(args));
    va_end(args);
}

cstr_formater_global::cstr_formater_global(unsigned long type) : type_(type) {}

void cstr_formater_global::operator()(unsigned long id) { cstr_write(type_, id, nullptr); }

void cstr_formater_global::operator()(unsigned long id, const char* format, ...) {
    va_list args;
    va_start(args, format);
    cstr_write(type_, id, nullptr, format, trace_va_pointer(args));
    va_end(args);
}

void cstr_formater_global::new_delete(unsigned long id, const void* p, const char* format, ...) {
    va_list args;
    va_start(args, format);
    cstr_write(type_, id, p, format, trace_va_pointer(args));
    va_end(args);
}

cstr_function_global::cstr_function_global() {}

cstr_formater_global cstr_function_global::operator()(unsigned long type) const {
    return cstr_formater_global(type);
}
