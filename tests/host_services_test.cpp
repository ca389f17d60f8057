// The host stand-ins themselves, libtrc and libmessage, linked as they are:
// nothing here defines a host symbol.  Only write(2) is replaced, to make
// the services' writes short and interrupted.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

#include "host/message.h"
#include "host/trc.h"
#include "libtransys/tran_api.h"

// Every write of the services lands here: every other call fails with
// EINTR, the others write at most 100 bytes and never the last byte with
// the others, so that a line takes several calls; a line holding "EIO"
// fails with EIO.  A writer that never ends is stopped.
extern "C" ssize_t write(int fd, const void* data, size_t length) {
    static const auto next =
        reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(dlsym(RTLD_NEXT, "write"));
    static std::atomic<unsigned> calls(0);
    if (calls++ > 1000000) std::abort();
    if (calls % 2 == 0) return errno = EINTR, -1;
    if (memmem(data, length, "EIO", 3) != nullptr) return errno = EIO, -1;
    return next(fd, data, length > 1 ? std::min<size_t>(length - 1, 100) : length);
}

namespace {

// The trace file of this program.  The service opens its destination at
// the first record, so naming the file before main is early enough.
struct trace_file {
    char path[32] = "/tmp/host_services_test_XXXXXX";
    trace_file() { close(mkstemp(path)); setenv("TRC_FILE", path, 1); }
    ~trace_file() { unlink(path); }
} trace;

std::string code(std::int32_t value) { return std::string(reinterpret_cast<char*>(&value), 4); }

// Eight threads write every record of the table, some beyond the
// service's line buffer, fifty times: each comes out as one whole line.
// A line that cannot be written answers -1 and leaves nothing.
TEST(TraceService, WritesOneWholeLinePerRecord) {
    // The ids the library writes, named from its registry: the documented
    // id of every traced class and of every function with records of its
    // own (those of the transaction interface too), or of a class's function
    // without one; the low byte is a sub-number.
    const std::pair<unsigned long, const char*> names[] = {
        {0x3C020100, "tran_api_system_init"}, {0x3C021100, "tran_api_system_err"},
        {0x3C020DFF, "tran_api_timeout_transactions+0xff"}, {0x14030000, "csgl_file"},
        {0x14080000, "csgl_output_file"}, {0x14110000, "csgl_sync_value"},
        {0x14120000, "csgl_sync_lock_private"}, {0x14130000, "csgl_sync_lock_shared"},
        {0x14140000, "csgl_sync_monitor"}, {0x14160000, "csgl_sync_sema_private"},
        {0x14170000, "csgl_sync_sema_shared"}, {0x141B0000, "exc_t"},
        {0x14030100, "csgl_file::append"}, {0x14030300, "csgl_file::copy"}, {0x14030600, "csgl_file::flush"},
        {0x14030900, "csgl_file::remove"}, {0x14030A00, "csgl_file::rename"}, {0x14030B00, "csgl_file::seek"},
        {0x14030C00, "csgl_file::size"}, {0x14031000, "csgl_file::truncate"}, {0x14031100, "csgl_file::write"},
        {0x14080400, "csgl_output_file::std_error"}, {0x141B0107, "exc_t::exc_t+0x07"},
        {0x14030500, "csgl_file::0x05"}, {0x14030801, "csgl_file::read+0x01"},
        // The debug level a global formatter writes as the id: that value only.
        {0xC8110000, "debug_text"},
        // Not ids of the library: no such function, class or component.
        {0x3C020000, "unknown"}, {0x3C021200, "unknown"}, {0x3C030100, "unknown"}, {0x14150000, "unknown"},
        {0x15030000, "unknown"}, {0xC8110001, "unknown"}, {0xC8120000, "unknown"}, {0x0, "unknown"}};

    // Every kind of byte, 200 times: some 6 KB of line, beyond the buffer on the stack.
    std::string raw, escaped;
    for (int i = 0; i < 200; ++i)
        raw += std::string("a\nb\t\"q\"\\ \x01\x7f\xff\r\0", 14), escaped += R"(a\nb\t\"q\"\\ \x01\x7f\xff\r\x00)";
    // The record, and its line up to the three numbers.
    struct record { unsigned long type, id; std::string data, head; };
    std::vector<record> cases = {
        {0x03210000, 0x3c020200, code(68), "exit tran_api_create_transaction code=68"},
        {0x020b0000, 0x1, code(-1), "error-exit unknown code=-1"},
        // A code is 4 bytes of an exit record; anything else is text.
        {0x03210000, 0x2, "a", "exit unknown text=\"a\""},
        {0x02070000, 0x3c020200, "abcd", "text tran_api_create_transaction text=\"abcd\""},
        {0x03210000, 0x3, raw, "exit unknown text=\"" + escaped + "\""},
        // Length 0 is no data, whatever the pointer.
        {0x03550000, 0x14120000, "", "kind-0x55 csgl_sync_lock_private -"},
    };
    for (const auto& [id, name] : names) cases.push_back({0x03210000, id, "", "exit " + std::string(name) + " -"});
    const void* const object = reinterpret_cast<const void*>(0x1234);
    const std::string obj = " obj=0x" + std::string(2 * sizeof(void*) - 4, '0') + "1234";
    EXPECT_EQ(0, trcInit());
    std::multiset<std::string> expected;
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t) {
        writers.emplace_back([&] {
            for (int r = 0; r < 50; ++r)
                for (const auto& c : cases)
                    EXPECT_EQ(0, trcWriteRec(c.type, c.id, object, c.data.size(), c.data.data(), 0, 0, 0, 0));
        });
        for (int r = 0; r < 50; ++r)
            for (const auto& c : cases) {
                char numbers[40];
                std::snprintf(numbers, sizeof numbers, " type=0x%08lx id=0x%08lx", c.type, c.id);
                expected.insert("trc " + c.head + numbers + obj);
            }
    }
    for (auto& w : writers) w.join();
    EXPECT_EQ(-1, trcWriteRec(0x02070000, 0x0, nullptr, 3, "EIO", 0, 0, 0, 0));
    std::ifstream in(trace.path);
    std::multiset<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.insert(line);
    EXPECT_EQ(expected, lines);
}

// Run by ctest with TRC_EVENTS set and the mask it must give in
// TRC_EVENTS_EXPECTED (decimal); without either the mask is 0.
TEST(TraceEvents, MaskFromEnvironment) {
    const char* expected = std::getenv("TRC_EVENTS_EXPECTED");
    EXPECT_EQ(expected ? std::strtoul(expected, nullptr, 10) : 0ul, trcEvents);
}

int debug(unsigned long level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = PrintDebugVa(level, format, args);
    return va_end(args), result;
}

// Each entry reads just the inserts its text asks for (a null text prints
// as "(null)"), and a "%" in an insert is no conversion.  Lines of exactly
// the services' line buffer come out whole; a line that cannot be written
// answers -1.
TEST(MessageService, PrintsAndFormatsCatalogueEntries) {
    const std::string limit_text = "The number of open transactions has reached the limit of 20.",
                      unknown_text = "message 999 is not in the catalogue";
    // The texts that just fill the 1024-byte line after "MSG0010 (5,8): "
    // and after "DBG 0x00000001: ", with the line end; a debug text longer
    // than the line.
    const std::string message_text(1008, '%'), debug_text(1006, '%'), long_text(3000, '%');
    testing::internal::CaptureStderr();
    const std::vector<int> results = {
        PrintMessage(TRAN_API_LIMIT_MESSAGE_SELECTOR1, TRAN_API_LIMIT_MESSAGE_SELECTOR2, TRAN_API_LIMIT_MESSAGE, 20),
        PrintMessage(5, 8, 1, "ldap modify", 12, "bad value"),
        PrintMessage(5, 8, 2, "util/x", 7, "open", nullptr), PrintMessage(5, 8, 3, "util/x", -3),
        PrintMessage(5, 8, 4, "f", 1, "/a"), PrintMessage(5, 8, 11, "cn=x", "3"),
        PrintMessage(5, 8, 10, message_text.c_str()), PrintMessage(0, 0, 999, "never read"),
        debug(0xC8110000, "sweep %d of %s", 3, "five"), debug(0x1, "%s\n", debug_text.c_str()),
        debug(0x1, "%s", long_text.c_str()),
        PrintMessage(5, 8, 10, "EIO"), debug(0x1, "EIO")};
    EXPECT_EQ("MSG0153 (0,2): " + limit_text + "\n" +
                  "MSG0001 (5,8): ldap modify: line 12: bad value\n"
                  "MSG0002 (5,8): util/x: line 7: open: (null)\n"
                  "MSG0003 (5,8): util/x: line -3: not enough memory\n"
                  "MSG0004 (5,8): f: line 1: cannot open /a\n"
                  "MSG0011 (5,8): entry cn=x has 3 values\n"
                  "MSG0010 (5,8): " + message_text + "\nMSG0999 (0,0): " + unknown_text + "\n" +
                  "DBG 0xc8110000: sweep 3 of five\nDBG 0x00000001: " + debug_text + "\n" +
                  "DBG 0x00000001: " + long_text + "\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, -1, -1}), results);

    // The same texts into a buffer, never a byte past the capacity: the text
    // cut to capacity - 1 bytes and a NUL, the rest of the buffer untouched.
    for (const auto& [number, text] : {std::pair(2, std::string("name: line 7: abcdefgh: ijklmnop")),
                                       std::pair(999, unknown_text)}) {
        const unsigned int n = static_cast<unsigned int>(text.size());
        for (unsigned int capacity : {0u, 1u, 2u, 20u, n, n + 1, n + 2}) {
            std::string buffer(100, '#');
            const int result =
                getPrintedMessage(&buffer[0], capacity, 5, 8, number, "name", 7, "abcdefgh", "ijklmnop");
            std::string expected = capacity ? text.substr(0, capacity - 1) + '\0' : "";
            EXPECT_EQ(expected + std::string(100 - expected.size(), '#'), buffer) << capacity;
            EXPECT_EQ(number == 2 && capacity > n ? 0 : -1, result) << capacity;
        }
    }
}

}  // namespace
