// The run sequence of both programs: start-up, the switches that change how
// the rest is read, the default configuration file, the -config: files and
// the command-line options in that order, the consistency checks, delivery
// or File-mode output, and the exit status of the run.
#include "cli/cli.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "mail/option.h"
#include "mail/writer.h"
#include "platform/platform.h"
#include "support/file.h"
#include "support/rand.h"
#include "support/str.h"

#if TARVEX_FULL
#include <openssl/crypto.h>
#endif

// ---- build constants -----------------------------------------------------------

const char cli_product_name[] = "Tarvex";
const char cli_program_name[] = "tarvex";
const char cli_version[] = "1.0.0";
const char cli_architecture[] =
#if defined(__x86_64__)
    "amd64";
#elif defined(__aarch64__)
    "arm64";
#elif defined(__i386__)
    "x86";
#else
    "unknown";
#endif
const char cli_build_date[] = __DATE__;
const char cli_config_file_name[] = "tarvex.conf";

namespace {

const char project_address[] = "https://tarvex.example/";

// Exit statuses of the run sequence.
enum {
    STATUS_OK = 0,
    STATUS_USAGE = 1,
    STATUS_UNKNOWN = 2,
    STATUS_NOT_WRITTEN = 3,
    STATUS_READ = 12,
    STATUS_NOMEM = 666,
    STATUS_NO_SESSION = -1,
};

// The session of a run that ends early is freed as well: its secrets are
// wiped on the way out. (No connection can be open on those paths.)
struct SessionGuard {
    MailContext *ctx;
    ~SessionGuard()
    {
        if (ctx)
            mail_free(ctx);
    }
};

bool starts_with(const char *text, const char *prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// Steps before the options: the switches that change how the rest is read.
// Returns 0, or the exit status of a switch that ends the run (its message
// printed).
int prescan(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (starts_with(arg, "-encryptpass:")) {
            // Password encryption is not part of this program yet. The
            // value is a password: the message names the word only.
            cli_error("Unknown option: -encryptpass:\n");
            return STATUS_UNKNOWN;
        }
        if (strcmp(arg, "-nodefault") == 0)
            cli_no_default_config = 1;
        else if (strcmp(arg, "-skipnofile") == 0)
            cli_skip_missing_files = 1;
        else if (strcmp(arg, "-clutf8") == 0)
            cli_args_are_utf8 = 1; // the arguments are UTF-8 already
        else if (strcmp(arg, "-body-literal") == 0)
            cli_body_literal = 1;
    }
    return STATUS_OK;
}

void apply_default_config(MailContext *ctx)
{
    char *dir = plat_config_dir();
    if (!dir)
        return;
    // Built to its full length: a long folder name is never cut.
    std::string path = std::string(dir) + "/" + cli_config_file_name;
    free(dir);
    // A missing or unreadable default file is no error.
    cfg_read_file(ctx, path.c_str());
}

// The body from standard input; 0, or the exit status of a failure.
int read_stdin_body(MailContext *ctx)
{
    cli_out("Reading body from stdin, enter message and end with ^D\n");
    fflush(stdout);
    size_t len = 0;
    std::unique_ptr<char, decltype(&free)> body(file_read_text_crlf(stdin, &len), free);
    if (!body) {
        cli_error("Failed to read the body from standard input\n");
        return STATUS_READ;
    }
    // A text body ends at its first NUL: refuse rather than lose the rest.
    if (memchr(body.get(), 0, len)) {
        cli_error("NUL byte in the body from standard input\n");
        return STATUS_USAGE;
    }
    if (!mail_set_option_basic(ctx, MAILOPT_BODY, body.get(), nullptr, nullptr))
        return STATUS_NOMEM;
    cli_out("Finished reading body");
    return STATUS_OK;
}

} // namespace

// ---- front-end switches ---------------------------------------------------------

uint64_t cli_start_ns = 0;
int cli_no_default_config = 0;
int cli_skip_missing_files = 0;
int cli_args_are_utf8 = 0;
int cli_body_literal = 0;
int cli_body_from_stdin = 0;
int cli_timestamps = 0;
char cli_password_delimiter = ':';
int cli_send_succeeded = 0;

void cli_reset_switches(void)
{
    cli_start_ns = 0;
    cli_no_default_config = 0;
    cli_skip_missing_files = 0;
    cli_args_are_utf8 = 0;
    cli_body_literal = 0;
    cli_body_from_stdin = 0;
    cli_timestamps = 0;
    cli_password_delimiter = ':';
    cli_send_succeeded = 0;
}

// ---- banner ----------------------------------------------------------------------

char *cli_format_banner(char *buf, size_t size)
{
#if TARVEX_FULL
    snprintf(buf, size, "%s %s %s (%s), %s", cli_product_name, cli_version, cli_architecture,
             OpenSSL_version(OPENSSL_VERSION), cli_build_date);
#else
    snprintf(buf, size, "%s Version %s %s (No SSL), %s\n\n", cli_product_name, cli_version,
             cli_architecture, cli_build_date);
#endif
    return buf;
}

void cli_print_banner(void)
{
    char banner[1024];
    cli_out("%s\n\nUse \"%s /?\" for help.\n\n", cli_format_banner(banner, sizeof banner),
            cli_program_name);
}

// ---- the run ---------------------------------------------------------------------

int cli_main(int argc, char **argv)
{
    // 1. Start-up.
    time_perf_frequency();
    cli_start_ns = time_now_ns();
    uint32_t seed = static_cast<uint32_t>(time(nullptr)) ^ static_cast<uint32_t>(cli_start_ns);
    mail_global_init(1, static_cast<int>(seed));
    MailContext *ctx = mail_new();
    if (!ctx)
        return STATUS_NO_SESSION;
    SessionGuard guard{ctx};

    // 2. The full program signs whenever a key fits the sender's domain.
#if TARVEX_FULL
    mail_set_option_basic(ctx, MAILOPT_DKIM, nullptr, nullptr, nullptr);
#endif
    // 3. The runtime's own generator, for the support library.
    srand(seed);

    // 4. No arguments: banner and usage hint.
    if (argc < 2) {
        cli_print_banner();
        return STATUS_USAGE;
    }

    // 5. Pre-scan.
    if (int status = prescan(argc, argv))
        return status;

    // 8. The default configuration file, 9. every -config: file, wherever
    // it stands, before any command-line option.
    if (!cli_no_default_config)
        apply_default_config(ctx);
    for (int i = 1; i < argc; i++) {
        if (!starts_with(argv[i], "-config:"))
            continue;
        const char *path = argv[i] + strlen("-config:");
        if (!cfg_read_file(ctx, path)) {
            cli_error("Unable to open configuration file %s\n", cli_printable(path).c_str());
            return STATUS_USAGE;
        }
    }

    // 10. Command-line options, in order.
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] != '-') {
            cli_error("Unknown option: %s\n", cli_printable(argv[i]).c_str());
            return STATUS_UNKNOWN;
        }
        std::string word = argv[i] + 1; // the dispatcher writes into its word
        cli_apply_option(ctx, word.data());
    }

    // 11. One target only.
    if (ctx->server_host && ctx->output_file) {
        cli_error("Concurrent send and output to file not supported\n");
        return STATUS_USAGE;
    }

    // 12. Preconstructed mode: sender and recipients may come from the
    // message file's own header.
    if (ctx->mode == MAIL_MODE_PRECONSTRUCTED) {
#if TARVEX_FULL
        bool no_recipients = !ctx->to && !ctx->cc && !ctx->bcc;
        bool no_from = !ctx->from_address;
        if (!mail_set_option_basic(ctx, MAILOPT_EMAIL_FILE_SCAN, no_recipients ? "" : nullptr,
                                   no_from ? "" : nullptr, nullptr))
            cli_error("Incomplete configuration and unable to determine values from e-mail file\n");
#else
        cli_error("Incomplete configuration and unable to determine values from e-mail file\n");
#endif
    }

    // 13. Completeness.
    bool no_target = !ctx->server_host && !ctx->output_file;
    bool no_from = !ctx->from_address;
    bool no_recipients = !ctx->to && !ctx->cc && !ctx->bcc;
    if (no_target || no_from || no_recipients) {
        cli_print_banner();
        if (no_target)
            cli_error("No host or output file specified\n");
        if (no_from)
            cli_error("No from address specified\n");
        if (no_recipients)
            cli_error("No recipients specified\n");
        return STATUS_USAGE;
    }

    // 14. Credentials.
    if (!mail_credentials_complete(ctx)) {
        cli_error("Incorrectly specified user credentials\n");
        return STATUS_USAGE;
    }

    // 15. Attachment rules.
    const char *rule = nullptr;
    if (!mime_check_attachments(ctx, &rule)) {
        cli_error("%s\n", rule ? rule : "");
        return STATUS_USAGE;
    }

    // 16. Body from standard input.
    if (cli_body_from_stdin) {
        int status = read_stdin_body(ctx);
        if (status != STATUS_OK)
            return status;
    }

    // 17. X-Mailer (also the HTTPS proxy's User-Agent).
    std::string mailer = std::string(cli_product_name) + " " + cli_version + " " +
                         cli_architecture + " (" + project_address + ")";
    mail_set_option_basic(ctx, MAILOPT_X_MAILER, mailer.c_str(), nullptr, nullptr);

    // 19. Status reports from here on.
    mail_set_callback(ctx, MAILCB_STATUS, cli_status_report, ctx);

    // 20., 21. Delivery or File-mode output.
    if (ctx->server_host) {
        cli_send_succeeded = 0;
        mail_set_option_basic(ctx, MAILOPT_DELIVER, nullptr, nullptr, nullptr);
        if (!cli_send_succeeded) {
            if (cli_timestamps) {
                char stamp[32];
                cli_error("%s", cli_format_stamp(stamp, sizeof stamp, time_now_ns()));
            }
            cli_error("Message send failed (%s)\n", cli_printable(mail_last_error(ctx)).c_str());
            return ctx->failing_code ? static_cast<int>(ctx->failing_code) : STATUS_USAGE;
        }
    } else {
        int result = mime_write_to_file(ctx);
        if (result != MIME_OK) {
            const char *reason = mail_last_error(ctx);
            if (*reason)
                cli_error("%s\n", cli_printable(reason).c_str());
            else
                cli_error("Failed to write output file (%s)\n", cli_printable(ctx->output_file).c_str());
            switch (result) {
            case MIME_FAIL_READ: return STATUS_READ;
            case MIME_FAIL_NOMEM: return STATUS_NOMEM;
            case MIME_FAIL_INPUT: return STATUS_USAGE; // settings no message can carry
            default: return STATUS_NOT_WRITTEN; // not opened, or not written whole
            }
        }
    }

    // 22. Success: the session goes (quitting a live connection first).
    guard.ctx = nullptr;
    mail_set_option_basic(ctx, MAILOPT_FREE, nullptr, nullptr, nullptr);
    mail_global_init(0, 0);
    return STATUS_OK;
}
