// Files: a handle over one descriptor, and whole-file operations by name.
#include <unistd.h>

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <string>

#include "libutils/csgl/csgl_file.hpp"

int main() {
    char directory[] = "/tmp/files-example.XXXXXX";
    assert(mkdtemp(directory) != nullptr);
    const std::string entry = std::string(directory) + "/entry.ldif";
    const std::string backup = std::string(directory) + "/entry.bak";

    {
        // Created with mode 0640 less the umask; closed with its scope.
        csgl_file file(entry.c_str(), csgl_file::create_new, csgl_file::access_read_write,
                       csgl_file::deny_write);
        char text[] = "dn: cn=admin\n";
        assert(file.write(text, sizeof text - 1) == sizeof text - 1);  // one write(2)
        assert(file.size() == 13);
        assert(file.seek(4, csgl_file::seek_begin) == 4);
        char read_back[5] = {};
        assert(file.read(read_back, 4) == 4 && std::strcmp(read_back, "cn=a") == 0);
    }
    try {
        csgl_file again(entry.c_str(), csgl_file::create_new, csgl_file::access_write,
                        csgl_file::deny_none);
        assert(false);
    } catch (const exc_already_exists_t& e) {  // EEXIST, mapped
        assert(std::strcmp(e.message().msg_string(), "already_exists (EEXIST)") == 0);
    }

    // The plain forms refuse an existing target; the forced forms replace it.
    csgl_file::copy(entry.c_str(), backup.c_str());
    try {
        csgl_file::copy(entry.c_str(), backup.c_str());
        assert(false);
    } catch (const exc_already_exists_t&) {
    }
    csgl_file::rename(backup.c_str(), entry.c_str(), csgl_file::force);
    assert(csgl_file::exists(entry.c_str()) && !csgl_file::exists(backup.c_str()));
    csgl_file::remove(entry.c_str());

    // A relative name joined to the working directory, not normalised.
    assert(chdir(directory) == 0);
    const std::string absolute = std::string(directory) + "/./entry";
    assert(std::strcmp(csgl_file::canonize("./entry"), absolute.c_str()) == 0);
    assert(chdir("/") == 0 && rmdir(directory) == 0);
    return 0;
}
