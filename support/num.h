// Decimal number parsing shared by every option that takes a number (ports,
// time-outs, line lengths, dates): one saturating parser, so that a long
// digit string can never wrap around into a small valid-looking value.
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
