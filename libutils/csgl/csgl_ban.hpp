// Empty bases with which a class forbids assignment, or copying and
// assignment.  They carry run-time type information, so they appear in the
// type information of the classes derived from them.
#ifndef LIBUTILS_CSGL_CSGL_BAN_HPP
#define LIBUTILS_CSGL_CSGL_BAN_HPP

#include "libutils/base/export.h"

// A class deriving from this can be copied but not assigned.
class TRANSYS_EXPORT csgl_ban_assignment {
public:
    csgl_ban_assignment() {}
    csgl_ban_assignment(const csgl_ban_assignment&) {}

private:
    csgl_ban_assignment& operator=(const csgl_ban_assignment&);  // never defined
};

// A class deriving from this can be neither copied nor assigned.
class TRANSYS_EXPORT csgl_ban_copy_and_assignment {
public:
    csgl_ban_copy_and_assignment() {}

private:
    csgl_ban_copy_and_assignment(const csgl_ban_copy_and_assignment&);             // never defined
    csgl_ban_copy_and_assignment& operator=(const csgl_ban_copy_and_assignment&);  // never defined
};

#endif
