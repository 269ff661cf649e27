// Mutex, block pool, reader/writer lock and thread registry.
#include "support/lock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

// ---- Mutex -----------------------------------------------------------------

// Prepares a zeroed record in place (a Mutex may be embedded in another).
static int mutex_init(Mutex *m)
{
    new (&m->owner) std::atomic<uint32_t>(0);
    return plat_lock_init(&m->cs);
}

Mutex *mutex_new(void)
{
    Mutex *m = static_cast<Mutex *>(calloc(1, sizeof(Mutex)));
    if (!m)
        return nullptr;
    if (!mutex_init(m)) {
        free(m);
        return nullptr;
    }
    return m;
}

void mutex_free(Mutex *m)
{
    if (!m)
        return;
    plat_lock_destroy(&m->cs);
    free(m);
}

int mutex_lock(Mutex *m)
{
    uint32_t self = plat_thread_id();
    // Only the holder ever stores its own id, so seeing it means we hold it.
    if (m->owner.load(std::memory_order_relaxed) == self)
        return 1;
    plat_lock_enter(&m->cs);
    m->owner.store(self, std::memory_order_relaxed);
    return 1;
}

int mutex_unlock(Mutex *m)
{
    if (m->owner.load(std::memory_order_relaxed) == plat_thread_id()) {
        m->owner.store(0, std::memory_order_relaxed);
        plat_lock_leave(&m->cs);
    }
    return 1;
}

// ---- BlockPool ---------------------------------------------------------------

int pool_plain_alloc = 0;

struct PoolBlock {
    uint16_t used;      // slots now handed out
    uint16_t fresh;     // slots ever handed out: index of the next unused one
    uint16_t free_head; // most recently returned slot
    ListLink link;
};

struct SlotHeader {
    uint8_t in_use;
    uint16_t next_free;
};

// Slots are kept aligned for any object the caller may store.
static const size_t kSlotAlign = alignof(std::max_align_t);

static size_t round_up(size_t n) { return (n + kSlotAlign - 1) / kSlotAlign * kSlotAlign; }
static size_t header_bytes() { return round_up(sizeof(PoolBlock)); }
static size_t slot_header_bytes() { return round_up(sizeof(SlotHeader)); }
static size_t slot_stride(uint32_t slot_size) { return slot_header_bytes() + round_up(slot_size); }

size_t pool_block_bytes(uint32_t slots_per_block, uint32_t slot_size)
{
    return header_bytes() + static_cast<size_t>(slots_per_block) * slot_stride(slot_size);
}

// The same size in 64 bits, where the 32-bit inputs cannot wrap.
static uint64_t block_bytes_wide(uint32_t slots_per_block, uint32_t slot_size)
{
    uint64_t stride = slot_header_bytes() + (uint64_t{slot_size} + kSlotAlign - 1) / kSlotAlign * kSlotAlign;
    return header_bytes() + uint64_t{slots_per_block} * stride;
}

static char *slot_at(PoolBlock *b, uint32_t slot_size, uint32_t index)
{
    return reinterpret_cast<char *>(b) + header_bytes() + static_cast<size_t>(index) * slot_stride(slot_size);
}

BlockPool *pool_new(uint32_t slots_per_block, uint32_t slot_size)
{
    // Slot indexes are 16-bit; 0xffff slots still fit (indexes 0..65534).
    if (slots_per_block == 0 || slots_per_block > POOL_MAX_SLOTS_PER_BLOCK)
        return nullptr;
    // The block size is checked in 64 bits before any size_t arithmetic
    // sees it, so a huge slot size cannot wrap into a small block.
    if (slot_size == 0 || block_bytes_wide(slots_per_block, slot_size) > POOL_MAX_BLOCK_BYTES)
        return nullptr;
    BlockPool *p = static_cast<BlockPool *>(calloc(1, sizeof(BlockPool)));
    if (!p)
        return nullptr;
    p->lock = mutex_new();
    if (!p->lock) {
        free(p);
        return nullptr;
    }
    p->slots_per_block = slots_per_block;
    p->slot_size = slot_size;
    return p;
}

void *pool_block_take(uint32_t slots_per_block, uint32_t slot_size, PoolBlock *b)
{
    uint32_t index;
    if (b->fresh < slots_per_block) {
        index = b->fresh++;
    } else if (b->used < slots_per_block) {
        index = b->free_head;
        b->free_head = reinterpret_cast<SlotHeader *>(slot_at(b, slot_size, index))->next_free;
    } else {
        return nullptr;
    }
    b->used++;
    // Marked at once so pool_free accepts exactly the slots handed out.
    char *slot = slot_at(b, slot_size, index);
    reinterpret_cast<SlotHeader *>(slot)->in_use = 1;
    return slot;
}

static void *hand_out(BlockPool *p, PoolBlock *b, char *slot)
{
    p->current = b;
    memset(slot, 0, slot_stride(p->slot_size));
    reinterpret_cast<SlotHeader *>(slot)->in_use = 1;
    return slot + slot_header_bytes();
}

void *pool_alloc(BlockPool *p)
{
    if (pool_plain_alloc)
        return calloc(1, p->slot_size);
    mutex_lock(p->lock);
    void *result = nullptr;
    if (p->current) {
        if (char *slot = static_cast<char *>(pool_block_take(p->slots_per_block, p->slot_size, p->current)))
            result = hand_out(p, p->current, slot);
    }
    for (ListLink *l = p->blocks; !result && l; l = l->next) {
        PoolBlock *b = LIST_RECORD(l, PoolBlock, link);
        if (char *slot = static_cast<char *>(pool_block_take(p->slots_per_block, p->slot_size, b)))
            result = hand_out(p, b, slot);
    }
    if (!result) {
        PoolBlock *b = static_cast<PoolBlock *>(calloc(1, pool_block_bytes(p->slots_per_block, p->slot_size)));
        if (b) {
            list_push_front(&p->blocks, &b->link);
            char *slot = static_cast<char *>(pool_block_take(p->slots_per_block, p->slot_size, b));
            result = hand_out(p, b, slot);
        }
    }
    mutex_unlock(p->lock);
    return result;
}

void pool_free(BlockPool *p, void *ptr)
{
    if (!ptr)
        return;
    if (pool_plain_alloc) {
        free(ptr);
        return;
    }
    mutex_lock(p->lock);
    // Addresses are compared as numbers: the pointer may belong to no block
    // at all, and relational comparison of pointers into different objects
    // has no defined result.
    uintptr_t slot = reinterpret_cast<uintptr_t>(ptr) - slot_header_bytes();
    size_t stride = slot_stride(p->slot_size);
    for (ListLink *l = p->blocks; l; l = l->next) {
        PoolBlock *b = LIST_RECORD(l, PoolBlock, link);
        uintptr_t first = reinterpret_cast<uintptr_t>(slot_at(b, p->slot_size, 0));
        if (slot < first || slot - first >= stride * p->slots_per_block)
            continue;
        size_t offset = static_cast<size_t>(slot - first);
        SlotHeader *h = reinterpret_cast<SlotHeader *>(slot_at(b, p->slot_size, 0) + offset);
        // Not a slot start, or already returned: ignore rather than corrupt.
        if (offset % stride != 0 || !h->in_use)
            break;
        h->in_use = 0;
        b->used--;
        h->next_free = b->free_head;
        b->free_head = static_cast<uint16_t>(offset / stride);
        if (b->used == 0) {
            if (p->current == b)
                p->current = nullptr;
            list_unlink(&p->blocks, &b->link);
            free(b);
        }
        break;
    }
    mutex_unlock(p->lock);
}

void pool_destroy(BlockPool *p)
{
    if (!p)
        return;
    while (p->blocks) {
        PoolBlock *b = LIST_RECORD(p->blocks, PoolBlock, link);
        list_unlink(&p->blocks, &b->link);
        free(b);
    }
    mutex_free(p->lock);
    free(p);
}

// ---- RwLock ----------------------------------------------------------------

std::atomic<int> rwlock_simple{1};

struct RwNode {
    uint32_t thread;
    ListLink link;
};

RwLock *rwlock_new(void)
{
    RwLock *rw = static_cast<RwLock *>(calloc(1, sizeof(RwLock)));
    if (!rw)
        return nullptr;
    if (!mutex_init(&rw->lock)) {
        free(rw);
        return nullptr;
    }
    rw->nodes = pool_new(64, sizeof(RwNode));
    if (!rw->nodes) {
        plat_lock_destroy(&rw->lock.cs);
        free(rw);
        return nullptr;
    }
    return rw;
}

void rwlock_free(RwLock *rw)
{
    if (!rw)
        return;
    plat_lock_destroy(&rw->lock.cs);
    pool_destroy(rw->nodes);
    free(rw);
}

ListLink *rwlock_find_node(ListLink *head, uint32_t thread)
{
    for (ListLink *l = head; l; l = l->next)
        if (LIST_RECORD(l, RwNode, link)->thread == thread)
            return l;
    return nullptr;
}

int rwlock_readers_all(RwLock *rw, uint32_t thread)
{
    for (ListLink *l = rw->readers; l; l = l->next)
        if (LIST_RECORD(l, RwNode, link)->thread != thread)
            return 0;
    return 1;
}

static ListLink *oldest(ListLink *head)
{
    while (head && head->next)
        head = head->next;
    return head;
}

static ListLink *new_node(RwLock *rw, uint32_t thread)
{
    RwNode *n = static_cast<RwNode *>(pool_alloc(rw->nodes));
    if (!n)
        return nullptr;
    n->thread = thread;
    return &n->link;
}

static void drop_node(RwLock *rw, ListLink **head, ListLink *l)
{
    list_unlink(head, l);
    pool_free(rw->nodes, LIST_RECORD(l, RwNode, link));
}

int rwlock_acquire(RwLock *rw, int exclusive)
{
    if (rwlock_simple.load())
        return mutex_lock(&rw->lock);
    uint32_t self = plat_thread_id();
    for (;;) {
        mutex_lock(&rw->lock);
        if (exclusive) {
            ListLink *first = oldest(rw->writers);
            if (first && LIST_RECORD(first, RwNode, link)->thread == self && rwlock_readers_all(rw, self)) {
                rw->writer = self;
                mutex_unlock(&rw->lock);
                return 1;
            }
            if (!rwlock_find_node(rw->writers, self)) {
                if (ListLink *n = new_node(rw, self)) {
                    bool alone = !rw->writers && rwlock_readers_all(rw, self);
                    list_push_front(&rw->writers, n);
                    if (alone) {
                        rw->writer = self;
                        mutex_unlock(&rw->lock);
                        return 1;
                    }
                }
            }
        } else if (!rw->writers || rw->writer == self) {
            if (rwlock_find_node(rw->readers, self)) {
                mutex_unlock(&rw->lock);
                return 1;
            }
            if (ListLink *n = new_node(rw, self)) {
                list_push_front(&rw->readers, n);
                mutex_unlock(&rw->lock);
                return 1;
            }
        }
        mutex_unlock(&rw->lock);
        plat_sleep_ms(1);
    }
}

int rwlock_release(RwLock *rw)
{
    if (rwlock_simple.load())
        mutex_unlock(&rw->lock);
    uint32_t self = plat_thread_id();
    mutex_lock(&rw->lock);
    ListLink *first = oldest(rw->writers);
    if (first && LIST_RECORD(first, RwNode, link)->thread == self) {
        rw->writer = 0;
        drop_node(rw, &rw->writers, first);
    }
    if (ListLink *r = rwlock_find_node(rw->readers, self))
        drop_node(rw, &rw->readers, r);
    mutex_unlock(&rw->lock);
    return 1;
}

void rwlock_set_simple(void) { rwlock_simple.store(1); }

void rwlock_set_simple_for_test(int on) { rwlock_simple.store(on ? 1 : 0); }

// ---- thread registry ---------------------------------------------------------

Mutex *thread_registry_lock = nullptr;
std::atomic<int> thread_count{0};

void thread_registry_init(void)
{
    if (!thread_registry_lock)
        thread_registry_lock = mutex_new();
}

void thread_registry_free(void)
{
    mutex_free(thread_registry_lock);
    thread_registry_lock = nullptr;
}

// The count is always kept (it is atomic), under the registry lock when
// there is one, so thread_wait_all waits for every started thread.
static void count_threads(int delta)
{
    Mutex *lock = thread_registry_lock;
    if (lock)
        mutex_lock(lock);
    thread_count += delta;
    if (lock)
        mutex_unlock(lock);
}

int thread_start(void (*fn)(void *), void *arg)
{
    // Counted before the start so that a waiter never sees 0 while a thread
    // that has started is not yet counted; a failed start is taken back.
    count_threads(1);
    if (!plat_thread_start(fn, arg)) {
        count_threads(-1);
        return 0;
    }
    return 1;
}

void thread_exit(void)
{
    count_threads(-1);
    plat_thread_exit();
}

void thread_wait_all(void (*idle)(void))
{
    for (;;) {
        int count;
        if (Mutex *lock = thread_registry_lock) {
            mutex_lock(lock);
            count = thread_count.load();
            mutex_unlock(lock);
            printf("Waiting on %d threads\n", count);
            fflush(nullptr);
        } else {
            count = thread_count.load();
        }
        if (count == 0)
            return;
        if (idle)
            idle();
        plat_sleep_ms(100);
    }
}
