// File mode: the composed message written into the output file, exactly as
// SMTP DATA would carry it (without the final "."). The message goes into a
// new file beside the target, which replaces the target only once it holds
// the whole message: the output file is the whole new message or, after
// any failure, whatever it was before.
#include "mail/writer.h"
#include "mail/mimeout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mail/lists.h"
#include "platform/platform.h"
#include "support/dotstuff.h"
#include "support/file.h"

namespace {

// The attachment file that is target itself, or NULL. The new file would
// take its place: the attachment the user still has would be lost.
const char *attachment_that_is(MailContext *ctx, const char *target)
{
    for (Attachment *a = att_first(ctx->attachments); a; a = att_next(a))
        if (plat_same_file(a->path, target))
            return a->path;
    return nullptr;
}

// The input file that is the output file itself, or NULL. Writing into a
// file while reading it would attach a truncated (or endlessly growing)
// copy of the message.
const char *input_that_is_output(MailContext *ctx)
{
    if (ctx->html_body && (ctx->flags & MAILF_HTML_FROM_FILE) && plat_same_file(ctx->html_body, ctx->output_file))
        return ctx->html_body;
    if (const char *a = attachment_that_is(ctx, ctx->output_file))
        return a;
    if (ctx->email_file && plat_same_file(ctx->email_file, ctx->output_file))
        return ctx->email_file;
    // The body was read already, but the file it came from is the user's
    // own text: the message must not take its place.
    if (ctx->body_file && plat_same_file(ctx->body_file, ctx->output_file))
        return ctx->body_file;
    return nullptr;
}

// Room for the name of the file made beside the target: its folder, a dot,
// its name, and a process and serial number.
const size_t kTempNameExtra = 64;

// Prints into the open file fp through the session's dot-stuffing choice
// for files.
struct FileOut {
    DotStuffSink stuff;
    MsgSink ms;

    FileOut(MailContext *ctx, FILE *fp)
    {
        if (ctx->flags & MAILF_DOT_STUFF) {
            dotstuff_init(&stuff, fmt_file_sink, fp);
            msg_sink_init(&ms, dotstuff_sink, &stuff);
        } else {
            msg_sink_init(&ms, fmt_file_sink, fp);
        }
    }
};

// Lines that begin with "." are doubled in files only when asked for.
void choose_file_stuffing(MailContext *ctx)
{
    if (ctx->flags & MAILF_DOT_STUFF_FILE)
        ctx->flags |= MAILF_DOT_STUFF;
    else
        ctx->flags &= ~MAILF_DOT_STUFF;
}

// Runs write(FILE *) -> MIME_* result on a stream over fd (which it then
// owns and closes) with a large buffer, and keeps the first failure of
// writing and closing. MIME_FAIL_OPEN when no stream could be made.
template <class Write> int write_through(int fd, Write &&write)
{
    FILE *fp = plat_fdopen(fd, "wb");
    if (!fp) {
        plat_close(fd);
        return MIME_FAIL_OPEN;
    }
    // Large writes: the writers hand over big pieces, stdio need not copy.
    setvbuf(fp, nullptr, _IOFBF, 256 * 1024);
    int result = write(fp);
    if (result == MIME_OK && ferror(fp))
        result = MIME_FAIL_WRITE;
    if (fclose(fp) != 0 && result == MIME_OK)
        result = MIME_FAIL_WRITE;
    return result;
}

// MIME_FAIL_OPEN, with the system's reason for the failure just met in
// *error.
int open_failed(int *error)
{
    *error = plat_last_error();
    return MIME_FAIL_OPEN;
}

// A heap text freed when it goes.
struct HeapText {
    char *text = nullptr;
    ~HeapText() { free(text); }
};

// How the message reaches its target, chosen before anything is written.
enum OutputWay {
    // A pipe or a device: written through as it stands, as it cannot be
    // replaced.
    WAY_STREAM,
    // A new file beside the file the target names (a link is followed and
    // stays a link), written through the descriptor that created it and
    // renamed over that file only once the writer succeeded and the file
    // was closed whole. On any failure, and on a signal that ends the
    // process while it is written (an interrupt, SIGTERM, SIGHUP, ...),
    // the new file is removed and an earlier file of that name stays as it
    // was.
    WAY_REPLACE,
    // The existing file itself, emptied and then written: for a file the
    // caller may write in a folder where he may not make the new file or
    // put it in the old one's place (a shared folder such as /tmp lets him
    // make files but not replace those of others). The price: the earlier
    // content is gone from the moment the file is emptied, so a failure (a
    // write error, an unreadable attachment, an interrupt or another signal
    // that ends the run) cannot bring it back; the file is then left empty
    // rather than holding part of a message that could pass for a whole
    // one. Other names (hard links) of the file see the new content too, as
    // with any write.
    WAY_IN_PLACE,
};

// The target of one write, open and guarded: the way, the names and the
// descriptors it needs.
struct Output {
    int way = WAY_STREAM;
    HeapText file;    // WAY_REPLACE, WAY_IN_PLACE: the file the target leads to
    HeapText tmp;     // WAY_REPLACE: the new file's name
    int fd = -1;      // what the writer writes through (write_through owns it)
    int keep = -1;    // WAY_IN_PLACE: a second descriptor of the file, to empty it
    bool guarded = false; // the signal guard is held or set for this output
    ~Output()
    {
        if (keep >= 0)
            plat_close(keep);
    }
};

// Opens the existing file out->file in place (WAY_IN_PLACE), with the
// signals held until the guard that empties it on a signal is set.
int open_in_place(Output *out, int *error)
{
    out->way = WAY_IN_PLACE;
    plat_signal_guard_hold();
    out->guarded = true;
    out->fd = plat_open(out->file.text, PLAT_OPEN_REWRITE);
    out->keep = out->fd >= 0 ? plat_dup(out->fd) : -1;
    if (out->keep < 0) {
        int result = open_failed(error);
        if (out->fd >= 0)
            plat_close(out->fd);
        out->fd = -1;
        return result;
    }
    plat_signal_guard_set(nullptr, out->keep);
    return MIME_OK;
}

// Chooses the way to target and opens it, guarded against signals where
// a file is made or emptied. An earlier file the caller may not write is
// not replaced: writing it would have been refused. One he may write in a
// folder where no new file can be made, or where it cannot take the old
// one's name, is written in place. MIME_OK, or the failure (MIME_FAIL_OPEN
// when no file could be made or opened, the system's reason in *error).
int open_output(MailContext *ctx, const char *target, Output *out, int *error)
{
    switch (plat_target_kind(target)) {
    case PLAT_TARGET_OTHER:
        return open_failed(error);
    case PLAT_TARGET_STREAM:
        out->way = WAY_STREAM;
        out->fd = plat_open_in_place(target);
        return out->fd >= 0 ? MIME_OK : open_failed(error);
    default:
        break;
    }
    int followed = plat_follow_links(target, &out->file.text);
    if (followed <= 0) {
        if (followed < 0) {
            mail_set_nomem(ctx);
            return MIME_FAIL_NOMEM;
        }
        return open_failed(error);
    }
    int writable = plat_may_write(out->file.text);
    if (writable < 0)
        return open_failed(error);
    if (writable > 0 && !plat_may_replace(out->file.text))
        return open_in_place(out, error);
    out->way = WAY_REPLACE;
    size_t tmp_size = strlen(out->file.text) + kTempNameExtra;
    out->tmp.text = static_cast<char *>(malloc(tmp_size));
    if (!out->tmp.text) {
        mail_set_nomem(ctx);
        return MIME_FAIL_NOMEM;
    }
    // No signal may come between making the new file and guarding it.
    plat_signal_guard_hold();
    out->guarded = true;
    out->fd = plat_open_temp_beside(out->file.text, out->tmp.text, tmp_size);
    if (out->fd < 0) {
        int result = open_failed(error);
        // Nothing is made yet: a signal held so far ends the run with the
        // target untouched.
        plat_signal_guard_clear();
        out->guarded = false;
        bool folder_refused = writable > 0 && plat_error_is_permission(*error);
        return folder_refused ? open_in_place(out, error) : result;
    }
    plat_signal_guard_set(out->tmp.text, -1);
    return MIME_OK;
}

// Ends the write to out with the writer's result: a new file takes the
// target's place when the write succeeded and is removed when it did not,
// a file written in place is emptied after a failure; the guard ends.
// The result, or MIME_FAIL_WRITE when the new file could not take the
// target's place.
int close_output(Output *out, int result)
{
    if (out->way == WAY_REPLACE) {
        if (result == MIME_OK && !plat_rename(out->tmp.text, out->file.text))
            result = MIME_FAIL_WRITE;
        if (result != MIME_OK)
            plat_remove(out->tmp.text);
    } else if (out->way == WAY_IN_PLACE && result != MIME_OK) {
        plat_truncate_fd(out->keep);
    }
    if (out->guarded)
        plat_signal_guard_clear();
    return result;
}

// Writes target through write(FILE *) -> MIME_* result, the way chosen
// for it (OutputWay) before anything is written. MIME_OK or the failure
// (MIME_FAIL_OPEN when no file could be made or opened, the system's
// reason in *error).
template <class Write> int write_file_whole(MailContext *ctx, const char *target, int *error, Write &&write)
{
    Output out;
    int opened = open_output(ctx, target, &out, error);
    if (opened != MIME_OK) {
        if (out.guarded)
            plat_signal_guard_clear();
        return opened;
    }
    return close_output(&out, write_through(out.fd, write));
}

// Whether output may go to target: a folder, a socket or a block device of
// that name is never written or replaced. When not, the system's reason
// goes into *error.
bool replaceable_target(const char *target, int *error)
{
    if (plat_target_kind(target) != PLAT_TARGET_OTHER)
        return true;
    *error = plat_last_error();
    return false;
}

// "Failed to open output file (<name>): <the system's reason>".
void set_open_failure(MailContext *ctx, const char *name, int error)
{
    char why[PLAT_ERROR_TEXT_SIZE];
    mail_set_errorf(ctx, "Failed to open output file (%s): %s", name, plat_error_text(error, why, sizeof why));
}

// 1 when both preset boundaries that frame attachment parts are set.
bool part_boundaries_set(const MailContext *ctx)
{
    return ctx->boundary_mixed && ctx->boundary_related;
}

} // namespace

int mime_write_to_file(MailContext *ctx)
{
    choose_file_stuffing(ctx);
    if (!ctx->output_file) {
        mail_set_errorf(ctx, "Failed to open output file");
        return MIME_FAIL_OPEN;
    }
    // Settings that cannot make a message fail before any file is made.
    if (!mime_check_message(ctx))
        return MIME_FAIL_INPUT;
    int error = 0;
    if (!replaceable_target(ctx->output_file, &error)) {
        set_open_failure(ctx, ctx->output_file, error);
        return MIME_FAIL_OPEN;
    }
    if (ctx->email_file) {
        int checked = mime_check_preconstructed(ctx);
        if (checked != MIME_OK)
            return checked;
    }
    if (const char *input = input_that_is_output(ctx)) {
        mail_set_errorf(ctx, "Output file is also an input file (%s)", input);
        return MIME_FAIL_INPUT;
    }
    int result = write_file_whole(ctx, ctx->output_file, &error, [ctx](FILE *fp) {
        FileOut out(ctx, fp);
        int written = ctx->email_file ? mime_write_preconstructed(ctx, msg_printf, &out.ms)
                                      : mime_write_message(ctx, msg_printf, &out.ms);
        return written == MIME_OK && out.ms.failed ? MIME_FAIL_WRITE : written;
    });
    if (result == MIME_FAIL_OPEN)
        set_open_failure(ctx, ctx->output_file, error);
    else if (result == MIME_FAIL_WRITE)
        mail_set_errorf(ctx, "Failed to write output file (%s)", ctx->output_file);
    return result;
}

int mime_write_attachment_parts(MailContext *ctx, int inline_parts, FILE *out)
{
    if (!part_boundaries_set(ctx))
        return 0;
    choose_file_stuffing(ctx);
    FileOut file(ctx, out);
    int status;
    int count = mime_write_parts(ctx, inline_parts, inline_parts ? ctx->boundary_related : ctx->boundary_mixed,
                                 msg_printf, &file.ms, &status);
    if (status == MIME_OK && (file.ms.failed || fflush(out) != 0 || ferror(out)))
        status = MIME_FAIL_WRITE;
    if (status == MIME_FAIL_WRITE)
        mail_set_errorf(ctx, "Failed to write attachment parts");
    return status == MIME_OK ? count : -1;
}

int mime_save_attachment_parts(MailContext *ctx, int inline_parts, const char *path)
{
    if (!part_boundaries_set(ctx))
        return 0;
    int error = 0;
    if (!replaceable_target(path, &error)) {
        set_open_failure(ctx, path, error);
        return -1;
    }
    if (const char *input = attachment_that_is(ctx, path)) {
        mail_set_errorf(ctx, "Output file is also an input file (%s)", input);
        return -1;
    }
    int count = 0;
    int result = write_file_whole(ctx, path, &error, [&](FILE *fp) {
        count = mime_write_attachment_parts(ctx, inline_parts, fp);
        // No parts, or a file that could not be opened: no file is left.
        return count > 0 ? MIME_OK : MIME_FAIL_INPUT;
    });
    if (result == MIME_OK)
        return count;
    // Nothing to write, or an attachment that could not be opened (already
    // reported): the result of the parts, and no file is left.
    if (result == MIME_FAIL_INPUT && count <= 0)
        return count;
    if (result == MIME_FAIL_OPEN)
        set_open_failure(ctx, path, error);
    else if (result == MIME_FAIL_WRITE)
        mail_set_errorf(ctx, "Failed to write output file (%s)", path);
    return -1;
}
