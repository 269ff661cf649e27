// The option vocabulary of the command line and the configuration files:
// one table of words, each with its match kind, its handler, what a value
// the session refuses means for the run, and whether only the full program
// knows it (the plain program refuses those as unknown words). Handlers
// turn a word into session options and front-end switches.
#include "cli/cli.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/exitcode.h"
#include "cli/seam.h"
#include "mail/hdrtext.h"
#include "mail/option.h"
#include "mail/sasl.h"
#include "mail/seam.h"
#include "net/hostspec.h"
#include "net/tls.h"
#include "platform/platform.h"
#include "support/file.h"
#include "support/num.h"
#include "support/secret.h"
#include "support/str.h"

namespace {

enum CliMatch {
    MATCH_EXACT,  // the whole word
    MATCH_PREFIX, // any word that begins with the entry; the rest is the value
};

// What a value the session refuses means for the run. Memory running out
// is none of these: it ends the run with EXIT_NOMEM whatever the row says.
enum CliRefusal {
    REFUSAL_INVALID,    // "Invalid -%s option (%s)" with the session's reason; EXIT_USAGE
    REFUSAL_ADDRESS,    // "Invalid address in -%s (%s)" naming the value; EXIT_USAGE
    REFUSAL_FILE,       // the row's message naming the file, the reason; EXIT_INPUT_FILE
    REFUSAL_ATTACHMENT, // as REFUSAL_FILE, unless -skipnofile leaves the attachment out
};

enum : unsigned {
    CLI_FULL_ONLY = 1,     // the plain program treats the word as unknown
    CLI_TIMESTAMPS = 2,    // -dd: stamp the trace
    CLI_EMPTY_IGNORED = 4, // an empty value sets nothing (the session takes none)
};

struct CliOption;
// word: the whole option word; value: the text after a prefix entry ("" for
// exact ones). Both are scratch the handler may write into. Returns
// EXIT_OK, or the exit status of a refusal it has reported.
typedef int (*CliHandler)(MailContext *ctx, char *word, char *value, const CliOption &opt);

struct CliOption {
    const char *word;    // without the leading "-"
    CliMatch match;
    CliHandler handler;
    unsigned code;       // the session option of the handler
    CliRefusal refusal;  // what a value the session refuses means
    const char *fixed;   // the value a switch passes
    const char *message; // file refusals: the message, "%s" the file, no line end
    unsigned flags;      // CLI_*
};

// The option's name for messages: its word up to a ":" ("subject").
std::string option_name(const CliOption &opt)
{
    std::string name = opt.word;
    size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(0, colon);
}

// One session option. The error text is cleared first, so that a reason
// (or the out-of-memory mark) left after a refusal belongs to this call.
int session_set(MailContext *ctx, unsigned code, const char *v1, const char *v2 = nullptr,
                const char *v3 = nullptr)
{
    mail_set_error(ctx, nullptr);
    return mail_set_option_basic(ctx, static_cast<int>(code), v1, v2, v3);
}

int out_of_memory(const char *name)
{
    cli_error("Out of memory while applying -%s\n", name);
    return EXIT_NOMEM;
}

// The reason of a file refusal, as the house writes it after the message:
// the system's reason when a system call failed, else (only when asked
// for) the session's own; "" for none.
std::string file_reason(const MailContext *ctx, bool session_reason)
{
    if (ctx->error_system) {
        char reason[PLAT_ERROR_TEXT_SIZE];
        return cli_printable(plat_error_text(ctx->error_system, reason, sizeof reason));
    }
    return session_reason && ctx->error_text ? cli_printable(ctx->error_text) : std::string();
}

// The exit status of a value the session has just refused, reported as
// `how` says. message: the row's text for file refusals; session_reason:
// a file refusal without a system reason gives the session's.
int refusal_status(MailContext *ctx, const char *name, const char *value, CliRefusal how,
                   const char *message, bool session_reason = false)
{
    if (mail_error_is_nomem(ctx))
        return out_of_memory(name);
    const char *reason = ctx->error_text;
    switch (how) {
    case REFUSAL_ATTACHMENT:
        if (cli_skip_missing_files)
            return EXIT_OK;
        [[fallthrough]];
    case REFUSAL_FILE: {
        // One message: what failed, the file, and why.
        std::string line = message ? message : "Failed to use file (%s)";
        std::string why = file_reason(ctx, session_reason);
        line += why.empty() ? "\n" : ": %s\n";
        cli_error(line.c_str(), cli_printable(value).c_str(), why.c_str());
        return EXIT_INPUT_FILE;
    }
    case REFUSAL_ADDRESS:
        if (reason)
            cli_error("Invalid address in -%s (%s): %s\n", name, cli_printable(value).c_str(),
                      cli_printable(reason).c_str());
        else
            cli_error("Invalid address in -%s (%s)\n", name, cli_printable(value).c_str());
        return EXIT_USAGE;
    case REFUSAL_INVALID:
        break;
    }
    // The value itself is not shown: it may be a secret (a -host: password).
    cli_error("Invalid -%s option (%s)\n", name, reason ? cli_printable(reason).c_str() : "value refused");
    return EXIT_USAGE;
}

int refused(MailContext *ctx, const CliOption &opt, const char *value, CliRefusal how,
            bool session_reason = false)
{
    return refusal_status(ctx, option_name(opt).c_str(), value, how, opt.message, session_reason);
}

int refused(MailContext *ctx, const CliOption &opt, const char *value)
{
    return refused(ctx, opt, value, opt.refusal);
}

// Texts from the host-text parser, freed (the password wiped) on
// every way out of a handler.
struct HostParts {
    char *host = nullptr;
    char *user = nullptr;
    char *password = nullptr;
    uint32_t port = 0;
    ~HostParts()
    {
        free(host);
        free(user);
        str_free_secret(password);
    }
};

// The parser's result for the option: EXIT_OK, or the status of a value
// that does not parse, reported with the parser's reason (which never
// quotes the value: it may hold a password).
int host_spec_status(MailContext *ctx, const CliOption &opt, const char *value, int code)
{
    if (code == HOSTSPEC_OK)
        return EXIT_OK;
    if (code == HOSTSPEC_NO_MEMORY)
        mail_set_nomem(ctx);
    else
        mail_set_errorf(ctx, "%s", ip_host_spec_reason(code));
    return refused(ctx, opt, value, REFUSAL_INVALID);
}

// ---- generic rows --------------------------------------------------------------

// The value as the option's only text.
int opt_value(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    return session_set(ctx, opt.code, value) ? EXIT_OK : refused(ctx, opt, value);
}

// -tls-protocols: and -tls-ciphers: - a list libtls cannot take ends the
// run when it is given, also in a run that never starts TLS.
int opt_tls_list(MailContext *ctx, char *word, char *value, const CliOption &opt)
{
    const char *why = nullptr;
    int usable = opt.code == MAILOPT_TLS_PROTOCOLS ? ip_tls_check_protocols(value, &why)
                                                    : ip_tls_check_ciphers(value, &why);
    if (usable)
        return opt_value(ctx, word, value, opt);
    if (why == net_error_nomem)
        mail_set_nomem(ctx);
    else
        mail_set_errorf(ctx, "%s: \"%s\"", why, value);
    return refused(ctx, opt, value);
}

// A word without a value: the row's fixed value, if any.
int opt_switch(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    return session_set(ctx, opt.code, opt.fixed) ? EXIT_OK : refused(ctx, opt, value);
}

// The longest -dkim: word taken.
const size_t dkim_word_max = 4095;

// -dkim:domain:selector:keyfile - a key file that cannot be used ends the
// run; so does a domain that is none, as a usage error.
int opt_dkim_key(MailContext *ctx, char *, char *value, const CliOption &)
{
    const char *why = nullptr;
    int added = 0;
    if (strlen(value) + strlen("dkim:") > dkim_word_max)
        why = "the value is too long";
    else
        added = mail_dkim_add_key(ctx, value, &why);
    if (added > 0)
        return EXIT_OK;
    if (added == -2)
        return refusal_status(ctx, "dkim", value, REFUSAL_INVALID, nullptr);
    if (added == -3 && !mail_error_is_nomem(ctx)) {
        // The file itself: one line with the system's reason, as for
        // every other file.
        cli_error("Error applying DKIM setting: %s (%s)\n", cli_printable(value).c_str(),
                  cli_printable(mail_last_error(ctx)).c_str());
        return EXIT_INPUT_FILE;
    }
    if (added < 0)
        return out_of_memory("dkim");
    cli_error("Error applying DKIM setting: %s\n", cli_printable(value).c_str());
    cli_error("(%s)\n", why ? why : "the key cannot be used");
    return EXIT_INPUT_FILE;
}

// The names of the DKIM choices and their sub-choices.
struct DkimChoice {
    const char *name;
    unsigned sub;
};

const DkimChoice dkim_algorithms[] = {
    {"ed25519-sha256", MAILOPT_DKIM_ALG_ED25519_SHA256},
    {"rsa-sha256", MAILOPT_DKIM_ALG_RSA_SHA256},
    {"rsa-sha1", MAILOPT_DKIM_ALG_RSA_SHA1},
    {"all", MAILOPT_DKIM_ALG_RSA_SHA1 | MAILOPT_DKIM_ALG_RSA_SHA256 | MAILOPT_DKIM_ALG_ED25519_SHA256},
    {"best", MAILOPT_DKIM_ALG_RSA_SHA256 | MAILOPT_DKIM_ALG_ED25519_SHA256},
    {nullptr, 0},
};

const DkimChoice dkim_canons[] = {
    {"s/s", MAILOPT_DKIM_CANON_SIMPLE_SIMPLE},
    {"s/r", MAILOPT_DKIM_CANON_SIMPLE_RELAXED},
    {"r/r", MAILOPT_DKIM_CANON_RELAXED_RELAXED},
    {"r/s", MAILOPT_DKIM_CANON_RELAXED_SIMPLE},
    {"all", MAILOPT_DKIM_CANON_ALL},
    {nullptr, 0},
};

// -dkim-algo: and -dkim-canon: - a name the table does not hold ends the
// run with the row's message.
int opt_dkim_choice(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    const DkimChoice *table = opt.code == MAILOPT_DKIM_ALGORITHMS ? dkim_algorithms : dkim_canons;
    for (const DkimChoice *c = table; c->name; c++)
        if (strcmp(value, c->name) == 0)
            return session_set(ctx, opt.code | c->sub, nullptr) ? EXIT_OK : refused(ctx, opt, value);
    cli_error(opt.message, cli_printable(value).c_str());
    return EXIT_UNKNOWN_OPTION;
}

// -no-dkim: signing is switched off just before the message goes out, so
// that a later -dkim: does not switch it on again.
int opt_no_dkim(MailContext *, char *, char *, const CliOption &)
{
    cli_no_dkim = 1;
    return EXIT_OK;
}

// Words read elsewhere (the pre-scan, -config:) or deliberately ignored.
int opt_ignore(MailContext *, char *, char *, const CliOption &) { return EXIT_OK; }

// ---- attachments, recipients ----------------------------------------------------

int opt_attach(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    std::string content_id;
    bool is_inline = opt.code & MAILOPT_FROM_FILE;
    if (is_inline) {
        // An inline part is referred to by its escaped base name; the buffer
        // holds the longest escape, so the identifier is never cut.
        const char *base = file_base_name(value);
        content_id.assign(3 * strlen(base) + 1, '\0');
        mime_percent_escape(base, content_id.data(), content_id.size());
        content_id.resize(strlen(content_id.c_str()));
    }
    if (session_set(ctx, opt.code, value, is_inline ? content_id.c_str() : nullptr))
        return EXIT_OK;
    return refused(ctx, opt, value);
}

// -to:, -cc:, -bcc:: "@" and a recipient list file, or an address form.
int opt_awild(MailContext *ctx, char *, char *value, const CliOption &)
{
    return cli_opt_awild(ctx, value);
}

int opt_recipient(MailContext *ctx, char *word, char *value, const CliOption &opt)
{
    if (value[0] != '@')
        return cli_opt_address(ctx, word);
    if (session_set(ctx, opt.code | MAILOPT_FROM_FILE, value + 1))
        return EXIT_OK;
    // One message, the reason after it: the system's when the file cannot
    // be opened or read, else the session's (the file is too large, or
    // holds an item that cannot be used, named by its line).
    return refused(ctx, opt, value + 1, REFUSAL_FILE, true);
}

int opt_address(MailContext *ctx, char *word, char *, const CliOption &)
{
    return cli_opt_address(ctx, word);
}

// ---- bodies and header fields ----------------------------------------------------------

int opt_body(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    std::string text = value;
    cli_unescape_body(text.data());
    return session_set(ctx, opt.code, text.c_str()) ? EXIT_OK : refused(ctx, opt, value);
}

// -body-file: "path[:charset]". The last ":" starts a charset unless a path
// separator follows it, so "C:\body.txt" keeps its drive colon.
int opt_body_file(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    char *charset = nullptr;
    char *colon = strrchr(value, ':');
    if (colon && colon[1] != '/' && colon[1] != '\\') {
        *colon = 0;
        charset = colon + 1;
    }
    unsigned code = opt.code | (cli_body_literal ? unsigned(MAILOPT_BINARY) : 0u);
    if (!session_set(ctx, code, value))
        return refused(ctx, opt, value);
    if (charset && !session_set(ctx, MAILOPT_CHARSET, charset))
        return refused(ctx, opt, charset, REFUSAL_INVALID);
    return EXIT_OK;
}

int opt_header(MailContext *ctx, char *, char *value, const CliOption &)
{
    return cli_opt_header(ctx, value);
}

// ---- server, proxy, authentication -------------------------------------------------------

// -host: "[user[<delimiter>password]@]host[:port]". A value that does not
// parse ends the run, before anything changes: a server given in a
// configuration file is never used in its place. The credentials go in
// only together with the server they belong to.
int opt_host(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    HostParts parts;
    if (int status = host_spec_status(ctx, opt, value,
                                      ip_parse_host_spec(value, &parts.host, &parts.port, &parts.user,
                                                         &parts.password, cli_password_delimiter)))
        return status;
    // An encrypted password is read here, before anything changes; one
    // that cannot be decrypted on this computer ends the run.
    SecretText decrypted;
    if (!decrypted.resize(CLI_DECRYPTED_SIZE - 1))
        return out_of_memory("host");
    const char *why = "";
    int read = cli_seam_decrypt_password(parts.password, decrypted.data(), &why);
    if (read < 0) {
        cli_error("Failed to decrypt password: %s\n", why);
        return EXIT_USAGE;
    }
    const char *password = read ? decrypted.data() : parts.password;
    std::string port = std::to_string(parts.port);
    if (!session_set(ctx, MAILOPT_SERVER, parts.host, port.c_str()))
        return refused(ctx, opt, value);
    // The credentials of an earlier -host: never outlive its server; the
    // session keeps new ones only with a user name.
    session_set(ctx, MAILOPT_CREDENTIALS | MAILOPT_CLEAR, nullptr);
    if (*parts.user && !session_set(ctx, MAILOPT_CREDENTIALS, parts.user, password))
        return refused(ctx, opt, value);
    cli_host_origin = cli_message_origin();
    return EXIT_OK;
}

// -file: where it was given is kept, as for -host:.
int opt_output_file(MailContext *ctx, char *word, char *value, const CliOption &opt)
{
    int status = opt_value(ctx, word, value, opt);
    if (status == EXIT_OK)
        cli_file_origin = cli_message_origin();
    return status;
}

int opt_passdelim(MailContext *, char *, char *value, const CliOption &)
{
    if (!*value) {
        cli_error("Missing delimiter character in -passdelim:\n");
        return EXIT_USAGE;
    }
    cli_password_delimiter = value[0];
    return EXIT_OK;
}

// -proxy: "[user:password@]host[:port]"; a port of 0 or none lets the
// session choose the default of the proxy type known now. A value that
// does not parse ends the run, as with -host:.
int opt_proxy(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    HostParts parts;
    if (int status = host_spec_status(ctx, opt, value,
                                      ip_parse_host_spec_colon(value, &parts.host, &parts.port,
                                                               &parts.user, &parts.password)))
        return status;
    std::string port = std::to_string(parts.port);
    if (!session_set(ctx, MAILOPT_PROXY, parts.host, port.c_str()) ||
        !session_set(ctx, MAILOPT_PROXY_AUTH, parts.user, parts.password))
        return refused(ctx, opt, value);
    return EXIT_OK;
}

int opt_authtypes(MailContext *ctx, char *, char *value, const CliOption &)
{
    return cli_opt_authtypes(ctx, value);
}

// ---- the rest ------------------------------------------------------------------------------

int opt_debug(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    mail_set_callback(ctx, MAILCB_TRACE, cli_trace_print, ctx);
    if (opt.flags & CLI_TIMESTAMPS)
        cli_timestamps = 1;
    return session_set(ctx, opt.code, opt.fixed) ? EXIT_OK : refused(ctx, opt, value);
}

int opt_stdin_body(MailContext *, char *, char *, const CliOption &)
{
    cli_body_from_stdin = 1;
    return EXIT_OK;
}

int opt_dsnid(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    // The session keeps identifiers of 1 to 100 characters; a longer one
    // has no effect, as an empty one has none.
    if (strlen(value) > MAIL_DSN_ENVID_MAX)
        return EXIT_OK;
    return session_set(ctx, opt.code, nullptr, value) ? EXIT_OK : refused(ctx, opt, value);
}

// ---- numbers -------------------------------------------------------------------------

// The largest line length read; the session brings any number up to it
// into its range. The field it goes into counts in 32 bits, so a longer
// number is refused rather than wrapped or cut.
const uint64_t line_length_read_max = UINT32_MAX;

// A numeric value as a user must write it: digits only, to its end. "1m",
// "4.9", " 4", "+4", "-1" and "high" are refused, naming the option, rather
// than read up to their first other character. *n gets the number, or
// UINT64_MAX for one beyond 64 bits, which every range refuses. Returns
// EXIT_OK, or the status of the refusal it has reported.
int digits_status(MailContext *ctx, const CliOption &opt, const char *value, uint64_t *n)
{
    switch (num_parse_digits(value, UINT64_MAX, n)) {
    case NUM_DIGITS_OK:
        return EXIT_OK;
    case NUM_DIGITS_TOO_LARGE:
        *n = UINT64_MAX;
        return EXIT_OK;
    default:
        mail_set_errorf(ctx, "The value must be digits only: \"%s\"", value);
        return refused(ctx, opt, value, REFUSAL_INVALID);
    }
}

// -timeout: seconds; the session refuses a time-out outside its range (its
// reading saturates, so no number of digits wraps into it).
int opt_timeout(MailContext *ctx, char *word, char *value, const CliOption &opt)
{
    uint64_t n = 0;
    if (int status = digits_status(ctx, opt, value, &n))
        return status;
    return opt_value(ctx, word, value, opt);
}

// -linelen: a width the session brings into 78 to 998; an empty value is
// the default width.
int opt_line_length(MailContext *ctx, char *word, char *value, const CliOption &opt)
{
    if (!*value)
        return session_set(ctx, opt.code | MAILOPT_CLEAR, nullptr) ? EXIT_OK : refused(ctx, opt, value);
    uint64_t n = 0;
    if (int status = digits_status(ctx, opt, value, &n))
        return status;
    if (n > line_length_read_max) {
        mail_set_errorf(ctx, "The number is too large: \"%s\"", value);
        return refused(ctx, opt, value, REFUSAL_INVALID);
    }
    return opt_value(ctx, word, value, opt);
}

// -priority: the number goes into the sub-choice bits. One that does not
// fit those four bits would spill into the modifier bits of the code
// (MAILOPT_CLEAR would clear the priority), so it goes as 0, which the
// session refuses as it refuses every number but 1 to 5.
int opt_priority(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    uint64_t n = 0;
    if (int status = digits_status(ctx, opt, value, &n))
        return status;
    unsigned sub = n <= (MAILOPT_SUB_MASK >> MAILOPT_SUB_SHIFT) ? static_cast<unsigned>(n) : 0u;
    if (session_set(ctx, opt.code | mailopt_priority(sub), nullptr))
        return EXIT_OK;
    return refused(ctx, opt, value);
}

// The vocabulary, in matching order: the first entry that matches wins.
// The help switches ("/?", -doc, -asciidoc), -encryptpass: and -bindpass
// are no words of this table: they count on the command line only, where
// the run reads them before any option.
// The refusal column says what a value the session refuses means. A value
// the user gave is never dropped silently, so a refusal ends the run.
// Where some values of a word have no effect (an empty subject, time-out
// or priority, an over-long DSN identifier, a header name with a blank),
// the handler or the CLI_EMPTY_IGNORED flag leaves them out before the
// session is asked.
const CliOption cli_options[] = {
    // word, match, handler, session option, refusal, switch value, file message, flags
    {"a:", MATCH_PREFIX, opt_attach, MAILOPT_ATTACH | MAILOPT_ATTACH_AUTO, REFUSAL_ATTACHMENT,
     nullptr, "Failed to attach file (%s)", 0},
    {"ai:", MATCH_PREFIX, opt_attach, MAILOPT_ATTACH | MAILOPT_ATTACH_AUTO | MAILOPT_FROM_FILE,
     REFUSAL_ATTACHMENT, nullptr, "Failed to attach file (%s)", 0},
    {"a64:", MATCH_PREFIX, opt_attach, MAILOPT_ATTACH | MAILOPT_ATTACH_BASE64,
     REFUSAL_ATTACHMENT, nullptr, "Failed to attach file (%s)", 0},
    {"aqp:", MATCH_PREFIX, opt_attach, MAILOPT_ATTACH | MAILOPT_ATTACH_QP, REFUSAL_ATTACHMENT,
     nullptr, "Failed to attach file (%s)", 0},
    {"auu:", MATCH_PREFIX, opt_attach, MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE,
     REFUSAL_ATTACHMENT, nullptr, "Failed to attach file (%s)", 0},
    // A bad flag or a missing pattern ends the run with EXIT_INPUT_FILE.
    {"awild:", MATCH_PREFIX, opt_awild, MAILOPT_ATTACH, REFUSAL_ATTACHMENT, nullptr, nullptr, 0},
    {"to:", MATCH_PREFIX, opt_recipient, MAILOPT_RECIPIENT | MAILOPT_TO, REFUSAL_ADDRESS,
     nullptr, "Failed to set To from file (%s)", 0},
    {"cc:", MATCH_PREFIX, opt_recipient, MAILOPT_RECIPIENT | MAILOPT_CC, REFUSAL_ADDRESS,
     nullptr, "Failed to set Cc from file (%s)", 0},
    {"bcc:", MATCH_PREFIX, opt_recipient, MAILOPT_RECIPIENT | MAILOPT_BCC, REFUSAL_ADDRESS,
     nullptr, "Failed to set Bcc from file (%s)", 0},
    {"from:", MATCH_PREFIX, opt_address, MAILOPT_FROM, REFUSAL_ADDRESS, nullptr, nullptr, 0},
    {"reply-to:", MATCH_PREFIX, opt_address, MAILOPT_REPLY_TO, REFUSAL_ADDRESS, nullptr, nullptr, 0},
    {"return-path:", MATCH_PREFIX, opt_value, MAILOPT_RETURN_PATH, REFUSAL_ADDRESS, nullptr,
     nullptr, 0},
    {"subject:", MATCH_PREFIX, opt_value, MAILOPT_SUBJECT, REFUSAL_INVALID, nullptr, nullptr,
     CLI_EMPTY_IGNORED},
    // A body given as text resets the body encoding to 7bit, as the words
    // that give only an encoding set it: the later word wins.
    {"body:", MATCH_PREFIX, opt_body, MAILOPT_BODY | MAILOPT_BODY_7BIT, REFUSAL_INVALID, nullptr,
     nullptr, 0},
    {"body-file:", MATCH_PREFIX, opt_body_file, MAILOPT_BODY | MAILOPT_BODY_7BIT | MAILOPT_FROM_FILE,
     REFUSAL_FILE, nullptr, "Failed to read body file (%s)", 0},
    {"body-html:", MATCH_PREFIX, opt_value, MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, REFUSAL_FILE,
     nullptr, "Failed to read HTML body file (%s)", 0},
    {"body--html:", MATCH_PREFIX, opt_value, MAILOPT_BODY_HTML, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"linelen:", MATCH_PREFIX, opt_line_length, MAILOPT_LINE_LENGTH, REFUSAL_INVALID, nullptr,
     nullptr, 0},
    {"body-64", MATCH_EXACT, opt_switch, MAILOPT_BODY | MAILOPT_BODY_BASE64, REFUSAL_INVALID,
     nullptr, nullptr, 0},
    {"body-qp", MATCH_EXACT, opt_switch, MAILOPT_BODY | MAILOPT_BODY_QP, REFUSAL_INVALID, nullptr,
     nullptr, 0},
    {"mime", MATCH_EXACT, opt_switch, MAILOPT_FORCE_MIME, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"head:", MATCH_PREFIX, opt_header, MAILOPT_HEADER, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"delhead:", MATCH_PREFIX, opt_value, MAILOPT_DELETE_HEADER, REFUSAL_INVALID, nullptr, nullptr,
     CLI_EMPTY_IGNORED},
    {"rawhead", MATCH_PREFIX, opt_switch, MAILOPT_RAW_HEADERS, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"host:", MATCH_PREFIX, opt_host, MAILOPT_SERVER, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"passdelim:", MATCH_PREFIX, opt_passdelim, 0, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"4", MATCH_EXACT, opt_switch, MAILOPT_IP_FAMILY | MAILOPT_IPV4_ONLY, REFUSAL_INVALID, "4",
     nullptr, 0},
    {"6", MATCH_EXACT, opt_switch, MAILOPT_IP_FAMILY | MAILOPT_IPV6_ONLY, REFUSAL_INVALID, "6",
     nullptr, 0},
    {"timeout:", MATCH_PREFIX, opt_timeout, MAILOPT_TIMEOUT, REFUSAL_INVALID, nullptr, nullptr,
     CLI_EMPTY_IGNORED},
    {"authtypes:", MATCH_PREFIX, opt_authtypes, MAILOPT_AUTH_TYPES, REFUSAL_INVALID, nullptr,
     nullptr, 0},
    {"proxy:", MATCH_PREFIX, opt_proxy, MAILOPT_PROXY, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"proxytype:SOCKS", MATCH_PREFIX, opt_switch, MAILOPT_PROXY | MAILOPT_PROXY_SOCKS,
     REFUSAL_INVALID, nullptr, nullptr, 0},
    {"proxytype:HTTPS", MATCH_PREFIX, opt_switch, MAILOPT_PROXY | MAILOPT_PROXY_HTTPS,
     REFUSAL_INVALID, nullptr, nullptr, 0},
    {"file:", MATCH_PREFIX, opt_output_file, MAILOPT_OUTPUT_FILE, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"emailfile:", MATCH_PREFIX, opt_value, MAILOPT_EMAIL_FILE, REFUSAL_FILE, nullptr,
     "Failed to find emailfile (%s)", 0},
    {"helo:", MATCH_PREFIX, opt_value, MAILOPT_HELO, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"d", MATCH_EXACT, opt_debug, MAILOPT_DEBUG, REFUSAL_INVALID, "1", nullptr, 0},
    {"dd", MATCH_EXACT, opt_debug, MAILOPT_DEBUG, REFUSAL_INVALID, "2", nullptr, CLI_TIMESTAMPS},
    {"dotstuff", MATCH_EXACT, opt_switch, MAILOPT_DOT_STUFF, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"-", MATCH_EXACT, opt_stdin_body, 0, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"starttls", MATCH_EXACT, opt_switch, MAILOPT_TLS_MODE | MAILOPT_TLS_STARTTLS, REFUSAL_INVALID,
     "1", nullptr, CLI_FULL_ONLY},
    {"requiretls", MATCH_EXACT, opt_switch, MAILOPT_TLS_MODE | MAILOPT_TLS_REQUIRED,
     REFUSAL_INVALID, "1", nullptr, CLI_FULL_ONLY},
    {"secureport", MATCH_EXACT, opt_switch, MAILOPT_TLS_MODE | MAILOPT_TLS_IMPLICIT,
     REFUSAL_INVALID, "1", nullptr, CLI_FULL_ONLY},
    {"verify", MATCH_EXACT, opt_switch, MAILOPT_VERIFY, REFUSAL_INVALID, nullptr, nullptr,
     CLI_FULL_ONLY},
    {"tls-ciphers:", MATCH_PREFIX, opt_tls_list, MAILOPT_TLS_CIPHERS, REFUSAL_INVALID, nullptr,
     nullptr, CLI_FULL_ONLY},
    {"tls-protocols:", MATCH_PREFIX, opt_tls_list, MAILOPT_TLS_PROTOCOLS, REFUSAL_INVALID, nullptr,
     nullptr, CLI_FULL_ONLY},
    {"dsn:", MATCH_PREFIX, opt_value, MAILOPT_DSN, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"dsnid:", MATCH_PREFIX, opt_dsnid, MAILOPT_DSN, REFUSAL_INVALID, nullptr, nullptr,
     CLI_EMPTY_IGNORED},
    {"dkim:", MATCH_PREFIX, opt_dkim_key, MAILOPT_DKIM, REFUSAL_FILE, nullptr, nullptr, CLI_FULL_ONLY},
    {"dkim-default:", MATCH_PREFIX, opt_value, MAILOPT_DKIM_DOMAIN, REFUSAL_INVALID, nullptr, nullptr,
     CLI_FULL_ONLY},
    {"dkim-algo:", MATCH_PREFIX, opt_dkim_choice, MAILOPT_DKIM_ALGORITHMS, REFUSAL_INVALID, nullptr,
     "Unknown DKIM signing/verification algorithm: %s\n", CLI_FULL_ONLY},
    {"dkim-canon:", MATCH_PREFIX, opt_dkim_choice, MAILOPT_DKIM_CANON, REFUSAL_INVALID, nullptr,
     "Unknown DKIM canonical form: %s\n", CLI_FULL_ONLY},
    {"no-dkim", MATCH_EXACT, opt_no_dkim, 0, REFUSAL_INVALID, nullptr, nullptr, CLI_FULL_ONLY},
    {"mdn", MATCH_EXACT, opt_switch, MAILOPT_MDN, REFUSAL_INVALID, "1", nullptr, 0},
    {"priority:", MATCH_PREFIX, opt_priority, MAILOPT_PRIORITY, REFUSAL_INVALID, nullptr, nullptr,
     CLI_EMPTY_IGNORED},
    {"config:", MATCH_PREFIX, opt_ignore, 0, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"nodefault", MATCH_EXACT, opt_ignore, 0, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"skipnofile", MATCH_EXACT, opt_ignore, 0, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"clutf8", MATCH_EXACT, opt_ignore, 0, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"body-literal", MATCH_EXACT, opt_ignore, 0, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"ign:", MATCH_PREFIX, opt_ignore, 0, REFUSAL_INVALID, nullptr, nullptr, 0},
    {"oauth", MATCH_EXACT, opt_switch, MAILOPT_OAUTH, REFUSAL_INVALID, nullptr, nullptr, 0},
};

// The address options and what each passes to the session.
struct AddressKind {
    const char *prefix;
    unsigned code;
    bool takes_name;    // Bcc recipients never get a display name
    bool takes_letters; // DSN letters: recipients only
};

const AddressKind address_kinds[] = {
    {"to:", MAILOPT_RECIPIENT | MAILOPT_TO, true, true},
    {"cc:", MAILOPT_RECIPIENT | MAILOPT_CC, true, true},
    {"bcc:", MAILOPT_RECIPIENT | MAILOPT_BCC, false, true},
    {"from:", MAILOPT_FROM, true, false},
    {"reply-to:", MAILOPT_REPLY_TO, true, false},
};

} // namespace

namespace {

// The entry of the table that takes word: the first that matches, or NULL
// when none does or this program does not know the word it matches (the
// full-only words in the plain program).
const CliOption *find_option(const char *word)
{
    for (const CliOption &opt : cli_options) {
        bool hit = opt.match == MATCH_EXACT ? strcmp(word, opt.word) == 0
                                            : strncmp(word, opt.word, strlen(opt.word)) == 0;
        if (hit)
            return (opt.flags & CLI_FULL_ONLY) && !mail_full_program ? nullptr : &opt;
    }
    return nullptr;
}

} // namespace

int cli_option_known(const char *word) { return find_option(word) != nullptr; }

int cli_option_status(MailContext *ctx, char *word)
{
    const CliOption *opt = find_option(word);
    if (!opt)
        return cli_unknown_option(word);
    char *value = opt->match == MATCH_PREFIX ? word + strlen(opt->word) : word + strlen(word);
    if ((opt->flags & CLI_EMPTY_IGNORED) && !*value)
        return EXIT_OK;
    return opt->handler(ctx, word, value, *opt);
}

namespace {

// A byte of an option word's name: an ASCII letter, digit or "-".
bool name_byte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

} // namespace

int cli_unknown_option(const char *word)
{
    // What follows the name may be a value, and a value a password
    // ("hots:ann:s3cret@mx", "encryptpass=s3cret"): the word shows up to its
    // first byte that is no letter, digit or "-". That byte stays, so that
    // the message still shows that something followed.
    size_t name = 0;
    while (name_byte(word[name]))
        name++;
    std::string shown(word, word[name] ? name + 1 : name);
    cli_error("Unknown option: %s\n", cli_printable(shown.c_str()).c_str());
    return EXIT_UNKNOWN_OPTION;
}

const char *cli_option_word(size_t index)
{
    return index < sizeof cli_options / sizeof cli_options[0] ? cli_options[index].word : nullptr;
}

int cli_apply_option(MailContext *ctx, char *word)
{
    int status = cli_option_status(ctx, word);
    if (status != EXIT_OK)
        cli_end_run(ctx, status);
    return 1;
}

int cli_opt_address(MailContext *ctx, char *word)
{
    const AddressKind *kind = nullptr;
    for (const AddressKind &k : address_kinds) {
        if (strncmp(word, k.prefix, strlen(k.prefix)) == 0) {
            kind = &k;
            break;
        }
    }
    if (!kind)
        return cli_unknown_option(word);
    std::string name_of_option(kind->prefix, strlen(kind->prefix) - 1);
    const char *given = word + strlen(kind->prefix);
    mail_set_error(ctx, nullptr);

    // Parsed in a copy: the messages show the value as given.
    std::string copy = given;
    char *address = copy.data();
    char *at = strchr(address, '@');
    if (!at)
        return refusal_status(ctx, name_of_option.c_str(), given, REFUSAL_ADDRESS, nullptr);
    char *name = nullptr, *letters = nullptr;
    // The address ends at the first ":" after an "@"; a ":" before it
    // belongs to the address.
    char *colon = strchr(at, ':');
    if (colon) {
        *colon = 0;
        char *p = colon + 1;
        if (*p == '"') {
            // A quoted display name may hold ":"; what stands between the
            // closing quote and the next ":" is skipped.
            char *close = strchr(p + 1, '"');
            if (!close) {
                cli_error("Unclosed quote in -%s (%s)\n", name_of_option.c_str(),
                          cli_printable(given).c_str());
                return EXIT_USAGE;
            }
            *close = 0;
            name = p + 1;
            char *next = strchr(close + 1, ':');
            if (next)
                letters = next + 1;
        } else {
            name = p;
            char *next = strchr(p, ':');
            if (next) {
                *next = 0;
                letters = next + 1;
            }
        }
    }
    if (name && !*name)
        name = nullptr;
    if (!kind->takes_name)
        name = nullptr;
    if (!kind->takes_letters)
        letters = nullptr;
    if (session_set(ctx, kind->code, address, name, letters))
        return EXIT_OK;
    return refusal_status(ctx, name_of_option.c_str(), given, REFUSAL_ADDRESS, nullptr);
}

int cli_opt_header(MailContext *ctx, const char *value)
{
    const char *colon = strchr(value, ':');
    if (!colon)
        return EXIT_OK;
    // A name that cannot be one (empty, or with a blank in it) makes the
    // option have no effect.
    std::string name(value, static_cast<size_t>(colon - value));
    if (name.empty() || name.find_first_of(" \t") != std::string::npos)
        return EXIT_OK;
    // The value is kept whole, leading blank included.
    if (session_set(ctx, MAILOPT_HEADER, name.c_str(), colon + 1))
        return EXIT_OK;
    return refusal_status(ctx, "head", value, REFUSAL_INVALID, nullptr);
}

int cli_opt_authtypes(MailContext *ctx, const char *value)
{
    std::string copy = value;
    unsigned allow = 0;
    char *cursor = nullptr;
    // The names of the session's mechanism table, written as it writes them
    // (in capitals); names the program does not know are skipped beside
    // known ones.
    for (char *item = str_token(copy.data(), ",", &cursor); item; item = str_token(nullptr, ",", &cursor)) {
        for (const MailSaslMech &m : mail_sasl_mechs)
            if (strcmp(item, m.name) == 0)
                allow |= static_cast<unsigned>(m.allow);
    }
    if (!allow) {
        // Taking such a value would disable every mechanism without a word.
        cli_error("Unknown authentication types: %s\n", cli_printable(value).c_str());
        return EXIT_UNKNOWN_OPTION;
    }
    if (session_set(ctx, MAILOPT_AUTH_TYPES | mailopt_auth_types(allow), nullptr))
        return EXIT_OK;
    return refusal_status(ctx, "authtypes", value, REFUSAL_INVALID, nullptr);
}

char *cli_unescape_body(char *text)
{
    char *out = text;
    for (const char *in = text; *in; in++) {
        if (in[0] == '\\' && in[1] == 't') {
            *out++ = '\t';
            in++;
        } else if (in[0] == '\\' && in[1] == 'n') {
            // Two bytes in, two out: the rewrite never overtakes the reader.
            *out++ = '\r';
            *out++ = '\n';
            in++;
        } else if (in[0] == '\\' && in[1] == '\\') {
            *out++ = '\\';
            in++;
        } else {
            *out++ = *in;
        }
    }
    *out = 0;
    return text;
}
