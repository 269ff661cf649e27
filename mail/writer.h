// The message writers: the generated header block, the MIME message with
// its bodies and attachment parts, the attachment consistency check and
// File-mode output. Writers print through a MessagePrintFn with its user
// pointer and emit the message unstuffed, exactly as the recipient reads it;
// dot-stuffing is a filter in front of the final sink (support/dotstuff.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "mail/session.h"
#include "support/fmt.h"

// The formatted print of the message writers: literal text and "%s",
// "%.*s" and "%d" in the engine's dialect. The result is 1, or 0 once the
// sink behind it has failed.
typedef int (*MessagePrintFn)(void *user, const char *format, ...);

// The one MessagePrintFn of the program: the engine over any sink. The sink
// keeps its first failure in `failed`; later prints do nothing.
struct MsgSink {
    FmtSink sink;
    void *user;
    int failed;
};

void msg_sink_init(MsgSink *ms, FmtSink sink, void *user);
int msg_printf(void *msg_sink, const char *format, ...);

// Results of the writers that can fail.
enum {
    MIME_OK = 1,
    MIME_FAIL_OPEN = 0,   // the output file could not be opened
    MIME_FAIL_WRITE = -1, // the sink refused a piece (disk full, lost connection)
    MIME_FAIL_READ = -2,  // a body or attachment file failed while being read
    MIME_FAIL_NOMEM = -3, // memory ran out while rendering
    MIME_FAIL_INPUT = -4, // the settings cannot make a valid message; nothing written
};

// Slice sizes of the streamed encodings (input bytes per step).
enum {
    MIME_B64_SLICE = 57,     // one 76-character base64 line
    MIME_UU_SLICE = 45,
    MIME_YENC_SLICE = 499,   // one yEnc line
    MIME_READ_SLICE = 64 * 1024, // file reads are this large, whatever the encoding
    MIME_WRITE_SLICE = 1024 * 1024, // longest piece handed to one "%.*s"
    // Output room of one read slice in its widest encoding (quoted-printable).
    MIME_ENCODE_BUF_SIZE = 6 * MIME_READ_SLICE + 64,
    MIME_SAMPLE_SIZE = 4096, // bytes looked at to choose an automatic encoding
    MIME_BOUNDARY_MAX = 63,
    HDR_LINE_SOFT = 78,      // fold header lines at white space beyond this
    HDR_LINE_HARD = 998,     // no generated header line is longer
    // A run of text without a space longer than this is written as encoded
    // words, so that folding can keep every line under HDR_LINE_HARD.
    HDR_RUN_MAX = 800,
    HDR_NAME_MAX = 150,      // longest custom header-field name written
};

// ---- header block ----------------------------------------------------------

// Writes one logical header line (without its CR LF), folded at spaces so
// that lines stay within HDR_LINE_SOFT where a space allows, then CR LF. A
// fold never leaves a line of white space only.
void hdr_write_folded(MessagePrintFn print, void *user, const char *line, size_t len);

// Appends a display name as it may stand before an address: encoded words
// as they are, any other text as a quoted string with '"' and '\' escaped
// (text too long to fold becomes encoded words). *out stays as it was when
// memory runs out; returns 1, or 0 then.
int hdr_append_display_name(char **out, const char *name);

// 1 when address can stand in a header field as one mailbox: a dot-atom
// or quoted-string local part, "@", a dot-atom or domain-literal domain.
int hdr_address_is_safe(const char *address);

void mime_write_headers(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_date(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_recipient_header(int kind, MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_from(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_reply_to(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_to(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_cc(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_subject(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_message_id(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_dnt(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_priority(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_x_mailer(MailContext *ctx, MessagePrintFn print, void *user);
// One parameter line of a part header: TAB, param, "=", the value as a
// quoted string ('"' and '\' escaped; encoded words when too long to fold).
void hdr_write_param(MessagePrintFn print, void *user, const char *param, const char *value);
// One custom header field "name: value", folded like the generated ones.
void mime_write_custom_field(MessagePrintFn print, void *user, const char *name, const char *value);

struct tm;
// Broken-down UTC time of t into out; NULL when it has none.
struct tm *time_utc_calendar(int64_t t, struct tm *out);
// 1 when text (or no text) has no byte of 0x80 or more.
int str_is_ascii(const char *text);
// The structure the message needs; single may be NULL.
void mime_structure_flags(const MailContext *ctx, int *mixed, int *related, int *single);

// ---- message and parts -------------------------------------------------------

// 1 when the session's settings make a valid message: the attachments fit
// one form, preset boundaries and the charset are usable, custom field names
// fit a line, sender and reply-to addresses can stand in a header. Else 0
// with error_text saying why. mime_write_message runs it first.
int mime_check_message(MailContext *ctx);

// Writes one message. MIME_OK, or MIME_FAIL_INPUT (nothing written) /
// MIME_FAIL_WRITE / MIME_FAIL_READ with error_text set; what was written
// before a read failure stays written (the caller discards it).
int mime_write_message(MailContext *ctx, MessagePrintFn print, void *user);

// Renders the whole message into sb (a zeroed record) for signing: the
// text the recipient reads, without dot-stuffing. *header_len gets the
// bytes of the header block; the blank line after it follows. The
// results of mime_write_message, and MIME_FAIL_NOMEM when the buffer could
// not grow: the text is then incomplete and must not be sent.
int mime_render_message(MailContext *ctx, StrBuf *sb, size_t *header_len);

// Writes len bytes as base64 lines of 76 characters with CR LF, batched
// through out (out_size bytes, at least 80).
void mime_write_base64(MessagePrintFn print, void *user, const char *data, size_t len, char *out,
                       size_t out_size);

// Writes len bytes (NUL bytes included) in pieces of MIME_WRITE_SLICE.
void mime_write_bytes(MessagePrintFn print, void *user, const char *data, size_t len);

// The MIME parts of the file attachments of one level (inline parts inside
// multipart/related, or the regular ones). The number of parts taken up,
// -1 once a file could not be opened. *status, when given, receives
// MIME_OK or the failure that stopped the writing.
int mime_write_parts(MailContext *ctx, int inline_parts, const char *boundary, MessagePrintFn print,
                     void *user, int *status = nullptr);
// A body or attachment file that could not be opened: "<what> (<path>)"
// becomes error_text and one MAIL_STAGE_ATTACHMENT / MAIL_RESULT_FAILED
// report, the same for every writer that opens files.
void mime_report_open_failure(MailContext *ctx, const char *what, const char *path);
// The automatic choice for an open file, which is left at its start:
// ATT_ENC_QP for mostly printable content, else ATT_ENC_BASE64 (also when
// the file cannot be read or rewound).
int mime_choose_encoding(int fd);
// The session's raw extra content of one level, with CR LF line ends and a
// line end after it; returns 1.
int mime_write_extra_part(MailContext *ctx, int kind, MessagePrintFn print, void *user);

// ---- checks and file output --------------------------------------------------

// 1 when the attachments fit one message form; else 0 with *message one of
// "Mixing MIME and Uuencoded attachments is prohibited",
// "Mixing MIME and yEnc attachments is prohibited" or
// "Inline attachments require a HTML body".
int mime_check_attachments(const MailContext *ctx, const char **message);

// File mode: writes the message into output_file. MIME_OK, or a failure
// (the partial file is removed and error_text says why).
int mime_write_to_file(MailContext *ctx);
