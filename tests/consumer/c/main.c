/* A host written in C, using the installed library as the server does:
 * limits, registration, the duplicate and limit refusals with their texts,
 * and the time-out sweep.  Prints one line and exits 0 when every check
 * holds. */
#include <stdio.h>
#include <string.h>

#include "libtransys/tran_api.h"

static int failures = 0;

static void check(int holds, const char* what)
{
    if (!holds) {
        fprintf(stderr, "consumer_c: failed: %s\n", what);
        ++failures;
    }
}

int main(void)
{
    char seven[] = "conn 7", nine[] = "conn 9", eleven[] = "conn 11";
    _Connection a = { 7, 1000, seven }, b = { 9, 1200, nine }, c = { 11, 1000, eleven };
    tran_api_conn_list* swept;

    check(tran_api_system_init() == 0, "init");
    check(tran_api_system_maxnum() == 20 && tran_api_system_tlimit() == 300, "defaults");
    tran_api_set_maxnum(2);
    check(tran_api_create_transaction(&a) == 0, "first registration");
    check(tran_api_create_transaction(&a) == 68, "duplicate refused");
    check(strcmp(tran_api_system_err(), "Duplicate StartTransactions with conn 7 issued") == 0,
          "duplicate text");
    check(tran_api_create_transaction(&b) == 0, "second registration");
    check(tran_api_create_transaction(&c) == 4, "limit refused");
    check(strcmp(tran_api_system_err(), "The number of transaction exceeds limit\n") == 0,
          "limit text");

    /* At 1301 only connection 7 is older than 300. */
    swept = tran_api_timeout_transactions(1301);
    check(swept != NULL && swept->conn == &a && swept->next == NULL, "sweep");
    tran_api_conn_list_delete(swept);
    check(tran_api_create_transaction(&c) == 0, "room after the sweep");
    check(tran_api_delete_transaction(9) == 0 && tran_api_delete_transaction(11) == 0,
          "removals");

    if (failures != 0)
        return 1;
    printf("consumer_c: all checks passed\n");
    return 0;
}
