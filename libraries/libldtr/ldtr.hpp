// The directory server's trace front-end.
//
// A traced function of the server declares one `ldtr_function_local` scope
// first thing.  While bit 0x1000 of `trcEvents` is set it writes its entry
// record through a formatter the scope hands out; the scope's destructor
// writes the exit record, carrying the code the function recorded with
// `SetErrorCode`, on every way out while bit 0x1000 or 0x2000 is set.
// Records go to the host trace service (host/trc.h) stamped with the trace
// component 0x03.  Callers test `trcEvents` before they format anything, so
// a disabled trace costs one load and one test.
//
// Formatters are short-lived values bound to one record; `ldtr_fun` hands
// out global formatters bound to a record type only.  Debug texts at level
// 0xC8110000 are written as records of kind 0x07 and also passed to the host
// message service's PrintDebugVa.
//
// Thread rules: everything here is per call and per thread; the only shared
// datum is the host's `trcEvents`, read afresh at every test.
#ifndef LIBRARIES_LIBLDTR_LDTR_HPP
#define LIBRARIES_LIBLDTR_LDTR_HPP

#include <cstddef>

#include "host/trc.h"
#include "libutils/base/export.h"
#include "libutils/trace/trace_ids.h"

// The record type of kind `kind` (trace_kind_entry, ...; the event bits,
// trace_event_*, and the debug level trace_debug_text_level are there too,
// in libutils/trace/trace_ids.h) in the directory trace: component 0x03 in
// the top byte, the kind in the next.
constexpr unsigned long ldtr_type(unsigned long kind) {
    return trace_type(trace_component_directory, kind);
}

// Starts the host trace service; for the server to call before it wants
// records.  Hands back what trcInit() returned.
TRANSYS_EXPORT int ldtr_init();

// Formats `format` with `args` (the caller's va_list, passed untyped) and
// writes it as a text record.
TRANSYS_EXPORT void ldtr_write(unsigned long type, unsigned long id, const void* object,
                               const char* format, void* args);
// Writes a record without data.
TRANSYS_EXPORT void ldtr_write(unsigned long type, unsigned long id, const void* object);
// Writes an exit record whose 4 data bytes are `code` as a signed 32-bit
// value in host byte order.  Its kind is the error exit, (kind / 10 + 8),
// when `trcEvents` has a bit of twice `mask` set and `code` is not 0, and
// `kind` otherwise.
TRANSYS_EXPORT void ldtr_exit_errcode(unsigned long id, unsigned long kind, unsigned long mask,
                                      long code, const void* object);

// A formatter bound to one function id, record type and object.
class TRANSYS_EXPORT ldtr_formater_local {
public:
    ldtr_formater_local(unsigned long id, unsigned long type, const void* object);

    // Writes the text under the function id ORed with the low byte of
    // `level`, then hands it to PrintDebugVa.  At level 0xC8110000 this
    // formatter's type first becomes the debug-text kind 0x07 for good.
    void debug(unsigned long level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Writing records, as the support library's formatters do.
#include "libutils/trace/trace_local_formatter.inc"
};

// A formatter bound to a record type only; the id comes with each record.
class TRANSYS_EXPORT ldtr_formater_global {
public:
    explicit ldtr_formater_global(unsigned long type);

    // Writes the text with the whole of `level` as function id and no
    // object, then hands it to PrintDebugVa; the type changes at level
    // 0xC8110000 as the local formatter's does.
    void debug(unsigned long level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Writing records, as the support library's formatters do.
#include "libutils/trace/trace_global_formatter.inc"
};

// The function object behind `ldtr_fun`: `ldtr_fun(type).debug(...)`.
class TRANSYS_EXPORT ldtr_function_global {
public:
    ldtr_function_global();
    ldtr_formater_global operator()(unsigned long type) const;
};

TRANSYS_EXPORT extern ldtr_function_global ldtr_fun;

// The trace scope of one traced function, named by `ID`.  `Kind` is the
// exit record kind and `Mask` the entry event bit: trace_kind_exit (33) and
// trace_event_entry (4096) throughout the server, as in
// `ldtr_function_local<trace_id_tran_api_system_init, trace_kind_exit,
// trace_event_entry>`.  Lives on the stack of the traced function.
template <unsigned long ID, unsigned long Kind, unsigned long Mask>
class ldtr_function_local {
public:
    explicit ldtr_function_local(const void* object) : code_(0), object_(object) {}
    ldtr_function_local(const ldtr_function_local&) = delete;
    ldtr_function_local& operator=(const ldtr_function_local&) = delete;
    ~ldtr_function_local() {
        if (trcEvents & (Mask | 2 * Mask)) ldtr_exit_errcode(ID, Kind, Mask, code_, object_);
    }

    ldtr_formater_local operator()(unsigned long type) const {
        return ldtr_formater_local(ID, type, object_);
    }

    // Records `code` for the exit record and hands it back, so a function
    // can return its result through it.
    long SetErrorCode(long code) {
        code_ = code;
        return code;
    }

private:
    long code_;
    const void* object_;
};

#endif
