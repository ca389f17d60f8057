// Fuzz target: catalogue messages built from any text, file name, number and
// line, checked against a plain model of the marker rules, then logged.
//
// Input: 1 byte of flags (1 null text, 2 null file name, 4 log, 8 log
// twice, 16 the host prints the text, not its usual "ldap modify: " and
// filler), 4 bytes message number, 4 bytes line, 1 byte file name length,
// the file name, and the text, which ends at its first NUL as a C text
// does.
#include <algorithm>
#include <string>
#include <vector>

#include "libutils/csgl/csgl_message.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

const std::string reference = "=v=VAR=v=";

struct parsed {
    std::string text;      // with the markers removed
    bool variable_present = false;
    std::string variable;  // its value
    std::vector<std::string> parameters;
};

// The marker rules, step by step, on a text without NULs.
parsed parse(const std::string& t) {
    parsed p;
    std::size_t i = 0;
    auto at = [&](const std::string& marker) { return t.compare(i, marker.size(), marker) == 0; };
    auto record = [&](const std::string& value) {
        if (p.parameters.size() < 10) p.parameters.push_back(value);
    };
    if (at("[v[")) {
        const std::size_t close = t.find("]v]", 3);
        if (close == std::string::npos) return p;  // the whole rest was taken for it
        p.variable_present = true;
        p.variable = t.substr(3, close - 3);
        i = close + 3;
    }
    bool open = false;
    std::string parameter;
    while (i < t.size()) {
        if (!open && at("[p[")) {
            open = true, parameter.clear(), i += 3;
        } else if (open && at("]p]")) {
            record(parameter), open = false, i += 3;
        } else if (at("[v[")) {
            i += 3;
            if (!at(reference)) continue;
            if (p.variable_present) record(p.variable), p.text += p.variable;
            i = std::min(t.size(), i + reference.size() + 3);
        } else {
            p.text += t[i];
            if (open) parameter += t[i];
            ++i;
        }
    }
    return p;
}

// What the body holds matches the model, and its areas lie in the block
// as laid out: text area, parameter area, printed area of at least half.
void check_body(const csgl_message& m, const parsed& expected, unsigned int text_length) {
    const csgl_message_& b = *m.representation();
    FUZZ_CHECK(m.msg_string() == b.block);
    FUZZ_CHECK(m.msg_string() == expected.text);
    FUZZ_CHECK(b.parameter_count == static_cast<int>(expected.parameters.size()));
    for (int i = 0; i < 10; ++i) {
        if (i >= b.parameter_count) {
            FUZZ_CHECK(b.parameters[i] == nullptr);
            continue;
        }
        FUZZ_CHECK(b.parameters[i] == expected.parameters[i]);
        FUZZ_CHECK(b.parameters[i] >= b.variable && b.parameters[i] < b.printed);
    }
    if (expected.variable_present) FUZZ_CHECK(b.variable == expected.variable);
    const unsigned int area = static_cast<unsigned int>(b.variable - b.block);
    FUZZ_CHECK(area >= text_length + 1 && area >= expected.text.size() + 1);
    const char* printed_area = b.block + 2 * area;
    FUZZ_CHECK(b.block_size % 4 == 0 && printed_area + b.block_size / 2 <= b.block + b.block_size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_input in(data, size);
    const auto flags = in.take<std::uint8_t>();
    const int number = in.take<std::int32_t>();
    const int line = in.take<std::int32_t>();
    const std::string file = in.take_text(in.take<std::uint8_t>());
    const std::string text = in.rest();
    const char* t = flags & 1 ? nullptr : text.c_str();
    const char* f = flags & 2 ? nullptr : file.c_str();
    const std::string shown_text = t ? t : "";  // up to the first NUL
    const unsigned int file_length = f ? static_cast<unsigned int>(std::strlen(f)) : 0;

    csgl_message m(t, number, f, line);
    const csgl_message_& b = *m.representation();
    const parsed expected = parse(shown_text);
    const unsigned int length = static_cast<unsigned int>(shown_text.size());
    check_body(m, expected, length);
    FUZZ_CHECK(b.message_number == number && b.line == line && b.file == f);
    FUZZ_CHECK(b.printed == b.variable + (b.variable - b.block) && *b.printed == '\0');
    // Four times the rounded need; more only when variable references can
    // make the text outgrow its area.  Without them, the text and parameter
    // areas are one byte longer than the text.
    const unsigned int block = 4 * rounded_block(file_length + 1 + length);
    FUZZ_CHECK(b.block_size >= block);
    const unsigned int area = static_cast<unsigned int>(b.variable - b.block);
    if (shown_text.find("[v[" + reference) == std::string::npos)
        FUZZ_CHECK(b.block_size == block && area == length + 1);

    const csgl_message copy(m);
    FUZZ_CHECK(copy.representation() == m.representation());

    if (!(flags & 4)) return 0;
    for (int round = flags & 8 ? 2 : 1; round > 0; --round) {
        host_reset(number > 0 ? insert_layout::name_line_params : insert_layout::params);
        if (flags & 16) host_set_printed(shown_text);
        m.log(8, 5);
        const host_messages& host = host_received();
        if (number == 0) {
            FUZZ_CHECK(host.printed_calls == 0 && host.formatted_calls == 0);
            continue;
        }
        FUZZ_CHECK(host.printed_calls == 1 && host.formatted_calls == 1);
        const bool named = f != nullptr && *f != '\0';
        // The absolute value; the most negative number has none and is
        // passed on as it is.
        const int shown_number = number > 0 ? number : static_cast<int>(0u - static_cast<unsigned int>(number));
        for (const host_message_call* call : {&host.printed, &host.formatted}) {
            FUZZ_CHECK(call->selector1 == 5 && call->selector2 == 8 && call->number == shown_number);
            FUZZ_CHECK(number <= 0 || (call->name == std::string(named ? f : "ldap modify") && call->line == line));
            for (int i = 0; i < 10; ++i) FUZZ_CHECK(call->params[i] == b.parameters[i]);
        }
        // Half the block, from the start of the printed area; without a
        // file name, the text behind the first "ldap modify: " the host wrote.
        char* const printed_area = b.block + 2 * (b.variable - b.block);
        FUZZ_CHECK(host.formatted.buffer == printed_area && host.formatted.capacity == b.block_size / 2);
        const std::string written = printed_area;
        const std::size_t at = number > 0 && !named ? written.find(host_printed_prefix) : std::string::npos;
        FUZZ_CHECK(b.printed == printed_area + (at == std::string::npos ? 0 : at + std::strlen(host_printed_prefix)));
        check_body(m, expected, length);
    }
    return 0;
}
