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
 *   trc KIND NAME DATA type=0xTTTTTTTT id=0xIIIIIIII obj=0xPPPPPPPP
 *
 *   KIND  the record kind, byte 2 of the type, named as the library's
 *         registry of trace ids names it (libutils/trace/trace_ids.h):
 *         entry (0x20), exit (0x21), error-exit (0x0B), text (0x07),
 *         created (0x1E), destroyed (0x1F), data (0x22), debug (0x40); any
 *         other kind as kind-0xNN.
 *   NAME  what the id stands for (see "Names" below), or "unknown".
 *   DATA  "-" for a record without data (length 0 or no data pointer);
 *         code=N for an exit or error-exit record with exactly 4 data bytes,
 *         N being the signed 32-bit code in host byte order, in decimal;
 *         otherwise text="..." holding the data bytes, where a backslash,
 *         a double quote, newline, carriage return and tab are written as
 *         \\ \" \n \r \t and any other byte outside 0x20..0x7E as \xNN.
 *   type, id  in hexadecimal, at least 8 digits.
 *   obj   the object pointer in hexadecimal, zero-padded to the width of a
 *         pointer (8 digits on 32-bit targets, 16 on 64-bit ones).
 *
 * Names, from the same registry.  The low byte of an id may carry a
 * sub-number; the name is that of the id with its low byte cleared,
 * followed by "+0xSS" when the low byte is not 0.
 *   0x3C02nn00, nn = 0x01 to 0x11   the transaction function number nn,
 *                                   as tran_api_create_transaction
 *   0x14cc0000                      support-library class cc, as csgl_file
 *   0x14ccff00, ff not 0            function ff of class cc, as
 *                                   csgl_file::read; one without a
 *                                   trace point of its own as csgl_file::0x05
 *   0xC8110000                      debug_text: the debug level whose texts
 *                                   are text records (kind 0x07); a global
 *                                   formatter's debug writes the level
 *                                   itself as the id.  Exactly this value:
 *                                   it carries no sub-number.
 * Any other id, and any id of a class this table does not know, is unknown.
 *
 * Examples:
 *   trc entry tran_api_create_transaction text="conn 0x0804d2a8" type=0x03200000 id=0x3c020200 obj=0x00000000
 *   trc exit tran_api_create_transaction code=68 type=0x030b0000 id=0x3c020200 obj=0x00000000
 *   trc created csgl_sync_lock_private - type=0x021e0000 id=0x14120000 obj=0x0804c1a0
 *   trc text debug_text text="a debug text" type=0x03070000 id=0xc8110000 obj=0x00000000
 */
#define _POSIX_C_SOURCE 200809L

#include "host/trc.h"
#include "host/write_all.h"
#include "libutils/trace/trace_ids.h"

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

/* The names of the ids, from the library's registry: every function of the
 * transaction interface, every traced class of the support library, and
 * those of its functions that write records of their own. */
struct trc_name {
    unsigned long id;
    const char* name;
};

static const struct trc_name id_names[] = {
#define TRC_TRAN_API_NAME(number, function) { trace_id_##function, #function },
    TRACE_TRAN_API_FUNCTIONS(TRC_TRAN_API_NAME)
#undef TRC_TRAN_API_NAME
#define TRC_CLASS_NAME(number, class_) { trace_id_##class_, #class_ },
    TRACE_SUPPORT_CLASSES(TRC_CLASS_NAME)
#undef TRC_CLASS_NAME
#define TRC_FUNCTION_NAME(class_, number, function) \
    { trace_id_##class_##_##function, #class_ "::" #function },
    TRACE_SUPPORT_FUNCTIONS(TRC_FUNCTION_NAME)
#undef TRC_FUNCTION_NAME
};

/* The name of `id` exactly, or null. */
static const char* find_name(unsigned long id)
{
    size_t i;

    for (i = 0; i < sizeof id_names / sizeof *id_names; ++i)
        if (id_names[i].id == id)
            return id_names[i].name;
    return NULL;
}

/* Writes the name of `id` (see "Names" above), at most 40 bytes, to `out`;
 * returns the end of what was written. */
static char* id_name(char* out, unsigned long id)
{
    const unsigned long sub = id & 0xFF;
    const unsigned long class_id = id & ~0xFFFFUL;
    const char* name = find_name(id - sub);
    const char* class_name;
    char* end;

    if (id == trace_debug_text_level)
        return out + sprintf(out, "debug_text");
    if (name != NULL) {
        end = out + sprintf(out, "%s", name);
    } else if (class_id >> 24 == (unsigned long)trace_support_base >> 24 &&
               (class_name = find_name(class_id)) != NULL) {
        /* A function of a known class without a trace point of its own. */
        end = out + sprintf(out, "%s::0x%02lx", class_name, (id >> 8) & 0xFF);
    } else {
        return out + sprintf(out, "unknown");
    }
    if (sub != 0)
        end += sprintf(end, "+0x%02lx", sub);
    return end;
}

/* The name of a record kind, from the registry; any other as kind-0xNN in
 * `spare`. */
static const char* kind_name(unsigned int kind, char* spare)
{
    switch (kind) {
#define TRC_KIND_NAME(value, identifier, name) \
    case value:                               \
        return name;
        TRACE_RECORD_KINDS(TRC_KIND_NAME)
#undef TRC_KIND_NAME
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

    /* The kind, the name (at most 40 bytes), the data field's label and
     * quotes, the three numbers (at most 30 bytes each), the line end. */
    needed = 200 + (has_data ? 4 * (size_t)length : 0);
    if (needed > sizeof local) {
        line = malloc(needed);
        if (line == NULL)
            return -1;
    }

    end = line + sprintf(line, "trc %s ", kind_name(kind, spare));
    end = id_name(end, id);
    *end++ = ' ';
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
    end += sprintf(end, " type=0x%08lx id=0x%08lx obj=0x%0*lx\n", type, id,
                   (int)(2 * sizeof(void*)), (unsigned long)(uintptr_t)object);

    result = emit_line(line, (size_t)(end - line));
    if (line != local)
        free(line);
    return result;
}
