// String helpers: bounded copy and append that always terminate, comparison
// through a fixed case-folding table, tokenizers, whole-file readers, a line
// iterator (LF, CR LF and lone CR), the line taker that wraps plain-text
// bodies at a given width, and the UTF-8 decoder with its validity and
// ASCII tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Entry i equals i, except that "a" to "z" fold to "A" to "Z".
extern const uint32_t str_fold_table[256];

// Copies at most size - 1 bytes and terminates; NULL (nothing written) for
// size 0.
char *str_copy_bounded(char *dst, const char *src, size_t size);
// Appends so that the whole text stays within size bytes. NULL (nothing
// written) for size 0 or when dst already fills size bytes without a NUL.
char *str_append_bounded(char *dst, const char *src, size_t size);

// 0 when equal ignoring case, else +/- the 1-based position of the first
// difference (sign: which text folds higher there).
int str_casecmp(const char *a, const char *b);
int str_ncasecmp(const char *a, const char *b, long n);

// strtok_r with an explicit cursor: text NULL continues at *cursor.
char *str_token(char *text, const char *delims, char **cursor);
// The same without writing into the text: the start of the next token (its
// length in *len), delimiters inside quote characters belonging to it.
const char *str_token_quoted_len(const char *text, const char *delims, char quote,
                                 const char **cursor, size_t *len);
// str_token with the quote rule of str_token_quoted_len.
char *str_token_quoted(char *text, const char *delims, char quote, char **cursor);

// Cap of the whole-file readers: a larger file is refused.
enum : size_t { STR_FILE_READ_MAX = (size_t)1 << 34 };

// Why a whole-file reader returned NULL (its optional `why`).
enum {
    STR_READ_OK = 0,
    STR_READ_ERROR = 1,   // the stream reported a read error
    STR_READ_NOMEM = 2,   // memory ran out
    STR_READ_TOO_BIG = 3, // the text would pass STR_FILE_READ_MAX (or the reader's cap)
    STR_READ_NUL = 4,     // a NUL byte was read where the reader refuses one
};

// Every remaining byte of the stream plus a NUL (the text may hold NULs);
// NULL on a read error, when memory runs out or past STR_FILE_READ_MAX.
// *len gets the byte count on success and is untouched on failure; why,
// when given, gets STR_READ_OK or the reason of the failure.
char *file_read_all(FILE *fp, size_t *len, int *why = nullptr);
// The stream as text with every line end (LF, CR LF, lone CR) made CR LF,
// also when a CR LF pair straddles two reads; failures as file_read_all.
// len, when given, gets the length. A stream of more than cap bytes fails
// with STR_READ_TOO_BIG, and with refuse_nul a NUL byte fails it with
// STR_READ_NUL: both as soon as the bytes are read, so that neither the
// rest of a huge text nor an endless one (/dev/zero) is read.
char *file_read_text_crlf(FILE *fp, size_t *len = nullptr, int *why = nullptr,
                          size_t cap = STR_FILE_READ_MAX, bool refuse_nul = false);

// Streaming line-end conversion: every LF, CR LF and lone CR becomes CR LF,
// also when a CR LF pair straddles two calls. out needs 2 * len bytes;
// returns the bytes written. Start with a zeroed state.
struct CrlfState {
    int after_cr; // the last byte seen was a CR (already written as CR LF)
};
size_t str_crlf_convert(CrlfState *st, const char *in, size_t len, char *out);

// The next line from *cursor: its start, its length (without the line end)
// in *len; NULL at the end. With an end bound only the bound ends the text
// (NUL bytes before it belong to lines); without one the NUL ends it.
const char *str_next_line(const char **cursor, size_t *len, const char *end);

// The next output line of at most n characters into out (n + 1 bytes);
// *cursor becomes NULL once the text is finished. NULL when *cursor is NULL.
// A line filled to exactly n characters takes one following space and a
// following line end with it, so no empty line follows it. n 0 ends the
// text at once (empty line, *cursor NULL).
char *str_wrap_next_line(const char **cursor, char *out, size_t n);
// The line taker behind it, giving each line as a run of the text: its
// start, its length in *len. A word longer than n stands whole on a line of
// its own as long as it has at most max bytes (max below n counts as n);
// only a longer one is cut, filling its line to max bytes, never inside a
// UTF-8 character. NULL when *cursor is NULL.
const char *str_wrap_next_span(const char **cursor, size_t *len, size_t n, size_t max);
// The length of the longest run of bytes other than space, TAB, CR and LF
// in the len bytes at text (NUL bytes count as word bytes).
size_t str_longest_word(const char *text, size_t len);

// The one secret wiper: overwrites n bytes with zeros in a way the compiler
// keeps although the memory is freed or goes out of scope next.
void mem_wipe(void *p, size_t n);
// Wipes a secret text (password, token) with mem_wipe and frees it; NULL
// is allowed.
void str_free_secret(char *text);

// What stands for a secret in every text shown to a user: "****".
extern const char str_secret_mask[];
// What a secret is to str_mask_secrets: a base64 text of a login (an AUTH
// response, "user:password" as a proxy's Basic login sends it), or a
// password as typed, which goes out in base64 forms.
enum : int { STR_SECRET_SENT = 0, STR_SECRET_PASSWORD = 1 };
struct StrSecret {
    const char *text; // NULL or empty: nothing to mask
    int kind;         // STR_SECRET_*
};
// The shortest piece of a base64 text of a login, and the shortest base64
// form of a password, that is masked: four base64 letters carry three
// bytes. A word of a message is such a piece only by a chance of about one
// in 64^4 per letter of the secret.
enum : size_t { STR_MASK_PIECE_MIN = 4 };
// The shortest piece of a password as typed that is masked. A password is
// often made of words; a shorter piece of it is mostly a word of the
// message, and blanking it would tell which words the password holds.
enum : size_t { STR_MASK_PASSWORD_PIECE_MIN = 8 };
// The shortest secret masked wherever it stands; a shorter one is masked
// only where it stands alone (no run of base64 letters goes on across its
// edges), so a short password does not blank those letters in every word
// of a message.
enum : size_t { STR_MASK_WHOLE_MIN = 6 };
// A heap copy of text in which these bytes are replaced by
// str_secret_mask, masked bytes that touch becoming one mask:
// - each occurrence of one of the count secrets (NULL and empty ones
//   skipped), one shorter than STR_MASK_WHOLE_MIN only where it stands
//   alone;
// - each run of base64 letters (A-Z a-z 0-9 + / =; a run ends after its
//   "=" signs, which end a base64 text) that lies inside a base64 text of
//   a login and is at least STR_MASK_PIECE_MIN long, or inside a password
//   and at least STR_MASK_PASSWORD_PIECE_MIN long (an echo cut short);
// - each run that holds a password's base64 at any of the three
//   alignments (the password alone, or after 1 or 2 other bytes inside a
//   longer base64 text such as PLAIN's or "user:password"): the letters
//   that stand for the password's bytes alone, when there are at least
//   STR_MASK_PIECE_MIN of them.
// NULL when memory ran out.
char *str_mask_secrets(const char *text, const StrSecret *secrets, size_t count);

// ---- UTF-8 -------------------------------------------------------------------

// The one UTF-8 decoder: the character at text (at most avail bytes) into
// *cp and its length in bytes; 0 for a malformed sequence (a stray
// continuation byte, a sequence cut short by avail, an overlong form, a
// surrogate or a value beyond U+10FFFF). NUL bytes are characters too.
size_t utf8_decode(const char *text, size_t avail, uint32_t *cp);
// 1 when the len bytes are well-formed UTF-8 throughout, else 0.
int utf8_valid_n(const char *text, size_t len);
// The same for a NUL-terminated text; NULL counts as valid.
int utf8_valid(const char *text);
// 1 when text (or no text) has no byte of 0x80 or more.
int str_is_ascii(const char *text);

char *str_lower_ascii(char *text);
int str_tolower_char(int c);
char *str_upper_ascii(char *text);
int str_toupper_char(int c);

// Library helpers that the program itself does not call.
char *str_from_wide(const char16_t *text);    // heap UTF-8, NULL if malformed
char16_t *str_to_wide(const char *text);      // heap UTF-16, NULL if malformed
int str_has_nonprint(const char *text);       // a byte outside 0x20..0x7e
int int_abs(int v);
char *str_append_int_bounded(char *dst, int v, size_t size);
char *str_append_u64_bounded(char *dst, uint64_t v, size_t size);
char *str_append_char_bounded(char *dst, char c, size_t size);
const char *str_contains_nocase(const char *text, const char *needle);
char *str_reverse(char *text);
char *str_cut_line_end(char *text);
char *str_keep_alnum_space(char *text, char *out);
// First position before end (NULL: the whole text) whose byte is in set;
// *pos gets it, or where the search stopped when none is found.
const char *str_find_any_bounded(const char *text, const char *set, const char **pos,
                                 const char *end);
