#include "libtransys/tran_api.h"

#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "libraries/libldtr/ldtr.hpp"
#include "libtransys/tran_system.hpp"

namespace {

// The trace scope of the interface function whose id is `ID`, from the
// registry (libutils/trace/trace_ids.h).
template <unsigned long ID>
using trace_scope = ldtr_function_local<ID, trace_kind_exit, trace_event_entry>;

bool entry_traced() { return (trcEvents & ldtr_event_entry) != 0; }

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

// Where the sweep's walk found the timed-out entries, so that their
// removal erases there instead of searching the tree again.  Room for an
// entry of every transaction is taken before the walk; when it cannot be
// had, the removals search by connection id instead, which is slower and
// removes the same entries.
class found_entries {
public:
    explicit found_entries(std::size_t most) {
        try {
            positions_.reserve(most);
            kept_ = true;
        } catch (const std::bad_alloc&) {
            kept_ = false;
        }
    }

    void add(tran_system::table::iterator entry) {
        if (kept_) positions_.push_back(entry);
    }

    // The entry of the latest found that is not taken yet; the list runs in
    // the reverse order of the walk.
    tran_system::table::iterator take_last(tran_system::table& table, _Connection* conn) {
        if (!kept_) return table.find(tran_id(tran_connection(conn).id()));
        const tran_system::table::iterator entry = positions_.back();
        positions_.pop_back();
        return entry;
    }

private:
    std::vector<tran_system::table::iterator> positions_;
    bool kept_;
};

}  // namespace

int tran_api_system_init(void) {
    trace_scope<trace_id_tran_api_system_init> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return static_cast<int>(scope.SetErrorCode(transys->init()));
}

int tran_api_create_transaction(_Connection* conn) {
    trace_scope<trace_id_tran_api_create_transaction> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("conn 0x%" PRIxPTR, as_number(conn));
    return static_cast<int>(scope.SetErrorCode(transys->insert_tran(conn)));
}

int tran_api_delete_transaction(int conn_id) {
    trace_scope<trace_id_tran_api_delete_transaction> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("conn id %d", conn_id);
    return static_cast<int>(scope.SetErrorCode(transys->remove_tran(conn_id)));
}

void tran_api_set_maxop(int maxop) {
    trace_scope<trace_id_tran_api_set_maxop> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("maxop %d", maxop);
    transys->set_maxop(maxop);
}

void tran_api_set_maxnum(int maxnum) {
    trace_scope<trace_id_tran_api_set_maxnum> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("maxnum %d", maxnum);
    transys->set_maxnum(maxnum);
}

void tran_api_set_tlimit(long tlimit) {
    trace_scope<trace_id_tran_api_set_tlimit> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("tlimit %ld", tlimit);
    transys->set_tlimit(tlimit);
}

int tran_api_system_maxop(void) {
    trace_scope<trace_id_tran_api_system_maxop> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return static_cast<int>(scope.SetErrorCode(transys->maxop()));
}

int tran_api_system_maxnum(void) {
    trace_scope<trace_id_tran_api_system_maxnum> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return static_cast<int>(scope.SetErrorCode(transys->maxnum()));
}

long tran_api_system_tlimit(void) {
    trace_scope<trace_id_tran_api_system_tlimit> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return scope.SetErrorCode(transys->tlimit());
}

void tran_api_system_lock(void) {
    trace_scope<trace_id_tran_api_system_lock> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    transys->system_lock();
}

void tran_api_system_unlock(void) {
    trace_scope<trace_id_tran_api_system_unlock> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    transys->system_unlock();
}

void tran_api_set_err(const char* text) {
    trace_scope<trace_id_tran_api_set_err> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("err: %s", text != nullptr ? text : "(null)");
    transys->set_err(csgl_string(text));
}

tran_api_conn_list* tran_api_timeout_transactions(long now) {
    trace_scope<trace_id_tran_api_timeout_transactions> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("current time %ld", now);
    tran_system& system = *transys;
    const std::int32_t limit = static_cast<std::int32_t>(system.tlimit());

    // One hold of the system mutex covers the walk, the list and the
    // removals: a registration or removal of another thread comes wholly
    // before the sweep or wholly after it, so the sweep removes exactly the
    // transactions it found timed out.
    const tran_system::pool_lock hold(system);
    tran_system::table& table = system.pool();
    found_entries found(table.size());
    tran_api_conn_list* list = nullptr;
    for (auto entry = table.begin(); entry != table.end(); ++entry) {
        if (limit == 0 || !timed_out(entry->second, now, limit)) continue;
        tran_api_conn_list* const node = tran_api_conn_list_new(entry->second.conn());
        if (node == nullptr) {
            if (trcEvents & ldtr_event_debug) {
                scope(ldtr_type_debug).debug(ldtr_debug_level, "tran_api_conn_list_new failed!\n");
            }
            tran_api_conn_list_delete(list);
            return nullptr;
        }
        tran_api_conn_list_insert(&list, node);
        found.add(entry);
    }
    // The removals follow the list, in descending connection id, each
    // traced as a call of tran_api_delete_transaction.
    for (const tran_api_conn_list* node = list; node != nullptr; node = node->next) {
        const tran_system::table::iterator entry = found.take_last(table, node->conn);
        trace_scope<trace_id_tran_api_delete_transaction> removal(nullptr);
        if (entry_traced()) removal(ldtr_type_entry)("conn id %d", entry->first.id());
        table.erase(entry);
        removal.SetErrorCode(TRAN_API_SUCCESS);
    }
    return list;
}

tran_api_conn_list* tran_api_conn_list_new(_Connection* conn) {
    trace_scope<trace_id_tran_api_conn_list_new> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("connection 0x%" PRIxPTR, as_number(conn));
    void* const block = std::calloc(1, sizeof(tran_api_conn_list));
    if (block == nullptr) return nullptr;
    tran_api_conn_list* const node = static_cast<tran_api_conn_list*>(block);
    node->conn = conn;
    return node;
}

void tran_api_conn_list_delete(tran_api_conn_list* head) {
    trace_scope<trace_id_tran_api_conn_list_delete> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)("List head 0x%" PRIxPTR, as_number(head));
    while (head != nullptr) {
        tran_api_conn_list* const next = head->next;
        std::free(head);
        head = next;
    }
}

int tran_api_conn_list_insert(tran_api_conn_list** head, tran_api_conn_list* node) {
    trace_scope<trace_id_tran_api_conn_list_insert> scope(nullptr);
    if (entry_traced())
        scope(ldtr_type_entry)("head 0x%" PRIxPTR ", node 0x%" PRIxPTR, as_number(head),
                               as_number(node));
    if (head == nullptr || node == nullptr) return static_cast<int>(scope.SetErrorCode(-1));
    if (*head != nullptr) node->next = *head;
    *head = node;
    return static_cast<int>(scope.SetErrorCode(0));
}

const char* tran_api_system_err(void) {
    trace_scope<trace_id_tran_api_system_err> scope(nullptr);
    if (entry_traced()) scope(ldtr_type_entry)();
    return transys->err().c_str();
}
