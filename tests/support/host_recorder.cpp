#include "tests/support/host_recorder.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "host/message.h"
#include "host/trc.h"

namespace {

std::mutex guard;
std::vector<trace_record> traces;
std::vector<message_call> messages;
std::vector<debug_call> debugs;
int init_calls = 0;
std::string printed_text = "printed";
insert_layout layout = insert_layout::by_selectors;

std::string text_of(const char* s) { return s ? std::string(s) : std::string("<null>"); }

message_call read_inserts(bool printed, int selector1, int selector2, int number,
                          unsigned int capacity, va_list args) {
    message_call call{printed, selector1, selector2, number, capacity, 0, {}, {}};
    insert_layout how = layout;
    if (how == insert_layout::by_selectors) {
        how = (selector1 == 0 && selector2 == 2) ? insert_layout::limit
                                                 : insert_layout::name_line_params;
    }
    if (how == insert_layout::limit) {
        call.int_insert = va_arg(args, int);
        return call;
    }
    if (how == insert_layout::name_line_params) {
        call.name = text_of(va_arg(args, const char*));
        call.int_insert = va_arg(args, int);
    }
    for (int i = 0; i < 10; ++i) call.params.push_back(text_of(va_arg(args, const char*)));
    return call;
}

}  // namespace

extern "C" {

// The test program defines the host's symbols on purpose, beside the
// stand-in services that define them too; AddressSanitizer would take that
// interposition for a violation of the one-definition rule.
const char* __asan_default_options() { return "detect_odr_violation=0"; }

unsigned int trcEvents = 0;

int trcInit(void) {
    std::lock_guard<std::mutex> hold(guard);
    ++init_calls;
    return 0;
}

int trcWriteRec(unsigned long type, unsigned long id, const void* object, unsigned long length,
                const void* data, unsigned long, unsigned long, unsigned long, unsigned long) {
    trace_record record{type, id, object, data != nullptr, {}};
    if (data != nullptr) record.data.assign(static_cast<const char*>(data), length);
    std::lock_guard<std::mutex> hold(guard);
    traces.push_back(record);
    return 0;
}

int PrintMessage(int selector1, int selector2, int number, ...) {
    va_list args;
    va_start(args, number);
    std::lock_guard<std::mutex> hold(guard);
    messages.push_back(read_inserts(true, selector1, selector2, number, 0, args));
    va_end(args);
    return 0;
}

int getPrintedMessage(char* buffer, unsigned int capacity, int selector1, int selector2,
                      int number, ...) {
    va_list args;
    va_start(args, number);
    std::lock_guard<std::mutex> hold(guard);
    messages.push_back(read_inserts(false, selector1, selector2, number, capacity, args));
    va_end(args);
    if (capacity > 0) {
        const std::size_t n = std::min<std::size_t>(printed_text.size(), capacity - 1);
        std::memcpy(buffer, printed_text.data(), n);
        buffer[n] = '\0';
    }
    return 0;
}

int PrintDebugVa(unsigned long level, const char* format, va_list args) {
    char text[8192];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard<std::mutex> hold(guard);
    debugs.push_back({level, text});
    return 0;
}

}  // extern "C"

std::int32_t trace_record::code() const {
    std::int32_t value = 0;
    if (data.size() == sizeof value) std::memcpy(&value, data.data(), sizeof value);
    return value;
}

bool operator==(const trace_record& a, const trace_record& b) {
    return a.type == b.type && a.id == b.id && a.object == b.object && a.has_data == b.has_data &&
           a.data == b.data;
}

std::ostream& operator<<(std::ostream& out, const trace_record& record) {
    char head[64];
    std::snprintf(head, sizeof head, "%08lx %08lx %p ", record.type, record.id, record.object);
    out << head;
    const unsigned long kind = (record.type >> 16) & 0xFF;
    if (!record.has_data) {
        out << "-";
    } else if ((kind == 0x21 || kind == 0x0B) && record.data.size() == 4) {
        out << "code=" << record.code();
    } else {
        out << '"' << record.data << '"';
    }
    return out;
}

std::vector<trace_record> recorded_traces() {
    std::lock_guard<std::mutex> hold(guard);
    return traces;
}

std::vector<message_call> recorded_messages() {
    std::lock_guard<std::mutex> hold(guard);
    return messages;
}

std::vector<debug_call> recorded_debugs() {
    std::lock_guard<std::mutex> hold(guard);
    return debugs;
}

int trace_init_calls() {
    std::lock_guard<std::mutex> hold(guard);
    return init_calls;
}

void clear_recorded() {
    std::lock_guard<std::mutex> hold(guard);
    traces.clear();
    messages.clear();
    debugs.clear();
    init_calls = 0;
    printed_text = "printed";
    layout = insert_layout::by_selectors;
}

void set_printed_text(const std::string& text) {
    std::lock_guard<std::mutex> hold(guard);
    printed_text = text;
}

void set_insert_layout(insert_layout how) {
    std::lock_guard<std::mutex> hold(guard);
    layout = how;
}

host_session::host_session(unsigned int events) {
    clear_recorded();
    __atomic_store_n(&trcEvents, events, __ATOMIC_RELAXED);
}

host_session::~host_session() { __atomic_store_n(&trcEvents, 0u, __ATOMIC_RELAXED); }
