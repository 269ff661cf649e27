// File mode: the composed message written into the output file, exactly as
// SMTP DATA would carry it (without the final "."). A file that could not be
// written completely is removed, so no caller takes a partial message for a
// whole one.
#include "mail/writer.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "support/dotstuff.h"
#include "support/file.h"

int mime_write_to_file(MailContext *ctx)
{
    // Lines that begin with "." are doubled in the file only when asked for.
    if (ctx->flags & MAILF_DOT_STUFF_FILE)
        ctx->flags |= MAILF_DOT_STUFF;
    else
        ctx->flags &= ~MAILF_DOT_STUFF;

    FILE *fp = ctx->output_file ? file_fopen_utf8(ctx->output_file, "wb") : nullptr;
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
    if (result == MIME_OK && (ms.failed || ferror(fp)))
        result = MIME_FAIL_WRITE;
    if (fclose(fp) != 0 && result == MIME_OK)
        result = MIME_FAIL_WRITE;
    if (result != MIME_OK) {
        if (result == MIME_FAIL_WRITE)
            mail_set_error(ctx, strdup((std::string("Failed to write output file (") + ctx->output_file + ")").c_str()));
        unlink(ctx->output_file);
    }
    return result;
}
