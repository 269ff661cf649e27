// The SMTP client behind the session actions (mail/delivery.h). Memory that
// runs out inside the dialogue ends the stage like a lost connection, with
// the out-of-memory mark the front end turns into its status.
#include <new>

#include "mail/delivery.h"
#include "smtp/smtp.h"
#include "smtp/wire.h"

namespace {

// Runs one stage; an exhausted heap closes the connection and fails it.
template <class Stage>
int guarded(MailContext *ctx, Stage stage)
{
    try {
        return stage();
    } catch (const std::bad_alloc &) {
        mail_set_nomem(ctx);
        wire_close(ctx);
        ctx->flags &= ~uint32_t(MAILF_CONNECTED);
        return 0;
    }
}

int connect_and_login(MailContext *ctx)
{
    return guarded(ctx, [ctx] { return smtp_connect_and_login(ctx); });
}

int send_message(MailContext *ctx)
{
    return guarded(ctx, [ctx] { return smtp_send_message(ctx); });
}

int quit(MailContext *ctx, int result)
{
    return guarded(ctx, [ctx, result] { return smtp_quit(ctx, result); });
}

int drop_connection(MailContext *ctx)
{
    return guarded(ctx, [ctx] { return smtp_drop_connection(ctx); });
}

const MailDelivery smtp_delivery = {
    connect_and_login, send_message, quit, drop_connection, wire_apply_timeout,
};

} // namespace

void smtp_install(void)
{
    wire_global_init();
    mail_set_delivery(&smtp_delivery);
}
