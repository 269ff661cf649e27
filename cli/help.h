// The help: one static table of rows, printed as wrapped plain text ("/?"
// at the console width, -doc at 120 columns) or as AsciiDoc (-asciidoc).
// The table serves both programs; rows that only the full program has are
// marked and left out at print time when the program does not know the
// full-only option words, and so are the words of a text that stand in
// braces ("header fields{, DKIM keys}").
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/fmt.h"

enum HelpRowType {
    HELP_END = 0,         // the last row of a table
    HELP_TITLE = 1,       // a section title
    HELP_PARAGRAPH = 2,   // a paragraph; an empty text is a blank line
    HELP_TABLE_START = 3, // option rows follow
    HELP_OPTION = 4,      // one option: its text, modes and description
    HELP_TABLE_END = 5,
};

// Bits of a row's mode mask. Mode letter j stands for bit j.
enum : uint64_t {
    HELP_MODE_SMTP = 1u << 0,
    HELP_MODE_FILE = 1u << 1,
    HELP_MODE_PRECON = 1u << 2,
    HELP_COMMAND_LINE_ONLY = 1u << 3, // never shown: mode letters use bits 0-2
    // The row exists only in the program that knows the full-only option
    // words (TLS, DKIM, password encryption). Far above any letter.
    HELP_FULL_ONLY = uint64_t(1) << 48,
};

struct HelpRow {
    const char *option; // option text; "" for rows that are not options
    uint64_t modes;     // HELP_MODE_* and the other HELP_* bits
    const char *text;   // description, title or paragraph
    int32_t type;       // HelpRowType
};

// The program's help, ended by a HELP_END row.
extern const HelpRow help_table[];

// The mode letters the program prints ("SFP": SMTP, File, Preconstructed).
extern const char help_letters[];

// Widths used by the front end: -doc prints at 120 columns; 0 asks for the
// width of the console behind standard output (80 when there is none).
enum { HELP_DOC_WIDTH = 120, HELP_CONSOLE_WIDTH = 0 };

// What the two printers to standard output give back.
enum {
    HELP_PRINTED = 1,      // every byte reached standard output (flushed)
    HELP_FAIL_WRITE = -1,  // standard output failed
    HELP_FAIL_NOMEM = -2,  // memory ran out before anything was printed
    HELP_FAIL_CLOSED = -3, // the reader of standard output has gone (a closed pipe)
};
// The words for a failure of the printers ("write error", "out of memory").
const char *help_failure_text(int result);

// Plain text, wrapped at width columns. HELP_PRINTED, HELP_FAIL_WRITE or
// HELP_FAIL_CLOSED.
int help_print_text(const HelpRow *table, const char *letters, int width);
// The same into any sink (the printer behind help_print_text); 1, or 0
// when the sink failed (nothing more is handed to it then).
int help_write_text(FmtSink sink, void *user, const HelpRow *table, const char *letters, int width);

// AsciiDoc with the title as level-1 heading and the banner below it.
// HELP_PRINTED, HELP_FAIL_WRITE, HELP_FAIL_CLOSED or HELP_FAIL_NOMEM (the
// text is made whole before it is printed).
int help_print_asciidoc(const char *banner, const char *title, const HelpRow *table,
                        const char *letters);
// The AsciiDoc text itself, appended to sb; the buffer's data, or NULL
// when memory ran out.
char *help_build_asciidoc(StrBuf *sb, const char *banner, const char *title, const HelpRow *table,
                          const char *letters);

// Appends a description with inline markup (option words in italics, mode
// markers such as "(S)" in bold, everything escaped) to sb; returns the
// buffer's data, or NULL when memory ran out.
char *help_asciidoc_inline(StrBuf *sb, const char *text);
// Appends level times "=" and " title\n" (the title as given) to sb.
char *help_asciidoc_heading(StrBuf *sb, const char *title, int level);
// A new heap copy of text with "*" written "&#42;", "|" written "\|" and
// control characters other than TAB, LF and CR dropped; NULL when memory
// ran out. The caller frees it.
char *help_asciidoc_escape(const char *text);

enum { HELP_LETTERS_SIZE = 16 };
// The letter string of a mode mask into out (HELP_LETTERS_SIZE bytes):
// letter j when bit j is set, else "-", for the first count letters (at
// most 15). Returns out.
char *help_mode_letters(uint64_t mask, const char *letters, int count, char *out);
