// Plain C-string helpers of the support library.  Arguments must not be
// null.
#ifndef LIBUTILS_CSGL_CSGL_STR_HPP
#define LIBUTILS_CSGL_CSGL_STR_HPP

#include "libutils/base/export.h"

TRANSYS_EXPORT unsigned int csgl_str_length(const char* s);
// strcpy; returns dst.
TRANSYS_EXPORT char* csgl_str_copy(char* dst, const char* src);
// strcat; returns dst.
TRANSYS_EXPORT char* csgl_str_concat(char* dst, const char* src);
TRANSYS_EXPORT void csgl_str_zero(void* p, unsigned int n);
// Case-insensitive comparison (current C locale): the difference of the
// first two folded characters that differ, each as a signed 8-bit value;
// not clamped to -1, 0, 1.
TRANSYS_EXPORT int csgl_str_ci_compare(const char* a, const char* b);

#endif
