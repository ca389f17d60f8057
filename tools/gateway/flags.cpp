#include "tools/gateway/flags.hpp"

#include <ldap.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>

namespace gateway {
namespace {

// Reads a whole decimal number within [low, high].
std::optional<long long> read_number(const std::string& text, long long low, long long high)
{
    if (text.empty() || text[0] == ' ' || text[0] == '+')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || number < low || number > high)
        return std::nullopt;
    return number;
}

// "HOST:PORT", "[V6HOST]:PORT".
bool split_host_port(const std::string& text, std::string* host, unsigned* port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string name = text.substr(0, colon);
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    const std::optional<long long> number = read_number(text.substr(colon + 1), 0, 65535);
    if (!number)
        return false;
    *host = name;
    *port = static_cast<unsigned>(*number);
    return true;
}

// ldap://HOST[:PORT][/], read by libldap's own URL parser.
bool read_backend(const std::string& uri, flags* f)
{
    LDAPURLDesc* url = nullptr;
    if (ldap_url_parse(uri.c_str(), &url) != LDAP_URL_SUCCESS)
        return false;
    const bool usable = url->lud_scheme != nullptr && std::string(url->lud_scheme) == "ldap" &&
                        url->lud_host != nullptr && url->lud_host[0] != '\0';
    if (usable) {
        f->backend_uri = uri;
        f->backend_host = url->lud_host;
        f->backend_port = url->lud_port > 0 ? static_cast<unsigned>(url->lud_port) : 389;
    }
    ldap_free_urldesc(url);
    return usable;
}

// One flag: its name, what its value must be, and where it goes.
struct flag_rule {
    const char* name;
    const char* expects;
    std::function<bool(const std::string&, flags*)> apply;
};

template <typename T>
std::function<bool(const std::string&, flags*)> number_into(T flags::*field, long long low,
                                                             long long high)
{
    return [=](const std::string& text, flags* f) {
        const std::optional<long long> number = read_number(text, low, high);
        if (number)
            f->*field = static_cast<T>(*number);
        return number.has_value();
    };
}

const std::vector<flag_rule>& rules()
{
    static const std::vector<flag_rule> table = {
        { "--listen", "HOST:PORT",
          [](const std::string& t, flags* f) { return split_host_port(t, &f->listen_host, &f->listen_port); } },
        { "--backend", "an ldap://HOST[:PORT] URI",
          [](const std::string& t, flags* f) { return read_backend(t, f); } },
        { "--maxnum", "a number", number_into(&flags::maxnum, INT_MIN, INT_MAX) },
        { "--maxop", "a number from 0", number_into(&flags::maxop, 0, INT_MAX) },
        { "--tlimit", "seconds from 0", number_into(&flags::tlimit, 0, INT_MAX) },
        { "--sweep", "seconds from 1", number_into(&flags::sweep, 1, 86400) },
        { "--threads", "a number from 1 to 64", number_into(&flags::threads, 1, 64) },
        { "--max-message", "bytes from 1024 to 1073741824",
          number_into(&flags::max_message, 1024, 1073741824) },
    };
    return table;
}

}  // namespace

flags_result parse_flags(const std::vector<std::string>& arguments)
{
    flags_result result;
    flags f;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            result.help = true;
            return result;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const flag_rule* rule = nullptr;
        for (const flag_rule& candidate : rules())
            if (name == candidate.name)
                rule = &candidate;
        if (rule == nullptr) {
            result.error = "unknown flag " + argument;
            return result;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            result.error = name + " needs a value: " + rule->expects;
            return result;
        }
        if (!rule->apply(value, &f)) {
            result.error = name + " " + value + ": expected " + rule->expects;
            return result;
        }
    }
    if (f.backend_uri.empty()) {
        result.error = "--backend URI is required";
        return result;
    }
    result.value = f;
    return result;
}

std::string usage_text()
{
    return "usage: transys-gateway --backend ldap://HOST:PORT [flags]\n"
           "  --listen HOST:PORT    where clients connect (default 127.0.0.1:3890; port 0: a free one)\n"
           "  --backend URI         the directory behind the gateway (required)\n"
           "  --maxnum N            transactions open at once, 0 or less: no limit (default 20)\n"
           "  --maxop N             updates in one transaction (default 5)\n"
           "  --tlimit SECONDS      age at which a transaction is aborted, 0: never (default 300)\n"
           "  --sweep SECONDS       time between two sweeps for old transactions (default 1)\n"
           "  --threads N           I/O threads (default 4)\n"
           "  --max-message BYTES   longest LDAP message accepted (default 8388608)\n";
}

}  // namespace gateway
