// The session's option switch: one table of option rows (number, name,
// handler, clear handler, full-program-only flag, and for the rows of one
// text the field it fills), looked up by the low byte of the code. Every
// handler checks and copies everything it needs before it changes the
// session, so a failing option changes nothing beyond the one early effect
// a row names (MAILOPT_BODY stores its encoding first). Every failure goes
// through refuse(), which stores the reason, or through nomem().
#include "mail/option.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mail/addr.h"
#include "mail/check.h"
#include "mail/delivery.h"
#include "mail/hdrtext.h"
#include "mail/lists.h"
#include "mail/seam.h"
#include "mail/writer.h"
#include "platform/platform.h"
#include "support/file.h"
#include "support/num.h"
#include "support/str.h"

namespace {

// ---- the roles of values, for the door and the reasons ------------------------

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
    ROLE_USER_NAME,
    ROLE_PROXY_USER,
    // Values that go neither into a header line nor into an SMTP command:
    // named in reasons, not checked at the door.
    ROLE_HTML_BODY,
    ROLE_TLS_CIPHERS,
    ROLE_TLS_PROTOCOLS,
    ROLE_COUNT,
};

enum TextRule {
    RULE_NO_TAB,     // no control byte at all
    RULE_ALLOW_TAB,  // TAB allowed (header values, display names)
    RULE_FIELD_NAME, // a header-field name: printable ASCII 33-126 except ":"
    RULE_XTEXT,      // an SMTP parameter value: printable ASCII 33-126
    RULE_UNCHECKED,  // not raw header or command text
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
    {"user name", RULE_NO_TAB},
    {"proxy user name", RULE_NO_TAB},
    {"HTML body", RULE_UNCHECKED},
    {"TLS cipher list", RULE_UNCHECKED},
    {"TLS protocol list", RULE_UNCHECKED},
};
static_assert(sizeof text_roles / sizeof text_roles[0] == ROLE_COUNT, "one name per role");

const char *role_name(TextRole role) { return role < ROLE_COUNT ? text_roles[role].name : "value"; }

// ---- refusals --------------------------------------------------------------------

// Stores the reason of a refusal (engine dialect) and gives the result 0.
int refuse(MailContext *ctx, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    mail_set_errorv(ctx, format, ap);
    va_end(ap);
    return 0;
}

// A refusal for a file the system would not open or read: the reason
// with the system's own (code: plat_last_error() right after the failed
// call), result 0.
int refuse_file(MailContext *ctx, int code, const char *format, const char *path)
{
    mail_set_system_error(ctx, code, format, path);
    return 0;
}

// Memory ran out: the out-of-memory mark, result 0.
int nomem(MailContext *ctx)
{
    mail_set_nomem(ctx);
    return 0;
}

int refuse_missing(MailContext *ctx, TextRole role)
{
    return refuse(ctx, "No %s given", role_name(role));
}

// One call of the switch, decoded.
struct OptionCall {
    unsigned code;
    unsigned sub;   // code & MAILOPT_SUB_MASK
    bool from_file; // MAILOPT_FROM_FILE
    bool binary;    // MAILOPT_BINARY
    uint32_t arg;   // the row's argument (flag rows: the bit)
    char *MailContext::*text; // the row's text field, for rows of one text
    TextRole role;            // that text's role
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

// The validation door: true when text (NULL counts as clean) may take the
// role; otherwise the reason names the role and the option must fail.
bool text_ok(MailContext *ctx, const char *text, TextRole role)
{
    if (!text || role >= ROLE_COUNT || text_roles[role].rule == RULE_UNCHECKED)
        return true;
    const TextRoleInfo &info = text_roles[role];
    const char *problem = nullptr;
    if (!text_is_clean(text, info.rule == RULE_ALLOW_TAB ? TEXT_ALLOW_TAB : TEXT_NO_TAB))
        problem = "Control character in the %s";
    else if ((info.rule == RULE_FIELD_NAME && !text_is_visible_ascii(text, 0)) ||
             (info.rule == RULE_XTEXT && !text_is_visible_ascii(text, 1)))
        problem = "Invalid character in the %s";
    else if (!utf8_valid(text))
        problem = "Invalid UTF-8 in the %s";
    if (!problem)
        return true;
    refuse(ctx, problem, info.name);
    return false;
}

// ---- copies and stores --------------------------------------------------------

// *out = a copy of src (NULL for NULL); false, with the out-of-memory
// mark, when the copy could not be made.
bool copy_text(MailContext *ctx, const char *src, char **out)
{
    *out = src ? strdup(src) : nullptr;
    if (src && !*out) {
        nomem(ctx);
        return false;
    }
    return true;
}

// *out = the header-encoded src (NULL for NULL); false as copy_text.
bool encode_text(MailContext *ctx, const char *src, char **out)
{
    *out = src ? hdr_encode_text(src) : nullptr;
    if (src && !*out) {
        nomem(ctx);
        return false;
    }
    return true;
}

void store(char **field, char *value)
{
    free(*field);
    *field = value;
}

// Passwords and tokens are wiped before their memory is freed.
void store_secret(char **field, char *value)
{
    str_free_secret(*field);
    *field = value;
}

bool non_empty(const char *text) { return text && *text; }

// A domain with an ASCII form (mail/addr.h), written into ascii when given
// (ADDR_BUF_SIZE bytes). A refusal names the role, after what (the part
// of the value the domain is: "" for a value that is the domain).
bool domain_ok(MailContext *ctx, const char *domain, TextRole role, const char *what,
               char *ascii = nullptr)
{
    char buf[ADDR_BUF_SIZE];
    int status = addr_idn_convert(domain, ascii ? ascii : buf, ADDR_BUF_SIZE);
    if (status == ADDR_IDN_OK)
        return true;
    if (status == ADDR_IDN_NOMEM)
        nomem(ctx);
    else
        refuse(ctx, "The %s%s is not a valid domain: %s", what, role_name(role), addr_idn_reason(status));
    return false;
}

// An address that a session field may hold: given, clean and well-formed
// UTF-8, at most ADDR_MAX bytes, and one mailbox by the header writer's own
// rule, so that every address accepted here is one it writes. A refusal
// names the role.
bool address_ok(MailContext *ctx, const char *text, TextRole role)
{
    if (!non_empty(text)) {
        refuse_missing(ctx, role);
        return false;
    }
    if (!text_ok(ctx, text, role))
        return false;
    if (strlen(text) > ADDR_MAX) {
        refuse(ctx, "The %s is longer than %d bytes", role_name(role), int(ADDR_MAX));
        return false;
    }
    const char *at = strrchr(text, '@');
    if (at && !domain_ok(ctx, at + 1, role, "domain of the "))
        return false;
    if (!hdr_address_is_safe(text)) {
        refuse(ctx, "The %s is not a valid mailbox", role_name(role));
        return false;
    }
    return true;
}

int fail_unavailable(MailContext *ctx)
{
    return refuse(ctx, "not available in this build");
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
    if (!text_ok(ctx, c.v1, c.role) || !copy_text(ctx, c.v1, &copy))
        return 0;
    store(&(ctx->*c.text), copy);
    return 1;
}

// The same with value1 required.
int opt_text(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return refuse_missing(ctx, c.role);
    return opt_text_optional(ctx, c);
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
    char *new_address, *new_name = nullptr;
    if (!copy_text(ctx, c.v1, &new_address))
        return 0;
    if (!encode_text(ctx, c.v2, &new_name)) {
        free(new_address);
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
    if (!list)
        return refuse(ctx, "No recipient list chosen (To, Cc or Bcc)");
    if (c.from_file) {
        if (!non_empty(c.v1))
            return refuse(ctx, "No recipient list file given");
        return mail_scan_recipient_file(ctx, list, c.v1);
    }
    if (!address_ok(ctx, c.v1, ROLE_RECIPIENT_ADDRESS) || !text_ok(ctx, c.v2, ROLE_RECIPIENT_NAME))
        return 0;
    // Everything the constructor refuses is checked above: what is left is
    // memory running out.
    return addr_recipient_add(list, c.v1, c.v2, c.v3) ? 1 : nomem(ctx);
}

int opt_recipient_clear(MailContext *ctx, const OptionCall &c)
{
    unsigned lists = c.sub & MAILOPT_RECIPIENT_LISTS;
    if (!lists)
        lists = MAILOPT_RECIPIENT_LISTS;
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
    if (!non_empty(c.v1))
        return refuse_missing(ctx, c.role);
    if (!text_ok(ctx, c.v1, c.role) || !encode_text(ctx, c.v1, &encoded))
        return 0;
    store(&(ctx->*c.text), encoded);
    return 1;
}

void store_body_encoding(MailContext *ctx, uint32_t encoding)
{
    ctx->flags = (ctx->flags & ~uint32_t(MAILF_BODY_ENC_MASK)) |
                 (encoding << MAILF_BODY_ENC_SHIFT);
}

// Reads a body file whole: raw bytes, or text with CR LF line ends. NULL
// with the reason stored when it cannot be opened or read.
char *read_body_file(MailContext *ctx, const char *path, bool binary, size_t *length)
{
    FILE *fp = file_fopen_utf8(path, "rb");
    if (!fp) {
        refuse_file(ctx, plat_last_error(), "Cannot open the body file (%s)", path);
        return nullptr;
    }
    int why = STR_READ_OK;
    char *text = binary ? file_read_all(fp, length, &why) : file_read_text_crlf(fp, length, &why);
    int code = text ? 0 : plat_last_error();
    fclose(fp);
    if (text)
        return text;
    if (why == STR_READ_NOMEM)
        nomem(ctx);
    else if (why == STR_READ_TOO_BIG)
        refuse(ctx, "The body file is too large (%s)", path);
    else
        refuse_file(ctx, code, "Cannot read the body file (%s)", path);
    return nullptr;
}

int opt_body(MailContext *ctx, const OptionCall &c)
{
    uint32_t encoding;
    switch (c.sub) {
    case MAILOPT_BODY_7BIT: encoding = BODY_ENC_7BIT; break;
    case MAILOPT_BODY_BASE64: encoding = BODY_ENC_BASE64; break;
    case MAILOPT_BODY_QP: encoding = BODY_ENC_QP; break;
    default: return refuse(ctx, "Unknown text-body encoding");
    }
    // The encoding is stored before anything else and stays whatever
    // becomes of the value: the words that give only an encoding
    // (-body-64, -body-qp) and those that give a body share this row.
    store_body_encoding(ctx, encoding);
    if (!c.v1)
        return 1;
    char *text = nullptr, *file = nullptr;
    size_t length = 0;
    if (!c.from_file) {
        if (!copy_text(ctx, c.v1, &text))
            return 0;
        length = strlen(text);
    } else {
        // A body file that cannot be opened or read fails the option: the
        // message must not go out without the body it was meant to carry.
        // Its name is kept, so that no output file takes its place.
        if (!copy_text(ctx, c.v1, &file))
            return 0;
        text = read_body_file(ctx, c.v1, c.binary, &length);
        if (!text) {
            free(file);
            return 0;
        }
    }
    store(&ctx->body_file, file);
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
    store(&ctx->body_file, nullptr);
    return 1;
}

// 1 when path opens for reading now; else 0 with "Cannot open the <what>
// for reading (<path>)".
int readable_now(MailContext *ctx, const char *what, const char *path)
{
    FILE *fp = file_fopen_utf8(path, "rb");
    if (!fp) {
        mail_set_system_error(ctx, plat_last_error(), "Cannot open the %s for reading (%s)", what, path);
        return 0;
    }
    fclose(fp);
    return 1;
}

int opt_body_html(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return refuse_missing(ctx, c.role);
    // The file is read when the message is written; it must at least open
    // now, or the message would go out without its HTML part.
    if (c.from_file && !readable_now(ctx, "HTML body file", c.v1))
        return 0;
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
    static_assert(mailopt_sub_index(MAILOPT_ATTACH_AUTO) == 0 &&
                      mailopt_sub_index(MAILOPT_ATTACH_BASE64) == 1 &&
                      mailopt_sub_index(MAILOPT_ATTACH_QP) == 2 &&
                      mailopt_sub_index(MAILOPT_ATTACH_UUENCODE) == 3,
                  "the sub-choice indexes the encodings");
    unsigned index = mailopt_sub_index(c.code);
    if (index >= sizeof encodings / sizeof encodings[0])
        return refuse(ctx, "Unknown attachment encoding");
    if (!non_empty(c.v1))
        return refuse(ctx, "No attachment file given");
    if (!text_ok(ctx, c.v2, ROLE_CONTENT_ID) || !text_ok(ctx, c.v3, ROLE_MIME_TYPE) ||
        !text_ok(ctx, c.v4, ROLE_ATTACHMENT_NAME))
        return 0;
    // A file that exists but cannot be read is refused now: the message
    // would otherwise go out without it. One that vanishes later is
    // reported and left out when the message is written.
    if (!file_exists_utf8(c.v1))
        return refuse_file(ctx, plat_last_error(), "The attachment file does not exist (%s)", c.v1);
    if (!readable_now(ctx, "attachment file", c.v1))
        return 0;
    if (att_add(&ctx->attachments, c.v1, encodings[index], c.code & MAILOPT_FROM_FILE, c.v2, c.v3,
                c.v4))
        return 1;
    // Everything else att_add refuses is checked above.
    if (!file_exists_utf8(c.v1))
        return refuse(ctx, "The attachment file does not exist (%s)", c.v1);
    return nomem(ctx);
}

int opt_attach_clear(MailContext *ctx, const OptionCall &)
{
    att_list_free(&ctx->attachments);
    return 1;
}

// The name (and value) of a header field, given and fit for the door.
bool field_ok(MailContext *ctx, const char *name, const char *value, bool value_required)
{
    if (!non_empty(name)) {
        refuse_missing(ctx, ROLE_HEADER_NAME);
        return false;
    }
    if (value_required && !value) {
        refuse_missing(ctx, ROLE_HEADER_VALUE);
        return false;
    }
    return text_ok(ctx, name, ROLE_HEADER_NAME) && text_ok(ctx, value, ROLE_HEADER_VALUE);
}

int opt_header(MailContext *ctx, const OptionCall &c)
{
    if (!field_ok(ctx, c.v1, c.v2, true))
        return 0;
    return hdr_list_add(&ctx->headers, c.v1, c.v2) ? 1 : nomem(ctx);
}

int opt_header_clear(MailContext *ctx, const OptionCall &)
{
    hdr_list_free(&ctx->headers);
    return 1;
}

int opt_delete_header(MailContext *ctx, const OptionCall &c)
{
    if (!field_ok(ctx, c.v1, nullptr, false))
        return 0;
    return hdr_list_add(&ctx->removed_headers, c.v1, "") ? 1 : nomem(ctx);
}

int opt_delete_header_clear(MailContext *ctx, const OptionCall &)
{
    hdr_list_free(&ctx->removed_headers);
    return 1;
}

int opt_charset(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return refuse_missing(ctx, c.role);
    // An empty charset means the default, as no charset does.
    OptionCall call = c;
    if (!*call.v1)
        call.v1 = nullptr;
    return opt_text_optional(ctx, call);
}

int opt_line_length(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return refuse(ctx, "No line length given");
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
    unsigned priority = mailopt_sub_index(c.code);
    if (priority < 1 || priority > 5)
        return refuse(ctx, "The priority must be 1 to 5");
    ctx->priority = static_cast<int32_t>(priority);
    return 1;
}

int opt_priority_clear(MailContext *ctx, const OptionCall &)
{
    ctx->priority = MAIL_PRIORITY_NORMAL;
    return 1;
}

int opt_date(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return refuse(ctx, "No date given");
    uint64_t seconds = num_parse_u64(c.v1);
    // Beyond the year 9999 no Date field can show the value.
    if (seconds > static_cast<uint64_t>(MAIL_DATE_MAX))
        return refuse(ctx, "The date lies beyond the year 9999");
    ctx->fixed_date = static_cast<int64_t>(seconds);
    return 1;
}

int opt_message_id(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return refuse_missing(ctx, ROLE_MESSAGE_ID);
    if (!strchr(c.v1, '@'))
        return refuse(ctx, "No \"@\" in the Message-ID");
    // With its angle brackets and the NUL the value must fit message_id;
    // a longer one is refused rather than cut.
    if (strlen(c.v1) > MAIL_MESSAGE_ID_VALUE_MAX)
        return refuse(ctx, "The Message-ID is longer than %d characters",
                      int(MAIL_MESSAGE_ID_VALUE_MAX));
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
    const char *given[] = {c.v1, c.v2, c.v3};
    char **fields[] = {&ctx->boundary_mixed, &ctx->boundary_alternative, &ctx->boundary_related};
    char *copies[3] = {};
    for (const char *text : given)
        if (!text_ok(ctx, text, ROLE_BOUNDARY))
            return 0;
    for (int i = 0; i < 3; i++) {
        if (!copy_text(ctx, given[i], &copies[i])) {
            for (char *copy : copies)
                free(copy);
            return 0;
        }
    }
    for (int i = 0; i < 3; i++)
        store(fields[i], copies[i]);
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
    if (!c.v1)
        return refuse(ctx, "No output file given");
    if (!copy_text(ctx, c.v1, &copy))
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
    char *copy;
    if (!c.v1)
        return refuse(ctx, "No message file given");
    // The existence test takes the name's bytes as they are.
    if (!file_exists(c.v1))
        return refuse_file(ctx, plat_last_error(), "The message file does not exist (%s)", c.v1);
    if (!copy_text(ctx, c.v1, &copy))
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

int opt_email_file_scan(MailContext *ctx, const OptionCall &c)
{
    if (!ctx->email_file)
        return refuse(ctx, "No message file set");
    return mail_scan_message_file(ctx, c.v1 != nullptr, c.v2 != nullptr);
}

// ---- server, credentials, proxy --------------------------------------------------------

// A server or proxy host name: clean as its role asks, and without a
// blank, since the name goes raw into a proxy's CONNECT line (the server's)
// or the resolver (both), where a blank would end it early.
bool host_ok(MailContext *ctx, const char *host, TextRole role)
{
    if (strchr(host, ' ')) {
        refuse(ctx, "Blank in the %s", role_name(role));
        return false;
    }
    return text_ok(ctx, host, role);
}

int opt_server(MailContext *ctx, const OptionCall &c)
{
    if (!c.v1)
        return refuse_missing(ctx, ROLE_SERVER_HOST);
    if (!c.v2)
        return refuse(ctx, "No server port given");
    int64_t port = parse_port(c.v2);
    if (port < 0)
        return refuse(ctx, "The server port is out of range (0 to %d)", int(MAIL_PORT_MAX));
    char *copy;
    if (!host_ok(ctx, c.v1, ROLE_SERVER_HOST) || !copy_text(ctx, c.v1, &copy))
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
    // The name is the one word of the command: anything else would put
    // more words (a second command) on its line.
    if (!text_ok(ctx, call.v1, ROLE_HELO))
        return 0;
    // A domain goes in its ASCII form; the conversion drops empty labels,
    // which the name may not have.
    const char *not_a_name = "The HELO name is not a domain or an address literal";
    char ascii[ADDR_BUF_SIZE];
    if (call.v1 && call.v1[0] != '[') {
        size_t len = strlen(call.v1);
        if (call.v1[0] == '.' || call.v1[len - 1] == '.' || strstr(call.v1, "..") ||
            (str_is_ascii(call.v1) && !text_is_helo_name(call.v1)))
            return refuse(ctx, "%s", not_a_name);
        if (!domain_ok(ctx, call.v1, ROLE_HELO, "", ascii))
            return 0;
        call.v1 = ascii;
    }
    if (call.v1 && !text_is_helo_name(call.v1))
        return refuse(ctx, "%s", not_a_name);
    return opt_text_optional(ctx, call);
}

// The default signing domain, kept in its ASCII form, the form of the
// key registry; NULL or an empty one makes it NULL.
int opt_dkim_domain(MailContext *ctx, const OptionCall &c)
{
    char ascii[ADDR_BUF_SIZE];
    if (!non_empty(c.v1))
        return opt_text_clear(ctx, c);
    if (!mail_dkim_domain_ascii(ctx, c.v1, ascii, sizeof ascii))
        return 0;
    OptionCall call = c;
    call.v1 = ascii;
    return opt_text_optional(ctx, call);
}

// OAUTHBEARER separates its fields with the byte 0x01: a bearer token that
// holds one would end its field early and add fields of its own.
bool bearer_token_ok(MailContext *ctx, const char *token)
{
    if (!token || !strchr(token, '\x01'))
        return true;
    refuse(ctx, "The bearer token holds the byte 0x01");
    return false;
}

// A user name and its secret (value1, value2), stored together.
int store_user_and_secret(MailContext *ctx, const OptionCall &c, char **user_field,
                          char **secret_field)
{
    char *user, *secret;
    if (!copy_text(ctx, c.v1, &user))
        return 0;
    if (!copy_text(ctx, c.v2, &secret)) {
        free(user);
        return 0;
    }
    store(user_field, user);
    store_secret(secret_field, secret);
    return 1;
}

int opt_credentials(MailContext *ctx, const OptionCall &c)
{
    if (!non_empty(c.v1))
        return refuse(ctx, "No user name given");
    if (!c.v2)
        return refuse(ctx, "No password given");
    // The user name goes into every AUTH exchange; the secret is the
    // bearer token when OAUTHBEARER is asked for.
    if (!text_ok(ctx, c.v1, ROLE_USER_NAME) ||
        ((ctx->flags & MAILF_USE_OAUTHBEARER) && !bearer_token_ok(ctx, c.v2)))
        return 0;
    return store_user_and_secret(ctx, c, &ctx->user, &ctx->password);
}

// OAUTHBEARER: the password already given becomes the bearer token.
int opt_oauth(MailContext *ctx, const OptionCall &c)
{
    if (!bearer_token_ok(ctx, ctx->password))
        return 0;
    return opt_flag_set(ctx, c);
}

int opt_credentials_clear(MailContext *ctx, const OptionCall &)
{
    store(&ctx->user, nullptr);
    store_secret(&ctx->password, nullptr);
    return 1;
}

int opt_auth_types(MailContext *ctx, const OptionCall &c)
{
    int allow = static_cast<int>(mailopt_sub_index(c.code));
    if (!allow)
        return refuse(ctx, "No AUTH mechanism allowed");
    mail_set_auth_mechanisms(ctx, allow);
    return 1;
}

int opt_auth_types_clear(MailContext *ctx, const OptionCall &c)
{
    // CRAM-MD5, PLAIN and LOGIN back on; OAUTHBEARER only when asked.
    mail_set_auth_mechanisms(ctx, static_cast<int>(mailopt_sub_index(c.code)) |
                                      MAIL_AUTH_ALLOW_CRAM_MD5 | MAIL_AUTH_ALLOW_PLAIN |
                                      MAIL_AUTH_ALLOW_LOGIN);
    return 1;
}

int opt_ip_family(MailContext *ctx, const OptionCall &c)
{
    switch (c.sub & (MAILOPT_IPV4_ONLY | MAILOPT_IPV6_ONLY)) {
    case MAILOPT_IPV4_ONLY: ctx->ip_family = MAIL_IP_FAMILY_V4; break;
    case MAILOPT_IPV6_ONLY: ctx->ip_family = MAIL_IP_FAMILY_V6; break;
    default: ctx->ip_family = MAIL_IP_FAMILY_ANY; break; // neither or both
    }
    return 1;
}

int opt_dsn(MailContext *ctx, const OptionCall &c)
{
    bool envid_given = non_empty(c.v2) && strlen(c.v2) <= MAIL_DSN_ENVID_MAX;
    if (!c.v1 && !envid_given) {
        if (non_empty(c.v2))
            return refuse(ctx, "The DSN envelope identifier is longer than %d characters",
                          int(MAIL_DSN_ENVID_MAX));
        return refuse(ctx, "No DSN NOTIFY letters or envelope identifier given");
    }
    char *envid = nullptr;
    if (envid_given && (!text_ok(ctx, c.v2, ROLE_ENVID) || !copy_text(ctx, c.v2, &envid)))
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
    case MAILOPT_TLS_STARTTLS: ctx->flags |= MAILF_STARTTLS; break;
    case MAILOPT_TLS_REQUIRED: ctx->flags |= MAILF_STARTTLS | MAILF_STARTTLS_REQUIRED; break;
    case MAILOPT_TLS_IMPLICIT: ctx->flags |= MAILF_SMTPS; break;
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

// Seconds of a time-out text within lowest to MAIL_TIMEOUT_MAX, else -1
// with the reason stored.
int64_t timeout_seconds(MailContext *ctx, const char *text, int64_t lowest)
{
    if (!text) {
        refuse(ctx, "No time-out given");
        return -1;
    }
    int64_t seconds = num_parse_i64(text);
    if (seconds < lowest || seconds > MAIL_TIMEOUT_MAX) {
        refuse(ctx, "The time-out is out of range (%d to %d seconds)", int(lowest),
               int(MAIL_TIMEOUT_MAX));
        return -1;
    }
    return seconds;
}

int opt_timeout(MailContext *ctx, const OptionCall &c)
{
    int64_t seconds = timeout_seconds(ctx, c.v1, 1);
    if (seconds < 0)
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
    // No lower bound of 1 here (0 keeps the connection's own default), but
    // the value must still fit the connection's millisecond count.
    int64_t seconds = timeout_seconds(ctx, c.v1, 0);
    if (seconds < 0)
        return 0;
    ctx->timeout = static_cast<int32_t>(seconds);
    return 1;
}

int opt_debug(MailContext *ctx, const OptionCall &c)
{
    if (!ctx->trace_fn)
        return refuse(ctx, "No trace callback installed for the debug level");
    if (!c.v1)
        return refuse(ctx, "No debug level given");
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
    if (c.sub & MAILOPT_PROXY_HTTPS)
        type = MAIL_PROXY_HTTPS;
    else if (c.sub & MAILOPT_PROXY_SOCKS)
        type = MAIL_PROXY_SOCKS;
    // Without a host only the type is stored (the -proxytype: words), and
    // the port text is not looked at.
    if (c.v1) {
        int64_t port = c.v2 ? parse_port(c.v2) : 0;
        if (port < 0)
            return refuse(ctx, "The proxy port is out of range (0 to %d)", int(MAIL_PORT_MAX));
        char *copy;
        if (!host_ok(ctx, c.v1, ROLE_PROXY_HOST) || !copy_text(ctx, c.v1, &copy))
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
    if (!c.v1)
        return refuse(ctx, "No proxy user name given");
    if (!c.v2)
        return refuse(ctx, "No proxy password given");
    // The user name goes to the proxy as the server's goes into AUTH.
    if (!text_ok(ctx, c.v1, ROLE_PROXY_USER))
        return 0;
    return store_user_and_secret(ctx, c, &ctx->proxy_user, &ctx->proxy_password);
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
    case MAILOPT_DKIM_ALG_RSA_SHA1:
    case MAILOPT_DKIM_ALG_RSA_SHA256:
    case MAILOPT_DKIM_ALG_ED25519_SHA256:
    case MAILOPT_DKIM_ALG_RSA_SHA256 | MAILOPT_DKIM_ALG_ED25519_SHA256:
    case MAILOPT_DKIM_ALG_RSA_SHA1 | MAILOPT_DKIM_ALG_RSA_SHA256 | MAILOPT_DKIM_ALG_ED25519_SHA256:
        ctx->dkim_algorithms = static_cast<uint16_t>(ctx->dkim_algorithms | c.sub);
        return 1;
    default:
        return refuse(ctx, "Unknown DKIM algorithm choice");
    }
}

int opt_dkim_algorithms_clear(MailContext *ctx, const OptionCall &)
{
    ctx->dkim_algorithms = MAILOPT_DKIM_ALG_RSA_SHA256;
    return 1;
}

int opt_dkim_canon(MailContext *ctx, const OptionCall &c)
{
    switch (c.sub) {
    case MAILOPT_DKIM_CANON_SIMPLE_SIMPLE:
    case MAILOPT_DKIM_CANON_SIMPLE_RELAXED:
    case MAILOPT_DKIM_CANON_RELAXED_RELAXED:
    case MAILOPT_DKIM_CANON_RELAXED_SIMPLE:
    case MAILOPT_DKIM_CANON_ALL:
        ctx->dkim_canons = static_cast<uint16_t>(c.sub);
        return 1;
    default:
        return refuse(ctx, "Unknown DKIM canonicalisation choice");
    }
}

int opt_dkim_canon_clear(MailContext *ctx, const OptionCall &)
{
    ctx->dkim_canons = MAILOPT_DKIM_CANON_SIMPLE_SIMPLE;
    return 1;
}

// ---- actions ------------------------------------------------------------------------
// Connecting and sending belong to the SMTP client (mail/delivery.h); without
// it these actions fail with a message once their own preconditions hold.

int refuse_not_connected(MailContext *ctx)
{
    return refuse(ctx, "Not connected to a server");
}

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
        return refuse_not_connected(ctx);
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
    // Not connected: the lost connection is dropped, with one report that
    // carries the error text of the loss, if any.
    if (delivery) {
        delivery->drop_connection(ctx);
    } else {
        ctx->failing_code = 0;
        mail_report(ctx, MAIL_STAGE_DISCONNECTED, MAIL_RESULT_FATAL,
                    ctx->error_text ? ctx->error_text : "Disconnected");
        ctx->connection = nullptr;
    }
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);
    return refuse_not_connected(ctx);
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
    return refuse(ctx, "No server or output file set");
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

// A row without a text field of its own (ROLE_COUNT: no role).
#define ROW(number, set, clear, flags, arg) \
    {number, #number, set, clear, flags, arg, nullptr, ROLE_COUNT}
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
    ROW(MAILOPT_OAUTH, opt_oauth, opt_flag_clear, 0, MAILF_USE_OAUTHBEARER),
    ROW(MAILOPT_ATTACH, opt_attach, opt_attach_clear, 0, 0),
    ROW(MAILOPT_PRIORITY, opt_priority, opt_priority_clear, 0, 0),
    ROW(MAILOPT_REPLY_TO, opt_reply_to, opt_reply_to_clear, 0, 0),
    TEXT_ROW(MAILOPT_BODY_HTML, opt_body_html, opt_text_clear, 0, html_body, ROLE_HTML_BODY),
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
    TEXT_ROW(MAILOPT_TLS_CIPHERS, opt_text, opt_text_clear, 0, tls_ciphers, ROLE_TLS_CIPHERS),
    TEXT_ROW(MAILOPT_TLS_PROTOCOLS, opt_text, opt_text_clear, 0, tls_protocols,
             ROLE_TLS_PROTOCOLS),
    ROW(MAILOPT_DKIM_ALGORITHMS, opt_dkim_algorithms, opt_dkim_algorithms_clear, OPT_FULL_ONLY, 0),
    ROW(MAILOPT_DKIM_CANON, opt_dkim_canon, opt_dkim_canon_clear, OPT_FULL_ONLY, 0),
    TEXT_ROW(MAILOPT_DKIM_DOMAIN, opt_dkim_domain, opt_text_clear, OPT_FULL_ONLY, dkim_domain,
             ROLE_DKIM_DOMAIN),
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

// The row of this program for an option number, or NULL. The full-only
// rows are missing where the linked seam says this is the plain program.
const OptionRow *find_row(unsigned number)
{
    for (const OptionRow &row : option_rows) {
        if (row.number == number)
            return (row.flags & OPT_FULL_ONLY) && !mail_full_program ? nullptr : &row;
    }
    return nullptr;
}

} // namespace

void mail_set_delivery(const MailDelivery *installed)
{
    delivery = installed;
}

const MailDelivery *mail_installed_delivery(void) { return delivery; }

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
    unsigned number = code & MAILOPT_NUMBER_MASK;
    const OptionRow *row = find_row(number);
    if (!row)
        return refuse(ctx, "Unknown option number %d", int(number));
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

int mail_set_dsn_notify(MailContext *ctx, const char *letters)
{
    if (!ctx)
        return 0;
    set_notify_bits(ctx, mail_parse_notify_letters(letters));
    return 1;
}

int mail_dkim_domain_ascii(MailContext *ctx, const char *domain, char *out, size_t size)
{
    if (size < ADDR_BUF_SIZE) {
        refuse(ctx, "No room for the %s", role_name(ROLE_DKIM_DOMAIN));
        return 0;
    }
    if (!non_empty(domain)) {
        refuse_missing(ctx, ROLE_DKIM_DOMAIN);
        return 0;
    }
    return text_ok(ctx, domain, ROLE_DKIM_DOMAIN) && domain_ok(ctx, domain, ROLE_DKIM_DOMAIN, "", out);
}
