#include "tools/gateway/gateway_log.hpp"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace gateway {

void log_line(const char* format, ...)
{
    char line[1024];
    const int prefix = std::snprintf(line, sizeof line, "transys-gateway: ");
    va_list arguments;
    va_start(arguments, format);
    const int text = std::vsnprintf(line + prefix, sizeof line - prefix - 1, format, arguments);
    va_end(arguments);
    std::size_t length = prefix + (text < 0 ? 0 : static_cast<std::size_t>(text));
    if (length > sizeof line - 2)
        length = sizeof line - 2;  // cut, with room for the line end
    line[length++] = '\n';
    const char* next = line;
    while (length > 0) {
        const ssize_t written = ::write(STDERR_FILENO, next, length);
        if (written <= 0)
            return;  // nowhere to report a failing log
        next += written;
        length -= static_cast<std::size_t>(written);
    }
}

}  // namespace gateway
