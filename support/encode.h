// Encoders for the message and the protocols: base64 and base64url, a
// decoder for both alphabets, uuencode and yEnc lines, a streaming
// quoted-printable encoder whose state the caller keeps, and a
// percent-encoder and quoted-printable decoder.
// The encoders write into caller buffers sized with the helpers below and
// return the number of bytes written; none of them writes a NUL (except
// pct_encode).
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    UU_LINE_MAX_BYTES = 45,   // input bytes per uuencoded line
    B64_LINE_BYTES = 57,      // input bytes per 76-character base64 line
    QP_LINE_MAX = 76,         // longest quoted-printable line, "=" included
};

constexpr size_t b64_encoded_size(size_t n) { return (n + 2) / 3 * 4; }
constexpr size_t b64_decoded_max(size_t n) { return (n + 3) / 4 * 3; }
constexpr size_t uu_line_size(size_t n) { return 1 + (n + 2) / 3 * 4; }
constexpr size_t yenc_max_output(size_t n) { return 2 * n; }
// Every input byte may become "=XX", and a soft break "=\r\n" may precede
// it; the flush writes at most a soft break and two held-back bytes.
constexpr size_t qp_max_output(size_t n) { return 6 * n + 12; }
enum { QP_FLUSH_MAX = 12 };

// base64 (with padding) / base64url (without). len < 0: data is a
// NUL-terminated text.
size_t b64_encode(const void *data, ptrdiff_t len, char *out);
size_t b64_encode_url(const void *data, ptrdiff_t len, char *out);
// Decodes either alphabet; unknown characters count as value 0.
size_t b64_decode(const char *text, ptrdiff_t len, unsigned char *out);

// One uuencoded line without its line end; 0 for more than 45 bytes.
size_t uu_encode_line(const void *data, size_t len, char *out);
// yEnc bytes without line breaks; 0 for an empty input.
size_t yenc_encode(const void *data, size_t len, char *out);

// Streaming quoted-printable state, kept by the caller between slices and
// zeroed before the first one. `pending` holds a CR whose line end is not
// known yet (text mode); `held` a space or TAB that is written encoded if a
// hard line break or the end of the data follows it and plain otherwise.
struct QpState {
    int column;    // characters on the current output line
    char pending;  // '\r' or 0
    char held;     // ' ', '\t' or 0
};

// Encodes count bytes of data (data NULL: flush at the end of the body).
// text: non-zero for text bodies (CR LF is a hard line break), 0 for binary
// data (every CR and LF is encoded).
size_t qp_encode(QpState *st, const void *data, ptrdiff_t count, char *out, int text);

// Percent-encoding of a form value; out always NUL-terminated within size.
char *pct_encode(const char *text, char *out, size_t size);
// Quoted-printable decoding; 0 for an escape cut off outside line mode.
size_t qp_decode(const char *text, size_t len, char *out, int line_mode);
