// Strings: handles to shared, immutable text, and the plain C-string helpers.
#include <cassert>
#include <cstring>

#include "libutils/csgl/csgl_local.hpp"
#include "libutils/csgl/csgl_str.hpp"
#include "libutils/csgl/csgl_string.hpp"

int main() {
    const csgl_string name("cn=admin");
    // A copy shares the text: no allocation, one locked counter step.
    const csgl_string copy = name;
    assert(copy.representation() == name.representation());

    // Every operation that yields other text builds a new string.
    const csgl_string dn = name + ",o=example";
    assert(std::strcmp(dn, "cn=admin,o=example") == 0);  // through operator const char*
    assert(std::strcmp(name.c_str(), "cn=admin") == 0);
    assert(dn.length() == 18);

    // find searches forward, rfind backward (npos: from the end); npos when
    // there is none.  The terminating NUL is searched too.
    assert(dn.find('=', 0) == 2 && dn.find('=', 3) == 10);
    assert(dn.rfind('=', csgl_string::npos) == 10 && dn.find('#', 0) == csgl_string::npos);
    assert(dn.find('\0', 0) == dn.length());

    // Two parts, each up to its limit or its NUL.
    assert(std::strcmp(csgl_string("abc", 2, "xyz", 5), "abxyz") == 0);
    // Default-constructed strings share one empty text; null is empty too.
    assert(csgl_string().representation() == csgl_string().representation());
    assert(csgl_string(static_cast<const char*>(nullptr)).length() == 0);

    // compare answers -1, 0 or 1; csgl_str_ci_compare the difference of the
    // first folded characters that differ.
    assert(csgl_string::compare("abc", "abd") == -1);
    assert(csgl_str_ci_compare("ABC", "abc") == 0 && csgl_str_ci_compare("a", "") == 97);

    // A heap array freed with its scope.
    csgl_local_array_of<char> buffer(32);
    csgl_str_copy(buffer, "cn=");
    csgl_str_concat(buffer, "admin");
    assert(csgl_str_length(buffer) == 8 && csgl_string::compare(buffer, name) == 0);
    return 0;
}
