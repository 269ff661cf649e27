// File mode: the composed message written into the output file, exactly as
// SMTP DATA would carry it (without the final "."). The message goes into a
// new file beside the target, which replaces the target only once it holds
// the whole message: the output file is the whole new message or, after
// any failure, whatever it was before.
#include "mail/writer.h"
#include "mail/writeout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mail/list.h"
#include "platform/platform.h"
#include "support/dotstuff.h"
#include "support/file.h"

namespace {

// The input file that is the output file itself, or NULL. Writing into a
// file while reading it would attach a truncated (or endlessly growing)
// copy of the message.
const char *input_that_is_output(MailContext *ctx)
{
    if (ctx->html_body && (ctx->flags & MAILF_HTML_FROM_FILE) && plat_same_file(ctx->html_body, ctx->output_file))
        return ctx->html_body;
    for (Attachment *a = att_first(ctx->attachments); a; a = att_next(a))
        if (plat_same_file(a->path, ctx->output_file))
            return a->path;
    if (ctx->email_file && plat_same_file(ctx->email_file, ctx->output_file))
        return ctx->email_file;
    return nullptr;
}

// Room for the name of the file made beside the target: its folder, a dot,
// its name, and a process and serial number.
const size_t kTempNameExtra = 64;

// The message into the open file fp; MIME_OK or the failure. A write that
// the system refuses (a full disk, the file-size limit) fails the sink.
int write_into(MailContext *ctx, FILE *fp)
{
    // Large writes: the writers hand over big pieces, stdio need not copy.
    setvbuf(fp, nullptr, _IOFBF, 256 * 1024);
    DotStuffSink stuff;
    MsgSink ms;
    if (ctx->flags & MAILF_DOT_STUFF) {
        dotstuff_init(&stuff, fmt_file_sink, fp);
        msg_sink_init(&ms, dotstuff_sink, &stuff);
    } else {
        msg_sink_init(&ms, fmt_file_sink, fp);
    }
    int result = ctx->email_file ? mime_write_preconstructed(ctx, msg_printf, &ms)
                                 : mime_write_message(ctx, msg_printf, &ms);
    if (result == MIME_OK && (ms.failed || ferror(fp)))
        result = MIME_FAIL_WRITE;
    return result;
}

} // namespace

int mime_write_to_file(MailContext *ctx)
{
    // Lines that begin with "." are doubled in the file only when asked for.
    if (ctx->flags & MAILF_DOT_STUFF_FILE)
        ctx->flags |= MAILF_DOT_STUFF;
    else
        ctx->flags &= ~MAILF_DOT_STUFF;

    if (!ctx->output_file) {
        mail_set_errorf(ctx, "Failed to open output file");
        return MIME_FAIL_OPEN;
    }
    // Settings that cannot make a message fail before any file is made.
    if (!mime_check_message(ctx))
        return MIME_FAIL_INPUT;
    // A folder, a pipe or a device of that name is never replaced.
    if (plat_path_info(ctx->output_file, nullptr) && !plat_file_exists(ctx->output_file)) {
        mail_set_errorf(ctx, "Failed to open output file");
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

    size_t tmp_size = strlen(ctx->output_file) + kTempNameExtra;
    char *tmp = static_cast<char *>(malloc(tmp_size));
    if (!tmp) {
        mail_set_nomem(ctx);
        return MIME_FAIL_NOMEM;
    }
    int fd = plat_open_temp_beside(ctx->output_file, tmp, tmp_size);
    // The new file is written through stdio under its own name.
    FILE *fp = fd >= 0 ? file_fopen_utf8(tmp, "wb") : nullptr;
    if (fd >= 0)
        plat_close(fd);
    if (!fp) {
        if (fd >= 0)
            plat_remove(tmp);
        free(tmp);
        mail_set_errorf(ctx, "Failed to open output file");
        return MIME_FAIL_OPEN;
    }

    int result = write_into(ctx, fp);
    if (fclose(fp) != 0 && result == MIME_OK)
        result = MIME_FAIL_WRITE;
    if (result == MIME_OK && !plat_rename(tmp, ctx->output_file))
        result = MIME_FAIL_WRITE;
    if (result != MIME_OK) {
        plat_remove(tmp);
        if (result == MIME_FAIL_WRITE)
            mail_set_errorf(ctx, "Failed to write output file (%s)", ctx->output_file);
    }
    free(tmp);
    return result;
}
