#include "tools/gateway/connection_registry.hpp"

#include <utility>

namespace gateway {

connection_record::connection_record(int conn_id, std::string connection_text)
    : text(std::move(connection_text)), connection{ conn_id, 0, text.data() }
{
}

void connection_registry::add(connection_record& record, io_thread& owner)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_[record.connection.conn_id] = entry{ &record, &owner };
}

int connection_registry::register_transaction(connection_record& record, std::string* refusal)
{
    const std::lock_guard<std::mutex> lock(library_mutex_);
    const int result = tran_api_create_transaction(&record.connection);
    if (result == TRAN_API_SUCCESS) {
        registered_.insert(record.connection.conn_id);
    } else {
        *refusal = tran_api_system_err();
        if (!refusal->empty() && refusal->back() == '\n')
            refusal->pop_back();
    }
    return result;
}

void connection_registry::end_transaction(int conn_id)
{
    const std::lock_guard<std::mutex> lock(library_mutex_);
    end_transaction_locked(conn_id);
}

void connection_registry::end_transaction_locked(int conn_id)
{
    // 0 also when there was none; otherwise the table is unchanged.
    if (tran_api_delete_transaction(conn_id) == TRAN_API_SUCCESS)
        registered_.erase(conn_id);
}

void connection_registry::remove(const connection_record& record, bool may_be_registered)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (may_be_registered)
        end_transaction(record.connection.conn_id);
    entries_.erase(record.connection.conn_id);
}

void connection_registry::sweep(long now, const timeout_handler& on_timed_out)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    tran_api_conn_list* swept = nullptr;
    {
        const std::lock_guard<std::mutex> library(library_mutex_);
        swept = tran_api_timeout_transactions(now);
        for (const tran_api_conn_list* node = swept; node != nullptr; node = node->next)
            registered_.erase(node->conn->conn_id);
    }
    for (const tran_api_conn_list* node = swept; node != nullptr; node = node->next) {
        const auto found = entries_.find(node->conn->conn_id);
        if (found != entries_.end())
            on_timed_out(*found->second.owner, found->first,
                         found->second.record->transaction_serial.load());
    }
    tran_api_conn_list_delete(swept);
}

connection_registry::statistics connection_registry::count() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::lock_guard<std::mutex> library(library_mutex_);
    return statistics{ entries_.size(), registered_.size() };
}

}  // namespace gateway
