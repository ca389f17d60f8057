#include "libutils/csgl/csgl_output.hpp"

#include <cstdint>
#include <exception>
#include <new>

#include "libutils/csgl/csgl_exc_named.hpp"
#include "libutils/csgl/csgl_local.hpp"

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// The file action a named stream opens with; refuses every other mode
// before anything is opened.
csgl_file::action_indicator action_for(csgl_output_file::mode_indicator mode) {
    switch (mode) {
        case csgl_output_file::mode_truncate: return csgl_file::create_or_truncate;
        case csgl_output_file::mode_append: return csgl_file::open_or_create;
        default: exc_throw_named<exc_invalid_parameter_t>(__FILE__, __LINE__);
    }
}

// A process-wide stream built in static storage on first use and destroyed
// at process exit.  No one can catch there, so a failing last write is
// dropped instead of ending the process.
class static_stream {
public:
    template <class Source>
    static_stream(Source& source, csgl_output_file::mode_indicator mode)
        : stream_(new (storage_) csgl_output_file(source, mode)) {}
    static_stream(const static_stream&) = delete;
    static_stream& operator=(const static_stream&) = delete;
    ~static_stream() {
        try {
            stream_->~csgl_output_file();
        } catch (...) {
        }
    }

    csgl_output_file& stream() const { return *stream_; }

private:
    alignas(csgl_output_file) unsigned char storage_[sizeof(csgl_output_file)];
    csgl_output_file* stream_;
};

// The standard-error stream on the heap, never destroyed; null when it
// cannot be built.
csgl_output_file* make_std_error() {
    try {
        return exc_if_no_mem(__FILE__, __LINE__,
                             new (std::nothrow) csgl_output_file(csgl_file::std_error(),
                                                                 csgl_output_file::mode_keep));
    } catch (...) {
        if (trcEvents & trace_event_error) {
            cstr_fun(cstr_type(trace_kind_text))(trace_id_csgl_output_file_std_error);
        }
        return nullptr;
    }
}

void put_text(csgl_output& out, const char* text) {
    for (const char* p = text; *p != '\0'; ++p) out.put_char(*p);
}

// The decimal digits of `value`, most significant first.
void put_unsigned(csgl_output& out, unsigned long value) {
    unsigned int count = 1;
    for (unsigned long rest = value; rest > 9; rest /= 10) ++count;
    const csgl_local_array_of<char> digits(count);
    unsigned int stored = 0;
    do {
        digits[stored++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (stored > 0) out.put_char(digits[--stored]);
}

void put_signed(csgl_output& out, long value) {
    unsigned long magnitude = static_cast<unsigned long>(value);
    if (value < 0) {
        out.put_char('-');
        magnitude = 0ul - magnitude;
    }
    put_unsigned(out, magnitude);
}

void put_hex(csgl_output& out, std::uintptr_t value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        out.put_char(hex_digits[(value >> shift) & 15]);
    }
}

}  // namespace

csgl_output::~csgl_output() noexcept(false) {}

void csgl_output_imp::put_chars(char ch, unsigned int n) {
    for (unsigned int i = 0; i < n; ++i) put_char(ch);
}

void csgl_output_imp::flush() {}

csgl_output_imp::~csgl_output_imp() noexcept(false) {}

csgl_output_buffer_imp::csgl_output_buffer_imp(unsigned int size, char* buffer)
    : buffer(buffer), current(buffer), limit(buffer + size) {}

csgl_output_buffer_imp::~csgl_output_buffer_imp() noexcept(false) {}

void csgl_output_buffer_imp::really_put_char(char ch) {
    if (current == limit) flush();
    *current++ = ch;
}

csgl_output_buffer_imp_of_512::csgl_output_buffer_imp_of_512()
    : csgl_output_buffer_imp(sizeof storage, storage) {}

csgl_output_buffer_imp_of_512::~csgl_output_buffer_imp_of_512() noexcept(false) {}

csgl_output_file::csgl_output_file(const char* name, mode_indicator mode)
    : csgl_file(name, action_for(mode), access_write, deny_write) {
    if (mode == mode_append) csgl_file::append();
}

csgl_output_file::csgl_output_file(csgl_file& file, mode_indicator mode) : csgl_file(file) {
    switch (mode) {
        case mode_truncate: csgl_file::truncate(); break;
        case mode_append: csgl_file::append(); break;
        case mode_keep: break;
        default: exc_throw_named<exc_invalid_parameter_t>(__FILE__, __LINE__);
    }
}

csgl_output_file::~csgl_output_file() noexcept(false) {
    if (std::uncaught_exceptions() == 0) {
        flush();
        return;
    }
    try {
        flush();
    } catch (...) {
    }
}

void csgl_output_file::flush() {
    const unsigned int pending = static_cast<unsigned int>(current - buffer);
    if (pending == 0) return;
    if (write(buffer, pending) != pending) {
        exc_throw_named<exc_not_enough_disk_t>(__FILE__, __LINE__);
    }
    current = buffer;
}

void csgl_output_file::flush_to_disk() {
    flush();
    csgl_file::flush();
}

unsigned int csgl_output_file::write(void* data, unsigned int n) {
    return csgl_file::write(data, n);
}

csgl_output_file& csgl_output_file::std_output() {
    static const static_stream standard_output(csgl_file::std_output(), mode_keep);
    return standard_output.stream();
}

csgl_output_file& csgl_output_file::std_error() {
    static csgl_output_file* const standard_error = make_std_error();
    if (standard_error != nullptr) return *standard_error;
    static const static_stream null_device(csgl_file_null_name, mode_append);
    return null_device.stream();
}

csgl_output_str::csgl_output_str(csgl_string& s) : target(&s) {}

csgl_output_str::~csgl_output_str() noexcept(false) {}

void csgl_output_str::really_put_char(char ch) { *target = *target + ch; }

csgl_output_black_hole::csgl_output_black_hole() {}

csgl_output_black_hole::~csgl_output_black_hole() noexcept(false) {}

void csgl_output_black_hole::really_put_char(char) {}

csgl_output_redirector::csgl_output_redirector(csgl_output& first, csgl_output& second)
    : primary(&first), secondary(&second) {}

csgl_output_redirector::~csgl_output_redirector() noexcept(false) {}

void csgl_output_redirector::halt_redirection() { secondary = nullptr; }

void csgl_output_redirector::really_put_char(char ch) {
    primary->put_char(ch);
    if (secondary != nullptr) secondary->put_char(ch == '\0' ? '\n' : ch);
}

csgl_output& operator<<(csgl_output& out, int value) {
    put_signed(out, value);
    return out;
}

csgl_output& operator<<(csgl_output& out, long value) {
    put_signed(out, value);
    return out;
}

csgl_output& operator<<(csgl_output& out, unsigned int value) {
    put_unsigned(out, value);
    return out;
}

csgl_output& operator<<(csgl_output& out, unsigned long value) {
    put_unsigned(out, value);
    return out;
}

csgl_output& operator<<(csgl_output& out, const char& ch) {
    out.put_char(ch);
    return out;
}

csgl_output& operator<<(csgl_output& out, const char* text) {
    put_text(out, text);
    return out;
}

csgl_output& operator<<(csgl_output& out, const csgl_string& text) {
    put_text(out, text);
    return out;
}

csgl_output& operator<<(csgl_output& out, const csgl_str_quoted& text) {
    const char quote = text.quote;
    out.put_char(quote);
    if (text.quoted.find(quote, 0) == csgl_string::npos) {
        put_text(out, text.quoted);
    } else {
        for (const char* p = text.quoted; *p != '\0'; ++p) {
            out.put_char(*p);
            if (*p == quote) out.put_char(quote);
        }
    }
    out.put_char(quote);
    return out;
}

csgl_output& operator<<(csgl_output& out, csgl_hex number) {
    out.put_char('0');
    out.put_char('x');
    put_hex(out, number.value, 8);
    return out;
}

csgl_output& operator<<(csgl_output& out, csgl_output_voidp_proxy pointer) {
    put_hex(out, reinterpret_cast<std::uintptr_t>(pointer.address), 2 * sizeof(void*));
    return out;
}

csgl_output& operator<<(csgl_output& out, csgl_input& input) {
    for (char ch = input.next_char(); ch != '\0'; ch = input.next_char()) out.put_char(ch);
    return out;
}

csgl_output& operator<<(csgl_output& out, const exc_t& e) {
    const csgl_string file(e.file);
    const csgl_string text(e.msg.msg_string());
    out << "exc " << csgl_str_quoted(file, '\'') << " " << e.line << " " << e.error << " "
        << csgl_str_quoted(text, '\'');
    return out;
}

int csgl_output_length(int n) {
    int length = 1;
    unsigned int magnitude = static_cast<unsigned int>(n);
    if (n < 0) {
        ++length;
        magnitude = 0u - magnitude;
    }
    for (; magnitude > 9; magnitude /= 10) ++length;
    return length;
}
