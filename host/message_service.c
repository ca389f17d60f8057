/* Stand-in for the host message service.
 *
 * Messages come from a small built-in catalogue of {number, format}.  A
 * format knows three conversions: %d takes an int insert, %s a const char*
 * insert (a null pointer prints as "(null)"), %% prints a percent sign.  The
 * inserts are read from the argument list exactly as the entry's format
 * asks for them, so a caller must pass what the entry expects:
 *
 *     1   "%s: line %d: %s"                 name, line, ten texts
 *     2   "%s: line %d: %s: %s"             name, line, ten texts
 *     3   "%s: line %d: not enough memory"  name, line, ten texts
 *     4   "%s: line %d: cannot open %s"     name, line, ten texts
 *     10  "%s"                              ten texts
 *     11  "entry %s has %s values"          ten texts
 *     153 "The number of open transactions has reached the limit of %d."
 *                                           one int, the transaction limit
 *
 * Entries 1 to 4 serve catalogue messages logged with a positive number
 * (source name, line, then ten parameter texts, of which the entry uses the
 * first few), 10 and 11 those logged with a negative number (ten texts).
 * A number not in the catalogue produces "message N is not in the catalogue"
 * and reads no inserts.
 *
 * PrintMessage writes one line to standard error:
 *     MSG0153 (0,2): The number of open transactions has reached the limit of 20.
 * that is "MSG", the number in at least 4 digits, the two selectors, and
 * the message text.  getPrintedMessage writes the bare message text, without
 * that prefix and without a line end, into the caller's buffer; it never
 * writes more than `capacity` bytes, the terminating NUL included, and
 * truncates a longer text (capacity 0 writes nothing).
 *
 * PrintDebugVa writes "DBG 0xLLLLLLLL: " followed by the text formatted
 * with printf rules, and a line end unless the text already ends in one.
 *
 * Results: 0 on success; -1 when the number is not in the catalogue (its
 * fixed text is still produced), when getPrintedMessage had to truncate,
 * or when the line could not be written.
 *
 * Every line goes out with a single write(2) under a mutex, so concurrent
 * callers never interleave their lines.
 */
#define _POSIX_C_SOURCE 200809L

#include "host/message.h"
#include "host/write_all.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct catalogue_entry {
    int number;
    const char* format;
};

static const struct catalogue_entry catalogue[] = {
    { 1, "%s: line %d: %s" },
    { 2, "%s: line %d: %s: %s" },
    { 3, "%s: line %d: not enough memory" },
    { 4, "%s: line %d: cannot open %s" },
    { 10, "%s" },
    { 11, "entry %s has %s values" },
    { 153, "The number of open transactions has reached the limit of %d." },
};

static pthread_mutex_t message_lock = PTHREAD_MUTEX_INITIALIZER;

/* Texts up to this size are built on the stack. */
#define MESSAGE_LOCAL_LINE 1024

static const char* catalogue_format(int number)
{
    size_t i;
    for (i = 0; i < sizeof catalogue / sizeof catalogue[0]; ++i)
        if (catalogue[i].number == number)
            return catalogue[i].format;
    return NULL;
}

/* A bounded output area: like snprintf, it keeps at most `capacity` - 1
 * bytes plus a NUL and counts the length the whole text needs. */
struct sink {
    char* out;
    size_t capacity;
    size_t length;
};

static void put(struct sink* s, const char* text, size_t n)
{
    if (s->length + 1 < s->capacity) {
        size_t room = s->capacity - 1 - s->length;
        memcpy(s->out + s->length, text, n < room ? n : room);
    }
    s->length += n;
}

/* Formats catalogue message `number` with the inserts in `inserts`.
 * Returns the length of the whole text; sets *known to 0 for a number that
 * is not in the catalogue. */
static size_t format_message(char* out, size_t capacity, int number,
                             va_list inserts, int* known)
{
    const char* format = catalogue_format(number);
    struct sink s;
    const char* p;

    *known = format != NULL;
    if (format == NULL) {
        int n = snprintf(out, capacity, "message %d is not in the catalogue",
                         number);
        return n < 0 ? 0 : (size_t)n;
    }

    s.out = out;
    s.capacity = capacity;
    s.length = 0;
    for (p = format; *p != '\0'; ++p) {
        if (*p != '%' || p[1] == '\0') {
            put(&s, p, 1);
        } else if (*++p == 'd') {
            char number_text[16];
            int n = sprintf(number_text, "%d", va_arg(inserts, int));
            put(&s, number_text, (size_t)n);
        } else if (*p == 's') {
            const char* text = va_arg(inserts, const char*);
            if (text == NULL)
                text = "(null)";
            put(&s, text, strlen(text));
        } else {
            put(&s, p, 1); /* "%%" and anything unexpected print as is */
        }
    }
    if (capacity > 0)
        out[s.length < capacity ? s.length : capacity - 1] = '\0';
    return s.length;
}

static int emit_line(const char* line, size_t length)
{
    int result;

    pthread_mutex_lock(&message_lock);
    result = host_write_all(fileno(stderr), line, length);
    pthread_mutex_unlock(&message_lock);
    return result;
}

int PrintMessage(int selector1, int selector2, int number, ...)
{
    char local[MESSAGE_LOCAL_LINE];
    char* line = local;
    size_t prefix, room, length;
    va_list inserts, again;
    int known, result;

    prefix = (size_t)sprintf(local, "MSG%04d (%d,%d): ", number, selector1,
                             selector2);
    room = sizeof local - prefix - 1; /* 1 byte kept for the line end */

    va_start(inserts, number);
    va_copy(again, inserts);
    length = format_message(local + prefix, room, number, inserts, &known);
    if (length >= room) {
        line = malloc(prefix + length + 2);
        if (line != NULL) {
            memcpy(line, local, prefix);
            format_message(line + prefix, length + 1, number, again, &known);
        }
    }
    va_end(again);
    va_end(inserts);
    if (line == NULL)
        return -1;

    line[prefix + length] = '\n';
    result = emit_line(line, prefix + length + 1);
    if (line != local)
        free(line);
    return result == 0 && known ? 0 : -1;
}

int getPrintedMessage(char* buffer, unsigned int capacity, int selector1,
                      int selector2, int number, ...)
{
    va_list inserts;
    size_t length;
    int known;

    (void)selector1;
    (void)selector2;
    if (buffer == NULL)
        capacity = 0;

    va_start(inserts, number);
    length = format_message(buffer, capacity, number, inserts, &known);
    va_end(inserts);
    return known && length < capacity ? 0 : -1;
}

int PrintDebugVa(unsigned long level, const char* format, va_list args)
{
    char local[MESSAGE_LOCAL_LINE];
    char* line = local;
    size_t prefix, room, length;
    va_list again;
    int n, result;

    prefix = (size_t)sprintf(local, "DBG 0x%08lx: ", level);
    room = sizeof local - prefix - 1; /* 1 byte kept for the line end */

    va_copy(again, args);
    n = vsnprintf(local + prefix, room, format, again);
    va_end(again);
    if (n < 0)
        return -1;
    length = (size_t)n;
    if (length >= room) {
        line = malloc(prefix + length + 2);
        if (line == NULL)
            return -1;
        memcpy(line, local, prefix);
        va_copy(again, args);
        vsnprintf(line + prefix, length + 1, format, again);
        va_end(again);
    }

    length += prefix;
    if (line[length - 1] != '\n')
        line[length++] = '\n';
    result = emit_line(line, length);
    if (line != local)
        free(line);
    return result;
}
