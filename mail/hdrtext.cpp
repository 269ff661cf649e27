// The header-text encoder and decoder (RFC 2047 "=?utf-8?B?" words) and
// the Content-ID percent-escape.
#include "mail/hdrtext.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/encode.h"
#include "support/str.h"

static bool is_plain_header_text(const unsigned char *p)
{
    for (; *p; p++)
        if (*p != '\t' && (*p < 0x20 || *p > 0x7e))
            return false;
    return true;
}

// Length of the UTF-8 character starting at p, of the avail bytes left (1
// for a byte that does not start a well-formed sequence, so nothing is
// ever lost).
static size_t utf8_char_len(const unsigned char *p, size_t avail)
{
    uint32_t cp;
    size_t n = utf8_decode(reinterpret_cast<const char *>(p), avail, &cp);
    return n ? n : 1;
}

// Bytes of text that go into the encoded word starting at pos: as many
// whole characters as max_bytes hold, and at least one.
static size_t next_word_bytes(const unsigned char *p, size_t pos, size_t len, size_t max_bytes)
{
    size_t take = 0;
    while (pos + take < len) {
        size_t c = utf8_char_len(p + pos + take, len - pos - take);
        if (take > 0 && take + c > max_bytes)
            break;
        take += c;
        if (take >= max_bytes)
            break;
    }
    return take;
}

char *hdr_encode_words(const char *text, size_t len, size_t first_bytes)
{
    static const char kOpen[] = "=?utf-8?B?", kClose[] = "?=";
    const size_t kOverhead = sizeof kOpen - 1 + sizeof kClose - 1;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    if (first_bytes == 0 || first_bytes > HDR_WORD_BYTES)
        first_bytes = HDR_WORD_BYTES;
    // First pass sizes the result exactly: each word, and one space between
    // two words (readers drop white space between encoded words).
    size_t total = 1;
    for (size_t pos = 0, max = first_bytes; pos < len; max = HDR_WORD_BYTES) {
        size_t take = next_word_bytes(p, pos, len, max);
        total += (pos ? 1 : 0) + kOverhead + b64_encoded_size(take);
        pos += take;
    }
    char *out = static_cast<char *>(malloc(total));
    if (!out)
        return nullptr;
    char *o = out;
    for (size_t pos = 0, max = first_bytes; pos < len; max = HDR_WORD_BYTES) {
        size_t take = next_word_bytes(p, pos, len, max);
        if (pos)
            *o++ = ' ';
        memcpy(o, kOpen, sizeof kOpen - 1);
        o += sizeof kOpen - 1;
        o += b64_encode(p + pos, static_cast<ptrdiff_t>(take), o);
        memcpy(o, kClose, sizeof kClose - 1);
        o += sizeof kClose - 1;
        pos += take;
    }
    *o = '\0';
    return out;
}

char *hdr_encode_text(const char *text)
{
    if (!text)
        return nullptr;
    if (is_plain_header_text(reinterpret_cast<const unsigned char *>(text)))
        return strdup(text);
    return hdr_encode_words(text, strlen(text), HDR_WORD_BYTES);
}

static bool is_b64_char(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Length of the "=?utf-8?B?" base64 "?=" word at p, 0 when there is none.
// Only words a reader accepts count: at most RFC2047_WORD_MAX characters
// with whole base64 quads.
static size_t encoded_word_len(const char *p, const char *end)
{
    const char *q = p;
    if (end - q < 12 || strncmp(q, "=?utf-8?B?", 10) != 0)
        return 0;
    q += 10;
    while (q < end && is_b64_char(static_cast<unsigned char>(*q)))
        q++;
    for (int pad = 0; q < end && *q == '=' && pad < 2; pad++)
        q++;
    if (end - q < 2 || q[0] != '?' || q[1] != '=')
        return 0;
    size_t b64_len = static_cast<size_t>(q - (p + 10));
    size_t len = static_cast<size_t>(q + 2 - p);
    if (b64_len % 4 != 0 || len > RFC2047_WORD_MAX)
        return 0;
    return len;
}

int hdr_decode_words(const char *text, char **out, size_t *len)
{
    *out = nullptr;
    *len = 0;
    if (!text || !*text)
        return 0;
    const char *end = text + strlen(text);
    // The words are at least 12 characters for at most 3 bytes per 4: the
    // bytes never outgrow the text.
    size_t n = 0;
    for (const char *p = text;;) {
        size_t w = encoded_word_len(p, end);
        if (!w)
            return 0;
        n += b64_decoded_max(w - 12);
        p += w;
        if (p == end)
            break;
        if (*p != ' ')
            return 0;
        p++;
    }
    char *bytes = static_cast<char *>(malloc(n + 1));
    if (!bytes)
        return -1;
    size_t o = 0;
    for (const char *p = text; p < end;) {
        size_t w = encoded_word_len(p, end);
        o += b64_decode(p + 10, static_cast<ptrdiff_t>(w - 12), reinterpret_cast<unsigned char *>(bytes + o));
        p += w;
        if (p < end)
            p++; // the space between two words
    }
    bytes[o] = '\0';
    *out = bytes;
    *len = o;
    return 1;
}

char *mime_percent_escape(const char *text, char *out, size_t size)
{
    // Letters, digits and these stay; every other byte becomes "%xx".
    return pct_escape(text, " !$'()*+,-.;_", 0, out, size);
}
