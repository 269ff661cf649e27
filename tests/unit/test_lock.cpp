// Tests of the owner-tracking mutex, the block pool, the reader/writer lock
// in both modes and the thread registry, with real threads.
#include "support/lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"

namespace {

using namespace std::chrono_literals;

// Polls pred for up to ten seconds; a correct lock answers long before that.
template <class Pred>
bool eventually(Pred pred)
{
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A short wait for something that must NOT happen: a correct lock never
// lets it happen, so this cannot fail spuriously.
template <class Pred>
bool stays_false_for_a_while(Pred pred)
{
    for (int i = 0; i < 50; i++) {
        if (pred())
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct MutexDeleter {
    void operator()(Mutex *m) const { mutex_free(m); }
};
struct PoolDeleter {
    void operator()(BlockPool *p) const { pool_destroy(p); }
};
struct RwDeleter {
    void operator()(RwLock *rw) const { rwlock_free(rw); }
};

// ---- Mutex -------------------------------------------------------------------

TEST(Mutex, LockTwiceUnlockOnceReleasesIt)
{
    std::unique_ptr<Mutex, MutexDeleter> m(mutex_new());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->owner.load(), 0u);
    EXPECT_EQ(mutex_lock(m.get()), 1);
    EXPECT_EQ(mutex_lock(m.get()), 1); // returns at once: no self-deadlock
    EXPECT_EQ(m->owner.load(), plat_thread_id());
    EXPECT_EQ(mutex_unlock(m.get()), 1);
    EXPECT_EQ(m->owner.load(), 0u);

    std::atomic<bool> got{false};
    std::thread other([&] {
        mutex_lock(m.get());
        got = true;
        mutex_unlock(m.get());
    });
    bool ok = eventually([&] { return got.load(); });
    if (!ok)
        mutex_unlock(m.get()); // free the other thread so it can be joined
    other.join();
    EXPECT_TRUE(ok) << "a single unlock did not release a twice-locked mutex";
}

TEST(Mutex, UnlockByNonOwnerChangesNothing)
{
    std::unique_ptr<Mutex, MutexDeleter> m(mutex_new());
    ASSERT_TRUE(m);
    mutex_lock(m.get());
    uint32_t me = plat_thread_id();

    std::thread stranger([&] { EXPECT_EQ(mutex_unlock(m.get()), 1); });
    stranger.join();
    EXPECT_EQ(m->owner.load(), me);

    std::atomic<bool> got{false};
    std::thread waiter([&] {
        mutex_lock(m.get());
        got = true;
        mutex_unlock(m.get());
    });
    EXPECT_TRUE(stays_false_for_a_while([&] { return got.load(); }));
    mutex_unlock(m.get());
    EXPECT_TRUE(eventually([&] { return got.load(); }));
    waiter.join();
}

TEST(Mutex, ExcludesUnderContention)
{
    std::unique_ptr<Mutex, MutexDeleter> m(mutex_new());
    ASSERT_TRUE(m);
    long counter = 0; // deliberately plain: the mutex must protect it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; i++) {
                mutex_lock(m.get());
                counter++;
                mutex_unlock(m.get());
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(counter, 4 * 20000);
    mutex_free(nullptr); // harmless
}

// ---- BlockPool -----------------------------------------------------------------

// PoolBlock is private to the pool, so the tests count blocks through the
// list instead of looking inside them.
size_t block_count(const BlockPool *p)
{
    size_t n = 0;
    for (ListLink *l = p->blocks; l; l = l->next)
        n++;
    return n;
}

TEST(BlockPool, RefusesBadSizes)
{
    struct Case {
        uint32_t slots, size;
        bool ok;
    };
    const Case cases[] = {
        {0, 16, false},          {1, 16, true},
        {65535, 16, true},       {65536, 16, false},
        {0xffffffffu, 16, false}, {64, 0, false},
        {1, 0xffffffffu, false}, {65535, 0xffffffffu, false},
        {65535, 1u << 20, false}, {1, 1u << 20, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.slots << " x " << c.size);
        std::unique_ptr<BlockPool, PoolDeleter> p(pool_new(c.slots, c.size));
        EXPECT_EQ(p != nullptr, c.ok);
        if (p) {
            EXPECT_LE(pool_block_bytes(c.slots, c.size), size_t{POOL_MAX_BLOCK_BYTES});
            void *slot = pool_alloc(p.get());
            ASSERT_TRUE(slot);
            pool_free(p.get(), slot);
        }
    }
}

TEST(BlockPool, GrowsAndShrinksByWholeBlocks)
{
    std::unique_ptr<BlockPool, PoolDeleter> p(pool_new(64, 24));
    ASSERT_TRUE(p);
    EXPECT_EQ(block_count(p.get()), 0u);
    std::vector<void *> first;
    for (int i = 0; i < 64; i++) {
        void *s = pool_alloc(p.get());
        ASSERT_TRUE(s);
        // Zeroed, aligned, and distinct bytes for each caller.
        EXPECT_EQ(reinterpret_cast<uintptr_t>(s) % alignof(std::max_align_t), 0u);
        static const char zero[24] = {};
        EXPECT_EQ(memcmp(s, zero, 24), 0);
        memset(s, 0xab, 24);
        first.push_back(s);
    }
    EXPECT_EQ(block_count(p.get()), 1u);
    void *second = pool_alloc(p.get()); // the 65th opens a second block
    ASSERT_TRUE(second);
    EXPECT_EQ(block_count(p.get()), 2u);
    for (void *s : first)
        pool_free(p.get(), s);
    EXPECT_EQ(block_count(p.get()), 1u); // the first block went back
    pool_free(p.get(), second);
    EXPECT_EQ(block_count(p.get()), 0u);
    EXPECT_EQ(p->current, nullptr);
}

TEST(BlockPool, ReusesReturnedSlotsOnlyAfterFreshOnes)
{
    std::unique_ptr<BlockPool, PoolDeleter> p(pool_new(8, 16));
    ASSERT_TRUE(p);
    void *a = pool_alloc(p.get());
    void *b = pool_alloc(p.get());
    void *c = pool_alloc(p.get());
    pool_free(p.get(), b);
    pool_free(p.get(), a); // most recently returned
    std::set<void *> seen{a, b, c};
    std::vector<void *> fresh;
    for (int i = 0; i < 5; i++) { // slots 3..7 have never been used
        void *s = pool_alloc(p.get());
        EXPECT_FALSE(seen.count(s)) << "reused a slot before the fresh ones ran out";
        seen.insert(s);
        fresh.push_back(s);
    }
    EXPECT_EQ(pool_alloc(p.get()), a); // then the returned ones, newest first
    EXPECT_EQ(pool_alloc(p.get()), b);
    EXPECT_EQ(block_count(p.get()), 1u);
    void *next = pool_alloc(p.get()); // full: a new block
    EXPECT_FALSE(seen.count(next));
    EXPECT_EQ(block_count(p.get()), 2u);
    // The pool is destroyed with slots still out: every block goes.
}

TEST(BlockPool, IgnoresDoubleAndForeignFrees)
{
    std::unique_ptr<BlockPool, PoolDeleter> p(pool_new(4, 32));
    std::unique_ptr<BlockPool, PoolDeleter> other(pool_new(4, 32));
    ASSERT_TRUE(p && other);
    void *a = pool_alloc(p.get());
    void *b = pool_alloc(p.get());
    void *foreign = pool_alloc(other.get());
    ASSERT_TRUE(a && b && foreign);

    pool_free(p.get(), a);
    pool_free(p.get(), a);       // already returned
    pool_free(p.get(), foreign); // belongs to another pool
    char local[64];
    pool_free(p.get(), local + 16); // belongs to no pool
    pool_free(p.get(), static_cast<char *>(b) + 1); // not a slot start
    pool_free(p.get(), nullptr);
    EXPECT_EQ(block_count(p.get()), 1u); // b still holds the block

    // The free stack is intact: the next slots are the fresh ones, then a
    // once, not twice.
    std::set<void *> got;
    for (int i = 0; i < 3; i++)
        got.insert(pool_alloc(p.get()));
    EXPECT_EQ(got.size(), 3u);
    EXPECT_TRUE(got.count(a));
    EXPECT_FALSE(got.count(b));
    EXPECT_EQ(block_count(p.get()), 1u);
    void *extra = pool_alloc(p.get());
    EXPECT_FALSE(got.count(extra));
    EXPECT_EQ(block_count(p.get()), 2u);
    pool_free(other.get(), foreign);
    EXPECT_EQ(block_count(other.get()), 0u);
}

TEST(BlockPool, BlockTakeHandsOutEachSlotOnce)
{
    std::unique_ptr<BlockPool, PoolDeleter> p(pool_new(4, 8));
    ASSERT_TRUE(p);
    void *s0 = pool_alloc(p.get());
    ASSERT_TRUE(s0 && p->current);
    // The remaining three slots, then nothing; each comes back through
    // pool_free like one from pool_alloc.
    std::vector<char *> taken;
    while (void *slot = pool_block_take(p->slots_per_block, p->slot_size, p->current))
        taken.push_back(static_cast<char *>(slot));
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_LT(static_cast<char *>(s0), taken[0]);
    EXPECT_LT(taken[0], taken[1]);
    EXPECT_LT(taken[1], taken[2]);
    EXPECT_EQ(taken[1] - taken[0], taken[2] - taken[1]);
    // The slot bytes follow the slot header at the same distance as s0's.
    ptrdiff_t header = static_cast<char *>(s0) - (taken[0] - (taken[1] - taken[0]));
    for (char *slot : taken)
        pool_free(p.get(), slot + header);
    pool_free(p.get(), s0);
    EXPECT_EQ(block_count(p.get()), 0u);
}

TEST(BlockPool, PlainHeapMode)
{
    std::unique_ptr<BlockPool, PoolDeleter> p(pool_new(64, 40));
    ASSERT_TRUE(p);
    pool_plain_alloc = 1;
    void *s = pool_alloc(p.get());
    ASSERT_TRUE(s);
    static const char zero[40] = {};
    EXPECT_EQ(memcmp(s, zero, 40), 0);
    EXPECT_EQ(block_count(p.get()), 0u);
    pool_free(p.get(), s); // the leak checker sees it go back to the heap
    pool_plain_alloc = 0;
}

TEST(BlockPool, SharedByThreads)
{
    std::unique_ptr<BlockPool, PoolDeleter> p(pool_new(16, sizeof(uint64_t)));
    ASSERT_TRUE(p);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&, t] {
            std::vector<uint64_t *> mine;
            for (int round = 0; round < 200; round++) {
                for (int i = 0; i < 20; i++) {
                    auto *s = static_cast<uint64_t *>(pool_alloc(p.get()));
                    if (!s || *s != 0)
                        bad++;
                    if (s) {
                        *s = static_cast<uint64_t>(t) << 32 | static_cast<uint64_t>(i);
                        mine.push_back(s);
                    }
                }
                for (size_t i = 0; i < mine.size(); i++)
                    if (*mine[i] != (static_cast<uint64_t>(t) << 32 | i))
                        bad++; // someone else was handed our slot
                for (uint64_t *s : mine)
                    pool_free(p.get(), s);
                mine.clear();
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(block_count(p.get()), 0u);
}

// ---- RwLock ------------------------------------------------------------------

TEST(RwLock, SimpleModeSharedAcquireExcludesOtherThreads)
{
    ASSERT_EQ(rwlock_simple.load(), 1); // the start-up state
    std::unique_ptr<RwLock, RwDeleter> rw(rwlock_new());
    ASSERT_TRUE(rw);
    EXPECT_EQ(rwlock_acquire(rw.get(), 0), 1);
    std::atomic<bool> got{false};
    std::thread other([&] {
        rwlock_acquire(rw.get(), 0);
        got = true;
        rwlock_release(rw.get());
    });
    EXPECT_TRUE(stays_false_for_a_while([&] { return got.load(); }));
    EXPECT_EQ(rwlock_release(rw.get()), 1);
    EXPECT_TRUE(eventually([&] { return got.load(); }));
    other.join();
    // Nothing was queued in the plain-mutex mode.
    EXPECT_EQ(rw->readers, nullptr);
    EXPECT_EQ(rw->writers, nullptr);
    rwlock_set_simple();
    EXPECT_EQ(rwlock_simple.load(), 1);
}

// Runs a test body in the reader/writer mode and restores the start-up state.
struct RwModeTest : ::testing::Test {
    std::unique_ptr<RwLock, RwDeleter> rw;
    void SetUp() override
    {
        rwlock_set_simple_for_test(0);
        rw.reset(rwlock_new());
        ASSERT_TRUE(rw);
    }
    void TearDown() override
    {
        rw.reset();
        rwlock_set_simple_for_test(1);
    }
    bool writer_queued()
    {
        mutex_lock(&rw->lock);
        bool queued = rw->writers != nullptr;
        mutex_unlock(&rw->lock);
        return queued;
    }
};

TEST_F(RwModeTest, ReadersShareTheLock)
{
    ASSERT_EQ(rwlock_acquire(rw.get(), 0), 1);
    ASSERT_EQ(rwlock_acquire(rw.get(), 0), 1); // again: no second node
    std::atomic<bool> got{false};
    std::thread other([&] {
        rwlock_acquire(rw.get(), 0);
        got = true;
        rwlock_release(rw.get());
    });
    bool ok = eventually([&] { return got.load(); });
    rwlock_release(rw.get());
    other.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(rw->readers, nullptr);
}

TEST_F(RwModeTest, QueuedWriterStopsLaterReaders)
{
    ASSERT_EQ(rwlock_acquire(rw.get(), 0), 1); // this thread reads

    std::atomic<int> order{0};
    std::atomic<int> writer_at{0}, reader_at{0};
    std::atomic<bool> writer_in{false};
    std::thread writer([&] {
        rwlock_acquire(rw.get(), 1);
        writer_in = true;
        writer_at = ++order;
        // Hold it long enough for a wrongly admitted reader to show.
        std::this_thread::sleep_for(20ms);
        writer_in = false;
        rwlock_release(rw.get());
    });
    ASSERT_TRUE(eventually([&] { return writer_queued(); }));
    EXPECT_FALSE(writer_in.load()); // our read access keeps it out

    std::atomic<bool> reader_saw_writer{false};
    std::thread reader([&] {
        rwlock_acquire(rw.get(), 0);
        reader_at = ++order;
        if (writer_in.load())
            reader_saw_writer = true;
        rwlock_release(rw.get());
    });
    EXPECT_TRUE(stays_false_for_a_while([&] { return reader_at.load() != 0; }))
        << "a reader got in while a writer was queued";
    EXPECT_EQ(writer_at.load(), 0);

    rwlock_release(rw.get());
    writer.join();
    reader.join();
    EXPECT_EQ(writer_at.load(), 1);
    EXPECT_EQ(reader_at.load(), 2);
    EXPECT_FALSE(reader_saw_writer.load());
    EXPECT_EQ(rw->readers, nullptr);
    EXPECT_EQ(rw->writers, nullptr);
    EXPECT_EQ(rw->writer, 0u);
}

TEST_F(RwModeTest, OnlyReaderUpgradesAtOnce)
{
    uint32_t me = plat_thread_id();
    ASSERT_EQ(rwlock_acquire(rw.get(), 0), 1);
    ASSERT_EQ(rwlock_acquire(rw.get(), 1), 1); // would wait forever if refused
    EXPECT_EQ(rw->writer, me);
    EXPECT_EQ(rwlock_acquire(rw.get(), 1), 1); // again: adds nothing
    ASSERT_TRUE(rw->writers);
    EXPECT_EQ(rw->writers->next, nullptr);

    std::atomic<bool> got{false};
    std::thread other([&] {
        rwlock_acquire(rw.get(), 0);
        got = true;
        rwlock_release(rw.get());
    });
    EXPECT_TRUE(stays_false_for_a_while([&] { return got.load(); }));
    EXPECT_EQ(rwlock_release(rw.get()), 1); // drops both accesses
    EXPECT_TRUE(eventually([&] { return got.load(); }));
    other.join();
    EXPECT_EQ(rw->writer, 0u);
    EXPECT_EQ(rw->readers, nullptr);
    EXPECT_EQ(rw->writers, nullptr);
}

TEST_F(RwModeTest, WritersExcludeEveryone)
{
    std::atomic<int> readers_in{0}, writers_in{0}, violations{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 60; i++) {
                bool exclusive = (i + t) % 3 == 0;
                rwlock_acquire(rw.get(), exclusive);
                if (exclusive) {
                    if (writers_in.fetch_add(1) != 0 || readers_in.load() != 0)
                        violations++;
                    std::this_thread::yield();
                    writers_in--;
                } else {
                    readers_in++;
                    if (writers_in.load() != 0)
                        violations++;
                    std::this_thread::yield();
                    readers_in--;
                }
                rwlock_release(rw.get());
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(rw->readers, nullptr);
    EXPECT_EQ(rw->writers, nullptr);
}

TEST_F(RwModeTest, NodeQueries)
{
    uint32_t me = plat_thread_id();
    EXPECT_EQ(rwlock_readers_all(rw.get(), me), 1); // no reader at all
    rwlock_acquire(rw.get(), 0);
    EXPECT_EQ(rwlock_readers_all(rw.get(), me), 1);
    EXPECT_EQ(rwlock_readers_all(rw.get(), me + 1000), 0);
    EXPECT_EQ(rwlock_find_node(rw->readers, me), rw->readers);
    EXPECT_EQ(rwlock_find_node(rw->readers, me + 1000), nullptr);
    EXPECT_EQ(rwlock_find_node(nullptr, me), nullptr);
    rwlock_release(rw.get());
    EXPECT_EQ(rwlock_find_node(rw->readers, me), nullptr);
}

// ---- thread registry ---------------------------------------------------------

std::atomic<bool> gate{false};
std::atomic<int> ran{0};

void gated_thread(void *arg)
{
    ran += *static_cast<int *>(arg);
    while (!gate.load())
        plat_sleep_ms(1);
    thread_exit();
}

void open_gate() { gate = true; }

TEST(ThreadRegistry, WaitWithoutThreads)
{
    thread_registry_free();
    testing::internal::CaptureStdout();
    thread_wait_all(nullptr); // no registry: nothing printed
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    thread_registry_init();
    ASSERT_TRUE(thread_registry_lock);
    Mutex *lock = thread_registry_lock;
    thread_registry_init(); // made once
    EXPECT_EQ(thread_registry_lock, lock);
    testing::internal::CaptureStdout();
    thread_wait_all(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Waiting on 0 threads\n");
    thread_registry_free();
    EXPECT_EQ(thread_registry_lock, nullptr);
}

TEST(ThreadRegistry, WaitsForStartedThreads)
{
    thread_registry_init();
    gate = false;
    ran = 0;
    int one = 1;
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(thread_start(gated_thread, &one), 1);
    EXPECT_TRUE(eventually([] { return ran.load() == 3; }));
    EXPECT_EQ(thread_count.load(), 3);

    testing::internal::CaptureStdout();
    thread_wait_all(open_gate); // the idle function lets the threads end
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Waiting on 3 threads\n", 0), 0u) << out;
    const std::string last = "Waiting on 0 threads\n";
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last);
    EXPECT_EQ(thread_count.load(), 0);
    thread_registry_free();
}

// With no room left for a thread's stack the start fails: thread_start says
// so and takes back its count, so a later wait does not wait for a thread
// that never ran. Run in a child whose address space may not grow (the
// address sanitizer needs room of its own there, so not under it).
TEST(ThreadRegistry, FailedStartIsReportedAndNotCounted)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "needs a limit on the address space";
#else
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        thread_registry_init();
        gate = false; // every thread that does start stays, keeping its stack
        int before = thread_count.load();
        struct rlimit rl;
        getrlimit(RLIMIT_AS, &rl);
        rl.rlim_cur = 0;
        setrlimit(RLIMIT_AS, &rl);
        // Stacks the C library kept from earlier threads may still serve a
        // few starts; after those, none can succeed.
        int one = 1, started = 0, failed = 0;
        for (int i = 0; i < 100 && !failed; i++) {
            if (thread_start(gated_thread, &one))
                started++;
            else
                failed = 1;
        }
        _exit(failed && thread_count.load() == before + started ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

} // namespace
