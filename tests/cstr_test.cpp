// The support library's trace front-end: record writers, formatters, exit
// records, function scopes and object tracking.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "libutils/csgl/csgl_trc.hpp"
#include "libutils/cstr/cstr.hpp"
#include "libutils/cstr/trace_text.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

constexpr unsigned long created = 0x021E0000, destroyed = 0x021F0000, entry = 0x02200000,
                        exit_type = 0x02210000, error_exit = 0x020B0000;

std::string pointer_text(const void* p) {
    char text[40];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

// An object's address as %p prints it, taken while the object exists.
struct object_text {
    object_text(const void* p) : text(pointer_text(p)) {}
    std::string text;
};

std::string code_bytes(std::int32_t code) {
    return std::string(reinterpret_cast<const char*>(&code), sizeof code);
}

// One record as a line: type, id, object and "-" or "[data]".
std::string line(unsigned long type, unsigned long id, const object_text& object,
                 const std::string* data) {
    char head[64];
    std::snprintf(head, sizeof head, "%08lx %08lx ", type, id);
    return head + object.text + (data ? " [" + *data + "]" : " -");
}
std::string line(unsigned long type, unsigned long id, const object_text& object) {
    return line(type, id, object, nullptr);
}
std::string line(unsigned long type, unsigned long id, const object_text& object,
                 const std::string& data) {
    return line(type, id, object, &data);
}

std::vector<std::string> lines() {
    std::vector<std::string> out;
    for (const trace_record& r : recorded_traces()) {
        out.push_back(line(r.type, r.id, r.object, r.has_data ? &r.data : nullptr));
    }
    return out;
}

void write_text(unsigned long type, unsigned long id, const void* object, const char* format, ...) {
    va_list args;
    va_start(args, format);
    cstr_write(type, id, object, format, trace_va_pointer(args));
    va_end(args);
}

const int objects[4] = {};
const void* const a = &objects[1];
const void* const b = &objects[2];

TEST(cstr_write, three_forms) {
    host_session session(0);  // the writers themselves do not look at the mask
    write_text(entry, 0x14030800, a, "%ld|%s|%c", 42L, "text", 'c');
    cstr_write(destroyed, 0x14120000, a);
    cstr_write(created, 0x141B0000, a, b);
    cstr_write(created, 0x141B0000, b, nullptr);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           line(entry, 0x14030800, a, "42|text|c"), line(destroyed, 0x14120000, a),
                           line(created, 0x141B0000, a, "= " + pointer_text(b)),
                           line(created, 0x141B0000, b, "= " + pointer_text(nullptr))}));
}

TEST(cstr_write, long_texts_are_cut) {
    for (const std::size_t length : {8190u, 8191u, 8192u, 20000u}) {
        host_session session(0);
        const std::string text(length, 'q');
        write_text(entry, 1, a, "%s", text.c_str());
        const std::vector<trace_record> records = recorded_traces();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].data, text.substr(0, 8191)) << length;
    }
}

TEST(cstr_formater, local_and_global) {
    host_session session(0);
    cstr_formater_local local(0x14030800, entry, a);
    local();
    local("%d-%s", 5, "x");
    local(0x1FF, "sub %d", 1);
    local(0x1202, "sub %d", 2);
    local.new_delete(b, "about %s", "b");
    local.new_delete(0x1FF, b, "about %s", "b again");
    cstr_formater_global global(created);
    global(0x14120000);
    global(0x14120100, "g%d", 7);
    global.new_delete(0x14140000, b, "%p", a);
    cstr_fun(0x02220000)(0x14030C00, "%ld", 512L);
    cstr_fun(0x02070000)(0x14080400);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           line(entry, 0x14030800, a),
                           line(entry, 0x14030800, a, "5-x"),
                           line(entry, 0x140308FF, a, "sub 1"),
                           line(entry, 0x14030802, a, "sub 2"),
                           line(entry, 0x14030800, b, "about b"),
                           line(entry, 0x140308FF, b, "about b again"),
                           line(created, 0x14120000, nullptr),
                           line(created, 0x14120100, nullptr, "g7"),
                           line(created, 0x14140000, b, pointer_text(a)),
                           line(0x02220000, 0x14030C00, nullptr, "512"),
                           line(0x02070000, 0x14080400, nullptr),
                       }));
}

TEST(cstr_exit, records) {
    const struct { unsigned int events; unsigned long kind, mask; long code; unsigned long type; } rows[] = {
        {0, 33, 4096, 0, exit_type},           {0, 33, 4096, 68, exit_type},
        {0x1000, 33, 4096, 68, exit_type},     {0x1000, 33, 4096, 0, exit_type},
        {0x2000, 33, 4096, 0, exit_type},      {0x2000, 33, 4096, 68, error_exit},
        {0x3000, 33, 4096, -1, error_exit},    {0x3000, 33, 4096, 0, exit_type},
        {0x2, 10, 1, 5, 0x02090000},           {0x1, 10, 1, 5, 0x020A0000},
    };
    for (const auto& row : rows) {
        host_session session(row.events);
        cstr_exit_errcode(0x14030100, row.kind, row.mask, row.code, a);
        EXPECT_EQ(lines(), std::vector<std::string>{line(row.type, 0x14030100, a,
                                                         code_bytes(static_cast<std::int32_t>(row.code)))})
            << std::hex << row.events << " " << std::dec << row.code;
    }
    host_session session(0x2000);
    csgl_trc_exit(0x14030100, 33, 4096, a);
    csgl_trc_exit(0x14030900, 33, 4096);
    EXPECT_EQ(lines(), (std::vector<std::string>{line(exit_type, 0x14030100, a, code_bytes(0)),
                                                  line(exit_type, 0x14030900, nullptr, code_bytes(0))}));
}

void member_function(const void* object, bool fail) {
    csgl_trc_local<0x14030600, 33, 4096> scope(object);
    if (trcEvents & 0x1000) scope(entry)();
    if (fail) throw 1;
}

void static_function(bool fail) {
    csgl_trc_local_static<0x14030300, 33, 4096> scope;
    if (trcEvents & 0x1000) scope(entry)("%s -> %s (force)", "x", "y");
    if (fail) throw 2;
}

TEST(csgl_trc, scopes_exit_on_every_way_out) {
    for (const unsigned int events : {0u, 0x800u, 0x1000u, 0x2000u, 0x3000u}) {
        for (const bool fail : {false, true}) {
            SCOPED_TRACE(std::to_string(events) + (fail ? " throwing" : " returning"));
            host_session session(events);
            std::vector<std::string> expected;
            if (events & 0x1000) expected.push_back(line(entry, 0x14030600, a));
            if (events & 0x3000) expected.push_back(line(exit_type, 0x14030600, a, code_bytes(0)));
            if (events & 0x1000) expected.push_back(line(entry, 0x14030300, nullptr, "x -> y (force)"));
            if (events & 0x3000) expected.push_back(line(exit_type, 0x14030300, nullptr, code_bytes(0)));
            bool thrown = false;
            try {
                member_function(a, fail);
            } catch (int) {
                thrown = true;
            }
            try {
                static_function(fail);
            } catch (int) {
                EXPECT_TRUE(thrown);
            }
            EXPECT_EQ(thrown, fail);
            EXPECT_EQ(lines(), expected);
        }
    }
}

// A traced class whose tracking base does not start the object.
constexpr unsigned long tracked_id = 0x14990000;
struct tracked;
struct polymorphic {
    virtual ~polymorphic() = default;
    long first = 1;
};
struct tracking : cstr_class<35520512, 2048, tracked_id, tracked> {
    long second = 2;
};
struct tracked : polymorphic, tracking {
    long third = 3;
};
// Writes its own creation record; only destruction comes from the base.
struct self_recorded : cstr_class<35520512, 2048, tracked_id + 0x100, self_recorded> {
    self_recorded() : cstr_class(0) {}
};

TEST(cstr_class, records_name_the_whole_object) {
    {
        host_session session(0x800);
        auto* first = new tracked;
        const void* base = static_cast<cstr_class<35520512, 2048, tracked_id, tracked>*>(first);
        ASSERT_NE(base, static_cast<const void*>(first));
        auto* copy = new tracked(*first);
        polymorphic* as_base = copy;
        const object_text first_address(first), copy_address(copy);
        delete first;
        delete as_base;
        object_text quiet_address(nullptr);
        {
            self_recorded quiet;
            quiet_address = &quiet;
        }
        EXPECT_EQ(lines(), (std::vector<std::string>{
                               line(created, tracked_id, first_address),
                               line(created, tracked_id, copy_address, "= " + first_address.text),
                               line(destroyed, tracked_id, first_address),
                               line(destroyed, tracked_id, copy_address),
                               line(destroyed, tracked_id + 0x100, quiet_address)}));
    }
    host_session session(0);
    {
        tracked one;
        tracked two(one);
        self_recorded quiet;
    }
    EXPECT_TRUE(recorded_traces().empty());
}

}  // namespace
