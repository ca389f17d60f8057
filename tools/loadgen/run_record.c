#include "tools/loadgen/run_record.h"

#include <math.h>
#include <stdlib.h>

void run_record_init(struct run_record* record)
{
    const struct run_record empty = { NULL, 0, 0, NULL, 0, 0, 0, 0 };
    *record = empty;
}

void run_record_free(struct run_record* record)
{
    free(record->latencies);
    free(record->results);
    run_record_init(record);
}

/* Makes room for one more element of `size` bytes in *array. */
static int reserve(void** array, size_t count, size_t* capacity, size_t size)
{
    void* grown;
    size_t wanted;

    if (count < *capacity)
        return 0;
    wanted = *capacity == 0 ? 256 : *capacity * 2;
    grown = realloc(*array, wanted * size);
    if (grown == NULL)
        return -1;
    *array = grown;
    *capacity = wanted;
    return 0;
}

int run_record_latency(struct run_record* record, double seconds)
{
    if (reserve((void**)&record->latencies, record->latency_count, &record->latency_capacity,
                sizeof *record->latencies) != 0)
        return -1;
    record->latencies[record->latency_count++] = seconds;
    return 0;
}

int run_record_result(struct run_record* record, enum request_kind request, int code, long count)
{
    size_t i;

    for (i = 0; i < record->result_count; ++i) {
        struct result_count* known = &record->results[i];
        if (known->request == request && known->code == code) {
            known->count += count;
            return 0;
        }
    }
    if (reserve((void**)&record->results, record->result_count, &record->result_capacity,
                sizeof *record->results) != 0)
        return -1;
    record->results[record->result_count].request = request;
    record->results[record->result_count].code = code;
    record->results[record->result_count].count = count;
    ++record->result_count;
    return 0;
}

int run_record_merge(struct run_record* into, const struct run_record* from)
{
    size_t i;

    for (i = 0; i < from->latency_count; ++i)
        if (run_record_latency(into, from->latencies[i]) != 0)
            return -1;
    for (i = 0; i < from->result_count; ++i)
        if (run_record_result(into, from->results[i].request, from->results[i].code,
                              from->results[i].count) != 0)
            return -1;
    into->committed += from->committed;
    into->not_committed += from->not_committed;
    return 0;
}

static int compare_latencies(const void* left, const void* right)
{
    const double a = *(const double*)left;
    const double b = *(const double*)right;
    return (a > b) - (a < b);
}

static int compare_results(const void* left, const void* right)
{
    const struct result_count* a = left;
    const struct result_count* b = right;
    if (a->request != b->request)
        return (a->request > b->request) - (a->request < b->request);
    return (a->code > b->code) - (a->code < b->code);
}

void run_record_sort(struct run_record* record)
{
    if (record->latency_count > 0)
        qsort(record->latencies, record->latency_count, sizeof *record->latencies,
              compare_latencies);
    if (record->result_count > 0)
        qsort(record->results, record->result_count, sizeof *record->results, compare_results);
}

double run_record_percentile(const struct run_record* record, double fraction)
{
    size_t rank;

    if (record->latency_count == 0)
        return 0;
    rank = (size_t)ceil(fraction * (double)record->latency_count);
    if (rank < 1)
        rank = 1;
    if (rank > record->latency_count)
        rank = record->latency_count;
    return record->latencies[rank - 1];
}
