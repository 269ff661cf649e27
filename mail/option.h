// Session option codes: every setting of a MailContext is made through
// mail_set_option with a code and up to four texts. The low byte names the
// option (240 to 244 are actions), bits 8-11 a sub-choice whose meaning
// depends on the option, and three modifier bits refine it.
#pragma once

#include "mail/sasl.h"
#include "mail/session.h"

// ---- code layout and option numbers -------------------------------------------
enum MailOption : unsigned {
    MAILOPT_NUMBER_MASK = 0x00ff,
    MAILOPT_SUB_MASK = 0x0f00,
    MAILOPT_SUB_SHIFT = 8,
    MAILOPT_FROM_FILE = 0x1000, // the value is a file name; with ATTACH: inline
    MAILOPT_BINARY = 0x2000,    // with BODY and FROM_FILE: read raw bytes
    MAILOPT_CLEAR = 0x8000,     // clear or reset instead of setting

    // Sub-choices of MAILOPT_RECIPIENT (tested in this order); clearing
    // takes any combination, none meaning all three.
    MAILOPT_TO = 0x100,
    MAILOPT_CC = 0x200,
    MAILOPT_BCC = 0x400,
    MAILOPT_RECIPIENT_LISTS = MAILOPT_TO | MAILOPT_CC | MAILOPT_BCC,

    // Sub-choices of MAILOPT_BODY: the text body's transfer encoding.
    MAILOPT_BODY_7BIT = BODY_ENC_7BIT << 8,
    MAILOPT_BODY_BASE64 = BODY_ENC_BASE64 << 8,
    MAILOPT_BODY_QP = BODY_ENC_QP << 8,

    // Sub-choices of MAILOPT_ATTACH: the attachment's encoding by index.
    MAILOPT_ATTACH_AUTO = 0x000,
    MAILOPT_ATTACH_BASE64 = 0x100,
    MAILOPT_ATTACH_QP = 0x200,
    MAILOPT_ATTACH_UUENCODE = 0x300,

    // Sub-choices of MAILOPT_IP_FAMILY.
    MAILOPT_IPV4_ONLY = 0x100,
    MAILOPT_IPV6_ONLY = 0x200,

    // Sub-choices of MAILOPT_PROXY.
    MAILOPT_PROXY_SOCKS = 0x100,
    MAILOPT_PROXY_HTTPS = 0x200,

    // Sub-choices of MAILOPT_TLS_MODE.
    MAILOPT_TLS_STARTTLS = 0x100,
    MAILOPT_TLS_REQUIRED = 0x200, // STARTTLS, failing when it is not offered
    MAILOPT_TLS_IMPLICIT = 0x300,

    // Sub-choices of MAILOPT_DKIM_ALGORITHMS, OR-ed into dkim_algorithms
    // (which holds the same bits). Accepted: each one alone, RSA-SHA256 with
    // Ed25519, and all three.
    MAILOPT_DKIM_ALG_RSA_SHA1 = 0x100,
    MAILOPT_DKIM_ALG_RSA_SHA256 = 0x200,
    MAILOPT_DKIM_ALG_ED25519_SHA256 = 0x400,

    // Sub-choices of MAILOPT_DKIM_CANON (header/body canonicalisation),
    // replacing dkim_canons (which holds the same bits). Accepted: each one
    // alone, and all four.
    MAILOPT_DKIM_CANON_SIMPLE_SIMPLE = 0x100,
    MAILOPT_DKIM_CANON_SIMPLE_RELAXED = 0x200,
    MAILOPT_DKIM_CANON_RELAXED_RELAXED = 0x400,
    MAILOPT_DKIM_CANON_RELAXED_SIMPLE = 0x800,
    MAILOPT_DKIM_CANON_ALL = 0xf00,

    // ---- option numbers (one enumeration with the bits above, so that a
    // code is written as MAILOPT_RECIPIENT | MAILOPT_TO) ----
    MAILOPT_FROM = 1,
    MAILOPT_RECIPIENT = 2,
    MAILOPT_SUBJECT = 5,
    MAILOPT_BODY = 6,        // sub-choice: MAILOPT_BODY_*
    MAILOPT_OUTPUT_FILE = 7,
    MAILOPT_SERVER = 8,
    MAILOPT_EMAIL_FILE = 9,
    MAILOPT_CREDENTIALS = 10,
    MAILOPT_OAUTH = 11,
    MAILOPT_ATTACH = 12,     // sub-choice: MAILOPT_ATTACH_*
    MAILOPT_PRIORITY = 15,   // sub-choice: mailopt_priority(1 to 5)
    MAILOPT_REPLY_TO = 16,
    MAILOPT_BODY_HTML = 17,
    MAILOPT_HELO = 18,
    MAILOPT_HEADER = 19,
    MAILOPT_CHARSET = 20,
    MAILOPT_LINE_LENGTH = 21,
    MAILOPT_FORCE_MIME = 22,
    MAILOPT_AUTH_TYPES = 23, // sub-choice: mailopt_auth_types(MAIL_AUTH_ALLOW_*)
    MAILOPT_IP_FAMILY = 24,  // sub-choice: MAILOPT_IPV4_ONLY or MAILOPT_IPV6_ONLY
    MAILOPT_DSN = 25,
    MAILOPT_MDN = 26,
    MAILOPT_TLS_MODE = 27,   // sub-choice: MAILOPT_TLS_*
    MAILOPT_DOT_STUFF = 28,
    MAILOPT_TIMEOUT = 29,
    MAILOPT_DKIM = 30,            // full program only
    MAILOPT_DATE = 32,
    MAILOPT_RETURN_PATH = 33,
    MAILOPT_DELETE_HEADER = 34,
    MAILOPT_EMAIL_FILE_SCAN = 35, // full program only
    MAILOPT_RAW_HEADERS = 36,
    MAILOPT_VERIFY = 37,
    MAILOPT_TLS_CIPHERS = 38,
    MAILOPT_TLS_PROTOCOLS = 39,
    MAILOPT_DKIM_ALGORITHMS = 40, // full program only; sub-choice: MAILOPT_DKIM_ALG_*
    MAILOPT_DKIM_CANON = 41,      // full program only; sub-choice: MAILOPT_DKIM_CANON_*
    MAILOPT_DKIM_DOMAIN = 43,     // full program only
    MAILOPT_TIMEOUT_VALUE = 208,
    MAILOPT_DEBUG = 224,
    MAILOPT_PROXY = 225,     // sub-choice: MAILOPT_PROXY_SOCKS or MAILOPT_PROXY_HTTPS
    MAILOPT_PROXY_AUTH = 226,
    MAILOPT_X_MAILER = 227,
    MAILOPT_MESSAGE_ID = 228,
    MAILOPT_BOUNDARIES = 229,
    // Actions.
    MAILOPT_CONNECT = 240,
    MAILOPT_QUIT = 241,
    MAILOPT_SEND = 242,
    MAILOPT_DELIVER = 243,
    MAILOPT_FREE = 244,
};

// The sub-choice bits of a code as a number 0 to 15, and back: for the
// options whose sub-choice is a number (and for trying sub-choices that no
// name stands for).
constexpr unsigned mailopt_sub_index(unsigned code)
{
    return (code & MAILOPT_SUB_MASK) >> MAILOPT_SUB_SHIFT;
}
constexpr unsigned mailopt_sub(unsigned index) { return (index & 0xf) << MAILOPT_SUB_SHIFT; }

// The sub-choice of MAILOPT_PRIORITY for priority 1 to 5.
constexpr unsigned mailopt_priority(unsigned priority) { return mailopt_sub(priority); }

// The sub-choice of MAILOPT_AUTH_TYPES for an allow mask of
// MAIL_AUTH_ALLOW_* bits (mail/sasl.h).
constexpr unsigned mailopt_auth_types(unsigned allow) { return mailopt_sub(allow); }

// Limits of option values.
enum {
    MAIL_LINE_LENGTH_MIN = 78,
    MAIL_LINE_LENGTH_MAX = 998,
    MAIL_DSN_ENVID_MAX = 100,
    // The connection counts its time-out in milliseconds in 32 bits.
    MAIL_TIMEOUT_MAX = 2147483,
    MAIL_TIMEOUT_DEFAULT = 300,
    // A Message-ID value with its two angle brackets and the NUL must fit.
    MAIL_MESSAGE_ID_VALUE_MAX = MAIL_MESSAGE_ID_SIZE - 3,
    MAIL_PORT_MAX = 65535,
    MAIL_PROXY_SOCKS_PORT = 1080,
    MAIL_PROXY_HTTPS_PORT = 8080,
};
// Latest fixed date accepted: 9999-12-31 23:59:59 UTC, the last second a
// four-digit year can show.
constexpr long long MAIL_DATE_MAX = 253402300799LL;

// The option switch. Returns 1 on success and 0 on failure; a failing
// option leaves the session as it was, except that MAILOPT_BODY stores its
// encoding before it looks at the value. Every failure stores its reason
// in the session's error text, naming the value's role ("No subject
// given", "Control character in the subject", "Invalid UTF-8 in the
// recipient name", "Cannot open the attachment file for reading (...)");
// when memory ran out the reason is the out-of-memory mark
// (mail_error_is_nomem). Success leaves the error text as it was.
//
// Texts that go raw into a header line or an SMTP command pass one door
// here: no control byte (TAB only in names and values), well-formed UTF-8,
// and addresses (sender, reply-to, return path, recipients) a single
// mailbox by the same rule the header writer applies
// (hdr_address_is_safe), so every address accepted is written.
int mail_set_option(MailContext *ctx, unsigned code, const char *value1, const char *value2,
                    const char *value3, const char *value4);

// The name of the option an option code's low byte names ("MAILOPT_FROM"),
// or NULL when this program has no such option.
const char *mail_option_name(unsigned code);

// mail_set_option with value4 NULL; the form the front end uses.
int mail_set_option_basic(MailContext *ctx, int code, const char *value1, const char *value2,
                          const char *value3);

// Replaces the session's NOTIFY bits with those of the letters; returns 1.
int mail_set_dsn_notify(MailContext *ctx, const char *letters);

// The door of a DKIM signing domain (-dkim:, -dkim-default:): a domain
// without control characters (C1, U+2028 and U+2029 included) that has an
// ASCII form, written into out (at least ADDR_BUF_SIZE bytes). 1; 0 with
// the reason in the session's error text, or the out-of-memory mark.
int mail_dkim_domain_ascii(MailContext *ctx, const char *domain, char *out, size_t size);
