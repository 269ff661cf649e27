// The option vocabulary of the command line and the configuration files:
// one table of words, each with its match kind, handler and whether only
// the full program knows it (the plain program refuses those as unknown
// words). Handlers turn a word into session options and front-end switches.
#include "cli/cli.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/ident.h"
#include "mail/option.h"
#include "net/hostspec.h"
#include "platform/platform.h"
#include "support/encode.h"
#include "support/file.h"
#include "support/num.h"
#include "support/str.h"

namespace {

// Exit statuses of refused options.
enum {
    STATUS_OK = 0,
    STATUS_CONFIG = 1,   // a value the session or the front end refuses
    STATUS_UNKNOWN = 2,  // a word (or a choice inside one) the program does not know
    STATUS_FILE = 10,    // a file an option names cannot be used
    STATUS_NOMEM = 666,  // a copy of a value could not be made
};

enum CliMatch {
    MATCH_EXACT,  // the whole word
    MATCH_PREFIX, // any word that begins with the entry; the rest is the value
};

enum : unsigned {
    CLI_FULL_ONLY = 1,  // the plain program treats the word as unknown
    CLI_TIMESTAMPS = 2, // -dd: stamp the trace
};

struct CliOption;
// word: the whole option word; value: the text after a prefix entry ("" for
// exact ones). Both are scratch the handler may write into. Returns 0, or
// the exit status of a refusal it has reported.
typedef int (*CliHandler)(MailContext *ctx, char *word, char *value, const CliOption &opt);

struct CliOption {
    const char *word;  // without the leading "-"
    CliMatch match;
    CliHandler handler;
    unsigned flags;    // CLI_*
    unsigned code;     // the session option of the handler
    const char *fixed; // the value a switch passes, or a label for messages
};

// The option's name for messages: its word up to a ":" ("subject").
std::string option_name(const CliOption &opt)
{
    std::string name = opt.word;
    size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(0, colon);
}

// One session option; the error text is cleared first, so that a reason
// left after a refusal belongs to this call.
int session_set(MailContext *ctx, unsigned code, const char *v1, const char *v2 = nullptr,
                const char *v3 = nullptr)
{
    mail_set_error(ctx, nullptr);
    return mail_set_option_basic(ctx, static_cast<int>(code), v1, v2, v3);
}

// The status of a refused option: one whose refusal left a reason (a
// control byte in a header text, ...) is reported and fatal; a refusal
// without a reason is the session ignoring a value it does not take.
int refused(MailContext *ctx, const std::string &name)
{
    if (!ctx->error_text)
        return STATUS_OK;
    cli_error("Invalid -%s option (%s)\n", name.c_str(), cli_printable(ctx->error_text).c_str());
    return STATUS_CONFIG;
}

int refused(MailContext *ctx, const CliOption &opt) { return refused(ctx, option_name(opt)); }

// An address option's value that cannot be used: never dropped silently.
int bad_address(MailContext *ctx, const char *name, const char *value)
{
    if (ctx->error_text)
        cli_error("Invalid address in -%s (%s): %s\n", name, cli_printable(value).c_str(),
                  cli_printable(ctx->error_text).c_str());
    else
        cli_error("Invalid address in -%s (%s)\n", name, cli_printable(value).c_str());
    return STATUS_CONFIG;
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

#if TARVEX_FULL
// A password in the encrypted form: "$" and base64 text of at least the
// 8 bytes of nonce and marker. A shorter "$" text is a plain password.
bool looks_encrypted(const char *password)
{
    if (password[0] != '$')
        return false;
    size_t len = strlen(password + 1);
    std::string bytes(b64_decoded_max(len), '\0');
    return b64_decode(password + 1, static_cast<ptrdiff_t>(len),
                      reinterpret_cast<unsigned char *>(bytes.data())) >= 8;
}
#endif

// Option words whose value is a secret: an unknown-word message shows the
// word up to its ":" only.
const char *const secret_words[] = {"encryptpass:"};

// ---- generic rows --------------------------------------------------------------

// The value as the option's only text.
int opt_value(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    return session_set(ctx, opt.code, value) ? STATUS_OK : refused(ctx, opt);
}

// A word without a value: the row's fixed value, if any.
int opt_switch(MailContext *ctx, char *, char *, const CliOption &opt)
{
    return session_set(ctx, opt.code, opt.fixed) ? STATUS_OK : refused(ctx, opt);
}

// Words read elsewhere (the pre-scan, -config:) or deliberately ignored.
int opt_ignore(MailContext *, char *, char *, const CliOption &) { return STATUS_OK; }

// ---- attachments, recipients, addresses ------------------------------------------

int opt_attach(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    std::string content_id;
    if (opt.code & MAILOPT_FROM_FILE) {
        // An inline part is referred to by its escaped base name; the buffer
        // holds the longest escape, so the identifier is never cut.
        const char *base = file_base_name(value);
        content_id.assign(3 * strlen(base) + 1, '\0');
        mime_percent_escape(base, content_id.data(), content_id.size());
        content_id.resize(strlen(content_id.c_str()));
    }
    if (session_set(ctx, opt.code, value, (opt.code & MAILOPT_FROM_FILE) ? content_id.c_str() : nullptr))
        return STATUS_OK;
    if (cli_skip_missing_files)
        return STATUS_OK;
    cli_error("Failed to attach file (%s)\n", cli_printable(value).c_str());
    return STATUS_FILE;
}

// -to:, -cc:, -bcc:: "@" and a recipient list file, or an address form.
int opt_recipient(MailContext *ctx, char *word, char *value, const CliOption &opt)
{
    if (value[0] != '@')
        return cli_opt_address(ctx, word);
    if (session_set(ctx, opt.code | MAILOPT_FROM_FILE, value + 1))
        return STATUS_OK;
    cli_error("Failed to set %s from file (%s)\n", opt.fixed, cli_printable(value + 1).c_str());
    return STATUS_FILE;
}

int opt_address(MailContext *ctx, char *word, char *, const CliOption &)
{
    return cli_opt_address(ctx, word);
}

int opt_return_path(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    if (session_set(ctx, opt.code, value))
        return STATUS_OK;
    return bad_address(ctx, option_name(opt).c_str(), value);
}

// ---- bodies and header fields ----------------------------------------------------------

int opt_body(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    std::string text = value;
    cli_unescape_body(text.data());
    return session_set(ctx, opt.code, text.c_str()) ? STATUS_OK : refused(ctx, opt);
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
    if (!session_set(ctx, code, value)) {
        cli_error("Failed to read body file (%s)\n", cli_printable(value).c_str());
        return STATUS_FILE;
    }
    if (charset && !session_set(ctx, MAILOPT_CHARSET, charset))
        return refused(ctx, opt);
    return STATUS_OK;
}

int opt_body_html_file(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    if (session_set(ctx, opt.code, value))
        return STATUS_OK;
    cli_error("Failed to read HTML body file (%s)\n", cli_printable(value).c_str());
    return STATUS_FILE;
}

int opt_header(MailContext *ctx, char *, char *value, const CliOption &)
{
    return cli_opt_header(ctx, value);
}

// ---- server, proxy, authentication -------------------------------------------------------

// -host: "[user[<delimiter>password]@]host[:port]". A value that does not
// parse, or a server the session refuses, changes nothing: the
// credentials go in only together with the server they belong to.
int opt_host(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    HostParts parts;
    if (ip_parse_host_spec(value, &parts.host, &parts.port, &parts.user, &parts.password,
                           cli_password_delimiter) != HOSTSPEC_OK ||
        !*parts.host)
        return STATUS_OK;
#if TARVEX_FULL
    // The full program will read encrypted passwords here; until it can,
    // one is refused rather than sent to the server as it is written.
    if (looks_encrypted(parts.password)) {
        cli_error("Encrypted passwords are not supported in -host:\n");
        return STATUS_UNKNOWN;
    }
#endif
    std::string port = std::to_string(parts.port);
    if (!session_set(ctx, MAILOPT_SERVER, parts.host, port.c_str()))
        return refused(ctx, opt);
    // The credentials of an earlier -host: never outlive its server; the
    // session keeps new ones only with a user name.
    session_set(ctx, MAILOPT_CREDENTIALS | MAILOPT_CLEAR, nullptr);
    if (*parts.user && !session_set(ctx, MAILOPT_CREDENTIALS, parts.user, parts.password))
        return STATUS_NOMEM; // the server is set: its credentials must not go missing
    return STATUS_OK;
}

int opt_passdelim(MailContext *, char *, char *value, const CliOption &)
{
    if (!*value) {
        cli_error("Missing delimiter character in -passdelim:\n");
        return STATUS_CONFIG;
    }
    cli_password_delimiter = value[0];
    return STATUS_OK;
}

// -proxy: "[user:password@]host[:port]"; a port of 0 or none lets the
// session choose the default of the proxy type known now.
int opt_proxy(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    HostParts parts;
    if (ip_parse_host_spec_colon(value, &parts.host, &parts.port, &parts.user, &parts.password) !=
            HOSTSPEC_OK ||
        !*parts.host)
        return STATUS_OK;
    std::string port = std::to_string(parts.port);
    if (!session_set(ctx, MAILOPT_PROXY, parts.host, port.c_str()))
        return refused(ctx, opt);
    // Only a failed copy refuses the pair.
    if (!session_set(ctx, MAILOPT_PROXY_AUTH, parts.user, parts.password))
        return STATUS_NOMEM;
    return STATUS_OK;
}

int opt_authtypes(MailContext *ctx, char *, char *value, const CliOption &)
{
    return cli_opt_authtypes(ctx, value);
}

// ---- the rest ------------------------------------------------------------------------------

int opt_email_file(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    if (session_set(ctx, opt.code, value))
        return STATUS_OK;
    cli_error("Failed to find emailfile (%s)\n", cli_printable(value).c_str());
    return STATUS_FILE;
}

int opt_debug(MailContext *ctx, char *, char *, const CliOption &opt)
{
    mail_set_callback(ctx, MAILCB_TRACE, cli_trace_print, ctx);
    session_set(ctx, opt.code, opt.fixed);
    if (opt.flags & CLI_TIMESTAMPS)
        cli_timestamps = 1;
    return STATUS_OK;
}

int opt_stdin_body(MailContext *, char *, char *, const CliOption &)
{
    cli_body_from_stdin = 1;
    return STATUS_OK;
}

int opt_dsnid(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    return session_set(ctx, opt.code, nullptr, value) ? STATUS_OK : refused(ctx, opt);
}

// -priority: the number goes into the sub-choice bits. Only numbers that
// fit those four bits are passed: a larger one would spill into the
// modifier bits of the code (0x8000 would clear the priority).
int opt_priority(MailContext *ctx, char *, char *value, const CliOption &opt)
{
    int64_t n = num_parse_i64(value);
    if (n < 0 || n > 15)
        return STATUS_OK;
    session_set(ctx, opt.code | (static_cast<unsigned>(n) << MAILOPT_SUB_SHIFT), nullptr);
    return STATUS_OK;
}

// The vocabulary, in matching order: the first entry that matches wins.
// Words that come with later parts of the program (wildcard attachments,
// DKIM, help, password encryption) are not here yet, so they are unknown.
const CliOption cli_options[] = {
    {"a:", MATCH_PREFIX, opt_attach, 0, MAILOPT_ATTACH, nullptr},
    {"ai:", MATCH_PREFIX, opt_attach, 0, MAILOPT_ATTACH | MAILOPT_FROM_FILE, nullptr},
    {"a64:", MATCH_PREFIX, opt_attach, 0, MAILOPT_ATTACH | 0x100, nullptr},
    {"aqp:", MATCH_PREFIX, opt_attach, 0, MAILOPT_ATTACH | 0x200, nullptr},
    {"auu:", MATCH_PREFIX, opt_attach, 0, MAILOPT_ATTACH | 0x300, nullptr},
    {"to:", MATCH_PREFIX, opt_recipient, 0, MAILOPT_RECIPIENT | MAILOPT_TO, "To"},
    {"cc:", MATCH_PREFIX, opt_recipient, 0, MAILOPT_RECIPIENT | MAILOPT_CC, "Cc"},
    {"bcc:", MATCH_PREFIX, opt_recipient, 0, MAILOPT_RECIPIENT | MAILOPT_BCC, "Bcc"},
    {"from:", MATCH_PREFIX, opt_address, 0, MAILOPT_FROM, nullptr},
    {"reply-to:", MATCH_PREFIX, opt_address, 0, MAILOPT_REPLY_TO, nullptr},
    {"return-path:", MATCH_PREFIX, opt_return_path, 0, MAILOPT_RETURN_PATH, nullptr},
    {"subject:", MATCH_PREFIX, opt_value, 0, MAILOPT_SUBJECT, nullptr},
    {"body:", MATCH_PREFIX, opt_body, 0, MAILOPT_BODY, nullptr},
    {"body-file:", MATCH_PREFIX, opt_body_file, 0, MAILOPT_BODY | MAILOPT_FROM_FILE, nullptr},
    {"body-html:", MATCH_PREFIX, opt_body_html_file, 0, MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, nullptr},
    {"body--html:", MATCH_PREFIX, opt_value, 0, MAILOPT_BODY_HTML, nullptr},
    {"linelen:", MATCH_PREFIX, opt_value, 0, MAILOPT_LINE_LENGTH, nullptr},
    {"body-64", MATCH_EXACT, opt_switch, 0, MAILOPT_BODY | 0x100, nullptr},
    {"body-qp", MATCH_EXACT, opt_switch, 0, MAILOPT_BODY | 0x200, nullptr},
    {"mime", MATCH_EXACT, opt_switch, 0, MAILOPT_FORCE_MIME, nullptr},
    {"head:", MATCH_PREFIX, opt_header, 0, MAILOPT_HEADER, nullptr},
    {"delhead:", MATCH_PREFIX, opt_value, 0, MAILOPT_DELETE_HEADER, nullptr},
    {"rawhead", MATCH_PREFIX, opt_switch, 0, MAILOPT_RAW_HEADERS, nullptr},
    {"host:", MATCH_PREFIX, opt_host, 0, MAILOPT_SERVER, nullptr},
    {"passdelim:", MATCH_PREFIX, opt_passdelim, 0, 0, nullptr},
    {"4", MATCH_EXACT, opt_switch, 0, MAILOPT_IP_FAMILY | 0x100, "4"},
    {"6", MATCH_EXACT, opt_switch, 0, MAILOPT_IP_FAMILY | 0x200, "6"},
    {"timeout:", MATCH_PREFIX, opt_value, 0, MAILOPT_TIMEOUT, nullptr},
    {"authtypes:", MATCH_PREFIX, opt_authtypes, 0, MAILOPT_AUTH_TYPES, nullptr},
    {"proxy:", MATCH_PREFIX, opt_proxy, 0, MAILOPT_PROXY, nullptr},
    {"proxytype:SOCKS", MATCH_PREFIX, opt_switch, 0, MAILOPT_PROXY | 0x100, nullptr},
    {"proxytype:HTTPS", MATCH_PREFIX, opt_switch, 0, MAILOPT_PROXY | 0x200, nullptr},
    {"file:", MATCH_PREFIX, opt_value, 0, MAILOPT_OUTPUT_FILE, nullptr},
    {"emailfile:", MATCH_PREFIX, opt_email_file, 0, MAILOPT_EMAIL_FILE, nullptr},
    {"helo:", MATCH_PREFIX, opt_value, 0, MAILOPT_HELO, nullptr},
    {"d", MATCH_EXACT, opt_debug, 0, MAILOPT_DEBUG, "1"},
    {"dd", MATCH_EXACT, opt_debug, CLI_TIMESTAMPS, MAILOPT_DEBUG, "2"},
    {"dotstuff", MATCH_EXACT, opt_switch, 0, MAILOPT_DOT_STUFF, nullptr},
    {"-", MATCH_EXACT, opt_stdin_body, 0, 0, nullptr},
    {"starttls", MATCH_EXACT, opt_switch, CLI_FULL_ONLY, MAILOPT_TLS_MODE | 0x100, "1"},
    {"requiretls", MATCH_EXACT, opt_switch, CLI_FULL_ONLY, MAILOPT_TLS_MODE | 0x200, "1"},
    {"secureport", MATCH_EXACT, opt_switch, CLI_FULL_ONLY, MAILOPT_TLS_MODE | 0x300, "1"},
    {"verify", MATCH_EXACT, opt_switch, CLI_FULL_ONLY, MAILOPT_VERIFY, nullptr},
    {"tls-ciphers:", MATCH_PREFIX, opt_value, CLI_FULL_ONLY, MAILOPT_TLS_CIPHERS, nullptr},
    {"tls-protocols:", MATCH_PREFIX, opt_value, CLI_FULL_ONLY, MAILOPT_TLS_PROTOCOLS, nullptr},
    {"dsn:", MATCH_PREFIX, opt_value, 0, MAILOPT_DSN, nullptr},
    {"dsnid:", MATCH_PREFIX, opt_dsnid, 0, MAILOPT_DSN, nullptr},
    {"mdn", MATCH_EXACT, opt_switch, 0, MAILOPT_MDN, "1"},
    {"priority:", MATCH_PREFIX, opt_priority, 0, MAILOPT_PRIORITY, nullptr},
    {"config:", MATCH_PREFIX, opt_ignore, 0, 0, nullptr},
    {"nodefault", MATCH_EXACT, opt_ignore, 0, 0, nullptr},
    {"skipnofile", MATCH_EXACT, opt_ignore, 0, 0, nullptr},
    {"clutf8", MATCH_EXACT, opt_ignore, 0, 0, nullptr},
    {"body-literal", MATCH_EXACT, opt_ignore, 0, 0, nullptr},
    {"ign:", MATCH_PREFIX, opt_ignore, 0, 0, nullptr},
    {"oauth", MATCH_EXACT, opt_switch, 0, MAILOPT_OAUTH, nullptr},
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

int cli_option_status(MailContext *ctx, char *word)
{
    for (const CliOption &opt : cli_options) {
        size_t len = strlen(opt.word);
        bool hit = opt.match == MATCH_EXACT ? strcmp(word, opt.word) == 0
                                            : strncmp(word, opt.word, len) == 0;
        if (!hit)
            continue;
        if ((opt.flags & CLI_FULL_ONLY) && !TARVEX_FULL)
            break;
        char *value = opt.match == MATCH_PREFIX ? word + len : word + strlen(word);
        return opt.handler(ctx, word, value, opt);
    }
    std::string shown = word;
    for (const char *secret : secret_words)
        if (strncmp(word, secret, strlen(secret)) == 0)
            shown = secret;
    cli_error("Unknown option: %s\n", cli_printable(shown.c_str()).c_str());
    return STATUS_UNKNOWN;
}

int cli_apply_option(MailContext *ctx, char *word)
{
    int status = cli_option_status(ctx, word);
    if (status != STATUS_OK)
        plat_exit(status);
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
    if (!kind) {
        cli_error("Unknown option: %s\n", cli_printable(word).c_str());
        return STATUS_UNKNOWN;
    }
    std::string name_of_option(kind->prefix, strlen(kind->prefix) - 1);
    const char *given = word + strlen(kind->prefix);
    mail_set_error(ctx, nullptr);

    // Parsed in a copy: the messages show the value as given.
    std::string copy = given;
    char *address = copy.data();
    char *at = strchr(address, '@');
    if (!at)
        return bad_address(ctx, name_of_option.c_str(), given);
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
                return STATUS_CONFIG;
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
        return STATUS_OK;
    return bad_address(ctx, name_of_option.c_str(), given);
}

int cli_opt_header(MailContext *ctx, const char *value)
{
    const char *colon = strchr(value, ':');
    if (!colon)
        return STATUS_OK;
    std::string name(value, static_cast<size_t>(colon - value));
    if (name.find_first_of(" \t") != std::string::npos)
        return STATUS_OK;
    // The value is kept whole, leading blank included.
    if (session_set(ctx, MAILOPT_HEADER, name.c_str(), colon + 1))
        return STATUS_OK;
    return refused(ctx, std::string("head"));
}

int cli_opt_authtypes(MailContext *ctx, const char *value)
{
    static const struct {
        const char *name;
        unsigned bit;
    } mechanisms[] = {
        {"CRAM-MD5", MAIL_AUTH_ALLOW_CRAM_MD5},
        {"PLAIN", MAIL_AUTH_ALLOW_PLAIN},
        {"LOGIN", MAIL_AUTH_ALLOW_LOGIN},
        {"OAUTHBEARER", MAIL_AUTH_ALLOW_OAUTHBEARER},
    };
    std::string copy = value;
    unsigned allow = 0;
    char *cursor = nullptr;
    // Names the program does not know are skipped beside known ones.
    for (char *item = str_token(copy.data(), ",", &cursor); item; item = str_token(nullptr, ",", &cursor)) {
        for (const auto &m : mechanisms)
            if (strcmp(item, m.name) == 0)
                allow |= m.bit;
    }
    if (!allow) {
        // Taking such a value would disable every mechanism without a word.
        cli_error("Unknown authentication types: %s\n", cli_printable(value).c_str());
        return STATUS_UNKNOWN;
    }
    session_set(ctx, MAILOPT_AUTH_TYPES | (allow << MAILOPT_SUB_SHIFT), nullptr);
    return STATUS_OK;
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
