// The SMTP client's view of its connection: the few operations of the
// network library the dialogue needs, with the session's settings applied
// and every failure turned into a reason a user can read. Internal to smtp/.
#pragma once

#include <cstddef>

#include "mail/session.h"
#include "support/fmt.h"

// Starts the network library (with TLS in the full program). Once per
// process; later calls change nothing.
void wire_global_init(void);
// The network library's clean-up; the system's result.
int wire_global_cleanup(void);

// A new, unconnected connection with the session's address family, time-out,
// trace callback and trace level; stored in ctx->connection. 0 when memory
// ran out (nothing stored).
int wire_new(MailContext *ctx);
// Connects ctx->connection to host and port. 1, or 0.
int wire_connect(MailContext *ctx, const char *host, int port);
// Closes and frees ctx->connection (none is harmless) and clears the field.
void wire_close(MailContext *ctx);

// TLS as a client over the connected socket, with the session's server host
// name, verify choice, protocols and ciphers. 1, or 0 with *error the TLS
// layer's text (valid until the connection is closed).
int wire_tls_start(MailContext *ctx, const char **error);
// 1 while TLS is on (always 0 in the plain program).
int wire_tls_active(const MailContext *ctx);
// 1 when this program can speak TLS: the full program, which links the TLS
// library (mail_full_program).
int wire_tls_available(void);

// Bytes received and not yet read.
size_t wire_pending(const MailContext *ctx);

// 1 when nothing the server sent waits unread. This client never
// pipelines, so a server speaks only when spoken to: bytes that wait before
// the client speaks again came ahead of what they seem to answer. The
// dialogue is then out of step and ends: 0 with *reason "Server sent data
// before <what> (<the first early line, cut at 80 bytes>)" (what: "the
// message data"; valid until the connection is closed), and every later read
// of the connection fails with that reason.
int wire_in_step(MailContext *ctx, const char *what, const char **reason);
// 1 when bytes the server sent wait unread (taken from the connection
// without waiting), the dialogue left as it is.
int wire_reply_waiting(MailContext *ctx);

// After a write failed: 1 when bytes the server sent wait unread (taken
// without waiting), and the next reply may then be read although nothing
// more can be sent; 0 when none waits.
int wire_reply_after_write_failure(MailContext *ctx);

// One command line, formatted in the engine's dialect and traced as sent;
// name is the command's ("RCPT TO"). Buffered: the next read sends it. Not
// sent, and 0, when the dialogue is out of step (as wire_in_step, the
// reason "Server sent data before the RCPT TO command (...)") or the
// connection has failed; else 1.
int wire_command(MailContext *ctx, const char *name, const char *format, ...);
// QUIT, as wire_command sends it, unless bytes the server sent already
// wait unread: then nothing is sent and the dialogue is left as it is, so
// that the caller reads what came. A reply that comes after the look is
// read as the answer to QUIT.
enum { WIRE_QUIT_SENT = 1, WIRE_QUIT_REPLY_WAITING = 0, WIRE_QUIT_FAILED = -1 };
int wire_quit(MailContext *ctx);
// The line prefix + secret + CR LF, as wire_command sends it; the trace
// shows the secret as one "*" per character.
int wire_send_secret(MailContext *ctx, const char *name, const char *prefix, const char *secret);

// The next line the server sent, without its CR LF, NUL-terminated, valid
// until the next read; pending commands are sent first. 1, or 0 with
// *reason saying why none came (closed, time-out, a line longer than
// SMTP_REPLY_LINE_MAX, a NUL byte, a failed write).
int wire_read_line(MailContext *ctx, const char **line, size_t *len, const char **reason);

// A whole reply, however many lines and however slowly they come, within
// the session's time-out: wire_begin_reply sends what is buffered (a
// failure shows at the next read) and starts the deadline of the reply;
// wire_end_reply lifts it. Without a connection they do nothing.
void wire_begin_reply(MailContext *ctx);
void wire_end_reply(MailContext *ctx);

// The message data's sink: a FmtSink over the connection (user: the
// Connection). Keeps the connection's first write failure.
int wire_sink(void *connection, const char *text, size_t len);
// Sends what is buffered. 1, or 0 when the connection has failed (also
// earlier: the failure is sticky); *reason then says why.
int wire_flush(MailContext *ctx, const char **reason);

// The local address of the connection as text ("192.0.2.1",
// "2001:db8:0:0:0:0:0:1") into buf of size bytes; *ipv6 says which family.
// NULL when it cannot be read.
char *wire_local_address(MailContext *ctx, char *buf, size_t size, int *ipv6);

// The address text of the connection's peer into buf of size bytes; NULL
// (buf empty) without a connection or when it cannot be read.
char *wire_peer_address(const MailContext *ctx, char *buf, size_t size);

// Applies ctx->timeout to the open connection, if any.
void wire_apply_timeout(MailContext *ctx);
