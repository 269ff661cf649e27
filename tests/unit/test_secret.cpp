// The holder of secret texts: copies hold every byte (NUL bytes too), a
// move leaves the source empty, and a text that cannot be made leaves the
// holder empty instead of throwing.
#include "support/secret.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace {

TEST(SecretText, CopiesAdoptsAndMoves)
{
    const char bytes[] = "user\0pass";
    SecretText copy(bytes, sizeof bytes - 1);
    ASSERT_TRUE(copy.ok());
    EXPECT_EQ(std::string(copy.data(), copy.size()), std::string(bytes, sizeof bytes - 1));
    EXPECT_EQ(copy.data()[copy.size()], '\0');

    SecretText moved = std::move(copy);
    EXPECT_FALSE(copy.ok());
    EXPECT_EQ(copy.size(), 0u);
    EXPECT_STREQ(moved.data(), "user");

    char *text = static_cast<char *>(malloc(4));
    memcpy(text, "abc", 4);
    moved = SecretText::adopt(text, 3);
    EXPECT_EQ(moved.data(), text);
    EXPECT_EQ(moved.size(), 3u);
    EXPECT_FALSE(SecretText::adopt(nullptr, 7).ok());
    EXPECT_EQ(SecretText::adopt(nullptr, 7).size(), 0u);
}

TEST(SecretText, ResizeGivesZeroedRoomOrAnEmptyHolder)
{
    SecretText s("old secret");
    char *room = s.resize(5);
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(s.size(), 5u);
    EXPECT_EQ(memcmp(room, "\0\0\0\0\0\0", 6), 0);

    // A size whose room cannot be counted: no exception, an empty holder.
    EXPECT_EQ(s.resize(SIZE_MAX), nullptr);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.size(), 0u);
    s.clear();
    EXPECT_FALSE(s.ok());
}

} // namespace
