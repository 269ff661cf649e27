// Tests of the MT19937 generator (against the standard library's engine),
// the nanosecond clock and the chunk stack.
#include "support/rand.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

struct RandDeleter {
    void operator()(RandState *rs) const { rand_free(rs); }
};
using RandPtr = std::unique_ptr<RandState, RandDeleter>;

TEST(Rand, MatchesReferenceSequenceForSeveralSeeds)
{
    // 0 is seeded as 0 itself; 19650218 is the reference's array seed.
    const uint32_t seeds[] = {5489u, 0u, 1u, 42u, 19650218u, 0x80000000u, 0xffffffffu};
    for (uint32_t seed : seeds) {
        SCOPED_TRACE(seed);
        RandPtr rs(rand_new(seed));
        ASSERT_TRUE(rs);
        std::mt19937 ref(seed);
        // Past 1248 draws: three regenerations, including the one at 625.
        for (int i = 0; i < 2000; i++) {
            uint32_t want = ref();
            uint32_t got = rand_next(rs.get());
            ASSERT_EQ(got, want) << "draw " << i + 1;
        }
    }
}

TEST(Rand, TenThousandthOutputOfDefaultSeed)
{
    RandPtr rs(rand_new(5489));
    ASSERT_TRUE(rs);
    uint32_t v = 0;
    for (int i = 0; i < 10000; i++)
        v = rand_next(rs.get());
    EXPECT_EQ(v, 4123659995u);
}

TEST(Rand, RegeneratesOnThe625thDraw)
{
    RandPtr rs(rand_new(5489));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->index, RAND_WORDS);
    rand_next(rs.get());
    EXPECT_EQ(rs->index, 1);
    for (int i = 1; i < 624; i++)
        rand_next(rs.get());
    EXPECT_EQ(rs->index, RAND_WORDS);
    uint32_t word0 = rs->mt[0];
    std::mt19937 ref(5489);
    ref.discard(624);
    EXPECT_EQ(rand_next(rs.get()), ref());
    EXPECT_EQ(rs->index, 1);
    EXPECT_NE(rs->mt[0], word0);
}

TEST(Rand, StatesAreIndependent)
{
    RandPtr a(rand_new(7)), b(rand_new(7));
    ASSERT_TRUE(a && b);
    for (int i = 0; i < 10; i++)
        rand_next(a.get());
    std::mt19937 ref(7);
    EXPECT_EQ(rand_next(b.get()), ref());
}

// ---- clock -------------------------------------------------------------------

TEST(Time, UnitsAndFrequency)
{
    EXPECT_EQ(time_ns_per_second(), 1000000000u);
    EXPECT_EQ(time_perf_frequency(), plat_clock_frequency());
    time_now_ns();
    EXPECT_EQ(perf_frequency.load(), plat_clock_frequency());
}

TEST(Time, NeverDecreasesAndFollowsTheCounter)
{
    uint64_t last = time_now_ns();
    for (int i = 0; i < 100000; i++) {
        uint64_t now = time_now_ns();
        ASSERT_GE(now, last);
        last = now;
    }
    // With a 1 GHz counter the value is the counter itself (in ns).
    ASSERT_EQ(plat_clock_frequency(), 1000000000);
    int64_t before = plat_clock_counter();
    uint64_t now = time_now_ns();
    int64_t after = plat_clock_counter();
    // The double conversion may round by a few ns at large counter values.
    EXPECT_GE(now + 1024, static_cast<uint64_t>(before));
    EXPECT_LE(now, static_cast<uint64_t>(after) + 1024);
}

TEST(Time, CoversASleep)
{
    uint64_t start = time_now_ns();
    plat_sleep_ms(20);
    EXPECT_GE(time_now_ns() - start, 20u * 1000000u);
}

TEST(Time, SafeFromSeveralThreads)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([] {
            uint64_t last = 0;
            for (int i = 0; i < 10000; i++) {
                uint64_t now = time_now_ns();
                EXPECT_GE(now, last);
                last = now;
            }
        });
    for (auto &t : threads)
        t.join();
}

// ---- chunk stack -------------------------------------------------------------

TEST(ChunkStack, PushIterateAndPop)
{
    ChunkStack *stack = nullptr;
    char copied[] = "copied";
    static const char borrowed[] = "borrowed";
    ASSERT_TRUE(chunk_push(&stack, copied, 6, 1));
    ASSERT_TRUE(stack);
    ASSERT_TRUE(chunk_push(&stack, borrowed, 8, 0));
    ASSERT_TRUE(chunk_push(&stack, "", 0, 1)); // an empty copy is still an item

    // The copy is private: changing the original does not reach it.
    copied[0] = 'X';

    // Newest to oldest, the cursor following along.
    ChunkItem *cursor = nullptr;
    size_t size = 99;
    void *d = chunk_next(stack, &size, &cursor);
    ASSERT_TRUE(d);
    EXPECT_EQ(size, 0u);
    d = chunk_next(stack, &size, &cursor);
    EXPECT_EQ(d, borrowed);
    EXPECT_EQ(size, 8u);
    d = chunk_next(stack, &size, &cursor);
    ASSERT_TRUE(d);
    EXPECT_EQ(std::string(static_cast<char *>(d), size), "copied");
    EXPECT_EQ(chunk_next(stack, &size, &cursor), nullptr);
    // Without a cursor it always answers the head.
    EXPECT_EQ(chunk_next(stack, nullptr, nullptr), chunk_next(stack, nullptr, nullptr));
    EXPECT_EQ(chunk_next(nullptr, &size, &cursor), nullptr);

    void *p = chunk_pop(&stack, &size);
    EXPECT_EQ(size, 0u);
    free(p);
    EXPECT_EQ(chunk_pop(&stack, &size), borrowed); // handed back, not freed
    EXPECT_EQ(size, 8u);
    p = chunk_pop(&stack, &size);
    ASSERT_TRUE(p);
    EXPECT_EQ(std::string(static_cast<char *>(p), size), "copied");
    EXPECT_NE(p, static_cast<void *>(copied));
    free(p);

    // The stack is empty but the holder remains until an empty pop.
    ASSERT_TRUE(stack);
    EXPECT_EQ(chunk_pop(&stack, &size), nullptr);
    EXPECT_EQ(stack, nullptr);
    EXPECT_EQ(chunk_pop(&stack, &size), nullptr);

    // A later push makes a new holder.
    ASSERT_TRUE(chunk_push(&stack, borrowed, 3, 0));
    ASSERT_TRUE(stack);
    EXPECT_EQ(chunk_pop(&stack, nullptr), borrowed);
    EXPECT_EQ(chunk_pop(&stack, nullptr), nullptr);
    EXPECT_EQ(stack, nullptr);
}

} // namespace
