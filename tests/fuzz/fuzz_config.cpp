// The configuration-file reader on any file content: every line goes
// through the option dispatcher of the full program. The form that returns
// its status is used, so a refused line (an unknown word, a bad value, a
// NUL byte) ends one input, not the run. A readable file is always read.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "cli/cli.h"
#include "cli/exitcode.h"
#include "fuzz.h"
#include "mail/session.h"

namespace {

std::string config_path;

void remove_config(void) { unlink(config_path.c_str()); }

const char *config_file()
{
    if (config_path.empty()) {
        const char *tmp = getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvex-fuzz-XXXXXX";
        int fd = mkstemp(name.data());
        FUZZ_CHECK(fd >= 0);
        close(fd);
        config_path = name;
        atexit(remove_config);
        mail_global_init(1, 1);
    }
    return config_path.c_str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *path = config_file();
    FILE *fp = fopen(path, "wb");
    FUZZ_CHECK(fp);
    FUZZ_CHECK(fwrite(data, 1, size, fp) == size);
    FUZZ_CHECK(fclose(fp) == 0);

    cli_reset_switches();
    MailContext *ctx = mail_new();
    FUZZ_CHECK(ctx);
    int status = -1;
    int read = cfg_apply_file(ctx, path, &status);
    // Only memory exhaustion may leave a file unread.
    FUZZ_CHECK(read == 1 || status == EXIT_NOMEM);
    mail_free(ctx);
    return 0;
}
