// MIME attachment parts: the inline parts inside multipart/related and the
// regular parts at the end of multipart/mixed. An automatic encoding is
// chosen from a sample of the file; message/* files are copied as they are,
// with CR LF line ends, when every line fits a transport and no NUL byte
// is in them, else they go as application/octet-stream in base64.
#include "mail/writer.h"
#include "mail/fileread.h"
#include "mail/mimeout.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "mail/hdrtext.h"
#include "mail/lists.h"
#include "mail/mimetype.h"
#include "platform/platform.h"
#include "support/encode.h"
#include "support/file.h"
#include "support/str.h"

namespace {

// Longest type and Content-ID texts: their lines ("Content-Type: " type
// ";", "Content-ID: <" id ">") cannot be folded and must stay within
// HDR_LINE_HARD.
const size_t kTypeMax = HDR_LINE_HARD - 15;
const size_t kContentIdMax = HDR_LINE_HARD - 14;

bool counts_printable(unsigned char c) { return (c >= 0x21 && c <= 0x7e && c != '=') || c == ' ' || c == '\t'; }

// The automatic choice from a sample of the first MIME_SAMPLE_SIZE bytes
// (base64 when none can be read).
int sample_choice(const unsigned char *sample, int64_t n)
{
    if (n <= 0)
        return ATT_ENC_BASE64;
    size_t printable = 0;
    for (int64_t i = 0; i < n; i++)
        printable += counts_printable(sample[i]);
    // The quotient in single precision: 17 of 20 is exactly 0.85f.
    return static_cast<float>(printable) / static_cast<float>(n) >= 0.85f ? ATT_ENC_QP : ATT_ENC_BASE64;
}

// What a message/* file holds, line by line, as far as it has been fed:
// whether it can be copied as it is.
struct RawScan {
    size_t col = 0; // bytes of the current line so far
    bool nul = false, long_line = false, eight_bit = false;

    void feed(const char *data, size_t len)
    {
        for (size_t i = 0; i < len; i++) {
            unsigned char c = static_cast<unsigned char>(data[i]);
            if (c == '\n' || c == '\r') {
                col = 0;
                continue;
            }
            if (++col > MSG_LINE_MAX)
                long_line = true;
            nul |= c == 0;
            eight_bit |= c >= 0x80;
        }
    }
    // No NUL byte and no line longer than a transport carries.
    bool copyable() const { return !nul && !long_line; }
};

// The part's MIME type: the given one (cut to fit its line), else the type
// of the attachment's own name, never of its encoded form. That name is
// the display name when it has an extension, else the file's base name.
void part_type(const Attachment *a, char *type)
{
    if (a->mime_type) {
        str_copy_bounded(type, a->mime_type, kTypeMax + 1);
        return;
    }
    const char *shown = a->display_name ? file_base_name(a->display_name) : nullptr;
    if (shown && strchr(shown, '.'))
        mimetype_from_name(shown, type);
    else
        mimetype_from_name(file_base_name(a->path), type);
}

// Streams the file's bytes as base64, binary quoted-printable or a copy as
// it is (with every line end made CR LF; `expect` is what the scan before
// it found, and a copy that finds more is a changed file). 0, or a
// MimeFile read failure code; a failed sink shows in out.
int64_t write_body(MimeOut &out, MimeFile &f, int encoding, const RawScan &expect, MimeBuffers &b)
{
    const size_t chunk = encoding == ATT_ENC_BASE64 ? MIME_READ_SLICE / MIME_B64_SLICE * MIME_B64_SLICE
                                                    : static_cast<size_t>(MIME_READ_SLICE);
    char *in = b.in.get(), *buf = b.out.get();
    QpState st = {};
    CrlfState crlf = {};
    RawScan seen;
    while (out.ok()) {
        int64_t n = f.read(in, chunk);
        if (n < 0)
            return n;
        size_t len = static_cast<size_t>(n);
        if (encoding == ATT_ENC_BASE64) {
            mime_out_base64(out, in, len, buf, MIME_ENCODE_BUF_SIZE);
        } else if (encoding == ATT_ENC_QP) {
            if (len)
                out.bytes(buf, qp_encode(&st, in, static_cast<ptrdiff_t>(len), buf, 0));
        } else {
            seen.feed(in, len);
            if (!seen.copyable() || (seen.eight_bit && !expect.eight_bit))
                return MIME_READ_CHANGED;
            out.bytes(buf, str_crlf_convert(&crlf, in, len, buf));
        }
        if (len < chunk)
            break;
    }
    if (encoding == ATT_ENC_QP)
        out.bytes(buf, qp_encode(&st, nullptr, 0, buf, 0));
    return 0;
}

// Reads a message/* file through once to see whether it can be copied as
// it is; the file is rewound. 0, or a MimeFile read failure code.
int64_t scan_raw(MimeFile &f, RawScan *scan, MimeBuffers &b)
{
    for (;;) {
        int64_t n = f.read(b.in.get(), MIME_READ_SLICE);
        if (n < 0)
            return n;
        scan->feed(b.in.get(), static_cast<size_t>(n));
        if (static_cast<size_t>(n) < MIME_READ_SLICE)
            break;
    }
    return f.rewind() ? 0 : MIME_READ_ERROR;
}

// One part; MIME_OK or the failure that ends the message.
int write_part(MailContext *ctx, Attachment *a, MimeFile &f, int inline_parts, const char *boundary, MimeOut &out,
               MimeBuffers &b)
{
    char type[MIMETYPE_OUT_SIZE];
    part_type(a, type);
    bool message = str_ncasecmp(type, "message/", 8) == 0;
    if (a->encoding == ATT_ENC_AUTO) {
        // A message/* part keeps its type and goes as it is; anything
        // else is sampled. The choice stays in the record, so a second
        // message of the session is written the same way.
        if (message) {
            a->encoding = ATT_ENC_RAW;
        } else {
            int64_t n = f.read(b.in.get(), MIME_SAMPLE_SIZE);
            a->encoding = sample_choice(reinterpret_cast<unsigned char *>(b.in.get()), n);
            if (!f.rewind())
                return mime_read_failure(ctx, "attachment", a->path, f, MIME_READ_ERROR);
        }
    } else if (message && a->encoding != ATT_ENC_RAW) {
        // message/* may not be base64 or quoted-printable.
        str_copy_bounded(type, "text/plain", sizeof type);
    }
    int encoding = a->encoding;
    RawScan scan;
    if (encoding == ATT_ENC_RAW) {
        int64_t r = scan_raw(f, &scan, b);
        if (r < 0)
            return mime_read_failure(ctx, "attachment", a->path, f, r);
        if (!scan.copyable()) {
            // A NUL byte or an over-long line would not survive a 7bit or
            // 8bit part: the bytes go intact in base64, as data.
            encoding = ATT_ENC_BASE64;
            str_copy_bounded(type, "application/octet-stream", sizeof type);
        }
    }

    out("--%s\r\n", boundary);
    if (inline_parts) {
        out("Content-Type: %s\r\n", type);
        out("Content-Disposition: inline\r\n");
        if (a->content_id) {
            out("Content-ID: <%.*s>\r\n", static_cast<int>(strnlen(a->content_id, kContentIdMax)), a->content_id);
        } else {
            char escaped[kContentIdMax + 1];
            mime_percent_escape(a->encoded_name, escaped, sizeof escaped);
            out("Content-ID: <%s>\r\n", escaped);
        }
    } else {
        if (!(out("Content-Type: %s;\r\n", type) && hdr_out_param(out, "name", a->encoded_name) &&
              out("Content-Disposition: attachment;\r\n") && hdr_out_param(out, "filename", a->encoded_name)))
            return out.status;
    }
    out("Content-Transfer-Encoding: %s\r\n\r\n", encoding == ATT_ENC_BASE64 ? "base64"
                                                 : encoding == ATT_ENC_QP   ? "quoted-printable"
                                                 : scan.eight_bit           ? "8bit"
                                                                            : "7bit");
    if (!out.ok())
        return out.status;
    int64_t r = write_body(out, f, encoding, scan, b);
    if (r < 0)
        return mime_read_failure(ctx, "attachment", a->path, f, r);
    out("\r\n");
    return out.status;
}

int write_parts(MailContext *ctx, int inline_parts, const char *boundary, MimeOut &out, int *count)
{
    std::unique_ptr<MimeBuffers> b;
    for (Attachment *a = att_first(ctx->attachments); a && out.ok(); a = att_next(a)) {
        if ((a->is_inline != 0) != (inline_parts != 0))
            continue;
        if (!att_is_mime_part(a))
            continue;
        MimeFile f(a->path);
        if (!f.is_open()) {
            mime_report_open_failure(ctx, "Could not open attachment", a->path);
            *count = -1;
            continue;
        }
        if (!b)
            b = std::make_unique<MimeBuffers>();
        int status = write_part(ctx, a, f, inline_parts, boundary, out, *b);
        if (status != MIME_OK)
            return out.fail(status);
        if (*count >= 0)
            ++*count;
    }
    return out.status;
}

} // namespace

int mime_choose_encoding(int fd)
{
    unsigned char sample[MIME_SAMPLE_SIZE];
    int64_t n = mime_read_full(fd, reinterpret_cast<char *>(sample), sizeof sample);
    int choice = sample_choice(sample, n);
    return plat_seek(fd, 0, PLAT_SEEK_SET) == 0 ? choice : ATT_ENC_BASE64;
}

bool mime_out_parts(MailContext *ctx, int inline_parts, const char *boundary, MimeOut &out)
{
    int count = 0;
    return write_parts(ctx, inline_parts, boundary, out, &count) == MIME_OK;
}

int mime_write_parts(MailContext *ctx, int inline_parts, const char *boundary, MessagePrintFn print, void *user,
                     int *status)
{
    int count = 0;
    int result = mime_guard(ctx, [&] {
        MimeOut out(print, user);
        return write_parts(ctx, inline_parts, boundary, out, &count);
    });
    if (status)
        *status = result;
    return count;
}
