// The value of the transaction table: the host's record of the connection
// whose transaction is open.  The record belongs to the host; the table
// holds the pointer only, never copies, changes or frees the record, and
// reads three of its fields.
#ifndef LIBTRANSYS_TRAN_CONNECTION_HPP
#define LIBTRANSYS_TRAN_CONNECTION_HPP

#include <cstdint>

#include "host/connection.h"

class tran_connection {
public:
    // No connection; the table needs it to insert by subscript.
    tran_connection();
    explicit tran_connection(_Connection* conn);
    tran_connection(const tran_connection&) = default;
    tran_connection& operator=(const tran_connection&) = default;
    ~tran_connection() = default;

    _Connection* conn() const { return conn_; }

    // The fields of the record the table reads: the connection id as a
    // signed 32-bit integer, the transaction time stamp as a signed 32-bit
    // value whatever the width of the host's `long`, and the connection
    // text.  Only valid for a non-null connection.
    int id() const;
    std::int32_t stamp() const;
    const char* text() const;

private:
    _Connection* conn_;
};

#endif
