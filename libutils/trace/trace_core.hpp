// The trace-record core under both trace front-ends.
//
// The directory's front-end (ldtr, component 0x03) and the support
// library's (cstr, component 0x02) write the same records the same way; the
// exported ldtr_* and cstr_* functions and formatter members are thin shells
// that hand their records to the functions here, which build each record
// and pass it to the host's trcWriteRec (host/trc.h).  What differs between
// the two, the component of an exit record, comes in as a parameter.  The
// formatter members both front-ends have are written once, in
// trace_formatters.inc.
//
// Internal to the library: nothing here is exported and this header is not
// installed.  Callers test trcEvents before they format anything; the
// functions here write unconditionally, except that an exit record reads
// trcEvents to choose its kind.
//
// Thread rules: everything here is per call; the only shared datum is the
// host's trcEvents, read afresh at every test.
#ifndef LIBUTILS_TRACE_TRACE_CORE_HPP
#define LIBUTILS_TRACE_TRACE_CORE_HPP

#include <cstdarg>

#include "libutils/trace/trace_ids.h"

// Writes a record whose data are the `length` bytes at `data`; a record
// without data when `length` is 0.
void trace_write(unsigned long type, unsigned long id, const void* object,
                 const void* data = nullptr, unsigned long length = 0);

// Formats `format` with `args` (a va_list carried untyped, as
// trace_text.hpp describes) into an area of trace_text_area bytes and
// writes the text, without its NUL, as the record's data.  A longer text is
// cut to fit.
void trace_write_text(unsigned long type, unsigned long id, const void* object, const char* format,
                      void* args);

// Writes the text as trace_write_text does, then hands `format` with the
// same arguments to the host's PrintDebugVa at `level`.
void trace_write_debug(unsigned long type, unsigned long id, const void* object,
                       unsigned long level, const char* format, va_list args);

// The type a formatter's debug writes with: at the debug-text level the
// kind becomes text (0x07) and stays so, the component kept; any other
// level leaves `type` alone.
unsigned long trace_debug_type(unsigned long type, unsigned long level);

// Writes the exit record of a traced function of `component`: its 4 data
// bytes are `code` as a signed 32-bit value in host byte order.  The kind
// is the error exit (kind / 10 + 8) when trcEvents has a bit of twice
// `mask` set and `code` is not 0, and `kind` otherwise.
void trace_write_exit(trace_component component, unsigned long id, unsigned long kind,
                      unsigned long mask, long code, const void* object);

// Writes a record whose 4 data bytes are `code` as a signed 32-bit value.
void trace_write_code(unsigned long type, unsigned long id, const void* object, long code);

// The part of `sub` that a formatter ORs into its id: the low byte.
constexpr unsigned long trace_sub_id(unsigned long sub) { return sub & 0xFF; }

#endif
