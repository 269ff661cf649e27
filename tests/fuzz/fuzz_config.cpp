// The configuration-file reader on any file content: every line goes
// through the option dispatcher of the full program. The reader ends the
// process on a refused line (an unknown word, a bad value, a NUL byte);
// here that end is linked to throw instead (-Wl,--wrap of plat_exit), so
// the target sees the status, frees the session and goes on. A readable
// file is always read (1); a refusal always carries a non-zero status.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "cli/cli.h"
#include "fuzz.h"
#include "mail/session.h"

namespace {

struct ProcessEnd {
    int status;
};

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

// The reader's way out of the process, taken by the linker in its place.
extern "C" [[noreturn]] void __wrap__Z9plat_exiti(int status) { throw ProcessEnd{status}; }

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
    try {
        FUZZ_CHECK(cfg_read_file(ctx, path) == 1);
    } catch (const ProcessEnd &end) {
        FUZZ_CHECK(end.status != 0);
    }
    mail_free(ctx);
    return 0;
}
