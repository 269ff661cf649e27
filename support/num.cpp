// Saturating decimal parsers.
#include "support/num.h"

static const char *skip_blanks(const char *p)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')
        p++;
    return p;
}

// Reads the digits at p into *value, stopping at limit instead of wrapping;
// returns the first character after them.
static const char *digits_saturating(const char *p, uint64_t limit, uint64_t *value)
{
    uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        unsigned d = static_cast<unsigned>(*p - '0');
        v = (v > (limit - d) / 10) ? limit : v * 10 + d;
    }
    *value = v;
    return p;
}

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
    // INT64_MIN's magnitude is one more than INT64_MAX.
    const uint64_t limit = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : INT64_MAX;
    uint64_t value = 0;
    const char *after = digits_saturating(p, limit, &value);
    if (end)
        *end = after == p ? text : after;
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
    const char *after = digits_saturating(p, UINT64_MAX, &value);
    if (end)
        *end = after == p ? text : after;
    return value;
}

int num_parse_digits(const char *text, uint64_t max, uint64_t *value)
{
    if (!text || !*text)
        return NUM_DIGITS_EMPTY;
    uint64_t v = 0;
    bool above = false;
    for (const char *p = text; *p; p++) {
        if (*p < '0' || *p > '9')
            return NUM_DIGITS_NOT_DIGITS;
        // Once above the maximum the rest is only checked to be digits.
        unsigned d = static_cast<unsigned>(*p - '0');
        if (above)
            continue;
        if (d > max || v > (max - d) / 10)
            above = true;
        else
            v = v * 10 + d;
    }
    if (above)
        return NUM_DIGITS_TOO_LARGE;
    *value = v;
    return NUM_DIGITS_OK;
}
