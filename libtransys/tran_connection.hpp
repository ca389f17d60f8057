// The value of the transaction table: the host's record of the connection
// whose transaction is open.  The record belongs to the host; the table
// holds the pointer only, never copies, changes or frees the record, and
// reads three of its fields.
//
// Defined here in full, so the time-out sweep reads a stamp without a call.
#ifndef LIBTRANSYS_TRAN_CONNECTION_HPP
#define LIBTRANSYS_TRAN_CONNECTION_HPP

#include <cstdint>

#include "host/connection.h"

class tran_connection {
public:
    // No connection.
    tran_connection() : conn_(nullptr) {}
    explicit tran_connection(_Connection* conn) : conn_(conn) {}
    tran_connection(const tran_connection&) = default;
    tran_connection& operator=(const tran_connection&) = default;
    ~tran_connection() = default;

    _Connection* conn() const { return conn_; }

    // The fields of the record the table reads: the connection id as a
    // signed 32-bit integer, the transaction time stamp as a signed 32-bit
    // value whatever the width of the host's `long`, and the connection
    // text.  Only valid for a non-null connection.
    int id() const { return conn_->conn_id; }
    std::int32_t stamp() const { return static_cast<std::int32_t>(conn_->txn_stamp); }
    const char* text() const { return conn_->conn_text; }

private:
    _Connection* conn_;
};

#endif
