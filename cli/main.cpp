// Process entry of tarvex and tarvex-plain: runs one session and reports
// its status as the process exit code.
#include "cli/cli.h"
#include "cli/exitcode.h"
#include "platform/platform.h"
#include "support/fence.h"

int main(int argc, char **argv)
{
    // Before any file or socket is opened: a closed standard output or
    // error would hand its number to the next one, and the trace and the
    // warnings would go into the file or the SMTP session. The numbers
    // stay closed for use: a body or attachment read from a closed
    // standard input, or a message written to a closed standard output,
    // fails. Without /dev/null nothing can be made safe, and nothing can
    // be said either.
    if (!plat_guard_std_fds())
        return plat_exit_status(EXIT_USAGE);
    int status = fence_nomem([&] { return cli_main(argc, argv); }, [] {
        // Memory ran out inside the front end's own copies; the session
        // went (wiped) on the way out.
        cli_error("Out of memory\n");
        return int(EXIT_NOMEM);
    });
    return plat_exit_status(status);
}
