// Decimal number parsing shared by every option that takes a number (ports,
// time-outs, line lengths, priorities, dates): saturating parsers, so that a
// long digit string can never wrap around into a small valid-looking value,
// and a strict one for what a user types.
#pragma once

#include <cstdint>

// Reads a decimal integer the way atoi does (leading blanks, an optional
// sign, digits up to the first non-digit; no digits give 0), except that a
// value beyond the 64-bit range saturates at INT64_MIN / INT64_MAX. When end
// is given it receives the first character not used.
int64_t num_parse_i64(const char *text, const char **end = nullptr);

// The same for an unsigned 64-bit value (no sign allowed: a "-" gives 0 with
// nothing used); saturates at UINT64_MAX.
uint64_t num_parse_u64(const char *text, const char **end = nullptr);

// What num_parse_digits found.
enum {
    NUM_DIGITS_OK = 0,     // digits only, at most the maximum
    NUM_DIGITS_EMPTY,      // no text, or an empty one
    NUM_DIGITS_NOT_DIGITS, // a blank, sign, point, unit or any other byte
    NUM_DIGITS_TOO_LARGE,  // digits only, above the maximum (however long)
};

// Reads a number as a user must write it: decimal digits only, to the end
// of the text ("25", "007"; not " 25", "+25", "25x", "2.5" or "1m"), at most
// max. *value is written only with NUM_DIGITS_OK.
int num_parse_digits(const char *text, uint64_t max, uint64_t *value);
