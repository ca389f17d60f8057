#include "libtransys/tran_connection.hpp"

tran_connection::tran_connection() : conn_(nullptr) {}

tran_connection::tran_connection(_Connection* conn) : conn_(conn) {}

int tran_connection::id() const { return conn_->conn_id; }

std::int32_t tran_connection::stamp() const { return static_cast<std::int32_t>(conn_->txn_stamp); }

const char* tran_connection::text() const { return conn_->conn_text; }
