// The saturating decimal parsers.
#include "support/num.h"

#include <gtest/gtest.h>

TEST(Num, ParsesLikeAtoiButSaturates)
{
    struct Case {
        const char *text;
        int64_t value;
        int used; // characters consumed
    } cases[] = {
        {"25", 25, 2},
        {"  -17x", -17, 5},
        {"+8", 8, 2},
        {"abc", 0, 0},
        {"", 0, 0},
        {"-", 0, 0},
        {"4294967321", 4294967321LL, 10},
        {"9223372036854775807", INT64_MAX, 19},
        {"9223372036854775808", INT64_MAX, 19},
        {"-9223372036854775808", INT64_MIN, 20},
        {"99999999999999999999999", INT64_MAX, 23},
        {"-99999999999999999999999", INT64_MIN, 24},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const char *end = nullptr;
        EXPECT_EQ(num_parse_i64(c.text, &end), c.value);
        EXPECT_EQ(end - c.text, c.used);
    }
    EXPECT_EQ(num_parse_i64(nullptr), 0);
}

TEST(Num, UnsignedSaturatesAndRefusesSign)
{
    EXPECT_EQ(num_parse_u64("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(num_parse_u64("184467440737095516150"), UINT64_MAX);
    EXPECT_EQ(num_parse_u64(" 1700000000 "), 1700000000u);
    EXPECT_EQ(num_parse_u64("-5"), 0u);
    EXPECT_EQ(num_parse_u64("x"), 0u);
}

TEST(Num, DigitsOnlyUpToAMaximum)
{
    struct Case {
        const char *text;
        uint64_t max;
        int result;
        uint64_t value; // with NUM_DIGITS_OK; otherwise the value stays 77
    } cases[] = {
        {"25", 65535, NUM_DIGITS_OK, 25},
        {"007", 65535, NUM_DIGITS_OK, 7},
        {"0", 0, NUM_DIGITS_OK, 0},
        {"65535", 65535, NUM_DIGITS_OK, 65535},
        {"65536", 65535, NUM_DIGITS_TOO_LARGE, 77},
        {"6", 5, NUM_DIGITS_TOO_LARGE, 77},
        {"5", 5, NUM_DIGITS_OK, 5},
        {"18446744073709551615", UINT64_MAX, NUM_DIGITS_OK, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, NUM_DIGITS_TOO_LARGE, 77},
        {"99999999999999999999999", UINT64_MAX, NUM_DIGITS_TOO_LARGE, 77},
        // Digits to the end however long: a letter after a long number
        // is still no number.
        {"99999999999999999999999x", UINT64_MAX, NUM_DIGITS_NOT_DIGITS, 77},
        {"", 65535, NUM_DIGITS_EMPTY, 77},
        {nullptr, 65535, NUM_DIGITS_EMPTY, 77},
        {" 25", 65535, NUM_DIGITS_NOT_DIGITS, 77},
        {"25 ", 65535, NUM_DIGITS_NOT_DIGITS, 77},
        {"+25", 65535, NUM_DIGITS_NOT_DIGITS, 77},
        {"-1", 65535, NUM_DIGITS_NOT_DIGITS, 77},
        {"4.9", 65535, NUM_DIGITS_NOT_DIGITS, 77},
        {"1m", 65535, NUM_DIGITS_NOT_DIGITS, 77},
        {"\xd9\xa3", 65535, NUM_DIGITS_NOT_DIGITS, 77}, // ARABIC-INDIC DIGIT THREE
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "NULL");
        uint64_t value = 77;
        EXPECT_EQ(num_parse_digits(c.text, c.max, &value), c.result);
        EXPECT_EQ(value, c.value);
    }
}
