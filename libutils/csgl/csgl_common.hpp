// What every unit of the support library shares: the mark that puts a
// declaration into the shared library's exported interface.  The library is
// built with hidden visibility, so anything not marked stays internal.
#ifndef LIBUTILS_CSGL_CSGL_COMMON_HPP
#define LIBUTILS_CSGL_CSGL_COMMON_HPP

#define CSGL_EXPORT __attribute__((visibility("default")))

#endif
