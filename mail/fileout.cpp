// File mode: the composed message written into the output file, exactly as
// SMTP DATA would carry it (without the final "."). A file that could not be
// written completely is removed, so no caller takes a partial message for a
// whole one.
#include "mail/writer.h"

#include <cstdio>
#include <cstring>
#include <string>

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
    return nullptr;
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
        mail_set_error(ctx, strdup("Failed to open output file"));
        return MIME_FAIL_OPEN;
    }
    // Settings that cannot make a message fail before the file is touched,
    // so an existing file of that name is not truncated for nothing.
    if (!mime_check_message(ctx))
        return MIME_FAIL_INPUT;
    if (const char *input = input_that_is_output(ctx)) {
        mail_set_error(ctx, strdup((std::string("Output file is also an input file (") + input + ")").c_str()));
        return MIME_FAIL_INPUT;
    }

    FILE *fp = file_fopen_utf8(ctx->output_file, "wb");
    if (!fp) {
        mail_set_error(ctx, strdup("Failed to open output file"));
        return MIME_FAIL_OPEN;
    }
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
    int result = mime_write_message(ctx, msg_printf, &ms);
    // A refused piece makes the rest of the writing a no-op; the failure
    // found here is the one that counts.
    if (result != MIME_FAIL_READ && result != MIME_FAIL_INPUT && (ms.failed || ferror(fp)))
        result = MIME_FAIL_WRITE;
    if (fclose(fp) != 0 && result == MIME_OK)
        result = MIME_FAIL_WRITE;
    if (result != MIME_OK) {
        if (result == MIME_FAIL_WRITE)
            mail_set_error(ctx, strdup((std::string("Failed to write output file (") + ctx->output_file + ")").c_str()));
        plat_remove(ctx->output_file);
    }
    return result;
}
