#include "libutils/csgl/csgl_str.hpp"

#include <cctype>
#include <cstring>

unsigned int csgl_str_length(const char* s) { return static_cast<unsigned int>(std::strlen(s)); }

char* csgl_str_copy(char* dst, const char* src) { return std::strcpy(dst, src); }

char* csgl_str_concat(char* dst, const char* src) { return std::strcat(dst, src); }

void csgl_str_zero(void* p, unsigned int n) { std::memset(p, 0, n); }

namespace {

// The character folded by the C library's tolower, as a signed 8-bit value.
// The character goes to tolower as an unsigned char: a negative argument
// other than EOF is undefined, and compilers do exploit that.  The C
// library folds a character above 0x7F the same whichever way it is passed,
// so the result is the folded character's signed value either way.
signed char folded(char c) {
    return static_cast<signed char>(std::tolower(static_cast<unsigned char>(c)));
}

int folded_difference(char a, char b) { return folded(a) - folded(b); }

}  // namespace

int csgl_str_ci_compare(const char* a, const char* b) {
    for (; *a != '\0'; ++a, ++b) {
        const int difference = folded_difference(*a, *b);
        if (difference != 0) return difference;
    }
    return folded_difference(*a, *b);
}
