// Process entry of tarvex and tarvex-plain: runs one session and reports
// its status as the process exit code.
#include <new>

#include "cli/cli.h"
#include "cli/exitcode.h"
#include "platform/platform.h"

int main(int argc, char **argv)
{
    int status;
    try {
        status = cli_main(argc, argv);
    } catch (const std::bad_alloc &) {
        // Memory ran out inside the front end's own copies; the session
        // went (wiped) on the way out.
        cli_error("Out of memory\n");
        status = EXIT_NOMEM;
    }
    return plat_exit_status(status);
}
