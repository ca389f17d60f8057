// The two trace front-ends: the directory's (ldtr) and the support
// library's (cstr): record writers and formatters, exit records, function
// scopes and object tracking.  The formatters do not look at the event
// mask; their callers do.
#include <gtest/gtest.h>

#include "libraries/libldtr/ldtr.hpp"
#include "libutils/csgl/csgl_trc.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

constexpr unsigned long entry = 0x02200000, exit_type = 0x02210000;
// Ids of the documentation: a function of the transaction interface, and
// two of csgl_file's.
constexpr unsigned long maxop_id = 0x3C020700, copy_id = 0x14030300, flush_id = 0x14030600;
const int objects[2] = {};
const void *const a = &objects[0], *const b = &objects[1];

trace_record text(unsigned long type, unsigned long id, const void* object, const std::string& s) {
    return {type, id, object, true, s};
}

// The registry's values that no record of these tests shows (the debug
// kind, the support library's entry, text and data kinds, its error and
// data event bits).
// The others are checked by the records below and those of tran_api_test
// and allocation_failure_test; the ids by the names the trace service gives
// them (host_services_test), which it takes from the registry.
TEST(trace_registry, holds_the_documented_values) {
    EXPECT_EQ((std::vector<unsigned long>{ldtr_type(trace_kind_debug), cstr_type(trace_kind_entry),
                                          cstr_type(trace_kind_text), cstr_type(trace_kind_data),
                                          trace_event_error, trace_event_data}),
              (std::vector<unsigned long>{0x03400000, 0x02200000, 0x02070000, 0x02220000, 0x40, 0x4000}));
}

TEST(ldtr, formatters_and_debug_texts) {
    constexpr unsigned long ldtr_entry = 0x03200000, debug_type = 0x03400000;
    host_session session(0);
    EXPECT_EQ(ldtr_init(), 0);
    EXPECT_EQ(trace_init_calls(), 1);
    const ldtr_function_local<maxop_id, trace_kind_exit, trace_event_entry> scope(a);
    const std::string area(8192, 'q');  // a text longer than 8191 is cut
    scope(ldtr_entry)();
    scope(ldtr_entry)("%ld|%s|%c", -42L, "x", 'c');
    scope(ldtr_entry)("%s", area.c_str());
    // Any type; the debug level keeps its whole component byte.
    const unsigned long t = 0xC5AB1234, id = 0x3C020200;
    ldtr_formater_local local(id, t, a);
    local(0x1FF, "sub %d", 1);  // only the low byte of `sub` counts
    local.new_delete(b, "about %s", "b");
    local.new_delete(0x1202, b, "again");
    // At the debug level a formatter's type becomes the debug-text kind for
    // good, keeping the trace component; other levels leave it alone.
    local.debug(0x20, "plain %d", 1);
    local.debug(0xC8110000, "level %s", "hit");
    local("then");
    ldtr_formater_global global = ldtr_fun(debug_type);
    global(0x3C020500, "g%d", 7);
    global.new_delete(0x3C020600, b, "other");
    global.debug(0x77, "global");
    global.debug(0xC8110000, "global %d", 4);
    // The support library's formatters are these, compiled once more; its
    // global formatter alone writes a record without data.
    cstr_fun(created)(0x14120000);
    EXPECT_EQ(recorded_traces(),
              (records{{ldtr_entry, maxop_id, a, false, ""}, text(ldtr_entry, maxop_id, a, "-42|x|c"),
                       text(ldtr_entry, maxop_id, a, area.substr(1)), text(t, 0x3C0202FF, a, "sub 1"),
                       text(t, id, b, "about b"), text(t, 0x3C020202, b, "again"), text(t, 0x3C020220, a, "plain 1"),
                       text(0xC5070000, id, a, "level hit"), text(0xC5070000, id, a, "then"),
                       text(debug_type, 0x3C020500, nullptr, "g7"), text(debug_type, 0x3C020600, b, "other"),
                       text(debug_type, 0x77, nullptr, "global"), text(0x03070000, 0xC8110000, nullptr, "global 4"),
                       {created, 0x14120000, nullptr, false, ""}}));
    std::vector<std::pair<unsigned long, std::string>> debugs;
    for (const debug_call& d : recorded_debugs()) debugs.emplace_back(d.level, d.text);
    EXPECT_EQ(debugs, (decltype(debugs){{0x20, "plain 1"}, {0xC8110000, "level hit"}, {0x77, "global"}, {0xC8110000, "global 4"}}));
}

// The error-exit kind (kind / 10 + 8) when a bit of twice the mask is set
// and the code is not 0.  The directory's front-end writes its exit records
// through the same core, as the transaction system's records show
// (tran_api_test).
TEST(cstr_exit, records) {
    const struct { unsigned int events, kind, mask; int code; unsigned long type; } rows[] = {
        {0x1000, 33, 4096, 68, exit_type},  {0x2000, 33, 4096, 0, exit_type},
        {0x2000, 33, 4096, 68, 0x020B0000}, {0x3000, 33, 4096, -1, 0x020B0000},
        {0x2, 10, 1, 5, 0x02090000},        {0x1, 10, 1, 5, 0x020A0000}};
    for (const auto& row : rows) {
        host_session session(row.events);
        cstr_exit_errcode(0x14030100, row.kind, row.mask, row.code, a);
        EXPECT_EQ(recorded_traces(), records{coded(row.type, 0x14030100, a, row.code)}) << row.events;
    }
}

void static_function(bool fail) {
    csgl_trc_local_static<copy_id, trace_kind_exit, trace_event_entry> scope;
    if (trcEvents & 0x1000) scope(entry)("%s -> %s", "x", "y");
    if (fail) throw 2;
}

void member_function(const void* object, bool fail) {
    csgl_trc_local<flush_id, trace_kind_exit, trace_event_entry> scope(object);
    if (trcEvents & 0x1000) scope(entry)();
    static_function(fail);
}

// A scope writes its exit record, code 0, on every way out while bit 0x1000
// or 0x2000 is set.
TEST(csgl_trc, scopes_exit_on_every_way_out) {
    for (const unsigned int events : {0u, 0x800u, 0x1000u, 0x2000u, 0x3000u}) {
        for (const bool fail : {false, true}) {
            host_session session(events);
            records expected, exits = {coded(exit_type, copy_id, nullptr, 0), coded(exit_type, flush_id, a, 0)};
            if (events & 0x1000) expected = {{entry, flush_id, a, false, ""}, text(entry, copy_id, nullptr, "x -> y")};
            if (events & 0x3000) expected.insert(expected.end(), exits.begin(), exits.end());
            bool thrown = false;
            try {
                member_function(a, fail);
            } catch (int) {
                thrown = true;
            }
            EXPECT_EQ(thrown, fail);
            EXPECT_EQ(recorded_traces(), expected) << events << (fail ? " throwing" : " returning");
        }
    }
}

// A traced class whose tracking base does not start the object; one that
// writes its own creation record, only destruction coming from the base.
constexpr unsigned long tracked_id = 0x14990000;
struct tracked;
struct leading { long first = 1; };
struct tracking : cstr_class<cstr_type(trace_kind_created), trace_event_objects, tracked_id, tracked> { long second = 2; };
struct tracked : leading, tracking {};
struct self_recorded
    : cstr_class<cstr_type(trace_kind_created), trace_event_objects, tracked_id + 0x100, self_recorded> {
    self_recorded() : cstr_class(0) {}
};

TEST(cstr_class, records_name_the_whole_object) {
    for (const unsigned int events : {0x800u, ~0x800u}) {
        host_session session(events);
        records expected;
        {
            const tracked first, copy(first);
            ASSERT_NE(static_cast<const void*>(static_cast<const tracking*>(&first)), &first);
            const self_recorded quiet;
            expected = {{created, tracked_id, &first, false, ""}, text(created, tracked_id, &copy, "= " + pointer_text(&first)),
                        {destroyed, tracked_id + 0x100, &quiet, false, ""}, {destroyed, tracked_id, &copy, false, ""},
                        {destroyed, tracked_id, &first, false, ""}};
        }
        EXPECT_EQ(recorded_traces(), events == 0x800 ? expected : records{});
    }
}

}  // namespace
