/* The host server's connection record, as far as the library reads it. */
#ifndef HOST_CONNECTION_H
#define HOST_CONNECTION_H

typedef struct _Connection {
    int   conn_id;      /* connection id */
    long  txn_stamp;    /* transaction time stamp */
    char* conn_text;    /* NUL-terminated connection text */
} _Connection;

#endif
