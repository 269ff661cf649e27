// The validation door for raw header and command text.
#include "mail/check.h"

#include <cstring>

namespace {

// Whether the bytes at p (left of them) begin the UTF-8 form of a C1
// control (U+0080 to U+009F: C2 80 to C2 9F) or of the line or paragraph
// separator (U+2028, U+2029: E2 80 A8, E2 80 A9): characters that end or
// steer a line as the C0 controls do for the readers that honour them.
bool line_control_at(const unsigned char *p, size_t left)
{
    if (p[0] == 0xc2)
        return left >= 2 && p[1] >= 0x80 && p[1] <= 0x9f;
    if (p[0] == 0xe2)
        return left >= 3 && p[1] == 0x80 && (p[2] == 0xa8 || p[2] == 0xa9);
    return false;
}

bool is_alnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// One label of a domain as EHLO takes it (RFC 5321 sub-domain): letters,
// digits and inner hyphens, at most 63 of them.
bool is_ldh_label(const char *p, size_t len)
{
    if (len == 0 || len > 63 || p[0] == '-' || p[len - 1] == '-')
        return false;
    for (size_t i = 0; i < len; i++)
        if (!is_alnum(static_cast<unsigned char>(p[i])) && p[i] != '-')
            return false;
    return true;
}

// Dot-separated labels, each one by the rule of the check.
template <class LabelOk> bool dotted(const char *text, size_t len, LabelOk &&label_ok)
{
    for (size_t start = 0;;) {
        const char *dot = static_cast<const char *>(memchr(text + start, '.', len - start));
        size_t end = dot ? static_cast<size_t>(dot - text) : len;
        if (!label_ok(text + start, end - start))
            return false;
        if (!dot)
            return true;
        start = end + 1;
    }
}

} // namespace

int text_is_clean_n(const char *text, size_t len, int tab_rule)
{
    if (!text)
        return 1;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\t' && tab_rule == TEXT_ALLOW_TAB)
            continue;
        if (c < 0x20 || c == 0x7f)
            return 0;
        if (tab_rule == TEXT_NO_TAB &&
            line_control_at(reinterpret_cast<const unsigned char *>(text) + i, len - i))
            return 0;
    }
    return 1;
}

int text_is_clean(const char *text, int tab_rule)
{
    return text ? text_is_clean_n(text, strlen(text), tab_rule) : 1;
}

int text_is_visible_ascii(const char *text, int colon_allowed)
{
    if (!text || !*text)
        return 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        if (*p < 33 || *p > 126 || (*p == ':' && !colon_allowed))
            return 0;
    }
    return 1;
}

int text_is_ldh_label(const char *label, size_t len)
{
    return label && is_ldh_label(label, len);
}

int text_is_helo_name(const char *text)
{
    size_t len = text ? strlen(text) : 0;
    if (len == 0 || len > HELO_NAME_MAX)
        return 0;
    if (text[0] != '[')
        return dotted(text, len, is_ldh_label);
    // An address literal: "[" IPv4 "]", or "[" tag ":" content "]" (the
    // IPv6 form has the tag "IPv6").
    if (len < 3 || text[len - 1] != ']')
        return 0;
    const char *inner = text + 1;
    size_t inner_len = len - 2;
    const char *colon = static_cast<const char *>(memchr(inner, ':', inner_len));
    if (!colon) {
        size_t groups = 0;
        bool ok = dotted(inner, inner_len, [&](const char *p, size_t n) {
            groups++;
            unsigned value = 0;
            for (size_t i = 0; i < n; i++) {
                if (p[i] < '0' || p[i] > '9')
                    return false;
                value = value * 10 + static_cast<unsigned>(p[i] - '0');
            }
            return n >= 1 && n <= 3 && value <= 255;
        });
        return ok && groups == 4;
    }
    if (!is_ldh_label(inner, static_cast<size_t>(colon - inner)) || colon + 1 == inner + inner_len)
        return 0;
    for (const char *p = colon + 1; p < inner + inner_len; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 33 || c > 126 || c == '[' || c == '\\' || c == ']')
            return 0;
    }
    return 1;
}
