// The host stand-ins themselves, libtrc and libmessage, linked as they are:
// nothing here defines a host symbol.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/message.h"
#include "host/trc.h"

namespace {

const char* const none = nullptr;

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The trace file of this program.  The service chooses its destination at
// the first record, so naming the file before main is early enough.
class trace_file {
public:
    trace_file() {
        char name[] = "/tmp/host_services_test_XXXXXX";
        close(mkstemp(name));
        path_ = name;
        setenv("TRC_FILE", name, 1);
    }
    ~trace_file() { unlink(path_.c_str()); }

    // The lines appended since the previous call.
    std::vector<std::string> new_lines() {
        std::ifstream in(path_, std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string fresh = all.substr(seen_);
        seen_ = all.size();
        return split_lines(fresh);
    }

private:
    std::string path_;
    std::size_t seen_ = 0;
};
trace_file traces;

// What `write` sends to standard error.
template <class F>
std::string captured_stderr(F write) {
    std::FILE* file = std::tmpfile();
    int saved = dup(2);
    dup2(fileno(file), 2);
    write();
    dup2(saved, 2);
    close(saved);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

int debug(unsigned long level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = PrintDebugVa(level, format, args);
    va_end(args);
    return result;
}

std::string code_bytes(std::int32_t code) {
    return std::string(reinterpret_cast<const char*>(&code), sizeof code);
}

const std::string null_object = "obj=0x" + std::string(2 * sizeof(void*), '0');

TEST(TraceService, WritesOneLinePerRecord) {
    struct {
        unsigned long type, id;
        std::string data;
        const char* head;  // the line up to the object
        const char* tail;  // the line behind it
    } const cases[] = {
        {0x03200000, 0x3c020200, "conn 7", "trc entry type=0x03200000 id=0x3c020200",
         "text=\"conn 7\""},
        {0x03210000, 0x3c020200, code_bytes(68), "trc exit type=0x03210000 id=0x3c020200",
         "code=68"},
        {0x020b0000, 0x1, code_bytes(-1), "trc error-exit type=0x020b0000 id=0x00000001",
         "code=-1"},
        {0x03210000, 0x2, "abc", "trc exit type=0x03210000 id=0x00000002", "text=\"abc\""},
        {0x03200000, 0x2, "abcd", "trc entry type=0x03200000 id=0x00000002", "text=\"abcd\""},
        {0x02070000, 0x3, std::string("a\nb\t\"q\"\\ \x01\x7f\xff\r\0", 14),
         "trc text type=0x02070000 id=0x00000003",
         "text=\"a\\nb\\t\\\"q\\\"\\\\ \\x01\\x7f\\xff\\r\\x00\""},
        {0x021e0000, 0x4, "", "trc created type=0x021e0000 id=0x00000004", "-"},
        {0x03400000, 0x6, "d", "trc debug type=0x03400000 id=0x00000006", "text=\"d\""},
        {0x03550000, 0x7, "", "trc kind-0x55 type=0x03550000 id=0x00000007", "-"},
    };
    EXPECT_EQ(0, trcInit());
    EXPECT_EQ(0, trcInit());
    traces.new_lines();
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        EXPECT_EQ(0, trcWriteRec(c.type, c.id, nullptr, c.data.size(),
                                 c.data.empty() ? nullptr : c.data.data(), 0, 0, 0, 0));
        expected.push_back(std::string(c.head) + " " + null_object + " " + c.tail);
    }
    // Data of length 0 counts as none; the object pointer takes its full width.
    trcWriteRec(0x03200000, 0x8, reinterpret_cast<const void*>(0x1234), 0, "x", 0, 0, 0, 0);
    expected.push_back("trc entry type=0x03200000 id=0x00000008 obj=0x" +
                       std::string(2 * sizeof(void*) - 4, '0') + "1234 -");
    EXPECT_EQ(expected, traces.new_lines());
}

TEST(TraceService, ConcurrentRecordsStayWholeLines) {
    const int threads = 8, records = 100;
    auto text = [](int t, int r) {
        return "t" + std::to_string(t) + " r" + std::to_string(r) + " " +
               std::string(static_cast<std::size_t>(r) * 41, static_cast<char>('a' + t));
    };
    traces.new_lines();
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([t, &text] {
            for (int r = 0; r < records; ++r) {
                std::string data = text(t, r);
                trcWriteRec(0x02070000, 0x10, nullptr, data.size(), data.data(), 0, 0, 0, 0);
            }
        });
    }
    for (auto& w : writers) w.join();

    std::multiset<std::string> expected;
    for (int t = 0; t < threads; ++t)
        for (int r = 0; r < records; ++r)
            expected.insert("trc text type=0x02070000 id=0x00000010 " + null_object + " text=\"" +
                            text(t, r) + "\"");
    std::vector<std::string> lines = traces.new_lines();
    EXPECT_EQ(expected, std::multiset<std::string>(lines.begin(), lines.end()));
}

// Run by ctest with TRC_EVENTS set, and the value the mask must have in
// TRC_EVENTS_EXPECTED (decimal).
TEST(TraceEvents, MaskFromEnvironment) {
    const char* expected = std::getenv("TRC_EVENTS_EXPECTED");
    if (expected == nullptr) GTEST_SKIP() << "TRC_EVENTS_EXPECTED not set";
    EXPECT_EQ(std::strtoul(expected, nullptr, 10), trcEvents);
}

const std::string limit_text = "The number of open transactions has reached the limit of 20.";
const std::string unknown_text = "message 999 is not in the catalogue";

template <class... Inserts>
std::string printed(int expected_result, int number, Inserts... inserts) {
    char buffer[256];
    EXPECT_EQ(expected_result, getPrintedMessage(buffer, sizeof buffer, 5, 8, number, inserts...));
    return buffer;
}

TEST(MessageService, FormatsCatalogueEntries) {
    EXPECT_EQ(limit_text, printed(0, 153, 20));
    EXPECT_EQ("ldap modify: line 12: bad value",
              printed(0, 1, "ldap modify", 12, "bad value", none, none, none, none, none, none,
                      none, none, none));
    EXPECT_EQ("util/x: line 7: open: (null)", printed(0, 2, "util/x", 7, "open", none));
    EXPECT_EQ("util/x: line -3: not enough memory", printed(0, 3, "util/x", -3));
    EXPECT_EQ("entry cn=x has 3 values", printed(0, 11, "cn=x", "3"));
    EXPECT_EQ("100%", printed(0, 10, "100%"));
    EXPECT_EQ(unknown_text, printed(-1, 999, "never read"));
}

TEST(MessageService, TruncatesAtCapacity) {
    struct {
        int number;
        const std::string& text;
    } const messages[] = {{153, limit_text}, {999, unknown_text}};
    for (const auto& m : messages) {
        const unsigned int n = static_cast<unsigned int>(m.text.size());
        for (unsigned int capacity : {0u, 1u, 2u, 10u, n, n + 1, n + 2}) {
            SCOPED_TRACE(std::to_string(m.number) + " capacity " + std::to_string(capacity));
            std::string buffer(100, '#');
            int result = getPrintedMessage(&buffer[0], capacity, 0, 2, m.number, 20);
            std::string expected = buffer;
            if (capacity > 0) {
                std::size_t kept = std::min<std::size_t>(capacity - 1, n);
                expected.replace(0, kept + 1, m.text.substr(0, kept) + '\0');
            }
            EXPECT_EQ(expected, buffer);
            EXPECT_EQ(m.number == 153 && capacity > n ? 0 : -1, result);
        }
    }
}

TEST(MessageService, PrintsLinesToStandardError) {
    const std::string long_text(3000, 'L');
    std::vector<int> results;
    std::string out = captured_stderr([&] {
        results.push_back(PrintMessage(0, 2, 153, 20));
        results.push_back(PrintMessage(5, 8, 1, "ldap modify", 12, "bad value", none, none, none,
                                       none, none, none, none, none, none));
        results.push_back(PrintMessage(0, 0, 999));
        results.push_back(PrintMessage(5, 8, 10, long_text.c_str()));
        results.push_back(debug(0xC8110000, "sweep %d of %s", 3, "five"));
        results.push_back(debug(0x1, "ends in a line end\n"));
        results.push_back(debug(0x2, "%s", long_text.c_str()));
    });
    EXPECT_EQ((std::vector<int>{0, 0, -1, 0, 0, 0, 0}), results);
    EXPECT_EQ("MSG0153 (0,2): " + limit_text + "\n" +
                  "MSG0001 (5,8): ldap modify: line 12: bad value\n"
                  "MSG0999 (0,0): " + unknown_text + "\n" +
                  "MSG0010 (5,8): " + long_text + "\n" +
                  "DBG 0xc8110000: sweep 3 of five\n"
                  "DBG 0x00000001: ends in a line end\n"
                  "DBG 0x00000002: " + long_text + "\n",
              out);
}

}  // namespace
