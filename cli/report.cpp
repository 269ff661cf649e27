// Printing what the session reports: the status callback decides what a
// user must see and whether the message went through; the trace callback
// prints the protocol dialogue for -d and -dd.
#include "cli/cli.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "support/fmt.h"
#include "support/hex.h"
#include "support/rand.h"
#include "support/str.h"

namespace {

void print_to(FILE *fp, const char *format, va_list ap)
{
    fmt_vformat(fmt_file_sink, fp, nullptr, nullptr, format, ap);
}

void escape_byte(std::string *out, unsigned char c)
{
    const char *hex = HEX_DIGITS_LOWER;
    *out += "\\x";
    *out += hex[c >> 4];
    *out += hex[c & 15];
}

// 1 for the characters that a terminal or a text viewer takes as a
// command or a line break although they are no ASCII control: the C1
// controls (U+0080 to U+009F) and the line and paragraph separators.
bool drives_terminal(uint32_t cp)
{
    return (cp >= 0x80 && cp <= 0x9f) || cp == 0x2028 || cp == 0x2029;
}

// A text with the bytes that could drive a terminal shown as "\xHH": the
// ASCII controls, every byte that is no part of well-formed UTF-8, and
// the characters of drives_terminal. The trace (whole) keeps TAB, which
// lines on the wire hold as a separator; messages escape it too.
std::string printable(const char *text, size_t left, bool whole)
{
    std::string out;
    const char *p = text ? text : "";
    while (left) {
        unsigned char c = static_cast<unsigned char>(*p);
        uint32_t cp = c;
        size_t n = c < 0x80 ? 1 : utf8_decode(p, left, &cp);
        bool control = c < 0x20 || c == 0x7f;
        if ((control && !(whole && c == '\t')) || n == 0 || drives_terminal(cp)) {
            n = n ? n : 1;
            for (size_t i = 0; i < n; i++)
                escape_byte(&out, static_cast<unsigned char>(p[i]));
        } else {
            out.append(p, n);
        }
        p += n;
        left -= n;
    }
    return out;
}

} // namespace

namespace {
const char *message_origin = nullptr;
}

void cli_set_message_origin(const char *origin) { message_origin = origin; }

std::string cli_message_origin(void) { return message_origin ? message_origin : "the command line"; }

void cli_error(const char *format, ...)
{
    // What standard output holds goes out first, so that a message printed
    // after the banner also follows it when both streams share one file.
    fflush(stdout);
    if (message_origin)
        fmt_fprintf(stderr, "%s: ", message_origin);
    va_list ap;
    va_start(ap, format);
    print_to(stderr, format, ap);
    va_end(ap);
}

void cli_out(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    print_to(stdout, format, ap);
    va_end(ap);
}

std::string cli_printable(const char *text)
{
    return printable(text, text ? strlen(text) : 0, false);
}

char *cli_format_stamp(char *buf, size_t size, uint64_t now_ns)
{
    uint64_t elapsed = now_ns >= cli_start_ns ? now_ns - cli_start_ns : 0;
    int seconds = static_cast<int>(elapsed / 1000000000u);
    int millis = static_cast<int>((elapsed / 1000000u) % 1000u);
    // A fixed format for the standard formatter; "%.3d" pads the
    // milliseconds to three digits.
    snprintf(buf, size, "[%d.%.3d] ", seconds, millis);
    return buf;
}

int cli_status_report(void *user, int stage, int result, const char *text)
{
    const MailContext *ctx = static_cast<const MailContext *>(user);
    const char *shown = text ? text : "";
    if (stage == MAIL_STAGE_ATTACHMENT) {
        // The attachment is left out and the message goes on.
        cli_error("%s\n", cli_printable(shown).c_str());
        return MAIL_ANSWER_CONTINUE;
    }
    if (stage == MAIL_STAGE_AUTH && result == MAIL_RESULT_FAILED) {
        cli_error("%s\n", cli_printable(shown).c_str());
        cli_failure_printed = 1;
        return MAIL_ANSWER_QUIT;
    }
    if (stage == MAIL_STAGE_RCPT && result == MAIL_RESULT_FAILED) {
        cli_error("Recipient %s rejected (%s)\n", cli_printable(shown).c_str(),
                  cli_printable(ctx ? mail_last_error(ctx) : "").c_str());
        return MAIL_ANSWER_CONTINUE;
    }
    if (stage == MAIL_STAGE_NO_RECIPIENTS) {
        cli_send_succeeded = 0;
        return MAIL_ANSWER_QUIT;
    }
    // Only the report that the data was accepted marks success; any fatal
    // report, also one after the data, marks failure.
    if (stage == MAIL_STAGE_DATA || result == MAIL_RESULT_FATAL) {
        cli_send_succeeded = result == MAIL_RESULT_OK;
        return MAIL_ANSWER_QUIT;
    }
    return MAIL_ANSWER_CONTINUE;
}

int cli_trace_print(void *, int direction, const char *text)
{
    if (cli_timestamps) {
        char stamp[32];
        cli_out("%s", cli_format_stamp(stamp, sizeof stamp, time_now_ns()));
    }
    // Each trace line ends in LF on standard output, whatever line end it
    // had on the wire (CR LF), so that the trace reads as the text it is.
    // Whatever else the text holds may come from the server and is shown
    // printable. A line sent without a line end of its own (the part of an
    // over-long line, data that ends within a line) still ends its trace
    // line; a note without one is printed as it is.
    const char *given = text ? text : "";
    size_t size = strlen(given), end = size;
    if (end && given[end - 1] == '\n')
        end -= end > 1 && given[end - 2] == '\r' ? 2 : 1;
    std::string shown = printable(given, end, true);
    if (end < size || direction >= 0)
        shown += "\n";
    if (direction < 0)
        cli_out("%s", shown.c_str());
    else
        cli_out("%s %s", direction == MAIL_TRACE_SENT ? ">" : "<", shown.c_str());
    return 1;
}
