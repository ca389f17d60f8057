// The support library's trace front-end: record writers and formatters,
// exit records, function scopes and object tracking.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "libutils/csgl/csgl_trc.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

constexpr unsigned long created = 0x021E0000, destroyed = 0x021F0000, entry = 0x02200000,
                        exit_type = 0x02210000;

trace_record exit_record(unsigned long type, unsigned long id, const void* object, int code) {
    return {type, id, object, true, std::string(reinterpret_cast<const char*>(&code), sizeof code)};
}

const int objects[2] = {};
const void *const a = &objects[0], *const b = &objects[1];

// What the scopes' and the exceptions' records do not show: sub-ids (the
// low byte of `sub`), records about another object, a record without data
// from a global formatter, and the cut of a long text to 8191 characters.
// The formatters do not look at the event mask; their callers do.
TEST(cstr_formater, sub_ids_other_objects_and_cut) {
    host_session session;
    cstr_formater_local local(0x14030800, entry, a);
    local(0x1FF, "sub %d", 1);
    local.new_delete(b, "about %s", "b");
    local.new_delete(0x102, b, "%ld", 5L);
    cstr_fun(created)(0x14120000);
    local("%s", std::string(8192, 'q').c_str());
    const std::vector<trace_record> expected = {
        {entry, 0x140308FF, a, true, "sub 1"}, {entry, 0x14030800, b, true, "about b"},
        {entry, 0x14030802, b, true, "5"},     {created, 0x14120000, nullptr, false, ""},
        {entry, 0x14030800, a, true, std::string(8191, 'q')}};
    EXPECT_EQ(recorded_traces(), expected);
}

// The error-exit kind (kind / 10 + 8) when a bit of twice the mask is set
// and the code is not 0.
TEST(cstr_exit, records) {
    const struct { unsigned int events, kind, mask; int code; unsigned long type; } rows[] = {
        {0x1000, 33, 4096, 68, exit_type},  {0x2000, 33, 4096, 0, exit_type},
        {0x2000, 33, 4096, 68, 0x020B0000}, {0x3000, 33, 4096, -1, 0x020B0000},
        {0x2, 10, 1, 5, 0x02090000},        {0x1, 10, 1, 5, 0x020A0000}};
    for (const auto& row : rows) {
        host_session session(row.events);
        cstr_exit_errcode(0x14030100, row.kind, row.mask, row.code, a);
        const trace_record expected = exit_record(row.type, 0x14030100, a, row.code);
        EXPECT_EQ(recorded_traces(), std::vector<trace_record>{expected}) << row.events;
    }
}

void static_function(bool fail) {
    csgl_trc_local_static<0x14030300, 33, 4096> scope;
    if (trcEvents & 0x1000) scope(entry)("%s -> %s", "x", "y");
    if (fail) throw 2;
}

void member_function(const void* object, bool fail) {
    csgl_trc_local<0x14030600, 33, 4096> scope(object);
    if (trcEvents & 0x1000) scope(entry)();
    static_function(fail);
}

// A scope writes its exit record, code 0, on every way out while bit 0x1000
// or 0x2000 is set.
TEST(csgl_trc, scopes_exit_on_every_way_out) {
    for (const unsigned int events : {0u, 0x800u, 0x1000u, 0x2000u, 0x3000u}) {
        for (const bool fail : {false, true}) {
            host_session session(events);
            std::vector<trace_record> expected;
            if (events & 0x1000) expected.push_back({entry, 0x14030600, a, false, ""});
            if (events & 0x1000) expected.push_back({entry, 0x14030300, nullptr, true, "x -> y"});
            if (events & 0x3000) expected.push_back(exit_record(exit_type, 0x14030300, nullptr, 0));
            if (events & 0x3000) expected.push_back(exit_record(exit_type, 0x14030600, a, 0));
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
struct tracking : cstr_class<35520512, 2048, tracked_id, tracked> { long second = 2; };
struct tracked : leading, tracking {};
struct self_recorded : cstr_class<35520512, 2048, tracked_id + 0x100, self_recorded> {
    self_recorded() : cstr_class(0) {}
};

TEST(cstr_class, records_name_the_whole_object) {
    for (const unsigned int events : {0x800u, ~0x800u}) {
        host_session session(events);
        auto* first = new tracked;
        ASSERT_NE(static_cast<const void*>(static_cast<tracking*>(first)), first);
        auto* copy = new tracked(*first);
        auto* quiet = new self_recorded;
        char source[40];
        std::snprintf(source, sizeof source, "= %p", static_cast<void*>(first));
        std::vector<trace_record> expected = {
            {created, tracked_id, first, false, ""},      {created, tracked_id, copy, true, source},
            {destroyed, tracked_id, first, false, ""},    {destroyed, tracked_id, copy, false, ""},
            {destroyed, tracked_id + 0x100, quiet, false, ""}};
        delete first;
        delete copy;
        delete quiet;
        if (events != 0x800) expected.clear();
        EXPECT_EQ(recorded_traces(), expected);
    }
}

}  // namespace
