// A C++ program using the installed library: an exception thrown inside the
// library and caught here by its family (the type information crosses the
// library's boundary), and the table class: the library's own table
// through `transys` and a table of the program's own.  Prints one line and
// exits 0 when every check holds.
#include <cstdio>
#include <cstring>

#include "libtransys/tran_api.h"
#include "libtransys/tran_system.hpp"
#include "libutils/csgl/csgl_exc.hpp"

int main() {
    bool holds = false;
    try {
        exc_t::throw_posix_error("consumer.cpp", 7, 2);  // ENOENT
    } catch (const exc_maybe_t& e) {
        holds = dynamic_cast<const exc_does_not_exist_t*>(&e) != nullptr && e.error == 0x20030023 &&
                std::strcmp(e.message().msg_string(), "does_not_exist (ENOENT)") == 0;
    }
    transys->set_err(csgl_string("set") + " through transys");
    tran_system own;
    char name[] = "consumer";
    _Connection conn = {7, 0, name};
    holds = holds && std::strcmp(tran_api_system_err(), "set through transys") == 0 && own.init() == 0 &&
            own.insert_tran(&conn) == 0 && own.insert_tran(&conn) == 68 &&
            std::strcmp(own.err().c_str(), "Duplicate StartTransactions with consumer issued") == 0 &&
            own.remove_tran(7) == 0 && own.pool().empty() && transys->pool().empty();
    if (!holds) return std::fprintf(stderr, "consumer_cxx: a check failed\n"), 1;
    std::printf("consumer_cxx: all checks passed\n");
    return 0;
}
