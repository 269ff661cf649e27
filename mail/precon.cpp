// The preconstructed message writer: a ready message file sent or written
// as the recipient is to read it. The generated header block goes in front
// (unless raw headers are asked for), the file's fields that the session
// names for removal are left out (so are those the generated block replaces,
// and Bcc and Resent-Bcc always), the session's custom fields close the
// header, and every line is copied with CR LF. The file is read as a stream
// through one slice buffer; lines of any length pass through without being
// held whole.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "mail/fileread.h"
#include "mail/seam.h"
#include "mail/lists.h"
#include "mail/mimeout.h"
#include "mail/writer.h"
#include "support/str.h"

namespace {

const char kWhat[] = "message file";

// The copy of one file: where in the file the writer stands and what it
// does with the line it is in.
class Copier {
public:
    Copier(MailContext *ctx, MimeOut &out)
        : ctx_(ctx), out_(out), raw_((ctx->flags & MAILF_RAW_HEADERS) != 0), field_dropped_(!raw_)
    {
    }

    // One slice of the file, in order.
    void feed(const char *data, size_t n)
    {
        size_t i = 0;
        if (pending_cr_) {
            pending_cr_ = false;
            if (n && data[0] == '\n')
                i = 1; // the rest of a CR LF already ended its line
        }
        while (i < n && out_.ok())
            i = body_ ? body(data, n, i) : header(data, n, i);
    }

    // The end of the file: a last line without its line end gets one, and a
    // file that never left its header gets the custom fields and the empty
    // line all the same.
    void finish()
    {
        if (!body_) {
            if (state_ == COPY)
                out_("\r\n");
            end_header();
        } else if (!at_line_start_) {
            out_("\r\n");
        }
    }

private:
    enum LineState { START, PREFIX, COPY, DROP };

    // Steps over the line end at data[i]; a CR that is the last byte of the
    // slice may be the first half of a CR LF.
    size_t skip_eol(const char *data, size_t n, size_t i)
    {
        if (data[i] == '\r') {
            if (i + 1 == n)
                pending_cr_ = true;
            else if (data[i + 1] == '\n')
                return i + 2;
        }
        return i + 1;
    }

    void emit(const char *p, size_t len)
    {
        if (len)
            out_.bytes(p, len);
    }

    // Body: runs that already end in CR LF pass whole; LF and lone CR
    // become CR LF.
    size_t body(const char *data, size_t n, size_t i)
    {
        size_t run = i;
        while (i < n) {
            char c = data[i];
            if (c == '\r' && i + 1 < n && data[i + 1] == '\n') {
                i += 2;
                at_line_start_ = true;
            } else if (c == '\r' || c == '\n') {
                emit(data + run, i - run);
                out_("\r\n");
                i = skip_eol(data, n, i);
                run = i;
                at_line_start_ = true;
            } else {
                i++;
                at_line_start_ = false;
            }
        }
        emit(data + run, n - run);
        return n;
    }

    bool removed(const std::string &name) const
    {
        size_t len = name.size();
        while (len && (name[len - 1] == ' ' || name[len - 1] == '\t'))
            len--;
        auto same = [&](const char *want) {
            return strlen(want) == len && str_ncasecmp(name.data(), want, static_cast<long>(len)) == 0;
        };
        // Bcc recipients are for the envelope only: the field never goes out.
        // Resent-Bcc has the same meaning for a message sent on again; its
        // addresses are the resender's business and are not taken up.
        if (same("Bcc") || same("Resent-Bcc"))
            return true;
        for (HeaderField *h = hdr_first(ctx_->removed_headers); h; h = hdr_next(h))
            if (same(h->name))
                return true;
        return false;
    }

    void end_header()
    {
        for (HeaderField *h = hdr_first(ctx_->headers); h && out_.ok(); h = hdr_next(h)) {
            int r = mime_write_custom_field(out_.print, out_.user, h->name, h->value);
            if (r != MIME_OK)
                out_.fail(r);
        }
        out_("\r\n");
        body_ = true;
        at_line_start_ = true;
    }

    size_t header(const char *data, size_t n, size_t i)
    {
        char c = data[i];
        switch (state_) {
        case START:
            if (c == '\r' || c == '\n') {
                end_header(); // the empty line
                return skip_eol(data, n, i);
            }
            if (c == ' ' || c == '\t') {
                state_ = field_dropped_ ? DROP : COPY;
                return i;
            }
            state_ = PREFIX;
            prefix_.clear();
            return i;
        case PREFIX: {
            // The field name: up to the colon, within one header line.
            size_t start = i;
            while (i < n && data[i] != ':' && data[i] != '\r' && data[i] != '\n' &&
                   prefix_.size() + (i - start) <= HDR_LINE_HARD)
                i++;
            prefix_.append(data + start, i - start);
            if (i < n && data[i] == ':') {
                field_dropped_ = removed(prefix_);
                if (!field_dropped_)
                    emit(prefix_.data(), prefix_.size());
                state_ = field_dropped_ ? DROP : COPY;
                return i;
            }
            if (i == n)
                return i;
            // No colon within a header line's length. A name cut off there
            // that is so far a removed one followed by blanks may still
            // reach its colon after any run of blanks, and the header scan
            // then takes the line as that field (a Bcc field's addresses
            // become recipients): it is left out as that field, raw or not.
            const bool cut = data[i] != '\r' && data[i] != '\n';
            if (raw_ && !(cut && removed(prefix_))) {
                // Raw headers go as they are, a line without a colon too.
                field_dropped_ = false;
                emit(prefix_.data(), prefix_.size());
                state_ = COPY;
            } else {
                // No field name: the line and its continuations are no field.
                field_dropped_ = true;
                state_ = DROP;
            }
            return i;
        }
        case COPY:
        case DROP: {
            size_t start = i;
            while (i < n && data[i] != '\r' && data[i] != '\n')
                i++;
            if (state_ == COPY)
                emit(data + start, i - start);
            if (i == n)
                return i;
            if (state_ == COPY)
                out_("\r\n");
            state_ = START;
            return skip_eol(data, n, i);
        }
        }
        return n;
    }

    MailContext *ctx_;
    MimeOut &out_;
    // With raw headers nothing is generated and only Bcc and Resent-Bcc
    // (and the fields the user removes) are left out of the file's header.
    const bool raw_;
    bool body_ = false;
    bool at_line_start_ = true;
    bool pending_cr_ = false;
    // A continuation line before the first field belongs to no field: it
    // is left out, as the header scan passes it over (copied, it would
    // continue the last generated field). With raw headers nothing comes
    // before it, so it is copied.
    bool field_dropped_;
    LineState state_ = START;
    std::string prefix_;
};

// The generated header block. It is written as for a message file whatever
// target the session has, so that the file's own fields of the names it
// writes are put on the removal list.
int write_generated_header(MailContext *ctx, MessagePrintFn print, void *user)
{
    int mode = ctx->mode;
    ctx->mode = MAIL_MODE_PRECONSTRUCTED;
    int r = mime_write_headers(ctx, print, user);
    ctx->mode = mode;
    return r;
}

int open_failure(MailContext *ctx)
{
    mail_set_errorf(ctx, "Failed to open %s (%s)", kWhat, ctx->email_file);
    return MIME_FAIL_READ;
}

} // namespace

int mime_check_preconstructed(MailContext *ctx)
{
    if (!ctx->email_file) {
        mail_set_errorf(ctx, "No message file set");
        return MIME_FAIL_INPUT;
    }
    return mime_guard(ctx, [&] {
        MimeFile f(ctx->email_file);
        if (!f.is_open())
            return open_failure(ctx);
        std::unique_ptr<char[]> buf(new char[MIME_READ_SLICE]);
        for (;;) {
            int64_t got = f.read(buf.get(), MIME_READ_SLICE);
            if (got < 0)
                return mime_read_failure(ctx, kWhat, ctx->email_file, f, got);
            if (got == 0)
                return static_cast<int>(MIME_OK);
            // A text line cannot hold a NUL byte, and the servers and
            // readers that meet one cut or refuse the message.
            if (memchr(buf.get(), 0, static_cast<size_t>(got))) {
                mail_set_errorf(ctx, "The message file holds a NUL byte (%s)", ctx->email_file);
                return static_cast<int>(MIME_FAIL_INPUT);
            }
        }
    });
}

namespace {

// The completed message: the generated header block, then the file's
// content filtered and with the custom fields added.
int write_file(MailContext *ctx, MessagePrintFn print, void *user)
{
    return mime_guard(ctx, [&] {
        // Opened before anything is written: a file that cannot be read
        // leaves nothing half-sent.
        MimeFile f(ctx->email_file ? ctx->email_file : "");
        if (!f.is_open())
            return open_failure(ctx);
        std::unique_ptr<char[]> buf(new char[MIME_READ_SLICE]);
        MimeOut out(print, user);

        if (!(ctx->flags & MAILF_RAW_HEADERS)) {
            int r = write_generated_header(ctx, print, user);
            if (r != MIME_OK)
                return r;
        }
        Copier copy(ctx, out);
        for (;;) {
            int64_t got = f.read(buf.get(), MIME_READ_SLICE);
            if (got < 0)
                return mime_read_failure(ctx, kWhat, ctx->email_file, f, got);
            if (got == 0)
                break;
            if (memchr(buf.get(), 0, static_cast<size_t>(got)))
                return mime_read_failure(ctx, kWhat, ctx->email_file, f, MIME_READ_CHANGED);
            copy.feed(buf.get(), static_cast<size_t>(got));
            if (!out.ok())
                return out.status;
        }
        copy.finish();
        return out.status;
    });
}

// Where the header block of a rendered message ends: the bytes up to and
// with the line end before the first empty line; all of it when there is
// no empty line.
size_t header_length(const StrBuf &text)
{
    const char *end = static_cast<const char *>(memmem(text.data, text.length, "\r\n\r\n", 4));
    return end ? static_cast<size_t>(end - text.data) + 2 : text.length;
}

// Signing needs the whole message: it is rendered into one buffer sized
// for the file (so it does not double while it grows), signed, and the
// fields and the text written to the sink.
int write_signed(MailContext *ctx, MessagePrintFn print, void *user)
{
    StrBuf text = {};
    uint64_t size = 0;
    if (ctx->email_file && plat_file_size(ctx->email_file, &size) && size < SIZE_MAX / 2) {
        size_t room = static_cast<size_t>(size) + static_cast<size_t>(size) / 16 + 64 * 1024;
        text.data = static_cast<char *>(strbuf_realloc(nullptr, room));
        if (text.data) {
            text.capacity = room;
            text.data[0] = 0;
        }
    }
    MsgSink ms;
    msg_sink_init(&ms, strbuf_sink, &text);
    int result = write_file(ctx, msg_printf, &ms);
    return mime_sign_and_write(ctx, &text, header_length(text), result, print, user);
}

} // namespace

int mime_write_preconstructed(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (mail_dkim_signs(ctx))
        return write_signed(ctx, print, user);
    return write_file(ctx, print, user);
}
