/* The load generator's command line: its settings and how they are read. */
#ifndef TOOLS_LOADGEN_LOADGEN_FLAGS_H
#define TOOLS_LOADGEN_LOADGEN_FLAGS_H

/* What each transaction's updates are. */
enum update_kind {
    update_add,    /* adds new entries, removed when the run ends */
    update_modify  /* replaces an attribute of entries made for the run */
};

/* Every setting of one run, checked and complete.  Plain data. */
struct loadgen_flags {
    const char* uri;        /* ldap://HOST:PORT, the gateway or the directory */
    const char* bind_dn;    /* who binds on every connection */
    const char* password;
    const char* base;       /* the run's subtree is made under it */
    int connections;        /* K */
    int updates;            /* M, per transaction */
    enum update_kind kind;
    long transactions;      /* in all; 0: no count */
    double seconds;         /* 0: no time */
    double timeout;         /* seconds any one request may take */
};

/* What parsing gave: 0 and *flags complete; 1 and the usage asked for; or
 * 2 and a one-line error in error[size]. */
int loadgen_parse_flags(int argc, char** argv, struct loadgen_flags* flags, char* error,
                        unsigned long size);

/* The usage text, several lines. */
const char* loadgen_usage(void);

#endif
