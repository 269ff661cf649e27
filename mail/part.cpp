// MIME attachment parts: the inline parts inside multipart/related and the
// regular parts at the end of multipart/mixed. An automatic encoding is
// chosen from a sample of the file; message/* files are copied as 7bit.
#include "mail/writer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "mail/ident.h"
#include "mail/list.h"
#include "mail/mimetype.h"
#include "support/encode.h"
#include "support/file.h"
#include "support/str.h"

namespace {

ssize_t read_some(int fd, char *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, buf + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

bool counts_printable(unsigned char c) { return (c >= 0x21 && c <= 0x7e && c != '=') || c == ' ' || c == '\t'; }

std::string quoted(const char *text)
{
    std::string s = "\"";
    for (const char *p = text; *p; p++) {
        if (*p == '"' || *p == '\\')
            s += '\\';
        s += *p;
    }
    return s + "\"";
}

// Streams the file's bytes as base64, binary quoted-printable or a raw 7bit
// copy (with every line end made CR LF). MIME_OK or MIME_FAIL_READ.
int write_body(MessagePrintFn print, void *user, int fd, int encoding)
{
    std::unique_ptr<char[]> in(new char[MIME_READ_SLICE]);
    const size_t out_size = 6 * MIME_READ_SLICE + 64;
    std::unique_ptr<char[]> out(new char[out_size]);
    const size_t chunk = encoding == ATT_ENC_BASE64 ? MIME_READ_SLICE / MIME_B64_SLICE * MIME_B64_SLICE
                                                    : static_cast<size_t>(MIME_READ_SLICE);
    QpState st = {};
    bool after_cr = false;
    for (;;) {
        ssize_t n = read_some(fd, in.get(), chunk);
        if (n < 0)
            return MIME_FAIL_READ;
        size_t len = static_cast<size_t>(n);
        size_t o = 0;
        if (encoding == ATT_ENC_BASE64) {
            for (size_t i = 0; i < len; i += MIME_B64_SLICE) {
                size_t k = len - i < MIME_B64_SLICE ? len - i : size_t{MIME_B64_SLICE};
                o += b64_encode(in.get() + i, static_cast<ptrdiff_t>(k), out.get() + o);
                out[o++] = '\r';
                out[o++] = '\n';
            }
        } else if (encoding == ATT_ENC_QP) {
            if (len)
                o = qp_encode(&st, in.get(), static_cast<ptrdiff_t>(len), out.get(), 0);
        } else {
            for (size_t i = 0; i < len; i++) {
                char c = in[i];
                if (c == '\n') {
                    if (!after_cr)
                        out[o++] = '\r';
                    out[o++] = '\n';
                    after_cr = false;
                } else if (after_cr) {
                    out[o++] = '\n'; // a lone CR ends its line too
                    out[o++] = c;
                    after_cr = c == '\r';
                } else {
                    out[o++] = c;
                    after_cr = c == '\r';
                }
            }
        }
        if (o)
            print(user, "%.*s", static_cast<int>(o), out.get());
        if (len < chunk)
            break;
    }
    if (encoding == ATT_ENC_QP) {
        size_t o = qp_encode(&st, nullptr, 0, out.get(), 0);
        if (o)
            print(user, "%.*s", static_cast<int>(o), out.get());
    } else if (encoding == ATT_ENC_RAW && after_cr) {
        print(user, "\n");
    }
    return MIME_OK;
}

} // namespace

int mime_choose_encoding(int fd)
{
    unsigned char sample[MIME_SAMPLE_SIZE];
    ssize_t n = read_some(fd, reinterpret_cast<char *>(sample), sizeof sample);
    int choice = ATT_ENC_BASE64;
    if (n > 0) {
        size_t printable = 0;
        for (ssize_t i = 0; i < n; i++)
            printable += counts_printable(sample[i]);
        if (static_cast<float>(printable) / static_cast<float>(n) >= 0.85f)
            choice = ATT_ENC_QP;
    }
    lseek(fd, 0, SEEK_SET);
    return choice;
}

int mime_write_extra_part(MailContext *ctx, int kind, MessagePrintFn print, void *user)
{
    const DataBlob *blob = kind ? ctx->extra_related : ctx->extra_mixed;
    if (blob)
        print(user, "%.*s", static_cast<int>(blob->length), blob->data);
    return 1;
}

int mime_write_parts(MailContext *ctx, int inline_parts, const char *boundary, MessagePrintFn print, void *user,
                     int *status)
{
    int count = 0;
    if (status)
        *status = MIME_OK;
    for (Attachment *a = att_first(ctx->attachments); a; a = att_next(a)) {
        if ((a->is_inline != 0) != (inline_parts != 0))
            continue;
        if (a->encoding != ATT_ENC_AUTO && a->encoding != ATT_ENC_BASE64 && a->encoding != ATT_ENC_QP)
            continue;
        int fd = file_open_utf8(a->path, O_RDONLY, 0);
        if (fd < 0) {
            ctx->status_fn(ctx->status_user, MAIL_STAGE_ATTACHMENT, MAIL_RESULT_FAILED, a->path);
            count = -1;
            continue;
        }
        bool automatic = a->encoding == ATT_ENC_AUTO;
        if (automatic)
            a->encoding = mime_choose_encoding(fd);
        print(user, "--%s\r\n", boundary);

        // The type comes from the file's own name, never from its encoded form.
        char type[MIMETYPE_OUT_SIZE];
        if (a->mime_type)
            str_copy_bounded(type, a->mime_type, sizeof type);
        else
            mimetype_from_name(file_base_name(a->path), type);
        int encoding = a->encoding;
        if (str_ncasecmp(type, "message/", 8) == 0) {
            if (automatic)
                encoding = ATT_ENC_RAW;
            else
                str_copy_bounded(type, "text/plain", sizeof type);
        }

        if (inline_parts) {
            print(user, "Content-Type: %s\r\n", type);
            print(user, "Content-Disposition: inline\r\n");
            if (a->content_id) {
                print(user, "Content-ID: <%s>\r\n", a->content_id);
            } else {
                char escaped[4096];
                mime_percent_escape(a->encoded_name, escaped, sizeof escaped);
                print(user, "Content-ID: <%s>\r\n", escaped);
            }
        } else {
            std::string name = quoted(a->encoded_name);
            print(user, "Content-Type: %s;\r\n", type);
            std::string line = "\tname=" + name;
            hdr_write_folded(print, user, line.data(), line.size());
            print(user, "Content-Disposition: attachment;\r\n");
            line = "\tfilename=" + name;
            hdr_write_folded(print, user, line.data(), line.size());
        }
        print(user, "Content-Transfer-Encoding: %s\r\n\r\n",
              encoding == ATT_ENC_BASE64 ? "base64" : encoding == ATT_ENC_QP ? "quoted-printable" : "7bit");
        int result = write_body(print, user, fd, encoding);
        close(fd);
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
