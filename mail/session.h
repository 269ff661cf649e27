// The mail session: one MailContext holds every setting of one message and
// one server dialogue, plus the callbacks through which the session reports
// back. Options are set through mail_set_option (mail/option.h); the SMTP
// client and the message writers read and write the fields directly.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "mail/lists.h"
#include "support/linklist.h"

// The open server connection belongs to the network library.
struct Connection;
// Root of the process-wide DKIM key registry (a tree of signing domains).
struct AvlNode;

// ---- callbacks -------------------------------------------------------------

enum {
    MAILCB_TRACE = 1,
    MAILCB_STATUS = 2,
    MAILCB_RECIPIENTS = 3,
};

// Direction of a trace line.
enum {
    MAIL_TRACE_NOTE = -1,
    MAIL_TRACE_SENT = 0,
    MAIL_TRACE_RECEIVED = 1,
};

// Status stages.
enum {
    MAIL_STAGE_CONNECT = 1,
    MAIL_STAGE_EHLO = 2,
    MAIL_STAGE_STARTTLS = 3,
    MAIL_STAGE_AUTH = 4,
    MAIL_STAGE_READY = 5,
    MAIL_STAGE_MAIL_FROM = 6,
    MAIL_STAGE_RCPT = 7,
    MAIL_STAGE_NO_RECIPIENTS = 8,
    MAIL_STAGE_ATTACHMENT = 9,
    MAIL_STAGE_DATA = 10,
    MAIL_STAGE_DISCONNECTED = 11,
    MAIL_STAGE_RCPT_UTF8 = 12,
    MAIL_STAGE_PRECHECK = 255,
};

// Status results.
enum {
    MAIL_RESULT_OK = 1,     // the stage succeeded
    MAIL_RESULT_FAILED = 2, // it failed; the session can go on
    MAIL_RESULT_FATAL = 4,  // it failed; the connection or message is lost
};

// Answers of the status callback, compared as whole values.
enum {
    MAIL_ANSWER_CONTINUE = 0,
    MAIL_ANSWER_STOP_RECIPIENTS = 1,
    MAIL_ANSWER_RESET = 2,
    MAIL_ANSWER_QUIT = 4,
};

// Kinds asked of the recipient callback.
enum {
    MAIL_RCPT_TO = 0x100,
    MAIL_RCPT_CC = 0x200,
    MAIL_RCPT_ENVELOPE = 0x800,
};

// A protocol line sent or received, or a note; the result is ignored.
typedef int (*MailTraceFn)(void *user, int direction, const char *text);
// One stage report; returns a MAIL_ANSWER_* value.
typedef int (*MailStatusFn)(void *user, int stage, int result, const char *text);
// Supplies one recipient of `kind` per nonzero return (texts stay the
// callback's); called again until it returns 0, which ends one run: the
// next call of that kind starts a new run and must give the same entries.
// For each message the SMTP client takes the envelope run whole before MAIL
// FROM, and may run the To and Cc kinds once before the header writer does, to
// look at the addresses the header will show.
typedef int (*MailRecipientFn)(void *user, int kind, const char **address, const char **name,
                               const char **params);

// ---- modes, flags ----------------------------------------------------------

enum {
    MAIL_MODE_SMTP = 1,           // compose and send
    MAIL_MODE_FILE = 2,           // compose into output_file
    MAIL_MODE_PRECONSTRUCTED = 4, // send the ready message in email_file
};

enum {
    MAIL_PROXY_SOCKS = 0, // SOCKS5
    MAIL_PROXY_HTTPS = 1, // HTTPS CONNECT
};

// Values of MailContext.ip_family.
enum {
    MAIL_IP_FAMILY_ANY = 0,
    MAIL_IP_FAMILY_V4 = 4, // IPv4 only
    MAIL_IP_FAMILY_V6 = 6, // IPv6 only
};

// The priority a cleared MAILOPT_PRIORITY stores; neither it nor 0 (unset)
// writes an X-Priority field.
enum { MAIL_PRIORITY_NORMAL = 3 };

// Text-body encodings, kept in bits 6-7 of flags.
enum {
    BODY_ENC_7BIT = 0,
    BODY_ENC_BASE64 = 1,
    BODY_ENC_QP = 2,
};
constexpr unsigned MAILF_BODY_ENC_SHIFT = 6;

// ---- the two flag words ------------------------------------------------------
// Each bit of flags and flags2 is of one of three kinds, and each kind has
// its mask:
// - capabilities: what the server offered in its EHLO reply
//   (MAILF_CAPABILITY_MASK in flags, MAILF2_CAPABILITY_MASK in flags2).
//   They describe one EHLO reply only: mail_clear_capabilities clears them
//   before every EHLO, the one after STARTTLS included, so nothing a server
//   said before TLS (or an earlier server) outlives it.
// - the caller's choices, made through the options (MAILF_CHOICE_MASK,
//   MAILF2_CHOICE_MASK); the SMTP client only reads them.
// - connection state, kept by the SMTP client and the file writer
//   (MAILF_STATE_MASK; flags2 holds none).

// Bits of MailContext.flags.
enum : uint32_t {
    MAILF_AUTH_CRAM_MD5 = 0x1,        // capability: offered and not disabled
    MAILF_AUTH_LOGIN = 0x4,           // capability
    MAILF_AUTH_PLAIN = 0x8,           // capability
    MAILF_AUTH_OAUTHBEARER = 0x10,    // capability
    MAILF_CONNECTED = 0x20,           // state: the connection is alive
    MAILF_BODY_ENC_MASK = 0xc0,       // choice: BODY_ENC_* << 6
    MAILF_SERVER_DSN = 0x100,         // capability: the server offers DSN
    MAILF_NOTIFY_MASK = 0x1e00,       // choice: session DSN NOTIFY bits << 9
    MAILF_ESMTP = 0x2000,             // capability: the server answered EHLO
    MAILF_RAW_HEADERS = 0x4000,       // choice: preconstructed message without generated header
    MAILF_FORCE_MIME = 0x8000,        // choice: always build a MIME message
    MAILF_DOT_STUFF_FILE = 0x10000,   // choice: dot-stuff the File-mode output
    MAILF_MDN = 0x20000,              // choice: write Disposition-Notification-To
    MAILF_NO_CRAM_MD5 = 0x40000,      // choice: AUTH mechanisms disabled by the caller
    MAILF_NO_LOGIN = 0x80000,
    MAILF_NO_PLAIN = 0x100000,
    MAILF_NO_OAUTHBEARER = 0x200000,
    MAILF_USE_OAUTHBEARER = 0x400000, // choice: authenticate with OAUTHBEARER; password is the token
    MAILF_SMTPS = 0x1000000,          // choice: implicit TLS from the first byte (default port 465)
    // State: the server accepted the data of the message just sent, and
    // the dialogue has gone no further. Only then can its end (QUIT) still
    // fail the run, by showing that acceptance to be a reply out of step;
    // after a failure the failing reply's code and text stand.
    MAILF_DATA_ACCEPTED = 0x2000000,
    // State: issue STARTTLS. Set from EHLO when STARTTLS is asked for and
    // offered, or chosen because no usable authentication was offered; it
    // stays set while STARTTLS is in force, so a later connection of the
    // same session starts with it. Not a capability: clearing those before
    // the EHLO after STARTTLS keeps it.
    MAILF_STARTTLS_NOW = 0x4000000,
    MAILF_STARTTLS_REQUIRED = 0x8000000, // choice: fail when STARTTLS is not offered
    MAILF_STARTTLS = 0x10000000,         // choice: use STARTTLS when offered
    MAILF_VERIFY = 0x20000000,           // choice: verify the server certificate
    MAILF_DOT_STUFF = 0x40000000,        // state: writers double a leading dot
    MAILF_HTML_FROM_FILE = 0x80000000u,  // choice: html_body holds a file path

    // The AUTH mechanisms the server offered (and the caller did not
    // disable), and the caller's disable bits; mail/sasl.h ties each
    // mechanism's two bits together.
    MAILF_AUTH_MASK = MAILF_AUTH_CRAM_MD5 | MAILF_AUTH_LOGIN | MAILF_AUTH_PLAIN |
                      MAILF_AUTH_OAUTHBEARER,
    MAILF_NO_AUTH_MASK = MAILF_NO_CRAM_MD5 | MAILF_NO_LOGIN | MAILF_NO_PLAIN |
                         MAILF_NO_OAUTHBEARER,

    MAILF_CAPABILITY_MASK = MAILF_AUTH_MASK | MAILF_SERVER_DSN | MAILF_ESMTP,
    MAILF_CHOICE_MASK = MAILF_BODY_ENC_MASK | MAILF_NOTIFY_MASK | MAILF_RAW_HEADERS |
                        MAILF_FORCE_MIME | MAILF_DOT_STUFF_FILE | MAILF_MDN |
                        MAILF_NO_AUTH_MASK | MAILF_USE_OAUTHBEARER | MAILF_SMTPS |
                        MAILF_STARTTLS_REQUIRED | MAILF_STARTTLS | MAILF_VERIFY |
                        MAILF_HTML_FROM_FILE,
    MAILF_STATE_MASK = MAILF_CONNECTED | MAILF_STARTTLS_NOW | MAILF_DOT_STUFF | MAILF_DATA_ACCEPTED,
};
constexpr unsigned MAILF_NOTIFY_SHIFT = 9;
// Bits 0x2 and 0x800000 carry no meaning; every other bit is of exactly
// one kind.
static_assert((MAILF_CAPABILITY_MASK & MAILF_CHOICE_MASK) == 0 &&
                  (MAILF_CAPABILITY_MASK & MAILF_STATE_MASK) == 0 &&
                  (MAILF_CHOICE_MASK & MAILF_STATE_MASK) == 0,
              "a bit of flags is of one kind only");
static_assert((MAILF_CAPABILITY_MASK | MAILF_CHOICE_MASK | MAILF_STATE_MASK) ==
                  ~uint32_t(0x2 | 0x800000),
              "every meaningful bit of flags has its kind");

// Bits of MailContext.flags2.
enum : uint32_t {
    MAILF2_BODY_FROM_FILE = 0x1,        // choice: the text body was read from a file
    MAILF2_SERVER_SMTPUTF8 = 0x2,       // capability: the server offers SMTPUTF8
    MAILF2_DEBUG_MASK = 0xc,            // choice: trace level 0-3; copied into the connection's flags
    MAILF2_RECIPIENTS_FROM_FILE = 0x10, // choice: To and Cc taken from the preconstructed message
    MAILF2_FROM_FROM_FILE = 0x20,       // choice: the sender taken from the preconstructed message
    MAILF2_DKIM = 0x40,                 // choice: DKIM signing on

    MAILF2_CAPABILITY_MASK = MAILF2_SERVER_SMTPUTF8,
    MAILF2_CHOICE_MASK = MAILF2_BODY_FROM_FILE | MAILF2_DEBUG_MASK |
                         MAILF2_RECIPIENTS_FROM_FILE | MAILF2_FROM_FROM_FILE | MAILF2_DKIM,
};
constexpr unsigned MAILF2_DEBUG_SHIFT = 2;
static_assert((MAILF2_CAPABILITY_MASK & MAILF2_CHOICE_MASK) == 0 &&
                  (MAILF2_CAPABILITY_MASK | MAILF2_CHOICE_MASK) == 0x7f,
              "every bit of flags2 is of one kind");

// Caller-owned raw MIME content that a session may add to a message; it
// must stay alive as long as the session may write one.
struct DataBlob {
    const char *data;
    size_t length;
};

enum { MAIL_MESSAGE_ID_SIZE = 512 };
// The secrets of one dialogue a server may echo: a proxy's password and
// its login, the password, its "user:password" form and the AUTH response
// that carries it, and one to spare.
enum { MAIL_REPLY_MASKS_MAX = 6 };

// One mail session. Created zero-filled; every text is NUL-terminated
// UTF-8 owned by the session (a private copy made when the option was set;
// replacing or clearing frees the old copy).
struct MailContext {
    Connection *connection; // open server connection, NULL when none
    int64_t fixed_date;     // Date field value (seconds since 1970 UTC); 0 = now
    uint32_t mode;          // MAIL_MODE_*
    uint32_t flags;         // MAILF_*
    uint32_t flags2;        // MAILF2_*
    uint16_t dkim_algorithms; // DKIM algorithm bits << 8; 0 = writer's default
    uint16_t dkim_canons;     // DKIM canonicalisation bits << 8; 0 = writer's default
    uint32_t line_length;     // wrap width of a 7bit text body, 78 to 998

    MailTraceFn trace_fn;         // NULL = no trace
    MailStatusFn status_fn;       // never NULL
    MailRecipientFn recipient_fn; // NULL = the three recipient lists

    int32_t ip_family;   // 0 any, 4 IPv4 only, 6 IPv6 only
    int32_t port;        // 0-65535; 0 = default (25, or 465 with implicit TLS)
    int32_t priority;    // 1-5 for X-Priority; 0 unset
    int32_t proxy_port;  // 0 = none set
    int32_t proxy_type;  // MAIL_PROXY_*
    int32_t timeout;     // seconds, 0 to 2147483; 0 = the connection's default
    int32_t last_code;   // last SMTP reply code read
    uint32_t failing_code; // last unexpected reply code; 0 = none

    char *charset;      // NULL = us-ascii (7-bit) / utf-8 (8-bit)
    char *dsn_envid;    // at most 100 characters; NULL = drawn per message
    char *email_file;   // preconstructed message file
    char *output_file;  // File-mode output file
    char *from_address; // contains "@"
    char *from_name;    // header-encoded display name
    char *return_path;  // MAIL FROM address; NULL = from_address
    char *helo_name;    // NULL = the local address in brackets
    char *server_host;
    char *html_body;    // the HTML itself, or a path with MAILF_HTML_FROM_FILE
    char *error_text;   // last error text (see mail_set_error)
    // Secrets the dialogue sent, oldest first (NULL: free slot); masked in
    // every error text, report and trace line (mail_mask_text), so that a
    // server that echoes one in its reply never gets it printed. Wiped
    // when they go.
    char *reply_masks[MAIL_REPLY_MASKS_MAX];
    int reply_mask_kinds[MAIL_REPLY_MASKS_MAX]; // STR_SECRET_* of each
    int error_nomem;    // the last error was memory exhaustion (mail_set_nomem)
    // The system error code behind the last error (a file that cannot be
    // opened or read), 0 when it has none; set by mail_set_system_error.
    int error_system;
    char *text_body;
    // Bytes of text_body: a body read as raw bytes may hold NUL bytes, so
    // writers go by this count rather than by the terminating NUL.
    size_t text_body_length;
    char *body_file;    // the file text_body was read from; NULL for a body given as text
    char *password;     // or the bearer token with MAILF_USE_OAUTHBEARER
    char *proxy_host;
    char *proxy_password;
    char *proxy_user;
    char *reply_to_address; // contains "@"
    char *reply_to_name;    // header-encoded
    char *subject;          // header-encoded
    char *tls_ciphers;
    char *tls_protocols;
    char *user;             // NULL = no authentication
    char *mailer;           // X-Mailer, also the HTTPS proxy's User-Agent
    char *boundary_mixed;   // preset boundaries; NULL = drawn per message
    char *boundary_alternative;
    char *boundary_related;
    // Message-ID with its angle brackets; empty = generated when the header
    // block is written, then kept for later messages of the session.
    char message_id[MAIL_MESSAGE_ID_SIZE];

    ListLink *attachments;     // Attachment records, written oldest first
    ListLink *headers;         // custom HeaderField records, written oldest first
    ListLink *removed_headers; // names to drop from a preconstructed message
    Recipient *bcc;            // newest first
    Recipient *cc;
    Recipient *to;

    const DataBlob *extra_mixed;   // borrowed, never freed by the session
    const DataBlob *extra_related; // borrowed

    void *trace_user;
    void *status_user;
    void *recipient_user;

    // DKIM: the plain program has the fields too (one layout for both
    // programs) but never sets them.
    AvlNode *dkim_keys; // borrowed registry root, set by the front end
    char *dkim_domain;  // signing domain when no key matches the sender's
};

// ---- operations ------------------------------------------------------------

// flag nonzero: seeds the random generator of the identifiers (mail/ident.h;
// seed 0 = the current calendar time) and, once the SMTP client is
// installed (mail/delivery.h), starts the network library; flag 0: the
// network library's clean-up only (through the installed client). Returns 1.
int mail_global_init(int flag, int seed);

// A new zero-filled session (default status callback, line length 78, SMTP
// mode), or NULL when memory is exhausted.
MailContext *mail_new(void);

// Frees every owned text and list and the session itself; returns 1 (0 for
// NULL). It neither closes the connection (MAILOPT_FREE quits first) nor
// frees the borrowed extra parts and key registry.
int mail_free(MailContext *ctx);

// Installs a callback and its user pointer in the slot of `type`. The
// function's type must match the slot's; returns 1, or 0 (nothing stored)
// for an unknown type or a mismatched function. Installing nullptr in the
// status slot restores mail_status_default.
int mail_set_callback(MailContext *ctx, int type, MailTraceFn fn, void *user);
int mail_set_callback(MailContext *ctx, int type, MailStatusFn fn, void *user);
int mail_set_callback(MailContext *ctx, int type, MailRecipientFn fn, void *user);
int mail_set_callback(MailContext *ctx, int type, decltype(nullptr) fn, void *user);

// The default status callback: answers MAIL_ANSWER_CONTINUE.
int mail_status_default(void *user, int stage, int result, const char *text);

// Stores a caller-owned blob at the multipart/related level (level nonzero)
// or the multipart/mixed level; a NULL or empty blob stores NULL. Returns 1.
int mail_set_extra_part(MailContext *ctx, const DataBlob *blob, int level);

// The session's error text: the last failure that has a message. Every
// setter replaces it with a fresh heap copy (old one freed); success leaves
// it untouched. mail_set_error takes `text` over (it is not copied). The
// reply masks are applied to every text stored.
void mail_set_error(MailContext *ctx, char *text);
// The one formatted error setter: formats through the support library's
// engine (its dialect) and stores the text as the session's error text.
// When formatting runs out of memory the error becomes the out-of-memory
// failure (mail_set_nomem). Clears the out-of-memory mark otherwise.
void mail_set_errorf(MailContext *ctx, const char *format, ...);
// The same with the arguments as a va_list.
void mail_set_errorv(MailContext *ctx, const char *format, va_list ap);
// The formatted error of a failed system call (code: plat_last_error()
// read right after it), kept as the error text with ": " and the
// system's reason after it; error_system keeps the code. Every other
// setter clears the code.
void mail_set_system_error(MailContext *ctx, int code, const char *format, ...);
// Records that memory ran out: error text "Out of memory" (a static text
// when even that copy fails) and the out-of-memory mark, which the front
// end turns into its status 666.
void mail_set_nomem(MailContext *ctx);
// 1 when the last stored failure was memory exhaustion.
int mail_error_is_nomem(const MailContext *ctx);

// The one way every stage reports to the status callback: calls it with
// (stage, result, text) and returns its answer when that answer is one of
// `honoured` (a mask of MAIL_ANSWER_STOP_RECIPIENTS, MAIL_ANSWER_RESET and
// MAIL_ANSWER_QUIT, which the reporting stage names), else
// MAIL_ANSWER_CONTINUE. text NULL is passed as ""; the reply masks are
// applied to it.
int mail_report(MailContext *ctx, int stage, int result, const char *text, int honoured = 0);
// error_text, or "" when there is none.
const char *mail_last_error(const MailContext *ctx);

// Adds a copy of secret (NULL or empty: nothing) to reply_masks, of kind
// STR_SECRET_SENT (a text sent as it stands) or STR_SECRET_PASSWORD (a
// password, masked in its base64 forms too); when they are full the oldest
// goes. 0 when memory ran out (nothing added).
int mail_add_reply_mask(MailContext *ctx, const char *secret, int kind);
// Wipes and forgets every reply mask.
void mail_clear_reply_masks(MailContext *ctx);
// A heap copy of text with the reply masks applied (str_mask_secrets); a
// plain copy when there are none. NULL when memory ran out.
char *mail_mask_text(const MailContext *ctx, const char *text);

// Forgets what the server offered (every capability bit of flags and
// flags2). The SMTP client calls it before every EHLO, the one after
// STARTTLS included; choices and connection state stay.
void mail_clear_capabilities(MailContext *ctx);

// 1 when no user is set, or a non-empty user has a non-empty password.
int mail_credentials_complete(const MailContext *ctx);

// Outputs may be NULL. host (256 bytes): server_host, cut to fit, or "";
// peer (256 bytes): the address text of the peer of a live connection
// (through the installed SMTP client), else "";
// port: the port; info: 1 ESMTP + 2 STARTTLS now + 4 implicit TLS.
// Returns the number of texts filled (host counts 1, a peer from a
// connection 1 more).
enum { MAIL_HOST_TEXT_SIZE = 256 };
int mail_connection_info(const MailContext *ctx, char *host, char *peer, unsigned short *port,
                         int *info);
