/* One connection of the load generator: a thread that opens its session,
 * waits for the others, and runs transactions until the count or the time
 * is used up or its connection fails. */
#ifndef TOOLS_LOADGEN_WORKER_H
#define TOOLS_LOADGEN_WORKER_H

#include <pthread.h>
#include <stdatomic.h>

#include "tools/loadgen/loadgen_flags.h"
#include "tools/loadgen/run_record.h"

/* What the workers share.  `claimed` counts the transactions begun in all
 * (each worker claims one before it begins it); `deadline` is written by
 * the main thread between the two barriers and only read afterwards. */
struct run_control {
    pthread_barrier_t ready;  /* every session is open (or failed) */
    pthread_barrier_t go;     /* the deadline is set: start */
    atomic_long claimed;
    long limit;               /* 0: no count */
    double deadline;          /* monotonic seconds; 0: no time */
};

/* Owned by the main thread, which reads `record` and the codes only after
 * joining the worker. */
struct worker {
    const struct loadgen_flags* flags;
    const char* subtree;
    int connection;  /* 0 .. K-1 */
    struct run_control* control;
    pthread_t thread;
    struct run_record record;
    int open_code;   /* session_open's code */
    int lost_code;   /* 0, or the code with which the connection failed */
    int out_of_memory;
};

/* The thread's function; its argument is a struct worker. */
void* worker_run(void* worker);

/* Seconds of CLOCK_MONOTONIC. */
double monotonic_seconds(void);

#endif
