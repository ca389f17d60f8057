/* A host written in C, using the installed library as the server does:
 * registration, the duplicate refusal with its text, and the time-out
 * sweep, whose list C code may release node by node with free.  Prints one
 * line and exits 0 when every check holds. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "libtransys/tran_api.h"

int main(void)
{
    char name[] = "conn 7";
    _Connection conn = { 7, 1000, name };
    tran_api_conn_list* swept;
    int holds = tran_api_system_init() == 0 && tran_api_create_transaction(&conn) == 0 &&
                tran_api_create_transaction(&conn) == 68 &&
                strcmp(tran_api_system_err(), "Duplicate StartTransactions with conn 7 issued") == 0;

    swept = tran_api_timeout_transactions(1301); /* older than 300 */
    holds = holds && swept != NULL && swept->conn == &conn && swept->next == NULL;
    free(swept);
    if (!holds) {
        fprintf(stderr, "consumer_c: a check failed\n");
        return 1;
    }
    printf("consumer_c: all checks passed\n");
    return 0;
}
