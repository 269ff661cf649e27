// The SMTP client's connection over the network library: the session's
// settings applied to each new connection, and every failure turned into a
// reason a user can read.
#include "smtp/wire.h"

#include <cstdarg>
#include <cstring>

#include "mail/seam.h"
#include "net/conn.h"
#include "net/tls.h"
#include "smtp/proto.h"
#include "support/fmt.h"
#include "support/str.h"

namespace {

enum : size_t {
    // The receive buffer of a server connection; replies are read in place.
    SMTP_RECV_BUFFER = 10000,
};

// The reason of a connection's last failure, or a fallback.
const char *reason_of(const Connection *c, const char *fallback)
{
    const char *why = ip_error(c);
    return why && *why ? why : fallback;
}

// The connection's trace goes to the session's with the reply masks
// applied: a line that echoes a secret sent shows the mask. A line that
// cannot be masked for want of memory is not shown.
int masked_trace(void *user, int direction, const char *text)
{
    MailContext *ctx = static_cast<MailContext *>(user);
    if (!ctx->trace_fn)
        return 0;
    char *masked = mail_mask_text(ctx, text ? text : "");
    if (!masked)
        return 0;
    int r = ctx->trace_fn(ctx->trace_user, direction, masked);
    str_free_secret(masked);
    return r;
}

} // namespace

void wire_global_init(void)
{
    ip_global_init(mail_full_program);
}

int wire_global_cleanup(void) { return ip_global_cleanup(); }

int wire_new(MailContext *ctx)
{
    Connection *c = ip_new(CONN_TCP, SMTP_RECV_BUFFER, CONN_WAIT);
    if (!c)
        return 0;
    ip_set_family(c, ctx->ip_family);
    if (ctx->trace_fn) {
        c->log_fn = masked_trace;
        c->log_user = ctx;
    }
    // The session's two trace-level bits are the connection's log bits.
    c->flags |= ctx->flags2 & MAILF2_DEBUG_MASK;
    c->line_max = SMTP_REPLY_LINE_MAX;
    if (ctx->timeout > 0)
        ip_set_timeout(c, ctx->timeout);
    ctx->connection = c;
    return 1;
}

int wire_connect(MailContext *ctx, const char *host, int port)
{
    return ctx->connection && ip_connect(ctx->connection, host, static_cast<unsigned>(port));
}

void wire_close(MailContext *ctx)
{
    if (!ctx->connection)
        return;
    ip_close(ctx->connection);
    ip_free(ctx->connection);
    ctx->connection = nullptr;
}

int wire_tls_start(MailContext *ctx, const char **error)
{
    *error = nullptr;
    if (!ctx->connection)
        return 0;
    return ip_tls_start(ctx->connection, 0, error, ctx->server_host, (ctx->flags & MAILF_VERIFY) != 0,
                        ctx->tls_protocols, ctx->tls_ciphers);
}

int wire_tls_active(const MailContext *ctx)
{
    return ctx->connection && ctx->connection->tls != nullptr;
}

int wire_tls_available(void) { return mail_full_program; }

size_t wire_pending(const MailContext *ctx)
{
    return ctx->connection ? ip_pending(ctx->connection) : 0;
}

namespace {

// Longest piece of the early bytes quoted in the reason.
const size_t EARLY_QUOTE_MAX = 80;

// The bytes the server sent that wait unread: in the receive buffer, or
// arrived and not read yet.
size_t waiting(Connection *c)
{
    size_t n = ip_pending(c);
    return n ? n : ip_take_ready(c);
}

// The dialogue ends once it is out of step: no read may take the early
// bytes for the answer to what the client sends next. The reason quotes
// their first line, which is mostly the reply that came too soon.
int out_of_step(Connection *c, const char *format, const char *what)
{
    size_t n = waiting(c);
    if (!n)
        return 0;
    const char *early = c->cursor;
    size_t shown = 0;
    while (shown < n && shown < EARLY_QUOTE_MAX && early[shown] != '\r' && early[shown] != '\n' && early[shown])
        shown++;
    c->read_failed = 1;
    net_fail(c, format, what, static_cast<int>(shown), early);
    return 1;
}

int command_may_go(MailContext *ctx, const char *name)
{
    return ctx->connection &&
           !out_of_step(ctx->connection, "Server sent data before the %s command (%.*s)", name);
}

} // namespace

int wire_in_step(MailContext *ctx, const char *what, const char **reason)
{
    Connection *c = ctx->connection;
    *reason = "Not connected";
    if (!c)
        return 0;
    if (!out_of_step(c, "Server sent data before %s (%.*s)", what))
        return 1;
    *reason = ip_error(c);
    return 0;
}

int wire_reply_waiting(MailContext *ctx) { return ctx->connection && waiting(ctx->connection) != 0; }

int wire_reply_after_write_failure(MailContext *ctx)
{
    if (!ctx->connection)
        return 0;
    ip_read_past_write_failure(ctx->connection);
    return waiting(ctx->connection) != 0;
}

int wire_command(MailContext *ctx, const char *name, const char *format, ...)
{
    if (!command_may_go(ctx, name))
        return 0;
    va_list ap;
    va_start(ap, format);
    int ok = ip_vprintf(ctx->connection, format, ap);
    va_end(ap);
    return ok;
}

int wire_quit(MailContext *ctx)
{
    Connection *c = ctx->connection;
    if (!c)
        return WIRE_QUIT_FAILED;
    // One look, then the command: a look of its own inside the command, as
    // wire_command makes, could find a reply that came in between and end
    // the dialogue with that reply unread.
    if (waiting(c))
        return WIRE_QUIT_REPLY_WAITING;
    return ip_printf(c, "quit\r\n") ? WIRE_QUIT_SENT : WIRE_QUIT_FAILED;
}

int wire_send_secret(MailContext *ctx, const char *name, const char *prefix, const char *secret)
{
    if (!command_may_go(ctx, name))
        return 0;
    unsigned char mask[1] = {0};
    fmt_mask_set(mask, 1, 1);
    return ip_printf_masked(ctx->connection, mask, "%s%s\r\n", prefix, secret);
}

int wire_read_line(MailContext *ctx, const char **line, size_t *len, const char **reason)
{
    Connection *c = ctx->connection;
    if (!c) {
        *reason = "Not connected";
        return 0;
    }
    char *text = ip_read_until(c, "\r\n", 2);
    if (!text) {
        *reason = reason_of(c, "Connection lost");
        return 0;
    }
    *line = text;
    *len = strlen(text);
    return 1;
}

void wire_begin_reply(MailContext *ctx)
{
    if (!ctx->connection)
        return;
    // The commands go out first: the reply's time starts once they are sent.
    ip_flush(ctx->connection);
    ip_start_deadline(ctx->connection, 0);
}

void wire_end_reply(MailContext *ctx)
{
    if (ctx->connection)
        ip_end_deadline(ctx->connection);
}

int wire_sink(void *connection, const char *text, size_t len)
{
    return ip_write_str(connection, text, len);
}

int wire_flush(MailContext *ctx, const char **reason)
{
    if (!ctx->connection) {
        *reason = "Not connected";
        return 0;
    }
    if (ip_flush(ctx->connection))
        return 1;
    *reason = reason_of(ctx->connection, "write failed");
    return 0;
}

char *wire_local_address(MailContext *ctx, char *buf, size_t size, int *ipv6)
{
    if (!ctx->connection || !ip_local_address(ctx->connection, buf, size, nullptr))
        return nullptr;
    *ipv6 = ctx->connection->family == 6;
    return buf;
}

char *wire_peer_address(const MailContext *ctx, char *buf, size_t size)
{
    if (!ctx->connection) {
        if (buf && size)
            buf[0] = '\0';
        return nullptr;
    }
    return ip_peer_address(ctx->connection, buf, size, nullptr);
}

void wire_apply_timeout(MailContext *ctx)
{
    if (ctx->connection)
        ip_set_timeout(ctx->connection, ctx->timeout);
}
