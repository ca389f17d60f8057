#define _POSIX_C_SOURCE 200809L

#include "tools/loadgen/worker.h"

#include "tools/loadgen/ldap_session.h"
#include "tools/loadgen/run_subtree.h"

#include <stdio.h>
#include <time.h>

double monotonic_seconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* A refused Start Transaction (the gateway's limit, say) is retried after
 * this pause rather than at once. */
static const struct timespec refused_pause = { 0, 1000000 };

static void note(struct worker* w, enum request_kind request, int code)
{
    if (run_record_result(&w->record, request, code, 1) != 0)
        w->out_of_memory = 1;
}

/* Claims the next transaction: 1, or 0 when the count or the time is up. */
static int claim(struct run_control* control)
{
    if (control->deadline > 0 && monotonic_seconds() >= control->deadline)
        return 0;
    return control->limit == 0 || atomic_fetch_add(&control->claimed, 1) < control->limit;
}

/* The updates of transaction `transaction`: LDAP_SUCCESS, or the first
 * code that was not. */
static int run_updates(struct worker* w, LDAP* session, long transaction,
                       const struct berval* identifier)
{
    const struct loadgen_flags* flags = w->flags;
    int update;

    for (update = 0; update < flags->updates; ++update) {
        char cn[64], dn[subtree_dn_size + 64], value[32];
        int code;
        subtree_entry(cn, sizeof cn, dn, sizeof dn, w->subtree, flags->kind, w->connection,
                      transaction, update);
        if (flags->kind == update_add) {
            code = session_add(session, dn, cn, identifier);
        } else {
            snprintf(value, sizeof value, "t%ld", transaction);
            code = session_modify(session, dn, value, identifier);
        }
        note(w, request_update, code);
        if (code != LDAP_SUCCESS)
            return code;
    }
    return LDAP_SUCCESS;
}

/* One transaction from start to end; its last code. */
static int run_transaction(struct worker* w, LDAP* session, long transaction)
{
    const double started = monotonic_seconds();
    struct berval* identifier = NULL;
    int code = session_start(session, &identifier);

    note(w, request_start, code);
    if (code == LDAP_SUCCESS) {
        code = run_updates(w, session, transaction, identifier);
        if (code == LDAP_SUCCESS) {
            code = session_end(session, 1, identifier);
            note(w, request_end, code);
            if (code == LDAP_SUCCESS) {
                ++w->record.committed;
                if (run_record_latency(&w->record, monotonic_seconds() - started) != 0)
                    w->out_of_memory = 1;
            }
        } else if (!session_lost(code)) {
            /* An update was refused: the transaction is given up. */
            code = session_end(session, 0, identifier);
            note(w, request_abort, code);
            code = session_lost(code) ? code : LDAP_OTHER;
        }
    } else if (!session_lost(code)) {
        nanosleep(&refused_pause, NULL);
    }
    if (code != LDAP_SUCCESS)
        ++w->record.not_committed;
    session_identifier_free(identifier);
    return code;
}

void* worker_run(void* argument)
{
    struct worker* w = argument;
    LDAP* session = NULL;
    long transaction;

    run_record_init(&w->record);
    w->open_code = session_open(w->flags, &session);
    pthread_barrier_wait(&w->control->ready);
    pthread_barrier_wait(&w->control->go);
    for (transaction = 0; session != NULL && !w->out_of_memory && claim(w->control);
         ++transaction) {
        const int code = run_transaction(w, session, transaction);
        if (session_lost(code)) {
            w->lost_code = code;
            break;
        }
    }
    session_close(session);
    return NULL;
}
