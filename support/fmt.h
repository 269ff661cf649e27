// The formatted-output engine, its sinks, the program's one print function
// (msg_printf) and the growable string buffer.
// The engine walks a format in the program's own small printf dialect
// (%d %i %D %I %u %x %o %b %c %f %s %S %.*s %%, backslash escapes in the
// format), stages the text in a 4096-byte buffer and hands finished pieces,
// with their lengths, to a sink. Chosen arguments can be masked: each of
// their bytes is printed as one "*".
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// A sink takes one piece of text of len bytes (the piece may hold NUL bytes
// and need not be NUL-terminated: sinks go by len). It returns 1 when it
// took the piece and 0 when it failed. A sink that failed keeps its first
// error and the engine hands it nothing more for the rest of that format.
typedef int (*FmtSink)(void *user, const char *text, size_t len);

// Optional per-character filter for %s (nothing in the program passes one):
// called with the marker (const char *)1 before and after the text and with
// each character as a one-character text; returns a text to emit or NULL.
typedef const char *(*FmtFilter)(const char *ch, char *scratch, size_t scratch_size);

enum { FMT_STAGE_SIZE = 4096, FMT_FILTER_SCRATCH = 16 };

// ---- StrBuf ----------------------------------------------------------------

enum { STRBUF_NOMEM = 1 };

// A growable NUL-terminated text; a zeroed record is empty. Once growing
// has failed STRBUF_NOMEM stays set and nothing more is appended, so no
// caller can take a text with a hole in it for a whole one.
struct StrBuf {
    size_t capacity; // bytes allocated for data
    size_t length;   // text length without the NUL; < capacity once allocated
    uint32_t flags;  // STRBUF_NOMEM
    char *data;      // owned, freed with free()
};

// ---- the engine ------------------------------------------------------------

// Runs the engine. sink NULL: fmt_stdout_sink. mask NULL: nothing masked.
// Returns 1 when the sink took every piece, 0 when it failed on one.
int fmt_vformat(FmtSink sink, void *user, const unsigned char *mask, FmtFilter filter,
                const char *format, va_list ap);

// The engine into an open FILE (fmt_file_sink); 1, or 0 on a write error.
int fmt_fprintf(FILE *fp, const char *format, ...);
// The engine into any sink, no mask.
int fmt_sink_printf(FmtSink sink, void *user, const char *format, ...);

// Appends to a StrBuf (a zeroed one is first given 1024 bytes). Returns the
// buffer's data, or NULL when sb is NULL or the buffer has run out of memory.
char *sbuf_printf(StrBuf *sb, const char *format, ...);
char *sbuf_vprintf(StrBuf *sb, const char *format, va_list ap);

// Formats into a new heap text, or appends to the heap text *strp (which may
// move) and stores the result back. Returns the text, or NULL when memory ran
// out; then *strp is left as it was. The caller frees the text.
char *str_aprintf(char **strp, const char *format, ...);
char *str_vaprintf_masked(char **strp, const unsigned char *mask, FmtFilter filter,
                          const char *format, va_list ap);

// Replaces the heap text *strp with text formatted by the standard vsnprintf
// (C conversions), cut at 4095 characters. 1, or 0 when the copy failed
// (*strp is then NULL; the old text is freed in any case).
int str_set_printf(char **strp, const char *format, ...);

// Mask bitmap: argument n is masked when bit n%8 of byte n/8 is set.
void fmt_mask_set(unsigned char *mask, unsigned n, int flag);
int fmt_mask_test(const unsigned char *mask, unsigned n);

// ---- sinks -----------------------------------------------------------------

int fmt_stdout_sink(void *user, const char *text, size_t len); // user ignored
int fmt_file_sink(void *fp, const char *text, size_t len);     // FILE *
int strbuf_sink(void *sb, const char *text, size_t len);       // StrBuf *

// The program's one print function with a user pointer: the engine (no
// mask) over any sink, the sink's first failure kept in `failed`; once it
// is set later prints do nothing. The result is 1, or 0 once the sink has
// failed. The message writers print through it.
struct MsgSink {
    FmtSink sink;
    void *user;
    int failed;
};

void msg_sink_init(MsgSink *ms, FmtSink sink, void *user);
int msg_printf(void *msg_sink, const char *format, ...);

// The engine's append step on its own: appends text (len bytes) to a staging
// buffer of stage_size bytes holding *pending bytes, handing full pieces to
// the sink; masked text goes to the sink as one "*" per byte. Returns 1, or
// 0 when the sink failed.
int fmt_stage_append(char *stage, size_t stage_size, size_t *pending, int masked,
                     FmtSink sink, void *user, const char *text, size_t len);

// Growth of every StrBuf goes through this function (realloc); tests swap it
// to make growing fail.
extern void *(*strbuf_realloc)(void *ptr, size_t size);

// ---- StrBuf helpers --------------------------------------------------------

// Frees a heap StrBuf and its data.
void sbuf_free(StrBuf *sb);
// Frees the data of a StrBuf that lives elsewhere and zeroes the record.
void sbuf_release(StrBuf *sb);
// Sets the length to n, a negative n counting back from the end. 1, or 0
// (nothing changed) when the result would be negative or beyond the length.
int sbuf_set_length(StrBuf *sb, long long n);

// Frees a list of two-word cells {payload, next}; the head and every next
// point at the next-field of their cell. Sets *head to NULL.
void str_list_free(void **head);
