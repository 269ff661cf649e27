// The message writers: the generated header block, the MIME message with
// its bodies and attachment parts, the attachment consistency check and
// File-mode output. Writers print through a MessagePrintFn with its user
// pointer and emit the message unstuffed; dot-stuffing is a filter in front
// of the final sink (support/dotstuff.h).
#pragma once

#include <cstddef>

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
};

// Slice sizes of the streamed encodings (input bytes per step).
enum {
    MIME_B64_SLICE = 57,     // one 76-character base64 line
    MIME_QP_SLICE = 256,
    MIME_UU_SLICE = 45,
    MIME_YENC_SLICE = 499,   // one yEnc line
    MIME_RAW_SLICE = 64 * 1024,
    MIME_READ_SLICE = 64 * 1024, // file reads are this large, whatever the encoding
    MIME_SAMPLE_SIZE = 4096, // bytes looked at to choose an automatic encoding
    MIME_BOUNDARY_MAX = 63,
    HDR_LINE_SOFT = 78,      // fold header lines at white space beyond this
    HDR_LINE_HARD = 998,     // no generated header line is longer
};

// ---- header block ----------------------------------------------------------

// Writes one logical header line (without its CR LF), folded at spaces so
// that lines stay within HDR_LINE_SOFT where a space allows and within
// HDR_LINE_HARD always, then CR LF.
void hdr_write_folded(MessagePrintFn print, void *user, const char *line, size_t len);

// Appends a display name as it may stand before an address: encoded words
// as they are, any other text as a quoted string with '"' and '\' escaped.
void hdr_append_display_name(char **out, const char *name);

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

struct tm;
// Broken-down UTC time of t into out; NULL when it has none.
struct tm *time_utc_calendar(int64_t t, struct tm *out);
// 1 when text (or no text) has no byte of 0x80 or more.
int str_is_ascii(const char *text);
// The structure the message needs; single may be NULL.
void mime_structure_flags(const MailContext *ctx, int *mixed, int *related, int *single);

// ---- message and parts -------------------------------------------------------

// Writes one message. MIME_OK, or MIME_FAIL_WRITE / MIME_FAIL_READ /
// MIME_FAIL_NOMEM with error_text set; what was written before a failure
// stays written (the caller discards it).
int mime_write_message(MailContext *ctx, MessagePrintFn print, void *user);

// The MIME parts of the file attachments of one level (inline parts inside
// multipart/related, or the regular ones). The number of parts taken up,
// -1 once a file could not be opened. *status, when given, receives
// MIME_OK or the failure that stopped the writing.
int mime_write_parts(MailContext *ctx, int inline_parts, const char *boundary, MessagePrintFn print,
                     void *user, int *status = nullptr);
// The automatic choice for an open file (left at its start): ATT_ENC_QP
// for mostly printable content, else ATT_ENC_BASE64.
int mime_choose_encoding(int fd);
// The session's raw extra content of one level ("%.*s"); returns 1.
int mime_write_extra_part(MailContext *ctx, int kind, MessagePrintFn print, void *user);

// ---- checks and file output --------------------------------------------------

// 1 when the attachments fit one message form; else 0 with *message one of
// "Mixing MIME and Uuencoded attachments is prohibited" or
// "Inline attachments require a HTML body".
int mime_check_attachments(const MailContext *ctx, const char **message);

// File mode: writes the message into output_file. MIME_OK, or a failure
// (the partial file is removed and error_text says why).
int mime_write_to_file(MailContext *ctx);
