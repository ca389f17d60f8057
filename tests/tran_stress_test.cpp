// Registrations, removals and sweeps on several threads at once.  Each
// worker owns its connection ids and knows which of them it has
// registered; the sweeps may take away only the ones stamped long ago.
// After a bounded number of rounds the table must hold exactly what the
// workers left in it.  (The host simulator's runs add contention for the
// transaction limit.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
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

constexpr int workers = 4;
constexpr int ids_per_worker = 16;
constexpr int rounds = 3000;
constexpr long sweep_time = 1000;
constexpr long time_limit = 10;

// Stamped so that every sweep at `sweep_time` finds them timed out, or none.
constexpr long old_stamp = 0;
constexpr long fresh_stamp = sweep_time;

char no_text[] = "";

// A small deterministic generator per thread.
class random_steps {
public:
    explicit random_steps(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t next(std::uint32_t bound) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_ % bound;
    }

private:
    std::uint32_t state_;
};

struct worker_state {
    std::vector<_Connection> conns;  // even slots old, odd slots fresh
    std::vector<bool> registered;    // as far as the worker knows
    std::vector<std::string> faults;
};

bool is_old(const _Connection& c) { return c.txn_stamp == old_stamp; }

void work(worker_state& state, std::uint32_t seed) {
    random_steps steps(seed);
    for (int round = 0; round < rounds; ++round) {
        const std::size_t i = steps.next(ids_per_worker);
        _Connection& c = state.conns[i];
        if (!state.registered[i]) {
            const int code = tran_api_create_transaction(&c);
            if (code != 0) state.faults.push_back("start refused: " + std::to_string(code));
            state.registered[i] = true;
        } else if (steps.next(4) == 0) {
            // A second start: refused while registered; an old one may have
            // been swept away meanwhile, and then it is registered anew.
            const int code = tran_api_create_transaction(&c);
            if (code != 68 && !(code == 0 && is_old(c))) {
                state.faults.push_back("second start: " + std::to_string(code));
            }
        } else {
            const int code = tran_api_delete_transaction(c.conn_id);
            if (code != 0) state.faults.push_back("end refused: " + std::to_string(code));
            state.registered[i] = false;
        }
    }
}

TEST(stress, workers_and_a_sweeper) {
    host_session session;
    tran_api_set_maxnum(0);
    tran_api_set_tlimit(time_limit);
    std::vector<worker_state> states(workers);
    for (int w = 0; w < workers; ++w) {
        for (int k = 0; k < ids_per_worker; ++k) {
            const long stamp = k % 2 == 0 ? old_stamp : fresh_stamp;
            states[w].conns.push_back(_Connection{w * 100 + k, stamp, no_text});
        }
        states[w].registered.assign(ids_per_worker, false);
    }

    std::atomic<int> running(workers);
    std::vector<std::string> sweep_faults;
    long swept = 0;
    std::thread sweeper([&] {
        while (running.load() > 0) {
            tran_api_conn_list* const list = tran_api_timeout_transactions(sweep_time);
            int previous = INT32_MAX;
            for (const tran_api_conn_list* n = list; n != nullptr; n = n->next) {
                if (!is_old(*n->conn)) sweep_faults.push_back("swept a fresh transaction");
                if (n->conn->conn_id >= previous) sweep_faults.push_back("list not descending");
                previous = n->conn->conn_id;
                ++swept;
            }
            tran_api_conn_list_delete(list);
        }
    });
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            work(states[w], static_cast<std::uint32_t>(w + 1));
            running.fetch_sub(1);
        });
    }
    for (std::thread& t : threads) t.join();
    sweeper.join();

    EXPECT_EQ(sweep_faults, std::vector<std::string>{});
    for (const worker_state& state : states) EXPECT_EQ(state.faults, std::vector<std::string>{});

    // A last sweep takes the old ones that are left; what remains is exactly
    // the fresh transactions the workers left registered, each with its
    // worker's record.
    tran_api_conn_list* const rest = tran_api_timeout_transactions(sweep_time);
    for (const tran_api_conn_list* n = rest; n != nullptr; n = n->next) {
        EXPECT_TRUE(is_old(*n->conn));
    }
    tran_api_conn_list_delete(rest);
    std::set<const _Connection*> expected;
    for (const worker_state& state : states) {
        for (int k = 1; k < ids_per_worker; k += 2) {
            if (state.registered[k]) expected.insert(&state.conns[k]);
        }
    }
    std::set<const _Connection*> held;
    for (const auto& entry : transys->pool()) {
        EXPECT_EQ(entry.first.id(), entry.second.conn()->conn_id);
        held.insert(entry.second.conn());
    }
    EXPECT_EQ(held, expected);
    for (const _Connection* c : expected) tran_api_delete_transaction(c->conn_id);
    EXPECT_TRUE(transys->pool().empty());
    tran_api_set_maxnum(20);
    tran_api_set_tlimit(300);
}

}  // namespace
