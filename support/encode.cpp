// base64 / base64url, uuencode, yEnc, quoted-printable and percent encoding.
// Everything is table driven and writes straight into the caller's buffer so
// that attachments can be encoded slice by slice at memory speed.
#include "support/encode.h"

#include <cstring>

namespace {

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kB64Url[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
const char kHexUpper[] = "0123456789ABCDEF";

// Two output characters for every 12-bit value.
struct PairTable {
    char v[4096][2];
    constexpr PairTable(const char *alphabet) : v()
    {
        for (int i = 0; i < 4096; i++) {
            v[i][0] = alphabet[i >> 6];
            v[i][1] = alphabet[i & 63];
        }
    }
};
constexpr PairTable kPairs(kB64);
constexpr PairTable kPairsUrl(kB64Url);

struct DecodeTable {
    unsigned char v[256];
    constexpr DecodeTable() : v()
    {
        for (int i = 0; i < 64; i++)
            v[static_cast<unsigned char>(kB64[i])] = static_cast<unsigned char>(i);
        v[static_cast<unsigned char>('-')] = 62;
        v[static_cast<unsigned char>('_')] = 63;
    }
};
constexpr DecodeTable kDecode;

size_t encode64(const unsigned char *in, size_t len, char *out, const PairTable &pairs,
                const char *alphabet, bool pad)
{
    char *o = out;
    size_t i = 0;
    for (; i + 3 <= len; i += 3) {
        uint32_t v = static_cast<uint32_t>(in[i]) << 16 | static_cast<uint32_t>(in[i + 1]) << 8 | in[i + 2];
        memcpy(o, pairs.v[v >> 12], 2);
        memcpy(o + 2, pairs.v[v & 0xfff], 2);
        o += 4;
    }
    size_t rest = len - i;
    if (rest) {
        uint32_t v = static_cast<uint32_t>(in[i]) << 16;
        if (rest == 2)
            v |= static_cast<uint32_t>(in[i + 1]) << 8;
        *o++ = alphabet[(v >> 18) & 63];
        *o++ = alphabet[(v >> 12) & 63];
        if (rest == 2)
            *o++ = alphabet[(v >> 6) & 63];
        else if (pad)
            *o++ = '=';
        if (pad)
            *o++ = '=';
    }
    return static_cast<size_t>(o - out);
}

size_t length_of(const void *data, ptrdiff_t len)
{
    return len < 0 ? strlen(static_cast<const char *>(data)) : static_cast<size_t>(len);
}

} // namespace

size_t b64_encode(const void *data, ptrdiff_t len, char *out)
{
    return encode64(static_cast<const unsigned char *>(data), length_of(data, len), out, kPairs, kB64, true);
}

size_t b64_encode_url(const void *data, ptrdiff_t len, char *out)
{
    return encode64(static_cast<const unsigned char *>(data), length_of(data, len), out, kPairsUrl, kB64Url,
                    false);
}

size_t b64_decode(const char *text, ptrdiff_t len, unsigned char *out)
{
    if (len <= 0)
        return 0;
    size_t n = static_cast<size_t>(len);
    size_t groups = (n + 3) / 4;
    const unsigned char *t = reinterpret_cast<const unsigned char *>(text);
    for (size_t g = 0; g < groups; g++) {
        unsigned v[4];
        for (size_t k = 0; k < 4; k++) {
            size_t pos = g * 4 + k;
            v[k] = pos < n ? kDecode.v[t[pos]] : 0;
        }
        out[g * 3] = static_cast<unsigned char>(v[0] << 2 | v[1] >> 4);
        out[g * 3 + 1] = static_cast<unsigned char>((v[1] & 15) << 4 | v[2] >> 2);
        out[g * 3 + 2] = static_cast<unsigned char>((v[2] & 3) << 6 | v[3]);
    }
    size_t result = groups * 3;
    switch (n % 4) {
    case 0:
        if (text[n - 2] == '=')
            result -= 2;
        else if (text[n - 1] == '=')
            result -= 1;
        break;
    case 3:
        result -= (text[n - 1] == '=') ? 2 : 1;
        break;
    case 2:
        result -= 2;
        break;
    default:
        break;
    }
    return result;
}

static inline char uu_char(unsigned v) { return v ? static_cast<char>(32 + v) : '`'; }

size_t uu_encode_line(const void *data, size_t len, char *out)
{
    if (len > UU_LINE_MAX_BYTES)
        return 0;
    const unsigned char *in = static_cast<const unsigned char *>(data);
    char *o = out;
    *o++ = static_cast<char>(32 + len);
    for (size_t i = 0; i < len; i += 3) {
        unsigned b0 = in[i];
        unsigned b1 = i + 1 < len ? in[i + 1] : 0;
        unsigned b2 = i + 2 < len ? in[i + 2] : 0;
        *o++ = uu_char(b0 >> 2);
        *o++ = uu_char((b0 & 3) << 4 | b1 >> 4);
        *o++ = uu_char((b1 & 15) << 2 | b2 >> 6);
        *o++ = uu_char(b2 & 63);
    }
    return static_cast<size_t>(o - out);
}

size_t yenc_encode(const void *data, size_t len, char *out)
{
    const unsigned char *in = static_cast<const unsigned char *>(data);
    char *o = out;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = static_cast<unsigned char>(in[i] + 42);
        if (c == 0 || c == '\n' || c == '\r' || c == '=') {
            *o++ = '=';
            c = static_cast<unsigned char>(c + 64);
        }
        *o++ = static_cast<char>(c);
    }
    return static_cast<size_t>(o - out);
}

// ---- quoted-printable ----------------------------------------------------------

namespace {

// 1: written plain on the fast path ("!" to "~" without "=").
struct QpClass {
    unsigned char plain[256];
    constexpr QpClass() : plain()
    {
        for (int c = '!'; c <= '~'; c++)
            plain[c] = c != '=';
    }
};
constexpr QpClass kQp;

// The longest line is QP_LINE_MAX characters including a closing soft "=",
// so nothing may end past column QP_LINE_MAX - 1.
const int kLastColumn = QP_LINE_MAX - 1;

struct QpWriter {
    QpState *st;
    char *o;

    void soft_break()
    {
        memcpy(o, "=\r\n", 3);
        o += 3;
        st->column = 0;
    }
    void encoded(unsigned char c)
    {
        if (st->column + 3 > kLastColumn)
            soft_break();
        o[0] = '=';
        o[1] = kHexUpper[c >> 4];
        o[2] = kHexUpper[c & 15];
        o += 3;
        st->column += 3;
    }
    void plain(unsigned char c)
    {
        if (st->column + 1 > kLastColumn)
            soft_break();
        if (st->column == 0 && c == '.') {
            // A leading dot could be taken for the end of the data.
            encoded(c);
            return;
        }
        *o++ = static_cast<char>(c);
        st->column += 1;
    }
    void byte(unsigned char c)
    {
        if (kQp.plain[c] || c == ' ' || c == '\t')
            plain(c);
        else
            encoded(c);
    }
    // A held space or TAB learns what follows it.
    void release_held(bool before_line_end)
    {
        if (!st->held)
            return;
        unsigned char h = static_cast<unsigned char>(st->held);
        st->held = 0;
        if (before_line_end)
            encoded(h);
        else
            plain(h);
    }
    void release_lone_cr()
    {
        if (st->pending != '\r')
            return;
        st->pending = 0;
        release_held(false);
        encoded('\r');
    }
};

} // namespace

size_t qp_encode(QpState *st, const void *data, ptrdiff_t count, char *out, int text)
{
    QpWriter w{st, out};
    if (!data) {
        // End of the body: a held blank would end its line, so it is encoded.
        w.release_lone_cr();
        w.release_held(true);
        st->pending = 0;
        return static_cast<size_t>(w.o - out);
    }
    if (count <= 0)
        return 0;
    const unsigned char *in = static_cast<const unsigned char *>(data);
    const unsigned char *end = in + count;
    while (in < end) {
        unsigned char c = *in++;
        // Fast path: an ordinary printable byte with nothing held back.
        if (kQp.plain[c] && !st->held && !st->pending && st->column < kLastColumn &&
            !(st->column == 0 && c == '.')) {
            *w.o++ = static_cast<char>(c);
            st->column++;
            continue;
        }
        if (text && st->pending == '\r') {
            if (c == '\n') {
                st->pending = 0;
                w.release_held(true);
                memcpy(w.o, "\r\n", 2);
                w.o += 2;
                st->column = 0;
                continue;
            }
            w.release_lone_cr();
        }
        if (text && c == '\r') {
            st->pending = '\r';
            continue;
        }
        w.release_held(false);
        if (c == ' ' || c == '\t') {
            st->held = static_cast<char>(c);
            continue;
        }
        w.byte(c);
    }
    return static_cast<size_t>(w.o - out);
}

// ---- percent encoding and quoted-printable decoding --------------------------

char *pct_encode(const char *text, char *out, size_t size)
{
    static const char kHexLower[] = "0123456789abcdef";
    if (size == 0)
        return out;
    size_t pos = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        unsigned char c = *p;
        char rep[4];
        size_t n;
        if (c == ' ') {
            rep[0] = '+';
            n = 1;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   strchr("!$'()*,-.;_", c)) {
            rep[0] = static_cast<char>(c);
            n = 1;
        } else {
            rep[0] = '%';
            rep[1] = kHexLower[c >> 4];
            rep[2] = kHexLower[c & 15];
            n = 3;
        }
        if (pos + n >= size)
            break;
        memcpy(out + pos, rep, n);
        pos += n;
    }
    out[pos] = '\0';
    return out;
}

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

size_t qp_decode(const char *text, size_t len, char *out, int line_mode)
{
    size_t o = 0;
    for (size_t i = 0; i < len; i++) {
        if (text[i] != '=') {
            out[o++] = text[i];
            continue;
        }
        if (i + 1 >= len) {
            // "=" ends the text: a soft break at the end.
            if (line_mode)
                line_mode = 0;
            else
                return 0;
            break;
        }
        if (text[i + 1] == '\r') {
            i += (i + 2 < len && text[i + 2] == '\n') ? 2 : 1;
            continue;
        }
        if (i + 2 >= len) {
            if (!line_mode)
                return 0;
            break;
        }
        int hi = hex_value(text[i + 1]), lo = hex_value(text[i + 2]);
        if (hi >= 0 && lo >= 0)
            out[o++] = static_cast<char>(hi << 4 | lo);
        i += 2;
    }
    if (line_mode) {
        out[o++] = '\r';
        out[o++] = '\n';
    }
    return o;
}
