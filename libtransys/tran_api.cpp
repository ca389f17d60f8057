#include "libtransys/tran_api.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "libraries/libldtr/ldtr.hpp"
#include "libtransys/tran_system.hpp"
#include "libutils/trace/trace_text.hpp"

namespace {

// The trace scope of the interface function whose id is `ID`, from the
// registry (libutils/trace/trace_ids.h).
template <unsigned long ID>
using trace_scope = ldtr_function_local<ID, trace_kind_exit, trace_event_entry>;

bool entry_traced() { return (trcEvents & trace_event_entry) != 0; }

// The entry record of the interface function whose scope is given,
// without and with its text.  Written out of line, so that a function
// traced while tracing is off holds no formatter and pays the test of the
// mask only.
template <unsigned long ID>
[[gnu::noinline, gnu::cold]] void write_entry(const trace_scope<ID>&) {
    ldtr_write(ldtr_type(trace_kind_entry), ID, nullptr);
}

template <unsigned long ID>
[[gnu::noinline, gnu::cold]] __attribute__((format(printf, 2, 3))) void write_entry(
    const trace_scope<ID>&, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ldtr_write(ldtr_type(trace_kind_entry), ID, nullptr, format, trace_va_pointer(args));
    va_end(args);
}

// Pointers go into entry texts as "0x%" PRIxPTR of their value: every
// digit of a 32-bit pointer on i386 and of a 64-bit one on x86_64, no
// leading zeros, as "%x" and "%lx" print them there.
std::uintptr_t as_number(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

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
// The room stays from one sweep to the next (empty between sweeps), so
// that a sweep does not allocate, and fault in, room for a large table
// every time: the library keeps room for the largest table it swept, a
// node handle per transaction.  Sweeps of one table are serialised by its
// system mutex already; the room's own lock serialises sweeps of different
// tables (a host may point transys at another), taken while the table's
// mutex is held.
class taken_entries {
public:
    explicit taken_entries(std::size_t most) : hold_(room_lock) {
        try {
            room.reserve(most);
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
        room.push_back(table.extract(entry));
        return next;
    }

    // Puts every entry taken back into `table`.
    void put_back(tran_system::table& table) {
        for (tran_system::table::node_type& node : room) table.insert(std::move(node));
        room.clear();
    }

    // Removes for good the latest entry taken, that of the connection of
    // `conn`, and returns its connection id.
    int release_latest(tran_system::table& table, _Connection* conn) {
        if (!kept_) {
            const int id = tran_connection(conn).id();
            table.erase(tran_id(id));
            return id;
        }
        const int id = room.back().key().id();
        room.pop_back();
        return id;
    }

private:
    static std::mutex room_lock;
    static std::vector<tran_system::table::node_type> room;

    const std::lock_guard<std::mutex> hold_;
    bool kept_;
};

std::mutex taken_entries::room_lock;
std::vector<tran_system::table::node_type> taken_entries::room;

}  // namespace

int tran_api_system_init(void) {
    trace_scope<trace_id_tran_api_system_init> scope(nullptr);
    if (entry_traced()) write_entry(scope);
    return static_cast<int>(scope.SetErrorCode(transys->init()));
}

int tran_api_create_transaction(_Connection* conn) {
    trace_scope<trace_id_tran_api_create_transaction> scope(nullptr);
    if (entry_traced()) write_entry(scope, "conn 0x%" PRIxPTR, as_number(conn));
    return static_cast<int>(scope.SetErrorCode(transys->insert_tran(conn)));
}

int tran_api_delete_transaction(int conn_id) {
    trace_scope<trace_id_tran_api_delete_transaction> scope(nullptr);
    if (entry_traced()) write_entry(scope, "conn id %d", conn_id);
    return static_cast<int>(scope.SetErrorCode(transys->remove_tran(conn_id)));
}

void tran_api_set_maxop(int maxop) {
    trace_scope<trace_id_tran_api_set_maxop> scope(nullptr);
    if (entry_traced()) write_entry(scope, "maxop %d", maxop);
    transys->set_maxop(maxop);
}

void tran_api_set_maxnum(int maxnum) {
    trace_scope<trace_id_tran_api_set_maxnum> scope(nullptr);
    if (entry_traced()) write_entry(scope, "maxnum %d", maxnum);
    transys->set_maxnum(maxnum);
}

void tran_api_set_tlimit(long tlimit) {
    trace_scope<trace_id_tran_api_set_tlimit> scope(nullptr);
    if (entry_traced()) write_entry(scope, "tlimit %ld", tlimit);
    transys->set_tlimit(tlimit);
}

int tran_api_system_maxop(void) {
    trace_scope<trace_id_tran_api_system_maxop> scope(nullptr);
    if (entry_traced()) write_entry(scope);
    return static_cast<int>(scope.SetErrorCode(transys->maxop()));
}

int tran_api_system_maxnum(void) {
    trace_scope<trace_id_tran_api_system_maxnum> scope(nullptr);
    if (entry_traced()) write_entry(scope);
    return static_cast<int>(scope.SetErrorCode(transys->maxnum()));
}

long tran_api_system_tlimit(void) {
    trace_scope<trace_id_tran_api_system_tlimit> scope(nullptr);
    if (entry_traced()) write_entry(scope);
    return scope.SetErrorCode(transys->tlimit());
}

// The host takes the mutex in one call and releases it in another, which
// the thread-safety analysis cannot follow.
void tran_api_system_lock(void) TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    trace_scope<trace_id_tran_api_system_lock> scope(nullptr);
    if (entry_traced()) write_entry(scope);
    transys->system_lock();
}

void tran_api_system_unlock(void) TRANSYS_NO_THREAD_SAFETY_ANALYSIS {
    trace_scope<trace_id_tran_api_system_unlock> scope(nullptr);
    if (entry_traced()) write_entry(scope);
    transys->system_unlock();
}

void tran_api_set_err(const char* text) {
    trace_scope<trace_id_tran_api_set_err> scope(nullptr);
    if (entry_traced()) write_entry(scope, "err: %s", text != nullptr ? text : "(null)");
    transys->set_err(csgl_string(text));
}

// Flattened: the list functions it calls, and their trace scopes, expand
// into its walk; they write the same records as when called from outside.
__attribute__((flatten)) tran_api_conn_list* tran_api_timeout_transactions(long now) {
    trace_scope<trace_id_tran_api_timeout_transactions> scope(nullptr);
    if (entry_traced()) write_entry(scope, "current time %ld", now);
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
            if (trcEvents & trace_event_debug) {
                scope(ldtr_type(trace_kind_debug))
                    .debug(trace_debug_text_level, "tran_api_conn_list_new failed!\n");
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
        trace_scope<trace_id_tran_api_delete_transaction> removal(nullptr);
        const int id = taken.release_latest(table, node->conn);
        if (entry_traced()) write_entry(removal, "conn id %d", id);
        removal.SetErrorCode(TRAN_API_SUCCESS);
    }
    return list;
}

tran_api_conn_list* tran_api_conn_list_new(_Connection* conn) {
    trace_scope<trace_id_tran_api_conn_list_new> scope(nullptr);
    if (entry_traced()) write_entry(scope, "connection 0x%" PRIxPTR, as_number(conn));
    void* const block = std::calloc(1, sizeof(tran_api_conn_list));
    if (block == nullptr) return nullptr;
    tran_api_conn_list* const node = static_cast<tran_api_conn_list*>(block);
    node->conn = conn;
    return node;
}

void tran_api_conn_list_delete(tran_api_conn_list* head) {
    trace_scope<trace_id_tran_api_conn_list_delete> scope(nullptr);
    if (entry_traced()) write_entry(scope, "List head 0x%" PRIxPTR, as_number(head));
    while (head != nullptr) {
        tran_api_conn_list* const next = head->next;
        std::free(head);
        head = next;
    }
}

int tran_api_conn_list_insert(tran_api_conn_list** head, tran_api_conn_list* node) {
    trace_scope<trace_id_tran_api_conn_list_insert> scope(nullptr);
    if (entry_traced())
        write_entry(scope, "head 0x%" PRIxPTR ", node 0x%" PRIxPTR, as_number(head),
                    as_number(node));
    if (head == nullptr || node == nullptr) return static_cast<int>(scope.SetErrorCode(-1));
    if (*head != nullptr) node->next = *head;
    *head = node;
    return static_cast<int>(scope.SetErrorCode(0));
}

const char* tran_api_system_err(void) {
    trace_scope<trace_id_tran_api_system_err> scope(nullptr);
    if (entry_traced()) write_entry(scope);
    return transys->err().c_str();
}
