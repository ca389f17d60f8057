// Fuzz target: the formatting operators.  A series of insertions goes
// through a redirector into two recording streams, and into a
// csgl_output_str; each insertion's characters are checked against their
// plain form (snprintf for numbers).
//
// Input: 1 byte of flags (1: trace events on while exceptions are built),
// then insertions until the input ends, each 1 byte selecting what is
// printed followed by its operands.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "host/trc.h"
#include "libutils/csgl/csgl_output.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

struct recording_stream : csgl_output_imp {
    std::string chars;
    void really_put_char(char ch) override { chars += ch; }
};

// Yields the characters of a text, then NUL; counts the calls.
struct text_input : csgl_input {
    explicit text_input(const std::string& text) : text(text) {}
    char next_char() override { return ++calls, next < text.size() ? text[next++] : '\0'; }
    std::string text;
    std::size_t next = 0;
    int calls = 0;
};

template <class T>
std::string printed(const char* format, T value) {
    char text[64];
    return std::string(text, std::snprintf(text, sizeof text, format, value));
}

std::string quoted(const std::string& text, char quote) {
    std::string form(1, quote);
    for (char ch : text) form += ch == quote ? std::string(2, ch) : std::string(1, ch);
    return form + quote;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_input in(data, size);
    trcEvents = in.take<std::uint8_t>() & 1 ? 0x3840 : 0;
    host_reset(insert_layout::unread);

    recording_stream primary, secondary;
    csgl_output_redirector out(primary, secondary);
    // A string stream appends to its own string, not to the handles sharing it.
    csgl_string appended("ab");
    const csgl_string shared(appended);
    csgl_output_str to_string(appended);
    std::string copied, kept = "ab";  // what `secondary` and `appended` should hold
    bool halted = false;

    for (int insertions = 0; insertions < 64 && !in.empty(); ++insertions) {
        const std::size_t start = primary.chars.size();
        // The string stream builds a new string per character: short texts only.
        const bool feed = kept.size() < 128;
        auto print = [&](const auto& value) {
            FUZZ_CHECK(&(static_cast<csgl_output&>(out) << value) == &out);
            if (feed) FUZZ_CHECK(&(static_cast<csgl_output&>(to_string) << value) == &to_string);
        };
        std::string shown;
        auto text = [&] { return in.take_text(in.take<std::uint8_t>()); };
        // A number: its snprintf form.
        auto number = [&](const char* format, auto value) { shown = printed(format, value), print(value); };
        switch (in.take<std::uint8_t>() % 14) {
            case 0: {
                const int value = in.take<std::int32_t>();
                number("%d", value);
                FUZZ_CHECK(csgl_output_length(value) == static_cast<int>(shown.size()));
                break;
            }
            case 1: number("%ld", in.take<long>()); break;
            case 2: number("%u", unsigned(in.take<std::uint32_t>())); break;
            case 3: number("%lu", in.take<unsigned long>()); break;
            case 4: {
                const char ch = in.take<char>();
                shown = std::string(1, ch), print(ch);  // NUL included
                break;
            }
            case 5: {
                const std::string t = text();
                shown = t.c_str(), print(t.c_str());
                break;
            }
            case 6: {
                const csgl_string t(text().c_str());
                shown = t.c_str(), print(t);
                break;
            }
            case 7: {
                const char quote = in.take<char>();
                const csgl_string t(text().c_str());
                shown = quoted(t.c_str(), quote), print(csgl_str_quoted(t, quote));
                break;
            }
            case 8: {
                const unsigned int value = in.take<std::uint32_t>();
                shown = printed("0x%08x", value), print(csgl_hex(value));
                break;
            }
            case 9: {
                const std::uintptr_t value = in.take<std::uintptr_t>();
                shown = printed(sizeof(void*) == 8 ? "%016" PRIxPTR : "%08" PRIxPTR, value);
                print(csgl_output_voidp_proxy(reinterpret_cast<const void*>(value)));
                break;
            }
            case 10: {
                const std::string t = text();
                shown = t.c_str();
                text_input input(t), again(t);
                FUZZ_CHECK(&(static_cast<csgl_output&>(out) << input) == &out);
                if (feed) static_cast<csgl_output&>(to_string) << again;
                // Read up to the NUL, and no further.
                FUZZ_CHECK(input.calls == static_cast<int>(shown.size()) + 1);
                break;
            }
            case 11: {
                const char ch = in.take<char>();
                const unsigned int n = in.take<std::uint8_t>();
                shown = std::string(n, ch), out.put_chars(ch, n);
                if (feed) to_string.put_chars(ch, n);
                break;
            }
            case 12: {
                const std::string file = text(), message = text();
                const int line = in.take<std::int32_t>();
                const unsigned long error = in.take<unsigned long>();
                const exc_t e(file.c_str(), line, message.c_str(), error, in.take<std::int8_t>());
                shown = "exc " + quoted(file.c_str(), '\'') + " " + printed("%d", line) + " " +
                        printed("%lu", error & 0xFFFFFFFFul) + " " + quoted(e.msg.msg_string(), '\'');
                print(e);
                break;
            }
            case 13: out.halt_redirection(), halted = true; break;
        }
        FUZZ_CHECK(primary.chars.compare(start, std::string::npos, shown) == 0);
        // The copy shows NUL as a line end; the string drops it.
        for (const char ch : shown) {
            if (!halted) copied += ch ? ch : '\n';
            if (feed && ch) kept += ch;
        }
    }
    FUZZ_CHECK(secondary.chars == copied);
    FUZZ_CHECK(appended.c_str() == kept && shared.c_str() == std::string("ab"));
    trcEvents = 0;
    return 0;
}
