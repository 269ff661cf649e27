// The command-line front end of both programs: the run sequence, the
// option-word dispatcher shared by the command line and configuration
// files, and the printing of the session's status and trace reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "mail/session.h"

// ---- build constants -----------------------------------------------------------

extern const char cli_product_name[]; // "Tarvex": banner, X-Mailer
extern const char cli_program_name[]; // "tarvex": usage hint, "tarvex.conf"
extern const char cli_version[];
extern const char cli_architecture[];
extern const char cli_build_date[];   // the compiler's "Mmm dd yyyy"
extern const char cli_config_file_name[]; // "tarvex.conf"

// ---- front-end switches ---------------------------------------------------------
// Process-wide values, zero at start, read and written by the front end only.

extern uint64_t cli_start_ns;         // time_now_ns at start: origin of the -dd stamps
extern int cli_no_default_config;     // -nodefault: skip the default configuration file
extern int cli_skip_missing_files;    // -skipnofile: leave out attachments that cannot be added
extern int cli_args_are_utf8;         // -clutf8 (the arguments are UTF-8 here in any case)
extern int cli_body_literal;          // -body-literal: -body-file: reads raw bytes
extern int cli_body_from_stdin;       // "--": read the text body from standard input
extern int cli_timestamps;            // -dd: stamp trace lines and the send failure
extern char cli_password_delimiter;   // -passdelim:, ":" at start
extern int cli_send_succeeded;        // the session reported the message data accepted

// Puts every switch back to its value at start (for tests and a second run).
void cli_reset_switches(void);

// ---- run sequence ----------------------------------------------------------------

// One whole run; returns the exit status of the run (see the README's
// table; main turns it into the process exit code). Fatal option errors end
// the process from inside the dispatcher.
int cli_main(int argc, char **argv);

// The banner, then the usage hint, on standard output.
void cli_print_banner(void);
// The banner text (without the usage hint) into buf of size bytes; returns
// buf. The banner is short: size 1024 always holds it.
char *cli_format_banner(char *buf, size_t size);

// ---- option dispatcher ----------------------------------------------------------

// Applies one option word (a command-line argument without its dash, or a
// configuration line as it stands). The word is modifiable scratch that the
// caller does not need afterwards. Returns 1 for every word it accepts,
// ignored words included; an unknown word or a refused value prints its
// message to standard error and ends the process with its exit status.
int cli_apply_option(MailContext *ctx, char *word);

// The same, returning 0 for an accepted word and the exit status of a
// refusal (its message already printed) instead of ending the process.
int cli_option_status(MailContext *ctx, char *word);

// The pieces of the dispatcher with rules of their own. Each returns 0, or
// the exit status of a refusal it has reported.
// Address options: word is "to:", "cc:", "bcc:", "from:" or "reply-to:"
// followed by "address[:name[:dsn letters]]", the name optionally quoted.
int cli_opt_address(MailContext *ctx, char *word);
// -head: "name:value"; a name with a blank in it is ignored.
int cli_opt_header(MailContext *ctx, const char *value);
// -authtypes: names separated by ",".
int cli_opt_authtypes(MailContext *ctx, const char *value);
// -body: escapes, in place: "\t" TAB, "\n" CR LF, "\\" one backslash; any
// other byte (a lone backslash included) is kept. Returns text.
char *cli_unescape_body(char *text);

// ---- configuration files ---------------------------------------------------------

// Applies every option line of a configuration file through
// cli_apply_option. Returns 1 when the file was read, 0 when it cannot be
// opened or read (nothing applied then).
int cfg_read_file(MailContext *ctx, const char *path);

// ---- status and trace printing ---------------------------------------------------

// The status callback (MailStatusFn; user is the session): prints what a
// user must see, records cli_send_succeeded and answers the session.
int cli_status_report(void *user, int stage, int result, const char *text);
// The trace callback (MailTraceFn; user is the session): the protocol
// dialogue and notes on standard output, with -dd stamps. Returns 1.
int cli_trace_print(void *user, int direction, const char *text);
// The -dd stamp "[seconds.milliseconds] " of the time since cli_start_ns
// into buf of size bytes (32 always suffice); returns buf.
char *cli_format_stamp(char *buf, size_t size, uint64_t now_ns);

// ---- messages --------------------------------------------------------------------

// Formatted print (the program's own dialect) to standard error / output.
void cli_error(const char *format, ...);
void cli_out(const char *format, ...);
// A value as it may be shown in a message: control bytes other than TAB
// (which could drive the terminal) become "\xHH", the rest stays as given.
std::string cli_printable(const char *text);
