// Fuzz target: the formatting operators.  A series of insertions goes
// through a redirector into two recording streams, and into a
// csgl_output_str; each insertion's characters are checked against their
// plain form (snprintf for numbers), quoted texts also by undoing the
// quoting.
//
// Input: 1 byte of flags (1: trace events on while exceptions are built),
// then insertions until the input ends, each 1 byte selecting what is
// printed followed by its operands.
#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "host/trc.h"
#include "libutils/csgl/csgl_output.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

class recording_stream : public csgl_output_imp {
public:
    std::string chars;

protected:
    void really_put_char(char ch) override { chars += ch; }
};

// Yields the characters of a text, then NUL.
class text_input : public csgl_input {
public:
    explicit text_input(const std::string& text) : text_(text) {}
    char next_char() override {
        ++calls;
        return next_ < text_.size() ? text_[next_++] : '\0';
    }
    int calls = 0;

private:
    std::string text_;
    std::size_t next_ = 0;
};

std::string printed(const char* format, ...) {
    char text[64];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string quoted(const std::string& text, char quote) {
    std::string form(1, quote);
    for (char ch : text) {
        form += ch;
        if (ch == quote) form += quote;
    }
    return form + quote;
}

// The text inside the quotes with each doubled quote made single again;
// false when the form is not a quoted text.
bool unquote(const std::string& form, char quote, std::string& text) {
    if (form.size() < 2 || form.front() != quote || form.back() != quote) return false;
    text.clear();
    for (std::size_t i = 1; i + 1 < form.size(); ++i) {
        if (form[i] == quote && (i + 2 >= form.size() || form[++i] != quote)) return false;
        text += form[i];
    }
    return true;
}

std::string replaced(std::string text, char from, char to) {
    for (char& ch : text) ch = ch == from ? to : ch;
    return text;
}

std::string without(std::string text, char ch) {
    text.erase(std::remove(text.begin(), text.end(), ch), text.end());
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_input in(data, size);
    trcEvents = in.take<std::uint8_t>() & 1 ? 0x3840 : 0;
    host_reset(insert_layout::unread);

    recording_stream primary, secondary;
    csgl_output_redirector out(primary, secondary);
    csgl_string appended;
    csgl_output_str to_string(appended);
    std::string copied, kept;  // what `secondary` and `appended` should hold
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
        switch (in.take<std::uint8_t>() % 14) {
            case 0: {
                const int value = in.take<std::int32_t>();
                shown = printed("%d", value);
                print(value);
                FUZZ_CHECK(csgl_output_length(value) == static_cast<int>(shown.size()));
                break;
            }
            case 1: {
                const long value = in.take<long>();
                shown = printed("%ld", value);
                print(value);
                break;
            }
            case 2: {
                const unsigned int value = in.take<std::uint32_t>();
                shown = printed("%u", value);
                print(value);
                break;
            }
            case 3: {
                const unsigned long value = in.take<unsigned long>();
                shown = printed("%lu", value);
                print(value);
                break;
            }
            case 4: {
                const char ch = in.take<char>();
                shown = std::string(1, ch);  // NUL included
                print(ch);
                break;
            }
            case 5: {
                const std::string text = in.take_text(in.take<std::uint8_t>());
                shown = text.c_str();
                print(text.c_str());
                break;
            }
            case 6: {
                const csgl_string text(in.take_text(in.take<std::uint8_t>()).c_str());
                shown = text.c_str();
                print(text);
                break;
            }
            case 7: {
                const char quote = in.take<char>();
                const csgl_string text(in.take_text(in.take<std::uint8_t>()).c_str());
                shown = quoted(text.c_str(), quote);
                print(csgl_str_quoted(text, quote));
                std::string back;
                FUZZ_CHECK(unquote(primary.chars.substr(start), quote, back) && back == text.c_str());
                break;
            }
            case 8: {
                const unsigned int value = in.take<std::uint32_t>();
                shown = printed("0x%08x", value);
                print(csgl_hex(value));
                break;
            }
            case 9: {
                const std::uintptr_t value = in.take<std::uintptr_t>();
                shown = printed("%0*" PRIxPTR, static_cast<int>(2 * sizeof(void*)), value);
                print(csgl_output_voidp_proxy(reinterpret_cast<const void*>(value)));
                break;
            }
            case 10: {
                const std::string text = in.take_text(in.take<std::uint8_t>());
                shown = text.c_str();
                text_input input(text), again(text);
                FUZZ_CHECK(&(static_cast<csgl_output&>(out) << input) == &out);
                if (feed) static_cast<csgl_output&>(to_string) << again;
                // Read up to the NUL, and no further.
                FUZZ_CHECK(input.calls == static_cast<int>(shown.size()) + 1);
                break;
            }
            case 11: {
                const char ch = in.take<char>();
                const unsigned int n = in.take<std::uint8_t>();
                shown = std::string(n, ch);
                out.put_chars(ch, n);
                if (feed) to_string.put_chars(ch, n);
                break;
            }
            case 12: {
                const std::string file = in.take_text(in.take<std::uint8_t>());
                const std::string text = in.take_text(in.take<std::uint8_t>());
                const int line = in.take<std::int32_t>();
                const unsigned long error = in.take<unsigned long>();
                const exc_t e(file.c_str(), line, text.c_str(), error, in.take<std::int8_t>());
                shown = "exc " + quoted(file.c_str(), '\'') + " " + printed("%d", line) + " " +
                        printed("%lu", error & 0xFFFFFFFFul) + " " + quoted(e.msg.msg_string(), '\'');
                print(e);
                break;
            }
            case 13:
                out.halt_redirection();
                halted = true;
                break;
        }
        FUZZ_CHECK(primary.chars.compare(start, std::string::npos, shown) == 0);
        // The copy shows NUL as a line end; the string drops it.
        if (!halted) copied += replaced(shown, '\0', '\n');
        if (feed) kept += without(shown, '\0');
    }
    FUZZ_CHECK(secondary.chars == copied);
    FUZZ_CHECK(appended.c_str() == kept);
    trcEvents = 0;
    return 0;
}
