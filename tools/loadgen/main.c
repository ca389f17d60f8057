/* transys-loadgen: load on an LDAP directory or on transys-gateway in
 * front of one.  K client connections, each a thread on libldap, run
 * transactions of M adds or modifies (Start Transaction, the updates with
 * the transaction control, End Transaction with commit)
 * until N transactions in all were begun or S seconds have passed; then
 * the run's subtree is removed and the report printed: transactions per
 * second, the latency of a whole committed transaction at p50 and p99, and
 * every result code seen, counted.  See docs/gateway.md. */
#define _POSIX_C_SOURCE 200809L

#include "tools/loadgen/ldap_session.h"
#include "tools/loadgen/loadgen_flags.h"
#include "tools/loadgen/run_record.h"
#include "tools/loadgen/run_subtree.h"
#include "tools/loadgen/worker.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { exit_failed = 1, exit_bad_flags = 2, delete_window = 64 };

static const char* request_name(enum request_kind request, enum update_kind kind)
{
    static const char* const names[request_kinds] = { "start", NULL, "end", "abort" };
    if (request == request_update)
        return kind == update_add ? "add" : "modify";
    return names[request];
}

static void print_report(const struct loadgen_flags* flags, struct run_record* all,
                         double elapsed)
{
    size_t i;

    run_record_sort(all);
    printf("run: %.3f s, %ld transactions committed, %ld not committed\n", elapsed,
           all->committed, all->not_committed);
    printf("throughput: %.2f transactions per second\n",
           elapsed > 0 ? (double)all->committed / elapsed : 0.0);
    printf("latency of a transaction: p50 %.3f ms, p99 %.3f ms\n",
           run_record_percentile(all, 0.50) * 1e3, run_record_percentile(all, 0.99) * 1e3);
    printf("results:\n");
    for (i = 0; i < all->result_count; ++i) {
        const struct result_count* seen = &all->results[i];
        printf("  %s %d %s: %ld\n", request_name(seen->request, flags->kind), seen->code,
               ldap_err2string(seen->code), seen->count);
    }
}

/* Runs the workers and merges what they saw into *all: 0, or exit_failed
 * when a connection could not be opened, failed on the way, or memory ran
 * out. */
static int run_workers(const struct loadgen_flags* flags, const char* subtree,
                       struct run_record* all, double* elapsed)
{
    const int count = flags->connections;
    struct worker* workers = calloc((size_t)count, sizeof *workers);
    struct run_control control;
    int status = 0;
    int started = 0;
    double begun;
    int i;

    if (workers == NULL) {
        fprintf(stderr, "transys-loadgen: out of memory\n");
        return exit_failed;
    }
    pthread_barrier_init(&control.ready, NULL, (unsigned)count + 1);
    pthread_barrier_init(&control.go, NULL, (unsigned)count + 1);
    atomic_init(&control.claimed, 0);
    control.limit = flags->transactions;
    control.deadline = 0;
    for (i = 0; i < count; ++i) {
        workers[i].flags = flags;
        workers[i].subtree = subtree;
        workers[i].connection = i;
        workers[i].control = &control;
        if (pthread_create(&workers[i].thread, NULL, worker_run, &workers[i]) != 0) {
            fprintf(stderr, "transys-loadgen: cannot start thread %d\n", i);
            exit(exit_failed);  /* the others wait at the barrier for ever */
        }
        ++started;
    }
    pthread_barrier_wait(&control.ready);
    begun = monotonic_seconds();
    control.deadline = flags->seconds > 0 ? begun + flags->seconds : 0;
    pthread_barrier_wait(&control.go);
    for (i = 0; i < started; ++i)
        pthread_join(workers[i].thread, NULL);
    *elapsed = monotonic_seconds() - begun;

    for (i = 0; i < started; ++i) {
        const struct worker* w = &workers[i];
        if (w->open_code != LDAP_SUCCESS) {
            fprintf(stderr, "transys-loadgen: connection %d: cannot bind: %d %s\n", i,
                    w->open_code, ldap_err2string(w->open_code));
            status = exit_failed;
        } else if (w->lost_code != 0) {
            fprintf(stderr, "transys-loadgen: connection %d: lost: %d %s\n", i, w->lost_code,
                    ldap_err2string(w->lost_code));
            status = exit_failed;
        }
        if (w->out_of_memory || run_record_merge(all, &w->record) != 0) {
            fprintf(stderr, "transys-loadgen: out of memory\n");
            status = exit_failed;
        }
        run_record_free(&workers[i].record);
    }
    pthread_barrier_destroy(&control.ready);
    pthread_barrier_destroy(&control.go);
    free(workers);
    return status;
}

int main(int argc, char** argv)
{
    struct loadgen_flags flags;
    char error[512];
    char subtree[subtree_dn_size];
    struct run_record all;
    LDAP* setup = NULL;
    double elapsed = 0;
    long removed;
    int status, code;

    /* A connection the server closes must end as an error of its own,
     * not the process: libldap writes (an unbind, say) without
     * MSG_NOSIGNAL. */
    signal(SIGPIPE, SIG_IGN);
    switch (loadgen_parse_flags(argc, argv, &flags, error, sizeof error)) {
    case 0:
        break;
    case 1:
        fputs(loadgen_usage(), stdout);
        return 0;
    default:
        fprintf(stderr, "transys-loadgen: %s (try --help)\n", error);
        return exit_bad_flags;
    }
    code = session_open(&flags, &setup);
    if (code != LDAP_SUCCESS) {
        fprintf(stderr, "transys-loadgen: %s: cannot bind as %s: %d %s\n", flags.uri,
                flags.bind_dn, code, ldap_err2string(code));
        return exit_failed;
    }
    code = subtree_create(setup, &flags, subtree);
    if (code != LDAP_SUCCESS) {
        fprintf(stderr, "transys-loadgen: cannot make the run's entries under %s: %d %s\n",
                flags.base, code, ldap_err2string(code));
        subtree_remove(setup, subtree, delete_window, &code);
        session_close(setup);
        return exit_failed;
    }
    printf("transys-loadgen: %d connections to %s, transactions of %d %s, in %s\n",
           flags.connections, flags.uri, flags.updates,
           flags.kind == update_add ? "adds" : "modifies", subtree);
    fflush(stdout);

    run_record_init(&all);
    status = run_workers(&flags, subtree, &all, &elapsed);
    print_report(&flags, &all, elapsed);
    run_record_free(&all);

    removed = subtree_remove(setup, subtree, delete_window, &code);
    if (removed < 0) {
        fprintf(stderr, "transys-loadgen: cannot remove %s: %d %s\n", subtree, code,
                ldap_err2string(code));
        status = exit_failed;
    } else {
        printf("cleanup: %ld entries deleted\n", removed);
    }
    session_close(setup);
    return status;
}
