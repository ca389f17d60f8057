// Registrations, removals and sweeps on several threads at once.  Workers
// start, end and restart transactions on their own connections, some
// stamped long ago (a sweep may take them), some fresh (it never may); a
// sweeper sweeps with a small time limit and, after every sweep, checks the
// table against what the workers believe: a fresh transaction a worker
// started is registered, whatever sweeps ran meanwhile, and a connection a
// worker ended is not.  A sweep that removed a connection's newer
// transaction, because the connection's transaction ended and started
// again while the sweep ran, fails that check.
//
// The program is its own trace host: before the first removal of each
// sweep it holds the sweeper for a moment, so that a sweep that let other
// threads in between its walk and its removals would be overtaken there.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "host/trc.h"
#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"

namespace {

constexpr int workers = 4, per_worker = 16, sweeps = 100;
// Every sweep's time and the time limit; an old stamp times out at every
// sweep, a fresh one never.
constexpr long now = 1000, limit = 10, old_stamp = 0, fresh_stamp = now;

// Set by the sweeper before each sweep; the first removal record clears it.
thread_local bool hold_before_removal = false;

}  // namespace

extern "C" {

// Defining the event mask here, next to the stand-in's, is the point;
// AddressSanitizer would report the pair as a one-definition violation.
const char* __asan_default_options() { return "detect_odr_violation=0"; }

unsigned int trcEvents = 0x1000;  // entry records only

int trcWriteRec(unsigned long type, unsigned long id, const void*, unsigned long, const void*,
                unsigned long, unsigned long, unsigned long, unsigned long) {
    // The entry record of tran_api_delete_transaction.
    if (type == 0x03200000 && id == 0x3C020300 && hold_before_removal)
        hold_before_removal = false, std::this_thread::sleep_for(std::chrono::microseconds(200));
    return 0;
}

}  // extern "C"

namespace {

// One connection as its worker sees it: whether its transaction is open
// (its stamp tells whether a sweep may take it).
struct slot { _Connection record{}; bool open = false; };

TEST(stress, sweeps_never_take_a_restarted_transaction) {
    ASSERT_EQ(tran_api_system_init(), TRAN_API_SUCCESS);
    tran_api_set_maxnum(0);
    tran_api_set_tlimit(limit);
    std::vector<slot> slots(workers * per_worker);
    for (int id = 0; id < workers * per_worker; ++id) slots[id].record = {id, old_stamp, nullptr};
    // A worker changes its records, their entries and its beliefs only while
    // holding its own guard; the check holds every guard and the system
    // mutex, under which alone the table changes, so it sees the beliefs
    // and the table at one moment.  The sweeps take no guard: they run
    // while the workers end and restart transactions.
    std::mutex guards[workers];
    const auto check_table = [&](int sweep) {
        std::unique_lock<std::mutex> hold[workers];
        for (int w = 0; w < workers; ++w) hold[w] = std::unique_lock<std::mutex>(guards[w]);
        const tran_system::pool_lock table(*transys);
        std::set<int> held;
        for (const auto& entry : transys->pool()) held.insert(entry.first.id());
        // A transaction believed old may have been swept.
        for (const slot& s : slots) {
            const bool registered = held.count(s.record.conn_id) != 0;
            ASSERT_TRUE(!s.open || s.record.txn_stamp != fresh_stamp || registered)
                << "sweep " << sweep << " took the fresh transaction of " << s.record.conn_id;
            ASSERT_TRUE(s.open || !registered) << "ended transaction of " << s.record.conn_id << " held";
        }
    };

    // The sweeper starts once every worker runs, and the workers run for as
    // long as the sweeper sweeps.
    std::atomic<int> started(0), swept(0);
    std::atomic<bool> sweeping(true);
    std::thread sweeper([&] {
        while (started.load() < workers) std::this_thread::yield();
        for (int sweep = 0; sweep < sweeps && !testing::Test::HasFailure(); ++sweep) {
            hold_before_removal = true;
            tran_api_conn_list* const list = tran_api_timeout_transactions(now);
            swept.fetch_add(list != nullptr);
            tran_api_conn_list_delete(list);
            check_table(sweep);
        }
        sweeping.store(false);
    });
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            std::minstd_rand next(w + 1);
            started.fetch_add(1);
            while (sweeping.load() && !testing::Test::HasFailure()) {
                slot& s = slots[w * per_worker + next() % per_worker];
                const std::lock_guard<std::mutex> hold(guards[w]);
                // An old transaction may be gone already; ending is not an
                // error then either.  Most ended transactions start again
                // at once, as a client's next one does.
                if (s.open) {
                    ASSERT_EQ(tran_api_delete_transaction(s.record.conn_id), TRAN_API_SUCCESS);
                    s.open = false;
                    if (next() % 4 == 0) continue;
                }
                s.record.txn_stamp = next() % 2 == 0 ? fresh_stamp : old_stamp;
                ASSERT_EQ(tran_api_create_transaction(&s.record), TRAN_API_SUCCESS);
                s.open = true;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    sweeper.join();
    check_table(-1);
    EXPECT_GT(swept.load(), 0);  // sweeps had old transactions to take
    for (slot& s : slots) tran_api_delete_transaction(s.record.conn_id);
}

}  // namespace
