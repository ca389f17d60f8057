// Registrations, removals and sweeps on several threads at once.  Each
// worker owns its connection ids and knows which of them it has registered;
// a sweeper thread may take away only the ones stamped long ago.  After a
// bounded number of rounds the table holds exactly the fresh transactions
// the workers left registered.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <utility>
#include <thread>
#include <vector>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"

namespace {

constexpr int workers = 4, ids = 16, rounds = 3000;
constexpr long now = 1000;  // every sweep's time; the time limit is 10

TEST(stress, workers_and_a_sweeper) {
    ASSERT_EQ(tran_api_system_init(), 0);
    tran_api_set_maxnum(0);
    tran_api_set_tlimit(10);
    // Even slots are stamped 0 and time out at every sweep, odd ones never.
    _Connection conns[workers * ids];
    bool registered[workers * ids] = {};
    for (int id = 0; id < workers * ids; ++id) conns[id] = {id, id % 2 ? now : 0, nullptr};
    std::atomic<int> running(workers);
    std::thread sweeper([&] {
        while (running.load() > 0) {
            tran_api_conn_list* const list = tran_api_timeout_transactions(now);
            for (const tran_api_conn_list* n = list; n != nullptr; n = n->next)
                EXPECT_EQ(n->conn->txn_stamp, 0) << n->conn->conn_id;
            tran_api_conn_list_delete(list);
        }
    });
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            std::minstd_rand next(w + 1);
            for (int round = 0; round < rounds; ++round) {
                const unsigned k = w * ids + next() % ids;
                _Connection& c = conns[k];
                bool& mine = registered[k];
                if (mine && next() % 4 == 0) {
                    // Refused while registered; an old one may have been
                    // swept away meanwhile and is then registered anew.
                    const int code = tran_api_create_transaction(&c);
                    EXPECT_TRUE(code == 68 || (code == 0 && c.txn_stamp == 0)) << code;
                } else {
                    EXPECT_EQ(mine ? tran_api_delete_transaction(c.conn_id)
                                   : tran_api_create_transaction(&c), 0);
                    mine = !mine;
                }
            }
            running.fetch_sub(1);
        });
    }
    for (std::thread& t : threads) t.join();
    sweeper.join();
    // A last sweep takes the old ones left; the fresh ones registered stay.
    tran_api_conn_list_delete(tran_api_timeout_transactions(now));
    std::set<std::pair<int, const _Connection*>> expected, held;
    for (int id = 1; id < workers * ids; id += 2)
        if (registered[id]) expected.emplace(id, &conns[id]);
    for (const auto& e : transys->pool()) held.emplace(e.first.id(), e.second.conn());
    EXPECT_EQ(held, expected);
    for (const auto& e : expected) tran_api_delete_transaction(e.first);
}

}  // namespace
