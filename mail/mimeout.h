// What the message writers share inside the mail module: the print pair
// that keeps the first failure of its sink, the guard that keeps every C++
// exception inside the writers, and the writers' own error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "mail/session.h"
#include "mail/writer.h"
#include "support/fence.h"

struct MimeFile;

// A MessagePrintFn with its user pointer and the writer's result so far.
// Once a print has failed nothing more is printed: every later call
// returns false at once, so a writer stops at the first dead print.
struct MimeOut {
    MessagePrintFn print;
    void *user;
    int status; // MIME_OK, or the first failure

    MimeOut(MessagePrintFn p, void *u) : print(p), user(u), status(MIME_OK) {}

    template <class... Args> bool operator()(const char *format, Args... args)
    {
        if (status != MIME_OK)
            return false;
        if (!print(user, format, args...))
            status = MIME_FAIL_WRITE;
        return status == MIME_OK;
    }
    // len bytes as they are (NUL bytes included), in MIME_WRITE_SLICE pieces.
    bool bytes(const char *data, size_t len)
    {
        for (size_t i = 0; i < len && ok(); i += MIME_WRITE_SLICE) {
            size_t n = len - i < MIME_WRITE_SLICE ? len - i : size_t{MIME_WRITE_SLICE};
            (*this)("%.*s", static_cast<int>(n), data + i);
        }
        return ok();
    }
    bool ok() const { return status == MIME_OK; }
    // Records a failure found by the writer itself (the first one counts);
    // returns the writer's result.
    int fail(int result)
    {
        if (status == MIME_OK)
            status = result;
        return status;
    }
};

// The writers of the header block, a custom field, a part-header parameter
// and the attachment parts of one level, through the caller's out: as
// mime_write_headers, mime_write_custom_field, hdr_write_param and
// mime_write_parts, a failure recorded in out. Called inside mime_guard.
// false once out has failed.
bool mime_out_headers(MailContext *ctx, MimeOut &out);
bool mime_out_custom_field(MimeOut &out, const char *name, const char *value);
bool hdr_out_param(MimeOut &out, const char *param, const char *value);
bool mime_out_parts(MailContext *ctx, int inline_parts, const char *boundary, MimeOut &out);

// len bytes as base64 lines of 76 characters with CR LF, batched through
// buf (buf_size bytes, at least 80); false once the sink failed.
bool mime_out_base64(MimeOut &out, const char *data, size_t len, char *buf, size_t buf_size);

// The file f that failed while being read (a MimeFile read failure code):
// error_text "Read error on <what> (<path>): <reason>", the reason the
// system's for a read error, or that the file shrank or changed; returns
// MIME_FAIL_READ.
int mime_read_failure(MailContext *ctx, const char *what, const char *path, const MimeFile &f, int64_t code);

// The second half of every signed write: signs the rendered text (a
// rendering that ran out of memory fails here), then writes the
// DKIM-Signature fields and the text to the sink. text is released.
int mime_sign_and_write(MailContext *ctx, StrBuf *text, size_t header_len, int rendered,
                        MessagePrintFn print, void *user);

// The working buffers of one writer: a read slice and the room for its
// widest encoding.
struct MimeBuffers {
    std::unique_ptr<char[]> in{new char[MIME_READ_SLICE]};
    std::unique_ptr<char[]> out{new char[MIME_ENCODE_BUF_SIZE]};
};

// A C allocation that returned NULL inside a writer: handled like a failed
// std::bad_alloc, by the guard below.
[[noreturn]] inline void mime_throw_nomem() { throw std::bad_alloc(); }

// Runs body (returning a MIME_* result) so that no exception leaves it:
// memory exhaustion in std::string, std::vector or new becomes
// MIME_FAIL_NOMEM. A MIME_FAIL_NOMEM result is recorded in the session
// (when there is one) for the front end's out-of-memory status.
template <class Body> int mime_guard(MailContext *ctx, Body &&body) noexcept
{
    int result = fence_nomem([&]() -> int { return body(); }, [] { return int(MIME_FAIL_NOMEM); });
    // Also a failure that a writer without the session (a parameter line,
    // a custom field) handed back.
    if (result == MIME_FAIL_NOMEM && ctx && !mail_error_is_nomem(ctx))
        mail_set_nomem(ctx);
    return result;
}
