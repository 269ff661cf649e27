// base64 / base64url, uuencode, yEnc, quoted-printable and percent encoding.
// Everything is table driven and writes straight into the caller's buffer so
// that attachments can be encoded slice by slice at memory speed.
#include "support/encode.h"

#include <cstring>

#include "support/hex.h"

namespace {

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kB64Url[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Two output characters for every 12-bit value, so three input bytes take
// two lookups and no branch.
struct PairTable {
    char v[4096][2];
    explicit constexpr PairTable(const char *alphabet) : v()
    {
        for (int i = 0; i < 4096; i++) {
            v[i][0] = alphabet[i >> 6];
            v[i][1] = alphabet[i & 63];
        }
    }
};
constexpr PairTable kPairs(kB64);
constexpr PairTable kPairsUrl(kB64Url);

// uuencode writes the value v as 32 + v, except 0 as "`" (a space could be
// stripped from the end of a line).
constexpr char kUu[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
constexpr PairTable kPairsUu(kUu);

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

inline uint32_t be24(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

// Four characters for the 24 bits of v.
inline void put_quad(char *o, const PairTable &pairs, uint32_t v)
{
    memcpy(o, pairs.v[v >> 12], 2);
    memcpy(o + 2, pairs.v[v & 0xfff], 2);
}

size_t encode64(const unsigned char *in, size_t len, char *out, const PairTable &pairs, bool pad)
{
    char *o = out;
    const unsigned char *end = in + len;
    // Twelve bytes per round give the compiler four independent groups.
    while (end - in >= 12) {
        put_quad(o, pairs, be24(in));
        put_quad(o + 4, pairs, be24(in + 3));
        put_quad(o + 8, pairs, be24(in + 6));
        put_quad(o + 12, pairs, be24(in + 9));
        in += 12;
        o += 16;
    }
    while (end - in >= 3) {
        put_quad(o, pairs, be24(in));
        in += 3;
        o += 4;
    }
    size_t rest = static_cast<size_t>(end - in);
    if (rest) {
        uint32_t v = static_cast<uint32_t>(in[0]) << 16;
        if (rest == 2)
            v |= static_cast<uint32_t>(in[1]) << 8;
        memcpy(o, pairs.v[v >> 12], 2);
        o += 2;
        if (rest == 2)
            *o++ = pairs.v[v & 0xfff][0];
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
    return encode64(static_cast<const unsigned char *>(data), length_of(data, len), out, kPairs, true);
}

size_t b64_encode_url(const void *data, ptrdiff_t len, char *out)
{
    return encode64(static_cast<const unsigned char *>(data), length_of(data, len), out, kPairsUrl, false);
}

size_t b64_decode(const char *text, ptrdiff_t len, unsigned char *out)
{
    if (len <= 0)
        return 0;
    const size_t n = static_cast<size_t>(len);
    const unsigned char *t = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *d = kDecode.v;
    const size_t whole = n / 4;
    for (size_t g = 0; g < whole; g++, t += 4, out += 3) {
        uint32_t v = static_cast<uint32_t>(d[t[0]]) << 18 | static_cast<uint32_t>(d[t[1]]) << 12 |
                     static_cast<uint32_t>(d[t[2]]) << 6 | d[t[3]];
        out[0] = static_cast<unsigned char>(v >> 16);
        out[1] = static_cast<unsigned char>(v >> 8);
        out[2] = static_cast<unsigned char>(v);
    }
    const size_t tail = n % 4;
    if (tail) {
        // The missing positions of the last group count as 0 and are not read.
        uint32_t v = static_cast<uint32_t>(d[t[0]]) << 18;
        if (tail > 1)
            v |= static_cast<uint32_t>(d[t[1]]) << 12;
        if (tail > 2)
            v |= static_cast<uint32_t>(d[t[2]]) << 6;
        out[0] = static_cast<unsigned char>(v >> 16);
        out[1] = static_cast<unsigned char>(v >> 8);
        out[2] = static_cast<unsigned char>(v);
    }
    size_t result = (whole + (tail ? 1 : 0)) * 3;
    switch (tail) {
    case 0:
        if (text[n - 2] == '=')
            result -= 2;
        else if (text[n - 1] == '=')
            result -= 1;
        break;
    case 3:
        result -= text[n - 1] == '=' ? 2 : 1;
        break;
    case 2:
        result -= 2;
        break;
    default:
        // Six bits alone cannot make a byte: a stray last character (a line
        // end after the text, say) must not add three made-up bytes.
        result -= 3;
        break;
    }
    return result;
}

size_t uu_encode_line(const void *data, size_t len, char *out)
{
    if (len > UU_LINE_MAX_BYTES)
        return 0;
    const unsigned char *in = static_cast<const unsigned char *>(data);
    char *o = out;
    *o++ = static_cast<char>(32 + len);
    size_t i = 0;
    for (; i + 3 <= len; i += 3, o += 4)
        put_quad(o, kPairsUu, be24(in + i));
    if (i < len) {
        // A short last group is completed with zero bytes.
        unsigned char last[3] = {in[i], 0, 0};
        if (i + 1 < len)
            last[1] = in[i + 1];
        put_quad(o, kPairsUu, be24(last));
        o += 4;
    }
    return static_cast<size_t>(o - out);
}

namespace {

// yEnc: each byte's output (one or two bytes) and its length.
struct YencTable {
    char out[256][2];
    unsigned char len[256];
    constexpr YencTable() : out(), len()
    {
        for (int b = 0; b < 256; b++) {
            int c = (b + 42) & 255;
            if (c == 0 || c == '\n' || c == '\r' || c == '=') {
                out[b][0] = '=';
                out[b][1] = static_cast<char>((c + 64) & 255);
                len[b] = 2;
            } else {
                out[b][0] = static_cast<char>(c);
                out[b][1] = 0;
                len[b] = 1;
            }
        }
    }
};
constexpr YencTable kYenc;

} // namespace

size_t yenc_encode(const void *data, size_t len, char *out)
{
    const unsigned char *in = static_cast<const unsigned char *>(data);
    char *o = out;
    // Both bytes are always stored and the second is overwritten by the next
    // byte unless the escape needed it: no branch in the loop. Byte i stores
    // at offsets up to 2i + 1, so the 2 * len room holds.
    for (size_t i = 0; i < len; i++) {
        unsigned char b = in[i];
        memcpy(o, kYenc.out[b], 2);
        o += kYenc.len[b];
    }
    return static_cast<size_t>(o - out);
}

// ---- quoted-printable ----------------------------------------------------------

namespace {

// 1: a byte written as itself ("!" to "~" without "="). Space and TAB are
// left out: they are written plain too, but only once it is known that no
// line end follows them.
struct QpClass {
    unsigned char plain[256];
    constexpr QpClass() : plain()
    {
        for (int c = '!'; c <= '~'; c++)
            plain[c] = c != '=';
    }
};
constexpr QpClass kQp;

// What the fast path stores for each byte ("c" or "=XX") and its length.
struct QpOutTable {
    char text[256][4];
    unsigned char len[256];
    constexpr QpOutTable() : text(), len()
    {
        for (int c = 0; c < 256; c++) {
            if ((c >= '!' && c <= '~' && c != '=') || c == ' ' || c == '\t') {
                text[c][0] = static_cast<char>(c);
                len[c] = 1;
            } else {
                text[c][0] = '=';
                text[c][1] = HEX_DIGITS_UPPER[c >> 4];
                text[c][2] = HEX_DIGITS_UPPER[c & 15];
                len[c] = 3;
            }
        }
    }
};
constexpr QpOutTable kQpOut;

// Every line keeps room for a closing soft "=": nothing written may end past
// this many characters.
const int kLastColumn = QP_LINE_MAX - 1;

inline bool is_blank(unsigned char c) { return c == ' ' || c == '\t'; }

// Works on a copy of the caller's state: kept in registers, it is not
// reloaded after every byte stored through the output pointer.
struct QpWriter {
    QpState s;
    char *o;

    void soft_break()
    {
        memcpy(o, "=\r\n", 3);
        o += 3;
        s.column = 0;
    }
    void encoded(unsigned char c)
    {
        if (s.column + 3 > kLastColumn)
            soft_break();
        o[0] = '=';
        o[1] = HEX_DIGITS_UPPER[c >> 4];
        o[2] = HEX_DIGITS_UPPER[c & 15];
        o += 3;
        s.column += 3;
    }
    // A byte that may stand as itself (space and TAB included).
    void plain(unsigned char c)
    {
        if (s.column + 1 > kLastColumn)
            soft_break();
        if (s.column == 0 && c == '.') {
            // A "." opening a line is what SMTP stuffs or takes for the end
            // of the data; encoded it survives any transport.
            encoded(c);
            return;
        }
        *o++ = static_cast<char>(c);
        s.column += 1;
    }
    // The held space or TAB learns what follows it: before a line end (hard
    // break or end of the body) a plain one would be trailing white space,
    // which transports strip, so it is encoded there.
    void release_held(bool before_line_end)
    {
        if (!s.held)
            return;
        unsigned char h = static_cast<unsigned char>(s.held);
        s.held = 0;
        if (before_line_end)
            encoded(h);
        else
            plain(h);
    }
    // The pending CR turned out not to start a CR LF.
    void release_lone_cr()
    {
        if (s.pending != '\r')
            return;
        s.pending = 0;
        release_held(false);
        encoded('\r');
    }
    void byte(unsigned char c, int text)
    {
        if (text && s.pending == '\r') {
            if (c == '\n') {
                s.pending = 0;
                release_held(true);
                memcpy(o, "\r\n", 2);
                o += 2;
                s.column = 0;
                return;
            }
            release_lone_cr();
        }
        if (text && c == '\r') {
            s.pending = '\r';
            return;
        }
        release_held(false);
        if (is_blank(c))
            s.held = static_cast<char>(c);
        else if (kQp.plain[c])
            plain(c);
        else
            encoded(c);
    }
};

// Fast path, run while nothing is held back and the line has room for any
// byte, even "=XX", with a soft break after it. Each byte stores its 4-byte
// table entry and moves on by its length, with no branch on whether it is
// encoded. The extra bytes stored stay within qp_max_output: after k bytes
// at most 6k + 12 are written, and a byte adds at most 4 to that.
// A blank is plain here, since a byte follows it on the line; the last byte
// of the slice is left to the byte-wise rules, and in text mode so are a CR
// and the byte before it, where a hard line break may begin.
template <bool Text>
const unsigned char *qp_run(QpWriter &w, const unsigned char *in, const unsigned char *end)
{
    int column = w.s.column;
    char *o = w.o;
    while (end - in > 1 && column <= kLastColumn - 3) {
        unsigned char c = *in;
        if (Text && (c == '\r' || in[1] == '\r'))
            break;
        memcpy(o, kQpOut.text[c], 4);
        o += kQpOut.len[c];
        column += kQpOut.len[c];
        in++;
    }
    w.o = o;
    w.s.column = column;
    return in;
}

} // namespace

size_t qp_encode(QpState *st, const void *data, ptrdiff_t count, char *out, int text)
{
    QpWriter w{*st, out};
    if (!data) {
        // End of the body: whatever is held ends the last line.
        w.release_lone_cr();
        w.release_held(true);
        w.s.pending = 0;
        if (w.o == out)
            w.s.column = 0;
        *st = w.s;
        return static_cast<size_t>(w.o - out);
    }
    if (count <= 0)
        return 0;
    const unsigned char *in = static_cast<const unsigned char *>(data);
    const unsigned char *end = in + count;
    while (in < end) {
        if (!w.s.held && !w.s.pending && !(w.s.column == 0 && *in == '.')) {
            in = text ? qp_run<true>(w, in, end) : qp_run<false>(w, in, end);
            if (in == end)
                break;
        }
        w.byte(*in++, text);
    }
    *st = w.s;
    return static_cast<size_t>(w.o - out);
}

// ---- percent encoding and quoted-printable decoding --------------------------

// Letters and digits, which every percent-escape keeps.
static bool is_alnum_ascii(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

char *pct_escape(const char *text, const char *keep, int space_as_plus, char *out, size_t size)
{
    if (size == 0)
        return out;
    if (!keep)
        keep = "";
    size_t pos = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : ""); *p;
         p++) {
        unsigned char c = *p;
        char rep[3];
        size_t n = 1;
        if (c == ' ' && space_as_plus) {
            rep[0] = '+';
        } else if (is_alnum_ascii(c) || strchr(keep, c)) {
            rep[0] = static_cast<char>(c);
        } else {
            rep[0] = '%';
            rep[1] = HEX_DIGITS_LOWER[c >> 4];
            rep[2] = HEX_DIGITS_LOWER[c & 15];
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

char *pct_encode(const char *text, char *out, size_t size)
{
    return pct_escape(text, PCT_FORM_KEEP, 1, out, size);
}

size_t qp_decode(const char *text, size_t len, char *out, int line_mode)
{
    size_t o = 0;
    for (size_t i = 0; i < len; i++) {
        if (text[i] != '=') {
            out[o++] = text[i];
            continue;
        }
        if (i + 1 == len) {
            // "=" ends the text: a soft break, so this line goes on in the
            // next text and gets no line end.
            if (!line_mode)
                return 0;
            line_mode = 0;
            break;
        }
        char next = text[i + 1];
        if (next == '\r' || next == '\n') {
            // Soft line break; a lone CR or LF is taken as one too, so that
            // the data after it is not swallowed.
            i += (next == '\r' && i + 2 < len && text[i + 2] == '\n') ? 2 : 1;
            continue;
        }
        if (i + 2 == len) {
            if (!line_mode)
                return 0;
            break;
        }
        int hi = hex_nibble(next), lo = hex_nibble(text[i + 2]);
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
