// Support of the fuzz targets: a reader that splits the fuzzer's bytes into
// values, the check that ends the run on a broken property, the block
// rounding rule the strings and messages share, and what the host's message
// service last received and what its getPrintedMessage writes.
//
// The host's trace and message symbols are defined in each fuzz program
// (fuzz_support.cpp), so the library's calls land there instead of in the
// stand-ins, which would print every message.  Nothing accumulates across
// runs: trace records are checked and dropped, and only the last catalogue
// message is kept.
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_HPP
#define TESTS_FUZZ_FUZZ_SUPPORT_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// Ends the run with the property that failed; libFuzzer keeps the input.
[[noreturn]] void fuzz_failed(const char* property, const char* file, int line);
#define FUZZ_CHECK(property) \
    ((property) ? static_cast<void>(0) : fuzz_failed(#property, __FILE__, __LINE__))

// Takes values off the front of the fuzzer's bytes; past the end, values
// are zero and texts empty.
class fuzz_input {
public:
    fuzz_input(const std::uint8_t* data, std::size_t size) : next_(data), left_(size) {}
    bool empty() const { return left_ == 0; }
    template <class T>
    T take() {
        T value{};
        const std::uint8_t* const from = next_;
        std::memcpy(&value, from, skip(sizeof value));
        return value;
    }
    // Up to `n` bytes, NULs included.
    std::string take_text(std::size_t n) {
        const char* const text = reinterpret_cast<const char*>(next_);
        return std::string(text, skip(n));
    }
    std::string rest() { return take_text(left_); }

private:
    // Moves past up to `n` bytes; returns how many.
    std::size_t skip(std::size_t n) {
        n = n < left_ ? n : left_;
        next_ += n, left_ -= n;
        return n;
    }
    const std::uint8_t* next_;
    std::size_t left_;
};

// The block a need of `n` bytes gets: powers of two from 8 to 1024, above
// that the next multiple of 1024 strictly above `n`.
unsigned int rounded_block(unsigned int n);

// How PrintMessage and getPrintedMessage read the inserts behind the
// message number.  The host knows this from its catalogue; the fuzz host is
// told by the target.
enum class insert_layout {
    unread,           // the inserts are not looked at
    name_line_params, // file name, line, ten texts
    params            // ten texts
};

struct host_message_call {
    int selector1, selector2, number;
    const char* name;
    int line;
    const char* params[10];
    char* buffer;           // getPrintedMessage only
    unsigned int capacity;  // getPrintedMessage only
};

struct host_messages {
    insert_layout layout;
    int printed_calls;    // PrintMessage
    int formatted_calls;  // getPrintedMessage
    host_message_call printed, formatted;  // the last of each
};

// Forgets the calls received and sets how the next are read; the printed
// text goes back to host_printed_prefix.
void host_reset(insert_layout layout);
const host_messages& host_received();

// getPrintedMessage fills the whole capacity it is offered: the printed
// text, then filler, then a NUL.
extern const char host_printed_prefix[];
void host_set_printed(const std::string& text);

#endif
