#include "tests/fuzz/fuzz_support.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "host/message.h"
#include "host/trc.h"

void fuzz_failed(const char* property, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, property);
    std::abort();
}

unsigned int rounded_block(unsigned int n) {
    if (n > 1024) return n + 1024 - n % 1024;
    unsigned int size = 8;
    while (size < n) size *= 2;
    return size;
}

const char host_printed_prefix[] = "ldap modify: ";

namespace {

host_messages received;
std::string printed_text = host_printed_prefix;

host_message_call read_call(int selector1, int selector2, int number, va_list args) {
    host_message_call call{selector1, selector2, number, nullptr, 0, {}, nullptr, 0};
    if (received.layout == insert_layout::unread) return call;
    if (received.layout == insert_layout::name_line_params) {
        call.name = va_arg(args, const char*);
        call.line = va_arg(args, int);
    }
    for (const char*& param : call.params) param = va_arg(args, const char*);
    return call;
}

}  // namespace

void host_reset(insert_layout layout) {
    received = host_messages{layout, 0, 0, {}, {}};
    printed_text = host_printed_prefix;
}

void host_set_printed(const std::string& text) { printed_text = text; }

const host_messages& host_received() { return received; }

extern "C" {

// The fuzz program defines the host's symbols on purpose, beside the
// stand-in services that define them too; AddressSanitizer would take that
// interposition for a violation of the one-definition rule.
const char* __asan_default_options() { return "detect_odr_violation=0"; }

unsigned int trcEvents = 0;

int trcInit(void) { return 0; }

// A record carries no data, a text of at most 8191 characters or a 4-byte
// code; every byte of it must be readable.
int trcWriteRec(unsigned long, unsigned long, const void*, unsigned long length, const void* data,
                unsigned long, unsigned long, unsigned long, unsigned long) {
    FUZZ_CHECK(length <= 8191);
    FUZZ_CHECK(length == 0 || data != nullptr);
    unsigned int sum = 0;
    for (unsigned long i = 0; i < length; ++i) sum += static_cast<const unsigned char*>(data)[i];
    return static_cast<int>(sum & 1);
}

int PrintMessage(int selector1, int selector2, int number, ...) {
    va_list args;
    va_start(args, number);
    received.printed = read_call(selector1, selector2, number, args);
    va_end(args);
    ++received.printed_calls;
    return 0;
}

int getPrintedMessage(char* buffer, unsigned int capacity, int selector1, int selector2,
                      int number, ...) {
    va_list args;
    va_start(args, number);
    received.formatted = read_call(selector1, selector2, number, args);
    va_end(args);
    received.formatted.buffer = buffer;
    received.formatted.capacity = capacity;
    ++received.formatted_calls;
    if (capacity == 0) return 0;
    // Every byte offered is written, so that AddressSanitizer sees an offer
    // larger than the room behind the buffer.
    for (unsigned int i = 0; i + 1 < capacity; ++i) {
        buffer[i] = i < printed_text.size() ? printed_text[i] : 'x';
    }
    buffer[capacity - 1] = '\0';
    return 0;
}

int PrintDebugVa(unsigned long, const char* format, va_list args) {
    char text[8192];
    return std::vsnprintf(text, sizeof text, format, args);
}

}  // extern "C"
