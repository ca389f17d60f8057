#include "libutils/csgl/csgl_string.hpp"

#include <cstring>

#include "libutils/csgl/csgl_allocation_size.hpp"

namespace {

// Copies from `source` to `target` until `limit` characters are copied or a
// NUL is met (the count is tested first, so a limit of 0 reads nothing);
// returns the position behind the last character copied.
char* copy_bounded(char* target, const char* source, unsigned int limit) {
    for (unsigned int copied = 0; copied < limit && source[copied] != '\0'; ++copied) {
        *target++ = source[copied];
    }
    return target;
}

char* allocate_block(unsigned int size) {
    return exc_if_no_mem(__FILE__, __LINE__, new (std::nothrow) char[size]);
}

}  // namespace

csgl_string_::csgl_string_(const char* s) : capacity(0), len(0), text(nullptr) {
    init(s, get_length(s));
}

csgl_string_::csgl_string_(const char* a, unsigned int la, const char* b, unsigned int lb)
    : capacity(0), len(0), text(nullptr) {
    init(a, la, b, lb);
}

csgl_string_::~csgl_string_() { delete[] text; }

unsigned int csgl_string_::get_length(const char* s) {
    return s ? static_cast<unsigned int>(std::strlen(s)) : 0;
}

void csgl_string_::init(const char* s, unsigned int n) { init(s, n, nullptr, 0); }

void csgl_string_::init(const char* a, unsigned int la, const char* b, unsigned int lb) {
    const unsigned int size = allocation_size(la + lb + 1);
    char* block = allocate_block(size);
    char* end = copy_bounded(block, a, la);
    end = copy_bounded(end, b, lb);
    *end = '\0';
    text = block;
    capacity = size;
    len = static_cast<unsigned int>(end - block);
}

void csgl_string_::assign(const char* s, unsigned int n) {
    if (n + 1 > capacity) {
        const unsigned int size = allocation_size(n + 1);
        char* block = allocate_block(size);
        delete[] text;
        text = block;
        capacity = size;
    }
    char* end = copy_bounded(text, s, n);
    *end = '\0';
    len = static_cast<unsigned int>(end - text);
}

void csgl_string_::append(const char* s, unsigned int n) {
    if (len + n + 1 > capacity) {
        const unsigned int size = allocation_size(len + n + 1);
        char* block = allocate_block(size);
        copy_bounded(block, text, len);
        delete[] text;
        text = block;
        capacity = size;
    }
    char* end = copy_bounded(text + len, s, n);
    *end = '\0';
    len = static_cast<unsigned int>(end - text);
}

csgl_string::csgl_string() {
    // Built once, even when first uses race; a failed build leaves nothing
    // behind and the next default construction tries again.
    static const csgl_string shared_empty("");
    rep_ = shared_empty.rep_;
}

csgl_string csgl_string::operator+(const char* s) const {
    return csgl_string(c_str(), length(), s, csgl_string_::get_length(s));
}

csgl_string csgl_string::operator+(char c) const { return csgl_string(c_str(), length(), &c, 1); }

csgl_string operator+(const char* s, const csgl_string& t) {
    return csgl_string(s, csgl_string_::get_length(s), t.c_str(), t.length());
}

unsigned int csgl_string::find(char c, unsigned int pos) const {
    const char* text = c_str();
    for (unsigned int i = pos; i <= size(); ++i) {
        if (text[i] == c) return i;
    }
    return npos;
}

unsigned int csgl_string::rfind(char c, unsigned int pos) const {
    const char* text = c_str();
    unsigned int i = (pos == npos || pos > size()) ? size() : pos;
    for (;;) {
        if (text[i] == c) return i;
        if (i == 0) return npos;
        --i;
    }
}

int csgl_string::compare(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    const signed char left = static_cast<signed char>(*a);
    const signed char right = static_cast<signed char>(*b);
    if (left > right) return 1;
    if (left == right) return 0;
    return -1;
}
