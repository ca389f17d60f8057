// Catalogue messages: a text with a number in the host's message catalogue,
// the source file and line it came from, and up to ten insert strings found
// in the text by marker.
//
// Markers, removed from the text the message keeps:
//   "[v[" value "]v]" at the very start   the message variable
//   "[p[" value "]p]"                     a parameter (an insert value)
//   "[v[=v=VAR=v=]v]"                     replaced by the variable's value,
//                                         and recorded as a parameter
// `csgl_message` is a handle; copies share one reference-counted body,
// freed with its last handle.  Handles may be copied and released from
// different threads, but `log` writes the body's printed area without a
// lock: two threads must not log handles of one body at once.
#ifndef LIBUTILS_CSGL_CSGL_MESSAGE_HPP
#define LIBUTILS_CSGL_CSGL_MESSAGE_HPP

#include "libutils/csgl/csgl_refcounted.hpp"

// The shared body of a message.  All its strings live in one block:
//   text area       the text with every marker removed (what msg_string()
//                   returns), with room for every variable substitution
//   parameter area  the variable's value (if there is one), then the
//                   characters of the text with each parameter NUL-terminated
//   printed area    where the host formats the printed message; at least
//                   half the block, which is what the host is offered
class TRANSYS_EXPORT csgl_message_ : public csgl_refcounted<csgl_message_> {
public:
    static constexpr int max_parameters = 10;

    csgl_message_(const char* text, int message_number, const char* file, int line);
    ~csgl_message_();

    static unsigned int get_length(const char* s);

    // Fills the body from the text; called once, by the constructor.
    void init(const char* text, unsigned int length, int message_number, const char* file,
              int line);

    // Prints the message through the host message service (nothing for
    // message number 0), with the host's selectors in swapped order: the
    // first argument is the host's second selector, the second its first
    // (exceptions log with (8, 5): the host receives 5 and 8).
    void log(int host_selector2, int host_selector1);

    unsigned int block_size;  // bytes in `block`
    int message_number;       // 0 none; > 0 with file and line; < 0 inserts only
    int line;
    int parameter_count;  // 0 to 10
    const char* file;     // not copied; null or empty means none
    char* block;          // the one allocation; starts with the text area
    char* variable;       // start of the parameter area: the variable's value, if any
    char* printed;        // the host's printed text
    const char* parameters[max_parameters];  // null from parameter_count on

private:
    // Start of the printed area, behind the text and parameter areas,
    // which are equally long.
    char* printed_area() const;
};

class TRANSYS_EXPORT csgl_message {
public:
    // Throws exc_not_enough_memory_t when the body or its block cannot be
    // allocated.
    csgl_message(const char* text, int message_number, const char* file, int line);
    csgl_message(const csgl_message& other);
    csgl_message& operator=(const csgl_message& other);
    ~csgl_message();

    // As csgl_message_::log.
    void log(int host_selector2, int host_selector1);

    // The text with the markers removed; valid while a handle to the body
    // lives.
    const char* msg_string() const;

    // The shared body, for inspection.
    const csgl_message_* representation() const { return body_; }

private:
    csgl_refcounted_pointer_to<csgl_message_> body_;
};

#endif
