// Address kinds, IDN (IDNA mapping through libidn2) and the RFC 3492
// Punycode coder.
#include "mail/addr.h"

#include <cstring>
#include <memory>

#include <idn2.h>

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
    const char *at = strrchr(address, '@');
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

namespace {

// What DNS allows of a domain in its ASCII form (RFC 1035, RFC 5890).
const size_t kLabelMax = 63, kDomainMax = 253;

struct FreeIdn2 {
    void operator()(uint8_t *p) const { idn2_free(p); }
};
using Idn2Text = std::unique_ptr<uint8_t, FreeIdn2>;

// libidn2's lookup of text (UTS #46 nontransitional, NFC) into *mapped:
// ADDR_IDN_OK, ADDR_IDN_NOMEM, ADDR_IDN_LABEL_TOO_LONG or ADDR_IDN_INVALID.
int idn2_map(const char *text, Idn2Text *mapped)
{
    uint8_t *raw = nullptr;
    int rc = idn2_lookup_u8(reinterpret_cast<const uint8_t *>(text), &raw, IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT);
    mapped->reset(raw);
    if (rc == IDN2_MALLOC)
        return ADDR_IDN_NOMEM;
    if (rc == IDN2_TOO_BIG_LABEL || rc == IDN2_PUNYCODE_BIG_OUTPUT || rc == IDN2_TOO_BIG_DOMAIN)
        return ADDR_IDN_LABEL_TOO_LONG;
    return rc == IDN2_OK && raw ? ADDR_IDN_OK : ADDR_IDN_INVALID;
}

bool starts_with_ace_prefix(const char *p, size_t len)
{
    return len >= 4 && (p[0] == 'x' || p[0] == 'X') && (p[1] == 'n' || p[1] == 'N') && p[2] == '-' &&
           p[3] == '-';
}

// Appends the UTF-8 form of the code point cp (at most U+10FFFF) to the
// used bytes of out (size bytes, kept NUL-terminated).
bool append_utf8(char *out, size_t size, size_t *used, uint32_t cp);

// How an "xn--" label (of at most 63 bytes) stands as an A-label: ADDR_IDN_OK
// when it is one (or is no "xn--" label at all). libidn2 looks such a label
// up without decoding it, so it is decoded here and its U-label looked up
// again: that must give the label back (RFC 5891 5.4), which refuses a
// U-label that holds what no domain may (U+00A0, a full stop, a form that
// is not NFC). The STD3 rules refuse three characters beside the ASCII
// ones that the lookup lets through: U+2260, U+226E and U+226F, whose
// decomposed forms are "=", "<" and ">" with a combining stroke.
int ace_label_status(const char *label, size_t len)
{
    if (!starts_with_ace_prefix(label, len))
        return ADDR_IDN_OK;
    uint32_t cps[kLabelMax];
    uint64_t count = kLabelMax;
    if (addr_punycode_decode(len - 4, label + 4, &count, cps, nullptr) != PUNY_SUCCESS)
        return ADDR_IDN_INVALID;
    char ulabel[4 * kLabelMax + 1];
    size_t used = 0;
    ulabel[0] = '\0';
    for (uint64_t i = 0; i < count; i++) {
        if (cps[i] == 0x2260 || cps[i] == 0x226e || cps[i] == 0x226f)
            return ADDR_IDN_NOT_LDH;
        if (cps[i] > 0x10ffff || (cps[i] >= 0xd800 && cps[i] <= 0xdfff) ||
            !append_utf8(ulabel, sizeof ulabel, &used, cps[i]))
            return ADDR_IDN_INVALID;
    }
    Idn2Text again;
    int status = idn2_map(ulabel, &again);
    if (status == ADDR_IDN_NOMEM)
        return status;
    const char *text = reinterpret_cast<const char *>(again.get());
    if (status != ADDR_IDN_OK || strlen(text) != len || str_ncasecmp(text, label, static_cast<long>(len)) != 0)
        return ADDR_IDN_INVALID;
    return ADDR_IDN_OK;
}

// One label as IDNA looks it up (UTS #46 nontransitional processing with
// NFC: case folded, normalised, then "xn--" and Punycode), checked as
// IDNA2008 checks it; an "xn--" label must be Punycode that decodes to a
// valid U-label. The mapping may give more than one label (an ideographic
// full stop maps to "."). Into out (ADDR_BUF_SIZE bytes) with its length.
//
// The STD3 rules hold as well: every label the mapping gives is letters,
// digits and inner hyphens, and no U-label holds what STD3 refuses.
// Full-width and compatibility forms map to ASCII (U+FF0C to ",", U+FF20
// to "@", U+FF1E to ">", U+3000 to a blank), which would end the address
// or add words to the command it stands in.
// libidn2's own IDN2_USE_STD3_ASCII_RULES is not asked for: libidn2 2.3
// then leaves such characters out instead of refusing them ("a" U+FF0C "b"
// becomes "ab", another domain), so the mapped labels are checked here.
int idna_label(const char *label, size_t len, char *out, size_t *out_len)
{
    char in[ADDR_BUF_SIZE];
    if (len >= sizeof in)
        return ADDR_IDN_LABEL_TOO_LONG;
    memcpy(in, label, len);
    in[len] = '\0';
    if (!utf8_valid(in))
        return ADDR_IDN_BAD_BYTES;
    Idn2Text mapped;
    if (int status = idn2_map(in, &mapped))
        return status;
    const char *text = reinterpret_cast<const char *>(mapped.get());
    size_t n = strlen(text);
    if (n >= ADDR_BUF_SIZE)
        return ADDR_IDN_DOMAIN_TOO_LONG;
    // Every label the mapping gave: none empty, none too long, each of
    // letters, digits and inner hyphens.
    for (size_t start = 0;;) {
        const char *dot = static_cast<const char *>(memchr(text + start, '.', n - start));
        size_t end = dot ? static_cast<size_t>(dot - text) : n;
        if (end == start)
            return ADDR_IDN_INVALID;
        if (end - start > kLabelMax)
            return ADDR_IDN_LABEL_TOO_LONG;
        if (!text_is_ldh_label(text + start, end - start))
            return ADDR_IDN_NOT_LDH;
        if (int status = ace_label_status(text + start, end - start))
            return status;
        if (!dot)
            break;
        start = end + 1;
    }
    memcpy(out, text, n + 1);
    *out_len = n;
    return ADDR_IDN_OK;
}

// An address literal ("[192.0.2.1]", "[IPv6:...]") goes unchanged.
int copy_literal(const char *domain, char *out, size_t size)
{
    size_t len = strlen(domain);
    for (size_t i = 0; i < len; i++)
        if (!printable(static_cast<unsigned char>(domain[i])))
            return ADDR_IDN_BAD_BYTES;
    if (len >= size)
        return ADDR_IDN_NO_ROOM;
    memcpy(out, domain, len + 1);
    return ADDR_IDN_OK;
}

} // namespace

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

int addr_idn_convert(const char *domain, char *out, size_t size)
{
    if (!out || size == 0)
        return ADDR_IDN_NO_ROOM;
    out[0] = '\0';
    if (!domain)
        return ADDR_IDN_INVALID;
    if (domain[0] == '[')
        return copy_literal(domain, out, size);
    // A domain of ASCII labels keeps its bytes (and its letter case); one
    // that holds a non-ASCII label is mapped whole, as IDNA maps it.
    bool ascii_domain = true;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(domain); *p; p++)
        if (*p >= 0x80)
            ascii_domain = false;
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
        for (size_t i = 0; i < len; i++)
            if (control(static_cast<unsigned char>(start[i])))
                return ADDR_IDN_BAD_BYTES;
        char mapped[ADDR_BUF_SIZE];
        const char *label = start;
        size_t label_len = len;
        int status = ADDR_IDN_OK;
        if (!ascii_domain) {
            status = idna_label(start, len, mapped, &label_len);
            label = mapped;
        } else if (len > kLabelMax) {
            status = ADDR_IDN_LABEL_TOO_LONG;
        } else if (starts_with_ace_prefix(start, len)) {
            // Checked only: an ASCII label goes as written.
            size_t ignored;
            status = idna_label(start, len, mapped, &ignored);
        }
        if (status != ADDR_IDN_OK)
            return status;
        if (used + (used ? 1 : 0) + label_len > kDomainMax)
            return ADDR_IDN_DOMAIN_TOO_LONG;
        // A label goes in whole or not at all, so out keeps the labels
        // before a failing one and is never cut inside a label.
        size_t mark = used;
        if (!(used == 0 || append_bounded(out, size, &used, ".", 1)) ||
            !append_bounded(out, size, &used, label, label_len)) {
            out[mark] = '\0';
            return ADDR_IDN_NO_ROOM;
        }
    }
    return ADDR_IDN_OK;
}

char *addr_idn_domain(const char *domain, char *out, size_t size)
{
    return addr_idn_convert(domain, out, size) == ADDR_IDN_OK ? out : nullptr;
}

const char *addr_idn_reason(int status)
{
    switch (status) {
    case ADDR_IDN_OK:
        return "valid";
    case ADDR_IDN_BAD_BYTES:
        return "a label is not UTF-8 or holds a control character";
    case ADDR_IDN_LABEL_TOO_LONG:
        return "a label is longer than 63 bytes in its ASCII form";
    case ADDR_IDN_DOMAIN_TOO_LONG:
        return "the domain is longer than 253 bytes in its ASCII form";
    case ADDR_IDN_NO_ROOM:
        return "the domain does not fit";
    case ADDR_IDN_NOMEM:
        return "out of memory";
    case ADDR_IDN_NOT_LDH:
        return "a label does not map to letters, digits and hyphens";
    default:
        return "a label is not a valid IDNA label";
    }
}

namespace {

bool append_utf8(char *out, size_t size, size_t *used, uint32_t cp)
{
    char b[4];
    size_t n;
    if (cp < 0x80) {
        b[0] = static_cast<char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        b[0] = static_cast<char>(0xc0 | cp >> 6);
        n = 2;
    } else if (cp < 0x10000) {
        b[0] = static_cast<char>(0xe0 | cp >> 12);
        n = 3;
    } else {
        b[0] = static_cast<char>(0xf0 | cp >> 18);
        n = 4;
    }
    for (size_t i = 1; i < n; i++)
        b[i] = static_cast<char>(0x80 | (cp >> (6 * (n - 1 - i)) & 0x3f));
    return append_bounded(out, size, used, b, n);
}

// Appends one label of an ASCII form in its Unicode form: an "xn--" label
// decoded from its Punycode, any other as it stands.
int append_unicode_label(char *out, size_t size, size_t *used, const char *label, size_t len)
{
    if (!starts_with_ace_prefix(label, len))
        return append_bounded(out, size, used, label, len) ? ADDR_IDN_OK : ADDR_IDN_NO_ROOM;
    uint32_t cps[kLabelMax];
    uint64_t count = kLabelMax;
    if (addr_punycode_decode(len - 4, label + 4, &count, cps, nullptr) != PUNY_SUCCESS)
        return ADDR_IDN_INVALID;
    for (uint64_t i = 0; i < count; i++)
        if (!append_utf8(out, size, used, cps[i]))
            return ADDR_IDN_NO_ROOM;
    return ADDR_IDN_OK;
}

} // namespace

int addr_idn_unicode(const char *domain, char *out, size_t size)
{
    if (!domain || str_is_ascii(domain))
        return addr_idn_convert(domain, out, size);
    if (!out || size == 0)
        return ADDR_IDN_NO_ROOM;
    out[0] = '\0';
    // The ASCII form of a mapped domain has no empty label and none over
    // 63 bytes, at most 253 bytes in all.
    char ascii[ADDR_BUF_SIZE];
    int status = addr_idn_convert(domain, ascii, sizeof ascii);
    if (status != ADDR_IDN_OK)
        return status;
    size_t used = 0;
    for (const char *p = ascii;;) {
        const char *dot = strchr(p, '.');
        size_t len = dot ? static_cast<size_t>(dot - p) : strlen(p);
        size_t mark = used;
        if (used)
            status = append_bounded(out, size, &used, ".", 1) ? ADDR_IDN_OK : ADDR_IDN_NO_ROOM;
        if (status == ADDR_IDN_OK)
            status = append_unicode_label(out, size, &used, p, len);
        if (status != ADDR_IDN_OK) {
            out[mark] = '\0';
            return status;
        }
        if (!dot)
            return ADDR_IDN_OK;
        p = dot + 1;
    }
}

namespace {

// The forms of an address's domain the preparation writes.
enum DomainForm { FORM_ASCII, FORM_UNICODE };

// The local part and its "@" as they are, then the domain: with SMTPUTF8 an
// ASCII domain as written (once it has an ASCII form), else the form asked
// for; built aside, so that out stays untouched on every failure. limit is
// the size the whole may take.
char *prepare(const char *address, char *out, size_t size, size_t limit, int smtputf8, DomainForm form)
{
    const char *at = strrchr(address, '@');
    const char *domain = at + 1;
    char work[ADDR_SHOWN_BUF_SIZE];
    size_t used = 0;
    work[0] = '\0';
    if (!append_bounded(work, limit, &used, address, static_cast<size_t>(domain - address)))
        return nullptr;
    int status;
    if (smtputf8 && str_is_ascii(domain)) {
        char ascii[ADDR_BUF_SIZE];
        status = addr_idn_convert(domain, ascii, sizeof ascii);
        if (status == ADDR_IDN_OK && !append_bounded(work, limit, &used, domain, strlen(domain)))
            status = ADDR_IDN_NO_ROOM;
    } else if (smtputf8 && form == FORM_UNICODE) {
        status = addr_idn_unicode(domain, work + used, limit - used);
    } else {
        status = addr_idn_convert(domain, work + used, limit - used);
    }
    if (status != ADDR_IDN_OK)
        return nullptr;
    size_t whole = used + strlen(work + used);
    if (whole >= size)
        return nullptr;
    memcpy(out, work, whole + 1);
    return out;
}

} // namespace

char *addr_prepare_for_smtp(const char *address, char *out, size_t size, int *kind, int smtputf8)
{
    int k = addr_classify(address);
    if (kind)
        *kind = k;
    if (k == ADDR_KIND_BAD || (k == ADDR_KIND_UTF8_LOCAL && !smtputf8) || !out)
        return nullptr;
    return prepare(address, out, size, ADDR_BUF_SIZE, smtputf8, FORM_ASCII);
}

char *addr_prepare_for_header(const char *address, char *out, size_t size, int smtputf8)
{
    if (addr_classify(address) == ADDR_KIND_BAD || !out)
        return nullptr;
    return prepare(address, out, size, ADDR_SHOWN_BUF_SIZE, smtputf8, FORM_UNICODE);
}
