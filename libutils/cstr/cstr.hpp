// The support library's trace front-end.
//
// Every record goes to the host trace service (host/trc.h) stamped with the
// trace component 0x02.  Callers test `trcEvents` before they format
// anything, so a disabled trace costs one load and one test.  Formatters are
// short-lived values bound to one record type; `cstr_fun` hands out a global
// formatter for any type.  `cstr_class` is the empty base through which a
// traced class records the creation and destruction of its objects.
//
// Thread rules: everything here is per call; the only shared datum is the
// host's `trcEvents`, read afresh at every test.
#ifndef LIBUTILS_CSTR_CSTR_HPP
#define LIBUTILS_CSTR_CSTR_HPP

#include <cstddef>

#include "host/trc.h"
#include "libutils/base/export.h"
#include "libutils/trace/trace_ids.h"

// The record type of kind `kind` (trace_kind_entry, ...; the event bits,
// trace_event_*, are there too, in libutils/trace/trace_ids.h) in the
// support library's trace: component 0x02 in the top byte, the kind in the
// next.
constexpr unsigned long cstr_type(unsigned long kind) {
    return trace_type(trace_component_support, kind);
}

// Formats `format` with `args` (the caller's va_list, passed untyped) and
// writes it as a text record.
TRANSYS_EXPORT void cstr_write(unsigned long type, unsigned long id, const void* object,
                               const char* format, void* args);
// Writes a record without data.
TRANSYS_EXPORT void cstr_write(unsigned long type, unsigned long id, const void* object);
// Writes a record whose text is "= %p" of `other`.
TRANSYS_EXPORT void cstr_write(unsigned long type, unsigned long id, const void* object,
                               const void* other);
// Writes an exit record carrying the 4 bytes of `code`; the error-exit kind
// when a bit of twice `mask` is set and `code` is not 0.
TRANSYS_EXPORT void cstr_exit_errcode(unsigned long id, unsigned long kind, unsigned long mask,
                                      long code, const void* object);

// A formatter bound to one function id, record type and object.
class TRANSYS_EXPORT cstr_formater_local {
public:
    cstr_formater_local(unsigned long id, unsigned long type, const void* object);

    // Writing records, as the directory trace's formatters do.
#include "libutils/trace/trace_local_formatter.inc"
};

// A formatter bound to a record type only; the id comes with each record.
class TRANSYS_EXPORT cstr_formater_global {
public:
    explicit cstr_formater_global(unsigned long type);

    // A record without data, object null.
    void operator()(unsigned long id);

    // Writing records, as the directory trace's formatters do.
#include "libutils/trace/trace_global_formatter.inc"
};

// The function object behind `cstr_fun`: `cstr_fun(type).member(...)`.
class TRANSYS_EXPORT cstr_function_global {
public:
    cstr_function_global();
    cstr_formater_global operator()(unsigned long type) const;
};

TRANSYS_EXPORT extern cstr_function_global cstr_fun;

// Empty base of a traced class T that records the creation and destruction
// of T's objects while bit `Mask` of `trcEvents` is set.  Records name the
// whole T object, not the base inside it.  Adds no field to T.  Every
// traced class of the library is `cstr_class<cstr_type(trace_kind_created),
// trace_event_objects, trace_id_T, T>`, its id from libutils/trace/trace_ids.h.
template <unsigned long CreateType, unsigned long Mask, unsigned long ClassId, class T>
class cstr_class {
public:
    cstr_class() {
        if (trcEvents & Mask) cstr_write(CreateType, ClassId, whole());
    }
    // For classes that write their own, more detailed, creation record.
    explicit cstr_class(int) {}
    cstr_class(const cstr_class& source) {
        if (trcEvents & Mask) cstr_write(CreateType, ClassId, whole(), source.whole());
    }
    cstr_class& operator=(const cstr_class&) { return *this; }
    ~cstr_class() {
        if (trcEvents & Mask) cstr_write(CreateType + 0x10000, ClassId, whole());
    }

private:
    // The position of this base inside T, found without touching a T object
    // (a cast of `this` would read a T that is not yet, or no longer, built).
    static std::ptrdiff_t offset_in_whole() {
        alignas(T) static unsigned char storage[sizeof(T)];
        T* some = reinterpret_cast<T*>(storage);
        return reinterpret_cast<char*>(static_cast<cstr_class*>(some)) -
               reinterpret_cast<char*>(some);
    }
    const void* whole() const { return reinterpret_cast<const char*>(this) - offset_in_whole(); }
};

#endif
