#include "libutils/csgl/csgl_str.hpp"

#include <cctype>
#include <cstring>

unsigned int csgl_str_length(const char* s) { return static_cast<unsigned int>(std::strlen(s)); }

char* csgl_str_copy(char* dst, const char* src) { return std::strcpy(dst, src); }

char* csgl_str_concat(char* dst, const char* src) { return std::strcat(dst, src); }

void csgl_str_zero(void* p, unsigned int n) { std::memset(p, 0, n); }

namespace {

// The character folded by the C library's tolower, sign-extended from char
// as it is passed (the C library's tables cover the negative values of a
// signed char).
int folded(char c) { return std::tolower(static_cast<signed char>(c)); }

int folded_difference(char a, char b) {
    return static_cast<signed char>(folded(a)) - static_cast<signed char>(folded(b));
}

}  // namespace

int csgl_str_ci_compare(const char* a, const char* b) {
    for (; *a != '\0'; ++a, ++b) {
        const int difference = folded_difference(*a, *b);
        if (difference != 0) return difference;
    }
    return folded_difference(*a, *b);
}
