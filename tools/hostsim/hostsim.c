/* hostsim: a host simulator for libtransys.
 *
 * It uses the library as the directory server does: linked against
 * libtransys.so and the host's trace and message services, initialised
 * once, then driven from several threads.  Client threads start and end
 * transactions on connections of their own; a sweeper thread advances a
 * simulated clock and sweeps out the transactions older than the time
 * limit.  At the end it prints a summary and exits non-zero if one of the
 * invariants it can see failed:
 *
 *  - never more transactions open than the transaction limit (counted
 *    whenever the sweeper pauses the clients, when the simulator's view and
 *    the table agree);
 *  - every result is one the situation allows (TRAN_API_SUCCESS for a start
 *    on a closed connection or TRAN_API_SIZE_LIMIT_EXCEEDED when the table
 *    is full, TRAN_API_ENTRY_ALREADY_EXISTS or TRAN_API_SIZE_LIMIT_EXCEEDED
 *    for a second start, TRAN_API_SUCCESS for an end), and every refusal
 *    for the limit printed the limit message (153) with the limit;
 *  - every swept connection is one of ours, older than the time limit, and
 *    the lists run in descending connection id;
 *  - every connection is accounted for: each transaction started was ended,
 *    timed out, or is still open, and a last sweep finds exactly the open
 *    ones.
 *
 * The simulated clock advances by one sweep interval for every interval
 * operations of the clients (who wait when they get two intervals ahead),
 * so the ages it produces do not depend on the speed of the machine.  Some
 * transactions are abandoned by their clients: only a sweep ends them.
 *
 * The simulator provides the message service's PrintMessage itself (the
 * library's call reaches it by ordinary symbol interposition) to check and
 * count the library's messages; the first few are printed through the
 * service's own formatting.  With TRC_EVENTS set (for example 0x3000) the
 * trace service prints the library's trace records to standard error, or
 * to the file TRC_FILE. */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "host/message.h"
#include "host/trc.h"
#include "libtransys/tran_api.h"

/* ---- settings ---------------------------------------------------------- */

struct settings {
    int clients;
    int connections;
    int maxnum;       /* transaction limit; 0 or negative: none */
    long tlimit;      /* time limit; 0: no time-out */
    long operations;  /* per client */
    long interval;    /* clock advance per sweep, and operations per sweep */
    unsigned long seed;
};

static const struct settings default_settings = { 4, 32, 20, 300, 20000, 50, 1 };

static void usage(FILE* out, const char* program)
{
    fprintf(out,
            "usage: %s [-t clients] [-c connections] [-m limit] [-l time-limit]\n"
            "          [-n operations] [-i interval] [-s seed]\n"
            "  -t  client threads                         (default %d)\n"
            "  -c  connections, shared out among clients  (default %d)\n"
            "  -m  transaction limit, 0 or less: none      (default %d)\n"
            "  -l  time limit, 0: no time-out               (default %ld)\n"
            "  -n  operations per client                  (default %ld)\n"
            "  -i  sweep interval: clock units per sweep,\n"
            "      one sweep per that many operations     (default %ld)\n"
            "  -s  seed of the clients' random choices    (default %lu)\n"
            "Set TRC_EVENTS (e.g. 0x3000) to see the library's trace records.\n",
            program, default_settings.clients, default_settings.connections,
            default_settings.maxnum, default_settings.tlimit, default_settings.operations,
            default_settings.interval, default_settings.seed);
}

/* Reads a whole decimal number within [low, high] into *value. */
static int read_number(const char* text, long low, long high, long* value)
{
    char* end;
    long number;

    errno = 0;
    number = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < low || number > high)
        return 0;
    *value = number;
    return 1;
}

/* 0 on success; prints what is wrong otherwise. */
static int read_settings(int argc, char** argv, struct settings* s)
{
    int option;
    long value;

    *s = default_settings;
    while ((option = getopt(argc, argv, "t:c:m:l:n:i:s:h")) != -1) {
        int ok = 1;
        switch (option) {
        case 't':
            ok = read_number(optarg, 1, 256, &value);
            s->clients = (int)value;
            break;
        case 'c':
            ok = read_number(optarg, 1, 1000000, &value);
            s->connections = (int)value;
            break;
        case 'm':
            ok = read_number(optarg, INT_MIN, INT_MAX, &value);
            s->maxnum = (int)value;
            break;
        case 'l':
            ok = read_number(optarg, INT32_MIN, INT32_MAX, &value);
            s->tlimit = value;
            break;
        case 'n':
            ok = read_number(optarg, 0, 100000000, &s->operations);
            break;
        case 'i':
            ok = read_number(optarg, 1, 1000000, &s->interval);
            break;
        case 's':
            ok = read_number(optarg, 0, LONG_MAX, &value);
            s->seed = (unsigned long)value;
            break;
        case 'h':
            usage(stdout, argv[0]);
            exit(0);
        default:
            usage(stderr, argv[0]);
            return 1;
        }
        if (!ok) {
            fprintf(stderr, "%s: bad value '%s' for -%c\n", argv[0], optarg, option);
            usage(stderr, argv[0]);
            return 1;
        }
    }
    if (optind != argc) {
        fprintf(stderr, "%s: unexpected argument '%s'\n", argv[0], argv[optind]);
        usage(stderr, argv[0]);
        return 1;
    }
    if (s->connections < s->clients) {
        fprintf(stderr, "%s: fewer connections (%d) than clients (%d)\n", argv[0],
                s->connections, s->clients);
        return 1;
    }
    return 0;
}

/* ---- invariant failures ------------------------------------------------ */

static pthread_mutex_t failure_lock = PTHREAD_MUTEX_INITIALIZER;
static long failure_count = 0;

/* Reports a failed invariant; the first few are printed. */
static void fail(const char* format, ...)
{
    va_list args;

    pthread_mutex_lock(&failure_lock);
    if (++failure_count <= 20) {
        fputs("hostsim: invariant failed: ", stderr);
        va_start(args, format);
        vfprintf(stderr, format, args);
        va_end(args);
        fputc('\n', stderr);
    }
    pthread_mutex_unlock(&failure_lock);
}

/* ---- the message service ------------------------------------------------ */

static int expected_limit; /* set before the clients start */
static pthread_mutex_t message_lock = PTHREAD_MUTEX_INITIALIZER;
static long limit_messages = 0;

enum { messages_shown = 3 };

/* The library prints one catalogue message, TRAN_API_LIMIT_MESSAGE with its
 * two selectors and the transaction limit as its insert, when it refuses a
 * start for the limit. */
int PrintMessage(int selector1, int selector2, int number, ...)
{
    va_list inserts;
    int limit;
    long seen;
    char text[256];

    if (number != TRAN_API_LIMIT_MESSAGE || selector1 != TRAN_API_LIMIT_MESSAGE_SELECTOR1 ||
        selector2 != TRAN_API_LIMIT_MESSAGE_SELECTOR2) {
        fail("unexpected catalogue message %d (%d,%d)", number, selector1, selector2);
        return -1;
    }
    va_start(inserts, number);
    limit = va_arg(inserts, int);
    va_end(inserts);
    if (limit != expected_limit)
        fail("message %d names the limit %d, not %d", number, limit, expected_limit);

    pthread_mutex_lock(&message_lock);
    seen = ++limit_messages;
    pthread_mutex_unlock(&message_lock);
    if (seen <= messages_shown) {
        getPrintedMessage(text, sizeof text, selector1, selector2, number, limit);
        fprintf(stderr, "MSG%04d (%d,%d): %s\n", number, selector1, selector2, text);
    }
    return 0;
}

/* ---- shared state ------------------------------------------------------ */

/* A connection of one client.  `lock` serialises the client's operations
 * on it with the sweeper's reconciliation of a swept list. */
struct connection {
    _Connection record;
    char text[48];
    pthread_mutex_t lock;
    int open;          /* the simulator's view: a transaction is registered */
    int abandoned;     /* its client leaves it to the sweeper */
    long closed_in;    /* the sweep running when it was last closed */
    long started, ended, timed_out;
};

/* The clock, the sweep counters and the pause gate, under one mutex. */
struct world {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    long clock;
    long operations_done;  /* by all clients */
    long sweeps_begun;
    long sweeps_done;
    int clients_running;
    int paused;            /* the sweeper wants the clients to stop */
    int active;            /* clients in the middle of an operation */
};

static struct world world = {
    PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0, 0, 0, 0, 0, 0, 0
};

static struct settings settings;
static struct connection* connections;

/* What one client counted. */
struct client {
    pthread_t thread;
    int index;
    unsigned long random_state;
    long started, refused_limit, refused_duplicate, ended, calls;
};

/* The sweeper's figures. */
struct sweeper {
    pthread_t thread;
    long sweeps, timed_out, calls, most_open;
};

/* xorshift: a small, deterministic generator per client. */
static unsigned long next_random(struct client* c, unsigned long bound)
{
    unsigned long x = c->random_state;
    x ^= (x << 13) & 0xFFFFFFFFUL;
    x ^= x >> 17;
    x ^= (x << 5) & 0xFFFFFFFFUL;
    c->random_state = x;
    return x % bound;
}

/* The 32-bit age the library computes. */
static int32_t age_of(long now, long stamp)
{
    return (int32_t)((uint32_t)now - (uint32_t)stamp);
}

/* Begins a client operation: waits while the sweeper has the clients
 * paused, and while the clients are two intervals of operations ahead of
 * the clock.  Hands back the clock and the number of finished sweeps. */
static void begin_operation(long* clock, long* sweeps_done)
{
    pthread_mutex_lock(&world.lock);
    while (world.paused || world.operations_done >= world.clock + 2 * settings.interval)
        pthread_cond_wait(&world.changed, &world.lock);
    ++world.active;
    *clock = world.clock;
    *sweeps_done = world.sweeps_done;
    pthread_mutex_unlock(&world.lock);
}

static void end_operation(void)
{
    pthread_mutex_lock(&world.lock);
    --world.active;
    ++world.operations_done;
    pthread_cond_broadcast(&world.changed);
    pthread_mutex_unlock(&world.lock);
}

static long sweeps_begun(void)
{
    long begun;
    pthread_mutex_lock(&world.lock);
    begun = world.sweeps_begun;
    pthread_mutex_unlock(&world.lock);
    return begun;
}

/* ---- clients ----------------------------------------------------------- */

static void start_transaction(struct client* c, struct connection* conn, long clock)
{
    int code;

    conn->record.txn_stamp = clock;
    code = tran_api_create_transaction(&conn->record);
    ++c->calls;
    if (code == TRAN_API_SUCCESS) {
        conn->open = 1;
        conn->abandoned = next_random(c, 50) == 0;
        ++conn->started;
        ++c->started;
    } else if (code == TRAN_API_SIZE_LIMIT_EXCEEDED && settings.maxnum > 0) {
        ++c->refused_limit;
    } else {
        fail("start on closed connection %d answered %d", conn->record.conn_id, code);
    }
}

/* A second start while the transaction is open.  The sweeper is kept out
 * meanwhile (by the caller), so the transaction is certainly registered. */
static void start_again(struct client* c, struct connection* conn)
{
    const int code = tran_api_create_transaction(&conn->record);
    ++c->calls;
    if (code == TRAN_API_ENTRY_ALREADY_EXISTS)
        ++c->refused_duplicate;
    else if (code == TRAN_API_SIZE_LIMIT_EXCEEDED && settings.maxnum > 0)
        ++c->refused_limit;
    else
        fail("second start on connection %d answered %d", conn->record.conn_id, code);
}

static void end_transaction(struct client* c, struct connection* conn)
{
    const int code = tran_api_delete_transaction(conn->record.conn_id);
    ++c->calls;
    if (code != TRAN_API_SUCCESS)
        fail("end on connection %d answered %d", conn->record.conn_id, code);
    conn->open = 0;
    /* Read after the removal: a sweep that began before it may still hold
     * this connection in its list, and the connection must not start again
     * until that sweep is done, or the sweep would remove the new start. */
    conn->closed_in = sweeps_begun();
    ++conn->ended;
    ++c->ended;
}

/* Held by the sweeper from the start of a sweep to the end of its
 * reconciliation, and by a client for a second start.  Locks nest in the
 * order sweep_lock, a connection's lock, the world's lock; nothing is taken
 * while the world's lock is held, and waits for the world's condition hold
 * no other lock. */
static pthread_mutex_t sweep_lock = PTHREAD_MUTEX_INITIALIZER;

static void* run_client(void* argument)
{
    struct client* c = argument;
    const int own = (settings.connections - c->index + settings.clients - 1) / settings.clients;
    long done;

    for (done = 0; done < settings.operations; ++done) {
        struct connection* conn =
            &connections[c->index + settings.clients * (int)next_random(c, (unsigned long)own)];
        const unsigned long choice = next_random(c, 10);
        const int again = choice == 0;
        long clock, sweeps_done;

        begin_operation(&clock, &sweeps_done);
        if (again)
            pthread_mutex_lock(&sweep_lock);
        pthread_mutex_lock(&conn->lock);
        if (!conn->open) {
            if (conn->closed_in <= sweeps_done)
                start_transaction(c, conn, clock);
        } else if (again) {
            start_again(c, conn);
        } else if (!conn->abandoned && choice < 6) {
            end_transaction(c, conn);
        }
        pthread_mutex_unlock(&conn->lock);
        if (again)
            pthread_mutex_unlock(&sweep_lock);
        end_operation();
    }

    pthread_mutex_lock(&world.lock);
    --world.clients_running;
    pthread_cond_broadcast(&world.changed);
    pthread_mutex_unlock(&world.lock);
    return NULL;
}

/* ---- the sweeper ------------------------------------------------------- */

/* Checks a swept list and brings the simulator's view up to date. */
static void reconcile(struct sweeper* s, const tran_api_conn_list* list, long now, long sweep)
{
    const int32_t limit = (int32_t)settings.tlimit;
    int previous = INT_MAX;
    const tran_api_conn_list* node;

    for (node = list; node != NULL; node = node->next) {
        const int id = node->conn->conn_id;
        struct connection* conn;

        if (id < 0 || id >= settings.connections || node->conn != &connections[id].record) {
            fail("sweep at %ld returned a connection that is not ours", now);
            continue;
        }
        if (id >= previous)
            fail("sweep at %ld: connection %d after %d", now, id, previous);
        previous = id;
        if (limit == 0)
            fail("sweep at %ld with no time limit returned connection %d", now, id);

        conn = &connections[id];
        pthread_mutex_lock(&conn->lock);
        if (age_of(now, conn->record.txn_stamp) <= limit)
            fail("sweep at %ld took connection %d of age %ld", now, id,
                 (long)age_of(now, conn->record.txn_stamp));
        if (conn->open) {
            conn->open = 0;
            conn->abandoned = 0;
            conn->closed_in = sweep;
            ++conn->timed_out;
            ++s->timed_out;
        } else if (conn->closed_in != sweep) {
            /* Only a transaction its client ended during this very sweep
             * may be in the list without being open. */
            fail("sweep at %ld returned connection %d, which had no transaction", now, id);
        }
        pthread_mutex_unlock(&conn->lock);
    }
}

/* Stops the clients between operations, counts the open transactions,
 * which the table now holds exactly, and lets the clients go on. */
static void check_open_count(struct sweeper* s)
{
    long open = 0;
    int i;

    pthread_mutex_lock(&world.lock);
    world.paused = 1;
    while (world.active > 0)
        pthread_cond_wait(&world.changed, &world.lock);
    for (i = 0; i < settings.connections; ++i)
        open += connections[i].open;
    world.paused = 0;
    pthread_cond_broadcast(&world.changed);
    pthread_mutex_unlock(&world.lock);

    if (open > s->most_open)
        s->most_open = open;
    if (settings.maxnum > 0 && open > settings.maxnum)
        fail("%ld transactions open with the limit %d", open, settings.maxnum);
}

static void* run_sweeper(void* argument)
{
    struct sweeper* s = argument;

    for (;;) {
        long now, sweep;
        tran_api_conn_list* list;

        /* One sweep per interval operations of the clients. */
        pthread_mutex_lock(&world.lock);
        while (world.clients_running > 0 &&
               world.operations_done < world.clock + settings.interval)
            pthread_cond_wait(&world.changed, &world.lock);
        if (world.clients_running == 0) {
            pthread_mutex_unlock(&world.lock);
            break;
        }
        pthread_mutex_unlock(&world.lock);

        pthread_mutex_lock(&sweep_lock);
        pthread_mutex_lock(&world.lock);
        world.clock += settings.interval;
        now = world.clock;
        sweep = ++world.sweeps_begun;
        pthread_cond_broadcast(&world.changed);
        pthread_mutex_unlock(&world.lock);

        list = tran_api_timeout_transactions(now);
        ++s->calls;
        ++s->sweeps;
        reconcile(s, list, now, sweep);
        tran_api_conn_list_delete(list);

        pthread_mutex_lock(&world.lock);
        world.sweeps_done = sweep;
        pthread_cond_broadcast(&world.changed);
        pthread_mutex_unlock(&world.lock);
        pthread_mutex_unlock(&sweep_lock);

        check_open_count(s);
    }
    return NULL;
}

/* ---- the end ------------------------------------------------------------ */

/* With everything stopped, a sweep under a time limit of 1 at a time past
 * every stamp takes every open transaction: exactly the open connections
 * must come back.  Leaves the table empty.  Returns the number open. */
static long collect_open(void)
{
    const long tlimit = tran_api_system_tlimit();
    tran_api_conn_list* list;
    const tran_api_conn_list* node;
    char* swept = calloc((size_t)settings.connections, 1);
    long open = 0;
    int i;

    if (swept == NULL) {
        fail("no memory for the last check");
        return 0;
    }
    tran_api_set_tlimit(1);
    list = tran_api_timeout_transactions(world.clock + 2);
    tran_api_set_tlimit(tlimit);
    for (node = list; node != NULL; node = node->next) {
        const int id = node->conn->conn_id;
        if (id < 0 || id >= settings.connections || node->conn != &connections[id].record)
            fail("the last sweep returned a connection that is not ours");
        else
            swept[id] = 1;
    }
    tran_api_conn_list_delete(list);

    for (i = 0; i < settings.connections; ++i) {
        const struct connection* conn = &connections[i];
        if (swept[i] != conn->open)
            fail("connection %d is %s in the table but %s for its client", i,
                 swept[i] ? "registered" : "absent", conn->open ? "open" : "closed");
        if (conn->started != conn->ended + conn->timed_out + conn->open)
            fail("connection %d: %ld started, %ld ended, %ld timed out, %d open", i,
                 conn->started, conn->ended, conn->timed_out, conn->open);
        open += conn->open;
    }
    free(swept);
    return open;
}

static double seconds_since(const struct timespec* start)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)(now.tv_sec - start->tv_sec) + (double)(now.tv_nsec - start->tv_nsec) / 1e9;
}

static void print_row(const char* label, long value)
{
    printf("  %-34s %12ld\n", label, value);
}

int main(int argc, char** argv)
{
    struct client* clients;
    struct sweeper sweeper;
    struct timespec start;
    long started = 0, refused_limit = 0, refused_duplicate = 0, ended = 0, calls = 0;
    long still_open;
    double elapsed;
    int i;

    if (read_settings(argc, argv, &settings) != 0)
        return 2;

    trcInit();
    if (tran_api_system_init() != TRAN_API_SUCCESS) {
        fprintf(stderr, "hostsim: tran_api_system_init failed: %s\n", tran_api_system_err());
        return 2;
    }
    tran_api_set_maxnum(settings.maxnum);
    tran_api_set_tlimit(settings.tlimit);
    expected_limit = settings.maxnum;

    connections = calloc((size_t)settings.connections, sizeof *connections);
    clients = calloc((size_t)settings.clients, sizeof *clients);
    if (connections == NULL || clients == NULL) {
        fprintf(stderr, "hostsim: out of memory\n");
        return 2;
    }
    for (i = 0; i < settings.connections; ++i) {
        struct connection* conn = &connections[i];
        snprintf(conn->text, sizeof conn->text, "client %d connection %d", i % settings.clients,
                 i);
        conn->record.conn_id = i;
        conn->record.conn_text = conn->text;
        pthread_mutex_init(&conn->lock, NULL);
    }

    printf("hostsim: %d clients, %d connections, transaction limit %d, time limit %ld,\n"
           "         %ld operations per client, a sweep every %ld, seed %lu\n",
           settings.clients, settings.connections, settings.maxnum, settings.tlimit,
           settings.operations, settings.interval, settings.seed);
    fflush(stdout);

    clock_gettime(CLOCK_MONOTONIC, &start);
    memset(&sweeper, 0, sizeof sweeper);
    world.clients_running = settings.clients;
    for (i = 0; i < settings.clients; ++i) {
        clients[i].index = i;
        clients[i].random_state =
            (settings.seed * 2654435761UL + (unsigned long)i * 40503UL + 1) & 0xFFFFFFFFUL;
        if (clients[i].random_state == 0)
            clients[i].random_state = 1;
        if (pthread_create(&clients[i].thread, NULL, run_client, &clients[i]) != 0) {
            fprintf(stderr, "hostsim: cannot start client %d\n", i);
            return 2;
        }
    }
    if (pthread_create(&sweeper.thread, NULL, run_sweeper, &sweeper) != 0) {
        fprintf(stderr, "hostsim: cannot start the sweeper\n");
        return 2;
    }
    for (i = 0; i < settings.clients; ++i)
        pthread_join(clients[i].thread, NULL);
    pthread_join(sweeper.thread, NULL);
    elapsed = seconds_since(&start);

    for (i = 0; i < settings.clients; ++i) {
        started += clients[i].started;
        refused_limit += clients[i].refused_limit;
        refused_duplicate += clients[i].refused_duplicate;
        ended += clients[i].ended;
        calls += clients[i].calls;
    }
    calls += sweeper.calls;
    still_open = collect_open();
    if (started != ended + sweeper.timed_out + still_open)
        fail("%ld started, but %ld ended, %ld timed out and %ld open", started, ended,
             sweeper.timed_out, still_open);
    if (limit_messages != refused_limit)
        fail("%ld refusals for the limit, but %ld messages %d", refused_limit, limit_messages,
             (int)TRAN_API_LIMIT_MESSAGE);

    printf("\n");
    print_row("transactions started", started);
    print_row("refused for the limit (4)", refused_limit);
    print_row("refused as duplicates (68)", refused_duplicate);
    print_row("ended by their clients", ended);
    print_row("timed out by sweeps", sweeper.timed_out);
    print_row("still open at the end", still_open);
    print_row("sweeps", sweeper.sweeps);
    print_row("most open at a pause", sweeper.most_open);
    print_row("library calls", calls);
    printf("  %-34s %12.3f\n", "seconds", elapsed);
    print_row("calls per second", elapsed > 0 ? (long)((double)calls / elapsed) : 0);
    if (limit_messages > messages_shown)
        printf("  (message %d printed %ld times, the first %d shown)\n",
               (int)TRAN_API_LIMIT_MESSAGE, limit_messages, (int)messages_shown);
    printf("  last error: \"%s\"\n", tran_api_system_err());

    for (i = 0; i < settings.connections; ++i)
        pthread_mutex_destroy(&connections[i].lock);
    free(connections);
    free(clients);

    if (failure_count != 0) {
        printf("\nhostsim: %ld invariant failures\n", failure_count);
        return 1;
    }
    printf("\nhostsim: all invariants held\n");
    return 0;
}
