// The SMTP client: the dialogue with a server as a sequence of stages over
// the session's connection - connect, greeting, EHLO, STARTTLS, AUTH, the
// envelope, the message data streamed from the writers through the
// dot-stuffing filter, and QUIT. Every stage reports through the session's
// status callback (mail_report); every failure leaves its reason in the
// session's error text. No exception leaves these functions: memory that
// runs out ends the stage like a lost connection, with the session's
// out-of-memory mark (mail_error_is_nomem).
#pragma once

#include "mail/session.h"
#include "smtp/proto.h"

// Installs the SMTP client behind the session actions MAILOPT_CONNECT,
// MAILOPT_QUIT, MAILOPT_SEND, MAILOPT_DELIVER and MAILOPT_FREE and starts the
// network library. Call once before the first action (the front end does it
// at start); calling again changes nothing.
void smtp_install(void);

// ---- replies and small commands --------------------------------------------------

// Reads one whole reply. Returns `expected` when the reply carries that code
// (0 accepts nothing), else 0 with the code in failing_code. last_code gets
// every code read. *line (may be NULL) gets the reply's final line, valid
// until the next read on the connection, or NULL when no reply came. When no
// reply came - the peer closed, the time-out passed, or what came is not a
// reply (bad grammar, a line or reply over its cap, a NUL byte) -
// MAILF_CONNECTED is cleared, the reason becomes the error text and the
// connection object stays for the caller to drop. Without a connection
// returns 0 and changes nothing.
int smtp_read_reply_expect(MailContext *ctx, int expected, const char **line = nullptr);
// The same for a class: with expected 250 and divisor 100 any 2xx reply
// returns 2.
int smtp_read_reply_class(MailContext *ctx, int expected, int divisor, const char **line);
// One reply line (without CR LF), or NULL (MAILF_CONNECTED then cleared).
const char *smtp_read_line(MailContext *ctx);

// EHLO (extended) or HELO with the session's HELO name, else the local
// address as a literal ("[192.0.2.1]", "[IPv6:2001:db8:0:0:0:0:0:1]").
// Every capability an earlier EHLO learned is cleared first; an EHLO reply
// of 250 sets the capability bits, MAILF_ESMTP and - outside TLS only -
// MAILF_STARTTLS_NOW (asked for and offered, or chosen because a user name
// is set and no usable mechanism was offered; never in the plain program).
// Returns the reply code; 0 after a lost connection, which is then dropped
// with one disconnect report.
int smtp_ehlo(MailContext *ctx, int extended, const char **line);
// RSET: 1 when answered 250. Refused while connected: the reply line as error
// text and one (CONNECT, FATAL) report; lost: the connection is dropped.
int smtp_rset(MailContext *ctx);
// QUIT when the peer is there (not when a reply already waits), then close
// and free the connection; with a nonzero result one (DISCONNECTED, result,
// error text or "Disconnected") report. Nothing is waited for after QUIT's
// answer. The answer goes into last_code only: it never changes the code or
// the text of a failed message. Right after a message the server accepted
// (MAILF_DATA_ACCEPTED), a reply that shows the acceptance to have been out
// of step (other than a goodbye, 221 or 421, waiting before QUIT; a refusal
// as QUIT's answer; a further reply already received behind it) fails the
// run: error text "Server is out of step (...)", failing_code 0, the report
// FATAL. 1, or 0 without a connection.
int smtp_quit(MailContext *ctx, int result);
// QUIT without closing: 0 when answered 221, else 1 (failing_code stays).
int smtp_quit_simple(MailContext *ctx);
// A lost connection: failing_code 0, one (DISCONNECTED, FATAL, error text or
// "Disconnected") report, the connection closed and freed. Returns 0.
int smtp_drop_connection(MailContext *ctx);

// Action mask bits of smtp_on_failure_action.
enum {
    SMTP_ACTION_RSET = 1,
    SMTP_ACTION_QUIT = 2,
};
// Acts on a status answer: MAIL_ANSWER_QUIT runs QUIT (with its report),
// MAIL_ANSWER_RESET runs RSET, each when the mask allows it. 1 when it
// acted, else 0.
int smtp_on_failure_action(MailContext *ctx, int answer, int mask);

// ---- connect and log in ----------------------------------------------------------

// Opens the connection and brings the dialogue to the point where MAIL FROM
// can be sent: TCP, implicit TLS, greeting, EHLO (HELO after a 500), STARTTLS
// when asked for, required or chosen, AUTH. 1 when ready; 0 with the
// connection either gone or (after a refused greeting) still open - the
// caller ends with smtp_quit in both cases.
int smtp_connect_and_login(MailContext *ctx);

// ---- envelope and data -----------------------------------------------------------

// Sends one message on a ready connection: MAIL FROM, RCPT TO per recipient,
// DATA, the message, the end of data. 1 only when the server accepted the
// end of data. A message the writers could not finish (a file that failed,
// a connection that broke) is never ended with "."; the connection is closed
// instead so that the server drops the transaction.
//
// Before MAIL FROM: a server without SMTPUTF8 gets nothing for a message
// whose composed header would show an address that has no ASCII form
// (error "SMTPUTF8 required for <address> in the <field> field", one
// (PRECHECK, FAILED) report); with SMTPUTF8, MAIL FROM says SMTPUTF8 when
// the sender, any recipient (the recipient callback's included: its
// envelope run is taken whole first) or a header address is not ASCII.
// failing_code starts at 0 for each message and then holds the reply that
// failed it; the RSET or QUIT that follows a failure never replaces it.
int smtp_send_message(MailContext *ctx);

// RCPT TO for every recipient of a list (from first along next), or for
// every recipient the recipient callback yields when one is set (its run is
// taken to its end first). params is the default parameter text. Adds to
// *accepted and *rejected; *answer gets the status answer that stopped the
// run (0 when none did). 0 when the connection was lost (after the
// disconnect report), else 1.
int smtp_rcpt_list(MailContext *ctx, Recipient *first, const char *params, int *accepted,
                   int *rejected, int *answer);

// 1 when DSN NOTIFY is asked for by the session or any listed recipient.
int smtp_dsn_requested(const MailContext *ctx);
