// Output streams and the printing operators.
#include <unistd.h>

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "libutils/csgl/csgl_output.hpp"

int main() {
    // A string stream: each character makes the string one longer.
    csgl_string text;
    {
        csgl_output_str out(text);
        out << "uid=" << 42 << ' ' << csgl_hex(0xBEEF) << ' ' << -7L;
        const csgl_string quoted("it's");
        out << ' ' << csgl_str_quoted(quoted, '\'');
    }
    assert(std::strcmp(text, "uid=42 0x0000beef -7 'it''s'") == 0);

    // An exception prints as "exc", its file, line, code and text.
    csgl_string printed;
    {
        csgl_output_str out(printed);
        out << exc_not_enough_memory_t("util/x", 12, "not enough memory", 0);
    }
    assert(std::strcmp(printed, "exc 'util/x' 12 536870913 'not enough memory'") == 0);

    // A file stream writes 512 characters per system write, and what is
    // left when it is destroyed.
    char name[] = "/tmp/output-example.XXXXXX";
    const int fd = mkstemp(name);
    assert(fd != -1);
    close(fd);
    {
        csgl_output_file log(name, csgl_output_file::mode_truncate);
        log << "first line\n";
    }
    {
        csgl_output_file log(name, csgl_output_file::mode_append);
        log << "second line\n";
        log.flush_to_disk();  // written and synced now
    }
    std::ifstream in(name);
    std::ostringstream contents;
    contents << in.rdbuf();
    assert(contents.str() == "first line\nsecond line\n");
    unlink(name);

    // A redirector copies to a second stream until halted.
    csgl_string copy;
    csgl_output_black_hole nowhere;
    csgl_output_str second(copy);
    csgl_output_redirector both(nowhere, second);
    both << "seen";
    both.halt_redirection();
    both << " not seen";
    assert(std::strcmp(copy, "seen") == 0);
    return 0;
}
