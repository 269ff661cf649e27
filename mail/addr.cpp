// Address kinds, IDN and the RFC 3492 Punycode coder.
#include "mail/addr.h"

#include <cstring>

#include "mail/check.h"
#include "support/str.h"

static bool printable(unsigned char c) { return c >= 0x20 && c <= 0x7e; }
static bool control(unsigned char c) { return c < 0x20 || c == 0x7f; }

int addr_classify(const char *address)
{
    if (!address)
        return ADDR_KIND_BAD;
    size_t len = strlen(address);
    if (len == 0 || len > ADDR_MAX)
        return ADDR_KIND_BAD;
    const char *at = strchr(address, '@');
    if (!at)
        return ADDR_KIND_BAD;
    // No address may carry a line break onward: no control byte, and none
    // of the characters that readers take for one (C1, U+2028, U+2029).
    if (!text_is_clean_n(address, len, TEXT_NO_TAB))
        return ADDR_KIND_BAD;
    int kind = ADDR_KIND_ASCII;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(address); *p; p++) {
        if (!printable(*p)) {
            if (reinterpret_cast<const char *>(p) < at)
                kind = ADDR_KIND_UTF8_LOCAL;
            else if (kind == ADDR_KIND_ASCII)
                kind = ADDR_KIND_UTF8_DOMAIN;
        }
    }
    return kind;
}

// ---- Punycode (RFC 3492) -----------------------------------------------------

namespace {
const uint32_t kBase = 36, kTmin = 1, kTmax = 26, kSkew = 38, kDamp = 700, kInitialBias = 72,
               kInitialN = 0x80;
const char kDelimiter = '-';

char encode_digit(uint32_t d, bool upper)
{
    // 0..25 are a..z, 26..35 are 0..9.
    return static_cast<char>(d < 26 ? (upper ? 'A' : 'a') + d : '0' + (d - 26));
}

uint32_t decode_digit(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0' + 26;
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    return kBase;
}

uint32_t adapt(uint32_t delta, uint32_t numpoints, bool firsttime)
{
    delta = firsttime ? delta / kDamp : delta >> 1;
    delta += delta / numpoints;
    uint32_t k = 0;
    for (; delta > ((kBase - kTmin) * kTmax) / 2; k += kBase)
        delta /= kBase - kTmin;
    return k + (kBase - kTmin + 1) * delta / (delta + kSkew);
}

bool flagged(const unsigned char *flags, uint64_t i) { return flags && flags[i]; }
} // namespace

int addr_punycode_encode(uint64_t input_length, const uint32_t input[], const unsigned char case_flags[],
                         uint64_t *output_length, char output[])
{
    if (input_length > UINT32_MAX)
        return PUNY_OVERFLOW;
    uint64_t max_out = *output_length, out = 0;
    for (uint64_t j = 0; j < input_length; j++) {
        if (input[j] < 0x80) {
            if (out >= max_out)
                return PUNY_BIG_OUTPUT;
            char c = static_cast<char>(input[j]);
            if (case_flags) {
                if (c >= 'a' && c <= 'z' && case_flags[j])
                    c = static_cast<char>(c - 32);
                else if (c >= 'A' && c <= 'Z' && !case_flags[j])
                    c = static_cast<char>(c + 32);
            }
            output[out++] = c;
        }
    }
    uint32_t h = static_cast<uint32_t>(out), b = h;
    if (b > 0) {
        if (out >= max_out)
            return PUNY_BIG_OUTPUT;
        output[out++] = kDelimiter;
    }
    uint32_t n = kInitialN, delta = 0, bias = kInitialBias;
    while (h < input_length) {
        uint32_t m = UINT32_MAX;
        for (uint64_t j = 0; j < input_length; j++)
            if (input[j] >= n && input[j] < m)
                m = input[j];
        if (m - n > (UINT32_MAX - delta) / (h + 1))
            return PUNY_OVERFLOW;
        delta += (m - n) * (h + 1);
        n = m;
        for (uint64_t j = 0; j < input_length; j++) {
            if (input[j] < n) {
                if (++delta == 0)
                    return PUNY_OVERFLOW;
            }
            if (input[j] == n) {
                uint32_t q = delta;
                for (uint32_t k = kBase;; k += kBase) {
                    if (out >= max_out)
                        return PUNY_BIG_OUTPUT;
                    uint32_t t = k <= bias ? kTmin : k >= bias + kTmax ? kTmax : k - bias;
                    if (q < t)
                        break;
                    output[out++] = encode_digit(t + (q - t) % (kBase - t), false);
                    q = (q - t) / (kBase - t);
                }
                output[out++] = encode_digit(q, flagged(case_flags, j));
                bias = adapt(delta, h + 1, h == b);
                delta = 0;
                ++h;
            }
        }
        ++delta;
        ++n;
    }
    *output_length = out;
    return PUNY_SUCCESS;
}

int addr_punycode_decode(uint64_t input_length, const char input[], uint64_t *output_length,
                         uint32_t output[], unsigned char case_flags[])
{
    uint64_t max_out = *output_length;
    uint64_t b = 0;
    for (uint64_t j = 0; j < input_length; j++)
        if (input[j] == kDelimiter)
            b = j;
    if (b > max_out)
        return PUNY_BIG_OUTPUT;
    uint64_t out = 0;
    for (uint64_t j = 0; j < b; j++) {
        unsigned char c = static_cast<unsigned char>(input[j]);
        if (c >= 0x80)
            return PUNY_BAD_INPUT;
        if (case_flags)
            case_flags[out] = c >= 'A' && c <= 'Z';
        output[out++] = c;
    }
    uint32_t n = kInitialN, i = 0, bias = kInitialBias;
    for (uint64_t in = b > 0 ? b + 1 : 0; in < input_length; ++out) {
        uint32_t oldi = i, w = 1;
        for (uint32_t k = kBase;; k += kBase) {
            if (in >= input_length)
                return PUNY_BAD_INPUT;
            uint32_t digit = decode_digit(static_cast<unsigned char>(input[in++]));
            if (digit >= kBase)
                return PUNY_BAD_INPUT;
            if (digit > (UINT32_MAX - i) / w)
                return PUNY_OVERFLOW;
            i += digit * w;
            uint32_t t = k <= bias ? kTmin : k >= bias + kTmax ? kTmax : k - bias;
            if (digit < t)
                break;
            if (w > UINT32_MAX / (kBase - t))
                return PUNY_OVERFLOW;
            w *= kBase - t;
        }
        if (out + 1 > UINT32_MAX)
            return PUNY_OVERFLOW;
        uint32_t count = static_cast<uint32_t>(out + 1);
        bias = adapt(i - oldi, count, oldi == 0);
        if (i / count > UINT32_MAX - n)
            return PUNY_OVERFLOW;
        n += i / count;
        i %= count;
        if (out >= max_out)
            return PUNY_BIG_OUTPUT;
        if (case_flags) {
            memmove(case_flags + i + 1, case_flags + i, out - i);
            case_flags[i] = static_cast<unsigned char>(
                input[in - 1] >= 'A' && input[in - 1] <= 'Z');
        }
        memmove(output + i + 1, output + i, (out - i) * sizeof output[0]);
        output[i++] = n;
    }
    *output_length = out;
    return PUNY_SUCCESS;
}

// ---- IDN -------------------------------------------------------------------

// Decodes a label as strict UTF-8 (no overlong forms, surrogates or values
// beyond U+10FFFF, no sequence cut by the label's end). false when malformed.
static bool decode_label(const char *p, size_t len, uint32_t *cps, size_t *count)
{
    size_t n = 0;
    for (size_t i = 0; i < len;) {
        size_t seq = utf8_decode(p + i, len - i, &cps[n]);
        if (!seq)
            return false;
        n++;
        i += seq;
    }
    *count = n;
    return true;
}

// Appends len bytes to the text of used bytes in out (size bytes); false,
// with nothing written, when they and the NUL would not fit.
static bool append_bounded(char *out, size_t size, size_t *used, const char *src, size_t len)
{
    if (len >= size - *used)
        return false;
    memcpy(out + *used, src, len);
    *used += len;
    out[*used] = '\0';
    return true;
}

char *addr_idn_domain(const char *domain, char *out, size_t size)
{
    if (!out || size == 0)
        return nullptr;
    out[0] = '\0';
    if (!domain)
        return nullptr;
    size_t used = 0;
    const char *p = domain;
    for (;;) {
        // Empty labels (leading, trailing, doubled full stops) vanish.
        while (*p == '.')
            p++;
        if (!*p)
            break;
        const char *start = p;
        while (*p && *p != '.')
            p++;
        size_t len = static_cast<size_t>(p - start);
        const unsigned char *label = reinterpret_cast<const unsigned char *>(start);
        bool ascii = true;
        for (size_t i = 0; i < len; i++) {
            if (control(label[i]))
                return nullptr;
            if (!printable(label[i]))
                ascii = false;
        }
        // A label goes in whole or not at all, so out keeps the labels
        // before a failing one and is never cut inside a label.
        size_t mark = used;
        bool ok = used == 0 || append_bounded(out, size, &used, ".", 1);
        if (ok && ascii) {
            ok = append_bounded(out, size, &used, start, len);
        } else if (ok) {
            uint32_t cps[ADDR_BUF_SIZE];
            size_t count = 0;
            char enc[ADDR_BUF_SIZE];
            uint64_t enc_len = sizeof enc;
            ok = len <= ADDR_BUF_SIZE && decode_label(start, len, cps, &count) &&
                 addr_punycode_encode(count, cps, nullptr, &enc_len, enc) == PUNY_SUCCESS &&
                 append_bounded(out, size, &used, "xn--", 4) &&
                 append_bounded(out, size, &used, enc, static_cast<size_t>(enc_len));
        }
        if (!ok) {
            out[mark] = '\0';
            return nullptr;
        }
    }
    return out;
}

char *addr_prepare_for_smtp(const char *address, char *out, size_t size, int *kind, int smtputf8)
{
    int k = addr_classify(address);
    if (kind)
        *kind = k;
    if (k == ADDR_KIND_BAD || (k == ADDR_KIND_UTF8_LOCAL && !smtputf8) || !out)
        return nullptr;
    size_t len = strlen(address);
    if (smtputf8) {
        if (len >= size)
            return nullptr;
        memcpy(out, address, len + 1);
        return out;
    }
    // Built aside so that out stays untouched on every failure.
    const char *at = strchr(address, '@');
    size_t local = static_cast<size_t>(at - address);
    char work[ADDR_BUF_SIZE];
    size_t used = 0;
    work[0] = '\0';
    if (!append_bounded(work, sizeof work, &used, address, local + 1))
        return nullptr;
    if (!addr_idn_domain(at + 1, work + used, sizeof work - used))
        return nullptr;
    size_t whole = used + strlen(work + used);
    if (whole >= size)
        return nullptr;
    memcpy(out, work, whole + 1);
    return out;
}
