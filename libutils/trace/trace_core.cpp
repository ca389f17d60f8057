#include "libutils/trace/trace_core.hpp"

#include <cstdint>

#include "host/message.h"
#include "host/trc.h"
#include "libutils/trace/trace_text.hpp"

void trace_write(unsigned long type, unsigned long id, const void* object, const void* data,
                 unsigned long length) {
    trcWriteRec(type, id, object, length, data, 0, 0, 0, 0);
}

void trace_write_text(unsigned long type, unsigned long id, const void* object, const char* format,
                      void* args) {
    char text[trace_text_area];
    trace_write(type, id, object, text, trace_format(text, sizeof text, format, args));
}

void trace_write_debug(unsigned long type, unsigned long id, const void* object,
                       unsigned long level, const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    trace_write_text(type, id, object, format, trace_va_pointer(args));
    PrintDebugVa(level, format, again);
    va_end(again);
}

unsigned long trace_debug_type(unsigned long type, unsigned long level) {
    if (level != trace_debug_text_level) return type;
    constexpr unsigned long component_byte = trace_type(0xFF, 0);
    return (type & component_byte) | trace_type(0, trace_kind_text);
}

void trace_write_exit(trace_component component, unsigned long id, unsigned long kind,
                      unsigned long mask, long code, const void* object) {
    const bool failed = (trcEvents & 2 * mask) != 0 && code != 0;
    const unsigned long written_kind = failed ? kind / 10 + 8 : kind;
    trace_write_code(trace_type(component, written_kind), id, object, code);
}

void trace_write_code(unsigned long type, unsigned long id, const void* object, long code) {
    const std::int32_t data = static_cast<std::int32_t>(code);
    trace_write(type, id, object, &data, sizeof data);
}
