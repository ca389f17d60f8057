/* The C interface as a host uses it: start-up, limits, registration and
 * its refusals, the last error, and the time-out sweep with its list. */
#include <assert.h>
#include <string.h>

#include "libtransys/tran_api.h"

int main(void)
{
    char seven_text[] = "client seven", nine_text[] = "client nine", twelve_text[] = "client twelve";
    _Connection seven = { 7, 1000, seven_text };
    _Connection nine = { 9, 1100, nine_text };
    _Connection twelve = { 12, 1250, twelve_text };
    tran_api_conn_list* swept;

    /* Once, before anything else. */
    assert(tran_api_system_init() == TRAN_API_SUCCESS);

    /* The defaults, until the host sets its own. */
    assert(tran_api_system_maxop() == 5);
    assert(tran_api_system_maxnum() == 20);
    assert(tran_api_system_tlimit() == 300);
    tran_api_set_maxnum(2);

    assert(tran_api_create_transaction(&seven) == TRAN_API_SUCCESS);
    /* One transaction per connection, and the last error says which. */
    assert(tran_api_create_transaction(&seven) == TRAN_API_ENTRY_ALREADY_EXISTS);
    assert(strcmp(tran_api_system_err(), "Duplicate StartTransactions with client seven issued") == 0);
    assert(tran_api_create_transaction(&nine) == TRAN_API_SUCCESS);
    /* The table holds the limit, and the host prints the limit message. */
    assert(tran_api_create_transaction(&twelve) == TRAN_API_SIZE_LIMIT_EXCEEDED);
    assert(strcmp(tran_api_system_err(), "The number of transaction exceeds limit\n") == 0);

    /* Room again after a removal; success leaves the last error as it was. */
    assert(tran_api_delete_transaction(9) == TRAN_API_SUCCESS);
    assert(tran_api_create_transaction(&twelve) == TRAN_API_SUCCESS);
    assert(strcmp(tran_api_system_err(), "The number of transaction exceeds limit\n") == 0);
    tran_api_set_maxnum(0); /* no limit */
    assert(tran_api_create_transaction(&nine) == TRAN_API_SUCCESS);

    /* At time 1400, 9 is exactly 300 old: not older than the limit. */
    swept = tran_api_timeout_transactions(1400);
    assert(swept != NULL && swept->conn == &seven && swept->next == NULL);
    tran_api_conn_list_delete(swept);

    /* At 1401 it is; the list runs in descending connection id.  The
     * transactions are removed already; the host releases the list. */
    assert(tran_api_create_transaction(&seven) == TRAN_API_SUCCESS); /* 7 anew, stamp 1000 */
    swept = tran_api_timeout_transactions(1401);
    assert(swept != NULL && swept->conn == &nine && swept->next->conn == &seven);
    assert(swept->next->next == NULL);
    tran_api_conn_list_delete(swept);
    assert(tran_api_timeout_transactions(1401) == NULL); /* 12 is 151 old */

    /* Removing a connection that has no transaction is no error. */
    assert(tran_api_delete_transaction(12) == TRAN_API_SUCCESS);
    assert(tran_api_delete_transaction(12) == TRAN_API_SUCCESS);
    return 0;
}
