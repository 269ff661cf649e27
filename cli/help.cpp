// The help of both programs: the table of sections, paragraphs and option
// rows, its plain-text printer (wrapped to a width) and its AsciiDoc
// printer. Everything goes through one sink that keeps its first error, so
// a help that did not reach standard output is never reported as printed.
#include "cli/help.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "mail/seam.h"
#include "platform/platform.h"

namespace {

const uint64_t S = HELP_MODE_SMTP, F = HELP_MODE_FILE, P = HELP_MODE_PRECON;
const uint64_t CMD = HELP_COMMAND_LINE_ONLY, FULL = HELP_FULL_ONLY;

HelpRow title(const char *text, uint64_t flags = 0) { return {"", flags, text, HELP_TITLE}; }
HelpRow para(const char *text, uint64_t flags = 0) { return {"", flags, text, HELP_PARAGRAPH}; }
HelpRow start(uint64_t flags = 0) { return {"", flags, "", HELP_TABLE_START}; }
HelpRow end(uint64_t flags = 0) { return {"", flags, "", HELP_TABLE_END}; }

} // namespace

const char help_letters[] = "SFP";

const HelpRow help_table[] = {
    title("Configuration"),
    para("(S)MTP mode sends the message to the mail server named by -host:."),
    para("(F)ile mode writes the message to the file named by -file: instead of sending it."),
    para("(P)reconstructed mode sends the ready message file named by -emailfile: to a mail "
         "server, or writes it completed with -file:."),
    para(""),
    para("Settings labelled with letters such as \"SF-\" apply only to the modes whose letters "
         "are shown: S SMTP, F File, P Preconstructed."),
    para(""),
    para("Settings come from three sources, applied in this order: the default configuration "
         "file, every -config: file in command-line order, then the command line. A setting "
         "that takes one value keeps the last one given; settings that add (recipients, "
         "attachments, header fields{, DKIM keys}) add from every source."),
    para(""),
    para("Arguments are taken as UTF-8, as this system passes them: no code page conversion is "
         "made, and -clutf8 changes nothing."),
    para(""),
    para("The default configuration is read from tarvex.conf in the folder named by $APPDATA, "
         "else $XDG_CONFIG_HOME, else $HOME/.config (for example /home/user/.config/tarvex.conf). "
         "A missing default file is no error; -nodefault skips it."),
    para(""),
    para("A configuration file holds one setting per line, written without the leading \"-\" "
         "(for example to:someone@example.org), exactly as it stands, blanks included. A line "
         "whose first character is \"#\" is a comment."),

    title("Mandatory Options / Mode Selection"),
    start(),
    {"-host:[user:pass@]host[:port]", S | P,
     "Mail server to send through, with an optional user name and password for logging in "
     "and an optional port (25 by default).",
     HELP_OPTION},
    {"-file:file", F, "Writes the message to this file instead of sending it. Cannot be "
     "combined with -host:.", HELP_OPTION},
    {"-emailfile:file", P, "Ready message file to send; the generated header fields are put "
     "in front of its own. The file must exist.", HELP_OPTION},
    {"-from:address[:alias]", S | F | P, "Sender address, with an optional display name.",
     HELP_OPTION},
    end(),

    title("Recipients"),
    start(),
    {"-to:address[:alias[:DSN]]|@file", S | F | P, "Adds a To recipient with an optional "
     "display name and the DSN letters of -dsn:, or every recipient of a list file.", HELP_OPTION},
    {"-cc:address[:alias[:DSN]]|@file", S | F | P, "Adds a Cc recipient, as -to: does.",
     HELP_OPTION},
    {"-bcc:address[::DSN]|@file", S | F | P, "Adds a Bcc recipient: it gets the message but is "
     "named in no header field. It takes no display name, so DSN letters follow two colons.",
     HELP_OPTION},
    {"-reply-to:address[:alias]", S | F | P, "Address for replies, with an optional display "
     "name.", HELP_OPTION},
    end(),
    para("An address is user@domain; a display name follows after \":\" and may be quoted to "
         "hold \":\", for example -to:ann@example.com:\"Ann: Example\". An address that is no "
         "mailbox ends the run with an error. A domain with non-ASCII letters is sent as "
         "Punycode unless the server offers SMTPUTF8."),
    para(""),
    para("A list file (\"@file\") holds one address, or Name <address>, per item, items "
         "separated by commas or lines; an item that is no usable address ends the run. Only "
         "tarvex reads list files: tarvex-plain refuses them."),
    para(""),
    para("With -emailfile: and no -from: or no recipient given, tarvex takes them from the "
         "header of the message file (its Bcc addresses become recipients too); tarvex-plain "
         "needs them as options."),

    title("Content And Formatting"),
    start(),
    {"-subject:subject text", S | F | P, "Subject of the message; non-ASCII text is encoded "
     "for the header.", HELP_OPTION},
    {"-body:message body", S | F, "Text body given on the command line: \\n starts a new line, "
     "\\t is a TAB and \\\\ one backslash.", HELP_OPTION},
    {"-body-file:file[:charset]", S | F, "Text body read from a file, with an optional "
     "character set name for its content type, for example -body-file:note.txt:utf-8.",
     HELP_OPTION},
    {"-body-64", S | F, "Encodes the text body in base64.", HELP_OPTION},
    {"-body-qp", S | F, "Encodes the text body in quoted-printable.", HELP_OPTION},
    {"-body-html:file", S | F, "HTML body read from a file; with a text body as well, the "
     "reader's mail program chooses which one to show.", HELP_OPTION},
    {"-head:header:value", S | F | P, "Adds a header field, for example -head:X-Ticket:1234. "
     "A name with a blank in it is ignored.", HELP_OPTION},
    {"-delhead:header", P, "Removes a header field of the message file.", HELP_OPTION},
    {"-rawhead", P, "Sends the header of the message file as it stands: no generated header "
     "fields are put in front.", HELP_OPTION},
    {"-linelen:length", S | F, "Lines of a text body sent as it is (neither base64 nor "
     "quoted-printable) are wrapped at blanks at this length, 78 to 998 characters (78 by default); "
     "other numbers are brought into that range. A longer word stays whole on a line of its own; a "
     "text with a word longer than 998 bytes goes quoted-printable.", HELP_OPTION},
    {"-mime", S | F, "Writes a MIME message even when a plain one would do.", HELP_OPTION},
    {"-dotstuff", F, "Doubles a \".\" at the start of a line in the output file, as SMTP does "
     "on the wire.", HELP_OPTION},
    {"-priority:n", S | F | P, "Priority: 1 highest, 2 high, 4 low, 5 lowest; 3 (normal) writes "
     "no priority field.", HELP_OPTION},
    {"--", S | F, "Reads the text body from standard input up to its end (Ctrl-D on a "
     "terminal).", HELP_OPTION},
    end(),

    title("Attachments"),
    start(),
    {"-a:file", S | F, "Attaches a file, encoded as its content needs.", HELP_OPTION},
    {"-a64:file", S | F, "Attaches a file in base64.", HELP_OPTION},
    {"-aqp:file", S | F, "Attaches a file in quoted-printable.", HELP_OPTION},
    {"-ai:file", S | F, "Attaches a file inline for the HTML body of -body-html:, which refers "
     "to it as cid: followed by the file's name.", HELP_OPTION},
    {"-auu:file", S | F, "Attaches a file uuencoded after the text; cannot be mixed with MIME "
     "attachments.", HELP_OPTION},
    {"-awild:options:pattern[/...]", S | F, "Attaches every file of a folder whose name "
     "matches the patterns, each as one attachment (see below).", HELP_OPTION},
    end(),
    para("-awild: takes option letters, \":\" and a list of items separated by \"/\". Each "
         "matching file becomes one attachment, encoded as the letters choose (as -a: does "
         "without U, 6 or Q)."),
    para(""),
    para("The leading items that together name an existing folder are the place to look (the "
         "current folder when none does); every further item is a name pattern (\"*\" any "
         "characters, \"?\" one character) that a name must match, and an item beginning with "
         "\"!\" leaves out the names that match the rest of it."),
    para(""),
    para("Hidden files are those whose names begin with \".\"; with R hidden folders are "
         "searched too, but the hidden files in them still need H. This system has no system "
         "attribute, so S has no effect, and every regular file has the archive attribute."),
    para(""),
    para("Options (Case sensitive):"),
    para("H - Include hidden files"),
    para("S - Include system files"),
    para("A - Include ONLY files with the Archive attribute set"),
    para("R - Recursive (include files in subdirectories)"),
    para("C - Case sensitive matching"),
    para("U - Use uuencoding"),
    para("6 - Use base64 encoding"),
    para("Q - Use quoted-printable encoding"),
    para("I - Create inline attachments for use with -body-html"),
    para(""),
    para("Example: -awild:R6:/home/user/reports/*.pdf/!draft*"),
    para("attaches in base64 the PDF files of /home/user/reports and its subfolders, leaving "
         "out those whose names begin with draft."),

    title("Connection Options"),
    start(),
    {"-passdelim:char", S | P, "Makes this character, instead of \":\", separate the user "
     "name from the password in the -host: values that follow it.", HELP_OPTION},
    {"-4", S | P, "Connects over IPv4 only.", HELP_OPTION},
    {"-6", S | P, "Connects over IPv6 only.", HELP_OPTION},
    {"-authtypes:type[,type...]", S | P, "Login mechanisms allowed, written in capitals: CRAM-MD5, "
     "PLAIN, LOGIN, OAUTHBEARER. The first of CRAM-MD5, PLAIN and LOGIN that is allowed and "
     "that the server offers is used (all three are allowed by default); OAUTHBEARER is used "
     "only with -oauth. Other names are skipped; a value naming none of the four ends the "
     "run.", HELP_OPTION},
    {"-helo:hostname", S | P, "Name given with EHLO or HELO (by default this computer's "
     "address).", HELP_OPTION},
    {"-oauth", S | P, "The password of -host: is an OAuth 2 bearer token, sent with "
     "OAUTHBEARER.", HELP_OPTION},
    {"-return-path:address", S | P, "Envelope sender (MAIL FROM) when it is not the From "
     "address.", HELP_OPTION},
    {"-proxy:[user:pass@]host[:port]", S | P, "Connects through a proxy with an optional user "
     "name and password; the port is 1080 for SOCKS and 8080 for HTTPS by default.",
     HELP_OPTION},
    {"-proxytype:type", S | P, "Proxy type, written in capitals: SOCKS (SOCKS5, the default) "
     "or HTTPS (an HTTP CONNECT tunnel); another word ends the run. Give it before -proxy: so "
     "that the default port follows it.",
     HELP_OPTION},
    {"-requiretls", S | P | FULL, "Switches to TLS with STARTTLS and ends the run when the "
     "server does not offer it.", HELP_OPTION},
    {"-starttls", S | P | FULL, "Switches to TLS with STARTTLS when the server offers it, else "
     "goes on in clear.", HELP_OPTION},
    {"-secureport", S | P | FULL, "Speaks TLS from the first byte (port 465 by default).",
     HELP_OPTION},
    {"-verify", S | P | FULL, "Checks the server's certificate against the system's trusted "
     "authorities and the host name; without it any certificate is accepted.", HELP_OPTION},
    {"-tls-ciphers:ciphers", S | P | FULL, "TLS cipher list in libtls syntax (for example "
     "secure).", HELP_OPTION},
    {"-tls-protocols:proto[,proto...]", S | P | FULL, "TLS protocol versions in libtls syntax "
     "(for example tlsv1.2,tlsv1.3).", HELP_OPTION},
    {"-timeout:seconds", S | P, "Time-out of every network wait in seconds (300 by default){; "
     "a TLS handshake waits at most 5 seconds at a time}. A value outside 1 to 2147483 is refused.",
     HELP_OPTION},
    end(),

    title("Delivery Status Notification (DSN) / Message Disposition Notification (MDN)"),
    start(),
    {"-dsn:options", S | P, "Asks for delivery status notifications: N never, S on success, F "
     "on failure, D when delayed, in either case; other characters are skipped. For example "
     "-dsn:SF. Sent only to servers that offer DSN.",
     HELP_OPTION},
    {"-dsnid:id", S | P, "Envelope identifier returned in the notifications (1 to 100 "
     "characters).", HELP_OPTION},
    {"-mdn", S | F | P, "Asks the reader's mail program for a read notification to the "
     "sender.", HELP_OPTION},
    end(),

    title("DomainKeys Identified Mail (DKIM)", FULL),
    para("The message is signed when a key is registered for the sender's domain or, failing "
         "that, for the -dkim-default: domain; without either it goes out unsigned.", FULL),
    start(FULL),
    {"-dkim:domain:selector:key", S | F | P | FULL, "Registers a private key file (RSA or "
     "Ed25519, PEM, not encrypted) for a signing domain and selector. A key that cannot be "
     "used ends the run.", HELP_OPTION},
    {"-dkim-default:domain", S | F | P | FULL, "Domain whose key signs when no key fits the "
     "sender's domain.", HELP_OPTION},
    {"-dkim-algo:algorithm", S | F | P | FULL, "Signing algorithm: rsa-sha256, rsa-sha1, "
     "ed25519-sha256, all, or best (rsa-sha256 and ed25519-sha256, used when none is given). "
     "Given more than once, each adds.", HELP_OPTION},
    {"-dkim-canon:canon", S | F | P | FULL, "Canonicalisation of header and body: s/s, s/r, "
     "r/r, r/s (s simple, r relaxed; s/s by default) or all (one signature with each). The "
     "last one given counts.",
     HELP_OPTION},
    {"-no-dkim", S | F | P | FULL, "Sends the message unsigned.", HELP_OPTION},
    end(FULL),

    title("Debugging"),
    start(),
    {"-d", S | P, "Prints the SMTP dialogue on standard output.", HELP_OPTION},
    {"-dd", S | P, "As -d, with time stamps and the network library's notes.", HELP_OPTION},
    end(),

    title("Command Line Only"),
    start(),
    {"-body-literal", S | F, "-body-file: reads the file as it stands, line ends unchanged.",
     HELP_OPTION},
    {"-clutf8", S | F | P | CMD, "Accepted for compatibility: the arguments are UTF-8 "
     "already.", HELP_OPTION},
    {"-encryptpass:password", CMD | FULL, "Prints the password in encrypted form and ends; "
     "-host: takes that text in place of the password.", HELP_OPTION},
    {"-bindpass", CMD | FULL, "With -encryptpass:, binds the encrypted password to this "
     "computer: it can be decrypted only here.", HELP_OPTION},
    {"-config:file", S | F | P | CMD, "Applies a configuration file before the command line; "
     "one that cannot be opened ends the run.", HELP_OPTION},
    {"-nodefault", S | F | P | CMD, "Skips the default configuration file.", HELP_OPTION},
    {"-skipnofile", S | F | CMD, "Leaves out an attachment whose file cannot be added instead "
     "of ending the run.", HELP_OPTION},
    {"/?", CMD, "Prints this help wrapped to the width of the terminal (80 columns when the "
     "output is no terminal) and ends with status 1; nothing is sent.", HELP_OPTION},
    {"-doc", CMD, "Prints this help at 120 columns, for reading in a file, and ends with status 0.",
     HELP_OPTION},
    {"-asciidoc", CMD, "Prints this help as AsciiDoc and ends with status 0 (any word that begins "
     "with -asciidoc does).", HELP_OPTION},
    end(),

    {"", 0, "", HELP_END},
};

namespace {

// The one place where the words of the two programs' help part: a text
// in this program's words. What stands in braces only the full program
// says; the plain program's help leaves it out.
std::string program_text(const char *text)
{
    std::string out;
    bool full_only = false;
    for (const char *p = text; *p; p++) {
        if (*p == '{' || *p == '}')
            full_only = *p == '{';
        else if (mail_full_program || !full_only)
            out += *p;
    }
    return out;
}

// The rows this program shows, up to the end row, with their texts in its
// words (program_text): the full-only rows are left out where the program
// does not know those words.
struct ShownRows {
    std::vector<HelpRow> rows;
    std::deque<std::string> texts; // the rows' texts: a deque keeps them in place
};

ShownRows shown_rows(const HelpRow *table)
{
    ShownRows shown;
    for (const HelpRow *row = table; row->type != HELP_END; row++) {
        if ((row->modes & HELP_FULL_ONLY) && !mail_full_program)
            continue;
        shown.texts.push_back(program_text(row->text));
        shown.rows.push_back(*row);
        shown.rows.back().text = shown.texts.back().c_str();
    }
    return shown;
}

bool next_is_paragraph(const std::vector<HelpRow> &rows, size_t i)
{
    return i + 1 < rows.size() && rows[i + 1].type == HELP_PARAGRAPH;
}

int letter_count(const char *letters)
{
    size_t n = strlen(letters ? letters : "");
    return static_cast<int>(n < HELP_LETTERS_SIZE - 1 ? n : HELP_LETTERS_SIZE - 1);
}

// One sink with its first error kept: after a failure nothing more is
// handed to it.
struct HelpOut {
    FmtSink sink;
    void *user;
    bool ok = true;
    void put(const char *text, size_t len)
    {
        if (ok && len)
            ok = sink(user, text, len) != 0;
    }
    void put(const char *text) { put(text, strlen(text)); }
    void spaces(size_t n)
    {
        static const char blanks[] = "                                ";
        for (; n; n -= n < sizeof blanks - 1 ? n : sizeof blanks - 1)
            put(blanks, n < sizeof blanks - 1 ? n : sizeof blanks - 1);
    }
};

const char word_breaks[] = " \t\r\n";

// The words of a text, split at blanks, TABs and line ends (a run of them
// is one break).
std::vector<std::string> words_of(const char *text)
{
    std::vector<std::string> words;
    for (const char *p = text + strspn(text, word_breaks); *p; p += strspn(p, word_breaks)) {
        size_t len = strcspn(p, word_breaks);
        words.emplace_back(p, len);
        p += len;
    }
    return words;
}

// Prints words from column col; a line that would reach width is broken
// first, continuation lines start at column indent. A line holds at most
// width - 1 characters unless its one word is longer. The blank after a
// word counts in the column at once but is written only when another word
// follows on the same line, so no line ends in a blank.
// blank: the words follow a blank of the caller's that is not written yet.
void wrap(HelpOut &out, const std::vector<std::string> &words, size_t width, size_t indent, size_t col,
          bool blank = false)
{
    size_t line_start = col;
    for (const std::string &word : words) {
        // A word alone on its line stays there even when it is too long:
        // breaking first would only add an empty line.
        if (col + word.size() >= width && col > line_start) {
            out.put("\n");
            out.spaces(indent);
            col = line_start = indent;
            blank = false;
        }
        if (blank)
            out.put(" ");
        out.put(word.data(), word.size());
        col += word.size();
        blank = col + 1 < width;
        if (blank)
            col++;
    }
}

// A title between "##" marks. Wrapped when it is wider than the line, each
// mark kept with its neighbouring word, so that no line holds a mark alone.
std::vector<std::string> title_words(const char *text)
{
    std::vector<std::string> words = words_of(text);
    if (words.empty())
        return {"## ##"};
    words.front() = "## " + words.front();
    words.back() += " ##";
    return words;
}

// Where the description of an option row goes when the width leaves too
// little room for it beside the option column: below the option, indented
// this much.
const size_t stacked_indent = 4;
// The room beside the option column that a description needs at least.
const size_t description_room_min = 30;

// What a failed write to standard output means: a reader that has gone
// (a closed pipe, as "| head" leaves) is told apart from a real failure.
int write_failure(int code)
{
    return plat_error_is_closed_pipe(code) ? HELP_FAIL_CLOSED : HELP_FAIL_WRITE;
}

// The sink into standard output; user: an int that takes the system error
// of the first failed write, read right after it.
int stdout_sink(void *user, const char *text, size_t len)
{
    if (fmt_file_sink(stdout, text, len))
        return 1;
    int *error = static_cast<int *>(user);
    if (!*error)
        *error = plat_last_error();
    return 0;
}

// Ends writing to standard output: everything flushed and no error on the
// way. The banner printed before the help counts too. error: what a
// failed write of the help recorded, 0 for none.
int stdout_done(int error)
{
    if (error)
        return write_failure(error);
    if (fflush(stdout) != 0)
        return write_failure(plat_last_error());
    return ferror(stdout) ? HELP_FAIL_WRITE : HELP_PRINTED;
}

} // namespace

char *help_mode_letters(uint64_t mask, const char *letters, int count, char *out)
{
    int n = count < 0 ? 0 : count > HELP_LETTERS_SIZE - 1 ? HELP_LETTERS_SIZE - 1 : count;
    int given = letter_count(letters);
    for (int j = 0; j < n; j++)
        out[j] = (mask >> j) & 1 && j < given ? letters[j] : '-';
    out[n] = '\0';
    return out;
}

int help_write_text(FmtSink sink, void *user, const HelpRow *table, const char *letters, int width)
{
    HelpOut out{sink, user};
    size_t w = static_cast<size_t>(width > 0 ? width : plat_console_width());
    ShownRows shown = shown_rows(table);
    const std::vector<HelpRow> &rows = shown.rows;
    size_t longest = 0;
    for (const HelpRow &row : rows)
        if (row.type == HELP_OPTION && strlen(row.option) > longest)
            longest = strlen(row.option);
    int count = letter_count(letters);
    // Option text, padding to column longest + 1, letters, one blank.
    size_t column = longest + static_cast<size_t>(count) + 2;
    // Lines hold at most w - 1 characters: beside the option column when
    // the room there is wide enough, else below the option.
    bool beside = w > column + description_room_min;
    for (size_t i = 0; i < rows.size(); i++) {
        const HelpRow &row = rows[i];
        switch (row.type) {
        case HELP_TITLE:
            wrap(out, title_words(row.text), w, 0, 0);
            out.put("\n\n");
            break;
        case HELP_PARAGRAPH:
            wrap(out, words_of(row.text), w, 0, 0);
            out.put(next_is_paragraph(rows, i) ? "\n" : "\n\n");
            break;
        case HELP_OPTION: {
            char marks[HELP_LETTERS_SIZE];
            help_mode_letters(row.modes, letters, count, marks);
            std::vector<std::string> description = words_of(row.text);
            if (beside) {
                out.put(row.option);
                out.spaces(longest + 1 - strlen(row.option));
                out.put(marks);
                wrap(out, description, w, column, column, true);
            } else {
                std::vector<std::string> head = words_of(row.option);
                head.push_back(marks);
                wrap(out, head, w, stacked_indent, 0);
                if (!description.empty()) {
                    out.put("\n");
                    out.spaces(stacked_indent);
                    wrap(out, description, w, stacked_indent, stacked_indent);
                }
            }
            out.put("\n\n");
            break;
        }
        default:
            break;
        }
    }
    return out.ok;
}

const char *help_failure_text(int result)
{
    return result == HELP_FAIL_NOMEM ? "out of memory" : "write error";
}

int help_print_text(const HelpRow *table, const char *letters, int width)
{
    int error = 0;
    if (!help_write_text(stdout_sink, &error, table, letters, width) && !error)
        return HELP_FAIL_WRITE;
    return stdout_done(error);
}

char *help_asciidoc_escape(const char *text)
{
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : ""); *p; p++) {
        if (*p == '*')
            out += "&#42;";
        else if (*p == '|')
            out += "\\|";
        else if ((*p < 0x20 && *p != '\t' && *p != '\n' && *p != '\r') || *p == 0x7f)
            continue; // a control byte has no place in a document
        else
            out += static_cast<char>(*p);
    }
    return strdup(out.c_str());
}

char *help_asciidoc_heading(StrBuf *sb, const char *title, int level)
{
    for (int i = 0; i < level; i++)
        sbuf_printf(sb, "=");
    return sbuf_printf(sb, " %s\n", title ? title : "");
}

namespace {

// One word of a description with its markup; sep is what followed it in
// the text ("" after the last word).
void inline_word(StrBuf *sb, const char *text, size_t len, const char *sep)
{
    std::string word(text, len);
    char *escaped = help_asciidoc_escape(word.c_str());
    if (!escaped) {
        sb->flags |= STRBUF_NOMEM; // a piece left out must not pass for the whole
        return;
    }
    size_t n = strlen(escaped);
    char last = n ? escaped[n - 1] : 0;
    int cut = static_cast<int>(n) - 1;
    if (escaped[0] == '-' && n > 1 && (last == ')' || last == ',' || last == '.'))
        sbuf_printf(sb, "_%.*s_%c%s", cut, escaped, last, sep); // the option word in italics
    else if (strcmp(escaped, "-") == 0)
        sbuf_printf(sb, "%s%s", escaped, sep);
    else if (escaped[0] == '-')
        sbuf_printf(sb, "_%s_%s", escaped, sep);
    else if (n >= 3 && escaped[0] == '(' && escaped[2] == ')')
        sbuf_printf(sb, "**%.*s**%s%s", 3, escaped, escaped + 3, sep); // a mode marker such as (S)
    else if (n >= 3 && escaped[0] == '(' && escaped[1] == '-')
        sbuf_printf(sb, "(_%s_%s", escaped + 1, sep);
    else
        sbuf_printf(sb, "%s%s", escaped, sep);
    free(escaped);
}

} // namespace

char *help_asciidoc_inline(StrBuf *sb, const char *text)
{
    const char *p = text ? text : "";
    while (*p == ' ')
        p++;
    while (*p) {
        // A word runs to the next blank outside double quotes.
        const char *start = p;
        bool quoted = false;
        for (; *p && (quoted || *p != ' '); p++)
            if (*p == '"')
                quoted = !quoted;
        size_t len = static_cast<size_t>(p - start);
        while (*p == ' ')
            p++;
        inline_word(sb, start, len, *p ? " " : "");
    }
    return sb->flags & STRBUF_NOMEM ? nullptr : sbuf_printf(sb, "%s", "");
}

char *help_build_asciidoc(StrBuf *sb, const char *banner, const char *title, const HelpRow *table,
                          const char *letters)
{
    help_asciidoc_heading(sb, title, 2);
    sbuf_printf(sb, "%s\n\n", banner ? banner : "");
    ShownRows shown = shown_rows(table);
    const std::vector<HelpRow> &rows = shown.rows;
    int count = letter_count(letters);
    for (size_t i = 0; i < rows.size(); i++) {
        const HelpRow &row = rows[i];
        switch (row.type) {
        case HELP_TITLE: {
            char *escaped = help_asciidoc_escape(row.text);
            if (!escaped)
                return nullptr;
            help_asciidoc_heading(sb, escaped, 3);
            free(escaped);
            break;
        }
        case HELP_PARAGRAPH:
            help_asciidoc_inline(sb, row.text);
            sbuf_printf(sb, "%s", next_is_paragraph(rows, i) ? " +\n" : "\n\n");
            break;
        case HELP_TABLE_START:
            sbuf_printf(sb, "[cols=\"90%%,10%%\"]\n|===\n");
            break;
        case HELP_OPTION: {
            char *escaped = help_asciidoc_escape(row.option);
            if (!escaped)
                return nullptr;
            char shown[HELP_LETTERS_SIZE];
            sbuf_printf(sb, "|*%s* | *%s*\n2+|", escaped,
                        help_mode_letters(row.modes, letters, count, shown));
            free(escaped);
            help_asciidoc_inline(sb, row.text);
            sbuf_printf(sb, "\n");
            break;
        }
        case HELP_TABLE_END:
            sbuf_printf(sb, "|===\n");
            break;
        default:
            break;
        }
    }
    return sb->flags & STRBUF_NOMEM ? nullptr : sbuf_printf(sb, "%s", "");
}

int help_print_asciidoc(const char *banner, const char *title, const HelpRow *table,
                        const char *letters)
{
    StrBuf sb = {};
    if (!help_build_asciidoc(&sb, banner, title, table, letters)) {
        sbuf_release(&sb);
        return HELP_FAIL_NOMEM;
    }
    int error = 0;
    bool written = stdout_sink(&error, sb.data, sb.length) != 0;
    sbuf_release(&sb);
    if (!written && !error)
        return HELP_FAIL_WRITE;
    return stdout_done(error);
}
