/* Host trace service: the event mask and the record writer that the
 * library's trace front-ends call.  The host owns the service; the library
 * only reads trcEvents and hands records to trcWriteRec. */
#ifndef HOST_TRC_H
#define HOST_TRC_H

#ifdef __cplusplus
extern "C" {
#endif

/* 32-bit event mask; each bit switches one class of record on. */
extern unsigned int trcEvents;

int trcInit(void);

/* Writes one record.  `data` holds `length` bytes: none, a text without its
 * NUL, or a 4-byte code in host byte order.  The last four are always 0. */
int trcWriteRec(unsigned long type, unsigned long id, const void* object,
                unsigned long length, const void* data,
                unsigned long, unsigned long, unsigned long, unsigned long);

#ifdef __cplusplus
}
#endif

#endif
