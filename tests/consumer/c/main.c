/* A host written in C, using the installed library as the server does:
 * limits, registration, the duplicate and limit refusals with their texts,
 * and the time-out sweep, whose list C code may release node by node with
 * free.  Prints one line and exits 0 when every check holds. */
#include <stdio.h>
#include <stdlib.h>
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

    check(tran_api_system_init() == 0 && tran_api_system_maxnum() == 20 &&
              tran_api_system_tlimit() == 300, "init and defaults");
    tran_api_set_maxnum(2);
    check(tran_api_create_transaction(&a) == 0 && tran_api_create_transaction(&a) == 68 &&
              strcmp(tran_api_system_err(), "Duplicate StartTransactions with conn 7 issued") == 0,
          "duplicate refused");
    check(tran_api_create_transaction(&b) == 0 && tran_api_create_transaction(&c) == 4 &&
              strcmp(tran_api_system_err(), "The number of transaction exceeds limit\n") == 0,
          "limit refused");
    tran_api_set_maxnum(0);
    check(tran_api_create_transaction(&c) == 0, "no limit");
    /* At 1301 connections 11 and 7 are older than 300, in descending id. */
    swept = tran_api_timeout_transactions(1301);
    check(swept != NULL && swept->conn == &c && swept->next != NULL && swept->next->conn == &a &&
              swept->next->next == NULL, "sweep");
    if (swept != NULL)
        tran_api_conn_list_delete(swept->next);
    free(swept);
    check(tran_api_delete_transaction(9) == 0 && tran_api_timeout_transactions(1301) == NULL,
          "removal");
    if (failures != 0)
        return 1;
    printf("consumer_c: all checks passed\n");
    return 0;
}
