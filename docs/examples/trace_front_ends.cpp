// Tracing one's own functions and classes through the two front-ends.  The
// program defines the host's record writer itself, which replaces the
// trace service's stand-in, and keeps what it receives.
#include <cassert>
#include <cstdint>
#include <string>
#include <vector>

#include "libraries/libldtr/ldtr.hpp"
#include "libutils/csgl/csgl_trc.hpp"

struct record {
    unsigned long type, id;
    std::uintptr_t object;
    std::string data;
    bool operator==(const record& other) const {
        return type == other.type && id == other.id && object == other.object &&
               data == other.data;
    }
};
static std::vector<record> records;

extern "C" int trcWriteRec(unsigned long type, unsigned long id, const void* object,
                           unsigned long length, const void* data, unsigned long,
                           unsigned long, unsigned long, unsigned long) {
    const char* bytes = static_cast<const char*>(data);
    records.push_back({type, id, reinterpret_cast<std::uintptr_t>(object),
                       bytes ? std::string(bytes, length) : ""});
    return 0;
}

// The ids of this program's own traced function and class, beside the
// library's (libutils/trace/trace_ids.h).
constexpr unsigned long reserve_id = 0x3C100100;
constexpr unsigned long pool_id = 0x14F00000, pool_drain_id = 0x14F00100;

// A function of the server; its result goes into the exit record.  Every
// scope takes the exit kind and the entry bit of the registry.
static int reserve(int count) {
    ldtr_function_local<reserve_id, trace_kind_exit, trace_event_entry> scope(nullptr);
    if (trcEvents & trace_event_entry) scope(ldtr_type(trace_kind_entry))("count %d", count);
    return static_cast<int>(scope.SetErrorCode(count > 10 ? 4 : 0));
}

// A class whose objects are tracked under its class id, with a traced
// member function.
class pool : public cstr_class<cstr_type(trace_kind_created), trace_event_objects, pool_id, pool> {
public:
    void drain() {
        csgl_trc_local<pool_drain_id, trace_kind_exit, trace_event_entry> scope(this);
        if (trcEvents & trace_event_entry) scope(cstr_type(trace_kind_entry))();
    }
};

static std::string code(std::int32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

int main() {
    trcEvents = 0x3800;  // objects, entries, exits with failing exits marked
    reserve(3);
    reserve(12);
    pool* const p = new pool;
    const auto where = reinterpret_cast<std::uintptr_t>(p);  // what the records name
    p->drain();
    delete p;
    trcEvents = 0;
    reserve(1);  // with the mask 0 nothing is written

    const std::vector<record> expected = {
        {0x03200000, 0x3C100100, 0, "count 3"},
        {0x03210000, 0x3C100100, 0, code(0)},
        {0x03200000, 0x3C100100, 0, "count 12"},
        {0x030B0000, 0x3C100100, 0, code(4)},      // a non-zero result: error exit
        {0x021E0000, 0x14F00000, where, ""},       // created
        {0x02200000, 0x14F00100, where, ""},       // entry of drain
        {0x02210000, 0x14F00100, where, code(0)},  // its exit: never a result
        {0x021F0000, 0x14F00000, where, ""},       // destroyed
    };
    assert(records == expected);
    return 0;
}
