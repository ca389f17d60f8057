// The relay of one client connection: the client's socket, the socket of
// its own connection to the directory, and the transaction state the
// gateway keeps for it.
#ifndef TOOLS_GATEWAY_RELAY_HPP
#define TOOLS_GATEWAY_RELAY_HPP

#include "tools/gateway/byte_queue.hpp"
#include "tools/gateway/connection_registry.hpp"
#include "tools/gateway/ldap_message.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace gateway {

class io_thread;
struct gateway_context;

// Owned by one I/O thread, which alone calls it and alone reads and writes
// its sockets.  Messages pass through unchanged except where the gateway
// answers for the directory (a refused Start Transaction, an update past
// the limit), adds its own (the notices, the End Transaction that aborts a
// timed-out transaction) or drops one (the answer to its own abort).
//
// Each direction is bounded: while more than `queue_bound` bytes wait to
// be written to one side, nothing is read from the other.  A message may
// take up to --max-message bytes while it is being received.
//
// The directory never sees the connection close while a Start Transaction
// is pending on it: closing waits for that response (at most
// `linger_milliseconds`).
class relay {
public:
    enum class side : std::uint64_t { client = 0, backend = 1 };
    static constexpr std::size_t queue_bound = 256 * 1024;
    static constexpr long long linger_milliseconds = 10000;
    // The gateway's own message ids: clients may not use them.
    static constexpr ber_int_t first_own_message_id = 2147483647 - 1023;

    relay(io_thread& owner, gateway_context& context, int client_fd, std::string peer);
    ~relay();
    relay(const relay&) = delete;
    relay& operator=(const relay&) = delete;

    int conn_id() const { return record_->connection.conn_id; }
    connection_record& record() { return *record_; }
    // True while the library may hold a registration for the connection.
    bool may_be_registered() const { return registered_; }
    bool finished() const { return client_fd_ < 0 && backend_fd_ < 0; }

    // Starts the connection to the directory.
    void open();
    // Readiness of one of its sockets.
    void on_ready(side which, std::uint32_t events);
    // The sweeper removed the transaction registered as `serial`.
    void on_timed_out(std::uint64_t serial);
    // The gateway stops: abort the open transaction, tell the client, close.
    void shut_down();
    // Gives up what waits past its deadline.
    void on_tick(long long now_milliseconds);

private:
    enum class phase { none, start_pending, open, end_pending, aborting };

    void pump();
    void read_side(side which);
    void flush(side which);
    void finish_connect();
    void process_client_input();
    void process_backend_input();
    void handle_request(std::string_view message);
    void handle_response(std::string_view message);
    void start_transaction(const request& start, std::string_view message);
    // The directory must not see its connection end under a transaction:
    // Debian's slapd 2.5.13 crashes now and then when a connection holding
    // queued updates ends, and always when one ends with a Start Transaction
    // pending.  An open transaction is aborted, a pending start is aborted
    // once answered, and closing waits for the answer (or the linger time).
    // Whether an answer is awaited.
    bool abort_before_closing();
    void abort_transaction();
    void time_out();
    void send_to_client(std::string_view message);
    void send_to_backend(std::string_view message);
    void refuse_client(ber_int_t result_code, const std::string& text);
    void backend_failed(const std::string& why);
    void client_gone();
    void end_registration();
    void begin_closing();
    void settle();
    void close_side(side which);
    void update_interest(side which);
    bool can_read(side which) const;

    io_thread& owner_;
    gateway_context& context_;
    std::unique_ptr<connection_record> record_;
    int client_fd_;
    int backend_fd_ = -1;
    bool backend_connecting_ = false;
    byte_queue client_in_, backend_in_, to_client_, to_backend_;
    // The events each socket is watched for; not_watched before the first.
    static constexpr std::uint32_t not_watched = ~std::uint32_t{ 0 };
    std::uint32_t client_interest_ = not_watched, backend_interest_ = not_watched;

    phase phase_ = phase::none;
    bool registered_ = false;
    ber_int_t start_id_ = 0, end_id_ = 0;
    bool end_commit_ = true;
    std::string identifier_;
    int updates_ = 0;
    bool abort_after_start_ = false;   // timed out or stopping while it starts
    bool notify_after_start_ = false;  // timed out while it starts
    ber_int_t next_own_id_ = first_own_message_id;

    bool client_eof_ = false;    // the client sent all it will send
    bool client_done_ = false;   // read nothing more; close once written out
    bool backend_done_ = false;  // close once nothing is awaited
    bool shutting_down_ = false;
    long long deadline_ = 0;     // 0: none
};

}  // namespace gateway

#endif
