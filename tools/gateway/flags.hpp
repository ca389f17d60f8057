// The gateway's command line: what it accepts and how it is checked.
#ifndef TOOLS_GATEWAY_FLAGS_HPP
#define TOOLS_GATEWAY_FLAGS_HPP

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace gateway {

// Every setting of one gateway process, checked and complete.  Plain data.
struct flags {
    std::string listen_host = "127.0.0.1";
    unsigned listen_port = 3890;         // 0: a free port
    std::string backend_uri;             // required
    std::string backend_host;            // from backend_uri
    unsigned backend_port = 389;         // from backend_uri
    int maxnum = 20;                     // the library's defaults
    int maxop = 5;
    long tlimit = 300;                   // seconds; 0: no time-out
    long sweep = 1;                      // seconds between sweeps
    int threads = 4;                     // I/O threads
    std::size_t max_message = 8388608;   // bytes of one LDAP message
};

// What parsing the command line gave: flags, a request for the usage text,
// or a one-line error.
struct flags_result {
    std::optional<flags> value;
    bool help = false;
    std::string error;
};

// Parses the arguments after the program name.  Each flag is "--name VALUE"
// or "--name=VALUE"; --help asks for the usage text.
flags_result parse_flags(const std::vector<std::string>& arguments);

// The usage text, several lines, for --help.
std::string usage_text();

}  // namespace gateway

#endif
