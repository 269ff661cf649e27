// The MT19937 random generator, the monotonic nanosecond clock and a small
// stack of data chunks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "support/linklist.h"

enum { RAND_WORDS = 624 };

struct RandState {
    uint32_t mt[RAND_WORDS];
    uint16_t index; // next word to deliver; 624: regenerate first
};

RandState *rand_new(uint32_t seed); // NULL when out of memory
uint32_t rand_next(RandState *rs);
void rand_free(RandState *rs);

// Counts per second of the monotonic counter, 0 until the first time_now_ns.
extern std::atomic<int64_t> perf_frequency;

int64_t time_perf_frequency(void); // read afresh
uint64_t time_now_ns(void);        // nanoseconds; only differences matter
uint64_t time_ns_per_second(void); // 1000000000

// ---- chunk stack -------------------------------------------------------------

struct ChunkItem {
    void *data;
    size_t size;
    int owned; // data is a private copy
    ListLink link;
};

struct ChunkStack {
    ListLink *head; // newest item
};

// Pushes data (a private copy when copy is set) on *holder, making the
// holder when there is none. The item, or NULL when out of memory.
ChunkItem *chunk_push(ChunkStack **holder, const void *data, size_t size, int copy);
// Iterates newest to oldest: with *cursor NULL (or no cursor) the head item's
// data, else the item after *cursor; NULL at the end.
void *chunk_next(ChunkStack *holder, size_t *size, ChunkItem **cursor);
// Removes the head item and returns its data (the caller owns a copy). On
// an empty stack the holder is freed, *holder cleared and NULL returned.
void *chunk_pop(ChunkStack **holder, size_t *size);
