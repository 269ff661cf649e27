// Encoders for the message and the protocols: base64 and base64url, a
// decoder for both alphabets, uuencode and yEnc lines, a streaming
// quoted-printable encoder whose state the caller keeps, and a
// percent-encoder and quoted-printable decoder.
// The encoders write into caller buffers sized with the helpers below and
// return the number of bytes written; none of them allocates or writes a NUL
// (except the percent-escapers). None of them checks the room it is given.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    UU_LINE_MAX_BYTES = 45, // input bytes per uuencoded line ("M" as its length)
    B64_LINE_BYTES = 57,    // input bytes per 76-character base64 line
    QP_LINE_MAX = 76,       // longest quoted-printable line, a closing "=" included
    QP_FLUSH_MAX = 12,      // room the quoted-printable flush needs (it writes at most 10)
};

// base64 / base64url of n bytes (4 characters per started group of 3;
// base64url without padding writes no more than that).
constexpr size_t b64_encoded_size(size_t n) { return (n + 2) / 3 * 4; }
// Room b64_decode needs for n characters: it writes 3 bytes for every
// started group of 4, even where it returns fewer.
constexpr size_t b64_decoded_max(size_t n) { return (n + 3) / 4 * 3; }
// One uuencoded line of n (at most 45) bytes, without its line end.
constexpr size_t uu_line_size(size_t n) { return 1 + (n + 2) / 3 * 4; }
// yEnc escapes a byte into two.
constexpr size_t yenc_max_output(size_t n) { return 2 * n; }
// One qp_encode call with n bytes: each byte written becomes at most "=XX"
// with a soft break "=\r\n" before it, and up to two bytes held back by the
// previous call (a space or TAB and a CR) may be written with it. The same
// bound with n = 0 covers the flush.
constexpr size_t qp_max_output(size_t n) { return 6 * n + QP_FLUSH_MAX; }
// qp_decode of n characters (CR LF appended in line mode).
constexpr size_t qp_decoded_max(size_t n) { return n + 2; }

// base64 with "=" padding / base64url without padding, no line breaks.
// len < 0: data is a NUL-terminated text and its strlen is used.
size_t b64_encode(const void *data, ptrdiff_t len, char *out);
size_t b64_encode_url(const void *data, ptrdiff_t len, char *out);
// Decodes either alphabet ("+" and "-" are 62, "/" and "_" are 63). It never
// fails: any other character ("=", spaces, line ends) counts as the value 0,
// so a damaged text gives wrong bytes, and the caller judges the result.
// Returns the decoded length: padded base64 and unpadded base64url both give
// their exact length; a last character alone in its group carries no byte.
// len <= 0 decodes nothing.
size_t b64_decode(const char *text, ptrdiff_t len, unsigned char *out);

// One uuencoded line without its line end: the length character (32 + len)
// and 4 characters per started group of 3 bytes, 0 written as "`".
// Returns 0 and writes nothing for more than UU_LINE_MAX_BYTES bytes.
size_t uu_encode_line(const void *data, size_t len, char *out);
// yEnc of len bytes without line breaks: NUL, LF, CR and "=" are escaped.
size_t yenc_encode(const void *data, size_t len, char *out);

// Streaming quoted-printable state, kept by the caller between slices and
// zeroed before the first slice of a body. Slicing a body anywhere, down to
// one byte per call, gives the same output as one call.
struct QpState {
    int column;   // characters on the current output line
    char pending; // text mode: '\r' when the last byte seen was a CR whose line end is not known yet
    char held;    // ' ' or '\t' not yet written: encoded if a hard line break or the end follows, else plain
};

// Encodes count bytes of data into out (room: qp_max_output(count)); a count
// of 0 or less writes nothing. No line is longer than QP_LINE_MAX characters,
// a line never starts with a plain "." and never ends in a plain space or TAB.
// text non-zero: CR LF is a hard line break, a lone CR or LF is encoded;
// text 0 (binary data): every CR and LF is encoded. Keep the same mode for
// every slice of a body.
// data NULL is the flush, called once after the last slice: it writes what is
// held back (a CR as "=0D", a space or TAB encoded, since the body ends
// there), at most 10 bytes, and clears pending and held; column is left as
// the characters on the last line, 0 when nothing was written. The caller
// then ends the line.
size_t qp_encode(QpState *st, const void *data, ptrdiff_t count, char *out, int text);

// The one percent-escaper: letters, digits and the bytes of keep (NULL:
// none) stay, a space becomes "+" when space_as_plus is set, any other byte
// becomes "%xx" (lower case). text NULL counts as empty. Stops before a
// replacement that would leave no room for the NUL; out is always
// NUL-terminated when size > 0. Returns out. size 3 * strlen(text) + 1 is
// always enough.
char *pct_escape(const char *text, const char *keep, int space_as_plus, char *out, size_t size);
// What a form value keeps besides letters and digits.
inline constexpr char PCT_FORM_KEEP[] = "!$'()*,-.;_";
// Percent-encoding of a form value: pct_escape with PCT_FORM_KEEP and a
// space as "+".
char *pct_encode(const char *text, char *out, size_t size);
// Quoted-printable decoding into out (room: qp_decoded_max(len)). "=XX"
// (either case) gives the byte, "=" before CR LF, CR or LF is a soft line
// break, "=" with two other characters gives nothing. In line mode CR LF is
// appended unless the text ends in "=" (a soft break at its end). Outside line
// mode an escape cut off by the end of the text makes the result 0.
size_t qp_decode(const char *text, size_t len, char *out, int line_mode);
