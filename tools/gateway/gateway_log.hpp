// The gateway's log: one readable line per event on standard error.
#ifndef TOOLS_GATEWAY_GATEWAY_LOG_HPP
#define TOOLS_GATEWAY_GATEWAY_LOG_HPP

namespace gateway {

// Writes "transys-gateway: " and the printf-formatted text as one line
// with a single write(2), so lines of concurrent threads never mix.  Any
// thread may call it.
void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace gateway

#endif
