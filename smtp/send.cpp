// Envelope and data: MAIL FROM with the DSN and SMTPUTF8 parameters, one
// RCPT TO per recipient, DATA, the message streamed from the writers through
// the dot-stuffing filter into the connection, and the end of data. Only the
// server's acceptance of the end of data marks a message delivered.
#include <cstring>
#include <string>
#include <vector>

#include "mail/addr.h"
#include "mail/check.h"
#include "mail/ident.h"
#include "mail/writer.h"
#include "smtp/internal.h"
#include "smtp/smtp.h"
#include "smtp/wire.h"
#include "support/dotstuff.h"
#include "support/str.h"

namespace {

bool is_accepting_rcpt(int code)
{
    // RFC 5321: 251 (will forward) and 252 (cannot verify, will try) accept
    // the recipient as 250 does.
    return code >= 250 && code <= 252;
}

// An address that goes into the envelope only with SMTPUTF8: its domain
// goes as its A-label in any case, a non-ASCII local part as it stands.
bool non_ascii(const char *address)
{
    return addr_classify(address) == ADDR_KIND_UTF8_LOCAL;
}

// An envelope recipient the recipient callback gave, kept from before MAIL
// FROM (which must know them all) to its RCPT TO.
struct CallbackRecipient {
    std::string address;
    std::string params; // the callback's own parameter text; empty: the defaults
};
using CallbackRecipients = std::vector<CallbackRecipient>;

// One run of the callback for the envelope, to its end. The callback's
// texts are its own and may change with the next call: they are copied.
CallbackRecipients take_callback_recipients(MailContext *ctx)
{
    CallbackRecipients taken;
    for (;;) {
        const char *address = nullptr, *name = nullptr, *params = nullptr;
        if (!ctx->recipient_fn(ctx->recipient_user, MAIL_RCPT_ENVELOPE, &address, &name, &params))
            return taken;
        taken.push_back({address ? address : "", params ? params : ""});
    }
}

// Whether the message carries the generated header block: a ready message
// sent with its own header alone has none.
bool composes_header(const MailContext *ctx)
{
    return !(ctx->email_file && (ctx->flags & MAILF_RAW_HEADERS));
}

// Whether a header address shows a byte above 127 when SMTPUTF8 is in
// force (a non-ASCII local part, or the U-labels of its domain).
int shows_non_ascii(void *, const char *, const char *address)
{
    char shown[ADDR_SHOWN_BUF_SIZE];
    const char *text = addr_prepare_for_header(address, shown, sizeof shown, 1);
    return !str_is_ascii(text ? text : address);
}

// RFC 6531: MAIL FROM says SMTPUTF8 when the envelope or the header
// carries an address beyond ASCII.
bool needs_smtputf8(MailContext *ctx, const char *sender, const CallbackRecipients &taken)
{
    if (non_ascii(sender))
        return true;
    for (const CallbackRecipient &r : taken)
        if (non_ascii(r.address.c_str()))
            return true;
    if (!ctx->recipient_fn)
        for (const Recipient *list : {ctx->to, ctx->cc, ctx->bcc})
            for (const Recipient *r = list; r; r = r->next)
                if (non_ascii(r->address))
                    return true;
    return composes_header(ctx) && hdr_visit_addresses(ctx, shows_non_ascii, nullptr);
}

// A header address that has no form without SMTPUTF8 (a non-ASCII local
// part, a domain that cannot be written in ASCII), with its field.
struct Utf8Address {
    const char *field;
    char address[ADDR_BUF_SIZE];
};

int lacks_ascii_form(void *user, const char *field, const char *address)
{
    char prepared[ADDR_BUF_SIZE];
    if (str_is_ascii(address) || addr_prepare_for_smtp(address, prepared, sizeof prepared, nullptr, 0))
        return 0;
    Utf8Address *found = static_cast<Utf8Address *>(user);
    found->field = field;
    str_copy_bounded(found->address, address, sizeof found->address);
    return 1;
}

// The answers that end a run of RCPT TO.
const int RCPT_STOP_ANSWERS = MAIL_ANSWER_STOP_RECIPIENTS | MAIL_ANSWER_RESET | MAIL_ANSWER_QUIT;

enum RcptOutcome {
    RCPT_NEXT = SMTP_GO_ON,   // go on with the next recipient
    RCPT_STOP = SMTP_STOPPED, // an answer ended the run (in *answer)
    RCPT_LOST = SMTP_LOST,    // the connection was lost and dropped
};

// One refusal of a recipient before anything is sent for it: reason, report,
// counted as rejected.
RcptOutcome refuse_before_sending(MailContext *ctx, const char *reason, int stage, const char *shown,
                                  int *rejected, int *answer)
{
    mail_set_errorf(ctx, "%s", reason);
    int a = mail_report(ctx, stage, MAIL_RESULT_FAILED, shown, RCPT_STOP_ANSWERS);
    (*rejected)++;
    if (a) {
        *answer = a;
        return RCPT_STOP;
    }
    return RCPT_NEXT;
}

// RCPT TO for one recipient. shown is the address the reports carry; with
// reported_prepared the prepared address is reported instead once it is
// sent (the list form).
RcptOutcome rcpt_one(MailContext *ctx, const char *address, const char *shown, bool report_prepared,
                     int utf8_stage, const char *params, int *accepted, int *rejected, int *answer)
{
    char prepared[ADDR_BUF_SIZE];
    int kind = ADDR_KIND_BAD;
    if (!addr_prepare_for_smtp(address, prepared, sizeof prepared, &kind,
                               (ctx->flags2 & MAILF2_SERVER_SMTPUTF8) != 0)) {
        if (kind == ADDR_KIND_UTF8_LOCAL)
            return refuse_before_sending(ctx, "SMTPUTF8 required", utf8_stage, shown, rejected, answer);
        return refuse_before_sending(ctx, "Invalid recipient address", MAIL_STAGE_RCPT, shown, rejected,
                                     answer);
    }
    // The parameter text goes raw into the command: one line, nothing else.
    if (!text_is_clean(params, TEXT_NO_TAB))
        return refuse_before_sending(ctx, "Control character in the RCPT TO parameters",
                                     MAIL_STAGE_RCPT, shown, rejected, answer);

    wire_command(ctx, "RCPT TO", "rcpt to:<%s>%s\r\n", prepared, params ? params : "");
    const char *line = nullptr;
    int code = smtp_read_code(ctx, &line);
    if (code == SMTP_LOST) {
        smtp_drop_connection(ctx);
        return RCPT_LOST;
    }
    const char *reported = report_prepared ? prepared : shown;
    int a;
    if (is_accepting_rcpt(code)) {
        (*accepted)++;
        a = mail_report(ctx, MAIL_STAGE_RCPT, MAIL_RESULT_OK, reported, RCPT_STOP_ANSWERS);
    } else {
        ctx->failing_code = static_cast<uint32_t>(code);
        smtp_set_error_text(ctx, line);
        a = mail_report(ctx, MAIL_STAGE_RCPT, MAIL_RESULT_FAILED, reported, RCPT_STOP_ANSWERS);
        (*rejected)++;
    }
    if (a) {
        *answer = a;
        return RCPT_STOP;
    }
    return RCPT_NEXT;
}

// A reply that came while the data went out, before its end: the server
// cannot have had the whole message. The data is never ended; a refusal
// (4xx, 5xx) keeps its code, anything else ends the run as out of step.
// A reply that does not come whole keeps an error text already set (the
// failed write's).
int reply_before_end_of_data(MailContext *ctx)
{
    SmtpReply r;
    if (!smtp_read_reply(ctx, &r)) {
        if (!ctx->error_text)
            smtp_set_reply_error(ctx, r);
        return smtp_drop_connection(ctx);
    }
    if (!smtp_is_refusal(r.code)) {
        mail_set_errorf(ctx, "Server sent data before the end of the message data (%s)", r.line);
        return smtp_drop_connection(ctx);
    }
    ctx->failing_code = static_cast<uint32_t>(r.code);
    // Nothing more can be said on a connection whose data was not ended.
    smtp_step_failed(ctx, {MAIL_STAGE_DATA, MAIL_RESULT_FAILED, SMTP_THEN_STAY}, r.line);
    smtp_close_lost(ctx);
    return 0;
}

// Ends a message whose data could not be sent whole. SMTP has no way to take
// back data once DATA was accepted except leaving without the final ".":
// the server then drops the transaction. Nothing after the failure point
// went out (write failures are sticky), so no message with a hole is ever
// ended. A write that failed because the server refused the message (and
// stopped reading, or left) takes the refusal that waits unread.
int abandon_data(MailContext *ctx, int result)
{
    switch (result) {
    case MIME_FAIL_WRITE: {
        const char *why = nullptr;
        wire_flush(ctx, &why); // the connection's first failure
        mail_set_errorf(ctx, "Connection lost while sending the message data (%s)",
                        why ? why : "write failed");
        if (wire_reply_after_write_failure(ctx))
            return reply_before_end_of_data(ctx);
        break;
    }
    case MIME_FAIL_NOMEM:
        mail_set_nomem(ctx);
        break;
    default:
        // A file that failed while being read, or settings no message can
        // carry: the writers left the reason.
        if (!ctx->error_text)
            mail_set_errorf(ctx, "The message could not be written");
        break;
    }
    return smtp_drop_connection(ctx);
}

} // namespace

int smtp_dsn_requested(const MailContext *ctx)
{
    if (ctx->flags & MAILF_NOTIFY_MASK)
        return 1;
    for (const Recipient *list : {ctx->to, ctx->cc, ctx->bcc})
        for (const Recipient *r = list; r; r = r->next)
            if (r->notify & MAIL_NOTIFY_MASK)
                return 1;
    return 0;
}

namespace {

// RCPT TO for the recipients the callback gave, in its order; each with its
// own parameter text when it gave one. As smtp_rcpt_list.
int rcpt_callback(MailContext *ctx, const CallbackRecipients &taken, const char *params, int *accepted,
                  int *rejected, int *answer)
{
    for (const CallbackRecipient &r : taken) {
        const char *address = r.address.c_str();
        const char *use = r.params.empty() ? params : r.params.c_str();
        RcptOutcome o = rcpt_one(ctx, address, address, false, MAIL_STAGE_RCPT_UTF8, use, accepted, rejected,
                                 answer);
        if (o == RCPT_LOST)
            return 0;
        if (o == RCPT_STOP)
            return 1;
    }
    return 1;
}

} // namespace

int smtp_rcpt_list(MailContext *ctx, Recipient *first, const char *params, int *accepted,
                   int *rejected, int *answer)
{
    *answer = 0;
    if (ctx->recipient_fn)
        return smtp_guarded(ctx, [&] {
            return rcpt_callback(ctx, take_callback_recipients(ctx), params, accepted, rejected, answer);
        });
    const bool dsn = (ctx->flags & MAILF_SERVER_DSN) != 0;
    for (Recipient *r = first; r; r = r->next) {
        char own[SMTP_NOTIFY_TEXT_SIZE];
        const char *use = params;
        if (dsn && (r->notify & MAIL_NOTIFY_MASK))
            use = smtp_notify_text(own, r->notify & MAIL_NOTIFY_MASK);
        RcptOutcome o = rcpt_one(ctx, r->address, r->address, true, MAIL_STAGE_RCPT, use, accepted,
                                 rejected, answer);
        if (o == RCPT_LOST)
            return 0;
        if (o == RCPT_STOP)
            return 1;
    }
    return 1;
}

namespace {

// A message that cannot go, found before anything was sent for it: one
// (PRECHECK, FAILED) report with the error text; RSET or QUIT as answered.
int refuse_message(MailContext *ctx)
{
    return smtp_step_failed(ctx, {MAIL_STAGE_PRECHECK, MAIL_RESULT_FAILED, SMTP_THEN_AS_ANSWERED}, nullptr);
}

// The pre-send check: nothing goes out for a message that cannot be made.
int message_can_be_made(MailContext *ctx)
{
    const char *rule = nullptr;
    bool fits = mime_check_attachments(ctx, &rule) != 0;
    if (!fits)
        smtp_set_error_text(ctx, rule);
    else
        fits = mime_check_message(ctx) != 0 &&
               (!ctx->email_file || mime_check_preconstructed(ctx) == MIME_OK);
    return fits ? 1 : refuse_message(ctx);
}

// The parameters of MAIL FROM: RET and ENVID when the server takes DSN and
// a notification is asked for, SMTPUTF8 when the message needs it.
std::string mail_from_params(MailContext *ctx, const char *sender, const CallbackRecipients &taken)
{
    std::string params;
    if ((ctx->flags & MAILF_SERVER_DSN) && smtp_dsn_requested(ctx)) {
        char drawn[MAIL_ID_LEN + 1];
        const char *envid = ctx->dsn_envid ? ctx->dsn_envid : mail_random_id(drawn);
        params = " RET=HDRS";
        if (envid && *envid)
            params += " ENVID=" + smtp_xtext(envid);
    }
    if ((ctx->flags2 & MAILF2_SERVER_SMTPUTF8) && needs_smtputf8(ctx, sender, taken))
        params += " SMTPUTF8";
    return params;
}

// The envelope sender: MAIL FROM. A sender that cannot be sent ends the
// session; a header address that cannot be shown to a server without
// SMTPUTF8 stops the message before its envelope. The recipient callback's run is
// taken here into *taken, since MAIL FROM must say whether any of them needs
// SMTPUTF8. 1 when the server accepted the sender.
int envelope_sender(MailContext *ctx, CallbackRecipients *taken)
{
    const SmtpFailure failed = {MAIL_STAGE_MAIL_FROM, MAIL_RESULT_FATAL, SMTP_THEN_QUIET_QUIT};
    const char *sender = ctx->return_path ? ctx->return_path : ctx->from_address;
    const int smtputf8 = (ctx->flags2 & MAILF2_SERVER_SMTPUTF8) != 0;
    char prepared[ADDR_BUF_SIZE];
    int kind = ADDR_KIND_BAD;
    if (!sender || !addr_prepare_for_smtp(sender, prepared, sizeof prepared, &kind, smtputf8)) {
        if (kind == ADDR_KIND_UTF8_LOCAL)
            mail_set_errorf(ctx, "SMTPUTF8 required for the sender %s", sender);
        else
            mail_set_errorf(ctx, "Invalid sender address");
        return smtp_step_failed(ctx, failed, nullptr, sender ? sender : "");
    }

    // No byte above 127 in a header field we compose goes to a server
    // without SMTPUTF8: an address that has no ASCII form stops the message
    // here, before its envelope. (A ready message file's own header is the
    // file's.)
    Utf8Address utf8{};
    if (!smtputf8 && composes_header(ctx) && hdr_visit_addresses(ctx, lacks_ascii_form, &utf8)) {
        mail_set_errorf(ctx, "SMTPUTF8 required for %s in the %s field", utf8.address, utf8.field);
        return refuse_message(ctx);
    }
    if (ctx->recipient_fn)
        *taken = take_callback_recipients(ctx);

    wire_command(ctx, "MAIL FROM", "mail from:<%s>%s\r\n", prepared,
                 mail_from_params(ctx, sender, *taken).c_str());
    const char *line = nullptr;
    if (!smtp_read_reply_expect(ctx, 250, &line))
        return smtp_step_failed(ctx, failed, line, ""); // the reply line is the error text alone
    mail_report(ctx, MAIL_STAGE_MAIL_FROM, MAIL_RESULT_OK, nullptr);
    return 1;
}

// The recipients: RCPT TO for the callback's run or for the To, Cc and Bcc
// lists in turn, until a status answer stops them. 1 to go on with DATA;
// 0 when the message ended here (an answer asking for QUIT or RSET, no
// recipient accepted, a lost connection).
int recipients(MailContext *ctx, const CallbackRecipients &taken)
{
    char defaults[SMTP_NOTIFY_TEXT_SIZE] = "";
    if (ctx->flags & MAILF_SERVER_DSN)
        smtp_notify_text(defaults, (ctx->flags & MAILF_NOTIFY_MASK) >> MAILF_NOTIFY_SHIFT);
    int accepted = 0, rejected = 0, answer = 0;
    if (ctx->recipient_fn) {
        if (!rcpt_callback(ctx, taken, defaults, &accepted, &rejected, &answer))
            return 0;
    } else {
        for (Recipient *list : {ctx->to, ctx->cc, ctx->bcc}) {
            if (!smtp_rcpt_list(ctx, list, defaults, &accepted, &rejected, &answer))
                return 0;
            if (answer)
                break;
        }
    }
    if (answer == MAIL_ANSWER_QUIT) {
        smtp_quit(ctx, 0);
        return 0;
    }
    if (answer == MAIL_ANSWER_RESET) {
        smtp_after_failure(ctx, [&] { smtp_rset(ctx); });
        return 0;
    }
    if (!accepted) {
        mail_set_errorf(ctx, "No recipients accepted");
        return smtp_step_failed(ctx, {MAIL_STAGE_NO_RECIPIENTS, MAIL_RESULT_FAILED, SMTP_THEN_RSET_UNLESS_QUIT},
                                nullptr);
    }
    return 1;
}

// The data command: DATA, answered 354.
int data_command(MailContext *ctx)
{
    wire_command(ctx, "DATA", "data\r\n");
    const char *line = nullptr;
    if (!smtp_read_reply_expect(ctx, 354, &line))
        return smtp_step_failed(ctx, {MAIL_STAGE_DATA, MAIL_RESULT_FAILED, SMTP_THEN_RSET_UNLESS_QUIT}, line);
    // A reply that came with the 354 (an early "250") was sent before the
    // server had the message: nothing it says can be taken for its answer.
    const char *why = nullptr;
    if (!wire_in_step(ctx, "the message data", &why)) {
        smtp_set_error_text(ctx, why);
        return smtp_drop_connection(ctx);
    }
    return 1;
}

// The message stream: the message, unstuffed from the writers, stuffed on
// the wire. 1 when the writers finished it, *line_ended saying whether its
// last line was ended; else the data is abandoned.
int message_stream(MailContext *ctx, bool *line_ended)
{
    DotStuffSink stuff;
    dotstuff_init(&stuff, wire_sink, ctx->connection);
    MsgSink ms;
    msg_sink_init(&ms, dotstuff_sink, &stuff);
    int result = ctx->email_file ? mime_write_preconstructed(ctx, msg_printf, &ms)
                                 : mime_write_message(ctx, msg_printf, &ms);
    if (result == MIME_OK && ms.failed)
        result = MIME_FAIL_WRITE;
    if (result != MIME_OK)
        return abandon_data(ctx, result);
    *line_ended = stuff.at_line_start;
    return 1;
}

// The end of data, the data's last piece. Only a 25x answer to it delivers
// the message.
int end_of_data(MailContext *ctx, bool line_ended)
{
    if (wire_reply_waiting(ctx)) {
        mail_set_error(ctx, nullptr); // a refused recipient's text says nothing of this
        return reply_before_end_of_data(ctx);
    }
    const char *end = line_ended ? ".\r\n" : "\r\n.\r\n";
    const char *why = nullptr;
    if (!wire_sink(ctx->connection, end, strlen(end)) || !wire_flush(ctx, &why))
        return abandon_data(ctx, MIME_FAIL_WRITE);
    const char *line = nullptr;
    if (smtp_read_reply_class(ctx, 250, 10, &line)) {
        ctx->flags |= MAILF_DATA_ACCEPTED;
        mail_report(ctx, MAIL_STAGE_DATA, MAIL_RESULT_OK, ctx->error_text);
        return 1;
    }
    return smtp_step_failed(ctx, {MAIL_STAGE_DATA, MAIL_RESULT_FAILED, SMTP_THEN_AS_ANSWERED}, line);
}

int send_message(MailContext *ctx)
{
    mail_set_error(ctx, nullptr);
    // What failed an earlier message or was borne on the way here (a
    // STARTTLS refused while only asked for) says nothing about this one,
    // nor does the acceptance of an earlier message.
    ctx->failing_code = 0;
    ctx->flags &= ~uint32_t(MAILF_DATA_ACCEPTED);
    if (!smtp_alive_or_drop(ctx) || !message_can_be_made(ctx))
        return 0;
    CallbackRecipients taken;
    bool line_ended = true;
    return envelope_sender(ctx, &taken) && recipients(ctx, taken) && data_command(ctx) &&
           message_stream(ctx, &line_ended) && end_of_data(ctx, line_ended);
}

} // namespace

int smtp_send_message(MailContext *ctx)
{
    return smtp_guarded(ctx, [ctx] { return send_message(ctx); });
}
