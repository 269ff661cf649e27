// The message writers: the generated header block, the MIME message with
// its bodies and attachment parts, the attachment consistency check and
// File-mode output. Writers print through a MessagePrintFn with its user
// pointer and emit the message unstuffed, exactly as the recipient reads it;
// dot-stuffing is a filter in front of the final sink (support/dotstuff.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mail/session.h"
#include "support/fmt.h"

// The formatted print of the message writers: literal text and "%s",
// "%.*s" and "%d" in the engine's dialect. The result is 1, or 0 once the
// sink behind it has failed.
typedef int (*MessagePrintFn)(void *user, const char *format, ...);
// The program's one MessagePrintFn is msg_printf over a MsgSink
// (support/fmt.h).

// Results of the writers that can fail: success 1, every failure negative.
// 0 is only a field writer's "the field does not apply" (nothing written).
enum {
    MIME_OK = 1,          // written (a field writer: its field was written)
    MIME_SKIPPED = 0,     // a field writer's field does not apply
    MIME_FAIL_WRITE = -1, // the sink refused a piece (disk full, lost connection)
    MIME_FAIL_READ = -2,  // a body or attachment file failed while being read
    MIME_FAIL_NOMEM = -3, // memory ran out while rendering
    MIME_FAIL_INPUT = -4, // the settings cannot make a valid message; nothing written
    MIME_FAIL_OPEN = -5,  // the output file could not be opened
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
    HDR_LINE_WORDS = 76,     // ... and beyond this in fields with encoded words
    HDR_LINE_HARD = 998,     // no generated header line is longer
    // A header value with a run of other characters longer than
    // HDR_RUN_MAX, or a run of blanks longer than HDR_BLANK_RUN_MAX, is
    // written as encoded words, so that folding keeps every line within
    // HDR_LINE_HARD (a folded line must hold more than blanks).
    HDR_RUN_MAX = 800,
    HDR_BLANK_RUN_MAX = 90,
    HDR_NAME_MAX = 150,      // longest custom header-field name written
    MSG_LINE_MAX = 998,      // longest line a message/* part is copied with
};

// ---- header block ----------------------------------------------------------
// Field writers give MIME_OK when they wrote their field, MIME_SKIPPED when
// it does not apply, and MIME_FAIL_WRITE or MIME_FAIL_NOMEM on failure.
// Header lines are folded at blanks: within HDR_LINE_SOFT columns where a
// blank allows it, within HDR_LINE_WORDS in fields that hold encoded
// words, never beyond HDR_LINE_HARD, and a fold never leaves a line of
// white space only. Encoded words are made again to fit their line.

// Appends a display name as it may stand before an address: encoded words
// as they are, any other text as a quoted string with '"' and '\' escaped
// (text too long to fold becomes encoded words). *out stays as it was when
// memory runs out; returns 1, or 0 then.
int hdr_append_display_name(char **out, const char *name);

// 1 when address can stand in a header field as one mailbox: a dot-atom
// or quoted-string local part, "@", a dot-atom or domain-literal domain
// that has an ASCII form (a malformed UTF-8 label has none).
int hdr_address_is_safe(const char *address);

// Called with each address the generated header block shows and the name
// of its field ("From", "Reply-To", "To", "Cc",
// "Disposition-Notification-To"); nonzero stops the walk.
typedef int (*HdrAddressFn)(void *user, const char *field, const char *address);
// Walks the addresses of the generated header block in its order, as the
// block writer chooses them (the sender and recipients taken from a message
// file are not shown, a listed address that is no mailbox neither). With a
// recipient callback its To and Cc runs are asked once each, like the block
// writer asks them, and each run goes on to its end. Returns what stopped
// the walk, 0 when nothing did.
int hdr_visit_addresses(MailContext *ctx, HdrAddressFn fn, void *user);

// The whole generated block; MIME_OK or the failure that ended it.
int mime_write_headers(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_date(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_recipient_header(int kind, MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_from(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_reply_to(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_to(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_cc(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_subject(MailContext *ctx, MessagePrintFn print, void *user);
// The sender's domain goes in in its ASCII ("xn--") form.
int mime_write_message_id(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_dnt(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_priority(MailContext *ctx, MessagePrintFn print, void *user);
int mime_write_x_mailer(MailContext *ctx, MessagePrintFn print, void *user);
// One parameter line of a part header: TAB, param, "=", the value as a
// quoted string ('"' and '\' escaped; encoded words for other text or
// text too long to fold). MIME_OK or the failure.
int hdr_write_param(MessagePrintFn print, void *user, const char *param, const char *value);
// One custom header field "name: value", folded like the generated ones.
// MIME_OK or the failure.
int mime_write_custom_field(MessagePrintFn print, void *user, const char *name, const char *value);

// The structure the message needs; single may be NULL.
void mime_structure_flags(const MailContext *ctx, int *mixed, int *related, int *single);

// ---- message and parts -------------------------------------------------------

// 1 when the session's settings make a valid message: the attachments fit
// one form, preset boundaries and the charset are usable, custom field names
// fit a line, sender and reply-to addresses can stand in a header. Else 0
// with error_text saying why. mime_write_message runs it first.
int mime_check_message(MailContext *ctx);

// Writes one message. MIME_OK, or the first failure, after which nothing
// more is printed or read: MIME_FAIL_INPUT (nothing written),
// MIME_FAIL_WRITE (the sink failed), MIME_FAIL_READ (a body or attachment
// file failed or changed while being read), MIME_FAIL_NOMEM (the session
// is marked: mail_error_is_nomem); error_text says why. No C++ exception
// leaves a writer. What was written before a failure stays written: the caller
// discards it (File mode removes its file, SMTP must not end the data).
int mime_write_message(MailContext *ctx, MessagePrintFn print, void *user);

// Renders the whole message into sb (a zeroed record) for signing: the
// text the recipient reads, without dot-stuffing. *header_len gets the
// bytes of the header block; the blank line after it follows. The
// results of mime_write_message, and MIME_FAIL_NOMEM when the buffer could
// not grow: the text is then incomplete and must not be sent.
int mime_render_message(MailContext *ctx, StrBuf *sb, size_t *header_len);

// Writes len bytes as base64 lines of 76 characters with CR LF, batched
// through out (out_size bytes, at least 80). MIME_OK or MIME_FAIL_WRITE.
int mime_write_base64(MessagePrintFn print, void *user, const char *data, size_t len, char *out,
                      size_t out_size);

// Writes len bytes (NUL bytes included) in pieces of MIME_WRITE_SLICE.
// MIME_OK or MIME_FAIL_WRITE.
int mime_write_bytes(MessagePrintFn print, void *user, const char *data, size_t len);

// The MIME parts of the file attachments of one level (inline parts inside
// multipart/related, or the regular ones). The number of parts taken up,
// -1 once a file could not be opened. *status, when given, receives
// MIME_OK or the failure that stopped the writing (the caller must act on
// it: nothing more may be written after a failure).
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
// line end after it; MIME_OK or MIME_FAIL_WRITE.
int mime_write_extra_part(MailContext *ctx, int kind, MessagePrintFn print, void *user);

// ---- preconstructed message -------------------------------------------------

// Checks the session's message file before anything of it is sent: it
// opens, reads to its end and holds no NUL byte. MIME_OK, or MIME_FAIL_READ
// (it cannot be opened or read) or MIME_FAIL_INPUT (a NUL byte), with
// error_text saying why.
int mime_check_preconstructed(MailContext *ctx);

// Writes the message file (email_file) as a message: the generated header
// block unless MAILF_RAW_HEADERS (the file's fields of the names it writes
// give way), the file's header without the fields named in removed_headers
// and without Bcc, the custom fields and the empty line, then the body;
// every line ends in CR LF, nothing is stuffed. A file without an empty
// line is all header. Results as mime_write_message; the file is opened
// before anything is written (MIME_FAIL_READ when it cannot be).
int mime_write_preconstructed(MailContext *ctx, MessagePrintFn print, void *user);

// ---- checks and file output --------------------------------------------------

// 1 when the attachments fit one message form; else 0 with *message one of
// "Mixing MIME and Uuencoded attachments is prohibited",
// "Mixing MIME and yEnc attachments is prohibited" or
// "Inline attachments require a HTML body".
int mime_check_attachments(const MailContext *ctx, const char **message);

// File mode: writes the message into a new file beside output_file and
// renames it over output_file only once the whole message was written and
// closed. MIME_OK, or a failure (error_text says why): MIME_FAIL_OPEN (no
// file could be made), MIME_FAIL_INPUT, MIME_FAIL_WRITE (also a file-size
// limit or a failed rename), MIME_FAIL_READ, MIME_FAIL_NOMEM. On failure
// the new file is removed and an earlier file of that name stays as it was.
int mime_write_to_file(MailContext *ctx);

// ---- attachment parts on their own ----------------------------------------------
// For callers that build a multipart body of their own around the
// session's attachment parts, with the preset boundaries (MAILOPT_BOUNDARIES):
// inline parts (inline_parts nonzero) each after "--" boundary_related, the
// regular ones after "--" boundary_mixed; no closing boundary. The parts are
// those mime_write_parts writes (base64, quoted-printable, automatic or
// message/* attachments; uuencoded and yEnc ones are not parts), dot-stuffed
// only when the session asks files to be (MAILOPT_DOT_STUFF).

// Into the open file out. The number of parts written; 0 without writing
// anything when either preset boundary is missing; -1 once an attachment
// could not be opened (reported, the others still written), or after a
// read or write failure or memory running out (writing stopped there;
// error_text says why).
int mime_write_attachment_parts(MailContext *ctx, int inline_parts, FILE *out);

// The same into a new file at path, which replaces an earlier file of that
// name only when the result is above 0; otherwise no new file is left and
// an earlier one stays as it was. Results as above; -1 also when the file
// cannot be made or written.
int mime_save_attachment_parts(MailContext *ctx, int inline_parts, const char *path);
