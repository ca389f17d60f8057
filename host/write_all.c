#include "host/write_all.h"

#include <errno.h>
#include <unistd.h>

int host_write_all(int fd, const char* data, size_t length)
{
    while (length > 0) {
        ssize_t written = write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        data += written;
        length -= (size_t)written;
    }
    return 0;
}
