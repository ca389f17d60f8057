/* One client connection on libldap, and the requests of a transaction:
 * Start Transaction, an update carrying the transaction
 * control, End Transaction.  Every function returns what libldap returns:
 * an LDAP result code, or one of libldap's negative codes when the
 * connection failed (LDAP_SERVER_DOWN, LDAP_TIMEOUT, ...). */
#ifndef TOOLS_LOADGEN_LDAP_SESSION_H
#define TOOLS_LOADGEN_LDAP_SESSION_H

#include <ldap.h>

#include "tools/loadgen/loadgen_flags.h"

/* True for the codes after which the connection is of no further use. */
int session_lost(int code);

/* Opens a connection to flags->uri and binds as flags->bind_dn, each
 * request bounded by flags->timeout seconds.  The code; *session is the
 * handle on success and null otherwise.  Release with session_close. */
int session_open(const struct loadgen_flags* flags, LDAP** session);
void session_close(LDAP* session);

/* The transaction identifier the directory returned; never null, and its
 * value is never null either (an empty identifier is "" rather than absent,
 * so that the control still carries it).  Release with
 * session_identifier_free. */
int session_start(LDAP* session, struct berval** identifier);
void session_identifier_free(struct berval* identifier);

/* Adds the entry `dn` (a person whose cn is `cn`), or replaces the
 * description of `dn` with `value`, within the transaction; outside any
 * when `identifier` is null. */
int session_add(LDAP* session, const char* dn, const char* cn, const struct berval* identifier);
int session_modify(LDAP* session, const char* dn, const char* value,
                   const struct berval* identifier);

/* Commits (commit 1) or aborts (0) the transaction. */
int session_end(LDAP* session, int commit, struct berval* identifier);

#endif
