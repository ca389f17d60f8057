#include "libutils/csgl/csgl_message.hpp"

#include <climits>
#include <cstring>
#include <new>

#include "host/message.h"
#include "libutils/csgl/csgl_allocation_size.hpp"
#include "libutils/csgl/csgl_exc.hpp"

namespace {

const char default_name[] = "ldap modify";
const char default_name_prefix[] = "ldap modify: ";
const char variable_reference[] = "=v=VAR=v=";
const unsigned int marker_length = 3;
const unsigned int reference_length = sizeof variable_reference - 1;

// Reads a text of a known remaining length, marker by marker.  The scan
// stops when the count runs out or a NUL is met.
class text_scanner {
public:
    text_scanner(const char* text, unsigned int length) : next_(text), remaining_(length) {}

    bool done() const { return remaining_ == 0 || *next_ == '\0'; }
    char current() const { return *next_; }

    // Whether `marker` stands at the current position, within the count.
    bool at(const char* marker, unsigned int length) const {
        if (remaining_ < length) return false;
        return std::strncmp(next_, marker, length) == 0;
    }
    bool at(const char* marker) const { return at(marker, marker_length); }

    // Skips up to `n` characters, never past the end of the text.
    void skip(unsigned int n) {
        while (n-- > 0 && !done()) {
            ++next_;
            --remaining_;
        }
    }

private:
    const char* next_;
    unsigned int remaining_;
};

// The leading variable: "[v[" value "]v]" at the very start of the text.
struct leading_variable {
    bool opened = false;            // the text starts with "[v["
    bool present = false;           // and "]v]" closes the value
    unsigned int value_length = 0;  // the value's characters; the whole rest when not closed
};

leading_variable find_leading_variable(const char* text, unsigned int length) {
    leading_variable found;
    text_scanner scan(text, length);
    if (!scan.at("[v[")) return found;
    found.opened = true;
    scan.skip(marker_length);
    while (!scan.done() && !scan.at("]v]")) {
        scan.skip(1);
        ++found.value_length;
    }
    found.present = scan.at("]v]");
    return found;
}

// How many variable references the text holds, at most.
unsigned int variable_references(const char* text, unsigned int length) {
    unsigned int count = 0;
    text_scanner scan(text, length);
    while (!scan.done()) {
        if (scan.at("[v[=v=VAR=v=", marker_length + reference_length)) ++count;
        scan.skip(1);
    }
    return count;
}

// How much longer than the text its markers-removed form can be.  The
// leading variable takes its markers and value out of the text; each
// reference takes at least its 12 characters and puts the value in.
unsigned int substitution_growth(const char* text, unsigned int length) {
    const leading_variable lead = find_leading_variable(text, length);
    const unsigned int value = lead.present ? lead.value_length : 0;
    if (value == 0) return 0;
    const unsigned int references = variable_references(text, length);
    const unsigned int added = references * value;
    const unsigned int removed =
        2 * marker_length + value + references * (marker_length + reference_length);
    return added > removed ? added - removed : 0;
}

// The text after its leading variable, marker by marker: ordinary
// characters go to the text area and the parameter area, each closed
// parameter is recorded (the first ten), each variable reference puts the
// variable's value (null: no variable) into the text and records it.  Both
// areas end with a NUL, and the parameters not recorded are null.
void write_markers_removed(text_scanner& scan, const char* variable, char* text_out,
                           char* parameter_out,
                           const char* (&parameters)[csgl_message_::max_parameters],
                           int& parameter_count) {
    const auto record = [&](const char* parameter) {
        if (parameter_count < csgl_message_::max_parameters)
            parameters[parameter_count++] = parameter;
    };
    const char* open_parameter = nullptr;
    while (!scan.done()) {
        if (open_parameter == nullptr && scan.at("[p[")) {
            scan.skip(marker_length);
            open_parameter = parameter_out;
        } else if (open_parameter != nullptr && scan.at("]p]")) {
            record(open_parameter);
            open_parameter = nullptr;
            *parameter_out++ = '\0';
            scan.skip(marker_length);
        } else if (scan.at("[v[")) {
            scan.skip(marker_length);
            if (scan.at(variable_reference, reference_length)) {
                if (variable != nullptr) {
                    record(variable);
                    for (const char* v = variable; *v != '\0'; ++v) *text_out++ = *v;
                }
                // The reference and the "]v]" that closes it.
                scan.skip(reference_length + marker_length);
            }
        } else {
            *text_out++ = scan.current();
            *parameter_out++ = scan.current();
            scan.skip(1);
        }
    }
    *text_out = '\0';
    *parameter_out = '\0';
    for (int i = parameter_count; i < csgl_message_::max_parameters; ++i) parameters[i] = nullptr;
}

}  // namespace

csgl_message_::csgl_message_(const char* text, int message_number, const char* file, int line)
    : block_size(0),
      message_number(0),
      line(0),
      parameter_count(0),
      file(nullptr),
      block(nullptr),
      variable(nullptr),
      printed(nullptr),
      parameters() {
    init(text, get_length(text), message_number, file, line);
}

csgl_message_::~csgl_message_() { delete[] block; }

char* csgl_message_::printed_area() const { return block + 2 * (variable - block); }

unsigned int csgl_message_::get_length(const char* s) {
    return s ? static_cast<unsigned int>(std::strlen(s)) : 0;
}

void csgl_message_::init(const char* text, unsigned int length, int number, const char* file_name,
                         int line_number) {
    message_number = number;
    file = file_name;
    line = line_number;
    if (text == nullptr) {
        text = "";
        length = 0;
    }

    // Four times the rounded need of file and text, laid out as the text
    // area, the parameter area (each as long as the text) and the printed
    // area, the rest.  Variable references can make the text outgrow its
    // area: then both areas get the room the text needs and the block four
    // times that, so the printed area still holds at least half of it.
    const unsigned int text_room = length + 1 + substitution_growth(text, length);
    block_size = 4 * allocation_size(get_length(file_name) + 1 + length);
    if (4 * text_room > block_size) block_size = 4 * text_room;
    block = exc_if_no_mem(__FILE__, __LINE__, new (std::nothrow) char[block_size]);

    char* text_out = block;
    variable = block + text_room;
    char* parameter_out = variable;
    printed = printed_area();
    *printed = '\0';
    parameter_count = 0;

    // The leading variable's value goes first into the parameter area; an
    // unclosed one takes the whole rest of the text there and is no
    // variable.
    text_scanner scan(text, length);
    const leading_variable lead = find_leading_variable(text, length);
    const bool variable_present = lead.present;
    if (lead.opened) {
        scan.skip(marker_length);
        for (unsigned int i = 0; i < lead.value_length; ++i) {
            *parameter_out++ = scan.current();
            scan.skip(1);
        }
        if (variable_present) {
            *parameter_out++ = '\0';
            scan.skip(marker_length);
        }
    }

    write_markers_removed(scan, variable_present ? variable : nullptr, text_out, parameter_out,
                          parameters, parameter_count);
}

void csgl_message_::log(int host_selector2, int host_selector1) {
    if (message_number == 0) return;
    const char* const* p = parameters;
    // Each log formats afresh from the start of the printed area.
    printed = printed_area();
    if (message_number > 0) {
        const bool named = file != nullptr && *file != '\0';
        const char* name = named ? file : default_name;
        PrintMessage(host_selector1, host_selector2, message_number, name, line, p[0], p[1], p[2],
                     p[3], p[4], p[5], p[6], p[7], p[8], p[9]);
        getPrintedMessage(printed, block_size / 2, host_selector1, host_selector2, message_number,
                          name, line, p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9]);
        if (!named) {
            const char* behind_name = std::strstr(printed, default_name_prefix);
            if (behind_name != nullptr)
                printed += (behind_name - printed) + sizeof default_name_prefix - 1;
        }
    } else {
        // The most negative int has no positive counterpart; it is passed on as it is.
        const int number = message_number == INT_MIN ? message_number : -message_number;
        PrintMessage(host_selector1, host_selector2, number, p[0], p[1], p[2], p[3], p[4], p[5],
                     p[6], p[7], p[8], p[9]);
        getPrintedMessage(printed, block_size / 2, host_selector1, host_selector2, number, p[0],
                          p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9]);
    }
}

csgl_message::csgl_message(const char* text, int message_number, const char* file, int line)
    : body_(exc_if_no_mem(__FILE__, __LINE__,
                          new (std::nothrow) csgl_message_(text, message_number, file, line))) {}

csgl_message::csgl_message(const csgl_message& other) = default;

csgl_message& csgl_message::operator=(const csgl_message& other) = default;

csgl_message::~csgl_message() = default;

void csgl_message::log(int host_selector2, int host_selector1) {
    body_->log(host_selector2, host_selector1);
}

const char* csgl_message::msg_string() const { return body_->block; }
