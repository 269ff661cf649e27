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
