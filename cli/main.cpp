// Process entry of tarvex and tarvex-plain: runs one session and reports
// its status as the process exit code.
#include <new>

#include "cli/cli.h"
#include "platform/platform.h"

int main(int argc, char **argv)
{
    int status;
    try {
        status = cli_main(argc, argv);
    } catch (const std::bad_alloc &) {
        // Memory ran out inside the front end's own copies.
        status = 666;
    }
    return plat_exit_status(status);
}
