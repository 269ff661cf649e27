// Connect and log in: the route to the server, implicit TLS, the greeting,
// EHLO (HELO after a 500), STARTTLS and AUTH, each stage with its one status
// report.
#include <cstring>
#include <new>
#include <string>

#include "mail/option.h"
#include "mail/sasl.h"
#include "net/proxy.h"
#include "smtp/internal.h"
#include "smtp/smtp.h"
#include "smtp/wire.h"
#include "support/fmt.h"

namespace {

enum {
    SMTP_PORT = 25,
    SMTPS_PORT = 465,
    HTTPS_PROXY_PORT = 8080,
    SOCKS_PROXY_PORT = 1080,
    // RFC 4954: the longest AUTH command line a server must take, CR LF
    // included. A longer initial response goes on a line of its own.
    SMTP_AUTH_LINE_MAX = 12288,
};

// A secret about to go out: from now on a reply that echoes it (a refusal
// that quotes the AUTH line, a trace line) shows the mask instead. Memory
// that runs out ends the stage through its fence.
void mask_in_replies(MailContext *ctx, const char *secret, int kind)
{
    if (!mail_add_reply_mask(ctx, secret, kind))
        throw std::bad_alloc();
}

// A login about to go out: the password, and "user:password" in base64,
// which a proxy's Basic login sends and a server may quote.
void mask_login(MailContext *ctx, const char *user, const char *password)
{
    if (!password || !*password)
        return;
    mask_in_replies(ctx, password, STR_SECRET_PASSWORD);
    SecretText basic;
    if (!proxy_basic_credentials(user, password, &basic))
        throw std::bad_alloc();
    mask_in_replies(ctx, basic.data(), STR_SECRET_SENT);
}

// A failure before there is a dialogue: the message is the error text and
// the one (CONNECT, FATAL) report; no connection is left.
int connect_failed(MailContext *ctx)
{
    mail_report(ctx, MAIL_STAGE_CONNECT, MAIL_RESULT_FATAL, ctx->error_text);
    wire_close(ctx);
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);
    return 0;
}

// Why the connect failed (refused, unreachable, timed out, a name that
// does not resolve), as the network library tells it.
const char *route_failure(const MailContext *ctx)
{
    const char *why = ip_error(ctx->connection);
    return *why ? why : "connect failed";
}

// TCP to the server, directly or through a proxy tunnel. A proxy with
// empty credentials counts as one without: no login is offered to it.
int open_route(MailContext *ctx)
{
    if (!ctx->proxy_host) {
        if (!wire_connect(ctx, ctx->server_host, ctx->port)) {
            mail_set_errorf(ctx, "Could not connect to [%s]:%d (%s)", ctx->server_host, ctx->port,
                            route_failure(ctx));
            return 0;
        }
        return 1;
    }
    const bool https = ctx->proxy_type == MAIL_PROXY_HTTPS;
    const char *kind = https ? "HTTPS" : "SOCKS";
    if (!ctx->proxy_port)
        ctx->proxy_port = https ? HTTPS_PROXY_PORT : SOCKS_PROXY_PORT;
    if (ctx->proxy_port < 0 || ctx->proxy_port > MAIL_PORT_MAX || ctx->port <= 0 ||
        ctx->port > MAIL_PORT_MAX) {
        mail_set_errorf(ctx, "Could not connect to %s proxy [%s]:%d (port out of range)", kind,
                        ctx->proxy_host, ctx->proxy_port);
        return 0;
    }
    if (!wire_connect(ctx, ctx->proxy_host, ctx->proxy_port)) {
        mail_set_errorf(ctx, "Could not connect to %s proxy [%s]:%d (%s)", kind, ctx->proxy_host,
                        ctx->proxy_port, route_failure(ctx));
        return 0;
    }
    Connection *c = ctx->connection;
    const bool login = (ctx->proxy_user && *ctx->proxy_user) ||
                       (ctx->proxy_password && *ctx->proxy_password);
    const char *user = login ? (ctx->proxy_user ? ctx->proxy_user : "") : nullptr;
    // A proxy's answer may quote the credentials it was given.
    if (login)
        mask_login(ctx, user, ctx->proxy_password);
    const unsigned port = static_cast<unsigned>(ctx->port);
    int ok = https ? proxy_https_connect(c, ctx->server_host, port, user, ctx->proxy_password,
                                         ctx->mailer)
                   : proxy_socks5_connect(c, ctx->server_host, port, user, ctx->proxy_password);
    // Bytes the proxy sent beyond its answer came in clear; inside implicit
    // TLS they would be taken for protected data.
    if (ok && (ctx->flags & MAILF_SMTPS) && ip_pending(c)) {
        net_fail(c, "proxy sent data after its answer");
        ok = 0;
    }
    if (!ok) {
        mail_set_errorf(ctx, "Could not connect to [%s]:%d via %s proxy (%s)", ctx->server_host,
                        ctx->port, kind, ip_error(c));
        return 0;
    }
    return 1;
}

// TLS on the connection. A failure leaves only the TLS layer's text as the
// error text and no connection; it is not reported.
int start_tls(MailContext *ctx)
{
    const char *error = nullptr;
    if (wire_tls_start(ctx, &error))
        return 1;
    smtp_set_error_text(ctx, error ? error : "TLS handshake failed");
    wire_close(ctx);
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);
    return 0;
}

// EHLO, and HELO when EHLO is answered 500. 1 on success; 0 after a
// failure, which is handled here (dropped, or reported and quietly quit).
int greet(MailContext *ctx)
{
    const char *line = nullptr;
    int code = smtp_ehlo(ctx, 1, &line);
    if (code == 500 && ctx->connection)
        code = smtp_ehlo(ctx, 0, &line);
    if (code == 250)
        return 1;
    if (!ctx->connection)
        return 0; // lost: smtp_ehlo made the one report
    ctx->failing_code = static_cast<uint32_t>(code);
    return smtp_step_failed(ctx, {MAIL_STAGE_EHLO, MAIL_RESULT_FATAL, SMTP_THEN_QUIET_QUIT}, line);
}

// The server's greeting. 1 when it is 220; after a refusal the report is
// made and the connection stays for the caller's QUIT.
int read_greeting(MailContext *ctx)
{
    const char *line = nullptr;
    if (smtp_read_reply_expect(ctx, 220, &line))
        return 1;
    return smtp_step_failed(ctx, {MAIL_STAGE_CONNECT, MAIL_RESULT_FATAL, SMTP_THEN_STAY}, line);
}

// A report whose QUIT answer ends the session. 1 to go on.
int report_or_quit(MailContext *ctx, int stage, int result, const char *text)
{
    if (mail_report(ctx, stage, result, text, MAIL_ANSWER_QUIT) == MAIL_ANSWER_QUIT) {
        smtp_quit(ctx, MAIL_RESULT_OK);
        return 0;
    }
    return 1;
}

// The STARTTLS stage. 1 to go on (in TLS, or in clear when the server
// refused and TLS was only asked for); 0 when the session ended.
int starttls(MailContext *ctx)
{
    const SmtpFailure failed = {MAIL_STAGE_STARTTLS, MAIL_RESULT_FATAL, SMTP_THEN_QUIET_QUIT};
    if (!(ctx->flags & MAILF_STARTTLS_NOW)) {
        if ((ctx->flags & MAILF_STARTTLS_REQUIRED) && !wire_tls_active(ctx)) {
            mail_set_errorf(ctx, "Server did not indicate support for STARTTLS in EHLO");
            return smtp_step_failed(ctx, failed, nullptr);
        }
        return 1;
    }
    wire_command(ctx, "STARTTLS", "starttls\r\n");
    const char *line = nullptr;
    if (smtp_read_reply_expect(ctx, 220, &line)) {
        // RFC 3207: nothing may follow the 220 before the handshake. Bytes
        // that did were sent in clear and could be taken for replies inside
        // TLS (a planted answer); the dialogue ends instead.
        if (wire_pending(ctx)) {
            mail_set_errorf(ctx, "Server sent data after its reply to STARTTLS");
            return smtp_drop_connection(ctx);
        }
        if (!start_tls(ctx))
            return 0;
        if (!report_or_quit(ctx, MAIL_STAGE_STARTTLS, MAIL_RESULT_OK, nullptr))
            return 0;
        if (!greet(ctx))
            return 0;
        return report_or_quit(ctx, MAIL_STAGE_EHLO, MAIL_RESULT_OK, nullptr);
    }
    // Refused: a lost connection or a refusal of required TLS ends the
    // session.
    if (!(ctx->flags & MAILF_CONNECTED) || (ctx->flags & MAILF_STARTTLS_REQUIRED))
        return smtp_step_failed(ctx, failed, line);
    mail_set_errorf(ctx, "STARTTLS not accepted (%s)", line ? line : "");
    // Chosen here because the login needs TLS: in clear it could only fail
    // for want of a mechanism, which would hide the refusal. The session
    // ends with it, as a refusal of required TLS does.
    if (!(ctx->flags & MAILF_STARTTLS))
        return smtp_step_failed(ctx, failed, nullptr);
    // Only asked for: the dialogue goes on in clear.
    if (!report_or_quit(ctx, MAIL_STAGE_STARTTLS, MAIL_RESULT_FAILED, ctx->error_text))
        return 0;
    ctx->flags &= ~uint32_t(MAILF_STARTTLS_NOW);
    return 1;
}

// ---- AUTH ------------------------------------------------------------------------
// The verb is written in lower case like every command; the mechanism name as
// RFC 4954's grammar spells it, in upper case, since servers may compare it
// exactly.

enum {
    AUTH_DONE = SMTP_GO_ON,      // the exchange ended as it should
    AUTH_REFUSED = SMTP_STOPPED, // the server answered otherwise (its code in failing_code)
    AUTH_LOST = SMTP_LOST,       // no reply came (MAILF_CONNECTED cleared)
};

// Reads one reply and compares its code.
int expect(MailContext *ctx, int code, SmtpReply *r)
{
    if (!smtp_read_reply(ctx, r))
        return AUTH_LOST;
    if (r->code == code)
        return AUTH_DONE;
    ctx->failing_code = static_cast<uint32_t>(r->code);
    return AUTH_REFUSED;
}

// "auth <mechanism> <response>", or, when that line would be longer than a
// server must take, "auth <mechanism>", its empty 334 challenge and the
// response on a line of its own. Reads the reply to the response.
int send_initial(MailContext *ctx, const char *mechanism, const SecretText &response, SmtpReply *r)
{
    std::string command = std::string("auth ") + mechanism;
    mask_in_replies(ctx, response.data(), STR_SECRET_SENT);
    if (command.size() + 1 + response.size() + 2 <= SMTP_AUTH_LINE_MAX) {
        wire_send_secret(ctx, "AUTH", (command + " ").c_str(), response.data());
    } else {
        wire_command(ctx, "AUTH", "%s\r\n", command.c_str());
        int got = expect(ctx, 334, r);
        if (got != AUTH_DONE)
            return got;
        wire_send_secret(ctx, "AUTH", "", response.data());
    }
    return expect(ctx, 235, r);
}

// After a 334 the server waits for a response: "*" cancels the exchange
// (RFC 4954) and keeps the dialogue in step.
int cancel(MailContext *ctx, SmtpReply *r)
{
    wire_command(ctx, "AUTH", "*\r\n");
    if (!smtp_read_reply(ctx, r))
        return AUTH_LOST;
    ctx->failing_code = static_cast<uint32_t>(r->code);
    return AUTH_REFUSED;
}

int auth_oauthbearer(MailContext *ctx, SmtpReply *r, const char **reason)
{
    // A response that would not be framed as written never goes out: the
    // exchange fails before its first line.
    SecretText response;
    if (!smtp_sasl_oauthbearer(ctx->user, ctx->password ? ctx->password : "", &response, reason))
        return AUTH_REFUSED;
    int got = send_initial(ctx, "OAUTHBEARER", response, r);
    response.clear();
    if (got == AUTH_REFUSED && r->code == 334) {
        // The server's error challenge (RFC 7628 3.2.3): answer with a
        // single 0x01 and take its final reply, whatever its code.
        wire_command(ctx, "AUTH", "AQ==\r\n");
        if (!smtp_read_reply(ctx, r))
            return AUTH_LOST;
        ctx->failing_code = static_cast<uint32_t>(r->code);
        return AUTH_REFUSED;
    }
    return got;
}

int auth_cram_md5(MailContext *ctx, SmtpReply *r, const char **reason)
{
    wire_command(ctx, "AUTH", "auth CRAM-MD5\r\n");
    int got = expect(ctx, 334, r);
    if (got != AUTH_DONE)
        return got;
    size_t len = strlen(r->line);
    if (len <= 4) {
        *reason = "empty challenge";
        return cancel(ctx, r);
    }
    SecretText response;
    if (!smtp_sasl_cram_md5(ctx->user, ctx->password ? ctx->password : "", r->line + 4, len - 4,
                            &response, reason))
        return cancel(ctx, r);
    mask_in_replies(ctx, response.data(), STR_SECRET_SENT);
    wire_send_secret(ctx, "AUTH", "", response.data());
    response.clear();
    return expect(ctx, 235, r);
}

int auth_plain(MailContext *ctx, SmtpReply *r, const char **)
{
    SecretText response;
    smtp_sasl_plain(ctx->user, ctx->password ? ctx->password : "", &response);
    return send_initial(ctx, "PLAIN", response, r);
}

int auth_login(MailContext *ctx, SmtpReply *r, const char **)
{
    wire_command(ctx, "AUTH", "auth LOGIN\r\n");
    int got = expect(ctx, 334, r);
    if (got != AUTH_DONE)
        return got;
    SecretText text;
    smtp_sasl_base64(ctx->user, strlen(ctx->user), &text);
    wire_command(ctx, "AUTH", "%s\r\n", text.data());
    got = expect(ctx, 334, r);
    if (got != AUTH_DONE)
        return got;
    const char *password = ctx->password ? ctx->password : "";
    smtp_sasl_base64(password, strlen(password), &text);
    mask_in_replies(ctx, text.data(), STR_SECRET_SENT);
    wire_send_secret(ctx, "AUTH", "", text.data());
    text.clear();
    return expect(ctx, 235, r);
}

// The client's exchange for each row of the session's SASL table, found by
// the row's allow bit; the row gives the name.
struct AuthExchange {
    int mechanism; // MAIL_AUTH_ALLOW_* of the row
    int (*run)(MailContext *ctx, SmtpReply *r, const char **reason);
};

const AuthExchange auth_exchanges[] = {
    {MAIL_AUTH_ALLOW_CRAM_MD5, auth_cram_md5},
    {MAIL_AUTH_ALLOW_PLAIN, auth_plain},
    {MAIL_AUTH_ALLOW_LOGIN, auth_login},
    {MAIL_AUTH_ALLOW_OAUTHBEARER, auth_oauthbearer},
};

const AuthExchange *exchange_of(const MailSaslMech &m)
{
    for (const AuthExchange &e : auth_exchanges)
        if (e.mechanism == m.allow)
            return &e;
    return nullptr;
}

// The mechanism to log in with: OAUTHBEARER when asked for, else the first
// of the table's order the server offered. NULL, with the error text set,
// when there is none.
const MailSaslMech *choose_mechanism(MailContext *ctx)
{
    const bool oauth = (ctx->flags & MAILF_USE_OAUTHBEARER) != 0;
    for (const MailSaslMech &m : mail_sasl_mechs) {
        if ((m.offered == MAILF_AUTH_OAUTHBEARER) != oauth || !(ctx->flags & m.offered))
            continue;
        if (exchange_of(m))
            return &m;
    }
    if (oauth)
        mail_set_errorf(ctx, "AUTH OAUTHBEARER unavailable");
    else
        mail_set_errorf(ctx, "Server did not offer a supported authentication mechanism");
    return nullptr;
}

// The AUTH stage. 1 to go on (logged in, or not when the status answer
// says carry on); 0 when the session ended.
int authenticate(MailContext *ctx)
{
    const MailSaslMech *method = choose_mechanism(ctx);
    if (method) {
        mask_login(ctx, ctx->user, ctx->password);
        SmtpReply r{};
        const char *reason = nullptr;
        int got = exchange_of(*method)->run(ctx, &r, &reason);
        if (got == AUTH_LOST) {
            if (r.nomem)
                mail_set_nomem(ctx);
            else
                mail_set_errorf(ctx, "AUTH %s failed (%s)", method->name, r.reason);
            return smtp_drop_connection(ctx);
        }
        if (got == AUTH_DONE)
            return report_or_quit(ctx, MAIL_STAGE_AUTH, MAIL_RESULT_OK, ctx->error_text);
        mail_set_errorf(ctx, "AUTH %s failed (%s)", method->name,
                        reason ? reason : r.line ? r.line : "");
    }
    return report_or_quit(ctx, MAIL_STAGE_AUTH, MAIL_RESULT_FAILED, ctx->error_text);
}

int connect_and_login(MailContext *ctx)
{
    // A second connect replaces the first connection.
    if (ctx->connection)
        smtp_quit(ctx, 0);
    ctx->flags &= ~uint32_t(MAILF_CONNECTED | MAILF_STARTTLS_NOW | MAILF_DATA_ACCEPTED);
    ctx->flags |= MAILF_DOT_STUFF;
    ctx->failing_code = 0; // a new dialogue: no reply of it failed yet
    // Its secrets are its own: each is masked again as it is sent.
    mail_clear_reply_masks(ctx);

    if (!ctx->server_host) {
        mail_set_errorf(ctx, "No server host set");
        return connect_failed(ctx);
    }
    // The plain program cannot keep a promise of TLS: it refuses rather than
    // sending in clear what was meant to go encrypted.
    if (!wire_tls_available() && (ctx->flags & (MAILF_SMTPS | MAILF_STARTTLS_REQUIRED))) {
        mail_set_errorf(ctx, "TLS is not supported by this program");
        return connect_failed(ctx);
    }
    if (!wire_new(ctx)) {
        mail_set_nomem(ctx);
        return connect_failed(ctx);
    }
    if (!ctx->port)
        ctx->port = (ctx->flags & MAILF_SMTPS) ? SMTPS_PORT : SMTP_PORT;
    if (!open_route(ctx))
        return connect_failed(ctx);
    ctx->flags |= MAILF_CONNECTED;

    if ((ctx->flags & MAILF_SMTPS) && !start_tls(ctx))
        return 0;

    if (!read_greeting(ctx))
        return 0;
    if (!report_or_quit(ctx, MAIL_STAGE_CONNECT, MAIL_RESULT_OK, nullptr))
        return 0;

    if (!greet(ctx))
        return 0;
    mail_report(ctx, MAIL_STAGE_EHLO, MAIL_RESULT_OK, nullptr);

    if (!starttls(ctx))
        return 0;
    if (ctx->user && !authenticate(ctx))
        return 0;

    mail_report(ctx, MAIL_STAGE_READY, MAIL_RESULT_OK, ctx->error_text);
    return 1;
}

} // namespace

int smtp_connect_and_login(MailContext *ctx)
{
    return smtp_guarded(ctx, [ctx] { return connect_and_login(ctx); });
}
