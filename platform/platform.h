// The operating-system layer: threads and locks, sleeping, the monotonic
// clock and files under UTF-8 names. Everything else in the tree reaches the
// system through this narrow C-style interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <pthread.h>

// ---- threads and locks ----------------------------------------------------

// A plain non-recursive lock.
struct PlatLock {
    pthread_mutex_t m;
};

int plat_lock_init(PlatLock *lock);     // 1, or 0 when the system refused
void plat_lock_destroy(PlatLock *lock);
void plat_lock_enter(PlatLock *lock);
void plat_lock_leave(PlatLock *lock);

// A small non-zero number that identifies the calling thread for its life.
uint32_t plat_thread_id(void);

// Starts a detached thread running fn(arg); 1 when it started, else 0.
int plat_thread_start(void (*fn)(void *), void *arg);
// Ends the calling thread.
[[noreturn]] void plat_thread_exit(void);

// Sleeps for the given number of milliseconds.
void plat_sleep_ms(unsigned ms);

// ---- clock ----------------------------------------------------------------

// Counts per second of plat_clock_counter (the monotonic clock's resolution).
int64_t plat_clock_frequency(void);
// The monotonic counter; only differences of two readings mean anything.
int64_t plat_clock_counter(void);

// ---- files ----------------------------------------------------------------
// Names are UTF-8 and reach the file system unchanged. Opening for reading
// refuses directories and other non-regular files as if they were missing.

// open(2) with the flags and mode; -1 on failure.
int plat_open(const char *path, int flags, int mode);
// fopen(3); NULL on failure.
FILE *plat_fopen(const char *path, const char *mode);
// 1 when path names an existing regular file, else 0.
int plat_file_exists(const char *path);
// 1 when path names a regular file and stores its size, else 0.
int plat_file_size(const char *path, uint64_t *size);
