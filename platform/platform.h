// The operating-system layer: threads and locks, sleeping, the monotonic
// clock, files under UTF-8 names, directory listings, shared libraries, the
// process exit code, the console width and the configuration folder.
// Everything else in the tree reaches the system through this narrow
// C-style interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---- threads and locks ----------------------------------------------------

// A plain non-recursive lock. The storage is opaque: only the platform
// layer knows what lives in it.
struct PlatLock {
    alignas(16) unsigned char opaque[64];
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
// Names are UTF-8 and reach the file system unchanged. Opening refuses
// directories (EISDIR) and other non-regular files (a reason of this
// layer's own, "Not a regular file"); a FIFO or device is refused before
// it is opened, so opening never blocks on one. Opening for reading also
// refuses a name of one of the process's own descriptors that is not open
// for reading (a standard input closed at start) with EBADF.

// How plat_open opens a file.
enum {
    PLAT_OPEN_READ = 1,       // read only
    PLAT_OPEN_WRITE = 2,      // write only; created (mode 0666 before the umask) or truncated
    PLAT_OPEN_CREATE_NEW = 3, // write only; created (mode 0666 before the umask), fails when the name exists
    PLAT_OPEN_REWRITE = 4,    // write only; an existing file emptied, never created nor
                              // opened through a link at the end of the name
};
// Opens a file in one of the PLAT_OPEN_* modes; a descriptor, or -1.
int plat_open(const char *path, int how);
// Creates a new empty file beside target (same folder, a name of its own
// that starts with "." and the target's name, the name cut short where the
// whole would pass the folder's longest file name) for writing the
// target's next content; its name goes into tmp_path (size bytes). The
// name is created exclusively and never through a link; write through the
// descriptor returned, never by the name. When target is a regular file
// the new one gets its permission bits and, as far as the system lets the
// caller, its owner and group; where the owner or the group cannot be
// kept, the bits that would grant someone what the old file did not are
// cleared. A descriptor, or -1 when none could be made or the name does
// not fit (the reason in plat_last_error).
int plat_open_temp_beside(const char *target, char *tmp_path, size_t size);
// Whether the caller may write the file at path as it stands (permission
// bits, a read-only file system, a program being run): 1 when he may, 0
// when nothing is there, -1 when he may not (the reason in
// plat_last_error).
int plat_may_write(const char *path);
// Whether a new file made beside the existing file at path may take its
// name (a rename over it): 0 with EPERM when its folder keeps it (a
// folder with the sticky bit, such as /tmp, keeps each file for its owner
// and the folder's; an append-only or immutable folder or file keeps its
// names), else 1, also when the file or its folder cannot be looked at
// (the rename then says why).
int plat_may_replace(const char *path);
// 1 when a system error code says the caller lacks the permission (to
// make a name in a folder, for one).
int plat_error_is_permission(int code);
// Empties an open file; 1, or 0 on failure.
int plat_truncate_fd(int fd);
// dup(2): a second descriptor for the same open file (not inherited by
// programs started later), or -1.
int plat_dup(int fd);
// fopen(3); NULL on failure.
FILE *plat_fopen(const char *path, const char *mode);
// fdopen(3): a stream over an open descriptor, which it then owns. NULL on
// failure; the descriptor is then still the caller's to close.
FILE *plat_fdopen(int fd, const char *mode);

// What output to a name would meet, links followed.
enum {
    PLAT_TARGET_NONE = 0,   // nothing of that name (a dangling link, too)
    PLAT_TARGET_FILE = 1,   // a regular file
    PLAT_TARGET_STREAM = 2, // a FIFO or a character device, or a descriptor the
                            // process holds open for writing (/dev/stdout sent
                            // to a file): written in place
    PLAT_TARGET_OTHER = 3,  // a folder, a block device, a socket, or a name
                            // that cannot be looked at: nothing is written
};
// PLAT_TARGET_OTHER leaves its reason in plat_last_error: what the system
// said of the name, EISDIR for a folder, ENXIO for a socket (as opening
// one says), EOPNOTSUPP for a block device, EBADF for a descriptor of the
// process that is not open for writing.
int plat_target_kind(const char *path);
// Opens an existing FIFO or character device for writing in place: not
// created, not truncated (opening a FIFO waits for its reader); a name of
// one of the process's own descriptors gives a duplicate of it, which
// shares its place in the file. A descriptor, or -1 (also when path names
// anything else).
int plat_open_in_place(const char *path);
// The name where the file that path leads to lives: path with the symbolic
// links at its end followed, a link's relative text taken from the link's
// own folder. A file that replaces what path names goes there, so that a
// link stays a link. 1 with a heap text in *out (freed by the caller); 0
// (*out NULL) when a link cannot be read, links lead round in a circle or
// more than PLAT_LINK_HOPS_MAX deep, a link's text is longer than
// PLAT_LINK_TEXT_MAX bytes, or the name reached is not what path itself
// leads to (a link the system will not follow for the caller, a
// descriptor's link to a removed file), with the reason in plat_last_error
// (ELOOP for links too deep); -1 when memory ran out.
enum { PLAT_LINK_HOPS_MAX = 40, PLAT_LINK_TEXT_MAX = 4095 };
int plat_follow_links(const char *path, char **out);
// 1 when path names an existing regular file that may be read, else 0
// with the reason as opening for reading gives it.
int plat_file_exists(const char *path);
// The same, and stores the file's size.
int plat_file_size(const char *path, uint64_t *size);

// Descriptor reads: at most len bytes, retried when a signal interrupts;
// the count (0 at the end of the file) or -1 on a read error.
int64_t plat_read(int fd, void *buf, size_t len);
// close(2); 1, or 0 when the system reported an error.
int plat_close(int fd);
enum { PLAT_SEEK_SET = 0, PLAT_SEEK_CUR = 1, PLAT_SEEK_END = 2 };
// Moves a descriptor's offset (whence PLAT_SEEK_*); the new offset, or -1
// on failure.
int64_t plat_seek(int fd, int64_t offset, int whence);
// 1 when the open descriptor is a regular file and stores its size, else 0.
int plat_fd_size(int fd, uint64_t *size);

// What stat(2) says about a name of any kind (file, directory, ...).
struct PlatPathInfo {
    uint64_t size;
    int64_t mtime; // seconds since 1970
    int is_dir;
};
// 1 and fills info when path exists, else 0.
int plat_path_info(const char *path, PlatPathInfo *info);
// 1 when both names lead to the same existing file, else 0.
int plat_same_file(const char *a, const char *b);
// Renames (replacing an existing file at to); 1, or 0 on failure.
int plat_rename(const char *from, const char *to);
// Removes a file; 1, or 0 on failure.
int plat_remove(const char *path);
// Creates one directory (mode 0777 before the umask); 1, or 0 on failure.
int plat_mkdir(const char *path);
// Sets the permission bits; 1, or 0 on failure.
int plat_chmod(const char *path, unsigned mode);
// The absolute form of an existing path into buf (size bytes); NULL when it
// cannot be resolved or does not fit.
char *plat_full_path(const char *path, char *buf, size_t size);

// ---- errors -------------------------------------------------------------------

// The calling thread's last system error code: what made the latest failing
// call of this layer fail (0 when none was recorded). Read it right after
// the failure, before any other call of this layer.
int plat_last_error(void);
// A readable text for a system error code ("No such file or directory"),
// written into buf (size bytes); buf, or "" when buf has no room at all.
enum { PLAT_ERROR_TEXT_SIZE = 128 };
const char *plat_error_text(int code, char *buf, size_t size);
// 1 when the code says that the reader of a pipe or socket has gone (a
// write to a closed pipe), else 0.
int plat_error_is_closed_pipe(int code);

// ---- directories ------------------------------------------------------------

// Removes an empty directory (never a file); 1, or 0 on failure.
int plat_rmdir(const char *path);

// Calls fn(user, name) for each name in the directory, "." and ".." left
// out, in the order the system lists them; fn returns 1 to go on, 0 to
// stop. Returns 1 when the directory could be opened (whether or not fn
// stopped the listing), 0 when it cannot be listed. A read error in the
// middle ends the listing as if the names had run out.
int plat_dir_list(const char *path, int (*fn)(void *user, const char *name), void *user);

// What one directory entry is, read without following a symbolic link.
enum {
    PLAT_ENTRY_DIR = 1,  // a directory itself (a link to one is not)
    PLAT_ENTRY_FILE = 2, // a regular file, or a link that leads to one
    PLAT_ENTRY_LINK = 4, // a symbolic link (to anything, or dangling)
};
struct PlatEntryInfo {
    unsigned kind;    // PLAT_ENTRY_* bits; 0 for FIFOs, sockets, devices
    uint64_t size;    // bytes of a regular file (of the link's target), else 0
    int64_t created;  // seconds since 1970; the written time where the
                      // file system keeps no birth time
    int64_t written;
    int64_t accessed;
};
// 1 and fills info when path exists (a dangling link exists), 0 when it
// does not, -1 when nothing can be read about it (a path too long for the
// system, a folder on the way that cannot be searched).
int plat_entry_info(const char *path, PlatEntryInfo *info);

// ---- shared libraries -------------------------------------------------------

void *plat_lib_load(const char *name);                 // NULL on failure
void *plat_lib_symbol(void *lib, const char *name);    // NULL when missing
int plat_lib_free(void *lib);                          // 1 when released

// ---- process, console and environment ------------------------------------------

// Gives every one of the standard descriptors 0, 1 and 2 that is closed a
// placeholder, so that no file or socket opened later takes its number and
// receives what is meant for standard output or standard error. The
// placeholder is open for neither reading nor writing: everything read or
// written through the descriptor, or through a name of it (/dev/stdin,
// /dev/fd/1), fails with EBADF as it would on the closed one. Call it
// before anything else opens a descriptor. 1, or 0 when one of them could
// not be opened.
int plat_guard_std_fds(void);

// A file being written that a signal ending the process (an interrupt,
// SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, ...: every one whose default
// action ends it) must not leave behind. While a guard is set, those
// signals (unless the process ignores them) first remove the file at
// path, or, for a file written in place (path NULL, fd its descriptor),
// empty it, and then end the process as the signal would have. 1 when set, 0 when path is longer than the guard
// holds (PLAT_SIGNAL_GUARD_PATH_MAX bytes with its NUL). One guard at a
// time: setting one replaces the last.
enum { PLAT_SIGNAL_GUARD_PATH_MAX = 4096 };
int plat_signal_guard_set(const char *path, int fd);
// Ends the guard; the signals act again as they did before it was set.
void plat_signal_guard_clear(void);
// Holds those signals back until the next plat_signal_guard_set or
// plat_signal_guard_clear, so that none comes between making a file and
// guarding it.
void plat_signal_guard_hold(void);

// Sets the process up so that write failures are errors, not signals: a
// write to a closed socket or pipe (SIGPIPE) and a write past the file-size
// limit (SIGXFSZ) fail with an error code instead of killing the process.
void plat_ignore_write_signals(void);

// The code the process reports for a run's status: its low 8 bits, except
// that a non-zero status whose low byte is 0 gives 1, so that a failure
// never looks like success (554 gives 42, 256 gives 1, -1 gives 255).
int plat_exit_status(int status);
// Flushes the standard streams and ends the process with
// plat_exit_status(status).
[[noreturn]] void plat_exit(int status);
// 1 when standard input is a terminal (someone may be typing the input).
int plat_stdin_is_terminal(void);
// Columns of the terminal behind standard output; 80 when it is not a
// terminal or reports no width.
int plat_console_width(void);
// The folder of the user's configuration files: $APPDATA, else
// $XDG_CONFIG_HOME, else $HOME/.config (an empty variable counts as unset).
// A heap text the caller frees, or NULL when none is set or memory ran out.
char *plat_config_dir(void);

// ---- machine identity ---------------------------------------------------------

// The computer's identifier as a 36-character UUID text (8-4-4-4-12 lower-case
// hexadecimal digits) with its NUL in out (at least PLAT_MACHINE_GUID_SIZE
// bytes). On Linux it is the 32 digits of /etc/machine-id. 1, or 0 (out
// empty) when there is none, it cannot be read or it is not 32 hexadecimal
// digits.
enum { PLAT_MACHINE_GUID_SIZE = 37 };
int plat_machine_guid(char *out, size_t size);
// The same from a file of that form (a system's machine-id file).
int plat_machine_guid_file(const char *path, char *out, size_t size);
