// Fuzz target: building, joining, searching and comparing strings, and the
// csgl_str helpers, each checked against the plain C++ result.
//
// Input: 2 bytes each for the limits `la` and `lb`, a search position, and
// where the rest is cut in two; 1 byte search character; then the two texts
// a and b, which may hold NULs (every string stops at the first).
#include <algorithm>
#include <string>
#include <vector>

#include "libutils/csgl/csgl_str.hpp"
#include "libutils/csgl/csgl_string.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

const unsigned int npos = 0xFFFFFFFFu;

std::string text_of(const std::string& bytes) { return bytes.c_str(); }

bool holds(const csgl_string& s, const std::string& text) {
    return s.length() == text.size() && s.size() == text.size() && s.c_str() == text &&
           s.c_str()[s.length()] == '\0';
}

// Same, and the block is the rounded need of `need` bytes.
bool built(const csgl_string& s, const std::string& text, unsigned int need) {
    return holds(s, text) && s.representation()->capacity == rounded_block(need);
}

int compare_by_loop(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    while (i < a.size() && a[i] == b.c_str()[i]) ++i;
    const signed char x = static_cast<signed char>(a.c_str()[i]);
    const signed char y = static_cast<signed char>(b.c_str()[i]);
    return x > y ? 1 : x == y ? 0 : -1;
}

// Case folding of the "C" locale, which the fuzz programs never leave.
int ci_compare_by_loop(const std::string& a, const std::string& b) {
    auto fold = [](char c) { return static_cast<signed char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    std::size_t i = 0;
    while (i < a.size() && fold(a[i]) == fold(b.c_str()[i])) ++i;
    return fold(a.c_str()[i]) - fold(b.c_str()[i]);
}

// Searches look at the positions `pos` to size(), the terminator's included.
void check_searches(const csgl_string& s, const std::string& text, char c, unsigned int pos) {
    const unsigned int size = static_cast<unsigned int>(text.size());
    const std::string terminated = text + '\0';
    for (unsigned int p : {0u, pos, pos % (size + 2), size, size + 1, npos}) {
        FUZZ_CHECK(s.find(c, p) == static_cast<unsigned int>(terminated.find(c, p)));
        if (p <= size || p == npos)
            FUZZ_CHECK(s.rfind(c, p) == static_cast<unsigned int>(terminated.rfind(c, p)));
    }
    FUZZ_CHECK(s.find('\0', pos % (size + 1)) == size);
    FUZZ_CHECK(s.rfind('\0', npos) == size);
}

void check_helpers(const std::string& a, const std::string& b) {
    FUZZ_CHECK(csgl_str_length(a.c_str()) == a.size());
    std::vector<char> buffer(a.size() + b.size() + 1, 'x');
    FUZZ_CHECK(csgl_str_copy(buffer.data(), a.c_str()) == buffer.data() && buffer.data() == a);
    FUZZ_CHECK(csgl_str_concat(buffer.data(), b.c_str()) == buffer.data() && buffer.data() == a + b);
    csgl_str_zero(buffer.data(), static_cast<unsigned int>(buffer.size()));
    FUZZ_CHECK(buffer == std::vector<char>(buffer.size(), '\0'));
    const int ci = csgl_str_ci_compare(a.c_str(), b.c_str());
    FUZZ_CHECK(ci == ci_compare_by_loop(a, b) && ci == -csgl_str_ci_compare(b.c_str(), a.c_str()));
    FUZZ_CHECK(csgl_str_ci_compare(a.c_str(), a.c_str()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_input in(data, size);
    const unsigned int la = in.take<std::uint16_t>(), lb = in.take<std::uint16_t>();
    const unsigned int pos = in.take<std::uint16_t>();
    const unsigned int cut = in.take<std::uint16_t>();
    const char c = in.take<char>();
    const std::string rest = in.rest();
    const std::string a_bytes = rest.substr(0, cut % (rest.size() + 1));
    const std::string b_bytes = rest.substr(a_bytes.size());
    const std::string a = text_of(a_bytes), b = text_of(b_bytes);
    const unsigned int a_len = static_cast<unsigned int>(a.size());

    // From a C text, from parts, and from nothing.
    const csgl_string sa(a_bytes.c_str()), sb(b_bytes.c_str());
    FUZZ_CHECK(built(sa, a, a_len + 1) && holds(sb, b));
    FUZZ_CHECK(built(csgl_string(static_cast<const char*>(nullptr)), "", 1));
    const std::string parts = a.substr(0, la) + b.substr(0, lb);
    const csgl_string sab(a_bytes.c_str(), la, b_bytes.c_str(), lb);
    FUZZ_CHECK(built(sab, parts, la + lb + 1));
    FUZZ_CHECK(built(csgl_string(nullptr, 0, b_bytes.c_str(), lb), b.substr(0, lb), lb + 1));

    // Joining: the lengths add up and the operands stay as they were.
    const csgl_string_* const rep = sa.representation();
    FUZZ_CHECK(holds(sa + b_bytes.c_str(), a + b) && (sa + b_bytes.c_str()).length() == a_len + sb.length());
    FUZZ_CHECK(holds(b_bytes.c_str() + sa, b + a));
    FUZZ_CHECK(holds(sa + c, c == '\0' ? a : a + c));
    FUZZ_CHECK(holds(sa + static_cast<const char*>(nullptr), a));
    FUZZ_CHECK(holds(static_cast<const char*>(nullptr) + sa, a));
    FUZZ_CHECK(sa.representation() == rep && holds(sa, a));

    check_searches(sa, a, c, pos);
    check_searches(sab, parts, c, pos);

    const int order = csgl_string::compare(a.c_str(), b.c_str());
    FUZZ_CHECK(order == compare_by_loop(a, b));
    FUZZ_CHECK(order == -csgl_string::compare(b.c_str(), a.c_str()));
    FUZZ_CHECK(csgl_string::compare(sab, parts.c_str()) == 0);
    check_helpers(a, b);

    // Handles share a representation; the last one frees it.
    const csgl_string empty1, empty2, own_empty("");
    FUZZ_CHECK(empty1.representation() == empty2.representation() && holds(empty1, ""));
    FUZZ_CHECK(own_empty.representation() != empty1.representation());
    csgl_string handle(sab);
    FUZZ_CHECK(handle.representation() == sab.representation());
    const csgl_string& same = handle;
    handle = same;
    handle = sab;
    FUZZ_CHECK(holds(handle, parts));
    csgl_string last(a_bytes.c_str());
    last = sb;
    handle = last;
    FUZZ_CHECK(handle.representation() == sb.representation() && holds(handle, b));
    csgl_string only(a_bytes.c_str());
    const csgl_string& self = only;
    only = self;  // its only handle: not freed on the way
    FUZZ_CHECK(holds(only, a));

    // The representation's own assign and append: the block only grows.
    csgl_refcounted_pointer_to<csgl_string_> r(new csgl_string_(a_bytes.c_str()));
    const unsigned int first = r->capacity;
    r->append(b_bytes.c_str(), lb);
    const std::string appended = a + b.substr(0, lb);
    const unsigned int grown = a_len + lb + 1 > first ? rounded_block(a_len + lb + 1) : first;
    FUZZ_CHECK(r->text == appended && r->length() == appended.size() && r->capacity == grown);
    r->assign(a_bytes.c_str(), la);
    FUZZ_CHECK(r->text == a.substr(0, la) && r->length() == std::min<std::size_t>(la, a_len));
    FUZZ_CHECK(r->capacity == (la + 1 > grown ? rounded_block(la + 1) : grown));
    const unsigned int kept = r->capacity;
    r->assign(nullptr, 0);
    FUZZ_CHECK(r->text == std::string() && r->length() == 0 && r->capacity == kept);
    return 0;
}
