// The MIME message writer: decides the structure (one text part, or
// multipart/mixed with multipart/alternative and multipart/related inside),
// writes the header block, the text and HTML bodies, the uuencode and yEnc
// blocks of non-MIME attachments and has the part writer add the MIME parts.
// Everything is streamed in large slices; nothing grows with attachment size.
// The first failure ends the message: nothing is printed or read after it.
#include "mail/writer.h"
#include "mail/fileread.h"
#include "mail/mimeout.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "mail/ident.h"
#include "mail/lists.h"
#include "mail/seam.h"
#include "platform/platform.h"
#include "support/encode.h"
#include "support/file.h"
#include "support/str.h"

int64_t (*mime_read_fn)(int fd, void *buf, size_t len) = plat_read;

int mime_read_failure(MailContext *ctx, const char *what, const char *path, const MimeFile &f, int64_t code)
{
    if (code == MIME_READ_SHRANK)
        mail_set_errorf(ctx, "Read error on %s (%s): the file shrank while it was read", what, path);
    else if (code == MIME_READ_CHANGED)
        mail_set_errorf(ctx, "Read error on %s (%s): the file changed while it was read", what, path);
    else
        mail_set_system_error(ctx, f.error, "Read error on %s (%s)", what, path);
    return MIME_FAIL_READ;
}

namespace {

// Quoted-printable of one run of bytes, output in batches.
bool write_qp(MimeOut &out, QpState *st, const char *data, size_t len, int text, char *buf, size_t buf_size)
{
    const size_t step = (buf_size - QP_FLUSH_MAX) / 6;
    for (size_t i = 0; i < len && out.ok(); i += step) {
        size_t n = len - i < step ? len - i : step;
        size_t o = qp_encode(st, data + i, static_cast<ptrdiff_t>(n), buf, text);
        out.bytes(buf, o);
    }
    return out.ok();
}

// Quoted-printable of text whose line breaks are to stay line breaks: every
// line end (LF, CR LF, lone CR) is made CR LF first, as the text body's are
// when it is read, so that the encoder writes each as a hard line break
// instead of encoding it. crlf carries a CR at a slice's end to the next.
bool write_qp_lines(MimeOut &out, QpState *st, CrlfState *crlf, const char *data, size_t len, char *buf,
                    size_t buf_size)
{
    const size_t slice = 4096;
    char lines[2 * slice];
    for (size_t i = 0; i < len && out.ok(); i += slice) {
        size_t n = len - i < slice ? len - i : slice;
        write_qp(out, st, lines, str_crlf_convert(crlf, data + i, n, lines), 1, buf, buf_size);
    }
    return out.ok();
}

// The pending byte of a quoted-printable run, if any.
bool write_qp_flush(MimeOut &out, QpState *st, int text, char *buf)
{
    size_t o = qp_encode(st, nullptr, 0, buf, text);
    return out.bytes(buf, o);
}

} // namespace

bool mime_out_base64(MimeOut &out, const char *data, size_t len, char *buf, size_t buf_size)
{
    size_t o = 0;
    for (size_t i = 0; i < len; i += MIME_B64_SLICE) {
        size_t n = len - i < MIME_B64_SLICE ? len - i : size_t{MIME_B64_SLICE};
        if (o + 80 > buf_size) {
            if (!out.bytes(buf, o))
                return false;
            o = 0;
        }
        o += b64_encode(data + i, static_cast<ptrdiff_t>(n), buf + o);
        buf[o++] = '\r';
        buf[o++] = '\n';
    }
    return out.bytes(buf, o);
}

namespace {

// Streams a text file through base64 (its bytes as they are) or
// quoted-printable (its line ends as line breaks). 0, or the MimeFile read
// failure (negative); a failed sink shows in out.
int64_t stream_file(MimeOut &out, MimeFile &f, bool base64, MimeBuffers &b)
{
    // Whole base64 lines per read, so the line breaks fall where the
    // 57-byte slices put them.
    const size_t chunk = base64 ? MIME_READ_SLICE / MIME_B64_SLICE * MIME_B64_SLICE : MIME_READ_SLICE;
    QpState st = {};
    CrlfState crlf = {};
    while (out.ok()) {
        int64_t n = f.read(b.in.get(), chunk);
        if (n < 0)
            return n;
        if (base64)
            mime_out_base64(out, b.in.get(), static_cast<size_t>(n), b.out.get(), MIME_ENCODE_BUF_SIZE);
        else
            write_qp_lines(out, &st, &crlf, b.in.get(), static_cast<size_t>(n), b.out.get(), MIME_ENCODE_BUF_SIZE);
        if (static_cast<size_t>(n) < chunk)
            break;
    }
    if (!base64 && write_qp_flush(out, &st, 1, b.out.get()))
        out("\r\n");
    return 0;
}

// The text or HTML body held in memory, by encoding. The text body's line
// ends were made CR LF when it was set, unless it is to go as it stands
// (then a lone LF or CR goes encoded); lines makes them CR LF here, for the
// HTML body.
bool write_memory_body(MimeOut &out, const char *data, size_t len, int encoding, bool lines, MimeBuffers &b)
{
    if (encoding == BODY_ENC_BASE64)
        return mime_out_base64(out, data, len, b.out.get(), MIME_ENCODE_BUF_SIZE);
    QpState st = {};
    CrlfState crlf = {};
    bool ok = lines ? write_qp_lines(out, &st, &crlf, data, len, b.out.get(), MIME_ENCODE_BUF_SIZE)
                    : write_qp(out, &st, data, len, 1, b.out.get(), MIME_ENCODE_BUF_SIZE);
    if (ok && write_qp_flush(out, &st, 1, b.out.get()))
        out("\r\n");
    return out.ok();
}

// A text body as it is: lines wrapped at blanks at the session's width,
// batched. A word longer than the width stays whole on a line of its own;
// only one that no line of a message can carry is cut, which happens only
// where no encoding may be used (text before uuencode and yEnc blocks).
bool write_wrapped(MimeOut &out, const char *text, size_t len, unsigned width, MimeBuffers &b)
{
    // The line wrapper reads NUL-terminated text. A body that holds NUL
    // bytes is wrapped over a copy in which they stand as another byte of
    // a word; each line is a run of the text, so it is printed from the
    // body itself and the NUL bytes go out as they are.
    std::unique_ptr<char[]> copy;
    const char *scan = text;
    if (memchr(text, '\0', len)) {
        copy.reset(new char[len + 1]);
        for (size_t i = 0; i < len; i++)
            copy[i] = text[i] ? text[i] : '\x01';
        copy[len] = '\0';
        scan = copy.get();
    }
    char *buf = b.out.get();
    size_t o = 0;
    const char *cursor = scan;
    size_t n = 0;
    while (const char *line = str_wrap_next_span(&cursor, &n, width, MSG_LINE_MAX)) {
        if (o + n + 2 > MIME_ENCODE_BUF_SIZE) {
            if (!out.bytes(buf, o))
                return false;
            o = 0;
        }
        memcpy(buf + o, text + (line - scan), n);
        o += n;
        buf[o++] = '\r';
        buf[o++] = '\n';
    }
    return out.bytes(buf, o);
}

// Characters a boundary may hold (RFC 2046 bchars; a space not last).
bool boundary_is_valid(const char *b)
{
    size_t n = strlen(b);
    if (n == 0 || n > MIME_BOUNDARY_MAX || b[n - 1] == ' ')
        return false;
    for (const char *p = b; *p; p++) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  strchr("'()+_,-./:=? ", c);
        if (!ok)
            return false;
    }
    return true;
}

// A preset boundary as the writer uses it: cut at MIME_BOUNDARY_MAX.
void preset_boundary(const char *preset, char *out) { str_copy_bounded(out, preset, MIME_BOUNDARY_MAX + 1); }

// A boundary of one level: the preset one, else a fresh one (which needs
// the random generator's start-up, and so memory).
void choose_boundary(const char *preset, char *out)
{
    if (preset)
        preset_boundary(preset, out);
    else if (!mail_random_boundary(out))
        mime_throw_nomem();
}

bool has_high_byte(const char *data, size_t len)
{
    for (size_t i = 0; i < len; i++)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return true;
    return false;
}

// A charset name as it may stand in a parameter, quoted or not (RFC 2978
// mime-charset characters).
bool charset_is_valid(const char *cs)
{
    if (!*cs || strlen(cs) > 40)
        return false;
    for (const char *p = cs; *p; p++) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  strchr("!#$%&'+-^_`{}~", c);
        if (!ok)
            return false;
    }
    return true;
}

// Raw MIME content given by the caller, with CR LF line ends and ending on a
// line end, so the boundary line after it starts a line of its own.
bool write_raw_blob(MimeOut &out, const DataBlob *blob)
{
    if (!blob || !blob->data || !blob->length)
        return out.ok();
    const size_t slice = 4096;
    char buf[2 * slice];
    CrlfState st = {};
    for (size_t i = 0; i < blob->length && out.ok(); i += slice) {
        size_t n = blob->length - i < slice ? blob->length - i : slice;
        size_t o = str_crlf_convert(&st, blob->data + i, n, buf);
        out.bytes(buf, o);
    }
    char last = blob->data[blob->length - 1];
    if (last != '\n' && last != '\r')
        out("\r\n");
    return out.ok();
}

// One uuencode or yEnc block; false once out has failed (a read failure
// recorded in it).
bool write_block(MailContext *ctx, MimeOut &out, const Attachment *a, MimeFile &f, MimeBuffers &b)
{
    bool yenc = a->encoding == ATT_ENC_YENC;
    // A yEnc block carries the size its begin line announces: the size the
    // file had when it was opened, even when it grows while it is read.
    const uint64_t size = f.size;
    if (yenc)
        out("=ybegin size=%D line=%d name=%s\r\n", static_cast<long long>(size), MIME_YENC_SLICE, a->encoded_name);
    else
        out("begin 644 %s\r\n", a->encoded_name);
    const size_t line_in = yenc ? MIME_YENC_SLICE : MIME_UU_SLICE;
    const size_t chunk = MIME_READ_SLICE / line_in * line_in;
    uint64_t done = 0;
    while (out.ok()) {
        size_t want = chunk;
        if (yenc && size - done < want)
            want = static_cast<size_t>(size - done);
        int64_t n = want ? f.read(b.in.get(), want) : 0;
        if (n < 0) {
            out.fail(mime_read_failure(ctx, "attachment", a->path, f, n));
            return false;
        }
        size_t o = 0;
        for (size_t i = 0; i < static_cast<size_t>(n); i += line_in) {
            size_t len = static_cast<size_t>(n) - i < line_in ? static_cast<size_t>(n) - i : line_in;
            o += yenc ? yenc_encode(b.in.get() + i, len, b.out.get() + o)
                      : uu_encode_line(b.in.get() + i, len, b.out.get() + o);
            b.out[o++] = '\r';
            b.out[o++] = '\n';
        }
        out.bytes(b.out.get(), o);
        done += static_cast<uint64_t>(n);
        if (static_cast<size_t>(n) < chunk)
            break;
    }
    if (yenc)
        out("=yend size=%D\r\n", static_cast<long long>(done));
    else
        out("`\r\nend\r\n");
    return out.ok();
}

// uuencode and yEnc blocks after the text, in the order of addition.
bool write_after_text(MailContext *ctx, MimeOut &out, MimeBuffers &b)
{
    for (Attachment *a = att_first(ctx->attachments); a && out.ok(); a = att_next(a)) {
        // MIME attachments are opened (and reported) by the part writer.
        if (a->encoding != ATT_ENC_UUENCODE && a->encoding != ATT_ENC_YENC)
            continue;
        MimeFile f(a->path);
        if (!f.is_open()) {
            mime_report_open_failure(ctx, "Could not open attachment", a->path);
            continue;
        }
        write_block(ctx, out, a, f, b);
    }
    return out.ok();
}

void write_transfer_encoding(MimeOut &out, int encoding)
{
    if (encoding == BODY_ENC_BASE64)
        out("Content-Transfer-Encoding: base64\r\n");
    else if (encoding == BODY_ENC_QP)
        out("Content-Transfer-Encoding: quoted-printable\r\n");
}

// Where the header block ends in a rendered message.
struct HeaderMark {
    const StrBuf *sb;
    size_t header_len;
};

// The form of one message, settled from the session before its header.
struct MessageForm {
    int mixed = 0, related = 0, single = 0; // as mime_structure_flags
    bool eight_bit = false;                 // the text body is not 7-bit
    int encoding = BODY_ENC_7BIT;           // the text body's transfer encoding
    const char *charset = nullptr;          // the text body's, "us-ascii" by default
    bool plain_charset = false;             // ... which is us-ascii
    char mixed_boundary[MIME_BOUNDARY_MAX + 1] = {};
    char alt_boundary[MIME_BOUNDARY_MAX + 1] = {};
    char rel_boundary[MIME_BOUNDARY_MAX + 1] = {};
};

// 8-bit text needs an encoding that carries it, and a charset: the session
// keeps both. Then the structure and the mixed boundary, which every
// message draws (before the header block's identifiers).
void settle_form(MailContext *ctx, MessageForm *form)
{
    const char *text = ctx->text_body;
    form->eight_bit = (ctx->flags2 & MAILF2_BODY_FROM_FILE) || (text && has_high_byte(text, ctx->text_body_length));
    // Wrapping at blanks keeps every word whole, but a word longer than a
    // line may be cannot go as it is: such a text goes encoded, as 8-bit
    // text does.
    const bool overlong = text && str_longest_word(text, ctx->text_body_length) > MSG_LINE_MAX;
    if ((form->eight_bit || overlong) &&
        ((ctx->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT) == BODY_ENC_7BIT)
        ctx->flags = (ctx->flags & ~MAILF_BODY_ENC_MASK) | (BODY_ENC_QP << MAILF_BODY_ENC_SHIFT);
    if (form->eight_bit) {
        // The copy goes through the engine's allocator, as every buffer of
        // the writers does; without it the text would be declared us-ascii.
        if (!ctx->charset && !(ctx->charset = str_aprintf(nullptr, "%s", "utf-8")))
            mime_throw_nomem();
    }
    form->charset = ctx->charset ? ctx->charset : "us-ascii";
    form->plain_charset = str_casecmp(form->charset, "us-ascii") == 0;
    mime_structure_flags(ctx, &form->mixed, &form->related, &form->single);
    // Text followed by uuencode or yEnc blocks goes as it is: the blocks
    // are not part of any encoding.
    form->encoding = form->mixed || form->single
                         ? static_cast<int>((ctx->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT)
                         : BODY_ENC_7BIT;
    choose_boundary(ctx->boundary_mixed, form->mixed_boundary);
}

// The top header: the generated block, the custom fields and the content
// lines of the message's form, then the blank line that ends it.
bool write_top_header(MailContext *ctx, MimeOut &out, const MessageForm &form, HeaderMark *mark)
{
    if (!mime_out_headers(ctx, out))
        return false;
    for (HeaderField *h = hdr_first(ctx->headers); h; h = hdr_next(h))
        if (!mime_out_custom_field(out, h->name, h->value))
            return false;

    // Every composed message is a MIME message: without the field readers
    // may ignore the charset and the transfer encoding (a multipart message
    // has always written it after its Content-Type, and still does).
    if (form.mixed) {
        out("Content-Type: multipart/mixed;\r\n\tboundary=\"%s\"\r\n", form.mixed_boundary);
        out("MIME-Version: 1.0\r\n");
        if (mark)
            mark->header_len = mark->sb->length;
        return out("\r\n");
    }
    out("MIME-Version: 1.0\r\n");
    if (form.single) {
        out("Content-Type: text/plain; charset=%s\r\n", form.charset);
        if (form.encoding == BODY_ENC_7BIT)
            out("Content-Transfer-Encoding: 7bit\r\n");
        else
            write_transfer_encoding(out, form.encoding);
    } else if (form.eight_bit || !form.plain_charset) {
        // Text followed by uuencode or yEnc blocks: when it is not plain
        // ASCII it says what it is.
        out("Content-Type: text/plain; charset=%s\r\n", form.charset);
        out("Content-Transfer-Encoding: %s\r\n", form.eight_bit ? "8bit" : "7bit");
    }
    if (mark)
        mark->header_len = mark->sb->length;
    return out("\r\n");
}

// The text part. In a multipart message its opening comes first: the
// preamble, the first delimiter, the multipart/alternative level when an
// HTML body follows, the part's header. Then the text body.
bool write_text_part(MailContext *ctx, MimeOut &out, MessageForm &form, MimeBuffers &b)
{
    if (form.mixed) {
        out("MIME\r\n--%s\r\n", form.mixed_boundary);
        if (ctx->html_body) {
            choose_boundary(ctx->boundary_alternative, form.alt_boundary);
            out("Content-Type: multipart/alternative;\r\n\tboundary=\"%s\"\r\n\r\n", form.alt_boundary);
            out("--%s\r\n", form.alt_boundary);
        }
        out("Content-Type: text/plain; charset=\"%s\"\r\n", form.charset);
        write_transfer_encoding(out, form.encoding);
        out("\r\n");
    }
    const char *text = ctx->text_body;
    if (text && out.ok()) {
        if (form.encoding == BODY_ENC_7BIT)
            write_wrapped(out, text, ctx->text_body_length, ctx->line_length, b);
        else
            write_memory_body(out, text, ctx->text_body_length, form.encoding, false, b);
    }
    return out.ok();
}

// The HTML part, when there is an HTML body: inside multipart/related with
// the raw related content and the inline parts when the message has them,
// and the end of the multipart/alternative level. html_file is the body's
// open file when it comes from one.
bool write_html_part(MailContext *ctx, MimeOut &out, MessageForm &form, MimeFile *html_file, MimeBuffers &b)
{
    if (!ctx->html_body)
        return true;
    out("--%s\r\n", form.alt_boundary);
    if (form.related) {
        choose_boundary(ctx->boundary_related, form.rel_boundary);
        out("Content-Type: multipart/related;\r\n\tboundary=\"%s\"\r\n\r\n", form.rel_boundary);
        out("--%s\r\n", form.rel_boundary);
    }
    const bool base64 = form.encoding == BODY_ENC_BASE64;
    out("Content-Type: text/html; charset=\"utf-8\"\r\n");
    out("Content-Transfer-Encoding: %s\r\n\r\n", base64 ? "base64" : "quoted-printable");
    if (html_file) {
        int64_t r = stream_file(out, *html_file, base64, b);
        if (r < 0) {
            out.fail(mime_read_failure(ctx, "HTML body file", ctx->html_body, *html_file, r));
            return false;
        }
    } else {
        write_memory_body(out, ctx->html_body, strlen(ctx->html_body), base64 ? BODY_ENC_BASE64 : BODY_ENC_QP, true,
                          b);
    }
    if (form.related && write_raw_blob(out, ctx->extra_related) &&
        mime_out_parts(ctx, 1, form.rel_boundary, out))
        out("--%s--\r\n\r\n", form.rel_boundary);
    return out("--%s--\r\n\r\n", form.alt_boundary);
}

// The trailing parts: the uuencode and yEnc blocks, then in a multipart
// message the raw mixed content, the regular attachment parts and the
// closing delimiter.
bool write_trailing_parts(MailContext *ctx, MimeOut &out, const MessageForm &form, MimeBuffers &b)
{
    if (write_after_text(ctx, out, b) && form.mixed && write_raw_blob(out, ctx->extra_mixed) &&
        mime_out_parts(ctx, 0, form.mixed_boundary, out))
        out("--%s--\r\n", form.mixed_boundary);
    return out.ok();
}

int write_message(MailContext *ctx, MimeOut &out, HeaderMark *mark)
{
    if (!mime_check_message(ctx))
        return MIME_FAIL_INPUT;

    // The HTML file is opened before anything is written: a message must
    // not go out with its HTML part empty.
    std::unique_ptr<MimeFile> html_file;
    if (ctx->html_body && (ctx->flags & MAILF_HTML_FROM_FILE)) {
        html_file = std::make_unique<MimeFile>(ctx->html_body);
        if (!html_file->is_open()) {
            mime_report_open_failure(ctx, "Could not open HTML body file", ctx->html_body);
            return MIME_FAIL_READ;
        }
    }

    MimeBuffers b;
    MessageForm form;
    settle_form(ctx, &form);
    write_top_header(ctx, out, form, mark) && write_text_part(ctx, out, form, b) &&
        write_html_part(ctx, out, form, html_file.get(), b) && write_trailing_parts(ctx, out, form, b);
    return out.status;
}

} // namespace

int mime_write_base64(MessagePrintFn print, void *user, const char *data, size_t len, char *buf, size_t buf_size)
{
    MimeOut out(print, user);
    mime_out_base64(out, data, len, buf, buf_size);
    return out.status;
}

void mime_report_open_failure(MailContext *ctx, const char *what, const char *path)
{
    mail_set_errorf(ctx, "%s (%s)", what, path);
    // The report carries the same text; when memory ran out for the error
    // text, the report still names the file.
    if (mail_error_is_nomem(ctx))
        mail_report(ctx, MAIL_STAGE_ATTACHMENT, MAIL_RESULT_FAILED, path);
    else
        mail_report(ctx, MAIL_STAGE_ATTACHMENT, MAIL_RESULT_FAILED, mail_last_error(ctx));
}

int mime_write_extra_part(MailContext *ctx, int kind, MessagePrintFn print, void *user)
{
    MimeOut out(print, user);
    write_raw_blob(out, kind ? ctx->extra_related : ctx->extra_mixed);
    return out.status;
}

int mime_write_bytes(MessagePrintFn print, void *user, const char *data, size_t len)
{
    MimeOut out(print, user);
    out.bytes(data, len);
    return out.status;
}

int mime_check_message(MailContext *ctx)
{
    const char *msg = nullptr;
    if (!mime_check_attachments(ctx, &msg)) {
        mail_set_errorf(ctx, "%s", msg);
        return 0;
    }
    // Preset boundaries, as cut; nested levels must not be prefixes of each
    // other, or an inner delimiter line would end an outer part.
    const char *presets[3] = {ctx->boundary_mixed, ctx->boundary_alternative, ctx->boundary_related};
    char cut[3][MIME_BOUNDARY_MAX + 1] = {};
    for (int i = 0; i < 3; i++) {
        if (!presets[i])
            continue;
        preset_boundary(presets[i], cut[i]);
        if (!boundary_is_valid(cut[i])) {
            mail_set_errorf(ctx, "Invalid MIME boundary (%s)", presets[i]);
            return 0;
        }
        for (int k = 0; k < i; k++) {
            if (!presets[k])
                continue;
            size_t n = strlen(cut[i]) < strlen(cut[k]) ? strlen(cut[i]) : strlen(cut[k]);
            if (strncmp(cut[i], cut[k], n) == 0) {
                mail_set_errorf(ctx, "MIME boundaries of two levels clash (%s, %s)", cut[k], cut[i]);
                return 0;
            }
        }
    }
    if (ctx->charset && !charset_is_valid(ctx->charset)) {
        mail_set_errorf(ctx, "Invalid charset (%s)", ctx->charset);
        return 0;
    }
    for (HeaderField *h = hdr_first(ctx->headers); h; h = hdr_next(h)) {
        if (strlen(h->name) > HDR_NAME_MAX) {
            mail_set_errorf(ctx, "Header field name too long (%.*s...)", 40, h->name);
            return 0;
        }
    }
    if (ctx->from_address && !hdr_address_is_safe(ctx->from_address)) {
        mail_set_errorf(ctx, "Invalid sender address (%s)", ctx->from_address);
        return 0;
    }
    if (ctx->reply_to_address && !hdr_address_is_safe(ctx->reply_to_address)) {
        mail_set_errorf(ctx, "Invalid reply-to address (%s)", ctx->reply_to_address);
        return 0;
    }
    return 1;
}

namespace {

// A signed message: rendered whole first (the signatures cover the text the
// recipient reads), then the DKIM-Signature fields and the text go out. A
// rendering or signature that fails fails the message; nothing is sent.
int write_signed(MailContext *ctx, MessagePrintFn print, void *user)
{
    StrBuf text = {};
    size_t header_len = 0;
    int result = mime_render_message(ctx, &text, &header_len);
    return mime_sign_and_write(ctx, &text, header_len, result, print, user);
}

} // namespace

int mime_sign_and_write(MailContext *ctx, StrBuf *text, size_t header_len, int rendered,
                        MessagePrintFn print, void *user)
{
    StrBuf fields = {};
    int result = rendered;
    if (text->flags & STRBUF_NOMEM) {
        // A text with a hole must never be signed or sent. The rendering
        // then failed because its buffer could not grow, whatever failure
        // the writer made of that: memory ran out.
        mail_set_nomem(ctx);
        result = MIME_FAIL_NOMEM;
    }
    if (result == MIME_OK)
        result = mail_dkim_sign(ctx, text->data, text->length, header_len, &fields);
    if (result == MIME_OK)
        result = mime_write_bytes(print, user, fields.data, fields.length);
    if (result == MIME_OK)
        result = mime_write_bytes(print, user, text->data, text->length);
    sbuf_release(&fields);
    sbuf_release(text);
    return result;
}

int mime_write_message(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (mail_dkim_signs(ctx))
        return write_signed(ctx, print, user);
    return mime_guard(ctx, [&] {
        MimeOut out(print, user);
        return write_message(ctx, out, nullptr);
    });
}

int mime_render_message(MailContext *ctx, StrBuf *sb, size_t *header_len)
{
    MsgSink ms;
    msg_sink_init(&ms, strbuf_sink, sb);
    HeaderMark mark = {sb, 0};
    int result = mime_guard(ctx, [&] {
        MimeOut out(msg_printf, &ms);
        return write_message(ctx, out, &mark);
    });
    if (sb->flags & STRBUF_NOMEM) {
        // The buffer could not grow: a text with a hole must never be
        // signed or sent.
        mail_set_nomem(ctx);
        result = MIME_FAIL_NOMEM;
    }
    if (header_len)
        *header_len = mark.header_len;
    return result;
}

int mime_check_attachments(const MailContext *ctx, const char **message)
{
    bool mime = ctx->extra_mixed || ctx->extra_related || ctx->html_body || (ctx->flags & MAILF_FORCE_MIME);
    bool related = ctx->extra_related != nullptr;
    bool uu = false, yenc = false;
    for (Attachment *a = att_first(ctx->attachments); a; a = att_next(a)) {
        if (a->is_inline)
            mime = related = true;
        if (att_is_mime_part(a))
            mime = true;
        if (a->encoding == ATT_ENC_UUENCODE)
            uu = true;
        if (a->encoding == ATT_ENC_YENC)
            yenc = true;
    }
    const char *msg = nullptr;
    // yEnc blocks, like uuencode ones, follow the text outside any MIME
    // structure: inside a multipart body they would corrupt the part they
    // fall into.
    if (yenc && mime)
        msg = "Mixing MIME and yEnc attachments is prohibited";
    if (uu && mime)
        msg = "Mixing MIME and Uuencoded attachments is prohibited";
    if (related && !ctx->html_body)
        msg = "Inline attachments require a HTML body";
    if (message)
        *message = msg;
    return msg ? 0 : 1;
}
