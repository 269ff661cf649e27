// The mail session object: process-wide start-up, creating and freeing a
// session, its callbacks, error text and a few accessors.
#include "mail/session.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "mail/delivery.h"
#include "mail/ident.h"
#include "platform/platform.h"
#include "support/fmt.h"
#include "support/str.h"

// Shown when not even the out-of-memory text can be copied.
static char nomem_text[] = "Out of memory";

int mail_global_init(int flag, int seed)
{
    const MailDelivery *delivery = mail_installed_delivery();
    if (!flag) {
        // Only the network library stops; the mutex and the generator live
        // on for the whole process.
        if (delivery)
            delivery->net_stop();
        return 1;
    }
    mail_random_seed(seed ? static_cast<uint32_t>(seed) : static_cast<uint32_t>(time(nullptr)));
    // The network library starts when the SMTP client installs itself, and
    // again here once it is installed (a second start changes nothing).
    if (delivery)
        delivery->net_start();
    return 1;
}

MailContext *mail_new(void)
{
    MailContext *ctx = new (std::nothrow) MailContext{};
    if (!ctx)
        return nullptr;
    ctx->status_fn = mail_status_default;
    ctx->line_length = 78;
    ctx->mode = MAIL_MODE_SMTP;
    return ctx;
}

int mail_free(MailContext *ctx)
{
    if (!ctx)
        return 0;
    char *texts[] = {
        ctx->charset,       ctx->dsn_envid,        ctx->email_file,       ctx->output_file,
        ctx->from_address,  ctx->from_name,        ctx->return_path,      ctx->helo_name,
        ctx->server_host,   ctx->html_body,        ctx->text_body,        ctx->body_file,
        ctx->proxy_host,    ctx->proxy_user,       ctx->reply_to_address, ctx->reply_to_name,
        ctx->subject,       ctx->tls_ciphers,      ctx->tls_protocols,    ctx->user,
        ctx->mailer,        ctx->boundary_mixed,   ctx->boundary_alternative,
        ctx->boundary_related, ctx->dkim_domain,
    };
    for (char *text : texts)
        free(text);
    if (ctx->error_text != nomem_text)
        free(ctx->error_text);
    str_free_secret(ctx->password);
    str_free_secret(ctx->proxy_password);
    mail_clear_reply_masks(ctx);
    addr_recipient_list_free(&ctx->to);
    addr_recipient_list_free(&ctx->cc);
    addr_recipient_list_free(&ctx->bcc);
    hdr_list_free(&ctx->headers);
    hdr_list_free(&ctx->removed_headers);
    att_list_free(&ctx->attachments);
    delete ctx;
    return 1;
}

// Stores fn in the slot of type when fn's kind matches the slot.
static int set_callback_slot(MailContext *ctx, int type, int kind, void (*fn)(void), void *user)
{
    if (!ctx || type != kind)
        return 0;
    switch (type) {
    case MAILCB_TRACE:
        ctx->trace_fn = reinterpret_cast<MailTraceFn>(fn);
        ctx->trace_user = user;
        return 1;
    case MAILCB_STATUS:
        ctx->status_fn = fn ? reinterpret_cast<MailStatusFn>(fn) : mail_status_default;
        ctx->status_user = user;
        return 1;
    case MAILCB_RECIPIENTS:
        ctx->recipient_fn = reinterpret_cast<MailRecipientFn>(fn);
        ctx->recipient_user = user;
        return 1;
    default:
        return 0;
    }
}

int mail_set_callback(MailContext *ctx, int type, MailTraceFn fn, void *user)
{
    return set_callback_slot(ctx, type, MAILCB_TRACE, reinterpret_cast<void (*)(void)>(fn), user);
}

int mail_set_callback(MailContext *ctx, int type, MailStatusFn fn, void *user)
{
    return set_callback_slot(ctx, type, MAILCB_STATUS, reinterpret_cast<void (*)(void)>(fn),
                             user);
}

int mail_set_callback(MailContext *ctx, int type, MailRecipientFn fn, void *user)
{
    return set_callback_slot(ctx, type, MAILCB_RECIPIENTS, reinterpret_cast<void (*)(void)>(fn),
                             user);
}

int mail_set_callback(MailContext *ctx, int type, decltype(nullptr), void *user)
{
    // A NULL function fits every slot: it removes the callback (the status
    // slot falls back to the default).
    if (type < MAILCB_TRACE || type > MAILCB_RECIPIENTS)
        return 0;
    return set_callback_slot(ctx, type, type, nullptr, user);
}

int mail_status_default(void *, int, int, const char *)
{
    return MAIL_ANSWER_CONTINUE;
}

int mail_set_extra_part(MailContext *ctx, const DataBlob *blob, int level)
{
    if (!ctx)
        return 0;
    const DataBlob *stored = blob && blob->length ? blob : nullptr;
    if (level)
        ctx->extra_related = stored;
    else
        ctx->extra_mixed = stored;
    return 1;
}

namespace {

bool has_reply_masks(const MailContext *ctx)
{
    for (const char *mask : ctx->reply_masks)
        if (mask)
            return true;
    return false;
}

} // namespace

int mail_add_reply_mask(MailContext *ctx, const char *secret, int kind)
{
    if (!ctx || !secret || !*secret)
        return 1;
    char *copy = strdup(secret);
    if (!copy)
        return 0;
    char **slots = ctx->reply_masks;
    int *kinds = ctx->reply_mask_kinds;
    const size_t n = MAIL_REPLY_MASKS_MAX;
    if (slots[n - 1]) {
        str_free_secret(slots[0]);
        memmove(slots, slots + 1, (n - 1) * sizeof *slots);
        memmove(kinds, kinds + 1, (n - 1) * sizeof *kinds);
        slots[n - 1] = nullptr;
    }
    size_t free_slot = 0;
    while (slots[free_slot])
        free_slot++;
    slots[free_slot] = copy;
    kinds[free_slot] = kind;
    return 1;
}

void mail_clear_reply_masks(MailContext *ctx)
{
    for (char *&mask : ctx->reply_masks) {
        str_free_secret(mask);
        mask = nullptr;
    }
}

char *mail_mask_text(const MailContext *ctx, const char *text)
{
    StrSecret secrets[MAIL_REPLY_MASKS_MAX];
    for (size_t i = 0; i < MAIL_REPLY_MASKS_MAX; i++)
        secrets[i] = {ctx->reply_masks[i], ctx->reply_mask_kinds[i]};
    return str_mask_secrets(text, secrets, MAIL_REPLY_MASKS_MAX);
}

void mail_set_error(MailContext *ctx, char *text)
{
    if (!ctx) {
        free(text);
        return;
    }
    if (text && has_reply_masks(ctx)) {
        char *masked = mail_mask_text(ctx, text);
        str_free_secret(text);
        if (!masked) {
            mail_set_nomem(ctx);
            return;
        }
        text = masked;
    }
    if (ctx->error_text != nomem_text)
        free(ctx->error_text);
    ctx->error_text = text;
    ctx->error_nomem = 0;
    ctx->error_system = 0;
}

void mail_set_errorv(MailContext *ctx, const char *format, va_list ap)
{
    if (!ctx)
        return;
    char *text = nullptr;
    char *made = str_vaprintf_masked(&text, nullptr, nullptr, format, ap);
    if (!made) {
        mail_set_nomem(ctx);
        return;
    }
    mail_set_error(ctx, made);
}

void mail_set_system_error(MailContext *ctx, int code, const char *format, ...)
{
    if (!ctx)
        return;
    va_list ap;
    va_start(ap, format);
    char *text = nullptr;
    char *made = str_vaprintf_masked(&text, nullptr, nullptr, format, ap);
    va_end(ap);
    if (!made) {
        mail_set_nomem(ctx);
        return;
    }
    char reason[PLAT_ERROR_TEXT_SIZE] = "";
    if (code)
        plat_error_text(code, reason, sizeof reason);
    mail_set_errorf(ctx, *reason ? "%s: %s" : "%s", made, reason);
    free(made);
    if (!mail_error_is_nomem(ctx))
        ctx->error_system = code;
}

void mail_set_errorf(MailContext *ctx, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    mail_set_errorv(ctx, format, ap);
    va_end(ap);
}

void mail_set_nomem(MailContext *ctx)
{
    if (!ctx)
        return;
    char *copy = strdup(nomem_text);
    if (ctx->error_text != nomem_text)
        free(ctx->error_text);
    ctx->error_text = copy ? copy : nomem_text;
    ctx->error_nomem = 1;
}

int mail_error_is_nomem(const MailContext *ctx)
{
    return ctx && ctx->error_nomem;
}

int mail_report(MailContext *ctx, int stage, int result, const char *text, int honoured)
{
    if (!ctx)
        return MAIL_ANSWER_CONTINUE;
    MailStatusFn fn = ctx->status_fn ? ctx->status_fn : mail_status_default;
    char *masked = text && has_reply_masks(ctx) ? mail_mask_text(ctx, text) : nullptr;
    if (text && has_reply_masks(ctx) && !masked) {
        mail_set_nomem(ctx);
        text = ctx->error_text;
    }
    int answer = fn(ctx->status_user, stage, result, masked ? masked : text ? text : "");
    str_free_secret(masked);
    switch (answer) {
    case MAIL_ANSWER_STOP_RECIPIENTS:
    case MAIL_ANSWER_RESET:
    case MAIL_ANSWER_QUIT:
        return (honoured & answer) ? answer : MAIL_ANSWER_CONTINUE;
    default:
        return MAIL_ANSWER_CONTINUE;
    }
}

const char *mail_last_error(const MailContext *ctx)
{
    return ctx && ctx->error_text ? ctx->error_text : "";
}

void mail_clear_capabilities(MailContext *ctx)
{
    if (!ctx)
        return;
    ctx->flags &= ~uint32_t(MAILF_CAPABILITY_MASK);
    ctx->flags2 &= ~uint32_t(MAILF2_CAPABILITY_MASK);
}

int mail_credentials_complete(const MailContext *ctx)
{
    if (!ctx || !ctx->user)
        return 1;
    if (!*ctx->user)
        return 0;
    return ctx->password && *ctx->password ? 1 : 0;
}

int mail_connection_info(const MailContext *ctx, char *host, char *peer, unsigned short *port,
                         int *info)
{
    if (!ctx)
        return 0;
    int filled = 0;
    if (host) {
        str_copy_bounded(host, ctx->server_host ? ctx->server_host : "", MAIL_HOST_TEXT_SIZE);
        filled++;
    }
    if (peer) {
        peer[0] = 0;
        const MailDelivery *delivery = mail_installed_delivery();
        if ((ctx->flags & MAILF_CONNECTED) && ctx->connection && delivery &&
            delivery->peer_address(ctx, peer, MAIL_HOST_TEXT_SIZE))
            filled++;
    }
    if (port)
        *port = static_cast<unsigned short>(ctx->port);
    if (info) {
        int bits = 0;
        if (ctx->flags & MAILF_ESMTP)
            bits |= 1;
        if (ctx->flags & MAILF_STARTTLS_NOW)
            bits |= 2;
        if (ctx->flags & MAILF_SMTPS)
            bits |= 4;
        *info = bits;
    }
    return filled;
}
