/* The transaction system's C interface.
 *
 * The directory server registers a transaction when a client starts one on
 * its connection, removes it when it ends, and from time to time sweeps out
 * the transactions older than the time limit, receiving their connections
 * as a list.  All functions work on the library's one transaction table.
 *
 * Results are LDAP result codes, named by enum tran_api_result below.  After
 * a result other than TRAN_API_SUCCESS the text of the error is
 * tran_api_system_err(); success leaves that text in place.
 *
 * Call tran_api_system_init once, before anything else.  Afterwards every
 * function may be called from any thread.  Registration, removal and the
 * sweep take the system mutex themselves: a thread holding it through
 * tran_api_system_lock must release it before calling them.
 *
 * Every function is traced through the host trace service (host/trc.h).
 * Valid C (C99 and later) and C++. */
#ifndef LIBTRANSYS_TRAN_API_H
#define LIBTRANSYS_TRAN_API_H

#include "host/connection.h"
#include "libutils/base/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The results of the functions that report success or failure: LDAP result
 * codes, with their LDAP names.  The functions return them as int. */
enum tran_api_result {
    /* success: the operation was done */
    TRAN_API_SUCCESS = 0,
    /* operationsError: the system mutex could not be created, or the system
     * is used before tran_api_system_init */
    TRAN_API_OPERATIONS_ERROR = 1,
    /* sizeLimitExceeded: the table already holds the transaction limit */
    TRAN_API_SIZE_LIMIT_EXCEEDED = 4,
    /* entryAlreadyExists: the connection already has a transaction */
    TRAN_API_ENTRY_ALREADY_EXISTS = 68,
    /* other: an exception while the table changed */
    TRAN_API_OTHER = 80
};

/* The catalogue message printed through the host's PrintMessage when a
 * registration is refused with TRAN_API_SIZE_LIMIT_EXCEEDED, after the
 * system mutex is released: PrintMessage(TRAN_API_LIMIT_MESSAGE_SELECTOR1,
 * TRAN_API_LIMIT_MESSAGE_SELECTOR2, TRAN_API_LIMIT_MESSAGE, limit), the
 * transaction limit as its one int insert. */
enum tran_api_limit_message {
    TRAN_API_LIMIT_MESSAGE_SELECTOR1 = 0,
    TRAN_API_LIMIT_MESSAGE_SELECTOR2 = 2,
    TRAN_API_LIMIT_MESSAGE = 153
};

/* One node of a list of connections.  Nodes are allocated with calloc and
 * released with free, so a list may be released by C code of the host; a
 * node never owns the connection it points to. */
typedef struct tran_api_conn_list {
    _Connection* conn;
    struct tran_api_conn_list* next;
} tran_api_conn_list;

/* Creates the system mutex: TRAN_API_SUCCESS, or TRAN_API_OPERATIONS_ERROR
 * when that fails.  A second call keeps the mutex and succeeds. */
TRANSYS_EXPORT int tran_api_system_init(void);

/* Registers a transaction for `conn` under its connection id: any of the
 * five results.  The table keeps the pointer; `conn` must outlive the
 * entry. */
TRANSYS_EXPORT int tran_api_create_transaction(_Connection* conn);
/* Removes the transaction of connection `conn_id`: TRAN_API_SUCCESS (also
 * when there is none), TRAN_API_OPERATIONS_ERROR before
 * tran_api_system_init, or TRAN_API_OTHER. */
TRANSYS_EXPORT int tran_api_delete_transaction(int conn_id);

/* The three limits; any value is accepted.  The operation limit (default 5)
 * is stored for the server.  The transaction limit (default 20) bounds the
 * number of open transactions; 0 or a negative value means no limit.  The
 * time limit (default 300, in the unit of the server's times) bounds a
 * transaction's age; 0 means no time-out. */
TRANSYS_EXPORT void tran_api_set_maxop(int maxop);
TRANSYS_EXPORT void tran_api_set_maxnum(int maxnum);
TRANSYS_EXPORT void tran_api_set_tlimit(long tlimit);
TRANSYS_EXPORT int tran_api_system_maxop(void);
TRANSYS_EXPORT int tran_api_system_maxnum(void);
TRANSYS_EXPORT long tran_api_system_tlimit(void);

/* Takes and releases the system mutex (not recursive).  Failures only
 * change the last-error text. */
TRANSYS_EXPORT void tran_api_system_lock(void);
TRANSYS_EXPORT void tran_api_system_unlock(void);

/* Replaces the last-error text with a copy of `text` (null: empty). */
TRANSYS_EXPORT void tran_api_set_err(const char* text);
/* The last-error text, never null; valid until the text is next replaced.
 * Not to be freed. */
TRANSYS_EXPORT const char* tran_api_system_err(void);

/* Removes every transaction whose age, now minus its time stamp in signed
 * 32-bit arithmetic, is greater than the time limit, and returns their
 * connections in descending connection id; the removals run in that order.
 * Null when none timed out, and when a node could not be allocated (then
 * nothing is removed).  The caller releases the list with
 * tran_api_conn_list_delete.  The walk, the list and the removals happen
 * under one hold of the system mutex: registrations and removals of other
 * threads wait for the whole sweep, so the sweep removes exactly the
 * transactions it found timed out, and one registered after it is never
 * touched by it.  Each removal is traced as a call of
 * tran_api_delete_transaction. */
TRANSYS_EXPORT tran_api_conn_list* tran_api_timeout_transactions(long now);

/* A new node for `conn` with no successor, or null when out of memory. */
TRANSYS_EXPORT tran_api_conn_list* tran_api_conn_list_new(_Connection* conn);
/* Puts `node` at the front of `*head`: 0, or -1 when either is null. */
TRANSYS_EXPORT int tran_api_conn_list_insert(tran_api_conn_list** head,
                                              tran_api_conn_list* node);
/* Releases every node of the list; null does nothing. */
TRANSYS_EXPORT void tran_api_conn_list_delete(tran_api_conn_list* head);

#ifdef __cplusplus
}
#endif

#endif
