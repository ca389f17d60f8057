// A test host: defines the host's trace and message symbols in the test
// program itself, so that the library's calls land here instead of in the
// stand-in services (ordinary symbol interposition), and records them.
//
// Tests take a `host_session` at the start of a case: it clears what was
// recorded, sets the event mask, and restores it to 0 at the end.
#ifndef TESTS_SUPPORT_HOST_RECORDER_HPP
#define TESTS_SUPPORT_HOST_RECORDER_HPP

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct trace_record {
    unsigned long type, id;
    const void* object;
    bool has_data;
    std::string data;  // the text, or the 4 raw bytes of a code
};

// Records compare field by field, so tests can expect whole sequences; the
// printed form shows type, id, object and data, and the data's first 4
// bytes as a code.
bool operator==(const trace_record& a, const trace_record& b);
std::ostream& operator<<(std::ostream& out, const trace_record& record);

using records = std::vector<trace_record>;
// The record types of object tracking.
constexpr unsigned long created = 0x021E0000, destroyed = 0x021F0000;
// A record whose data is a 4-byte code, as exit records carry it.
trace_record coded(unsigned long type, unsigned long id, const void* object, std::int32_t code);
// An address as "%p" prints it, as records that name another object show it.
std::string pointer_text(const void* address);
// The data of the records of this type and id, in the order written.
std::vector<std::string> record_data(unsigned long type, unsigned long id);

// How the recorder reads the inserts of a catalogue message; the service
// knows this from its catalogue, the recorder has to be told.
//   by_selectors      the selectors of the limit message (tran_api.h):
//                     limit, otherwise name_line_params
//   limit             one int insert
//   name_line_params  file name, line, ten texts
//   params            ten texts
enum class insert_layout { by_selectors, limit, name_line_params, params };

struct message_call {
    bool printed;  // PrintMessage (true) or getPrintedMessage (false)
    int selector1, selector2, number;
    unsigned int capacity;            // getPrintedMessage only
    int int_insert;                   // the limit, or the line
    std::string name;                 // file name insert, if any
    std::vector<std::string> params;  // texts; "<null>" for a null pointer
};

struct debug_call { unsigned long level; std::string text; };

// What the host received; safe to call from several threads.
std::vector<trace_record> recorded_traces();
std::vector<message_call> recorded_messages();
std::vector<debug_call> recorded_debugs();
int trace_init_calls();
void clear_recorded();

// The text getPrintedMessage writes for every message (default "printed");
// tests set it to check what the library does with the result.
void set_printed_text(const std::string& text);
void set_insert_layout(insert_layout layout);

struct host_session {
    explicit host_session(unsigned int events = 0);
    ~host_session();
    host_session(const host_session&) = delete;
    host_session& operator=(const host_session&) = delete;
};

#endif
