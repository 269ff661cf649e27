// The command-line front end of both programs: the run sequence, the
// option-word dispatcher shared by the command line and configuration
// files, and the printing of the session's status and trace reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "mail/session.h"
#include "support/secret.h"

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
extern int cli_no_dkim;               // -no-dkim: the message goes out unsigned
extern int cli_send_succeeded;        // the session reported the message data accepted
extern int cli_failure_printed;       // the status callback printed the failure itself (AUTH)
// Where the last -host: and -file: were given, as messages name it: the
// configuration file and line ("tarvex.conf:12") or "the command line".
extern std::string cli_host_origin;
extern std::string cli_file_origin;

// Puts every switch back to its value at start (for tests and a second run).
void cli_reset_switches(void);

// ---- run sequence ----------------------------------------------------------------

// One whole run; returns the exit status of the run (cli/exitcode.h; main
// turns it into the process exit code). A fatal option error ends the run
// at once with its status, the session freed (and so wiped) first.
int cli_main(int argc, char **argv);

// Ends the process with status after a fatal error: the session is freed
// first, so its secrets are wiped. ctx may be NULL.
[[noreturn]] void cli_end_run(MailContext *ctx, int status);

// The banner, then the usage hint, on standard output.
void cli_print_banner(void);
// The usage hint alone ('Use "tarvex /?" for help.' and a line end).
std::string cli_usage_hint(void);
// The banner text (without the usage hint) into buf of size bytes; returns
// buf. The banner is short: size 1024 always holds it.
char *cli_format_banner(char *buf, size_t size);

// ---- option dispatcher ----------------------------------------------------------

// Applies one option word (a command-line argument without its dash, or a
// configuration line as it stands). The word is modifiable scratch that the
// caller does not need afterwards. Returns EXIT_OK for every word it
// accepts, ignored words included, and the exit status of a word that ends
// the run (its message printed to standard error): an unknown word, a value
// whose refusal the option table makes fatal, memory running out.
int cli_option_status(MailContext *ctx, char *word);

// The same, ending the process (cli_end_run) instead of returning a
// status; returns 1.
int cli_apply_option(MailContext *ctx, char *word);

// 1 when this program knows the option word (as cli_option_status takes
// it), 0 for a word it reports as unknown.
int cli_option_known(const char *word);

// "Unknown option: <word>" on standard error, the word shown only up to and
// including its first byte that is no ASCII letter, digit or "-" (what
// follows may be a password: for "hots:ann:s3cret@mx" it shows "hots:", for
// "encryptpass=s3cret" "encryptpass="), and the status of an unknown word.
int cli_unknown_option(const char *word);

// The vocabulary word at index (without its dash; entries that take a value
// end in ":"), or NULL past the last one. Words only the full program knows
// are listed in both programs.
const char *cli_option_word(size_t index);

// The pieces of the dispatcher with rules of their own. Each returns
// EXIT_OK, or the exit status of a refusal it has reported.
// Address options: word is "to:", "cc:", "bcc:", "from:" or "reply-to:"
// followed by "address[:name[:dsn letters]]", the name optionally quoted.
int cli_opt_address(MailContext *ctx, char *word);
// -head: "name:value"; an empty name or one with a blank in it is ignored.
int cli_opt_header(MailContext *ctx, const char *value);
// -authtypes: names separated by ",".
int cli_opt_authtypes(MailContext *ctx, const char *value);
// -body: escapes, in place: "\t" TAB, "\n" CR LF, "\\" one backslash; any
// other byte (a lone backslash included) is kept. Returns text.
char *cli_unescape_body(char *text);

// ---- wildcard attachments (-awild:) ------------------------------------------------

struct DirEntry;

// -awild: "flags:place/pattern/!exclusion...". EXIT_OK (also when nothing
// matched: a message says so), EXIT_INPUT_FILE after a bad flag, a
// missing pattern, a selected file that cannot be attached or a folder of
// the walk that cannot be listed, EXIT_NOMEM
// when memory ran out (messages printed).
int cli_opt_awild(MailContext *ctx, const char *value);

// The flag letters before the ":" into the outputs (all cleared first):
// R recursive, C case-sensitive, H/S/A the DIRENT_HIDDEN/SYSTEM/ARCHIVE
// bits, 6/Q/U the MAILOPT_ATTACH_* encoding (the last one wins), I inline.
// Returns the text after the ":", or NULL after printing why there is none
// or which letter is not a flag.
const char *cli_awild_parse_flags(const char *value, int *recursive, int *case_sensitive,
                                  uint32_t *attributes, unsigned *encoding, int *is_inline);

// Attaches the files the place and patterns of the value select, in walk order.
// Returns the number of files in the place itself (before the patterns),
// -1 after "Memory allocation failed", or -2 after "Failed to attach file"
// for a selected file that is there but cannot be attached, or "Failed to
// read folder" for a folder of the walk that cannot be listed.
long cli_awild_apply(MailContext *ctx, const char *selection, int case_sensitive, int recursive,
                     uint32_t attributes, unsigned encoding, int is_inline);

// The walk context of cli_awild_on_entry.
struct CliAwildWalk {
    MailContext *ctx;
    const char *const *patterns; // every plain one must match, no "!" one may
    int case_sensitive;
    uint32_t attributes;         // DIRENT_HIDDEN, DIRENT_SYSTEM, DIRENT_ARCHIVE
    unsigned encoding;           // MAILOPT_ATTACH_*
    int is_inline;
    long attached;               // attachments added so far
    int nomem;                   // memory ran out: the walk was stopped
    int refused;                 // a file or folder was unreadable: stopped
};
// The walk callback (DirWalkFn): adds an accepted file as an attachment.
// 0 for an entry refused by its type or attributes (directories included:
// they serve the recursion only), DIRWALK_STOP when memory ran out, a
// selected file that is still there cannot be attached or a folder to be
// walked cannot be listed, else 1.
int cli_awild_on_entry(void *context, const DirEntry *entry);

// ---- configuration files ---------------------------------------------------------

// Applies the option lines of a configuration file, in order, through
// cli_option_status. Returns 0 when the file cannot be opened or read
// (nothing applied; plat_last_error() right after the call says why
// when it could not be opened); otherwise 1 with *status EXIT_OK, or the status of
// the line that ended the run (the lines before it applied, its message
// printed), or EXIT_NOMEM when memory ran out reading the file.
int cfg_apply_file(MailContext *ctx, const char *path, int *status);
// The same, ending the process (cli_end_run) where *status would not be
// EXIT_OK; returns 1 or 0 as above.
int cfg_read_file(MailContext *ctx, const char *path);

// The longest configuration file read; a longer one is refused.
enum : size_t { CFG_FILE_MAX = 16u << 20 };

// A stream read whole as text with every line end made CR LF, refused as
// soon as it passes cap bytes or a NUL byte is read. On failure the holder
// is empty and *why says why (STR_READ_*).
SecretText cli_read_text(FILE *fp, size_t cap, int *why);

// ---- status and trace printing ---------------------------------------------------

// The status callback (MailStatusFn; user is the session): prints what a
// user must see, records cli_send_succeeded and answers the session.
int cli_status_report(void *user, int stage, int result, const char *text);
// The trace callback (MailTraceFn; user is the session): the protocol
// dialogue and notes on standard output, with -dd stamps. Lines come from
// the server: what could drive a terminal is shown escaped, as
// cli_printable does, except TAB; each trace line ends in LF, whatever
// line end it had on the wire. Returns 1.
int cli_trace_print(void *user, int direction, const char *text);
// The -dd stamp "[seconds.milliseconds] " of the time since cli_start_ns
// into buf of size bytes (32 always suffice); returns buf.
char *cli_format_stamp(char *buf, size_t size, uint64_t now_ns);

// ---- messages --------------------------------------------------------------------

// Formatted print (the program's own dialect) to standard error / output.
void cli_error(const char *format, ...);
void cli_out(const char *format, ...);
// Where the option being applied stands ("tarvex.conf:12"), or NULL for
// the command line: while set, every message of cli_error begins with it
// and ": ". The text is the caller's and must outlive the setting.
void cli_set_message_origin(const char *origin);
// Where the option being applied stands, as a message names it: the
// origin set, or "the command line".
std::string cli_message_origin(void);
// A value as it may be shown in a message: control bytes (TAB included),
// the C1 controls and every byte that is no part of well-formed UTF-8
// become "\xHH" (each byte), so that nothing can drive the terminal or
// hide in the text; well-formed characters stay as given.
std::string cli_printable(const char *text);
