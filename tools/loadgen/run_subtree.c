#define _POSIX_C_SOURCE 200809L

#include "tools/loadgen/run_subtree.h"

#include "tools/loadgen/ldap_session.h"

#include <stdio.h>
#include <time.h>
#include <unistd.h>

void subtree_entry(char* cn, size_t cn_size, char* dn, size_t dn_size, const char* subtree,
                   enum update_kind kind, int connection, long transaction, int update)
{
    if (kind == update_add)
        snprintf(cn, cn_size, "c%d-t%ld-u%d", connection, transaction, update);
    else
        snprintf(cn, cn_size, "c%d-u%d", connection, update);
    snprintf(dn, dn_size, "cn=%s,%s", cn, subtree);
}

static int add_unit(LDAP* session, const char* dn, char* name)
{
    static char object_class[] = "objectClass", unit_class[] = "organizationalUnit";
    static char ou[] = "ou";
    char* classes[] = { unit_class, NULL };
    char* names[] = { name, NULL };
    LDAPMod class_mod = { LDAP_MOD_ADD, object_class, { classes } };
    LDAPMod name_mod = { LDAP_MOD_ADD, ou, { names } };
    LDAPMod* attributes[] = { &class_mod, &name_mod, NULL };
    return ldap_add_ext_s(session, dn, attributes, NULL, NULL);
}

int subtree_create(LDAP* session, const struct loadgen_flags* flags, char* subtree)
{
    char unit[64];
    struct timespec now;
    int code;
    int connection, update;

    clock_gettime(CLOCK_REALTIME, &now);
    snprintf(unit, sizeof unit, "loadgen-%ld-%lld%09ld", (long)getpid(), (long long)now.tv_sec,
             now.tv_nsec);
    if (snprintf(subtree, subtree_dn_size, "ou=%s,%s", unit, flags->base) >= subtree_dn_size)
        return LDAP_PARAM_ERROR;
    code = add_unit(session, subtree, unit);
    if (code != LDAP_SUCCESS || flags->kind != update_modify)
        return code;
    for (connection = 0; connection < flags->connections; ++connection) {
        for (update = 0; update < flags->updates; ++update) {
            char cn[64], dn[subtree_dn_size + 64];
            subtree_entry(cn, sizeof cn, dn, sizeof dn, subtree, flags->kind, connection, 0,
                          update);
            code = session_add(session, dn, cn, NULL);
            if (code != LDAP_SUCCESS)
                return code;
        }
    }
    return LDAP_SUCCESS;
}

/* Waits for one delete's result: its code, or libldap's on a failure. */
static int delete_result(LDAP* session)
{
    LDAPMessage* answer = NULL;
    int code = LDAP_SUCCESS;
    const int type = ldap_result(session, LDAP_RES_ANY, LDAP_MSG_ONE, NULL, &answer);

    if (type <= 0) {
        ldap_get_option(session, LDAP_OPT_RESULT_CODE, &code);
        return code != LDAP_SUCCESS ? code : LDAP_TIMEOUT;
    }
    if (ldap_parse_result(session, answer, &code, NULL, NULL, NULL, NULL, 1) != LDAP_SUCCESS)
        ldap_get_option(session, LDAP_OPT_RESULT_CODE, &code);
    return code;
}

long subtree_remove(LDAP* session, const char* subtree, int window, int* code)
{
    static char no_attributes[] = LDAP_NO_ATTRS;
    char* attributes[] = { no_attributes, NULL };
    LDAPMessage* found = NULL;
    LDAPMessage* entry;
    long deleted = 0;
    int outstanding = 0;

    *code = ldap_search_ext_s(session, subtree, LDAP_SCOPE_ONELEVEL, "(objectClass=*)",
                              attributes, 0, NULL, NULL, NULL, LDAP_NO_LIMIT, &found);
    for (entry = *code == LDAP_SUCCESS ? ldap_first_entry(session, found) : NULL;
         entry != NULL && *code == LDAP_SUCCESS; entry = ldap_next_entry(session, entry)) {
        char* dn = ldap_get_dn(session, entry);
        int id = 0;
        *code = dn == NULL ? LDAP_NO_MEMORY : ldap_delete_ext(session, dn, NULL, NULL, &id);
        ldap_memfree(dn);
        if (*code == LDAP_SUCCESS && ++outstanding == window) {
            --outstanding;
            *code = delete_result(session);
            deleted += *code == LDAP_SUCCESS;
        }
    }
    ldap_msgfree(found);
    /* What is still outstanding is collected also after a failure, unless
     * the connection itself failed. */
    while (outstanding > 0 && !session_lost(*code)) {
        const int result = delete_result(session);
        --outstanding;
        deleted += result == LDAP_SUCCESS;
        if (*code == LDAP_SUCCESS)
            *code = result;
    }
    if (*code != LDAP_SUCCESS)
        return -1;
    *code = ldap_delete_ext_s(session, subtree, NULL, NULL);
    return *code == LDAP_SUCCESS ? deleted + 1 : -1;
}
