/* Reading a trace.  The trace service's stand-in writes one line per
 * record to the file named by TRC_FILE (standard error when unset).  This
 * program sets its event mask itself; a host is usually started with
 * TRC_EVENTS=0x3000 in its environment instead. */
#define _POSIX_C_SOURCE 200809L

#include <assert.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "host/trc.h"
#include "libtransys/tran_api.h"

int main(void)
{
    /* Each line: kind, function, data, then type, id and object.  The
     * object field is as wide as a pointer and is left out here. */
    static const char* const expected[] = {
        "trc entry tran_api_set_maxnum text=\"maxnum 5\" type=0x03200000 id=0x3c020500 obj=0x",
        "trc exit tran_api_set_maxnum code=0 type=0x03210000 id=0x3c020500 obj=0x",
        "trc entry tran_api_system_maxnum - type=0x03200000 id=0x3c020800 obj=0x",
        /* The limit readers record the value they return, so a non-zero
         * limit ends in an error exit while bit 0x2000 is set. */
        "trc error-exit tran_api_system_maxnum code=5 type=0x030b0000 id=0x3c020800 obj=0x",
    };
    char path[] = "/tmp/tracing_example_XXXXXX";
    char line[256];
    FILE* trace;
    size_t i;

    close(mkstemp(path));
    setenv("TRC_FILE", path, 1); /* read when the first record is written */

    trcEvents = 0x3000; /* entry and exit records, failing exits marked */
    tran_api_set_maxnum(5);
    assert(tran_api_system_maxnum() == 5);
    trcEvents = 0;

    trace = fopen(path, "r");
    assert(trace != NULL);
    for (i = 0; i < sizeof expected / sizeof *expected; ++i) {
        assert(fgets(line, sizeof line, trace) != NULL);
        assert(strncmp(line, expected[i], strlen(expected[i])) == 0);
    }
    assert(fgets(line, sizeof line, trace) == NULL);
    fclose(trace);
    unlink(path);
    return 0;
}
