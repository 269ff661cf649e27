// MIME attachment parts: the inline parts inside multipart/related and the
// regular parts at the end of multipart/mixed. An automatic encoding is
// chosen from a sample of the file; message/* files are copied as they are,
// with CR LF line ends.
#include "mail/writer.h"
#include "mail/fileread.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "mail/ident.h"
#include "mail/list.h"
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

// The automatic choice from the first MIME_SAMPLE_SIZE bytes; the file is
// rewound. False when it could not be rewound.
bool sample_encoding(int fd, int *choice)
{
    unsigned char sample[MIME_SAMPLE_SIZE];
    int64_t n = mime_read_full(fd, reinterpret_cast<char *>(sample), sizeof sample);
    *choice = ATT_ENC_BASE64;
    if (n > 0) {
        size_t printable = 0;
        for (int64_t i = 0; i < n; i++)
            printable += counts_printable(sample[i]);
        // The quotient in single precision: 17 of 20 is exactly 0.85f.
        if (static_cast<float>(printable) / static_cast<float>(n) >= 0.85f)
            *choice = ATT_ENC_QP;
    }
    return plat_seek(fd, 0, PLAT_SEEK_SET) == 0;
}

// Whether a file copied as it is holds bytes of 0x80 or more; the file is
// rewound. -1 on a read error or when it cannot be rewound.
int scan_eight_bit(int fd, char *buf, size_t size)
{
    int eight = 0;
    for (;;) {
        int64_t n = mime_read_full(fd, buf, size);
        if (n < 0)
            return -1;
        for (int64_t i = 0; i < n && !eight; i++)
            eight = static_cast<unsigned char>(buf[i]) >= 0x80;
        if (eight || static_cast<size_t>(n) < size)
            break;
    }
    return plat_seek(fd, 0, PLAT_SEEK_SET) == 0 ? eight : -1;
}

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
// it is (with every line end made CR LF). MIME_OK or MIME_FAIL_READ.
int write_body(MessagePrintFn print, void *user, int fd, int encoding, char *in, char *out)
{
    const size_t chunk = encoding == ATT_ENC_BASE64 ? MIME_READ_SLICE / MIME_B64_SLICE * MIME_B64_SLICE
                                                    : static_cast<size_t>(MIME_READ_SLICE);
    QpState st = {};
    CrlfState crlf = {};
    for (;;) {
        int64_t n = mime_read_full(fd, in, chunk);
        if (n < 0)
            return MIME_FAIL_READ;
        size_t len = static_cast<size_t>(n);
        size_t o = 0;
        if (encoding == ATT_ENC_BASE64) {
            mime_write_base64(print, user, in, len, out, MIME_ENCODE_BUF_SIZE);
        } else if (encoding == ATT_ENC_QP) {
            if (len)
                o = qp_encode(&st, in, static_cast<ptrdiff_t>(len), out, 0);
        } else {
            o = str_crlf_convert(&crlf, in, len, out);
        }
        if (o)
            print(user, "%.*s", static_cast<int>(o), out);
        if (len < chunk)
            break;
    }
    size_t o = encoding == ATT_ENC_QP ? qp_encode(&st, nullptr, 0, out, 0) : 0;
    if (o)
        print(user, "%.*s", static_cast<int>(o), out);
    return MIME_OK;
}

} // namespace

int mime_choose_encoding(int fd)
{
    int choice;
    return sample_encoding(fd, &choice) ? choice : ATT_ENC_BASE64;
}

int mime_write_parts(MailContext *ctx, int inline_parts, const char *boundary, MessagePrintFn print, void *user,
                     int *status)
{
    int count = 0;
    if (status)
        *status = MIME_OK;
    std::unique_ptr<char[]> in, out;
    for (Attachment *a = att_first(ctx->attachments); a; a = att_next(a)) {
        if ((a->is_inline != 0) != (inline_parts != 0))
            continue;
        if (!att_is_mime_part(a))
            continue;
        MimeFd f(file_open_utf8(a->path, PLAT_OPEN_READ));
        if (f.fd < 0) {
            mime_report_open_failure(ctx, "Could not open attachment", a->path);
            count = -1;
            continue;
        }
        if (!in) {
            in.reset(new char[MIME_READ_SLICE]);
            out.reset(new char[MIME_ENCODE_BUF_SIZE]);
        }

        char type[MIMETYPE_OUT_SIZE];
        part_type(a, type);
        bool message = str_ncasecmp(type, "message/", 8) == 0;
        bool read_ok = true;
        if (a->encoding == ATT_ENC_AUTO) {
            // A message/* part keeps its type and goes as it is; anything
            // else is sampled. The choice stays in the record, so a second
            // message of the session is written the same way.
            if (message)
                a->encoding = ATT_ENC_RAW;
            else
                read_ok = sample_encoding(f.fd, &a->encoding);
        } else if (message && a->encoding != ATT_ENC_RAW) {
            // message/* may not be base64 or quoted-printable.
            str_copy_bounded(type, "text/plain", sizeof type);
        }
        int encoding = a->encoding;
        int eight_bit = 0;
        if (read_ok && encoding == ATT_ENC_RAW) {
            eight_bit = scan_eight_bit(f.fd, in.get(), MIME_READ_SLICE);
            read_ok = eight_bit >= 0;
        }
        int result = MIME_FAIL_READ;
        if (read_ok) {
            print(user, "--%s\r\n", boundary);
            if (inline_parts) {
                print(user, "Content-Type: %s\r\n", type);
                print(user, "Content-Disposition: inline\r\n");
                if (a->content_id) {
                    print(user, "Content-ID: <%.*s>\r\n", static_cast<int>(strnlen(a->content_id, kContentIdMax)),
                          a->content_id);
                } else {
                    char escaped[kContentIdMax + 1];
                    mime_percent_escape(a->encoded_name, escaped, sizeof escaped);
                    print(user, "Content-ID: <%s>\r\n", escaped);
                }
            } else {
                print(user, "Content-Type: %s;\r\n", type);
                hdr_write_param(print, user, "name", a->encoded_name);
                print(user, "Content-Disposition: attachment;\r\n");
                hdr_write_param(print, user, "filename", a->encoded_name);
            }
            print(user, "Content-Transfer-Encoding: %s\r\n\r\n",
                  encoding == ATT_ENC_BASE64 ? "base64"
                  : encoding == ATT_ENC_QP   ? "quoted-printable"
                  : eight_bit                ? "8bit"
                                             : "7bit");
            result = write_body(print, user, f.fd, encoding, in.get(), out.get());
        }
        if (result != MIME_OK) {
            mail_set_error(ctx, strdup((std::string("Read error on attachment (") + a->path + ")").c_str()));
            if (status)
                *status = result;
            return count;
        }
        print(user, "\r\n");
        if (count >= 0)
            count++;
    }
    return count;
}
