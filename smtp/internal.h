// Pieces shared by the stages of the SMTP client. Internal to smtp/.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mail/session.h"
#include "support/fence.h"

enum { SMTP_REASON_SIZE = 160 };

// The three ways a step of the dialogue ends, for every step that has
// more than two: an AUTH exchange, one recipient, the code of a reply.
enum {
    SMTP_GO_ON = 1,   // the step went through: the dialogue goes on
    SMTP_STOPPED = 0, // the server refused it or a status answer ended it; the connection stands
    SMTP_LOST = -1,   // no reply came: MAILF_CONNECTED is cleared
};

// A reply that refuses what it answers: 4xx (for now) or 5xx (for good).
inline bool smtp_is_refusal(int code) { return code >= 400 && code <= 599; }

// One reply as read.
struct SmtpReply {
    int code;                       // the final line's code; 0 when no reply came
    const char *line;               // the final line (in the connection's buffer) or NULL
    char reason[SMTP_REASON_SIZE];  // why no reply came
    int nomem;                      // no reply came because memory ran out
};

// Called with every line of a reply, final line included.
typedef void (*SmtpLineFn)(void *user, const char *line, size_t len);

// Reads one whole reply. 1 with r->code and r->line; 0 when none came (the
// peer left, the time-out passed, memory ran out, or what came breaks the
// grammar or a cap): MAILF_CONNECTED is cleared and r->reason says why
// (r->nomem set when memory ran out). The error text is not touched.
// last_code gets the code.
int smtp_read_reply(MailContext *ctx, SmtpReply *r, SmtpLineFn on_line = nullptr,
                    void *user = nullptr);

// Reads one reply and returns its code (last_code gets it; failing_code is
// the caller's to set). SMTP_LOST when none came: MAILF_CONNECTED is cleared
// and the reason is the error text (smtp_set_reply_error). *line (may be
// NULL) as smtp_read_reply_expect.
int smtp_read_code(MailContext *ctx, const char **line);

// The error text becomes a copy of text (NULL: none). The network
// library's out-of-memory signal (net_error_nomem itself) becomes the
// session's out-of-memory failure instead (mail_set_nomem).
void smtp_set_error_text(MailContext *ctx, const char *text);
// Why a reply did not come, as the error text: its reason, or the
// out-of-memory failure when memory ran out.
void smtp_set_reply_error(MailContext *ctx, const SmtpReply &r);

// Closes and frees a connection that cannot go on, without QUIT or report.
void smtp_close_lost(MailContext *ctx);

// 1 when the session has a live connection; else the lost one is dropped
// (one disconnect report) and 0 is returned.
int smtp_alive_or_drop(MailContext *ctx);

// Clean-up after a failed step (RSET or QUIT, as the status answer asks):
// whatever it meets - a refused RSET, a QUIT answered otherwise, a
// connection lost meanwhile - the first failing reply keeps deciding
// failing_code.
template <class CleanUp> void smtp_after_failure(MailContext *ctx, CleanUp clean_up)
{
    const uint32_t failed = ctx->failing_code;
    clean_up();
    if (failed)
        ctx->failing_code = failed;
}

// What follows the one report of a failed step.
enum SmtpThen {
    SMTP_THEN_STAY,             // nothing: the connection stays for the caller's QUIT
    SMTP_THEN_QUIET_QUIT,       // QUIT without a disconnect report
    SMTP_THEN_AS_ANSWERED,      // QUIT or RSET when the status answer asks for it
    SMTP_THEN_RSET_UNLESS_QUIT, // QUIT when the status answer asks for it, else RSET
};

// A failed step of the dialogue: its one report and what follows it.
struct SmtpFailure {
    int stage;     // MAIL_STAGE_*
    int result;    // MAIL_RESULT_FATAL or MAIL_RESULT_FAILED
    SmtpThen then;
};

// The one ending of a failed step. A connection found lost (MAILF_CONNECTED
// cleared) is dropped: its one disconnect report, nothing more. Otherwise
// reply_line - the final line of the reply that refused the step - becomes
// the error text (NULL: the error text the caller set stands), the step's
// report is made with shown as its text (NULL: the error text) and what
// failure.then says follows; failing_code stays what the refusal made it.
// Returns 0.
int smtp_step_failed(MailContext *ctx, const SmtpFailure &failure, const char *reply_line,
                     const char *shown = nullptr);

// Runs one stage of the public interface: memory that runs out inside it
// (a std::bad_alloc from a std::string or a secret's buffer) ends the stage
// like a lost connection, closed, with the out-of-memory mark the front end
// turns into its status. So no exception leaves the SMTP client.
template <class Stage>
int smtp_guarded(MailContext *ctx, Stage stage)
{
    return fence_nomem(stage, [ctx] {
        mail_set_nomem(ctx);
        smtp_close_lost(ctx);
        return 0;
    });
}
