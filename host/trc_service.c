/* Stand-in for the host trace service.
 *
 * The event mask trcEvents starts as the value of the environment variable
 * TRC_EVENTS, read once when the library is loaded.  It is a number in C
 * notation ("0x3000", "4096", "010"); when the variable is unset, empty,
 * not a whole number or wider than 32 bits the mask stays 0.
 *
 * Every record becomes one line, written with a single write(2) under a
 * mutex, so records of concurrent callers never interleave.  The lines go to
 * the file named by TRC_FILE, opened for appending when the first record is
 * written; when TRC_FILE is unset, empty or cannot be opened they go to
 * standard error.  The destination is chosen once, at that first record.
 *
 * Line format, fields separated by one blank:
 *
 *   trc KIND type=0xTTTTTTTT id=0xIIIIIIII obj=0xPPPPPPPP DATA
 *
 *   KIND  the record kind, byte 2 of the type: entry (0x20), exit (0x21),
 *         error-exit (0x0B), text (0x07), created (0x1E), destroyed (0x1F),
 *         data (0x22), debug (0x40); any other kind as kind-0xNN.
 *   type, id  in hexadecimal, at least 8 digits.
 *   obj   the object pointer in hexadecimal, zero-padded to the width of a
 *         pointer (8 digits on 32-bit targets, 16 on 64-bit ones).
 *   DATA  "-" for a record without data (length 0 or no data pointer);
 *         code=N for an exit or error-exit record with exactly 4 data bytes,
 *         N being the signed 32-bit code in host byte order, in decimal;
 *         otherwise text="..." holding the data bytes, where a backslash,
 *         a double quote, newline, carriage return and tab are written as
 *         \\ \" \n \r \t and any other byte outside 0x20..0x7E as \xNN.
 *
 * Examples:
 *   trc entry type=0x03200000 id=0x3c020200 obj=0x00000000 text="conn 7"
 *   trc exit type=0x03210000 id=0x3c020200 obj=0x00000000 code=68
 */
#define _POSIX_C_SOURCE 200809L

#include "host/trc.h"
#include "host/write_all.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

unsigned int trcEvents = 0;

/* Guards the choice of destination and every write to it. */
static pthread_mutex_t trc_lock = PTHREAD_MUTEX_INITIALIZER;
static int trc_fd = -1; /* -1 until the first record chooses it */

/* Lines up to this size are built on the stack. */
#define TRC_LOCAL_LINE 1024

__attribute__((constructor)) static void trc_read_event_mask(void)
{
    const char* text = getenv("TRC_EVENTS");
    char* end;
    unsigned long value;

    if (text == NULL || *text == '\0' || *text == '-')
        return;
    errno = 0;
    value = strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFUL)
        return;
    trcEvents = (unsigned int)value;
}

int trcInit(void)
{
    return 0;
}

static const char* kind_name(unsigned int kind, char* spare)
{
    switch (kind) {
    case 0x20: return "entry";
    case 0x21: return "exit";
    case 0x0B: return "error-exit";
    case 0x07: return "text";
    case 0x1E: return "created";
    case 0x1F: return "destroyed";
    case 0x22: return "data";
    case 0x40: return "debug";
    default:
        sprintf(spare, "kind-0x%02x", kind);
        return spare;
    }
}

/* Appends the data bytes to `out` with the escapes described above;
 * returns the end of what was written.  `out` has room for 4 bytes per
 * data byte. */
static char* escape_text(char* out, const unsigned char* data,
                         unsigned long length)
{
    static const char hex[] = "0123456789abcdef";
    unsigned long i;

    for (i = 0; i < length; ++i) {
        unsigned char c = data[i];
        switch (c) {
        case '\\': *out++ = '\\'; *out++ = '\\'; break;
        case '"':  *out++ = '\\'; *out++ = '"';  break;
        case '\n': *out++ = '\\'; *out++ = 'n';  break;
        case '\r': *out++ = '\\'; *out++ = 'r';  break;
        case '\t': *out++ = '\\'; *out++ = 't';  break;
        default:
            if (c >= 0x20 && c <= 0x7E) {
                *out++ = (char)c;
            } else {
                *out++ = '\\';
                *out++ = 'x';
                *out++ = hex[c >> 4];
                *out++ = hex[c & 0x0F];
            }
        }
    }
    return out;
}

/* Writes the whole line to the destination, choosing it first if this is
 * the first record.  Returns 0, or -1 when the line could not be written. */
static int emit_line(const char* line, size_t length)
{
    int result;

    pthread_mutex_lock(&trc_lock);
    if (trc_fd < 0) {
        const char* name = getenv("TRC_FILE");
        if (name != NULL && *name != '\0')
            trc_fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                          0644);
        if (trc_fd < 0)
            trc_fd = fileno(stderr);
    }
    result = host_write_all(trc_fd, line, length);
    pthread_mutex_unlock(&trc_lock);
    return result;
}

int trcWriteRec(unsigned long type, unsigned long id, const void* object,
                unsigned long length, const void* data,
                unsigned long unused1, unsigned long unused2,
                unsigned long unused3, unsigned long unused4)
{
    unsigned int kind = (unsigned int)((type >> 16) & 0xFF);
    int has_data = data != NULL && length > 0;
    char local[TRC_LOCAL_LINE];
    char spare[16];
    char* line = local;
    char* end;
    size_t needed;
    int result;

    (void)unused1;
    (void)unused2;
    (void)unused3;
    (void)unused4;

    /* Head: 4 fixed fields of at most 30 bytes each, the data field's
     * label and quotes, the line end. */
    needed = 160 + (has_data ? 4 * (size_t)length : 0);
    if (needed > sizeof local) {
        line = malloc(needed);
        if (line == NULL)
            return -1;
    }

    end = line + sprintf(line, "trc %s type=0x%08lx id=0x%08lx obj=0x%0*lx ",
                         kind_name(kind, spare), type, id,
                         (int)(2 * sizeof(void*)),
                         (unsigned long)(uintptr_t)object);
    if (!has_data) {
        *end++ = '-';
    } else if ((kind == 0x21 || kind == 0x0B) && length == 4) {
        int32_t code;
        memcpy(&code, data, sizeof code);
        end += sprintf(end, "code=%ld", (long)code);
    } else {
        end += sprintf(end, "text=\"");
        end = escape_text(end, (const unsigned char*)data, length);
        *end++ = '"';
    }
    *end++ = '\n';

    result = emit_line(line, (size_t)(end - line));
    if (line != local)
        free(line);
    return result;
}
