// Locks of the support library: an owner-tracking mutex that never nests,
// a reader/writer lock in which waiting writers win over new readers, the
// fixed-size block pool that lends the reader/writer lock its bookkeeping
// nodes, and a registry that counts threads started through the library.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "support/linklist.h"

// ---- Mutex -----------------------------------------------------------------

// A thread may lock again what it holds, but the first unlock releases it
// completely: callers pair one lock with one unlock.
struct Mutex {
    std::atomic<uint32_t> owner; // thread holding it, 0 when none
    PlatLock cs;
};

Mutex *mutex_new(void);
void mutex_free(Mutex *m);
int mutex_lock(Mutex *m);   // returns 1 once held
int mutex_unlock(Mutex *m); // releases when the caller holds it; returns 1

// ---- BlockPool ---------------------------------------------------------------

// Slot indexes are 16-bit. A block larger than POOL_MAX_BLOCK_BYTES is
// refused when the pool is made, so an absurd slot size never reaches the
// allocator and the block size computation cannot wrap.
enum : uint32_t { POOL_MAX_SLOTS_PER_BLOCK = 65535, POOL_MAX_BLOCK_BYTES = 1u << 30 };

struct PoolBlock;

struct BlockPool {
    uint32_t slots_per_block; // 1 to 65535
    uint32_t slot_size;       // bytes a caller receives per slot
    Mutex *lock;
    ListLink *blocks;  // newest block first
    PoolBlock *current; // the block that served the last allocation
};

// While nonzero, pools hand out plain heap blocks instead (never set by the
// program). Change it only while no pool has a slot out.
extern int pool_plain_alloc;

// NULL for 0 or more than 65535 slots, a slot size of 0, a block larger than
// POOL_MAX_BLOCK_BYTES, or no memory.
BlockPool *pool_new(uint32_t slots_per_block, uint32_t slot_size);
void *pool_alloc(BlockPool *pool); // zeroed slot, or NULL
// Returns a slot; a pointer not handed out by the pool, or one already
// returned, is ignored. A block whose last slot comes back is freed.
void pool_free(BlockPool *pool, void *ptr);
void pool_destroy(BlockPool *pool);
// The block-level step of pool_alloc alone (no lock, no zeroing): the slot
// header of the next slot of block, marked in use, or NULL when the block is
// full.
void *pool_block_take(uint32_t slots_per_block, uint32_t slot_size, PoolBlock *block);
// Bytes of one block for the given numbers (header and slots); only
// meaningful for numbers pool_new accepts.
size_t pool_block_bytes(uint32_t slots_per_block, uint32_t slot_size);

// ---- RwLock ----------------------------------------------------------------

struct RwLock {
    Mutex lock;         // guards the fields below
    ListLink *readers;  // reader nodes
    ListLink *writers;  // writer nodes, newest first
    BlockPool *nodes;   // 64 nodes per block
    uint32_t writer;    // thread with exclusive access, 0 when none
};

// While on (the start-up state, and nothing in the program clears it) every
// RwLock is a plain lock of its embedded mutex. rwlock_set_simple_for_test
// switches it so tests can run the reader/writer mode; change it only while
// no RwLock is held.
extern std::atomic<int> rwlock_simple;

RwLock *rwlock_new(void);
void rwlock_free(RwLock *rw);
int rwlock_acquire(RwLock *rw, int exclusive); // returns 1 once held
int rwlock_release(RwLock *rw);                // returns 1
// 1 when every reader node belongs to thread (or there is none).
int rwlock_readers_all(RwLock *rw, uint32_t thread);
// The node of thread in the list, or NULL.
ListLink *rwlock_find_node(ListLink *head, uint32_t thread);
void rwlock_set_simple(void);             // sets rwlock_simple to 1
void rwlock_set_simple_for_test(int on); // tests only: sets it to on

// ---- thread registry ---------------------------------------------------------

// thread_count counts the threads started through thread_start that have not
// called thread_exit; it is changed under thread_registry_lock when that
// exists.
extern Mutex *thread_registry_lock;
extern std::atomic<int> thread_count;

void thread_registry_init(void); // makes the lock (once)
// Frees the lock again; only while no counted thread runs.
void thread_registry_free(void);
// 1 when the thread started (and was counted), 0 when it could not start.
int thread_start(void (*fn)(void *), void *arg);
[[noreturn]] void thread_exit(void);
// Waits until no counted thread runs, calling idle (when given) and sleeping
// 100 ms between looks. With a registry each look prints
// "Waiting on %d threads\n" on standard output, so the last line shows 0.
void thread_wait_all(void (*idle)(void));
