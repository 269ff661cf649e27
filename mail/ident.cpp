// Identifier maker, header-text encoder and Content-ID escape.
#include "mail/ident.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/session.h"
#include "support/encode.h"
#include "support/lock.h"
#include "support/rand.h"

// Grows by one per identifier drawn in the process; its low 16 bits go into
// every identifier so that ids drawn close together always differ.
static uint32_t id_counter = 0;

char *mail_random_id(char *out)
{
    uint32_t w[3];
    mutex_lock(mail_global_mutex);
    w[0] = rand_next(mail_global_rand);
    w[1] = (rand_next(mail_global_rand) & 0xffff0000u) | (id_counter & 0xffffu);
    w[2] = rand_next(mail_global_rand);
    id_counter++;
    mutex_unlock(mail_global_mutex);
    unsigned char bytes[12];
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < 4; k++)
            bytes[i * 4 + k] = static_cast<unsigned char>(w[i] >> (8 * k));
    size_t n = b64_encode_url(bytes, sizeof bytes, out);
    out[n] = '\0';
    return out;
}

char *mail_random_boundary(char *out)
{
    out[0] = out[1] = '=';
    mail_random_id(out + 2);
    memcpy(out + 2 + MAIL_ID_LEN, "==", 3);
    return out;
}

char *mail_message_id(char *out, size_t size, const char *address)
{
    if (size)
        out[0] = '\0';
    const char *at = address ? strchr(address, '@') : nullptr;
    if (!at)
        return nullptr;
    const char *domain = at + 1;
    size_t need = 1 + MAIL_ID_LEN + 1 + strlen(domain) + 1 + 1;
    if (need > size)
        return nullptr;
    char id[MAIL_ID_LEN + 1];
    mail_random_id(id);
    std::string s = std::string("<") + id + "@" + domain + ">";
    memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

static bool is_plain_header_text(const unsigned char *p)
{
    for (; *p; p++)
        if (*p != '\t' && (*p < 0x20 || *p > 0x7e))
            return false;
    return true;
}

// Length of the UTF-8 character starting at p (1 for a byte that does not
// start a well-formed sequence, so nothing is ever lost).
static size_t utf8_char_len(const unsigned char *p)
{
    unsigned char c = p[0];
    size_t n;
    if (c >= 0xc2 && c <= 0xdf)
        n = 2;
    else if (c >= 0xe0 && c <= 0xef)
        n = 3;
    else if (c >= 0xf0 && c <= 0xf4)
        n = 4;
    else
        return 1;
    for (size_t i = 1; i < n; i++)
        if ((p[i] & 0xc0) != 0x80)
            return 1; // also stops at the NUL
    return n;
}

char *hdr_encode_text(const char *text)
{
    if (!text)
        return nullptr;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    if (is_plain_header_text(p))
        return strdup(text);
    // "=?utf-8?B?" + base64 + "?=" is 12 characters around the base64, so a
    // word carries at most 63 base64 characters: 45 bytes of text.
    const size_t kPrefix = 10, kSuffix = 2;
    const size_t max_bytes = (RFC2047_WORD_MAX - kPrefix - kSuffix) / 4 * 3;
    size_t len = strlen(text);
    std::string out;
    out.reserve(len * 2 + 32);
    size_t pos = 0;
    char b64[64];
    while (pos < len) {
        size_t take = 0;
        while (pos + take < len) {
            size_t c = utf8_char_len(p + pos + take);
            if (take + c > max_bytes)
                break;
            take += c;
        }
        if (!out.empty())
            out += ' ';
        out += "=?utf-8?B?";
        size_t n = b64_encode(p + pos, static_cast<ptrdiff_t>(take), b64);
        out.append(b64, n);
        out += "?=";
        pos += take;
    }
    return strdup(out.c_str());
}

static bool kept_in_content_id(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c && strchr(" !$'()*+,-.;_", c));
}

char *mime_percent_escape(const char *text, char *out, size_t size)
{
    static const char kHex[] = "0123456789abcdef";
    if (size == 0)
        return out;
    size_t o = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        size_t n = kept_in_content_id(*p) ? 1 : 3;
        if (o + n >= size)
            break;
        if (n == 1) {
            out[o++] = static_cast<char>(*p);
        } else {
            out[o++] = '%';
            out[o++] = kHex[*p >> 4];
            out[o++] = kHex[*p & 15];
        }
    }
    out[o] = '\0';
    return out;
}
