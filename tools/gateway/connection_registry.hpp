// The gateway's side of the library's transaction table: which connection
// records exist, which I/O thread owns each, and the rule that keeps the
// records alive while the library or the sweeper may read them.
#ifndef TOOLS_GATEWAY_CONNECTION_REGISTRY_HPP
#define TOOLS_GATEWAY_CONNECTION_REGISTRY_HPP

#include "libtransys/tran_api.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace gateway {

class io_thread;

// The record the library keeps a pointer to while the connection's
// transaction is registered.  Owned by the connection's relay; freed only
// after connection_registry::remove.  `connection` is written by the owning
// I/O thread alone (its stamp only while no transaction is registered);
// `transaction_serial` counts the transactions registered on it, so that a
// time-out reported for one of them is not taken for a later one.
struct connection_record {
    connection_record(int conn_id, std::string text);
    connection_record(const connection_record&) = delete;
    connection_record& operator=(const connection_record&) = delete;

    std::string text;
    _Connection connection;
    std::atomic<std::uint64_t> transaction_serial{ 0 };
};

// The lifetime rule: one mutex is held around the library's sweep and the
// reading of the list it returns, and around the removal of a registration
// with the forgetting of its record.  A record is freed only after it is
// forgotten, so every pointer the sweep hands back is alive while it is
// read.  Registering a transaction needs no such lock: the record exists
// then.  Thread-safe.
//
// It also mirrors the library's table: the connections whose registration
// the library accepted and has not removed since (by a removal or a
// sweep), counted for the gateway's statistics.
class connection_registry {
public:
    struct statistics {
        std::size_t connections;   // records added and not yet removed
        std::size_t transactions;  // registrations in the library's table
    };

    // Called for each timed-out connection, with the registry locked: it must
    // only post work to `owner`.
    using timeout_handler =
        std::function<void(io_thread& owner, int conn_id, std::uint64_t serial)>;

    void add(connection_record& record, io_thread& owner);
    // Registers a transaction for the record: the library's result, and
    // for a refusal its last-error text without the final newline.
    int register_transaction(connection_record& record, std::string* refusal);
    // Removes the connection's registration, when it has one.
    void end_transaction(int conn_id);
    // Removes the connection's registration in the library (when it may
    // have one) and forgets the record; the caller may free it afterwards.
    void remove(const connection_record& record, bool may_be_registered);
    // Sweeps the library's table at `now` and reports each connection whose
    // transaction timed out.
    void sweep(long now, const timeout_handler& on_timed_out);
    statistics count() const;

private:
    // With library_mutex_ held.
    void end_transaction_locked(int conn_id);

    struct entry {
        connection_record* record;
        io_thread* owner;
    };
    mutable std::mutex mutex_;
    std::unordered_map<int, entry> entries_;
    // Every call that changes the library's table holds this, together
    // with the change of `registered_`, so that the mirror never differs
    // from the table between two calls; so does every call that may
    // replace the library's last-error text (which belongs to whichever
    // thread failed last), with the reading of it.  Taken after mutex_
    // when both are.
    mutable std::mutex library_mutex_;
    std::unordered_set<int> registered_;
};

}  // namespace gateway

#endif
