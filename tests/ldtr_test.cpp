// The directory trace front-end: record writers, exit records, the function
// scope under each event mask, formatters and debug texts.
#include "libraries/libldtr/ldtr.hpp"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "libutils/cstr/trace_text.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

constexpr unsigned long entry = 0x03200000, exit_type = 0x03210000, error_exit = 0x030B0000,
                        debug_type = 0x03400000, debug_text = 0x03070000;

const int objects[2] = {};
const void* const a = &objects[0];
const void* const b = &objects[1];

trace_record text(unsigned long type, unsigned long id, const void* object, const std::string& s) {
    return {type, id, object, true, s};
}
trace_record coded(unsigned long type, unsigned long id, const void* object, std::int32_t code) {
    return {type, id, object, true, std::string(reinterpret_cast<const char*>(&code), 4)};
}

void write_text(unsigned long type, unsigned long id, const void* object, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ldtr_write(type, id, object, format, trace_va_pointer(args));
    va_end(args);
}

TEST(ldtr_write, records_and_the_text_area) {
    host_session session(0);  // the writers themselves do not look at the mask
    write_text(entry, 0x3C020200, a, "%ld|%s|%c", -42L, "text", 'c');
    ldtr_write(entry, 0x3C020100, b);
    EXPECT_EQ(recorded_traces(),
              (std::vector<trace_record>{text(entry, 0x3C020200, a, "-42|text|c"),
                                         {entry, 0x3C020100, b, false, ""}}));
    for (const std::size_t length : {8191u, 8192u, 20000u}) {
        clear_recorded();
        const std::string long_text(length, 'q');
        write_text(entry, 1, a, "%s", long_text.c_str());
        EXPECT_EQ(recorded_traces(),
                  (std::vector<trace_record>{text(entry, 1, a, long_text.substr(0, 8191))}));
    }
}

TEST(ldtr_exit_errcode, kind_follows_the_mask_and_the_code) {
    struct row {
        unsigned int events;
        unsigned long kind, mask;
        long code;
        unsigned long type;
    };
    const row rows[] = {
        {0x2000, 33, 4096, -1, error_exit}, {0x2000, 33, 4096, 0, exit_type},
        {0x1000, 33, 4096, 68, exit_type},  {0x20, 45, 0x10, 3, 0x030C0000},
        {0x10, 45, 0x10, 3, 0x032D0000},
    };
    for (const row& r : rows) {
        host_session session(r.events);
        ldtr_exit_errcode(0x3C020300, r.kind, r.mask, r.code, a);
        EXPECT_EQ(recorded_traces(),
                  (std::vector<trace_record>{coded(r.type, 0x3C020300, a, r.code)}));
    }
}

using scope_under_test = ldtr_function_local<0x3C020700, 33, 4096>;

TEST(ldtr_function_local, exit_record_under_each_mask) {
    struct row {
        unsigned int events;
        long code;
        std::vector<trace_record> records;
    };
    const std::vector<row> rows = {
        {0, 9, {}},
        {0x4000, 9, {}},
        {0x1000, 9, {coded(exit_type, 0x3C020700, a, 9)}},
        {0x2000, 9, {coded(error_exit, 0x3C020700, a, 9)}},
        {0x3000, 9, {coded(error_exit, 0x3C020700, a, 9)}},
        {0x2000, 0, {coded(exit_type, 0x3C020700, a, 0)}},
    };
    for (const row& r : rows) {
        host_session session(r.events);
        {
            scope_under_test scope(a);
            EXPECT_EQ(scope.SetErrorCode(r.code), r.code);
        }
        EXPECT_EQ(recorded_traces(), r.records) << std::hex << r.events;
    }
    // The mask is read when the scope ends, however it ends.
    host_session session(0);
    try {
        scope_under_test scope(nullptr);
        scope.SetErrorCode(80);
        trcEvents = 0x1000;
        throw std::runtime_error("leaving");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(recorded_traces(),
              (std::vector<trace_record>{coded(exit_type, 0x3C020700, nullptr, 80)}));
}

TEST(ldtr_formater, local_and_global_records) {
    host_session session(0);
    const scope_under_test scope(a);
    scope(entry)();
    scope(entry)("%d-%s", 5, "x");
    ldtr_formater_local local(0x3C020200, entry, a);
    local(0x1FF, "sub %d", 1);  // bits above the low byte are ignored
    local(0x1202, "sub %d", 2);
    local.new_delete(b, "about %s", "b");
    local.new_delete(0x1FF, b, "again");
    ldtr_formater_global global(debug_type);
    global(0x3C020500, "g%d", 7);
    global.new_delete(0x3C020600, b, "other");
    ldtr_fun(entry)(0x3C020900, "%ld", 512L);
    EXPECT_EQ(recorded_traces(),
              (std::vector<trace_record>{{entry, 0x3C020700, a, false, ""},
                                         text(entry, 0x3C020700, a, "5-x"),
                                         text(entry, 0x3C0202FF, a, "sub 1"),
                                         text(entry, 0x3C020202, a, "sub 2"),
                                         text(entry, 0x3C020200, b, "about b"),
                                         text(entry, 0x3C0202FF, b, "again"),
                                         text(debug_type, 0x3C020500, nullptr, "g7"),
                                         text(debug_type, 0x3C020600, b, "other"),
                                         text(entry, 0x3C020900, nullptr, "512")}));
    EXPECT_TRUE(recorded_debugs().empty());
}

TEST(ldtr_formater, debug_texts) {
    host_session session(0);
    const scope_under_test scope(a);
    // At the debug level a formatter's type becomes the debug-text kind for
    // good, keeping the trace component; other levels leave it alone.
    ldtr_formater_local local = scope(debug_type);
    local.debug(0x20, "plain %d\n", 1);
    local.debug(0xC8110000, "level %s\n", "hit");
    local.debug(0x12345678, "after");
    scope(debug_type).debug(0x20, "fresh");
    ldtr_formater_local(0x3C020D00, 0x05AB1234, nullptr).debug(0xC8110000, "component");
    ldtr_formater_global global(debug_type);
    global.debug(0xC8110000, "global %d", 4);
    global.debug(0x77, "global again");
    EXPECT_EQ(recorded_traces(),
              (std::vector<trace_record>{text(debug_type, 0x3C020720, a, "plain 1\n"),
                                         text(debug_text, 0x3C020700, a, "level hit\n"),
                                         text(debug_text, 0x3C020778, a, "after"),
                                         text(debug_type, 0x3C020720, a, "fresh"),
                                         text(0x05070000, 0x3C020D00, nullptr, "component"),
                                         text(debug_text, 0xC8110000, nullptr, "global 4"),
                                         text(debug_text, 0x77, nullptr, "global again")}));
    std::vector<std::string> debugs;
    for (const debug_call& d : recorded_debugs()) {
        char level[16];
        std::snprintf(level, sizeof level, "%lx:", d.level);
        debugs.push_back(level + d.text);
    }
    EXPECT_EQ(debugs, (std::vector<std::string>{"20:plain 1\n", "c8110000:level hit\n",
                                                "12345678:after", "20:fresh", "c8110000:component",
                                                "c8110000:global 4", "77:global again"}));
}

TEST(ldtr_init, starts_the_trace_service) {
    host_session session(0);
    EXPECT_EQ(ldtr_init(), 0);
    EXPECT_EQ(trace_init_calls(), 1);
    EXPECT_TRUE(recorded_traces().empty());
}

}  // namespace
