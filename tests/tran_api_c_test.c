// The transaction interface used from C, as the server uses it: the header
// compiles as strict C99, and a C program drives the table and releases the
// lists the library allocated.  Prints the first failed check and exits
// with status 1.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "libtransys/tran_api.h"

#define CHECK(holds) \
    if (!(holds)) return fprintf(stderr, "failed: line %d: %s\n", __LINE__, #holds), 1

int main(void)
{
    static char text_a[] = "client a", text_b[] = "client b";
    _Connection a = { 1, 100, text_a }, b = { 2, 500, text_b }, c = { 3, 0, text_b };
    tran_api_conn_list* list;

    CHECK(tran_api_system_init() == TRAN_API_SUCCESS);
    CHECK(tran_api_create_transaction(&a) == TRAN_API_SUCCESS &&
          tran_api_create_transaction(&b) == TRAN_API_SUCCESS);
    CHECK(tran_api_create_transaction(&a) == TRAN_API_ENTRY_ALREADY_EXISTS);
    CHECK(strcmp(tran_api_system_err(), "Duplicate StartTransactions with client a issued") == 0);
    tran_api_set_maxnum(2);
    CHECK(tran_api_create_transaction(&c) == TRAN_API_SIZE_LIMIT_EXCEEDED);
    tran_api_set_maxnum(0);
    CHECK(tran_api_create_transaction(&c) == TRAN_API_SUCCESS);

    // At 501 with the time limit 300, c (age 501) and a (age 401) time out;
    // the nodes come from calloc, so C code may free one itself.
    list = tran_api_timeout_transactions(501L);
    CHECK(list != NULL && list->conn == &c && list->next != NULL && list->next->conn == &a &&
          list->next->next == NULL);
    tran_api_conn_list_delete(list->next);
    free(list);
    CHECK(tran_api_delete_transaction(2) == TRAN_API_SUCCESS &&
          tran_api_timeout_transactions(501L) == NULL);
    return 0;
}
