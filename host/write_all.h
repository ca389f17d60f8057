/* Internal to the host stand-ins: writes a whole buffer to a descriptor,
 * resuming after short writes and interrupted calls. */
#ifndef HOST_WRITE_ALL_H
#define HOST_WRITE_ALL_H

#include <stddef.h>

/* Returns 0 once every byte is written, -1 when a write fails. */
__attribute__((visibility("hidden"))) int host_write_all(int fd, const char* data, size_t length);

#endif
