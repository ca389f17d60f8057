// Benchmarks of the transaction system, each beside its baseline.
//
// A baseline does the same work on a bare std::map<int, _Connection*> under
// a bare pthread mutex: one ordered map and one process-wide mutex are the
// table's design, so the baseline is the best that design can do, without
// the trace scopes, the checks and the calls into the shared library.
//
// bench_main.cpp runs everything with tracing off (trcEvents 0), the system
// initialised and no transaction limit (tran_api_set_maxnum(0)).

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"

namespace {

char connection_text[] = "bench connection";

// The bare table of the baselines.
std::map<int, _Connection*> bare_table;
pthread_mutex_t bare_mutex = PTHREAD_MUTEX_INITIALIZER;

// Registering and removing one transaction: the server's commonest pair of
// calls.  Thread i uses connection id i + 1, so two threads meet on the
// mutex only, never on an id.
void tran_create_delete(benchmark::State& state) {
    _Connection conn = {state.thread_index() + 1, 0, connection_text};
    for (auto _ : state) {
        benchmark::DoNotOptimize(tran_api_create_transaction(&conn));
        benchmark::DoNotOptimize(tran_api_delete_transaction(conn.conn_id));
    }
}

// Baseline: lock, insert unless present, unlock; lock, find and erase,
// unlock.
void bare_create_delete(benchmark::State& state) {
    _Connection conn = {state.thread_index() + 1, 0, connection_text};
    for (auto _ : state) {
        pthread_mutex_lock(&bare_mutex);
        const bool stored = bare_table.emplace(conn.conn_id, &conn).second;
        pthread_mutex_unlock(&bare_mutex);
        benchmark::DoNotOptimize(stored);
        pthread_mutex_lock(&bare_mutex);
        const auto found = bare_table.find(conn.conn_id);
        if (found != bare_table.end()) bare_table.erase(found);
        pthread_mutex_unlock(&bare_mutex);
    }
}

BENCHMARK(tran_create_delete)->Name("tran/create_delete");
BENCHMARK(bare_create_delete)->Name("bare/create_delete");
BENCHMARK(tran_create_delete)->Name("tran/create_delete")->Threads(2)->UseRealTime();
BENCHMARK(bare_create_delete)->Name("bare/create_delete")->Threads(2)->UseRealTime();

// A reader of the interface: the cost of a traced forward with tracing off.
void tran_system_maxnum(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(tran_api_system_maxnum());
}

// Baseline: an ordinary call of a function that reads the same member.
__attribute__((noinline)) int bare_maxnum() { return transys->maxnum(); }

void bare_system_maxnum(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(bare_maxnum());
}

BENCHMARK(tran_system_maxnum)->Name("tran/system_maxnum");
BENCHMARK(bare_system_maxnum)->Name("bare/system_maxnum");

// The time-out sweep over 100 000 open transactions, of which the given
// percentage timed out.  After each sweep the removed transactions are put
// back in list order and the list is released, untimed and alike for the
// library and the baselines, so every sweep meets the same table and the
// same heap.
constexpr int sweep_size = 100000;
constexpr long sweep_now = 1000000;
constexpr long sweep_limit = 300;

std::vector<_Connection> sweep_connections(benchmark::State& state) {
    const int every = 100 / static_cast<int>(state.range(0));
    std::vector<_Connection> conns(sweep_size);
    for (int i = 0; i < sweep_size; ++i) {
        conns[i] = {i, i % every == 0 ? 0 : sweep_now, connection_text};
    }
    return conns;
}

// Releases a list as tran_api_conn_list_delete does, first node first.
void free_list(tran_api_conn_list* list) {
    while (list != nullptr) {
        tran_api_conn_list* const next = list->next;
        std::free(list);
        list = next;
    }
}

int list_length(const tran_api_conn_list* list) {
    int length = 0;
    for (; list != nullptr; list = list->next) ++length;
    return length;
}

void tran_timeout_sweep(benchmark::State& state) {
    std::vector<_Connection> conns = sweep_connections(state);
    const int expected = sweep_size / 100 * static_cast<int>(state.range(0));
    tran_api_set_tlimit(sweep_limit);
    for (_Connection& conn : conns) tran_api_create_transaction(&conn);
    for (auto _ : state) {
        tran_api_conn_list* const list = tran_api_timeout_transactions(sweep_now);
        state.PauseTiming();
        if (list_length(list) != expected) state.SkipWithError("the sweep removed a wrong count");
        for (const tran_api_conn_list* node = list; node != nullptr; node = node->next) {
            tran_api_create_transaction(node->conn);
        }
        tran_api_conn_list_delete(list);
        state.ResumeTiming();
    }
    for (const _Connection& conn : conns) tran_api_delete_transaction(conn.conn_id);
}

// Baseline: one walk of the bare table under its mutex, which builds the
// same list (calloc'd nodes, each put in front) and erases each timed-out
// entry where it stands.
tran_api_conn_list* bare_sweep(long now, std::int32_t limit) {
    tran_api_conn_list* list = nullptr;
    pthread_mutex_lock(&bare_mutex);
    for (auto entry = bare_table.begin(); entry != bare_table.end();) {
        const std::int32_t age = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(entry->second->txn_stamp));
        if (limit == 0 || age <= limit) {
            ++entry;
            continue;
        }
        auto* const node = static_cast<tran_api_conn_list*>(std::calloc(1, sizeof *list));
        node->conn = entry->second;
        node->next = list;
        list = node;
        entry = bare_table.erase(entry);
    }
    pthread_mutex_unlock(&bare_mutex);
    return list;
}

// For reference, the floor of the library's own order of work, which
// removes nothing when a node of the list cannot be had: the walk takes
// each timed-out entry out where it stands but keeps its node, so that a
// failed allocation could put every one back without allocating; the nodes
// are released once the walk is through.
tran_api_conn_list* bare_sweep_kept(long now, std::int32_t limit) {
    static std::vector<std::map<int, _Connection*>::node_type> kept;
    tran_api_conn_list* list = nullptr;
    pthread_mutex_lock(&bare_mutex);
    kept.reserve(bare_table.size());
    for (auto entry = bare_table.begin(); entry != bare_table.end();) {
        const std::int32_t age = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(entry->second->txn_stamp));
        if (limit == 0 || age <= limit) {
            ++entry;
            continue;
        }
        auto* const node = static_cast<tran_api_conn_list*>(std::calloc(1, sizeof *list));
        node->conn = entry->second;
        node->next = list;
        list = node;
        const auto next = std::next(entry);
        kept.push_back(bare_table.extract(entry));
        entry = next;
    }
    kept.clear();
    pthread_mutex_unlock(&bare_mutex);
    return list;
}

template <tran_api_conn_list* (*Sweep)(long, std::int32_t)>
void bare_timeout_sweep(benchmark::State& state) {
    std::vector<_Connection> conns = sweep_connections(state);
    const int expected = sweep_size / 100 * static_cast<int>(state.range(0));
    for (_Connection& conn : conns) bare_table.emplace(conn.conn_id, &conn);
    for (auto _ : state) {
        tran_api_conn_list* const list = Sweep(sweep_now, sweep_limit);
        state.PauseTiming();
        if (list_length(list) != expected) state.SkipWithError("the sweep removed a wrong count");
        for (const tran_api_conn_list* node = list; node != nullptr; node = node->next) {
            bare_table.emplace(node->conn->conn_id, node->conn);
        }
        free_list(list);
        state.ResumeTiming();
    }
    bare_table.clear();
}

BENCHMARK(tran_timeout_sweep)->Name("tran/timeout_sweep")->Arg(1)->Arg(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(bare_timeout_sweep<bare_sweep>)->Name("bare/timeout_sweep")->Arg(1)->Arg(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(bare_timeout_sweep<bare_sweep_kept>)->Name("bare/timeout_sweep_kept")->Arg(1)
    ->Arg(100)->Unit(benchmark::kMicrosecond);

// The heap that 100 000 open transactions take, per transaction: the
// growth of the bytes malloc has handed out (mallinfo2's uordblks, which
// counts whole chunks, so the allocator's header and rounding are
// included) while they are registered.
void tran_heap_per_transaction(benchmark::State& state) {
    std::vector<_Connection> conns(sweep_size);
    for (int i = 0; i < sweep_size; ++i) conns[i] = {i, 0, connection_text};
    double bytes = 0;
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks;
        for (_Connection& conn : conns) tran_api_create_transaction(&conn);
        const std::size_t after = mallinfo2().uordblks;
        bytes = static_cast<double>(after - before) / sweep_size;
        for (const _Connection& conn : conns) tran_api_delete_transaction(conn.conn_id);
    }
    state.counters["bytes_per_transaction"] = bytes;
}

BENCHMARK(tran_heap_per_transaction)->Name("tran/heap_per_transaction")
    ->Unit(benchmark::kMillisecond);

}  // namespace
