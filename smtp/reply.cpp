// Reading server replies and the small commands every stage builds on:
// EHLO/HELO with the capability parse and the STARTTLS decision, RSET, QUIT,
// dropping a lost connection, acting on a status answer, and the one ending
// of a failed step.
#include <cstdlib>
#include <cstring>

#include "net/conn.h"
#include "smtp/internal.h"
#include "smtp/smtp.h"
#include "smtp/wire.h"
#include "support/fmt.h"
#include "support/str.h"

namespace {

// Longest piece of an offending line quoted in a reason.
const int REASON_QUOTE_MAX = 80;

void set_reason(SmtpReply *r, const char *reason, const char *line = nullptr, size_t len = 0)
{
    if (!line) {
        str_copy_bounded(r->reason, reason, sizeof r->reason);
        return;
    }
    int shown = len > size_t(REASON_QUOTE_MAX) ? REASON_QUOTE_MAX : static_cast<int>(len);
    char *text = nullptr;
    if (str_aprintf(&text, "%s (%.*s)", reason, shown, line)) {
        str_copy_bounded(r->reason, text, sizeof r->reason);
        free(text);
    } else {
        str_copy_bounded(r->reason, reason, sizeof r->reason);
    }
}

} // namespace

void smtp_set_error_text(MailContext *ctx, const char *text)
{
    if (text == net_error_nomem)
        mail_set_nomem(ctx);
    else if (text)
        mail_set_errorf(ctx, "%s", text);
    else
        mail_set_error(ctx, nullptr);
}

void smtp_set_reply_error(MailContext *ctx, const SmtpReply &r)
{
    smtp_set_error_text(ctx, r.nomem ? net_error_nomem : r.reason);
}

int smtp_read_reply(MailContext *ctx, SmtpReply *r, SmtpLineFn on_line, void *user)
{
    r->code = 0;
    r->line = nullptr;
    r->reason[0] = 0;
    r->nomem = 0;
    if (!ctx->connection) {
        set_reason(r, "Not connected");
        return 0;
    }
    SmtpReplyState st{};
    wire_begin_reply(ctx);
    for (;;) {
        const char *line = nullptr;
        size_t len = 0;
        const char *why = nullptr;
        if (!wire_read_line(ctx, &line, &len, &why)) {
            set_reason(r, why ? why : "Connection lost");
            r->nomem = why == net_error_nomem;
            break;
        }
        const char *error = nullptr;
        int kind = smtp_reply_feed(&st, line, len, &error);
        if (kind == SMTP_LINE_BAD) {
            // What follows a line that breaks the grammar cannot be trusted
            // to belong to any command: the dialogue ends here.
            bool quote = len > 0 && st.lines < SMTP_REPLY_LINES_MAX;
            set_reason(r, error, quote ? line : nullptr, len);
            break;
        }
        if (on_line)
            on_line(user, line, len);
        if (kind == SMTP_LINE_FINAL) {
            wire_end_reply(ctx);
            r->code = st.code;
            r->line = line;
            ctx->last_code = st.code;
            return 1;
        }
    }
    wire_end_reply(ctx);
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);
    return 0;
}

int smtp_read_code(MailContext *ctx, const char **line)
{
    SmtpReply r;
    int got = smtp_read_reply(ctx, &r);
    if (line)
        *line = r.line;
    if (!got) {
        smtp_set_reply_error(ctx, r);
        return SMTP_LOST;
    }
    return r.code;
}

int smtp_read_reply_expect(MailContext *ctx, int expected, const char **line)
{
    if (!ctx->connection)
        return 0;
    int code = smtp_read_code(ctx, line);
    if (code == SMTP_LOST)
        return 0;
    if (expected && code == expected)
        return expected;
    ctx->failing_code = static_cast<uint32_t>(code);
    return 0;
}

int smtp_read_reply_class(MailContext *ctx, int expected, int divisor, const char **line)
{
    if (!ctx->connection || divisor <= 0)
        return 0;
    int code = smtp_read_code(ctx, line);
    if (code == SMTP_LOST)
        return 0;
    int cls = code / divisor;
    if (cls != 0 && cls == expected / divisor)
        return cls;
    ctx->failing_code = static_cast<uint32_t>(code);
    return 0;
}

const char *smtp_read_line(MailContext *ctx)
{
    if (!ctx->connection)
        return nullptr;
    const char *line = nullptr;
    size_t len = 0;
    const char *why = nullptr;
    wire_begin_reply(ctx);
    int got = wire_read_line(ctx, &line, &len, &why);
    wire_end_reply(ctx);
    if (!got) {
        ctx->flags &= ~uint32_t(MAILF_CONNECTED);
        return nullptr;
    }
    return line;
}

// ---- EHLO ----------------------------------------------------------------------

namespace {

struct EhloParse {
    SmtpEhloOffer offer;
    int have_user;
    uint32_t no_mask;
};

void ehlo_line(void *user, const char *line, size_t len)
{
    EhloParse *p = static_cast<EhloParse *>(user);
    smtp_ehlo_parse_line(&p->offer, line, len, p->have_user, p->no_mask);
}

void note(MailContext *ctx, const char *text)
{
    if (ctx->trace_fn)
        ctx->trace_fn(ctx->trace_user, MAIL_TRACE_NOTE, text);
}

// Whether this connection should switch to TLS now, from what EHLO offered.
void decide_starttls(MailContext *ctx, const EhloParse &p)
{
    // Never inside TLS (implicit, or after STARTTLS), and never where TLS
    // cannot follow the server's 220.
    if (!p.offer.starttls || wire_tls_active(ctx) || !wire_tls_available())
        return;
    if (ctx->flags & MAILF_STARTTLS) {
        ctx->flags |= MAILF_STARTTLS_NOW;
        return;
    }
    // Opportunistic: a user name is set and nothing usable to log in with
    // was offered in clear.
    if (!ctx->user)
        return;
    if ((ctx->flags & MAILF_USE_OAUTHBEARER) && !(ctx->flags & MAILF_AUTH_OAUTHBEARER)) {
        note(ctx, "No OAUTHBEARER authentication available, trying STARTTLS.\n");
        ctx->flags |= MAILF_STARTTLS_NOW;
    } else if (!(ctx->flags & (MAILF_AUTH_CRAM_MD5 | MAILF_AUTH_LOGIN | MAILF_AUTH_PLAIN))) {
        note(ctx, "No authentication available, trying STARTTLS.\n");
        ctx->flags |= MAILF_STARTTLS_NOW;
    }
}

// The name given with EHLO/HELO into buf.
const char *client_name(MailContext *ctx, char *buf, size_t size)
{
    if (ctx->helo_name)
        return ctx->helo_name;
    // RFC 5321 4.1.3: an address literal, IPv6 with its tag.
    char addr[500];
    int ipv6 = 0;
    if (!wire_local_address(ctx, addr, sizeof addr, &ipv6))
        return "localhost";
    str_copy_bounded(buf, ipv6 ? "[IPv6:" : "[", size);
    str_append_bounded(buf, addr, size);
    str_append_bounded(buf, "]", size);
    return buf;
}

} // namespace

int smtp_ehlo(MailContext *ctx, int extended, const char **line)
{
    if (line)
        *line = nullptr;
    if (!ctx->connection)
        return 0;
    char name_buf[512];
    const char *name = client_name(ctx, name_buf, sizeof name_buf);
    // What an earlier EHLO learned says nothing about this one (above all
    // what a server offered in clear before STARTTLS).
    mail_clear_capabilities(ctx);
    wire_command(ctx, extended ? "EHLO" : "HELO", "%s %s\r\n", extended ? "ehlo" : "helo", name);

    EhloParse parse{};
    parse.have_user = ctx->user != nullptr;
    parse.no_mask = ctx->flags;
    SmtpReply r;
    // A multi-line HELO reply is read whole too, so that its last lines are
    // not taken for the reply to the next command.
    if (!smtp_read_reply(ctx, &r, extended ? ehlo_line : nullptr, &parse)) {
        smtp_set_reply_error(ctx, r);
        smtp_drop_connection(ctx);
        return 0;
    }
    if (line)
        *line = r.line;
    if (extended && r.code == 250) {
        ctx->flags |= MAILF_ESMTP | parse.offer.flags;
        ctx->flags2 |= parse.offer.flags2;
        decide_starttls(ctx, parse);
    }
    return r.code;
}

// ---- RSET, QUIT, drop ------------------------------------------------------------

int smtp_rset(MailContext *ctx)
{
    if (!ctx->connection)
        return smtp_drop_connection(ctx);
    wire_command(ctx, "RSET", "rset\r\n");
    SmtpReply r;
    // A failed read keeps the error text of the failure that led here.
    if (smtp_read_reply(ctx, &r) && r.code == 250)
        return 1;
    if (r.code)
        ctx->failing_code = static_cast<uint32_t>(r.code);
    if (ctx->flags & MAILF_CONNECTED) {
        smtp_set_error_text(ctx, r.line);
        mail_report(ctx, MAIL_STAGE_CONNECT, MAIL_RESULT_FATAL, ctx->error_text);
        return 0;
    }
    return smtp_drop_connection(ctx);
}

namespace {

// The dialogue found out of step at its end: the replies read before were
// not the answers they seemed to be. The error text quotes the reply that
// gave it away; no reply code is kept.
void out_of_step_at_quit(MailContext *ctx, const char *line, const char *where)
{
    char quoted[REASON_QUOTE_MAX + 1];
    str_copy_bounded(quoted, line ? line : "", sizeof quoted);
    mail_set_errorf(ctx, "Server is out of step (\"%s\" came before %s)", quoted, where);
    ctx->failing_code = 0;
}

// The two replies that end a dialogue from the server's side: the answer
// to QUIT (221) and the goodbye of a server that shuts down (421), which
// comes unasked, also right after it accepted a message.
bool is_goodbye(int code) { return code == 221 || code == 421; }

// QUIT after a message the server accepted, and its answer. 1 while the
// dialogue is in step, else 0 with the error text saying why. This client
// never pipelines, so a server in step says nothing more after the data's
// 250 until QUIT, which it answers with a goodbye. What shows the 250 to
// have been an early reply (sent before the data) is told from what has
// come, never by waiting for more once QUIT is answered (a server may hold
// the line open after any answer):
// - a reply other than a goodbye that waits before QUIT goes (QUIT is then
//   not sent);
// - a refusal (4xx, 5xx) as QUIT's answer: a server in step answers QUIT
//   with a goodbye, so this is the data's true answer, which came after
//   the early 250;
// - a further reply already received behind QUIT's answer.
// Any other answer, or none (the server closed), keeps the message
// delivered. What only a wait could show - a reply the server has yet to
// send behind an answer that refuses nothing (a 250, a 354) - is given up:
// a server that holds the line open would make every such run wait out the
// whole time-out, and an early 250 is mostly caught before (with the 354,
// or while the data goes out).
int quit_in_step(MailContext *ctx)
{
    SmtpReply r;
    const int quit = wire_quit(ctx);
    if (quit == WIRE_QUIT_REPLY_WAITING) {
        // QUIT cannot go: only a goodbye (the server leaves first) fits.
        if (!smtp_read_reply(ctx, &r)) {
            mail_set_errorf(ctx, "Server is out of step (%s before the QUIT command)", r.reason);
            ctx->failing_code = 0;
            return 0;
        }
        if (is_goodbye(r.code))
            return 1;
        out_of_step_at_quit(ctx, r.line, "the QUIT command");
        return 0;
    }
    if (quit == WIRE_QUIT_FAILED || !smtp_read_reply(ctx, &r) || is_goodbye(r.code))
        return 1;
    // The answer is copied first: the look for more may reuse the buffer
    // it stands in.
    char answer[REASON_QUOTE_MAX + 1];
    str_copy_bounded(answer, r.line, sizeof answer);
    if (!smtp_is_refusal(r.code) && !wire_reply_waiting(ctx))
        return 1;
    out_of_step_at_quit(ctx, answer, "the answer to QUIT");
    return 0;
}

// The end of a dialogue whose outcome is decided: after a failure (its
// reply's code and text stand) or before any message was accepted. QUIT,
// unless a reply already waits (it is read, so that the trace shows it),
// and one answer; whatever comes changes nothing, and nothing more is
// waited for.
void quit_as_decided(MailContext *ctx)
{
    wire_quit(ctx);
    SmtpReply r;
    smtp_read_reply(ctx, &r);
}

} // namespace

int smtp_quit(MailContext *ctx, int result)
{
    if (!ctx->connection)
        return 0;
    const bool accepted = (ctx->flags & MAILF_DATA_ACCEPTED) != 0;
    ctx->flags &= ~uint32_t(MAILF_DATA_ACCEPTED);
    if (ctx->flags & MAILF_CONNECTED) {
        if (!accepted)
            quit_as_decided(ctx);
        else if (!quit_in_step(ctx) && result)
            result = MAIL_RESULT_FATAL;
    }
    wire_close(ctx);
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);
    if (result)
        mail_report(ctx, MAIL_STAGE_DISCONNECTED, result,
                    ctx->error_text ? ctx->error_text : "Disconnected");
    return 1;
}

int smtp_quit_simple(MailContext *ctx)
{
    if (!ctx->connection)
        return 1;
    wire_command(ctx, "QUIT", "quit\r\n");
    SmtpReply r;
    // As in smtp_quit, the answer is only told, never kept as failing.
    int got = smtp_read_reply(ctx, &r);
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);
    return got && r.code == 221 ? 0 : 1;
}

int smtp_drop_connection(MailContext *ctx)
{
    ctx->failing_code = 0;
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);
    mail_report(ctx, MAIL_STAGE_DISCONNECTED, MAIL_RESULT_FATAL,
                ctx->error_text ? ctx->error_text : "Disconnected");
    wire_close(ctx);
    return 0;
}

void smtp_close_lost(MailContext *ctx)
{
    wire_close(ctx);
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);
}

int smtp_alive_or_drop(MailContext *ctx)
{
    if (ctx->connection && (ctx->flags & MAILF_CONNECTED))
        return 1;
    return smtp_drop_connection(ctx);
}

int smtp_on_failure_action(MailContext *ctx, int answer, int mask)
{
    if (answer == MAIL_ANSWER_QUIT && (mask & SMTP_ACTION_QUIT)) {
        smtp_quit(ctx, MAIL_RESULT_OK);
        return 1;
    }
    if (answer == MAIL_ANSWER_RESET && (mask & SMTP_ACTION_RSET)) {
        smtp_rset(ctx);
        return 1;
    }
    return 0;
}

int smtp_step_failed(MailContext *ctx, const SmtpFailure &failure, const char *reply_line, const char *shown)
{
    if (!(ctx->flags & MAILF_CONNECTED))
        return smtp_drop_connection(ctx);
    if (reply_line)
        smtp_set_error_text(ctx, reply_line);
    const bool answerable = failure.then == SMTP_THEN_AS_ANSWERED || failure.then == SMTP_THEN_RSET_UNLESS_QUIT;
    const int answer = mail_report(ctx, failure.stage, failure.result, shown ? shown : ctx->error_text,
                                   answerable ? MAIL_ANSWER_RESET | MAIL_ANSWER_QUIT : 0);
    const int actions = SMTP_ACTION_RSET | SMTP_ACTION_QUIT;
    smtp_after_failure(ctx, [&] {
        switch (failure.then) {
        case SMTP_THEN_STAY:
            break;
        case SMTP_THEN_QUIET_QUIT:
            smtp_quit(ctx, 0);
            break;
        case SMTP_THEN_AS_ANSWERED:
            smtp_on_failure_action(ctx, answer, actions);
            break;
        case SMTP_THEN_RSET_UNLESS_QUIT:
            if (!smtp_on_failure_action(ctx, answer, actions))
                smtp_rset(ctx);
            break;
        }
    });
    return 0;
}
