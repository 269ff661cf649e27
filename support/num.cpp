// Saturating decimal parsers.
#include "support/num.h"

static const char *skip_blanks(const char *p)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')
        p++;
    return p;
}

static inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

int64_t num_parse_i64(const char *text, const char **end)
{
    if (!text) {
        if (end)
            *end = text;
        return 0;
    }
    const char *p = skip_blanks(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        p++;
    }
    // Accumulate the magnitude; INT64_MIN's magnitude is one more than MAX.
    const uint64_t limit = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : INT64_MAX;
    uint64_t value = 0;
    const char *digits = p;
    for (; is_digit(*p); p++) {
        unsigned d = static_cast<unsigned>(*p - '0');
        value = (value > (limit - d) / 10) ? limit : value * 10 + d;
    }
    if (end)
        *end = p == digits ? text : p;
    if (negative)
        return value == limit ? INT64_MIN : -static_cast<int64_t>(value);
    return static_cast<int64_t>(value);
}

uint64_t num_parse_u64(const char *text, const char **end)
{
    if (!text) {
        if (end)
            *end = text;
        return 0;
    }
    const char *p = skip_blanks(text);
    if (*p == '+')
        p++;
    uint64_t value = 0;
    const char *digits = p;
    for (; is_digit(*p); p++) {
        unsigned d = static_cast<unsigned>(*p - '0');
        value = (value > (UINT64_MAX - d) / 10) ? UINT64_MAX : value * 10 + d;
    }
    if (end)
        *end = p == digits ? text : p;
    return value;
}
