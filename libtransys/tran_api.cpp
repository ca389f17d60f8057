#include "libtransys/tran_api.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <vector>

#include "libraries/libldtr/ldtr.hpp"
#include "libtransys/tran_system.hpp"

namespace {

// The trace scope of interface function number `N`: its id is
// 0x3C020000 + 0x100 * N.
template <unsigned long N>
using trace_scope = ldtr_function_local<0x3C020000 + 0x100 * N, 33, 4096>;

bool entry_traced() { return (trcEvents & ldtr_event_entry) != 0; }

// Pointers go into entry texts in hexadecimal at their full width: as an
// unsigned int with "%x" where pointers have 32 bits, as an unsigned long
// with "%lx" where they have 64.
constexpr bool narrow_pointers = sizeof(void*) == sizeof(unsigned int);
using pointer_number = std::conditional_t<narrow_pointers, unsigned int, unsigned long>;
static_assert(sizeof(pointer_number) == sizeof(void*), "no integer as wide as a pointer");

pointer_number as_number(const void* p) {
    return static_cast<pointer_number>(reinterpret_cast<std::uintptr_t>(p));
}

constexpr const char* conn_text_format = narrow_pointers ? "conn 0x%x" : "conn 0x%lx";
constexpr const char* connection_text_format =
    narrow_pointers ? "connection 0x%x" : "connection 0x%lx";
constexpr const char* list_head_text_format =
    narrow_pointers ? "List head 0x%x" : "List head 0x%lx";
constexpr const char* insert_text_format =
    narrow_pointers ? "head 0x%x, node 0x%x" : "head 0x%lx, node 0x%lx";

// A transaction times out when its age, now minus its stamp in 32-bit
// arithmetic (so a clock that wraps still gives small ages), is greater
// than the limit.  A stamp in the future has a negative age.
bool timed_out(const tran_connection& entry, long now, std::int32_t limit) {
    const std::int32_t age = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                                       static_cast<std::uint32_t>(entry.stamp()));
    return age > limit;
}

// The entries a sweep takes out of the table.  The walk takes each where
// it stands, without searching the tree again, and keeps its node, so that
// a sweep that cannot complete puts every one back without allocating;
// once the sweep is complete, the nodes are released one by one, the
// latest first, as the list runs.  Room to keep a node of every
// transaction is taken before the walk; when it cannot be had, the walk
// leaves the entries in place and the removals search them by connection
// id, which is slower and removes the same entries.
//
// The room is the sweeping thread's own and stays with it from one sweep
// to the next (empty between sweeps), so that a sweep does not allocate,
// and fault in, room for a large table every time: a thread keeps room for
// the largest table it swept, a pointer and a word per transaction.
class taken_entries {
public:
    explicit taken_entries(std::size_t most) : nodes_(room()) {
        try {
            nodes_.reserve(most);
            kept_ = true;
        } catch (const std::bad_alloc&) {
            kept_ = false;
        }
    }

    // Takes the entry at `entry` out of `table` (or, without room, leaves
    // it) and returns the position the walk goes on from.
    tran_system::table::iterator take(tran_system::table& table,
                                      tran_system::table::iterator entry) {
        if (!kept_) return std::next(entry);
        const tran_system::table::iterator next = std::next(entry);
        nodes_.push_back(table.extract(entry));
        return next;
    }

    // Puts every entry taken back into `table`.
    void put_back(tran_system::table& table) {
        for (tran_system::table::node_type& node : nodes_) table.insert(std::move(node));
        nodes_.clear();
    }

    // Removes for good the latest entry taken, that of the connection of
    // `conn`, and returns its connection id.
    int release_latest(tran_system::table& table, _Connection* conn) {
        if (!kept_) {
            const int id = tran_connection(conn).id();
            table.erase(tran_id(id));
            return id;
        }
        const int id = nodes_.back().key().id();
        nodes_.pop_back();
        return id;
    }

private:
    static std::vector<tran_system::table::node_type>& room() {
        thread_local std::vector<tran_system::table::node_type> nodes;
        return nodes;
    }

    std::vector<tran_system::table::node_type>& nodes_;
    bool kept_;
};

}  // namespace

int tran_api_system_init(void) {
    trace_scope<1> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return static_cast<int>(scope.SetErrorCode(transys->init()));
}

int tran_api_create_transaction(_Connection* conn) {
    trace_scope<2> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)(conn_text_format, as_number(conn));
    return static_cast<int>(scope.SetErrorCode(transys->insert_tran(conn)));
}

int tran_api_delete_transaction(int conn_id) {
    trace_scope<3> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("conn id %d", conn_id);
    return static_cast<int>(scope.SetErrorCode(transys->remove_tran(conn_id)));
}

void tran_api_set_maxop(int maxop) {
    trace_scope<4> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("maxop %d", maxop);
    transys->set_maxop(maxop);
}

void tran_api_set_maxnum(int maxnum) {
    trace_scope<5> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("maxnum %d", maxnum);
    transys->set_maxnum(maxnum);
}

void tran_api_set_tlimit(long tlimit) {
    trace_scope<6> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("tlimit %ld", tlimit);
    transys->set_tlimit(tlimit);
}

int tran_api_system_maxop(void) {
    trace_scope<7> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return static_cast<int>(scope.SetErrorCode(transys->maxop()));
}

int tran_api_system_maxnum(void) {
    trace_scope<8> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return static_cast<int>(scope.SetErrorCode(transys->maxnum()));
}

long tran_api_system_tlimit(void) {
    trace_scope<9> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return scope.SetErrorCode(transys->tlimit());
}

// The host takes the mutex in one call and releases it in another, which
// the thread-safety analysis cannot follow.
void tran_api_system_lock(void) TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    trace_scope<10> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    transys->system_lock();
}

void tran_api_system_unlock(void) TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    trace_scope<11> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    transys->system_unlock();
}

void tran_api_set_err(const char* text) {
    trace_scope<12> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("err: %s", text != nullptr ? text : "(null)");
    transys->set_err(csgl_string(text));
}

// Flattened: the list functions it calls, and their trace scopes, expand
// into its walk; they write the same records as when called from outside.
__attribute__((flatten)) tran_api_conn_list* tran_api_timeout_transactions(long now) {
    trace_scope<13> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("current time %ld", now);
    tran_system& system = *transys;
    const std::int32_t limit = static_cast<std::int32_t>(system.tlimit());

    // One hold of the system mutex covers the walk, the list and the
    // removals: a registration or removal of another thread comes wholly
    // before the sweep or wholly after it, so the sweep removes exactly the
    // transactions it found timed out.
    const tran_system::pool_lock hold(system);
    tran_system::table& table = system.pool();
    taken_entries taken(table.size());
    tran_api_conn_list* list = nullptr;
    for (auto entry = table.begin(); entry != table.end();) {
        if (limit == 0 || !timed_out(entry->second, now, limit)) {
            ++entry;
            continue;
        }
        tran_api_conn_list* const node = tran_api_conn_list_new(entry->second.conn());
        if (node == nullptr) {
            if (trcEvents & ldtr_event_debug) {
                scope(ldtr_type_debug).debug(ldtr_debug_level, "tran_api_conn_list_new failed!\n");
            }
            taken.put_back(table);
            tran_api_conn_list_delete(list);
            return nullptr;
        }
        tran_api_conn_list_insert(&list, node);
        entry = taken.take(table, entry);
    }
    // The removals are complete once every node is had; they are traced,
    // in the order of the list (descending connection id), as calls of
    // tran_api_delete_transaction.
    for (const tran_api_conn_list* node = list; node != nullptr; node = node->next) {
        trace_scope<3> removal(nullptr);
        const int id = taken.release_latest(table, node->conn);
        if (entry_traced()) removal(ldtr_type_entry)("conn id %d", id);
        removal.SetErrorCode(0);
    }
    return list;
}

tran_api_conn_list* tran_api_conn_list_new(_Connection* conn) {
    trace_scope<14> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)(connection_text_format, as_number(conn));
    void* const block = std::calloc(1, sizeof(tran_api_conn_list));
    if (block == nullptr) return nullptr;
    tran_api_conn_list* const node = static_cast<tran_api_conn_list*>(block);
    node->conn = conn;
    return node;
}

void tran_api_conn_list_delete(tran_api_conn_list* head) {
    trace_scope<15> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)(list_head_text_format, as_number(head));
    while (head != nullptr) {
        tran_api_conn_list* const next = head->next;
        std::free(head);
        head = next;
    }
}

int tran_api_conn_list_insert(tran_api_conn_list** head, tran_api_conn_list* node) {
    trace_scope<16> scope(nullptr);
    if (entry_traced())
        scope(ldtr_type_entry)(insert_text_format, as_number(head), as_number(node));
    if (head == nullptr || node == nullptr) return static_cast<int>(scope.SetErrorCode(-1));
    if (*head != nullptr) node->next = *head;
    *head = node;
    return static_cast<int>(scope.SetErrorCode(0));
}

const char* tran_api_system_err(void) {
    trace_scope<17> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return transys->err().c_str();
}
