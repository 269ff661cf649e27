// The MIME message writer: decides the structure (one text part, or
// multipart/mixed with multipart/alternative and multipart/related inside),
// writes the header block, the text and HTML bodies, the uuencode and yEnc
// blocks of non-MIME attachments and has the part writer add the MIME parts.
// Everything is streamed in large slices; nothing grows with attachment size.
#include "mail/writer.h"
#include "mail/fileread.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "mail/ident.h"
#include "mail/list.h"
#include "platform/platform.h"
#include "support/encode.h"
#include "support/file.h"
#include "support/str.h"

namespace {


void set_error(MailContext *ctx, const std::string &text) { mail_set_error(ctx, strdup(text.c_str())); }

// Quoted-printable of one run of bytes, output in batches.
void write_qp(MessagePrintFn print, void *user, QpState *st, const char *data, size_t len, int text,
              char *out, size_t out_size)
{
    const size_t step = (out_size - QP_FLUSH_MAX) / 6;
    for (size_t i = 0; i < len; i += step) {
        size_t n = len - i < step ? len - i : step;
        size_t o = qp_encode(st, data + i, static_cast<ptrdiff_t>(n), out, text);
        print(user, "%.*s", static_cast<int>(o), out);
    }
}

void write_qp_flush(MessagePrintFn print, void *user, QpState *st, char *out)
{
    size_t o = qp_encode(st, nullptr, 0, out, 1);
    if (o)
        print(user, "%.*s", static_cast<int>(o), out);
}

struct Buffers {
    std::unique_ptr<char[]> in{new char[MIME_READ_SLICE]};
    std::unique_ptr<char[]> out{new char[MIME_ENCODE_BUF_SIZE]};
};

// Streams a file through base64 or text-mode quoted-printable; MIME_OK or
// MIME_FAIL_READ.
int stream_file(MessagePrintFn print, void *user, int fd, bool base64, Buffers &b)
{
    // Whole base64 lines per read, so the line breaks fall where the
    // 57-byte slices put them.
    const size_t chunk = base64 ? MIME_READ_SLICE / MIME_B64_SLICE * MIME_B64_SLICE : MIME_READ_SLICE;
    QpState st = {};
    for (;;) {
        int64_t n = mime_read_full(fd, b.in.get(), chunk);
        if (n < 0)
            return MIME_FAIL_READ;
        if (n == 0)
            break;
        if (base64)
            mime_write_base64(print, user, b.in.get(), static_cast<size_t>(n), b.out.get(), MIME_ENCODE_BUF_SIZE);
        else
            write_qp(print, user, &st, b.in.get(), static_cast<size_t>(n), 1, b.out.get(), MIME_ENCODE_BUF_SIZE);
        if (static_cast<size_t>(n) < chunk)
            break;
    }
    if (!base64) {
        write_qp_flush(print, user, &st, b.out.get());
        print(user, "\r\n");
    }
    return MIME_OK;
}

// The text or HTML body held in memory, by encoding.
void write_memory_body(MessagePrintFn print, void *user, const char *data, size_t len, int encoding,
                       Buffers &b)
{
    if (encoding == BODY_ENC_BASE64) {
        mime_write_base64(print, user, data, len, b.out.get(), MIME_ENCODE_BUF_SIZE);
        return;
    }
    QpState st = {};
    write_qp(print, user, &st, data, len, 1, b.out.get(), MIME_ENCODE_BUF_SIZE);
    write_qp_flush(print, user, &st, b.out.get());
    print(user, "\r\n");
}

// A text body as it is: lines wrapped at the session's width.
void write_wrapped(MessagePrintFn print, void *user, const char *text, unsigned width)
{
    char line[1024];
    if (width >= sizeof line)
        width = sizeof line - 1;
    const char *cursor = text;
    while (str_wrap_next_line(&cursor, line, width))
        print(user, "%s\r\n", line);
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

void choose_boundary(const char *preset, char *out)
{
    if (preset)
        preset_boundary(preset, out);
    else
        mail_random_boundary(out);
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
void write_raw_blob(MessagePrintFn print, void *user, const DataBlob *blob)
{
    if (!blob || !blob->data || !blob->length)
        return;
    const size_t slice = 4096;
    char out[2 * slice];
    CrlfState st = {};
    for (size_t i = 0; i < blob->length; i += slice) {
        size_t n = blob->length - i < slice ? blob->length - i : slice;
        size_t o = str_crlf_convert(&st, blob->data + i, n, out);
        print(user, "%.*s", static_cast<int>(o), out);
    }
    char last = blob->data[blob->length - 1];
    if (last != '\n' && last != '\r')
        print(user, "\r\n");
}

// uuencode and yEnc blocks after the text, in the order of addition.
int write_after_text(MailContext *ctx, MessagePrintFn print, void *user, Buffers &b)
{
    for (Attachment *a = att_first(ctx->attachments); a; a = att_next(a)) {
        // MIME attachments are opened (and reported) by the part writer.
        if (a->encoding != ATT_ENC_UUENCODE && a->encoding != ATT_ENC_YENC)
            continue;
        MimeFd f(file_open_utf8(a->path, PLAT_OPEN_READ));
        if (f.fd < 0) {
            mime_report_open_failure(ctx, "Could not open attachment", a->path);
            continue;
        }
        bool yenc = a->encoding == ATT_ENC_YENC;
        uint64_t size = 0;
        if (yenc) {
            if (!plat_fd_size(f.fd, &size))
                continue; // no size, no block
            print(user, "=ybegin size=%D line=%d name=%s\r\n", static_cast<long long>(size), MIME_YENC_SLICE,
                  a->encoded_name);
        } else {
            print(user, "begin 644 %s\r\n", a->encoded_name);
        }
        const size_t line_in = yenc ? MIME_YENC_SLICE : MIME_UU_SLICE;
        const size_t chunk = MIME_READ_SLICE / line_in * line_in;
        uint64_t done = 0;
        for (;;) {
            size_t want = chunk;
            // A yEnc block carries the size its begin line announced, even
            // when the file grows while it is read.
            if (yenc && size - done < want)
                want = static_cast<size_t>(size - done);
            int64_t n = want ? mime_read_full(f.fd, b.in.get(), want) : 0;
            if (n < 0) {
                set_error(ctx, std::string("Read error on attachment (") + a->path + ")");
                return MIME_FAIL_READ;
            }
            size_t o = 0;
            for (size_t i = 0; i < static_cast<size_t>(n); i += line_in) {
                size_t len = static_cast<size_t>(n) - i < line_in ? static_cast<size_t>(n) - i : line_in;
                o += yenc ? yenc_encode(b.in.get() + i, len, b.out.get() + o)
                          : uu_encode_line(b.in.get() + i, len, b.out.get() + o);
                b.out[o++] = '\r';
                b.out[o++] = '\n';
            }
            if (o)
                print(user, "%.*s", static_cast<int>(o), b.out.get());
            done += static_cast<uint64_t>(n);
            if (static_cast<size_t>(n) < chunk)
                break;
        }
        if (yenc)
            print(user, "=yend size=%D\r\n", static_cast<long long>(done));
        else
            print(user, "`\r\nend\r\n");
    }
    return MIME_OK;
}

void write_transfer_encoding(MessagePrintFn print, void *user, int encoding)
{
    if (encoding == BODY_ENC_BASE64)
        print(user, "Content-Transfer-Encoding: base64\r\n");
    else if (encoding == BODY_ENC_QP)
        print(user, "Content-Transfer-Encoding: quoted-printable\r\n");
}

// Where the header block ends in a rendered message.
struct HeaderMark {
    const StrBuf *sb;
    size_t header_len;
};

int write_message(MailContext *ctx, MessagePrintFn print, void *user, HeaderMark *mark)
{
    if (!mime_check_message(ctx))
        return MIME_FAIL_INPUT;

    // The HTML file is opened before anything is written: a message must
    // not go out with its HTML part empty.
    MimeFd html_file(-1);
    if (ctx->html_body && (ctx->flags & MAILF_HTML_FROM_FILE)) {
        html_file.fd = file_open_utf8(ctx->html_body, PLAT_OPEN_READ);
        if (html_file.fd < 0) {
            mime_report_open_failure(ctx, "Could not open HTML body file", ctx->html_body);
            return MIME_FAIL_READ;
        }
    }

    Buffers b;
    const char *text = ctx->text_body;
    size_t text_len = text ? (ctx->text_body_length ? ctx->text_body_length : strlen(text)) : 0;

    // 8-bit text needs an encoding that carries it, and a charset.
    bool eight_bit = (ctx->flags2 & MAILF2_BODY_FROM_FILE) || (text && has_high_byte(text, text_len));
    if (eight_bit) {
        if (((ctx->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT) == BODY_ENC_7BIT)
            ctx->flags = (ctx->flags & ~MAILF_BODY_ENC_MASK) | (BODY_ENC_QP << MAILF_BODY_ENC_SHIFT);
        if (!ctx->charset)
            ctx->charset = strdup("utf-8");
    }
    int encoding = static_cast<int>((ctx->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT);
    const char *charset = ctx->charset ? ctx->charset : "us-ascii";
    bool plain_charset = str_casecmp(charset, "us-ascii") == 0;

    int mixed = 0, related = 0, single = 0;
    mime_structure_flags(ctx, &mixed, &related, &single);

    char mixed_boundary[MIME_BOUNDARY_MAX + 1] = {}, alt_boundary[MIME_BOUNDARY_MAX + 1] = {},
         rel_boundary[MIME_BOUNDARY_MAX + 1] = {};
    choose_boundary(ctx->boundary_mixed, mixed_boundary);

    mime_write_headers(ctx, print, user);
    for (HeaderField *h = hdr_first(ctx->headers); h; h = hdr_next(h))
        mime_write_custom_field(print, user, h->name, h->value);

    if (mixed) {
        print(user, "Content-Type: multipart/mixed;\r\n\tboundary=\"%s\"\r\n", mixed_boundary);
        print(user, "MIME-Version: 1.0\r\n");
    } else if (single) {
        // Any Content-Type that says more than the default needs MIME-Version
        // to be read at all.
        if (encoding != BODY_ENC_7BIT || !plain_charset)
            print(user, "MIME-Version: 1.0\r\n");
        print(user, "Content-Type: text/plain; charset=%s\r\n", charset);
        if (encoding == BODY_ENC_7BIT)
            print(user, "Content-Transfer-Encoding: 7bit\r\n");
        else
            write_transfer_encoding(print, user, encoding);
    } else {
        // Text followed by uuencode or yEnc blocks: the blocks are not part
        // of any encoding, so the text goes as it is; when it is not plain
        // ASCII it says what it is.
        if (eight_bit || !plain_charset) {
            print(user, "MIME-Version: 1.0\r\n");
            print(user, "Content-Type: text/plain; charset=%s\r\n", charset);
            print(user, "Content-Transfer-Encoding: %s\r\n", eight_bit ? "8bit" : "7bit");
        }
        encoding = BODY_ENC_7BIT;
    }
    if (mark)
        mark->header_len = mark->sb->length;
    print(user, "\r\n");

    if (mixed) {
        print(user, "MIME\r\n--%s\r\n", mixed_boundary);
        if (ctx->html_body) {
            choose_boundary(ctx->boundary_alternative, alt_boundary);
            print(user, "Content-Type: multipart/alternative;\r\n\tboundary=\"%s\"\r\n\r\n", alt_boundary);
            print(user, "--%s\r\n", alt_boundary);
        }
        print(user, "Content-Type: text/plain; charset=\"%s\"\r\n", charset);
        write_transfer_encoding(print, user, encoding);
        print(user, "\r\n");
    }

    if (text) {
        if (encoding == BODY_ENC_7BIT)
            write_wrapped(print, user, text, ctx->line_length);
        else
            write_memory_body(print, user, text, text_len, encoding, b);
    }

    if (ctx->html_body) {
        print(user, "--%s\r\n", alt_boundary);
        if (related) {
            choose_boundary(ctx->boundary_related, rel_boundary);
            print(user, "Content-Type: multipart/related;\r\n\tboundary=\"%s\"\r\n\r\n", rel_boundary);
            print(user, "--%s\r\n", rel_boundary);
        }
        int html_encoding = encoding == BODY_ENC_BASE64 ? BODY_ENC_BASE64 : BODY_ENC_QP;
        print(user, "Content-Type: text/html; charset=\"utf-8\"\r\n");
        print(user, "Content-Transfer-Encoding: %s\r\n\r\n", html_encoding == BODY_ENC_BASE64 ? "base64" : "quoted-printable");
        if (html_file.fd >= 0) {
            if (stream_file(print, user, html_file.fd, html_encoding == BODY_ENC_BASE64, b) != MIME_OK) {
                set_error(ctx, std::string("Read error on HTML body file (") + ctx->html_body + ")");
                return MIME_FAIL_READ;
            }
        } else {
            write_memory_body(print, user, ctx->html_body, strlen(ctx->html_body), html_encoding, b);
        }
        if (related) {
            write_raw_blob(print, user, ctx->extra_related);
            int status = MIME_OK;
            mime_write_parts(ctx, 1, rel_boundary, print, user, &status);
            if (status != MIME_OK)
                return status;
            print(user, "--%s--\r\n\r\n", rel_boundary);
        }
        print(user, "--%s--\r\n\r\n", alt_boundary);
    }

    int status = write_after_text(ctx, print, user, b);
    if (status != MIME_OK)
        return status;

    if (mixed) {
        write_raw_blob(print, user, ctx->extra_mixed);
        mime_write_parts(ctx, 0, mixed_boundary, print, user, &status);
        if (status != MIME_OK)
            return status;
        print(user, "--%s--\r\n", mixed_boundary);
    }
    return MIME_OK;
}

} // namespace

void mime_write_base64(MessagePrintFn print, void *user, const char *data, size_t len, char *out, size_t out_size)
{
    size_t o = 0;
    for (size_t i = 0; i < len; i += MIME_B64_SLICE) {
        size_t n = len - i < MIME_B64_SLICE ? len - i : size_t{MIME_B64_SLICE};
        if (o + 80 > out_size) {
            print(user, "%.*s", static_cast<int>(o), out);
            o = 0;
        }
        o += b64_encode(data + i, static_cast<ptrdiff_t>(n), out + o);
        out[o++] = '\r';
        out[o++] = '\n';
    }
    if (o)
        print(user, "%.*s", static_cast<int>(o), out);
}

void mime_report_open_failure(MailContext *ctx, const char *what, const char *path)
{
    std::string text = std::string(what) + " (" + path + ")";
    set_error(ctx, text);
    ctx->status_fn(ctx->status_user, MAIL_STAGE_ATTACHMENT, MAIL_RESULT_FAILED, text.c_str());
}

int mime_write_extra_part(MailContext *ctx, int kind, MessagePrintFn print, void *user)
{
    write_raw_blob(print, user, kind ? ctx->extra_related : ctx->extra_mixed);
    return 1;
}

void mime_write_bytes(MessagePrintFn print, void *user, const char *data, size_t len)
{
    for (size_t i = 0; i < len; i += MIME_WRITE_SLICE) {
        size_t n = len - i < MIME_WRITE_SLICE ? len - i : size_t{MIME_WRITE_SLICE};
        print(user, "%.*s", static_cast<int>(n), data + i);
    }
}

int mime_check_message(MailContext *ctx)
{
    const char *msg = nullptr;
    if (!mime_check_attachments(ctx, &msg)) {
        set_error(ctx, msg);
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
            set_error(ctx, std::string("Invalid MIME boundary (") + presets[i] + ")");
            return 0;
        }
        for (int k = 0; k < i; k++) {
            if (!presets[k])
                continue;
            size_t n = strlen(cut[i]) < strlen(cut[k]) ? strlen(cut[i]) : strlen(cut[k]);
            if (strncmp(cut[i], cut[k], n) == 0) {
                set_error(ctx, std::string("MIME boundaries of two levels clash (") + cut[k] + ", " + cut[i] + ")");
                return 0;
            }
        }
    }
    if (ctx->charset && !charset_is_valid(ctx->charset)) {
        set_error(ctx, std::string("Invalid charset (") + ctx->charset + ")");
        return 0;
    }
    for (HeaderField *h = hdr_first(ctx->headers); h; h = hdr_next(h)) {
        if (strlen(h->name) > HDR_NAME_MAX) {
            set_error(ctx, std::string("Header field name too long (") + std::string(h->name, 40) + "...)");
            return 0;
        }
    }
    if (ctx->from_address && !hdr_address_is_safe(ctx->from_address)) {
        set_error(ctx, std::string("Invalid sender address (") + ctx->from_address + ")");
        return 0;
    }
    if (ctx->reply_to_address && !hdr_address_is_safe(ctx->reply_to_address)) {
        set_error(ctx, std::string("Invalid reply-to address (") + ctx->reply_to_address + ")");
        return 0;
    }
    return 1;
}

int mime_write_message(MailContext *ctx, MessagePrintFn print, void *user)
{
    return write_message(ctx, print, user, nullptr);
}

int mime_render_message(MailContext *ctx, StrBuf *sb, size_t *header_len)
{
    MsgSink ms;
    msg_sink_init(&ms, strbuf_sink, sb);
    HeaderMark mark = {sb, 0};
    int result = write_message(ctx, msg_printf, &ms, &mark);
    if (result == MIME_OK && (ms.failed || (sb->flags & STRBUF_NOMEM))) {
        // A text with a hole must never be signed or sent.
        set_error(ctx, "Out of memory while rendering the message");
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
