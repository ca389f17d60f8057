// Exceptions: catching families, the mapping of error numbers, throwing.
#include <cassert>
#include <cerrno>
#include <cstring>

#include "libutils/csgl/csgl_exc.hpp"

static bool text_is(const exc_t& e, const char* text) {
    return std::strcmp(e.message().msg_string(), text) == 0;
}

int main() {
    // A handler for a family head catches every class below it.  The class
    // fixes the code; the error number survives in the text only.
    try {
        exc_t::throw_posix_error("server.cpp", 41, ENOENT);
        assert(!"not reached");
    } catch (const exc_maybe_t& e) {
        assert(dynamic_cast<const exc_does_not_exist_t*>(&e) != nullptr);
        assert(e.error == 0x20030023 && text_is(e, "does_not_exist (ENOENT)"));
        assert(std::strcmp(e.file, "server.cpp") == 0 && e.line == 41);
    }

    // A number without a class of its own keeps the number.
    try {
        exc_t::throw_posix_error(__FILE__, __LINE__, EINTR);
        assert(!"not reached");
    } catch (const exc_unmapped_t& e) {
        assert(e.error == EINTR && text_is(e, "unmapped LINUX2 error"));
    }

    // A csgl code becomes its class, with the caller's text.
    try {
        exc_t::throw_csgl_error(__FILE__, __LINE__, exc_timeout_t::fixed_code, "no answer");
        assert(!"not reached");
    } catch (const exc_timing_t& e) {
        assert(dynamic_cast<const exc_timeout_t*>(&e) != nullptr);
        assert(e.error == 0x20000002 && text_is(e, "no answer"));
    }

    // Throwing one's own: a class with a fixed code takes file, line, text
    // and a catalogue message number (0: none).
    try {
        throw exc_invalid_parameter_t(__FILE__, __LINE__, "port must be positive", 0);
    } catch (const exc_logic_t& e) {
        assert(e.error == exc_invalid_parameter_t::fixed_code);
    }

    // 0 is no error: nothing is thrown.
    exc_t::throw_posix_error(__FILE__, __LINE__, 0);

    // exc_if_no_mem hands a pointer back, or throws for null.
    int value = 0;
    assert(exc_if_no_mem(__FILE__, __LINE__, &value) == &value);
    try {
        exc_if_no_mem(__FILE__, __LINE__, static_cast<int*>(nullptr));
        assert(!"not reached");
    } catch (const exc_not_enough_resources_t& e) {
        assert(e.error == 0x20000001 && text_is(e, "not enough memory"));
    }
    return 0;
}
