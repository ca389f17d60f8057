#include "tools/gateway/relay.hpp"

#include "tools/gateway/gateway_context.hpp"
#include "tools/gateway/gateway_log.hpp"
#include "tools/gateway/io_thread.hpp"
#include "libtransys/tran_api.h"

#include <ldap.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace gateway {
namespace {

constexpr std::size_t read_chunk = byte_queue::read_chunk;
// Reads per readiness report, so that one busy peer cannot starve others.
constexpr int reads_per_event = 4;
constexpr long long connect_timeout_milliseconds = 10000;

const char* outcome_name(bool commit) { return commit ? "commit" : "abort"; }

// Reads and drops what a peer sent and the gateway will not read (up to a
// bound), so that closing the socket ends the stream in order: with bytes
// still unread, the close would reset the connection instead, and the
// peer could see the reset where it expects the end after the notice.
void discard_unread(int fd)
{
    constexpr int most_reads = 16;
    char dropped[4096];
    for (int round = 0; round < most_reads; ++round)
        if (::recv(fd, dropped, sizeof dropped, MSG_DONTWAIT) <= 0)
            return;
}

}  // namespace

relay::relay(io_thread& owner, gateway_context& context, int client_fd, std::string peer)
    : owner_(owner),
      context_(context),
      record_(std::make_unique<connection_record>(context.next_conn_id.fetch_add(1),
                                                  "client " + peer)),
      client_fd_(client_fd)
{
}

relay::~relay()
{
    close_side(side::client);
    close_side(side::backend);
}

void relay::open()
{
    log_line("%s: connection %d opened", record_->text.c_str(), conn_id());
    const int one = 1;
    setsockopt(client_fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    backend_fd_ = ::socket(context_.backend_address.ss_family,
                           SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (backend_fd_ < 0) {
        backend_failed(std::string("cannot make a socket: ") + std::strerror(errno));
    } else {
        setsockopt(backend_fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const int started =
            ::connect(backend_fd_, reinterpret_cast<const sockaddr*>(&context_.backend_address),
                      context_.backend_address_length);
        backend_connecting_ = started != 0 && errno == EINPROGRESS;
        if (started != 0 && !backend_connecting_)
            backend_failed(std::strerror(errno));
        else if (backend_connecting_)
            deadline_ = monotonic_milliseconds() + connect_timeout_milliseconds;
    }
    // Also after a failure: the client's notice is written out from here.
    pump();
}

void relay::on_ready(side which, std::uint32_t events)
{
    if (which == side::backend && backend_connecting_) {
        finish_connect();
    } else {
        if (events & EPOLLOUT)
            flush(which);
        if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
            read_side(which);
        // A peer that hung up while it is not being read: reported again
        // and again until its socket goes.
        const int fd = which == side::client ? client_fd_ : backend_fd_;
        if (fd >= 0 && (events & (EPOLLHUP | EPOLLERR)) && !can_read(which)) {
            if (which == side::client)
                client_gone();
            else
                backend_failed("the directory's connection failed");
        }
    }
    pump();
}

void relay::finish_connect()
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(backend_fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error == EINPROGRESS)
        return;
    backend_connecting_ = false;
    deadline_ = 0;
    if (error != 0)
        backend_failed(std::strerror(error));
    else if (client_done_ || backend_done_)
        begin_closing();
}

void relay::read_side(side which)
{
    const bool client = which == side::client;
    const int fd = client ? client_fd_ : backend_fd_;
    byte_queue& into = client ? client_in_ : backend_in_;
    for (int round = 0; round < reads_per_event && fd >= 0 && can_read(which); ++round) {
        const ssize_t got = into.read_from(fd);
        // A short read took all there was: another would only fail with
        // EAGAIN, a system call per message for nothing.  Whatever comes
        // next is reported by the next epoll_wait.
        if (got > 0 && static_cast<std::size_t>(got) < read_chunk)
            return;
        if (got > 0)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (client && got == 0)
            client_eof_ = true;  // settled once the bytes before it are used
        else if (client)
            client_gone();
        else
            backend_failed(got == 0 ? "the directory closed the connection"
                                    : std::string("reading from the directory: ") +
                                          std::strerror(errno));
        return;
    }
}

bool relay::can_read(side which) const
{
    if (which == side::client)
        return client_fd_ >= 0 && !client_done_ && !client_eof_ && backend_fd_ >= 0 && !backend_connecting_ &&
               !backend_done_ && phase_ != phase::aborting &&
               to_backend_.size() < queue_bound &&
               client_in_.size() < context_.settings.max_message + read_chunk;
    return backend_fd_ >= 0 && !backend_connecting_ &&
           (client_fd_ < 0 || to_client_.size() < queue_bound) &&
           backend_in_.size() < context_.settings.max_message + read_chunk;
}

void relay::flush(side which)
{
    const bool client = which == side::client;
    const int fd = client ? client_fd_ : backend_fd_;
    byte_queue& out = client ? to_client_ : to_backend_;
    if (fd < 0 || (!client && backend_connecting_))
        return;
    while (!out.empty()) {
        const std::string_view bytes = out.view();
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            out.consume(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (client)
            client_gone();
        else
            backend_failed(std::string("writing to the directory: ") + std::strerror(errno));
        return;
    }
}

void relay::pump()
{
    process_backend_input();
    process_client_input();
    flush(side::backend);
    flush(side::client);
    settle();
}

void relay::process_client_input()
{
    while (client_fd_ >= 0 && !client_done_ && phase_ != phase::aborting &&
           to_backend_.size() < queue_bound && !client_in_.empty()) {
        const frame next = frame_message(client_in_.view(), context_.settings.max_message);
        if (next.state == frame::status::need_more) {
            if (client_eof_)
                refuse_client(LDAP_PROTOCOL_ERROR, "the connection ended inside a message");
            return;
        }
        if (next.state == frame::status::too_long) {
            refuse_client(LDAP_PROTOCOL_ERROR,
                          "the message announces " + std::to_string(next.length) +
                              " bytes, more than the limit of " +
                              std::to_string(context_.settings.max_message));
            return;
        }
        if (next.state == frame::status::malformed) {
            refuse_client(LDAP_PROTOCOL_ERROR, "the bytes received are not an LDAP message");
            return;
        }
        handle_request(client_in_.view().substr(0, next.length));
        if (client_fd_ < 0)
            return;
        client_in_.consume(next.length);
    }
    if (client_eof_ && client_fd_ >= 0 && !client_done_ && client_in_.empty())
        client_gone();
}

void relay::process_backend_input()
{
    while (backend_fd_ >= 0 && !backend_in_.empty()) {
        const frame next = frame_message(backend_in_.view(), context_.settings.max_message);
        if (next.state == frame::status::need_more)
            return;
        if (next.state == frame::status::too_long) {
            backend_failed("the directory announced a message of " + std::to_string(next.length) +
                           " bytes, more than the limit of " +
                           std::to_string(context_.settings.max_message));
            return;
        }
        if (next.state == frame::status::malformed) {
            backend_failed("the directory sent a message the gateway cannot read");
            return;
        }
        handle_response(backend_in_.view().substr(0, next.length));
        if (backend_fd_ < 0)
            return;  // closed on the way, its input with it
        backend_in_.consume(next.length);
    }
}

void relay::handle_request(std::string_view message)
{
    const std::optional<request> parsed = inspect_request(message);
    if (!parsed) {
        refuse_client(LDAP_PROTOCOL_ERROR, "malformed LDAP request");
        return;
    }
    if (parsed->message_id >= first_own_message_id) {
        refuse_client(LDAP_PROTOCOL_ERROR, "message id " + std::to_string(parsed->message_id) +
                                               " is reserved by the gateway");
        return;
    }
    switch (parsed->kind) {
    case request_kind::start_transaction:
        start_transaction(*parsed, message);
        return;
    case request_kind::end_transaction:
        if (phase_ == phase::open) {
            phase_ = phase::end_pending;
            end_id_ = parsed->message_id;
            end_commit_ = parsed->commit;
        }
        break;
    case request_kind::transactional_update:
        if (phase_ == phase::open && ++updates_ > context_.settings.maxop) {
            const std::string text = "the transaction already holds the limit of " +
                                     std::to_string(context_.settings.maxop) + " updates";
            log_line("%s: update refused: %d %s", record_->text.c_str(), LDAP_ADMINLIMIT_EXCEEDED,
                     text.c_str());
            send_to_client(build_result(*update_response_operation(parsed->operation),
                                        parsed->message_id, LDAP_ADMINLIMIT_EXCEEDED, text));
            return;
        }
        break;
    case request_kind::unbind:
        client_done_ = true;
        backend_done_ = true;
        begin_closing();
        // An unbind ends the directory's connection too: not under a
        // transaction, which is aborted first while closing waits for it.
        if (abort_before_closing())
            return;
        break;
    case request_kind::other:
        break;
    }
    send_to_backend(message);
}

void relay::start_transaction(const request& start, std::string_view message)
{
    const bool running = phase_ != phase::none;
    // A refused second start must not renew the age of the running one.
    if (!running)
        record_->connection.txn_stamp = monotonic_seconds();
    std::string refusal;
    int result = context_.registry.register_transaction(*record_, &refusal);
    if (result == TRAN_API_SUCCESS && running) {
        // The sweep removed the running transaction a moment ago and its
        // abort is on its way: the directory would answer busy too.
        context_.registry.end_transaction(conn_id());
        result = LDAP_BUSY;
        refusal = "the connection's transaction is being aborted";
    }
    if (result != TRAN_API_SUCCESS) {
        log_line("%s: transaction refused: %d %s", record_->text.c_str(), result, refusal.c_str());
        send_to_client(build_extended_response(start.message_id, result, refusal, nullptr, nullptr));
        return;
    }
    registered_ = true;
    record_->transaction_serial.fetch_add(1);
    phase_ = phase::start_pending;
    start_id_ = start.message_id;
    updates_ = 0;
    identifier_.clear();
    abort_after_start_ = false;
    notify_after_start_ = false;
    send_to_backend(message);
}

void relay::handle_response(std::string_view message)
{
    const std::optional<response> parsed = inspect_response(message);
    if (!parsed) {
        backend_failed("the directory sent a malformed message");
        return;
    }
    if (parsed->message_id >= first_own_message_id) {
        // The answer to the gateway's own abort: never the client's.
        if (phase_ == phase::aborting)
            phase_ = phase::none;
        return;
    }
    const bool extended = parsed->operation == LDAP_RES_EXTENDED && parsed->has_result;
    if (extended && phase_ == phase::start_pending && parsed->message_id == start_id_) {
        if (parsed->result_code == LDAP_SUCCESS) {
            phase_ = phase::open;
            identifier_ = std::string(parsed->value.value_or(std::string_view()));
            log_line("%s: transaction started", record_->text.c_str());
        } else {
            log_line("%s: transaction refused by the directory: %d %.*s", record_->text.c_str(),
                     parsed->result_code, static_cast<int>(parsed->diagnostic.size()),
                     parsed->diagnostic.data());
            end_registration();
        }
    } else if (extended && phase_ == phase::end_pending && parsed->message_id == end_id_) {
        log_line("%s: transaction ended: %s, result %d", record_->text.c_str(),
                 outcome_name(end_commit_), parsed->result_code);
        end_registration();
    }
    send_to_client(message);
    if (phase_ == phase::open && abort_after_start_) {
        if (notify_after_start_)
            time_out();
        else
            abort_transaction();
    }
}

void relay::end_registration()
{
    context_.registry.end_transaction(conn_id());
    registered_ = false;
    phase_ = phase::none;
}

void relay::abort_transaction()
{
    const ber_int_t id = next_own_id_;
    next_own_id_ = next_own_id_ == 2147483647 ? first_own_message_id : next_own_id_ + 1;
    send_to_backend(build_end_transaction_request(id, identifier_, false));
    phase_ = phase::aborting;
    abort_after_start_ = false;
}

void relay::on_timed_out(std::uint64_t serial)
{
    if (serial != record_->transaction_serial.load())
        return;  // a transaction after the one that timed out
    if (phase_ == phase::start_pending) {
        abort_after_start_ = true;
        notify_after_start_ = true;
        return;
    }
    if (phase_ != phase::open)
        return;  // the client's own End Transaction settles it
    time_out();
    pump();
}

bool relay::abort_before_closing()
{
    if (phase_ == phase::open)
        abort_transaction();
    else if (phase_ == phase::start_pending)
        abort_after_start_ = true;
    return phase_ == phase::aborting || phase_ == phase::start_pending;
}

void relay::time_out()
{
    // The sweep has removed the registration already.
    registered_ = false;
    const long limit = context_.settings.tlimit;
    const std::string text = "transaction aborted: open longer than the time limit of " +
                             std::to_string(limit) + " seconds";
    log_line("%s: transaction timed out: older than the limit of %ld seconds",
             record_->text.c_str(), limit);
    send_to_client(build_aborted_transaction_notice(identifier_, text));
    abort_transaction();
}

void relay::shut_down()
{
    shutting_down_ = true;
    if (phase_ == phase::open) {
        log_line("%s: transaction aborted: the gateway is stopping", record_->text.c_str());
        abort_transaction();
    }
    else if (phase_ == phase::start_pending)
        abort_after_start_ = true;
    if (client_fd_ >= 0 && !client_done_)
        send_to_client(build_notice_of_disconnection(LDAP_UNAVAILABLE, "the gateway is stopping"));
    client_done_ = true;
    backend_done_ = true;
    begin_closing();
    pump();
}

void relay::on_tick(long long now_milliseconds)
{
    if (deadline_ == 0 || now_milliseconds < deadline_)
        return;
    deadline_ = 0;
    if (backend_connecting_) {
        backend_failed("the directory did not accept the connection in time");
    } else {
        close_side(side::client);
        close_side(side::backend);
    }
    settle();
}

void relay::send_to_client(std::string_view message)
{
    if (client_fd_ >= 0)
        to_client_.append(message);
}

void relay::send_to_backend(std::string_view message)
{
    if (backend_fd_ >= 0)
        to_backend_.append(message);
}

void relay::refuse_client(ber_int_t result_code, const std::string& text)
{
    log_line("%s: refused: %d %s", record_->text.c_str(), result_code, text.c_str());
    send_to_client(build_notice_of_disconnection(result_code, text));
    abort_before_closing();
    client_done_ = true;
    backend_done_ = true;
    begin_closing();
}

void relay::backend_failed(const std::string& why)
{
    log_line("%s: directory connection failed: %s", record_->text.c_str(), why.c_str());
    close_side(side::backend);
    if (client_fd_ >= 0 && !client_done_)
        send_to_client(build_notice_of_disconnection(
            LDAP_UNAVAILABLE, "the directory at " + context_.settings.backend_uri +
                                  " cannot be reached: " + why));
    client_done_ = true;
    begin_closing();
}

void relay::client_gone()
{
    close_side(side::client);
    abort_before_closing();
    client_done_ = true;
    backend_done_ = true;
    begin_closing();
}

void relay::begin_closing()
{
    if (deadline_ == 0)
        deadline_ = monotonic_milliseconds() + linger_milliseconds;
}

void relay::settle()
{
    if (client_fd_ >= 0 && client_done_ && to_client_.empty())
        close_side(side::client);
    const bool awaited = phase_ == phase::start_pending || phase_ == phase::aborting;
    if (backend_fd_ >= 0 && backend_done_ && !awaited && to_backend_.empty())
        close_side(side::backend);
    if (client_fd_ < 0)
        backend_done_ = true;
    update_interest(side::client);
    update_interest(side::backend);
}

void relay::close_side(side which)
{
    int& fd = which == side::client ? client_fd_ : backend_fd_;
    if (fd < 0)
        return;
    owner_.forget(fd);
    if (which == side::client)
        discard_unread(fd);
    ::close(fd);
    fd = -1;
    if (which == side::client) {
        to_client_.clear();
        client_in_.clear();
        client_interest_ = not_watched;
    } else {
        to_backend_.clear();
        backend_in_.clear();
        backend_interest_ = not_watched;
        backend_connecting_ = false;
    }
}

void relay::update_interest(side which)
{
    const bool client = which == side::client;
    const int fd = client ? client_fd_ : backend_fd_;
    if (fd < 0)
        return;
    std::uint32_t wanted = can_read(which) ? std::uint32_t{ EPOLLIN } : 0;
    if (client ? !to_client_.empty() : (backend_connecting_ || !to_backend_.empty()))
        wanted |= std::uint32_t{ EPOLLOUT };
    std::uint32_t& current = client ? client_interest_ : backend_interest_;
    if (wanted == current)
        return;
    owner_.watch(fd, (static_cast<std::uint64_t>(conn_id()) << 1) | static_cast<std::uint64_t>(which),
                 wanted);
    current = wanted;
}

}  // namespace gateway
