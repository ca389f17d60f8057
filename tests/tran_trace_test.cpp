// The trace points of the transaction interface: ids, entry texts and exit
// records of every function under each combination of the entry bit
// 0x1000 and the error-exit bit 0x2000, and the records of the calls a
// sweep makes, nested inside its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

class started_system : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(tran_api_system_init(), 0); }
};
::testing::Environment* const start = ::testing::AddGlobalTestEnvironment(new started_system);

constexpr unsigned long entry = 0x03200000, exit_type = 0x03210000, error_exit = 0x030B0000;

// A pointer as the entry texts show it: hexadecimal, all its digits.
std::string hex(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
    return text;
}

// One traced call as the trace shows it.
struct traced_call {
    unsigned long id;
    bool has_text;  // entry record with a text, or without data
    std::string text;
    std::int32_t code;
};

// The exit record under `events`: of the error-exit kind when bit 0x2000 is
// set and the code is not 0.
trace_record exit_record(unsigned int events, unsigned long id, std::int32_t code) {
    const unsigned long type = (events & 0x2000) && code != 0 ? error_exit : exit_type;
    return {type, id, nullptr, true, std::string(reinterpret_cast<const char*>(&code), 4)};
}

// The records of one traced call that makes no traced calls itself: the
// entry record with bit 0x1000, the exit record with 0x1000 or 0x2000.
std::vector<trace_record> call_records(unsigned int events, const traced_call& c) {
    std::vector<trace_record> records;
    if (events & 0x1000) records.push_back({entry, c.id, nullptr, c.has_text, c.text});
    if (events & 0x3000) records.push_back(exit_record(events, c.id, c.code));
    return records;
}

const unsigned int masks[] = {0, 0x1000, 0x2000, 0x3000};

char no_text[] = "";
_Connection first{21, 0, no_text};
_Connection second{22, 0, no_text};
tran_api_conn_list* list_head = nullptr;
tran_api_conn_list* node = nullptr;

struct trace_point {
    const char* name;
    std::function<void()> prepare;       // run untraced before the call
    std::function<std::int32_t()> call;  // the traced call; its result
    std::function<void()> tidy;          // run untraced after it
    unsigned long id;
    bool has_text;
    std::function<std::string()> text;  // read after `prepare`
    std::int32_t code;
};

void nothing() {}

// A call of a function without a result, seen as the code 0 it records.
std::function<std::int32_t()> recording_zero(void (*call)()) {
    return [call] {
        call();
        return 0;
    };
}

std::function<std::string()> fixed(const char* text) {
    return [text] { return std::string(text); };
}

void make_node() { node = tran_api_conn_list_new(&first); }
void free_node() { tran_api_conn_list_delete(node); }
void make_node_and_empty_list() {
    make_node();
    list_head = nullptr;
}
void fill_to_a_limit_of_one() {
    tran_api_set_maxnum(1);
    tran_api_create_transaction(&second);
}
void restore_the_limit() {
    tran_api_delete_transaction(22);
    tran_api_set_maxnum(20);
}
std::string conn_text() { return "conn " + hex(&first); }
std::string insert_text() { return "head " + hex(&list_head) + ", node " + hex(node); }

std::vector<trace_point> trace_points() {
    const std::function<std::string()> none = fixed("");
    return {
        {"init", nothing, tran_api_system_init, nothing, 0x3C020100, false, none, 0},
        {"create", nothing, [] { return tran_api_create_transaction(&first); },
         [] { tran_api_delete_transaction(21); }, 0x3C020200, true, conn_text, 0},
        {"create duplicate", [] { tran_api_create_transaction(&first); },
         [] { return tran_api_create_transaction(&first); },
         [] { tran_api_delete_transaction(21); }, 0x3C020200, true, conn_text, 68},
        {"create over the limit", fill_to_a_limit_of_one,
         [] { return tran_api_create_transaction(&first); }, restore_the_limit, 0x3C020200, true,
         conn_text, 4},
        {"delete", nothing, [] { return tran_api_delete_transaction(-7); }, nothing, 0x3C020300,
         true, fixed("conn id -7"), 0},
        {"set_maxop", nothing, recording_zero([] { tran_api_set_maxop(-3); }),
         [] { tran_api_set_maxop(5); }, 0x3C020400, true, fixed("maxop -3"), 0},
        {"set_maxnum", nothing, recording_zero([] { tran_api_set_maxnum(0); }),
         [] { tran_api_set_maxnum(20); }, 0x3C020500, true, fixed("maxnum 0"), 0},
        {"set_tlimit", nothing, recording_zero([] { tran_api_set_tlimit(-300); }),
         [] { tran_api_set_tlimit(300); }, 0x3C020600, true, fixed("tlimit -300"), 0},
        {"system_maxop", nothing, tran_api_system_maxop, nothing, 0x3C020700, false, none, 5},
        {"system_maxnum", nothing, tran_api_system_maxnum, nothing, 0x3C020800, false, none, 20},
        {"system_tlimit", nothing, [] { return std::int32_t(tran_api_system_tlimit()); }, nothing,
         0x3C020900, false, none, 300},
        {"system_lock", nothing, recording_zero(tran_api_system_lock), tran_api_system_unlock,
         0x3C020A00, false, none, 0},
        {"system_unlock", tran_api_system_lock, recording_zero(tran_api_system_unlock), nothing,
         0x3C020B00, false, none, 0},
        {"set_err", nothing, recording_zero([] { tran_api_set_err("boom"); }), nothing, 0x3C020C00,
         true, fixed("err: boom"), 0},
        {"timeout_transactions", nothing,
         [] { return tran_api_timeout_transactions(1234) == nullptr ? 0 : 1; }, nothing, 0x3C020D00,
         true, fixed("current time 1234"), 0},
        {"conn_list_new", nothing, recording_zero(make_node), free_node, 0x3C020E00, true,
         [] { return "connection " + hex(&first); }, 0},
        {"conn_list_delete", make_node, recording_zero(free_node), nothing, 0x3C020F00, true,
         [] { return "List head " + hex(node); }, 0},
        {"conn_list_delete null", nothing,
         recording_zero([] { tran_api_conn_list_delete(nullptr); }), nothing, 0x3C020F00, true,
         fixed("List head 0x0"), 0},
        {"conn_list_insert", make_node_and_empty_list,
         [] { return tran_api_conn_list_insert(&list_head, node); },
         [] { tran_api_conn_list_delete(list_head); }, 0x3C021000, true, insert_text, 0},
        {"conn_list_insert null", [] { node = list_head = nullptr; },
         [] { return tran_api_conn_list_insert(&list_head, nullptr); }, nothing, 0x3C021000, true,
         insert_text, -1},
        {"system_err", [] { tran_api_set_err("kept"); },
         [] { return std::string(tran_api_system_err()) == "kept" ? 0 : 1; }, nothing, 0x3C021100,
         false, none, 0},
    };
}

TEST(trace_points, every_function_under_each_mask) {
    for (const trace_point& point : trace_points()) {
        for (const unsigned int events : masks) {
            host_session session(0);
            point.prepare();
            const std::string text = point.text();
            clear_recorded();
            trcEvents = events;
            const std::int32_t result = point.call();
            trcEvents = 0;
            point.tidy();
            EXPECT_EQ(result, point.code) << point.name;
            // The recorder sees the records of the call only: prepare and
            // tidy run with the mask 0.
            EXPECT_EQ(recorded_traces(),
                      call_records(events, {point.id, point.has_text, text, point.code}))
                << point.name << " under 0x" << std::hex << events;
        }
    }
    EXPECT_TRUE(transys->pool().empty());
}

// The records of a sweep that finds connections 3, 5 and 7 timed out: the
// list calls of the walk in ascending id, the removals in descending id,
// then the sweep's own exit.  `head` is the sweep's list head variable.
std::vector<trace_record> sweep_records(unsigned int events, const std::string& head,
                                        const std::vector<_Connection*>& ascending,
                                        const std::vector<tran_api_conn_list*>& nodes) {
    std::vector<trace_record> records;
    const auto add = [&](const std::vector<trace_record>& more) {
        records.insert(records.end(), more.begin(), more.end());
    };
    if (events & 0x1000) records.push_back({entry, 0x3C020D00, nullptr, true, "current time 1301"});
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        add(call_records(events, {0x3C020E00, true, "connection " + hex(ascending[i]), 0}));
        add(call_records(events,
                         {0x3C021000, true, "head " + head + ", node " + hex(nodes[i]), 0}));
    }
    for (std::size_t i = ascending.size(); i-- > 0;) {
        add(call_records(
            events, {0x3C020300, true, "conn id " + std::to_string(ascending[i]->conn_id), 0}));
    }
    if (events & 0x3000) records.push_back(exit_record(events, 0x3C020D00, 0));
    return records;
}

TEST(trace_points, records_nested_inside_a_sweep) {
    for (const unsigned int events : {0x1000u, 0x2000u, 0x3000u, 0x4000000u, 0x4003000u}) {
        host_session session(0);
        _Connection c3{3, 1000, no_text}, c5{5, 0, no_text}, c7{7, -5, no_text};
        for (_Connection* c : {&c7, &c3, &c5}) ASSERT_EQ(tran_api_create_transaction(c), 0);
        trcEvents = events;
        tran_api_conn_list* const list = tran_api_timeout_transactions(1301);
        trcEvents = 0;

        std::vector<tran_api_conn_list*> descending;
        for (tran_api_conn_list* n = list; n != nullptr; n = n->next) descending.push_back(n);
        ASSERT_EQ(descending.size(), 3u);
        EXPECT_EQ(descending[0]->conn, &c7);
        EXPECT_EQ(descending[1]->conn, &c5);
        EXPECT_EQ(descending[2]->conn, &c3);
        const std::vector<tran_api_conn_list*> nodes = {descending[2], descending[1],
                                                        descending[0]};
        // The head variable lives in the sweep; its address is read from
        // the first insert's entry text and must be the same in all three.
        std::string head = "?";
        for (const trace_record& r : recorded_traces()) {
            if (r.type == entry && r.id == 0x3C021000) {
                head = r.data.substr(5, r.data.find(',') - 5);
                break;
            }
        }
        EXPECT_EQ(recorded_traces(), sweep_records(events, head, {&c3, &c5, &c7}, nodes))
            << std::hex << events;
        EXPECT_TRUE(recorded_debugs().empty());
        tran_api_conn_list_delete(list);
        EXPECT_TRUE(transys->pool().empty());
    }
}

}  // namespace
