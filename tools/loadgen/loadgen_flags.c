#define _POSIX_C_SOURCE 200809L

#include "tools/loadgen/loadgen_flags.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Reads a whole decimal number within [low, high]: 1, or 0 when it is not. */
static int read_long(const char* text, long low, long high, long* value)
{
    char* end;
    long number;

    if (text[0] == '\0' || text[0] == ' ' || text[0] == '+')
        return 0;
    errno = 0;
    number = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || number < low || number > high)
        return 0;
    *value = number;
    return 1;
}

static int read_seconds(const char* text, double low, double high, double* value)
{
    char* end;
    double number;

    if (text[0] == '\0' || text[0] == ' ' || text[0] == '+')
        return 0;
    errno = 0;
    number = strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(number >= low && number <= high))
        return 0;
    *value = number;
    return 1;
}

static int set_uri(const char* text, struct loadgen_flags* f)
{
    if (strncmp(text, "ldap://", 7) != 0 || text[7] == '\0')
        return 0;
    f->uri = text;
    return 1;
}

static int set_text(const char* text, const char** field)
{
    if (text[0] == '\0')
        return 0;
    *field = text;
    return 1;
}

static int set_bind_dn(const char* t, struct loadgen_flags* f) { return set_text(t, &f->bind_dn); }
static int set_password(const char* t, struct loadgen_flags* f) { return set_text(t, &f->password); }
static int set_base(const char* t, struct loadgen_flags* f) { return set_text(t, &f->base); }

static int set_connections(const char* text, struct loadgen_flags* f)
{
    long value;
    if (!read_long(text, 1, 1000, &value))
        return 0;
    f->connections = (int)value;
    return 1;
}

static int set_updates(const char* text, struct loadgen_flags* f)
{
    long value;
    if (!read_long(text, 1, 1000, &value))
        return 0;
    f->updates = (int)value;
    return 1;
}

static int set_kind(const char* text, struct loadgen_flags* f)
{
    if (strcmp(text, "add") == 0)
        f->kind = update_add;
    else if (strcmp(text, "modify") == 0)
        f->kind = update_modify;
    else
        return 0;
    return 1;
}

static int set_transactions(const char* text, struct loadgen_flags* f)
{
    return read_long(text, 0, 100000000, &f->transactions);
}

static int set_seconds(const char* text, struct loadgen_flags* f)
{
    return read_seconds(text, 0, 86400, &f->seconds);
}

static int set_timeout(const char* text, struct loadgen_flags* f)
{
    return read_seconds(text, 0.001, 3600, &f->timeout);
}

/* One flag: its name, what its value must be, and where it goes. */
struct flag_rule {
    const char* name;
    const char* expects;
    int (*apply)(const char* value, struct loadgen_flags* f);
};

static const struct flag_rule rules[] = {
    { "--uri", "an ldap://HOST:PORT URI", set_uri },
    { "--bind-dn", "a DN", set_bind_dn },
    { "--password", "a password", set_password },
    { "--base", "a DN", set_base },
    { "--connections", "a number from 1 to 1000", set_connections },
    { "--updates", "a number from 1 to 1000", set_updates },
    { "--operation", "add or modify", set_kind },
    { "--transactions", "a number from 0 to 100000000", set_transactions },
    { "--seconds", "seconds from 0 to 86400", set_seconds },
    { "--timeout", "seconds from 0.001 to 3600", set_timeout },
};
static const int rule_count = (int)(sizeof rules / sizeof rules[0]);

static const struct loadgen_flags defaults = {
    NULL, NULL, NULL, NULL, 1, 5, update_add, 0, 0, 30,
};

int loadgen_parse_flags(int argc, char** argv, struct loadgen_flags* flags, char* error,
                        unsigned long size)
{
    struct loadgen_flags f = defaults;
    int timed = 0;
    int i;

    for (i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        const char* equals = strchr(argument, '=');
        const size_t name_length = equals ? (size_t)(equals - argument) : strlen(argument);
        const struct flag_rule* rule = NULL;
        const char* value;
        int r;

        if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0)
            return 1;
        for (r = 0; r < rule_count; ++r)
            if (strlen(rules[r].name) == name_length &&
                strncmp(argument, rules[r].name, name_length) == 0)
                rule = &rules[r];
        if (rule == NULL) {
            snprintf(error, size, "unknown flag %s", argument);
            return 2;
        }
        if (equals != NULL) {
            value = equals + 1;
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            snprintf(error, size, "%s needs a value: %s", rule->name, rule->expects);
            return 2;
        }
        if (!rule->apply(value, &f)) {
            snprintf(error, size, "%s %s: expected %s", rule->name, value, rule->expects);
            return 2;
        }
        timed = timed || rule->apply == set_seconds;
    }
    if (f.uri == NULL || f.bind_dn == NULL || f.password == NULL || f.base == NULL) {
        snprintf(error, size, "%s is required",
                 f.uri == NULL ? "--uri URI" : f.bind_dn == NULL ? "--bind-dn DN"
                                           : f.password == NULL ? "--password PASSWORD"
                                                                : "--base DN");
        return 2;
    }
    if (!timed && f.transactions == 0)
        f.seconds = 10;
    if (timed && f.seconds == 0 && f.transactions == 0) {
        snprintf(error, size, "--seconds 0 needs --transactions: the run would not end");
        return 2;
    }
    *flags = f;
    return 0;
}

const char* loadgen_usage(void)
{
    return "usage: transys-loadgen --uri ldap://HOST:PORT --bind-dn DN --password PASSWORD\n"
           "                       --base DN [flags]\n"
           "  --connections K      client connections, one thread each (default 1)\n"
           "  --updates M          updates in each transaction (default 5)\n"
           "  --operation KIND     add: new entries; modify: entries made for the run (default add)\n"
           "  --transactions N     stop after N transactions in all (default: no count)\n"
           "  --seconds S          stop after S seconds (default 10 when no count is given)\n"
           "  --timeout S          the longest any one request may take (default 30)\n"
           "Each run works in a subtree of its own under --base, removed at the end.\n";
}
