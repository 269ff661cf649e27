// The run sequence of both programs: start-up, the pre-scan for switches
// that change how the rest is read, the option sources in their order
// (default configuration file, -config: files, command line), the checks
// that the settings make one sendable message, and delivery or File-mode
// output, each turned into the exit status of the run.
#include "cli/cli.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "cli/exitcode.h"
#include "cli/help.h"
#include "cli/seam.h"
#include "mail/option.h"
#include "mail/seam.h"
#include "mail/writer.h"
#include "platform/platform.h"
#include "smtp/smtp.h"
#include "support/rand.h"
#include "support/str.h"

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

// ---- front-end switches ---------------------------------------------------------

uint64_t cli_start_ns = 0;
int cli_no_default_config = 0;
int cli_skip_missing_files = 0;
int cli_args_are_utf8 = 0;
int cli_body_literal = 0;
int cli_body_from_stdin = 0;
int cli_timestamps = 0;
char cli_password_delimiter = ':';
int cli_no_dkim = 0;
int cli_send_succeeded = 0;
int cli_failure_printed = 0;
std::string cli_host_origin;
std::string cli_file_origin;

void cli_reset_switches(void)
{
    cli_start_ns = 0;
    cli_no_default_config = 0;
    cli_skip_missing_files = 0;
    cli_args_are_utf8 = 0;
    cli_body_literal = 0;
    cli_body_from_stdin = 0;
    cli_timestamps = 0;
    cli_no_dkim = 0;
    cli_password_delimiter = ':';
    cli_send_succeeded = 0;
    cli_failure_printed = 0;
    cli_host_origin.clear();
    cli_file_origin.clear();
}

// ---- banner ----------------------------------------------------------------------

char *cli_format_banner(char *buf, size_t size)
{
    // The plain program links no crypto library and says so.
    if (const char *crypto = cli_seam_crypto_version())
        snprintf(buf, size, "%s %s %s (%s), %s", cli_product_name, cli_version, cli_architecture,
                 crypto, cli_build_date);
    else
        snprintf(buf, size, "%s Version %s %s (No SSL), %s\n\n", cli_product_name, cli_version,
                 cli_architecture, cli_build_date);
    return buf;
}

std::string cli_usage_hint(void)
{
    return std::string("Use \"") + cli_program_name + " /?\" for help.\n";
}

void cli_print_banner(void)
{
    char banner[1024];
    cli_out("%s\n\n%s\n", cli_format_banner(banner, sizeof banner), cli_usage_hint().c_str());
}

void cli_end_run(MailContext *ctx, int status)
{
    mail_free(ctx);
    plat_exit(status);
}

namespace {

const char project_address[] = "https://tarvex.example/";
const char encryptpass_word[] = "-encryptpass:";
// The longest password -encryptpass: takes; a longer one is cut.
const size_t encryptpass_max = 255;

// The session of a run that ends early is freed as well: its secrets are
// wiped on the way out. (No connection can be open on those paths.)
struct SessionGuard {
    MailContext *ctx;
    ~SessionGuard() { mail_free(ctx); }
};

bool starts_with(const char *text, const char *prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// After the message about a word of the command line that this program
// does not know: where its words are listed.
int point_to_help(int status)
{
    cli_error("%s", cli_usage_hint().c_str());
    return status;
}

// The status of a failed session call that must not fail: memory running
// out is the only way it can.
int lost_setting(MailContext *ctx, const char *what)
{
    cli_error("%s (%s)\n", what, cli_printable(mail_last_error(ctx)).c_str());
    return mail_error_is_nomem(ctx) ? EXIT_NOMEM : EXIT_USAGE;
}

// Write failures are errors rather than signals from the start (a
// file-size limit fails a write, it does not kill the process); the clock,
// the random generators and the session are made ready. NULL when no
// session could be made.
MailContext *start_up(void)
{
    plat_ignore_write_signals();
    time_perf_frequency();
    cli_start_ns = time_now_ns();
    uint32_t seed = static_cast<uint32_t>(time(nullptr)) ^ static_cast<uint32_t>(cli_start_ns);
    mail_global_init(1, static_cast<int>(seed));
    smtp_install(); // -host: delivers through the SMTP client
    MailContext *ctx = mail_new();
    if (!ctx)
        return nullptr;
    // The full program signs by default; signing happens only when a key
    // fits the sender's domain.
    if (mail_full_program)
        mail_set_option_basic(ctx, MAILOPT_DKIM, nullptr, nullptr, nullptr);
    srand(seed); // the runtime's own generator, for the support library
    return ctx;
}

// The banner over the help, without the usage hint: it would only point
// to the help being read.
void print_help_banner(void)
{
    char banner[1024];
    cli_out("%s\n\n", cli_format_banner(banner, sizeof banner));
}

// The help switches end the run before anything else is read: the first
// of them in argument order wins, also over -encryptpass: wherever it
// stands. "-asciidoc" is a prefix, "-doc" and "/?" whole words. Returns
// -1 when no argument asks for help, else the status of the run.
int print_help_if_asked(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        int printed, status;
        if (starts_with(arg, "-asciidoc")) {
            char banner[1024];
            printed = help_print_asciidoc(cli_format_banner(banner, sizeof banner), "Usage", help_table,
                                          help_letters);
            status = EXIT_OK;
        } else if (strcmp(arg, "-doc") == 0) {
            print_help_banner();
            printed = help_print_text(help_table, help_letters, HELP_DOC_WIDTH);
            status = EXIT_OK;
        } else if (strcmp(arg, "/?") == 0) {
            print_help_banner();
            printed = help_print_text(help_table, help_letters, HELP_CONSOLE_WIDTH);
            status = EXIT_USAGE;
        } else {
            continue;
        }
        // A reader that stops early (a pager left, "| head") has all it
        // wanted: the run ends as the help does, without a word. A help
        // that did not reach its reader otherwise is no success.
        if (printed == HELP_FAIL_CLOSED)
            return status;
        if (printed != HELP_PRINTED) {
            cli_error("Failed to print the help (%s)\n", help_failure_text(printed));
            return printed == HELP_FAIL_NOMEM ? EXIT_NOMEM : EXIT_USAGE;
        }
        return status;
    }
    return -1;
}

// What the pre-scan found besides the front-end switches it sets.
struct Prescan {
    bool encrypt = false; // -encryptpass: was given
    bool bind = false;    // -bindpass: bind the encrypted password to this machine
    SecretText password;  // the last -encryptpass: value
};

// The switches that end the run or change how the rest is read, looked
// for in every argument before any option is applied. Returns EXIT_OK or
// the status that ends the run.
int prescan(int argc, char **argv, Prescan *found)
{
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (starts_with(arg, encryptpass_word)) {
            const char *password = arg + strlen(encryptpass_word);
            found->password = SecretText(password, strnlen(password, encryptpass_max));
            if (!found->password.ok())
                return EXIT_NOMEM;
            found->encrypt = true;
        } else if (strcmp(arg, "-bindpass") == 0) {
            found->bind = true;
        } else if (strcmp(arg, "-nodefault") == 0) {
            cli_no_default_config = 1;
        } else if (strcmp(arg, "-skipnofile") == 0) {
            cli_skip_missing_files = 1;
        } else if (strcmp(arg, "-clutf8") == 0) {
            cli_args_are_utf8 = 1; // the arguments are UTF-8 already
        } else if (strcmp(arg, "-body-literal") == 0) {
            cli_body_literal = 1;
        }
    }
    return EXIT_OK;
}

// -encryptpass: takes the whole run: nothing else of the command line is read.
int encrypt_password(const Prescan &found)
{
    int status;
    if (cli_seam_encrypt_password(found.password.data(), found.bind, &status))
        return status;
    // The value is a password: the message names the word only.
    cli_error("Unknown option: %s\n", encryptpass_word);
    return point_to_help(EXIT_UNKNOWN_OPTION);
}

// The default configuration file; one that is missing or cannot be read
// is no error.
int apply_default_config(MailContext *ctx)
{
    char *dir = plat_config_dir();
    if (!dir)
        return EXIT_OK;
    // Built to its full length: a long folder name is never cut.
    std::string path = std::string(dir) + "/" + cli_config_file_name;
    free(dir);
    int status;
    cfg_apply_file(ctx, path.c_str(), &status);
    return status;
}

// Every -config: file, wherever it stands, before any command-line option.
int apply_config_files(MailContext *ctx, int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        if (!starts_with(argv[i], "-config:"))
            continue;
        const char *path = argv[i] + strlen("-config:");
        int status;
        if (!cfg_apply_file(ctx, path, &status)) {
            char reason[PLAT_ERROR_TEXT_SIZE] = "";
            if (int code = plat_last_error())
                plat_error_text(code, reason, sizeof reason);
            cli_error(*reason ? "Unable to open configuration file %s: %s\n"
                              : "Unable to open configuration file %s\n",
                      cli_printable(path).c_str(), reason);
            return EXIT_USAGE;
        }
        if (status != EXIT_OK)
            return status;
    }
    return EXIT_OK;
}

int apply_command_line(MailContext *ctx, int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] != '-')
            return point_to_help(cli_unknown_option(argv[i]));
        // The dispatcher writes into its word, and the word may hold a
        // password: it works on a copy that is wiped afterwards.
        SecretText word(argv[i] + 1);
        if (!word.ok())
            return EXIT_NOMEM;
        bool known = cli_option_known(word.data());
        if (int status = cli_option_status(ctx, word.data()))
            return known ? status : point_to_help(status);
    }
    return EXIT_OK;
}

// The option sources in their order; a later one overrides what takes one
// value and adds to what adds. Returns EXIT_OK or the status of the option
// that ended the run.
int apply_options(MailContext *ctx, int argc, char **argv)
{
    if (!cli_no_default_config) {
        if (int status = apply_default_config(ctx))
            return status;
    }
    if (int status = apply_config_files(ctx, argc, argv))
        return status;
    return apply_command_line(ctx, argc, argv);
}

// The settings must make one message for one target.
int check_settings(MailContext *ctx)
{
    if (ctx->server_host && ctx->output_file) {
        // One of them may come from a configuration file the user forgot.
        cli_error("Concurrent send and output to file not supported (-host: from %s, -file: from %s)\n",
                  cli_host_origin.c_str(), cli_file_origin.c_str());
        return EXIT_USAGE;
    }
    // A message file gives the sender and the recipients that the options
    // did not (the plain program cannot read them from it).
    bool need_recipients = !ctx->to && !ctx->cc && !ctx->bcc;
    if (ctx->email_file && (need_recipients || !ctx->from_address)) {
        if (!mail_set_option_basic(ctx, MAILOPT_EMAIL_FILE_SCAN, need_recipients ? "" : nullptr,
                                   ctx->from_address ? nullptr : "", nullptr)) {
            if (mail_error_is_nomem(ctx))
                return EXIT_NOMEM;
            // A header that could not be read whole (too large, a read
            // error) ends the run: a sender or recipient it holds past the
            // point read would be lost without a word.
            if (mail_full_program) {
                cli_error("%s\n", cli_printable(mail_last_error(ctx)).c_str());
                return EXIT_INPUT_FILE;
            }
            cli_error("Incomplete configuration and unable to determine values from e-mail file\n");
        }
    }
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
        return EXIT_USAGE;
    }
    if (!mail_credentials_complete(ctx)) {
        cli_error("Incorrectly specified user credentials\n");
        return EXIT_USAGE;
    }
    const char *rule = nullptr;
    if (!mime_check_attachments(ctx, &rule)) {
        cli_error("%s\n", rule ? rule : "");
        return EXIT_USAGE;
    }
    return EXIT_OK;
}

// The longest body standard input may give: a stream without end (`yes |`)
// is refused here, not when memory runs out.
constexpr size_t CLI_STDIN_BODY_MAX = size_t(1) << 30;

// The body from standard input, read to its end. The prompts are for
// someone typing it: they go to standard error, and only when standard
// input is a terminal, so they never mix into a piped run's output (which
// may be the message itself, with -file:/dev/stdout).
int read_stdin_body(MailContext *ctx)
{
    const bool typed = plat_stdin_is_terminal();
    if (typed)
        cli_error("Reading body from stdin, enter message and end with ^D\n");
    // A text body ends at its first NUL: refused as soon as one is read,
    // rather than lose the rest (or read an endless stream to its end).
    int why = STR_READ_OK;
    SecretText body = cli_read_text(stdin, CLI_STDIN_BODY_MAX, &why);
    const int code = why == STR_READ_ERROR ? plat_last_error() : 0;
    if (why == STR_READ_NOMEM)
        return EXIT_NOMEM;
    if (why == STR_READ_NUL) {
        cli_error("NUL byte in the body from standard input\n");
        return EXIT_USAGE;
    }
    if (why == STR_READ_TOO_BIG) {
        cli_error("The body from standard input is too large, more than %d GiB\n", int(CLI_STDIN_BODY_MAX >> 30));
        return EXIT_USAGE;
    }
    if (!body.ok()) {
        // A standard input closed when the run began fails here too (EBADF).
        char reason[PLAT_ERROR_TEXT_SIZE] = "";
        if (code)
            plat_error_text(code, reason, sizeof reason);
        cli_error(*reason ? "Failed to read the body from standard input: %s\n"
                          : "Failed to read the body from standard input\n",
                  reason);
        return EXIT_READ_ERROR;
    }
    // The body encoding chosen by -body-64 or -body-qp stays: no later
    // word could choose it again.
    unsigned encoding = (ctx->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT;
    if (!mail_set_option_basic(ctx, MAILOPT_BODY | (encoding << MAILOPT_SUB_SHIFT), body.data(),
                               nullptr, nullptr))
        return lost_setting(ctx, "Failed to set the body from standard input");
    if (typed)
        cli_error("Finished reading body\n");
    return EXIT_OK;
}

// What the session takes last: the body from standard input, the X-Mailer
// text (also the HTTPS proxy's User-Agent), the status callback.
int finish_settings(MailContext *ctx)
{
    if (cli_body_from_stdin) {
        if (int status = read_stdin_body(ctx))
            return status;
    }
    std::string mailer = std::string(cli_product_name) + " " + cli_version + " " +
                         cli_architecture + " (" + project_address + ")";
    if (!mail_set_option_basic(ctx, MAILOPT_X_MAILER, mailer.c_str(), nullptr, nullptr))
        return lost_setting(ctx, "Failed to set the X-Mailer text");
    mail_set_callback(ctx, MAILCB_STATUS, cli_status_report, ctx);
    return EXIT_OK;
}

// SMTP: only the report that the data was accepted counts as success.
int send_message(MailContext *ctx)
{
    cli_send_succeeded = 0;
    cli_failure_printed = 0;
    mail_set_option_basic(ctx, MAILOPT_DELIVER, nullptr, nullptr, nullptr);
    if (cli_send_succeeded)
        return EXIT_OK;
    // A failure the status report printed already (a failed AUTH) is told
    // once: the text of a failure stands whatever the end of the dialogue
    // meets.
    if (!cli_failure_printed) {
        if (cli_timestamps) {
            char stamp[32];
            cli_error("%s", cli_format_stamp(stamp, sizeof stamp, time_now_ns()));
        }
        cli_error("Message send failed (%s)\n", cli_printable(mail_last_error(ctx)).c_str());
    }
    if (mail_error_is_nomem(ctx))
        return EXIT_NOMEM;
    // Only a refusal's code (4xx, 5xx) is a status: a reply that refused
    // nothing (a 334 or 354 where it does not belong) is a failure like a
    // lost connection.
    const uint32_t code = ctx->failing_code;
    return code >= 400 && code <= 599 ? static_cast<int>(code) : EXIT_USAGE;
}

int write_message_file(MailContext *ctx)
{
    int result = mime_write_to_file(ctx);
    if (result == MIME_OK)
        return EXIT_OK;
    const char *reason = mail_last_error(ctx);
    if (*reason)
        cli_error("%s\n", cli_printable(reason).c_str());
    else
        cli_error("Failed to write output file (%s)\n", cli_printable(ctx->output_file).c_str());
    if (result == MIME_FAIL_NOMEM || mail_error_is_nomem(ctx))
        return EXIT_NOMEM;
    switch (result) {
    case MIME_FAIL_READ: return EXIT_READ_ERROR;
    case MIME_FAIL_INPUT: return EXIT_USAGE; // settings no message can carry
    default: return EXIT_FILE_NOT_WRITTEN;   // not opened, or not written whole
    }
}

int deliver(MailContext *ctx)
{
    if (cli_no_dkim)
        mail_set_option_basic(ctx, MAILOPT_DKIM | MAILOPT_CLEAR, nullptr, nullptr, nullptr);
    return ctx->server_host ? send_message(ctx) : write_message_file(ctx);
}

} // namespace

// ---- the run ---------------------------------------------------------------------

int cli_main(int argc, char **argv)
{
    MailContext *ctx = start_up();
    if (!ctx)
        return EXIT_NO_SESSION;
    SessionGuard guard{ctx};

    if (argc < 2) {
        cli_print_banner();
        return EXIT_USAGE;
    }
    if (int status = print_help_if_asked(argc, argv); status >= 0)
        return status;
    Prescan found;
    if (int status = prescan(argc, argv, &found))
        return status;
    if (found.encrypt)
        return encrypt_password(found);
    if (int status = apply_options(ctx, argc, argv))
        return status;
    if (int status = check_settings(ctx))
        return status;
    if (int status = finish_settings(ctx))
        return status;
    if (int status = deliver(ctx))
        return status;

    // A run that went through ends the session the orderly way (quitting a
    // live connection first) and the network library with it.
    guard.ctx = nullptr;
    mail_set_option_basic(ctx, MAILOPT_FREE, nullptr, nullptr, nullptr);
    mail_global_init(0, 0);
    mail_dkim_free_keys();
    return EXIT_OK;
}
