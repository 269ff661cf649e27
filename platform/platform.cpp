// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <csignal>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static_assert(sizeof(pthread_mutex_t) <= sizeof(PlatLock::opaque), "PlatLock too small");
static_assert(alignof(pthread_mutex_t) <= alignof(PlatLock), "PlatLock alignment");

static pthread_mutex_t *lock_of(PlatLock *lock)
{
    return reinterpret_cast<pthread_mutex_t *>(lock->opaque);
}

int plat_lock_init(PlatLock *lock)
{
    return pthread_mutex_init(lock_of(lock), nullptr) == 0;
}

void plat_lock_destroy(PlatLock *lock) { pthread_mutex_destroy(lock_of(lock)); }
void plat_lock_enter(PlatLock *lock) { pthread_mutex_lock(lock_of(lock)); }
void plat_lock_leave(PlatLock *lock) { pthread_mutex_unlock(lock_of(lock)); }

uint32_t plat_thread_id(void)
{
    // Numbered on first use: pthread_t is opaque, and 0 must mean "nobody".
    static std::atomic<uint32_t> next{1};
    thread_local uint32_t id = 0;
    if (id == 0)
        id = next.fetch_add(1);
    return id;
}

namespace {
struct ThreadStart {
    void (*fn)(void *);
    void *arg;
};

void *thread_trampoline(void *p)
{
    ThreadStart start = *static_cast<ThreadStart *>(p);
    delete static_cast<ThreadStart *>(p);
    start.fn(start.arg);
    return nullptr;
}
} // namespace

int plat_thread_start(void (*fn)(void *), void *arg)
{
    auto *start = new (std::nothrow) ThreadStart{fn, arg};
    if (!start)
        return 0;
    pthread_t t;
    if (pthread_create(&t, nullptr, thread_trampoline, start) != 0) {
        delete start;
        return 0;
    }
    pthread_detach(t);
    return 1;
}

void plat_thread_exit(void) { pthread_exit(nullptr); }

void plat_sleep_ms(unsigned ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int64_t plat_clock_frequency(void) { return 1000000000; }

int64_t plat_clock_counter(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The error code of a name that is neither a regular file nor a folder (a
// FIFO, a device, a socket): no code of the system's says so. Outside the
// system's range; plat_error_text gives its text.
const int kErrorNotRegular = 0x10000;

static int is_regular(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// The descriptor of this process that path names through its links
// (/dev/stdout, /dev/fd/N, /proc/self/fd/N), or -1.
static int own_descriptor(const char *path);

// Why the file at path cannot be taken as a regular file, 0 when it can be
// (or when it cannot be looked at: opening it then says why). A folder
// says so, every other kind (a FIFO, a device, a socket) is "not a regular
// file". Checked before opening: opening a FIFO waits for its other end,
// so a check of the open descriptor alone would come too late. For input,
// a name of one of the process's own descriptors that it cannot read (a
// standard input closed when the process started, see plat_guard_std_fds)
// is refused as that descriptor is: EBADF. The descriptor is found by the
// way the name leads to it, not by the file it shows: that is /dev/null
// for a closed one, which is also what a standard input sent to /dev/null
// by the shell shows.
static int not_regular_error(const char *path, bool input)
{
    if (input) {
        int own = own_descriptor(path);
        int flags = own >= 0 ? fcntl(own, F_GETFL) : 0;
        if (flags < 0 || (flags & O_PATH) || (flags & O_ACCMODE) == O_WRONLY)
            return EBADF;
    }
    struct stat st;
    if (stat(path, &st) != 0 || S_ISREG(st.st_mode))
        return 0;
    return S_ISDIR(st.st_mode) ? EISDIR : kErrorNotRegular;
}

int plat_open(const char *path, int how)
{
    int flags, mode = 0;
    switch (how) {
    case PLAT_OPEN_READ:
        flags = O_RDONLY;
        break;
    case PLAT_OPEN_WRITE:
        flags = O_WRONLY | O_CREAT | O_TRUNC;
        mode = 0666;
        break;
    case PLAT_OPEN_CREATE_NEW:
        flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
        mode = 0666;
        break;
    case PLAT_OPEN_REWRITE:
        flags = O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NOCTTY;
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    if (!path)
        return -1;
    if (int why = not_regular_error(path, how == PLAT_OPEN_READ)) {
        errno = why;
        return -1;
    }
    int fd = open(path, flags | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    // The name may have changed between the look and the open.
    if (!is_regular(fd)) {
        close(fd);
        errno = kErrorNotRegular;
        return -1;
    }
    return fd;
}

// The permission bits a file made by someone else in the place of target
// gets, now that it has the owner and group in `now`. Who falls into which
// class of the bits changes where the owner or group could not be kept,
// and no one may gain a right the old file did not give him:
// - Another owner: the old owner now falls into the group or the other
//   class, so neither may grant more than the old owner bits did. The new
//   owner (the caller) gets the old owner bits: he may change the bits of
//   his own file at will, so they grant him nothing he could not take, and
//   what the file holds is what he wrote.
// - Another group: the new group's members were in the other class before,
//   so the group bits grant no more than the old other bits did; the old
//   group's members are in the other class now, so the other bits grant
//   no more than the old group bits did.
static mode_t kept_bits(const struct stat &target, const struct stat &now)
{
    mode_t bits = target.st_mode & 0777;
    mode_t user = (bits >> 6) & 7, group = (bits >> 3) & 7, other = bits & 7;
    mode_t new_group = group, new_other = other;
    if (now.st_uid != target.st_uid) {
        new_group &= user;
        new_other &= user;
    }
    if (now.st_gid != target.st_gid) {
        new_group &= other;
        new_other &= group;
    }
    return (user << 6) | (new_group << 3) | new_other;
}

// Gives the new file fd what target had: its owner and group where the
// system allows it (root, or a group the caller is in), and its permission
// bits as far as they grant no one new (kept_bits). Set-user-ID and
// similar bits are not carried over.
static void take_file_attributes(int fd, const struct stat &target)
{
    struct stat own;
    if (fstat(fd, &own) != 0)
        return;
    // A caller who may not give the file away keeps it as his own, with
    // the old group where he is in it; failing that the file stays his.
    bool owned = own.st_uid == target.st_uid && own.st_gid == target.st_gid;
    if (!owned && fchown(fd, target.st_uid, target.st_gid) != 0 && own.st_gid != target.st_gid &&
        fchown(fd, static_cast<uid_t>(-1), target.st_gid) != 0) {
    }
    struct stat now;
    // Bits for an owner and group that are not known would be a guess: the
    // file keeps the bits it was made with (the umask's).
    if (fstat(fd, &now) != 0 || fchmod(fd, kept_bits(target, now)) != 0) {
    }
}

// The longest file name the folder of `dir_len` bytes at the start of
// target takes (NAME_MAX where the system does not say). scratch (size
// bytes, more than dir_len) holds the folder's name for the question.
static size_t longest_name(const char *target, size_t dir_len, char *scratch, size_t size)
{
    snprintf(scratch, size, "%.*s", static_cast<int>(dir_len), dir_len ? target : ".");
    long most = pathconf(dir_len ? scratch : ".", _PC_NAME_MAX);
    scratch[0] = 0;
    return most > 0 && most < NAME_MAX ? static_cast<size_t>(most) : NAME_MAX;
}

// How many bytes of base fit into `room`, cut at the start of a UTF-8
// character so that the shortened name stays readable text.
static size_t fitting_prefix(const char *base, size_t room)
{
    size_t len = strlen(base);
    if (len <= room)
        return len;
    while (room > 0 && (static_cast<unsigned char>(base[room]) & 0xC0) == 0x80)
        room--;
    return room;
}

int plat_open_temp_beside(const char *target, char *tmp_path, size_t size)
{
    if (!target || !*target || !tmp_path || size == 0) {
        errno = EINVAL;
        return -1;
    }
    const char *slash = strrchr(target, '/');
    size_t dir_len = slash ? static_cast<size_t>(slash - target) + 1 : 0;
    const char *base = target + dir_len;
    if (!*base || size <= dir_len) {
        errno = !*base ? EISDIR : ENAMETOOLONG;
        return -1;
    }
    size_t name_max = longest_name(target, dir_len, tmp_path, size);
    struct stat old;
    bool replaces = stat(target, &old) == 0 && S_ISREG(old.st_mode);
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned n = serial.fetch_add(1);
        // ".<name>.<process>.<serial>.tmp": the number part keeps it
        // unique, so the name part is cut where the whole would not fit.
        char suffix[64];
        int suffix_len = snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(getpid()), n);
        if (suffix_len < 0 || static_cast<size_t>(suffix_len) + 2 > name_max) {
            errno = ENAMETOOLONG;
            break;
        }
        size_t kept = fitting_prefix(base, name_max - 1 - static_cast<size_t>(suffix_len));
        int len = snprintf(tmp_path, size, "%.*s.%.*s%s", static_cast<int>(dir_len), target,
                           static_cast<int>(kept), base, suffix);
        if (len < 0 || static_cast<size_t>(len) >= size) {
            errno = ENAMETOOLONG;
            break;
        }
        int fd = plat_open(tmp_path, PLAT_OPEN_CREATE_NEW);
        if (fd >= 0) {
            if (replaces)
                take_file_attributes(fd, old);
            return fd;
        }
        if (errno != EEXIST)
            break;
    }
    int error = errno;
    tmp_path[0] = 0;
    errno = error;
    return -1;
}

int plat_may_write(const char *path)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (access(path, W_OK) == 0)
        return 1;
    return errno == ENOENT ? 0 : -1;
}

// Whether the caller holds CAP_FOWNER, which lets him remove and replace
// the files of others in a folder with the sticky bit.
static bool may_act_as_owner(void)
{
    struct __user_cap_header_struct head = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &head, data) != 0)
        return geteuid() == 0;
    return (data[CAP_TO_INDEX(CAP_FOWNER)].effective & CAP_TO_MASK(CAP_FOWNER)) != 0;
}

// 1 when the append-only or immutable attribute is set on path (links
// followed).
static bool kept_by_attributes(const char *path)
{
    struct statx stx;
    const unsigned kept = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    return statx(AT_FDCWD, path, 0, STATX_BASIC_STATS, &stx) == 0 && (stx.stx_attributes & kept) != 0;
}

int plat_may_replace(const char *path)
{
    if (!path)
        return 1;
    const char *slash = strrchr(path, '/');
    char *folder = !slash ? strdup(".") : slash == path ? strdup("/") : strndup(path, static_cast<size_t>(slash - path));
    struct stat file, dir;
    bool known = folder && stat(path, &file) == 0 && stat(folder, &dir) == 0;
    // What the system asks before it takes a name away from a folder.
    bool refused = known && (kept_by_attributes(folder) || kept_by_attributes(path) ||
                             ((dir.st_mode & S_ISVTX) && file.st_uid != geteuid() && dir.st_uid != geteuid() &&
                              !may_act_as_owner()));
    free(folder);
    if (refused)
        errno = EPERM;
    return refused ? 0 : 1;
}

int plat_error_is_permission(int code) { return code == EACCES || code == EPERM; }

int plat_dup(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 0); }

int plat_truncate_fd(int fd) { return ftruncate(fd, 0) == 0; }

FILE *plat_fopen(const char *path, const char *mode)
{
    if (!path || !mode)
        return nullptr;
    if (int why = not_regular_error(path, mode[0] == 'r' && !strchr(mode, '+'))) {
        errno = why;
        return nullptr;
    }
    FILE *fp = fopen(path, mode);
    if (!fp)
        return nullptr;
    if (!is_regular(fileno(fp))) {
        fclose(fp);
        errno = kErrorNotRegular;
        return nullptr;
    }
    return fp;
}

FILE *plat_fdopen(int fd, const char *mode) { return fd >= 0 && mode ? fdopen(fd, mode) : nullptr; }

// The kind of an open descriptor as output: only a regular file, a FIFO or
// a character device open for writing is written to (in place).
static int descriptor_kind(int fd)
{
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY || fstat(fd, &st) != 0) {
        errno = EBADF;
        return PLAT_TARGET_OTHER;
    }
    if (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
        return PLAT_TARGET_STREAM;
    errno = S_ISDIR(st.st_mode) ? EISDIR : S_ISSOCK(st.st_mode) ? ENXIO : EOPNOTSUPP;
    return PLAT_TARGET_OTHER;
}

int plat_target_kind(const char *path)
{
    struct stat st;
    if (!path || !*path) {
        errno = ENOENT;
        return PLAT_TARGET_OTHER;
    }
    // A descriptor the process already holds (its standard output sent to
    // a file by the shell, for one) is written through as it stands: a file
    // put in the place of the one it names would take the output away from
    // the descriptor and from whoever else writes through it.
    int own = own_descriptor(path);
    if (own >= 0)
        return descriptor_kind(own);
    if (stat(path, &st) != 0)
        return errno == ENOENT ? PLAT_TARGET_NONE : PLAT_TARGET_OTHER;
    if (S_ISREG(st.st_mode))
        return PLAT_TARGET_FILE;
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
        return PLAT_TARGET_STREAM;
    errno = S_ISDIR(st.st_mode) ? EISDIR : S_ISSOCK(st.st_mode) ? ENXIO : EOPNOTSUPP;
    return PLAT_TARGET_OTHER;
}

int plat_open_in_place(const char *path)
{
    if (plat_target_kind(path) != PLAT_TARGET_STREAM) {
        errno = ENOENT;
        return -1;
    }
    int own = own_descriptor(path);
    if (own >= 0)
        return fcntl(own, F_DUPFD_CLOEXEC, 0);
    int fd = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // The name may have changed between the look and the open.
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        close(fd);
        errno = ENOENT;
        return -1;
    }
    return fd;
}

// The text of the symbolic link at path on the heap, or NULL with errno
// set (ENAMETOOLONG for a text over PLAT_LINK_TEXT_MAX bytes).
static char *link_text(const char *path)
{
    char *buf = static_cast<char *>(malloc(PLAT_LINK_TEXT_MAX + 1));
    if (!buf) {
        errno = ENOMEM;
        return nullptr;
    }
    ssize_t n = readlink(path, buf, PLAT_LINK_TEXT_MAX + 1);
    if (n < 0 || n > PLAT_LINK_TEXT_MAX) {
        int error = n < 0 ? errno : ENAMETOOLONG;
        free(buf);
        errno = error;
        return nullptr;
    }
    buf[n] = 0;
    return buf;
}

// The name a link at `link` with the text `text` leads to: text itself
// when it is absolute or link has no folder, else text in link's folder.
// Takes text over (freed or returned). NULL when memory ran out.
static char *link_destination(const char *link, char *text)
{
    const char *slash = strrchr(link, '/');
    if (text[0] == '/' || !slash)
        return text;
    size_t dir_len = static_cast<size_t>(slash - link) + 1, text_len = strlen(text);
    char *name = static_cast<char *>(malloc(dir_len + text_len + 1));
    if (name) {
        memcpy(name, link, dir_len);
        memcpy(name + dir_len, text, text_len + 1);
    }
    free(text);
    return name;
}

// 1 when st is what the name path leads to.
static int same_node(const struct stat &st, const char *path)
{
    struct stat at;
    return stat(path, &at) == 0 && at.st_dev == st.st_dev && at.st_ino == st.st_ino;
}

// The descriptor a link at name is when it is one of the process's own
// descriptor links (a number in the folder /proc/self/fd, or in that of
// the calling thread, /proc/thread-self/fd), else -1.
static int descriptor_link(const char *name)
{
    const char *slash = strrchr(name, '/');
    const char *base = slash ? slash + 1 : name;
    size_t digits = strspn(base, "0123456789");
    if (!slash || digits == 0 || digits > 9 || base[digits])
        return -1;
    char *folder = slash == name ? strdup("/") : strndup(name, static_cast<size_t>(slash - name));
    struct stat at;
    bool in_fds = folder && stat(folder, &at) == 0 &&
                  (same_node(at, "/proc/self/fd") || same_node(at, "/proc/thread-self/fd"));
    free(folder);
    return in_fds ? atoi(base) : -1;
}

static int own_descriptor(const char *path)
{
    char *name = strdup(path);
    int fd = -1;
    for (int hops = 0; name && fd < 0 && hops <= PLAT_LINK_HOPS_MAX; hops++) {
        struct stat st;
        if (lstat(name, &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        fd = descriptor_link(name);
        if (fd >= 0)
            break;
        char *text = link_text(name);
        if (!text || !*text) {
            free(text);
            break;
        }
        char *next = link_destination(name, text);
        free(name);
        name = next;
    }
    free(name);
    return fd;
}

int plat_follow_links(const char *path, char **out)
{
    if (!out)
        return 0;
    *out = nullptr;
    if (!path || !*path)
        return 0;
    char *name = strdup(path);
    if (!name)
        return -1;
    for (int hops = 0;; hops++) {
        struct stat st;
        if (lstat(name, &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        if (hops == PLAT_LINK_HOPS_MAX) {
            free(name);
            errno = ELOOP;
            return 0;
        }
        char *text = link_text(name);
        if (!text || !*text) {
            bool nomem = !text && errno == ENOMEM;
            free(text);
            free(name);
            errno = nomem ? ENOMEM : text ? ENOENT : errno;
            return nomem ? -1 : 0;
        }
        char *next = link_destination(name, text);
        free(name);
        if (!next)
            return -1;
        name = next;
    }
    // Where the walk ended must be what the system itself reaches through
    // path: a link it refuses to follow for this caller (a link of another
    // user in a shared folder) makes stat fail with another error than a
    // missing name, and a descriptor's link can name a file that is gone.
    struct stat at_path, at_end;
    bool same;
    int why = ENOENT;
    if (stat(path, &at_path) == 0) {
        bool found = stat(name, &at_end) == 0;
        if (!found)
            why = errno;
        same = found && at_path.st_dev == at_end.st_dev && at_path.st_ino == at_end.st_ino;
    } else {
        why = errno;
        same = errno == ENOENT && stat(name, &at_end) != 0 && errno == ENOENT;
    }
    if (!same) {
        free(name);
        errno = why;
        return 0;
    }
    *out = name;
    return 1;
}

int plat_file_size(const char *path, uint64_t *size)
{
    struct stat st;
    if (!path || stat(path, &st) != 0)
        return 0;
    if (int why = not_regular_error(path, true)) {
        errno = why;
        return 0;
    }
    if (size)
        *size = static_cast<uint64_t>(st.st_size);
    return 1;
}

int plat_file_exists(const char *path) { return plat_file_size(path, nullptr); }

int64_t plat_read(int fd, void *buf, size_t len)
{
    for (;;) {
        ssize_t n = read(fd, buf, len);
        if (n >= 0)
            return static_cast<int64_t>(n);
        if (errno != EINTR)
            return -1;
    }
}

int plat_close(int fd) { return close(fd) == 0; }

int64_t plat_seek(int fd, int64_t offset, int whence)
{
    static const int whences[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (whence < PLAT_SEEK_SET || whence > PLAT_SEEK_END)
        return -1;
    off_t r = lseek(fd, static_cast<off_t>(offset), whences[whence]);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

int plat_fd_size(int fd, uint64_t *size)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    if (size)
        *size = static_cast<uint64_t>(st.st_size);
    return 1;
}

int plat_path_info(const char *path, PlatPathInfo *info)
{
    struct stat st;
    if (!path || stat(path, &st) != 0)
        return 0;
    if (info) {
        info->size = static_cast<uint64_t>(st.st_size);
        info->mtime = static_cast<int64_t>(st.st_mtime);
        info->is_dir = S_ISDIR(st.st_mode) ? 1 : 0;
    }
    return 1;
}

int plat_same_file(const char *a, const char *b)
{
    struct stat sa, sb;
    if (!a || !b || stat(a, &sa) != 0 || stat(b, &sb) != 0)
        return 0;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int plat_rename(const char *from, const char *to) { return from && to && rename(from, to) == 0; }

int plat_remove(const char *path) { return path && remove(path) == 0; }

int plat_mkdir(const char *path) { return path && mkdir(path, 0777) == 0; }

int plat_last_error(void) { return errno; }

const char *plat_error_text(int code, char *buf, size_t size)
{
    if (!buf || size == 0)
        return "";
    if (code == kErrorNotRegular) {
        snprintf(buf, size, "%s", "Not a regular file");
        return buf;
    }
    // GNU strerror_r may return a static text instead of filling buf.
    const char *s = strerror_r(code, buf, size);
    if (s != buf)
        snprintf(buf, size, "%s", s);
    return buf;
}

int plat_error_is_closed_pipe(int code) { return code == EPIPE; }

int plat_rmdir(const char *path) { return path && rmdir(path) == 0; }

int plat_dir_list(const char *path, int (*fn)(void *user, const char *name), void *user)
{
    DIR *dir = path ? opendir(path) : nullptr;
    if (!dir)
        return 0;
    while (struct dirent *d = readdir(dir)) {
        if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0)
            continue;
        if (!fn(user, d->d_name))
            break;
    }
    closedir(dir);
    return 1;
}

// The fields of one statx answer; follow tells whether a link was followed.
static int entry_times(const char *path, bool follow, struct statx *stx)
{
    int flags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
    return statx(AT_FDCWD, path, flags, STATX_BASIC_STATS | STATX_BTIME, stx) == 0;
}

int plat_entry_info(const char *path, PlatEntryInfo *info)
{
    struct statx stx;
    if (!path)
        return 0;
    if (!entry_times(path, false, &stx))
        return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
    unsigned kind = 0;
    if (S_ISDIR(stx.stx_mode)) {
        kind = PLAT_ENTRY_DIR;
    } else if (S_ISREG(stx.stx_mode)) {
        kind = PLAT_ENTRY_FILE;
    } else if (S_ISLNK(stx.stx_mode)) {
        // A link counts as the regular file it leads to; a link to a
        // directory stays a link, so a walk never follows it in a loop.
        kind = PLAT_ENTRY_LINK;
        struct statx target;
        if (entry_times(path, true, &target) && S_ISREG(target.stx_mode)) {
            kind |= PLAT_ENTRY_FILE;
            stx = target;
        }
    }
    if (info) {
        info->kind = kind;
        info->size = (kind & PLAT_ENTRY_FILE) ? stx.stx_size : 0;
        info->written = stx.stx_mtime.tv_sec;
        info->accessed = stx.stx_atime.tv_sec;
        info->created = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime.tv_sec : info->written;
    }
    return 1;
}

int plat_chmod(const char *path, unsigned mode)
{
    return path && chmod(path, static_cast<mode_t>(mode)) == 0;
}

char *plat_full_path(const char *path, char *buf, size_t size)
{
    if (!path || !buf || size == 0)
        return nullptr;
    char *resolved = realpath(path, nullptr); // allocated: no PATH_MAX guess
    if (!resolved)
        return nullptr;
    size_t len = strlen(resolved);
    char *result = nullptr;
    if (len < size) {
        memcpy(buf, resolved, len + 1);
        result = buf;
    }
    free(resolved);
    return result;
}

void *plat_lib_load(const char *name) { return name ? dlopen(name, RTLD_NOW | RTLD_LOCAL) : nullptr; }

void *plat_lib_symbol(void *lib, const char *name)
{
    return lib && name ? dlsym(lib, name) : nullptr;
}

int plat_lib_free(void *lib) { return lib && dlclose(lib) == 0; }

void plat_ignore_write_signals(void)
{
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

int plat_guard_std_fds(void)
{
    // Numbers are handed out lowest first: with the ones below already
    // open, the open gives fd itself. Opened for neither reading nor
    // writing (O_PATH), the descriptor stays closed for every use: a read
    // of the body from it or a write of the message into it fails as it
    // would on the closed one, instead of giving an empty body or taking
    // the message away without a word.
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        int null = open("/dev/null", O_PATH);
        if (null < 0)
            return 0;
        if (null != fd) {
            int moved = dup2(null, fd);
            close(null);
            if (moved != fd)
                return 0;
        }
    }
    return 1;
}

namespace {

// The signal guard. The handler reads only these, which are complete
// before guard_kind says they may be used.
enum { GUARD_NONE = 0, GUARD_REMOVE = 1, GUARD_EMPTY = 2 };
char guard_path[PLAT_SIGNAL_GUARD_PATH_MAX];
volatile sig_atomic_t guard_fd = -1; // the guard's own duplicate, for GUARD_EMPTY
volatile sig_atomic_t guard_kind = GUARD_NONE;
struct sigaction guard_saved[NSIG]; // by signal number
bool guard_installed[NSIG];
sigset_t guard_held_mask; // the mask before plat_signal_guard_hold
bool guard_held = false;

// Whether the guard stands against sig: every signal whose default action
// ends the process (an interrupt, SIGTERM and SIGHUP, but also SIGQUIT,
// SIGUSR1, SIGALRM, the real-time signals, a fault), not those that stop
// it, let it go on or are ignored by default, nor those no handler can
// catch. The system's own reserved numbers are refused by sigaction and
// so left out as well.
bool guarded(int sig)
{
    switch (sig) {
    case SIGKILL:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGCONT:
    case SIGCHLD:
    case SIGURG:
    case SIGWINCH:
        return false;
    default:
        return sig > 0 && sig < NSIG;
    }
}

// The guarded signals as a set.
sigset_t guarded_set(void)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig = 1; sig < NSIG; sig++)
        if (guarded(sig))
            sigaddset(&set, sig);
    return set;
}

// Only async-signal-safe calls: the file goes, then the signal is raised
// again with its default action, which ends the process once the handler
// returns (the signal is blocked until then).
extern "C" void guard_handler(int sig)
{
    int saved_errno = errno;
    if (guard_kind == GUARD_REMOVE)
        unlink(guard_path);
    else if (guard_kind == GUARD_EMPTY && ftruncate(guard_fd, 0) != 0) {
        // Nothing more can be done here.
    }
    guard_kind = GUARD_NONE;
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
    errno = saved_errno;
}

// Lets the signals held by plat_signal_guard_hold come.
void guard_release(void)
{
    if (guard_held) {
        guard_held = false;
        pthread_sigmask(SIG_SETMASK, &guard_held_mask, nullptr);
    }
}

void guard_disarm(void)
{
    guard_kind = GUARD_NONE;
    if (guard_fd >= 0) {
        close(guard_fd);
        guard_fd = -1;
    }
}

} // namespace

void plat_signal_guard_hold(void)
{
    if (guard_held)
        return;
    sigset_t block = guarded_set();
    guard_held = pthread_sigmask(SIG_BLOCK, &block, &guard_held_mask) == 0;
}

int plat_signal_guard_set(const char *path, int fd)
{
    guard_disarm();
    if (path) {
        size_t len = strlen(path);
        if (len >= sizeof guard_path) {
            guard_release();
            return 0;
        }
        memcpy(guard_path, path, len + 1);
    } else {
        // Its own duplicate: the caller's descriptor may close (a stream
        // that flushes and closes it) while the guard still stands.
        int dup = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (dup < 0) {
            guard_release();
            return 0;
        }
        guard_fd = dup;
    }
    struct sigaction act;
    memset(&act, 0, sizeof act);
    act.sa_handler = guard_handler;
    // One guarded signal at a time: a second waits for the first.
    act.sa_mask = guarded_set();
    act.sa_flags = SA_RESTART;
    for (int sig = 1; sig < NSIG; sig++) {
        if (!guarded(sig) || guard_installed[sig])
            continue;
        struct sigaction old;
        // A signal the process was told to ignore (nohup), or ignores
        // itself (a write to a closed pipe, see plat_ignore_write_signals),
        // stays ignored.
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        if (sigaction(sig, &act, nullptr) == 0) {
            guard_saved[sig] = old;
            guard_installed[sig] = true;
        }
    }
    guard_kind = path ? GUARD_REMOVE : GUARD_EMPTY;
    guard_release();
    return 1;
}

void plat_signal_guard_clear(void)
{
    guard_disarm();
    guard_release();
    for (int sig = 1; sig < NSIG; sig++) {
        if (guard_installed[sig]) {
            sigaction(sig, &guard_saved[sig], nullptr);
            guard_installed[sig] = false;
        }
    }
}

int plat_exit_status(int status)
{
    int code = static_cast<int>(static_cast<unsigned>(status) & 0xffu);
    return status != 0 && code == 0 ? 1 : code;
}

void plat_exit(int status)
{
    fflush(stdout);
    fflush(stderr);
    exit(plat_exit_status(status));
}

int plat_stdin_is_terminal(void) { return isatty(STDIN_FILENO) == 1; }

int plat_console_width(void)
{
    struct winsize ws;
    if (!isatty(STDOUT_FILENO) || ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0)
        return 80;
    return ws.ws_col;
}

char *plat_config_dir(void)
{
    const char *dir = getenv("APPDATA");
    if (dir && *dir)
        return strdup(dir);
    dir = getenv("XDG_CONFIG_HOME");
    if (dir && *dir)
        return strdup(dir);
    dir = getenv("HOME");
    if (!dir || !*dir)
        return nullptr;
    // Sized from the value itself: a long home folder is never cut.
    size_t len = strlen(dir);
    static const char tail[] = "/.config";
    char *path = static_cast<char *>(malloc(len + sizeof tail));
    if (!path)
        return nullptr;
    memcpy(path, dir, len);
    memcpy(path + len, tail, sizeof tail);
    return path;
}

int plat_machine_guid_file(const char *path, char *out, size_t size)
{
    if (size == 0)
        return 0;
    out[0] = 0;
    if (size < PLAT_MACHINE_GUID_SIZE)
        return 0;
    int fd = plat_open(path, PLAT_OPEN_READ);
    if (fd < 0)
        return 0;
    // 32 digits and a line end; one byte more shows a longer file.
    enum { ID_DIGITS = 32, ID_READ_MAX = ID_DIGITS + 2 };
    char id[ID_READ_MAX];
    size_t have = 0;
    int64_t got;
    while (have < sizeof id && (got = plat_read(fd, id + have, sizeof id - have)) > 0)
        have += static_cast<size_t>(got);
    plat_close(fd);
    if (have == ID_DIGITS + 1 && id[ID_DIGITS] == '\n')
        have = ID_DIGITS;
    if (have != ID_DIGITS)
        return 0;
    size_t o = 0;
    for (size_t i = 0; i < ID_DIGITS; i++) {
        char c = id[i];
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            out[0] = 0;
            return 0;
        }
        if (i == 8 || i == 12 || i == 16 || i == 20)
            out[o++] = '-';
        out[o++] = c;
    }
    out[o] = 0;
    return 1;
}

int plat_machine_guid(char *out, size_t size)
{
    return plat_machine_guid_file("/etc/machine-id", out, size);
}
