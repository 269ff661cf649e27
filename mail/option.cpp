// The session's option switch: one table of option rows (number, name,
// handler, clear handler, full-program-only flag, and for the rows of one
// text the field it fills), looked up by the low byte of the code. Every
// handler checks and copies everything it needs before it changes the
// session, so a failing option changes nothing beyond the one early effect
// a row names (MAILOPT_BODY stores its encoding first).
#include "mail/option.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/addr.h"
#include "mail/check.h"
#include "mail/delivery.h"
#include "mail/ident.h"
#include "mail/list.h"
#include "mail/writer.h"
#include "support/file.h"
#include "support/num.h"
#include "support/str.h"

namespace {

// ---- the validation door, with the role names of its messages ----------------

enum TextRole {
    ROLE_SENDER_ADDRESS,
    ROLE_SENDER_NAME,
    ROLE_REPLY_TO_ADDRESS,
    ROLE_REPLY_TO_NAME,
    ROLE_RETURN_PATH,
    ROLE_RECIPIENT_ADDRESS,
    ROLE_RECIPIENT_NAME,
    ROLE_SUBJECT,
    ROLE_HEADER_NAME,
    ROLE_HEADER_VALUE,
    ROLE_X_MAILER,
    ROLE_MESSAGE_ID,
    ROLE_CHARSET,
    ROLE_HELO,
    ROLE_ENVID,
    ROLE_BOUNDARY,
    ROLE_CONTENT_ID,
    ROLE_MIME_TYPE,
    ROLE_ATTACHMENT_NAME,
    ROLE_SERVER_HOST,
    ROLE_PROXY_HOST,
    ROLE_DKIM_DOMAIN,
    ROLE_COUNT,
    ROLE_NONE = ROLE_COUNT, // a text that goes into neither a header nor a command
};

enum TextRule {
    RULE_NO_TAB,     // no control byte at all
    RULE_ALLOW_TAB,  // TAB allowed (header values, display names)
    RULE_FIELD_NAME, // a header-field name: printable ASCII 33-126 except ":"
    RULE_XTEXT,      // an SMTP parameter value: printable ASCII 33-126
};

struct TextRoleInfo {
    const char *name;
    TextRule rule;
};

const TextRoleInfo text_roles[] = {
    {"sender address", RULE_NO_TAB},
    {"sender name", RULE_ALLOW_TAB},
    {"reply-to address", RULE_NO_TAB},
    {"reply-to name", RULE_ALLOW_TAB},
    {"return path", RULE_NO_TAB},
    {"recipient address", RULE_NO_TAB},
    {"recipient name", RULE_ALLOW_TAB},
    {"subject", RULE_ALLOW_TAB},
    {"header-field name", RULE_FIELD_NAME},
    {"header-field value", RULE_ALLOW_TAB},
    {"X-Mailer text", RULE_ALLOW_TAB},
    {"Message-ID", RULE_NO_TAB},
    {"charset", RULE_NO_TAB},
    {"HELO name", RULE_NO_TAB},
    {"DSN envelope identifier", RULE_XTEXT},
    {"MIME boundary", RULE_NO_TAB},
    {"content ID", RULE_NO_TAB},
    {"MIME type", RULE_NO_TAB},
    {"attachment name", RULE_ALLOW_TAB},
    {"server host", RULE_NO_TAB},
    {"proxy host", RULE_NO_TAB},
    {"DKIM domain", RULE_NO_TAB},
};
static_assert(sizeof text_roles / sizeof text_roles[0] == ROLE_COUNT, "one name per role");

// One call of the switch, decoded.
struct OptionCall {
    unsigned code;
    unsigned sub;   // code & MAILOPT_SUB_MASK
    bool from_file; // MAILOPT_FROM_FILE
    bool binary;    // MAILOPT_BINARY
    uint32_t arg;   // the row's argument (flag rows: the bit)
    char *MailContext::*text; // the row's text field, for rows of one text
    TextRole role;            // how that text is checked
    const char *v1, *v2, *v3, *v4;
};

typedef int (*OptionHandler)(MailContext *ctx, const OptionCall &call);

enum : unsigned {
    OPT_FULL_ONLY = 1, // the plain program fails this number like an unlisted one
};

struct OptionRow {
    unsigned number;
    const char *name;
    OptionHandler set;
    // Run when MAILOPT_CLEAR is given; NULL: the clear bit is ignored and
    // the option acts as when set.
    OptionHandler clear;
    unsigned flags; // OPT_*
    uint32_t arg;
    char *MailContext::*text;
    TextRole role;
};

// True when text (NULL counts as clean) may take the role; otherwise the
// session's error text names the role and the option must fail.
bool text_ok(MailContext *ctx, const char *text, TextRole role)
{
    if (!text || role == ROLE_NONE)
        return true;
    const TextRoleInfo &info = text_roles[role];
    const char *problem = nullptr;
    if (!text_is_clean(text, info.rule == RULE_ALLOW_TAB ? TEXT_ALLOW_TAB : TEXT_NO_TAB))
        problem = "Control character in the ";
    else if ((info.rule == RULE_FIELD_NAME && !text_is_visible_ascii(text, 0)) ||
             (info.rule == RULE_XTEXT && !text_is_visible_ascii(text, 1)))
        problem = "Invalid character in the ";
    if (!problem)
        return true;
    std::string message = std::string(problem) + info.name;
    mail_set_error(ctx, strdup(message.c_str()));
    return false;
}

// ---- copies and stores --------------------------------------------------------

// *out = a copy of src (NULL for NULL); false only when the copy failed.
bool copy_text(const char *src, char **out)
{
    *out = src ? strdup(src) : nullptr;
    return !src || *out;
}

// *out = the header-encoded src (NULL for NULL); false only on failure.
bool encode_text(const char *src, char **out)
{
    *out = src ? hdr_encode_text(src) : nullptr;
    return !src || *out;
}

void store(char **field, char *value)
{
    free(*field);
    *field = value;
}

// Passwords and tokens are overwritten before their memory is freed.
void store_secret(char **field, char *value)
{
    str_free_secret(*field);
    *field = value;
}

bool non_empty(const char *text) { return text && *text; }

// An address that a session field may hold: non-empty, with "@", clean
// (a refusal names its role), at most 254 bytes (the bound every address
// buffer keeps).
bool address_ok(MailContext *ctx, const char *text, TextRole role)
{
    if (!non_empty(text) || !strchr(text, '@') || !text_ok(ctx, text, role))
        return false;
    return addr_classify(text) != ADDR_KIND_BAD;
}

int fail_unavailable(MailContext *ctx)
{
    mail_set_error(ctx, strdup("not available in this build"));
    return 0;
}

// Port text of a server or proxy: 0 to 65535, else -1. The saturating
// parser keeps a long digit string from wrapping into a valid port.
int64_t parse_port(const char *text)
{
    int64_t port = num_parse_i64(text);
    return port < 0 || port > MAIL_PORT_MAX ? -1 : port;
}

void set_notify_bits(MailContext *ctx, int bits)
{
    ctx->flags = (ctx->flags & ~uint32_t(MAILF_NOTIFY_MASK)) |
                 ((static_cast<uint32_t>(bits) << MAILF_NOTIFY_SHIFT) & MAILF_NOTIFY_MASK);
}

// ---- generic rows ---------------------------------------------------------------

int opt_flag_set(MailContext *ctx, const OptionCall &c)
{
    ctx->flags |= c.arg;
    return 1;
}

int opt_flag_clear(MailContext *ctx, const OptionCall &c)
{
    ctx->flags &= ~c.arg;
    return 1;
}

int opt_flag2_set(MailContext *ctx, const OptionCall &c)
{
    ctx->flags2 |= c.arg;
    return 1;
}

int opt_flag2_clear(MailContext *ctx, const OptionCall &c)
{
    ctx->flags2 &= ~c.arg;
    return 1;
}

// Rows of one text: value1, checked for its role and copied into the
// row's field; NULL makes the field NULL. Clearing makes it NULL as well.
int opt_text_optional(MailContext *ctx, const OptionCall &c)
{
    char *copy;
    if (!text_ok(ctx, c.v1, c.role) || !copy_text(c.v1, &copy))
        return 0;
    store(&(ctx->*c.text), copy);
    return 1;
}

// The same with value1 required.
int opt_text(MailContext *ctx, const OptionCall &c)
{
    return c.v1 && opt_text_optional(ctx, c);
}

int opt_text_clear(MailContext *ctx, const OptionCall &c)
{
    store(&(ctx->*c.text), nullptr);
    return 1;
}

// ---- addresses -------------------------------------------------------------------

// From and Reply-To: an address and an optional display name, stored together.
int set_address_and_name(MailContext *ctx, const OptionCall &c, char **address, char **name,
                         TextRole address_role, TextRole name_role)
{
    if (!address_ok(ctx, c.v1, address_role) || !text_ok(ctx, c.v2, name_role))
        return 0;
    char *new_address, *new_name;
    bool ok = copy_text(c.v1, &new_address);
    ok = encode_text(c.v2, &new_name) && ok;
    if (!ok) {
        free(new_address);
        free(new_name);
        return 0;
    }
    store(address, new_address);
    store(name, new_name);
    return 1;
}

int opt_from(MailContext *ctx, const OptionCall &c)
{
    return set_address_and_name(ctx, c, &ctx->from_address, &ctx->from_name, ROLE_SENDER_ADDRESS,
                                ROLE_SENDER_NAME);
}

int opt_reply_to(MailContext *ctx, const OptionCall &c)
{
    return set_address_and_name(ctx, c, &ctx->reply_to_address, &ctx->reply_to_name,
                                ROLE_REPLY_TO_ADDRESS, ROLE_REPLY_TO_NAME);
}

int opt_reply_to_clear(MailContext *ctx, const OptionCall &)
{
    store(&ctx->reply_to_address, nullptr);
    store(&ctx->reply_to_name, nullptr);
    return 1;
}

int opt_return_path(MailContext *ctx, const OptionCall &c)
{
    return address_ok(ctx, c.v1, c.role) && opt_text(ctx, c);
}

int opt_recipient(MailContext *ctx, const OptionCall &c)
{
    Recipient **list = (c.sub & MAILOPT_TO)    ? &ctx->to
                       : (c.sub & MAILOPT_CC)  ? &ctx->cc
                       : (c.sub & MAILOPT_BCC) ? &ctx->bcc
                                               : nullptr;
    if (!list || !non_empty(c.v1))
        return 0;
    if (c.from_file) {
#if TARVEX_FULL
        // Recipient-list files need the address scanners, which this build
        // does not have yet.
        return fail_unavailable(ctx);
#else
        return 0; // the plain program has no address scanners
#endif
    }
    if (!strchr(c.v1, '@'))
        return 0;
    if (!text_ok(ctx, c.v1, ROLE_RECIPIENT_ADDRESS) || !text_ok(ctx, c.v2, ROLE_RECIPIENT_NAME))
        return 0;
    return addr_recipient_add(list, c.v1, c.v2, c.v3) ? 1 : 0;
}

int opt_recipient_clear(MailContext *ctx, const OptionCall &c)
{
    unsigned lists = c.sub & (MAILOPT_TO | MAILOPT_CC | MAILOPT_BCC);
    if (!lists)
        lists = MAILOPT_TO | MAILOPT_CC | MAILOPT_BCC;
    if (lists & MAILOPT_TO)
        addr_recipient_list_free(&ctx->to);
    if (lists & MAILOPT_CC)
        addr_recipient_list_free(&ctx->cc);
    if (lists & MAILOPT_BCC)
        addr_recipient_list_free(&ctx->bcc);
    return 1;
}

// ---- message content ---------------------------------------------------------------

int opt_subject(MailContext *ctx, const OptionCall &c)
{
    char *encoded;
    if (!non_empty(c.v1) || !text_ok(ctx, c.v1, c.role) || !encode_text(c.v1, &encoded))
        return 0;
    store(&(ctx->*c.text), encoded);
    return 1;
}

void store_body_encoding(MailContext *ctx, uint32_t encoding)
{
    ctx->flags = (ctx->flags & ~uint32_t(MAILF_BODY_ENC_MASK)) |
                 (encoding << MAILF_BODY_ENC_SHIFT);
}

int opt_body(MailContext *ctx, const OptionCall &c)
{
    uint32_t encoding;
    switch (c.sub) {
    case 0x000: encoding = BODY_ENC_7BIT; break;
    case 0x100: encoding = BODY_ENC_BASE64; break;
    case 0x200: encoding = BODY_ENC_QP; break;
    default: return 0;
    }
    // The encoding is stored before anything else and stays whatever
    // becomes of the value: the words that give only an encoding
    // (-body-64, -body-qp) and those that give a body share this row.
    store_body_encoding(ctx, encoding);
    if (!c.v1)
        return 1;
    char *text = nullptr;
    size_t length = 0;
    if (!c.from_file) {
        if (!copy_text(c.v1, &text))
            return 0;
        length = strlen(text);
    } else {
        // A body file that cannot be opened or read fails the option: the
        // message must not go out without the body it was meant to carry.
        FILE *fp = file_fopen_utf8(c.v1, "rb");
        if (!fp)
            return 0;
        if (c.binary) {
            text = file_read_all(fp, &length);
        } else {
            text = file_read_text_crlf(fp, &length);
        }
        fclose(fp);
        if (!text)
            return 0;
    }
    // The flag tells the writer the body came from a file, so it is set
    // only with a file's body; a body given as a value replaces a file's
    // body and so takes the flag away.
    if (c.from_file)
        ctx->flags2 |= MAILF2_BODY_FROM_FILE;
    else
        ctx->flags2 &= ~uint32_t(MAILF2_BODY_FROM_FILE);
    store(&ctx->text_body, text);
    ctx->text_body_length = length;
    return 1;
}

int opt_body_clear(MailContext *ctx, const OptionCall &)
{
    store(&ctx->text_body, nullptr);
    ctx->text_body_length = 0;
    ctx->flags2 &= ~uint32_t(MAILF2_BODY_FROM_FILE);
    return 1;
}

int opt_body_html(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return 0;
    if (c.from_file) {
        // The file is read when the message is written; it must at least
        // open now, or the message would go out without its HTML part.
        FILE *fp = file_fopen_utf8(c.v1, "rb");
        if (!fp)
            return 0;
        fclose(fp);
    }
    if (!opt_text(ctx, c))
        return 0;
    if (c.from_file)
        ctx->flags |= MAILF_HTML_FROM_FILE;
    else
        ctx->flags &= ~uint32_t(MAILF_HTML_FROM_FILE);
    return 1;
}

int opt_attach(MailContext *ctx, const OptionCall &c)
{
    static const int encodings[] = {ATT_ENC_AUTO, ATT_ENC_BASE64, ATT_ENC_QP, ATT_ENC_UUENCODE};
    unsigned index = c.sub >> MAILOPT_SUB_SHIFT;
    if (index >= sizeof encodings / sizeof encodings[0] || !non_empty(c.v1))
        return 0;
    if (!text_ok(ctx, c.v2, ROLE_CONTENT_ID) || !text_ok(ctx, c.v3, ROLE_MIME_TYPE) ||
        !text_ok(ctx, c.v4, ROLE_ATTACHMENT_NAME))
        return 0;
    return att_add(&ctx->attachments, c.v1, encodings[index], c.code & MAILOPT_FROM_FILE, c.v2,
                   c.v3, c.v4);
}

int opt_attach_clear(MailContext *ctx, const OptionCall &)
{
    att_list_free(&ctx->attachments);
    return 1;
}

int opt_header(MailContext *ctx, const OptionCall &c)
{
    if (!non_empty(c.v1) || !c.v2)
        return 0;
    if (!text_ok(ctx, c.v1, ROLE_HEADER_NAME) || !text_ok(ctx, c.v2, ROLE_HEADER_VALUE))
        return 0;
    return hdr_list_add(&ctx->headers, c.v1, c.v2);
}

int opt_header_clear(MailContext *ctx, const OptionCall &)
{
    hdr_list_free(&ctx->headers);
    return 1;
}

int opt_delete_header(MailContext *ctx, const OptionCall &c)
{
    if (!non_empty(c.v1) || !text_ok(ctx, c.v1, ROLE_HEADER_NAME))
        return 0;
    return hdr_list_add(&ctx->removed_headers, c.v1, "");
}

int opt_delete_header_clear(MailContext *ctx, const OptionCall &)
{
    hdr_list_free(&ctx->removed_headers);
    return 1;
}

int opt_charset(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return 0;
    // An empty charset means the default, as no charset does.
    OptionCall call = c;
    if (!*call.v1)
        call.v1 = nullptr;
    return opt_text_optional(ctx, call);
}

int opt_line_length(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return 0;
    int64_t n = num_parse_i64(c.v1);
    // Taken as unsigned: a negative number counts as above the maximum.
    if (n < 0 || n > MAIL_LINE_LENGTH_MAX)
        n = MAIL_LINE_LENGTH_MAX;
    else if (n < MAIL_LINE_LENGTH_MIN)
        n = MAIL_LINE_LENGTH_MIN;
    ctx->line_length = static_cast<uint32_t>(n);
    return 1;
}

int opt_line_length_clear(MailContext *ctx, const OptionCall &)
{
    ctx->line_length = MAIL_LINE_LENGTH_MIN;
    return 1;
}

int opt_priority(MailContext *ctx, const OptionCall &c)
{
    unsigned priority = c.sub >> MAILOPT_SUB_SHIFT;
    if (priority < 1 || priority > 5)
        return 0;
    ctx->priority = static_cast<int32_t>(priority);
    return 1;
}

int opt_priority_clear(MailContext *ctx, const OptionCall &)
{
    ctx->priority = 3;
    return 1;
}

int opt_date(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return 0;
    uint64_t seconds = num_parse_u64(c.v1);
    // Beyond the year 9999 no Date field can show the value.
    if (seconds > static_cast<uint64_t>(MAIL_DATE_MAX))
        return 0;
    ctx->fixed_date = static_cast<int64_t>(seconds);
    return 1;
}

int opt_message_id(MailContext *ctx, const OptionCall &c)
{
    // With its angle brackets and the NUL the value must fit message_id;
    // a longer one is refused rather than cut.
    if (!c.v1 || !strchr(c.v1, '@') || strlen(c.v1) > MAIL_MESSAGE_ID_VALUE_MAX)
        return 0;
    if (!text_ok(ctx, c.v1, ROLE_MESSAGE_ID))
        return 0;
    snprintf(ctx->message_id, sizeof ctx->message_id, "<%s>", c.v1);
    return 1;
}

int opt_message_id_clear(MailContext *ctx, const OptionCall &)
{
    ctx->message_id[0] = 0;
    return 1;
}

int opt_boundaries(MailContext *ctx, const OptionCall &c)
{
    if (!text_ok(ctx, c.v1, ROLE_BOUNDARY) || !text_ok(ctx, c.v2, ROLE_BOUNDARY) ||
        !text_ok(ctx, c.v3, ROLE_BOUNDARY))
        return 0;
    char *mixed, *alternative, *related;
    bool ok = copy_text(c.v1, &mixed);
    ok = copy_text(c.v2, &alternative) && ok;
    ok = copy_text(c.v3, &related) && ok;
    if (!ok) {
        free(mixed);
        free(alternative);
        free(related);
        return 0;
    }
    store(&ctx->boundary_mixed, mixed);
    store(&ctx->boundary_alternative, alternative);
    store(&ctx->boundary_related, related);
    return 1;
}

int opt_boundaries_clear(MailContext *ctx, const OptionCall &)
{
    store(&ctx->boundary_mixed, nullptr);
    store(&ctx->boundary_alternative, nullptr);
    store(&ctx->boundary_related, nullptr);
    return 1;
}

// ---- mode and files ------------------------------------------------------------------

int opt_output_file(MailContext *ctx, const OptionCall &c)
{
    char *copy;
    if (!c.v1 || !copy_text(c.v1, &copy))
        return 0;
    store(&ctx->output_file, copy);
    ctx->mode = MAIL_MODE_FILE;
    return 1;
}

int opt_output_file_clear(MailContext *ctx, const OptionCall &)
{
    store(&ctx->output_file, nullptr);
    ctx->mode = MAIL_MODE_SMTP;
    return 1;
}

int opt_email_file(MailContext *ctx, const OptionCall &c)
{
    // The existence test takes the name's bytes as they are.
    char *copy;
    if (!c.v1 || !file_exists(c.v1) || !copy_text(c.v1, &copy))
        return 0;
    store(&ctx->email_file, copy);
    ctx->mode = MAIL_MODE_PRECONSTRUCTED;
    return 1;
}

int opt_email_file_clear(MailContext *ctx, const OptionCall &)
{
    store(&ctx->email_file, nullptr);
    ctx->mode = MAIL_MODE_SMTP;
    return 1;
}

int opt_email_file_scan(MailContext *ctx, const OptionCall &)
{
    if (!ctx->email_file)
        return 0;
    // Reading sender and recipients from the message's header needs the
    // address scanners, which this build does not have yet; nothing is
    // marked as taken from the file until they are.
    return fail_unavailable(ctx);
}

// ---- server, credentials, proxy --------------------------------------------------------

int opt_server(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1 || !c.v2)
        return 0;
    int64_t port = parse_port(c.v2);
    if (port < 0 || !text_ok(ctx, c.v1, ROLE_SERVER_HOST))
        return 0;
    char *copy;
    if (!copy_text(c.v1, &copy))
        return 0;
    store(&ctx->server_host, copy);
    ctx->port = static_cast<int32_t>(port);
    return 1;
}

int opt_helo(MailContext *ctx, const OptionCall &c)
{
    // An empty name would make an "ehlo" without argument; it means the
    // default (the local address) as a NULL one does.
    OptionCall call = c;
    if (call.v1 && !*call.v1)
        call.v1 = nullptr;
    return opt_text_optional(ctx, call);
}

// A user name and its secret (value1, value2), stored together.
int store_user_and_secret(const OptionCall &c, char **user_field, char **secret_field)
{
    char *user, *secret;
    bool ok = copy_text(c.v1, &user);
    ok = copy_text(c.v2, &secret) && ok;
    if (!ok) {
        free(user);
        str_free_secret(secret);
        return 0;
    }
    store(user_field, user);
    store_secret(secret_field, secret);
    return 1;
}

int opt_credentials(MailContext *ctx, const OptionCall &c)
{
    if (!non_empty(c.v1) || !c.v2)
        return 0;
    return store_user_and_secret(c, &ctx->user, &ctx->password);
}

int opt_credentials_clear(MailContext *ctx, const OptionCall &)
{
    store(&ctx->user, nullptr);
    store_secret(&ctx->password, nullptr);
    return 1;
}

int opt_auth_types(MailContext *ctx, const OptionCall &c)
{
    int allow = static_cast<int>(c.sub >> MAILOPT_SUB_SHIFT);
    if (!allow)
        return 0;
    mail_set_auth_mechanisms(ctx, allow);
    return 1;
}

int opt_auth_types_clear(MailContext *ctx, const OptionCall &c)
{
    // CRAM-MD5, PLAIN and LOGIN back on; OAUTHBEARER only when asked.
    mail_set_auth_mechanisms(ctx, static_cast<int>(c.sub >> MAILOPT_SUB_SHIFT) | 7);
    return 1;
}

int opt_ip_family(MailContext *ctx, const OptionCall &c)
{
    switch (c.sub & 0x300) {
    case 0x100: ctx->ip_family = 4; break;
    case 0x200: ctx->ip_family = 6; break;
    default: ctx->ip_family = 0; break;
    }
    return 1;
}

int opt_dsn(MailContext *ctx, const OptionCall &c)
{
    bool envid_given = non_empty(c.v2) && strlen(c.v2) <= MAIL_DSN_ENVID_MAX;
    if (!c.v1 && !envid_given)
        return 0;
    char *envid = nullptr;
    if (envid_given && (!text_ok(ctx, c.v2, ROLE_ENVID) || !copy_text(c.v2, &envid)))
        return 0;
    // Without letters the NOTIFY bits already set stay: an ENVID given on
    // its own must not erase them.
    if (c.v1)
        set_notify_bits(ctx, mail_parse_notify_letters(c.v1));
    if (envid)
        store(&ctx->dsn_envid, envid);
    return 1;
}

int opt_dsn_clear(MailContext *ctx, const OptionCall &)
{
    set_notify_bits(ctx, 0);
    store(&ctx->dsn_envid, nullptr);
    return 1;
}

int opt_tls_mode(MailContext *ctx, const OptionCall &c)
{
    switch (c.sub) {
    case 0x100: ctx->flags |= MAILF_STARTTLS; break;
    case 0x200: ctx->flags |= MAILF_STARTTLS | MAILF_STARTTLS_REQUIRED; break;
    case 0x300: ctx->flags |= MAILF_SMTPS; break;
    default: break; // any other sub-choice changes nothing
    }
    return 1;
}

int opt_tls_mode_clear(MailContext *ctx, const OptionCall &)
{
    ctx->flags &= ~uint32_t(MAILF_STARTTLS | MAILF_STARTTLS_REQUIRED | MAILF_SMTPS);
    return 1;
}

// The SMTP client's side of the actions, once installed.
const MailDelivery *delivery = nullptr;

// Applies the session's time-out to an open connection.
void apply_timeout(MailContext *ctx)
{
    if (delivery && ctx->connection)
        delivery->apply_timeout(ctx);
}

int opt_timeout(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return 0;
    int64_t seconds = num_parse_i64(c.v1);
    if (seconds < 1 || seconds > MAIL_TIMEOUT_MAX)
        return 0;
    ctx->timeout = static_cast<int32_t>(seconds);
    apply_timeout(ctx);
    return 1;
}

int opt_timeout_clear(MailContext *ctx, const OptionCall &)
{
    ctx->timeout = MAIL_TIMEOUT_DEFAULT;
    apply_timeout(ctx);
    return 1;
}

int opt_timeout_value(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return 0;
    // No lower bound of 1 here (0 keeps the connection's own default), but
    // the value must still fit the connection's millisecond count.
    int64_t seconds = num_parse_i64(c.v1);
    if (seconds < 0 || seconds > MAIL_TIMEOUT_MAX)
        return 0;
    ctx->timeout = static_cast<int32_t>(seconds);
    return 1;
}

int opt_debug(MailContext *ctx, const OptionCall &c)
{
    if (!ctx->trace_fn || !c.v1)
        return 0;
    uint32_t level = static_cast<uint32_t>(num_parse_i64(c.v1)) & 3;
    ctx->flags2 = (ctx->flags2 & ~uint32_t(MAILF2_DEBUG_MASK)) | (level << MAILF2_DEBUG_SHIFT);
    return 1;
}

int opt_debug_clear(MailContext *ctx, const OptionCall &)
{
    ctx->flags2 &= ~uint32_t(MAILF2_DEBUG_MASK);
    return 1;
}

int opt_proxy(MailContext *ctx, const OptionCall &c)
{
    int32_t type = ctx->proxy_type;
    if (c.sub & 0x200)
        type = MAIL_PROXY_HTTPS;
    else if (c.sub & 0x100)
        type = MAIL_PROXY_SOCKS;
    // Without a host only the type is stored (the -proxytype: words), and
    // the port text is not looked at.
    if (c.v1) {
        int64_t port = c.v2 ? parse_port(c.v2) : 0;
        char *copy;
        if (port < 0 || !text_ok(ctx, c.v1, ROLE_PROXY_HOST) || !copy_text(c.v1, &copy))
            return 0;
        store(&ctx->proxy_host, copy);
        if (!port)
            port = type == MAIL_PROXY_HTTPS ? MAIL_PROXY_HTTPS_PORT : MAIL_PROXY_SOCKS_PORT;
        ctx->proxy_port = static_cast<int32_t>(port);
    }
    ctx->proxy_type = type;
    return 1;
}

int opt_proxy_clear(MailContext *ctx, const OptionCall &)
{
    store(&ctx->proxy_host, nullptr);
    ctx->proxy_port = 0;
    ctx->proxy_type = MAIL_PROXY_SOCKS;
    return 1;
}

int opt_proxy_auth(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1 || !c.v2)
        return 0;
    return store_user_and_secret(c, &ctx->proxy_user, &ctx->proxy_password);
}

int opt_proxy_auth_clear(MailContext *ctx, const OptionCall &)
{
    store(&ctx->proxy_user, nullptr);
    store_secret(&ctx->proxy_password, nullptr);
    return 1;
}

// ---- DKIM choices (full program only) ----------------------------------------------

int opt_dkim_algorithms(MailContext *ctx, const OptionCall &c)
{
    switch (c.sub) {
    case 0x100: case 0x200: case 0x400: case 0x600: case 0x700:
        ctx->dkim_algorithms = static_cast<uint16_t>(ctx->dkim_algorithms | c.sub);
        return 1;
    default:
        return 0;
    }
}

int opt_dkim_algorithms_clear(MailContext *ctx, const OptionCall &)
{
    ctx->dkim_algorithms = 0x200; // rsa-sha256 only
    return 1;
}

int opt_dkim_canon(MailContext *ctx, const OptionCall &c)
{
    switch (c.sub) {
    case 0x100: case 0x200: case 0x400: case 0x800: case 0xf00:
        ctx->dkim_canons = static_cast<uint16_t>(c.sub);
        return 1;
    default:
        return 0;
    }
}

int opt_dkim_canon_clear(MailContext *ctx, const OptionCall &)
{
    ctx->dkim_canons = 0x100; // simple/simple
    return 1;
}

// ---- actions ------------------------------------------------------------------------
// Connecting and sending belong to the SMTP client (mail/delivery.h); without
// it these actions fail with a message once their own preconditions hold.

int opt_connect(MailContext *ctx, const OptionCall &)
{
    if (!delivery)
        return fail_unavailable(ctx);
    if (delivery->connect_and_login(ctx))
        return 1;
    delivery->quit(ctx, 0);
    return 0;
}

int opt_quit(MailContext *ctx, const OptionCall &)
{
    if (!(ctx->flags & MAILF_CONNECTED)) {
        // A connection whose peer went away is still released.
        if (delivery && ctx->connection)
            delivery->quit(ctx, 0);
        return 0;
    }
    if (!delivery)
        return fail_unavailable(ctx);
    delivery->quit(ctx, MAIL_RESULT_OK);
    return 1;
}

int opt_send(MailContext *ctx, const OptionCall &)
{
    if (ctx->flags & MAILF_CONNECTED) {
        if (!delivery)
            return fail_unavailable(ctx);
        return delivery->send_message(ctx) ? 1 : 0;
    }
    // Not connected: the lost connection is dropped, with one report.
    if (delivery)
        return delivery->drop_connection(ctx);
    ctx->failing_code = 0;
    mail_report(ctx, MAIL_STAGE_DISCONNECTED, MAIL_RESULT_FATAL,
                ctx->error_text ? ctx->error_text : "Disconnected");
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);
    return 0;
}

int opt_deliver(MailContext *ctx, const OptionCall &)
{
    if (ctx->server_host) {
        if (!delivery)
            return fail_unavailable(ctx);
        int sent = delivery->connect_and_login(ctx) && delivery->send_message(ctx);
        delivery->quit(ctx, MAIL_RESULT_OK);
        return sent;
    }
    if (ctx->output_file)
        return mime_write_to_file(ctx) == MIME_OK;
    return 0;
}

int opt_free(MailContext *ctx, const OptionCall &)
{
    // Any connection, live or lost, is quit (without a report) and released
    // before the session goes.
    if (delivery && ctx->connection)
        delivery->quit(ctx, 0);
    mail_free(ctx);
    return 1;
}

// ---- the table ----------------------------------------------------------------------

#define ROW(number, set, clear, flags, arg) \
    {number, #number, set, clear, flags, arg, nullptr, ROLE_NONE}
// A row that fills one text field of the session.
#define TEXT_ROW(number, set, clear, flags, field, role) \
    {number, #number, set, clear, flags, 0, &MailContext::field, role}

const OptionRow option_rows[] = {
    ROW(MAILOPT_FROM, opt_from, nullptr, 0, 0),
    ROW(MAILOPT_RECIPIENT, opt_recipient, opt_recipient_clear, 0, 0),
    TEXT_ROW(MAILOPT_SUBJECT, opt_subject, opt_text_clear, 0, subject, ROLE_SUBJECT),
    ROW(MAILOPT_BODY, opt_body, opt_body_clear, 0, 0),
    ROW(MAILOPT_OUTPUT_FILE, opt_output_file, opt_output_file_clear, 0, 0),
    ROW(MAILOPT_SERVER, opt_server, nullptr, 0, 0),
    ROW(MAILOPT_EMAIL_FILE, opt_email_file, opt_email_file_clear, 0, 0),
    ROW(MAILOPT_CREDENTIALS, opt_credentials, opt_credentials_clear, 0, 0),
    ROW(MAILOPT_OAUTH, opt_flag_set, opt_flag_clear, 0, MAILF_USE_OAUTHBEARER),
    ROW(MAILOPT_ATTACH, opt_attach, opt_attach_clear, 0, 0),
    ROW(MAILOPT_PRIORITY, opt_priority, opt_priority_clear, 0, 0),
    ROW(MAILOPT_REPLY_TO, opt_reply_to, opt_reply_to_clear, 0, 0),
    TEXT_ROW(MAILOPT_BODY_HTML, opt_body_html, opt_text_clear, 0, html_body, ROLE_NONE),
    TEXT_ROW(MAILOPT_HELO, opt_helo, opt_text_clear, 0, helo_name, ROLE_HELO),
    ROW(MAILOPT_HEADER, opt_header, opt_header_clear, 0, 0),
    TEXT_ROW(MAILOPT_CHARSET, opt_charset, opt_text_clear, 0, charset, ROLE_CHARSET),
    ROW(MAILOPT_LINE_LENGTH, opt_line_length, opt_line_length_clear, 0, 0),
    ROW(MAILOPT_FORCE_MIME, opt_flag_set, opt_flag_clear, 0, MAILF_FORCE_MIME),
    ROW(MAILOPT_AUTH_TYPES, opt_auth_types, opt_auth_types_clear, 0, 0),
    ROW(MAILOPT_IP_FAMILY, opt_ip_family, nullptr, 0, 0),
    ROW(MAILOPT_DSN, opt_dsn, opt_dsn_clear, 0, 0),
    ROW(MAILOPT_MDN, opt_flag_set, opt_flag_clear, 0, MAILF_MDN),
    ROW(MAILOPT_TLS_MODE, opt_tls_mode, opt_tls_mode_clear, 0, 0),
    ROW(MAILOPT_DOT_STUFF, opt_flag_set, opt_flag_clear, 0, MAILF_DOT_STUFF_FILE),
    ROW(MAILOPT_TIMEOUT, opt_timeout, opt_timeout_clear, 0, 0),
    ROW(MAILOPT_DKIM, opt_flag2_set, opt_flag2_clear, OPT_FULL_ONLY, MAILF2_DKIM),
    ROW(MAILOPT_DATE, opt_date, nullptr, 0, 0),
    TEXT_ROW(MAILOPT_RETURN_PATH, opt_return_path, opt_text_clear, 0, return_path,
             ROLE_RETURN_PATH),
    ROW(MAILOPT_DELETE_HEADER, opt_delete_header, opt_delete_header_clear, 0, 0),
    ROW(MAILOPT_EMAIL_FILE_SCAN, opt_email_file_scan, nullptr, OPT_FULL_ONLY, 0),
    ROW(MAILOPT_RAW_HEADERS, opt_flag_set, opt_flag_clear, 0, MAILF_RAW_HEADERS),
    ROW(MAILOPT_VERIFY, opt_flag_set, opt_flag_clear, 0, MAILF_VERIFY),
    TEXT_ROW(MAILOPT_TLS_CIPHERS, opt_text, opt_text_clear, 0, tls_ciphers, ROLE_NONE),
    TEXT_ROW(MAILOPT_TLS_PROTOCOLS, opt_text, opt_text_clear, 0, tls_protocols, ROLE_NONE),
    ROW(MAILOPT_DKIM_ALGORITHMS, opt_dkim_algorithms, opt_dkim_algorithms_clear, OPT_FULL_ONLY, 0),
    ROW(MAILOPT_DKIM_CANON, opt_dkim_canon, opt_dkim_canon_clear, OPT_FULL_ONLY, 0),
#if TARVEX_FULL // the plain session has no dkim_domain field
    TEXT_ROW(MAILOPT_DKIM_DOMAIN, opt_text_optional, opt_text_clear, OPT_FULL_ONLY, dkim_domain,
             ROLE_DKIM_DOMAIN),
#endif
    ROW(MAILOPT_TIMEOUT_VALUE, opt_timeout_value, nullptr, 0, 0),
    ROW(MAILOPT_DEBUG, opt_debug, opt_debug_clear, 0, 0),
    ROW(MAILOPT_PROXY, opt_proxy, opt_proxy_clear, 0, 0),
    ROW(MAILOPT_PROXY_AUTH, opt_proxy_auth, opt_proxy_auth_clear, 0, 0),
    TEXT_ROW(MAILOPT_X_MAILER, opt_text, opt_text_clear, 0, mailer, ROLE_X_MAILER),
    ROW(MAILOPT_MESSAGE_ID, opt_message_id, opt_message_id_clear, 0, 0),
    ROW(MAILOPT_BOUNDARIES, opt_boundaries, opt_boundaries_clear, 0, 0),
    ROW(MAILOPT_CONNECT, opt_connect, nullptr, 0, 0),
    ROW(MAILOPT_QUIT, opt_quit, nullptr, 0, 0),
    ROW(MAILOPT_SEND, opt_send, nullptr, 0, 0),
    ROW(MAILOPT_DELIVER, opt_deliver, nullptr, 0, 0),
    ROW(MAILOPT_FREE, opt_free, nullptr, 0, 0),
};

#undef ROW
#undef TEXT_ROW

// The row of this program for an option number, or NULL.
const OptionRow *find_row(unsigned number)
{
    for (const OptionRow &row : option_rows) {
        if (row.number == number)
            return (row.flags & OPT_FULL_ONLY) && !TARVEX_FULL ? nullptr : &row;
    }
    return nullptr;
}

} // namespace

void mail_set_delivery(const MailDelivery *installed)
{
    delivery = installed;
}

const char *mail_option_name(unsigned code)
{
    const OptionRow *row = find_row(code & MAILOPT_NUMBER_MASK);
    return row ? row->name : nullptr;
}

int mail_set_option(MailContext *ctx, unsigned code, const char *value1, const char *value2,
                    const char *value3, const char *value4)
{
    if (!ctx)
        return 0;
    const OptionRow *row = find_row(code & MAILOPT_NUMBER_MASK);
    if (!row)
        return 0;
    OptionCall call = {code,      code & MAILOPT_SUB_MASK, (code & MAILOPT_FROM_FILE) != 0,
                       (code & MAILOPT_BINARY) != 0, row->arg, row->text, row->role,
                       value1,    value2,           value3,    value4};
    if ((code & MAILOPT_CLEAR) && row->clear)
        return row->clear(ctx, call);
    return row->set(ctx, call);
}

int mail_set_option_basic(MailContext *ctx, int code, const char *value1, const char *value2,
                          const char *value3)
{
    return mail_set_option(ctx, static_cast<unsigned>(code), value1, value2, value3, nullptr);
}

int mail_set_auth_mechanisms(MailContext *ctx, int allow)
{
    if (!ctx)
        return 0;
    const uint32_t all = MAILF_NO_CRAM_MD5 | MAILF_NO_LOGIN | MAILF_NO_PLAIN | MAILF_NO_OAUTHBEARER;
    uint32_t flags = ctx->flags | all; // everything not in the mask is disabled
    if (allow & MAIL_AUTH_ALLOW_CRAM_MD5)
        flags &= ~uint32_t(MAILF_NO_CRAM_MD5);
    if (allow & MAIL_AUTH_ALLOW_PLAIN)
        flags &= ~uint32_t(MAILF_NO_PLAIN);
    if (allow & MAIL_AUTH_ALLOW_LOGIN)
        flags &= ~uint32_t(MAILF_NO_LOGIN);
    if (allow & MAIL_AUTH_ALLOW_OAUTHBEARER)
        flags &= ~uint32_t(MAILF_NO_OAUTHBEARER);
    ctx->flags = flags;
    return allow & MAIL_AUTH_ALLOW_OAUTHBEARER ? 1 : 0;
}

int mail_set_dsn_notify(MailContext *ctx, const char *letters)
{
    if (!ctx)
        return 0;
    set_notify_bits(ctx, mail_parse_notify_letters(letters));
    return 1;
}
