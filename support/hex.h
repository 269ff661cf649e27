// Hexadecimal digits: the one table of digit characters every encoder and
// printer writes from, and the one reader of a digit's value.
#pragma once

inline constexpr char HEX_DIGITS_LOWER[] = "0123456789abcdef";
inline constexpr char HEX_DIGITS_UPPER[] = "0123456789ABCDEF";

// 0 to 15, or -1 for a character that is no hex digit (either case).
constexpr int hex_nibble(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The same with 0 for a character that is no hex digit.
constexpr int hex_digit_value(int c)
{
    int v = hex_nibble(c);
    return v < 0 ? 0 : v;
}
