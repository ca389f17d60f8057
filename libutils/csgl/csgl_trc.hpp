// Function trace scopes of the support library.
//
// A traced function declares one scope object first thing; while bit 0x1000
// of `trcEvents` is set it writes its entry record through the formatter
// the scope hands out, and the scope's destructor writes the exit record on
// every way out (return or exception) while bit 0x1000 or 0x2000 is set.
// Support-library exit records carry no result: their data is four zero
// bytes.  Scopes live on the stack of one thread.
#ifndef LIBUTILS_CSGL_CSGL_TRC_HPP
#define LIBUTILS_CSGL_CSGL_TRC_HPP

#include "libutils/cstr/cstr.hpp"

// Writes the exit record of a support-library scope: type 0x02000000 plus
// `kind` times 0x10000, data four zero bytes.
TRANSYS_EXPORT void csgl_trc_exit(unsigned long id, unsigned long kind, unsigned long mask,
                                  const void* object);
TRANSYS_EXPORT void csgl_trc_exit(unsigned long id, unsigned long kind, unsigned long mask);

// Scope of a traced member function working on `object`.
template <unsigned long ID, unsigned long Kind, unsigned long Mask>
class csgl_trc_local {
public:
    explicit csgl_trc_local(const void* object) : object_(object) {}
    csgl_trc_local(const csgl_trc_local&) = delete;
    csgl_trc_local& operator=(const csgl_trc_local&) = delete;
    ~csgl_trc_local() {
        if (trcEvents & (Mask | 2 * Mask)) csgl_trc_exit(ID, Kind, Mask, object_);
    }

    cstr_formater_local operator()(unsigned long type) const {
        return cstr_formater_local(ID, type, object_);
    }

private:
    const void* object_;
};

// Scope of a traced static function: no object.
template <unsigned long ID, unsigned long Kind, unsigned long Mask>
class csgl_trc_local_static {
public:
    csgl_trc_local_static() {}
    csgl_trc_local_static(const csgl_trc_local_static&) = delete;
    csgl_trc_local_static& operator=(const csgl_trc_local_static&) = delete;
    ~csgl_trc_local_static() {
        if (trcEvents & (Mask | 2 * Mask)) csgl_trc_exit(ID, Kind, Mask);
    }

    cstr_formater_local operator()(unsigned long type) const {
        return cstr_formater_local(ID, type, nullptr);
    }
};

#endif
