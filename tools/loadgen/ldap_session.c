#define _POSIX_C_SOURCE 200809L

#include "tools/loadgen/ldap_session.h"

#include <string.h>
#include <sys/time.h>

int session_lost(int code)
{
    return code < 0;
}

static struct timeval seconds_value(double seconds)
{
    struct timeval value;
    value.tv_sec = (time_t)seconds;
    value.tv_usec = (suseconds_t)((seconds - (double)value.tv_sec) * 1e6);
    return value;
}

int session_open(const struct loadgen_flags* flags, LDAP** session)
{
    const int version = LDAP_VERSION3;
    const struct timeval limit = seconds_value(flags->timeout);
    struct berval password;
    LDAP* opened = NULL;
    int code;

    *session = NULL;
    code = ldap_initialize(&opened, flags->uri);
    if (code != LDAP_SUCCESS)
        return code;
    ldap_set_option(opened, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(opened, LDAP_OPT_NETWORK_TIMEOUT, &limit);
    ldap_set_option(opened, LDAP_OPT_TIMEOUT, &limit);
    ldap_set_option(opened, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    password.bv_val = (char*)flags->password;
    password.bv_len = strlen(flags->password);
    code = ldap_sasl_bind_s(opened, flags->bind_dn, LDAP_SASL_SIMPLE, &password, NULL, NULL, NULL);
    if (code != LDAP_SUCCESS) {
        ldap_unbind_ext_s(opened, NULL, NULL);
        return code;
    }
    *session = opened;
    return LDAP_SUCCESS;
}

void session_close(LDAP* session)
{
    if (session != NULL)
        ldap_unbind_ext_s(session, NULL, NULL);
}

int session_start(LDAP* session, struct berval** identifier)
{
    struct berval* returned = NULL;
    const int code = ldap_txn_start_s(session, NULL, NULL, &returned);

    if (returned != NULL && returned->bv_val == NULL) {
        ber_bvfree(returned);
        returned = NULL;
    }
    if (returned == NULL)
        returned = ber_bvstrdup("");
    *identifier = returned;
    return returned == NULL ? LDAP_NO_MEMORY : code;
}

void session_identifier_free(struct berval* identifier)
{
    ber_bvfree(identifier);
}

/* The transaction control for `identifier`, on the stack:
 * critical, its value the identifier.  No control when `identifier` is
 * null. */
struct transaction_control {
    LDAPControl control;
    LDAPControl* list[2];
};

static LDAPControl** make_control(struct transaction_control* made,
                                  const struct berval* identifier)
{
    static char oid[] = LDAP_CONTROL_TXN_SPEC;
    if (identifier == NULL)
        return NULL;
    made->control.ldctl_oid = oid;
    made->control.ldctl_value = *identifier;
    made->control.ldctl_iscritical = 1;
    made->list[0] = &made->control;
    made->list[1] = NULL;
    return made->list;
}

int session_add(LDAP* session, const char* dn, const char* cn, const struct berval* identifier)
{
    static char object_class[] = "objectClass", person[] = "person";
    static char cn_name[] = "cn", sn_name[] = "sn", surname[] = "Loadgen";
    char* classes[] = { person, NULL };
    char* names[] = { (char*)cn, NULL };
    char* surnames[] = { surname, NULL };
    LDAPMod class_mod = { LDAP_MOD_ADD, object_class, { classes } };
    LDAPMod cn_mod = { LDAP_MOD_ADD, cn_name, { names } };
    LDAPMod sn_mod = { LDAP_MOD_ADD, sn_name, { surnames } };
    LDAPMod* attributes[] = { &class_mod, &cn_mod, &sn_mod, NULL };
    struct transaction_control control;

    return ldap_add_ext_s(session, dn, attributes, make_control(&control, identifier), NULL);
}

int session_modify(LDAP* session, const char* dn, const char* value,
                   const struct berval* identifier)
{
    static char description[] = "description";
    char* values[] = { (char*)value, NULL };
    LDAPMod replace = { LDAP_MOD_REPLACE, description, { values } };
    LDAPMod* changes[] = { &replace, NULL };
    struct transaction_control control;

    return ldap_modify_ext_s(session, dn, changes, make_control(&control, identifier), NULL);
}

int session_end(LDAP* session, int commit, struct berval* identifier)
{
    int failed_id = 0;
    return ldap_txn_end_s(session, commit, identifier, NULL, NULL, &failed_id);
}
