/* What one connection of the load generator saw: the latency of each
 * committed transaction and every result code of every request, counted;
 * records of several connections merge into one for the report. */
#ifndef TOOLS_LOADGEN_RUN_RECORD_H
#define TOOLS_LOADGEN_RUN_RECORD_H

#include <stddef.h>

/* The requests of a transaction, as the report names them. */
enum request_kind { request_start, request_update, request_end, request_abort, request_kinds };

struct result_count {
    enum request_kind request;
    int code;  /* an LDAP result code, or one of libldap's negative codes */
    long count;
};

/* Owns its arrays; used by one thread at a time.  Every function that
 * grows it returns 0, or -1 when memory ran out (the record is unchanged
 * then). */
struct run_record {
    double* latencies;  /* seconds, of committed transactions */
    size_t latency_count, latency_capacity;
    struct result_count* results;
    size_t result_count, result_capacity;
    long committed;      /* End Transaction answered with 0 */
    long not_committed;  /* refused, failed or aborted on the way */
};

void run_record_init(struct run_record* record);
void run_record_free(struct run_record* record);

int run_record_latency(struct run_record* record, double seconds);
int run_record_result(struct run_record* record, enum request_kind request, int code,
                      long count);
/* Adds everything `from` holds to `into`. */
int run_record_merge(struct run_record* into, const struct run_record* from);

/* Sorts the results by request and code and the latencies. */
void run_record_sort(struct run_record* record);
/* The nearest-rank percentile of the sorted latencies (0 < fraction <= 1);
 * 0 when there are none. */
double run_record_percentile(const struct run_record* record, double fraction);

#endif
