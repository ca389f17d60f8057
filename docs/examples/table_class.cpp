// A C++ host using the table class: the library's own table through
// `transys`, and a table of its own, as a test harness builds one.
#include <cassert>
#include <cstring>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"

int main() {
    // What a member sets on the library's table, the C interface reads.
    transys->set_err(csgl_string("set") + " through transys");
    assert(std::strcmp(tran_api_system_err(), "set through transys") == 0);

    // A table of one's own keeps its entries and its errors apart.
    tran_system own;
    assert(own.init() == TRAN_API_SUCCESS);
    char name[] = "harness";
    _Connection conn = {7, 0, name};
    assert(own.insert_tran(&conn) == TRAN_API_SUCCESS);
    assert(own.insert_tran(&conn) == TRAN_API_ENTRY_ALREADY_EXISTS);
    assert(std::strcmp(own.err().c_str(), "Duplicate StartTransactions with harness issued") == 0);
    {
        const tran_system::pool_lock hold(own);
        assert(own.pool().size() == 1 && own.pool().begin()->second.conn() == &conn);
    }
    assert(own.remove_tran(7) == TRAN_API_SUCCESS);
    assert(std::strcmp(tran_api_system_err(), "set through transys") == 0);
    return 0;
}
