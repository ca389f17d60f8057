/* Host message service: prints numbered catalogue messages with insert
 * values, formats them into a caller's buffer, and prints debug texts. */
#ifndef HOST_MESSAGE_H
#define HOST_MESSAGE_H

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Prints catalogue message `number`; the inserts follow as the catalogue
 * entry expects them. */
int PrintMessage(int selector1, int selector2, int number, ...);

/* Formats the same message into `buffer`, never writing more than
 * `capacity` bytes (terminating NUL included). */
int getPrintedMessage(char* buffer, unsigned int capacity,
                      int selector1, int selector2, int number, ...);

/* Prints a debug text at a debug level. */
int PrintDebugVa(unsigned long level, const char* format, va_list args);

#ifdef __cplusplus
}
#endif

#endif
