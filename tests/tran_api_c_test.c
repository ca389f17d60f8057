/* The transaction interface used from C, as the server uses it: the header
 * compiles as strict C99, and a C program drives the table and releases
 * the lists the library allocated.  Prints each failed check and exits
 * non-zero if there was one. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "libtransys/tran_api.h"

static int failures = 0;

static void check(int holds, const char* what)
{
    if (!holds) {
        fprintf(stderr, "failed: %s\n", what);
        ++failures;
    }
}

static void check_text(const char* seen, const char* expected, const char* what)
{
    check(seen != NULL && strcmp(seen, expected) == 0, what);
}

int main(void)
{
    static char text_a[] = "client a";
    static char text_b[] = "client b";
    _Connection a = { 1, 100, text_a };
    _Connection b = { 2, 500, text_b };
    _Connection c = { 3, 0, text_b };
    _Connection again = { 1, 0, text_b };
    tran_api_conn_list* list;
    tran_api_conn_list* node;

    check(tran_api_system_init() == 0, "init");
    check_text(tran_api_system_err(), "", "no error yet");

    check(tran_api_create_transaction(&a) == 0, "register a");
    check(tran_api_create_transaction(&b) == 0, "register b");
    check(tran_api_create_transaction(&again) == 68, "duplicate of a");
    check_text(tran_api_system_err(), "Duplicate StartTransactions with client b issued",
               "duplicate text");

    tran_api_set_maxnum(2);
    check(tran_api_system_maxnum() == 2, "limit set");
    check(tran_api_create_transaction(&c) == 4, "over the limit");
    check_text(tran_api_system_err(), "The number of transaction exceeds limit\n",
               "limit text");
    tran_api_set_maxnum(0);
    check(tran_api_create_transaction(&c) == 0, "no limit");

    /* At 501 with the limit 300, a (age 401) and c (age 501) time out. */
    list = tran_api_timeout_transactions(501L);
    check(list != NULL && list->conn == &c, "first swept is c");
    check(list != NULL && list->next != NULL && list->next->conn == &a, "second swept is a");
    check(list != NULL && list->next != NULL && list->next->next == NULL, "two swept");
    /* Nodes come from calloc: C code may free one itself. */
    if (list != NULL) {
        node = list->next;
        list->next = NULL;
        free(node);
    }
    tran_api_conn_list_delete(list);
    check(tran_api_timeout_transactions(501L) == NULL, "nothing left to sweep");

    tran_api_system_lock();
    tran_api_system_unlock();
    check(tran_api_delete_transaction(2) == 0, "remove b");
    check(tran_api_create_transaction(&b) == 0, "b again");
    check(tran_api_delete_transaction(2) == 0, "remove b again");

    tran_api_set_err("from C");
    check_text(tran_api_system_err(), "from C", "error text set");
    tran_api_set_maxop(9);
    tran_api_set_tlimit(-4L);
    check(tran_api_system_maxop() == 9 && tran_api_system_tlimit() == -4L, "limits set");

    if (failures == 0)
        printf("C interface: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
