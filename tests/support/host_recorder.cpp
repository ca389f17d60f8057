#include "tests/support/host_recorder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <tuple>

#include "host/message.h"
#include "host/trc.h"
#include "libtransys/tran_api.h"

namespace {

std::mutex guard;
// Everything recorded, and the settings, as clear_recorded leaves them.
struct recorded {
    std::vector<trace_record> traces;
    std::vector<message_call> messages;
    std::vector<debug_call> debugs;
    int init_calls = 0;
    std::string printed_text = "printed";
    insert_layout layout = insert_layout::by_selectors;
} host;

// Runs `f` under the guard and returns what it returned.
template <class F>
auto locked(F f) {
    const std::lock_guard<std::mutex> hold(guard);
    return f();
}


std::string text_of(const char* s) { return s ? s : "<null>"; }

// Reads the inserts of `call` as the layout set says; returns the text to print.
std::string record_message(message_call call, va_list args) {
    insert_layout how = locked([] { return host.layout; });
    if (how == insert_layout::by_selectors)
        how = call.selector1 == TRAN_API_LIMIT_MESSAGE_SELECTOR1 &&
                      call.selector2 == TRAN_API_LIMIT_MESSAGE_SELECTOR2
                  ? insert_layout::limit
                  : insert_layout::name_line_params;
    if (how == insert_layout::name_line_params) call.name = text_of(va_arg(args, const char*));
    if (how != insert_layout::params) call.int_insert = va_arg(args, int);
    if (how != insert_layout::limit)
        for (int i = 0; i < 10; ++i) call.params.push_back(text_of(va_arg(args, const char*)));
    return locked([&] { return host.messages.push_back(call), host.printed_text; });
}

}  // namespace

extern "C" {

// The test program defines the host's symbols on purpose, beside the
// stand-in services that define them too; AddressSanitizer would take that
// interposition for a violation of the one-definition rule.
const char* __asan_default_options() { return "detect_odr_violation=0"; }

unsigned int trcEvents = 0;

int trcInit(void) { return locked([] { return ++host.init_calls, 0; }); }

int trcWriteRec(unsigned long type, unsigned long id, const void* object, unsigned long length,
                const void* data, unsigned long unused1, unsigned long unused2,
                unsigned long unused3, unsigned long unused4) {
    EXPECT_EQ(unused1 | unused2 | unused3 | unused4, 0ul) << "arguments documented as 0";
    const char* const bytes = static_cast<const char*>(data);
    const trace_record record{type, id, object, bytes != nullptr, bytes ? std::string(bytes, length) : ""};
    return locked([&] { return host.traces.push_back(record), 0; });
}

int PrintMessage(int selector1, int selector2, int number, ...) {
    va_list args;
    va_start(args, number);
    record_message({true, selector1, selector2, number, 0, 0, {}, {}}, args);
    return va_end(args), 0;
}

int getPrintedMessage(char* buffer, unsigned int capacity, int selector1, int selector2,
                      int number, ...) {
    va_list args;
    va_start(args, number);
    const std::string text =
        record_message({false, selector1, selector2, number, capacity, 0, {}, {}}, args);
    va_end(args);
    if (capacity > 0) buffer[text.copy(buffer, capacity - 1)] = '\0';
    return 0;
}

int PrintDebugVa(unsigned long level, const char* format, va_list args) {
    char text[8192];
    std::vsnprintf(text, sizeof text, format, args);
    return locked([&] { return host.debugs.push_back({level, text}), 0; });
}

}  // extern "C"

trace_record coded(unsigned long type, unsigned long id, const void* object, std::int32_t code) {
    return {type, id, object, true, std::string(reinterpret_cast<const char*>(&code), sizeof code)};
}

std::string pointer_text(const void* address) {
    char text[32];
    return std::snprintf(text, sizeof text, "%p", address), text;
}

std::vector<std::string> record_data(unsigned long type, unsigned long id) {
    std::vector<std::string> found;
    for (const trace_record& r : recorded_traces())
        if (r.type == type && r.id == id) found.push_back(r.data);
    return found;
}

bool operator==(const trace_record& a, const trace_record& b) {
    return std::tie(a.type, a.id, a.object, a.has_data, a.data) == std::tie(b.type, b.id, b.object, b.has_data, b.data);
}

std::ostream& operator<<(std::ostream& out, const trace_record& record) {
    char head[64];
    std::snprintf(head, sizeof head, "%08lx %08lx %p ", record.type, record.id, record.object);
    if (!record.has_data) return out << head << "-";
    std::int32_t code = 0;
    std::memcpy(&code, record.data.data(), std::min(record.data.size(), sizeof code));
    return out << head << '"' << record.data << "\" (as a code " << code << ")";
}

std::vector<trace_record> recorded_traces() { return locked([] { return host.traces; }); }
std::vector<message_call> recorded_messages() { return locked([] { return host.messages; }); }
std::vector<debug_call> recorded_debugs() { return locked([] { return host.debugs; }); }
int trace_init_calls() { return locked([] { return host.init_calls; }); }
void set_printed_text(const std::string& text) { locked([&] { host.printed_text = text; }); }
void set_insert_layout(insert_layout how) { locked([&] { host.layout = how; }); }

void clear_recorded() { locked([] { host = recorded(); }); }

// Tests running threads of their own read the mask while a session sets it.
static void set_events(unsigned int mask) { __atomic_store_n(&trcEvents, mask, __ATOMIC_RELAXED); }
host_session::host_session(unsigned int events) { clear_recorded(); set_events(events); }
host_session::~host_session() { set_events(0); }
