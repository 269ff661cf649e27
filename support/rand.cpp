// MT19937, the nanosecond clock and the chunk stack.
#include "support/rand.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

RandState *rand_new(uint32_t seed)
{
    RandState *rs = static_cast<RandState *>(malloc(sizeof(RandState)));
    if (!rs)
        return nullptr;
    rs->mt[0] = seed;
    for (uint32_t i = 1; i < RAND_WORDS; i++)
        rs->mt[i] = 1812433253u * (rs->mt[i - 1] ^ (rs->mt[i - 1] >> 30)) + i;
    rs->index = RAND_WORDS;
    return rs;
}

static void regenerate(RandState *rs)
{
    for (int i = 0; i < RAND_WORDS; i++) {
        uint32_t y = (rs->mt[i] & 0x80000000u) | (rs->mt[(i + 1) % RAND_WORDS] & 0x7fffffffu);
        rs->mt[i] = rs->mt[(i + 397) % RAND_WORDS] ^ (y >> 1) ^ ((y & 1) ? 0x9908b0dfu : 0u);
    }
    rs->index = 0;
}

uint32_t rand_next(RandState *rs)
{
    if (rs->index >= RAND_WORDS)
        regenerate(rs);
    uint32_t y = rs->mt[rs->index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

void rand_free(RandState *rs) { free(rs); }

std::atomic<int64_t> perf_frequency{0};

int64_t time_perf_frequency(void) { return plat_clock_frequency(); }

uint64_t time_now_ns(void)
{
    int64_t freq = perf_frequency.load(std::memory_order_relaxed);
    if (freq == 0) {
        freq = plat_clock_frequency();
        perf_frequency.store(freq, std::memory_order_relaxed);
    }
    // A counter without a usable frequency cannot be turned into time.
    if (freq <= 0)
        return 0;
    int64_t count = plat_clock_counter();
    // Only values an unsigned 64-bit number can hold are converted: a
    // negative counter reads as 0, one beyond the range as the largest value.
    if (count <= 0)
        return 0;
    double ns = static_cast<double>(count) / (static_cast<double>(freq) / 1e9);
    return ns < 18446744073709551616.0 ? static_cast<uint64_t>(ns) : UINT64_MAX;
}

uint64_t time_ns_per_second(void) { return 1000000000u; }

ChunkItem *chunk_push(ChunkStack **holder, const void *data, size_t size, int copy)
{
    bool made = false;
    if (!*holder) {
        *holder = static_cast<ChunkStack *>(calloc(1, sizeof(ChunkStack)));
        if (!*holder)
            return nullptr;
        made = true;
    }
    ChunkItem *item = static_cast<ChunkItem *>(calloc(1, sizeof(ChunkItem)));
    void *payload = const_cast<void *>(data);
    if (item && copy) {
        payload = malloc(size ? size : 1);
        if (payload && size)
            memcpy(payload, data, size);
    }
    if (!item || !payload) {
        free(item);
        if (made) {
            free(*holder);
            *holder = nullptr;
        }
        return nullptr;
    }
    item->data = payload;
    item->size = size;
    item->owned = copy;
    list_push_front(&(*holder)->head, &item->link);
    return item;
}

void *chunk_next(ChunkStack *holder, size_t *size, ChunkItem **cursor)
{
    if (!holder)
        return nullptr;
    ListLink *l = (cursor && *cursor) ? (*cursor)->link.next : holder->head;
    if (!l)
        return nullptr;
    ChunkItem *item = LIST_RECORD(l, ChunkItem, link);
    if (size)
        *size = item->size;
    if (cursor)
        *cursor = item;
    return item->data;
}

void *chunk_pop(ChunkStack **holder, size_t *size)
{
    if (!*holder)
        return nullptr;
    if (!(*holder)->head) {
        free(*holder);
        *holder = nullptr;
        return nullptr;
    }
    ChunkItem *item = LIST_RECORD((*holder)->head, ChunkItem, link);
    list_unlink(&(*holder)->head, &item->link);
    void *data = item->data;
    if (size)
        *size = item->size;
    free(item);
    return data;
}
