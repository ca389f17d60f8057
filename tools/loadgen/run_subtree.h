/* The subtree one run works in: an organizational unit under --base with
 * a name no other run has, the entries of the run below it, and its
 * removal, so that runs can repeat against one directory. */
#ifndef TOOLS_LOADGEN_RUN_SUBTREE_H
#define TOOLS_LOADGEN_RUN_SUBTREE_H

#include <ldap.h>
#include <stddef.h>

#include "tools/loadgen/loadgen_flags.h"

enum { subtree_dn_size = 512 };

/* The cn and the DN of an entry of the run: for adds, update `update` of
 * transaction `transaction` of connection `connection`; for modifies,
 * entry `update` of the connection (transaction is ignored). */
void subtree_entry(char* cn, size_t cn_size, char* dn, size_t dn_size, const char* subtree,
                   enum update_kind kind, int connection, long transaction, int update);

/* Adds ou=loadgen-PID-TIME under flags->base and writes its DN into
 * subtree[subtree_dn_size]; for modifies, also the connections' entries.
 * The LDAP code of the first failure, or 0. */
int subtree_create(LDAP* session, const struct loadgen_flags* flags, char* subtree);

/* Deletes every entry below `subtree` and then the subtree itself,
 * keeping at most `window` deletes outstanding.  The number of entries
 * deleted, the subtree included; -1 with *code set on a failure. */
long subtree_remove(LDAP* session, const char* subtree, int window, int* code);

#endif
