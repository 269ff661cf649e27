// Tests of the platform layer: locks, thread identity, sleeping, the
// monotonic clock and the file calls that refuse directories.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/unit/helpers.h"

namespace {

TEST(Platform, LockExcludes)
{
    PlatLock lock;
    ASSERT_EQ(plat_lock_init(&lock), 1);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; i++) {
                plat_lock_enter(&lock);
                counter++;
                plat_lock_leave(&lock);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(counter, 80000);
    plat_lock_destroy(&lock);
}

TEST(Platform, ThreadIdsAreNonZeroStableAndDistinct)
{
    uint32_t mine = plat_thread_id();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(plat_thread_id(), mine);
    std::vector<uint32_t> ids(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ids.size(); i++)
        threads.emplace_back([&ids, i] {
            ids[i] = plat_thread_id();
            EXPECT_EQ(plat_thread_id(), ids[i]);
        });
    for (auto &t : threads)
        t.join();
    std::set<uint32_t> distinct(ids.begin(), ids.end());
    distinct.insert(mine);
    EXPECT_EQ(distinct.size(), ids.size() + 1);
    EXPECT_FALSE(distinct.count(0));
}

std::atomic<int> started_with{0};

void record_arg(void *arg) { started_with = *static_cast<int *>(arg); }

void exit_early(void *arg)
{
    static_cast<std::atomic<int> *>(arg)->store(1);
    plat_thread_exit();
}

TEST(Platform, ThreadStartAndExit)
{
    static int value = 42;
    started_with = 0;
    ASSERT_EQ(plat_thread_start(record_arg, &value), 1);
    for (int i = 0; i < 10000 && started_with.load() == 0; i++)
        plat_sleep_ms(1);
    EXPECT_EQ(started_with.load(), 42);

    static std::atomic<int> reached{0};
    ASSERT_EQ(plat_thread_start(exit_early, &reached), 1);
    for (int i = 0; i < 10000 && reached.load() == 0; i++)
        plat_sleep_ms(1);
    EXPECT_EQ(reached.load(), 1);
}

TEST(Platform, ClockIsMonotonicAndCoversSleeps)
{
    EXPECT_EQ(plat_clock_frequency(), 1000000000);
    int64_t last = plat_clock_counter();
    for (int i = 0; i < 100000; i++) {
        int64_t now = plat_clock_counter();
        ASSERT_GE(now, last);
        last = now;
    }
    int64_t before = plat_clock_counter();
    plat_sleep_ms(15);
    EXPECT_GE(plat_clock_counter() - before, 15 * 1000000);
    before = plat_clock_counter();
    plat_sleep_ms(0);
    EXPECT_GE(plat_clock_counter(), before);
}

TEST(Platform, FilesRefuseDirectories)
{
    TempDir dir;
    std::string file = dir.file("data.txt");
    write_file(file, "12345");
    std::string sub = dir.file("sub");
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    std::string missing = dir.file("missing");

    int fd = plat_open(file.c_str(), PLAT_OPEN_READ);
    ASSERT_GE(fd, 0);
    char buf[8] = {};
    EXPECT_EQ(read(fd, buf, sizeof buf), 5);
    close(fd);
    EXPECT_EQ(plat_open(sub.c_str(), PLAT_OPEN_READ), -1);
    EXPECT_EQ(plat_open(missing.c_str(), PLAT_OPEN_READ), -1);
    EXPECT_EQ(plat_open(nullptr, PLAT_OPEN_READ), -1);

    FILE *fp = plat_fopen(file.c_str(), "rb");
    ASSERT_TRUE(fp);
    fclose(fp);
    EXPECT_EQ(plat_fopen(sub.c_str(), "rb"), nullptr);
    EXPECT_EQ(plat_fopen(missing.c_str(), "rb"), nullptr);
    EXPECT_EQ(plat_fopen(nullptr, "rb"), nullptr);

    // Creating through plat_open and plat_fopen gives regular files.
    std::string made = dir.file("made");
    fd = plat_open(made.c_str(), PLAT_OPEN_WRITE);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, "ab", 2), 2);
    close(fd);
    fp = plat_fopen(dir.file("made2").c_str(), "wb");
    ASSERT_TRUE(fp);
    fclose(fp);

    EXPECT_EQ(plat_file_exists(file.c_str()), 1);
    EXPECT_EQ(plat_file_exists(sub.c_str()), 0);
    EXPECT_EQ(plat_file_exists(missing.c_str()), 0);
    EXPECT_EQ(plat_file_exists(nullptr), 0);

    uint64_t size = 0;
    EXPECT_EQ(plat_file_size(file.c_str(), &size), 1);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(plat_file_size(made.c_str(), &size), 1);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(plat_file_size(dir.file("made2").c_str(), &size), 1);
    EXPECT_EQ(size, 0u);
    size = 77;
    EXPECT_EQ(plat_file_size(sub.c_str(), &size), 0);
    EXPECT_EQ(plat_file_size(missing.c_str(), &size), 0);
    EXPECT_EQ(size, 77u);
}

// A FIFO is no regular file: every open refuses it at once instead of
// waiting for a writer or reader at its other end. Run in a child with an
// alarm, so that a wrong implementation fails instead of hanging the tests.
TEST(Platform, FifoIsRefusedWithoutWaiting)
{
    TempDir dir;
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        alarm(5);
        int refused = plat_open(fifo.c_str(), PLAT_OPEN_READ) == -1 &&
                      plat_open(fifo.c_str(), PLAT_OPEN_WRITE) == -1 && !plat_fopen(fifo.c_str(), "rb") &&
                      !plat_fopen(fifo.c_str(), "wb") && !plat_file_exists(fifo.c_str());
        _exit(refused ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "an open of the FIFO blocked";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Platform, DescriptorReadSeekAndSize)
{
    TempDir dir;
    std::string file = dir.file("data");
    write_file(file, "0123456789");
    int fd = plat_open(file.c_str(), PLAT_OPEN_READ);
    ASSERT_GE(fd, 0);
    uint64_t size = 0;
    EXPECT_EQ(plat_fd_size(fd, &size), 1);
    EXPECT_EQ(size, 10u);
    char buf[16] = {};
    EXPECT_EQ(plat_read(fd, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(plat_seek(fd, 8, PLAT_SEEK_SET), 8);
    EXPECT_EQ(plat_read(fd, buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, 2), "89");
    EXPECT_EQ(plat_read(fd, buf, sizeof buf), 0); // the end
    EXPECT_EQ(plat_seek(fd, -3, PLAT_SEEK_END), 7);
    EXPECT_EQ(plat_seek(fd, -100, PLAT_SEEK_SET), -1);
    EXPECT_EQ(plat_close(fd), 1);
    EXPECT_EQ(plat_read(fd, buf, 1), -1); // closed
    EXPECT_EQ(plat_close(fd), 0);
    EXPECT_EQ(plat_fd_size(fd, &size), 0);
}

TEST(Platform, NamesRenameRemoveAndDirectories)
{
    TempDir dir;
    std::string a = dir.file("a"), b = dir.file("b"), sub = dir.file("sub");
    write_file(a, "abc");
    ASSERT_EQ(plat_mkdir(sub.c_str()), 1);
    EXPECT_EQ(plat_mkdir(sub.c_str()), 0); // exists

    PlatPathInfo info{};
    ASSERT_EQ(plat_path_info(a.c_str(), &info), 1);
    EXPECT_EQ(info.size, 3u);
    EXPECT_EQ(info.is_dir, 0);
    ASSERT_EQ(plat_path_info(sub.c_str(), &info), 1);
    EXPECT_EQ(info.is_dir, 1);
    EXPECT_EQ(plat_path_info(b.c_str(), &info), 0);

    EXPECT_EQ(plat_same_file(a.c_str(), (sub + "/../a").c_str()), 1);
    EXPECT_EQ(plat_same_file(a.c_str(), sub.c_str()), 0);
    EXPECT_EQ(plat_same_file(a.c_str(), b.c_str()), 0);

    char full[4096];
    ASSERT_EQ(plat_full_path((sub + "/../a").c_str(), full, sizeof full), full);
    EXPECT_EQ(plat_same_file(full, a.c_str()), 1);
    EXPECT_EQ(full[0], '/');
    EXPECT_EQ(plat_full_path(a.c_str(), full, 2), nullptr); // does not fit

    EXPECT_EQ(plat_rename(a.c_str(), b.c_str()), 1);
    EXPECT_EQ(plat_file_exists(a.c_str()), 0);
    EXPECT_EQ(read_file(b), "abc");
    EXPECT_EQ(plat_rename(a.c_str(), b.c_str()), 0); // no source
    EXPECT_EQ(plat_remove(b.c_str()), 1);
    EXPECT_EQ(plat_file_exists(b.c_str()), 0);
    EXPECT_EQ(plat_remove(b.c_str()), 0);
    EXPECT_EQ(plat_rename(nullptr, b.c_str()), 0);
    EXPECT_EQ(plat_remove(nullptr), 0);
}

} // namespace

TEST(PlatformFiles, CreateNewAndTempBeside)
{
    TempDir dir;
    std::string target = dir.file("out.eml");
    int fd = plat_open(target.c_str(), PLAT_OPEN_CREATE_NEW);
    ASSERT_GE(fd, 0);
    plat_close(fd);
    // A name that exists is never taken over.
    EXPECT_EQ(plat_open(target.c_str(), PLAT_OPEN_CREATE_NEW), -1);

    char tmp[512];
    fd = plat_open_temp_beside(target.c_str(), tmp, sizeof tmp);
    ASSERT_GE(fd, 0);
    plat_close(fd);
    std::string t(tmp);
    EXPECT_EQ(t.rfind(dir.path + "/.out.eml.", 0), 0u) << t;
    EXPECT_TRUE(plat_file_exists(tmp));
    char tmp2[512];
    fd = plat_open_temp_beside(target.c_str(), tmp2, sizeof tmp2);
    ASSERT_GE(fd, 0);
    plat_close(fd);
    EXPECT_STRNE(tmp, tmp2);
    // Too small a name buffer, an empty or folder-only target.
    char small[8];
    EXPECT_EQ(plat_open_temp_beside(target.c_str(), small, sizeof small), -1);
    EXPECT_EQ(plat_open_temp_beside("", tmp, sizeof tmp), -1);
    EXPECT_EQ(plat_open_temp_beside("dir/", tmp, sizeof tmp), -1);

    // The name is created, never reached through a link planted on it.
    std::string outside = dir.file("outside");
    write_file(outside, "keep");
    std::string planted = dir.file("planted");
    ASSERT_EQ(symlink(outside.c_str(), planted.c_str()), 0);
    EXPECT_EQ(plat_open(planted.c_str(), PLAT_OPEN_CREATE_NEW), -1);
    std::string dangling = dir.file("dangling");
    ASSERT_EQ(symlink(dir.file("made-through-link").c_str(), dangling.c_str()), 0);
    EXPECT_EQ(plat_open(dangling.c_str(), PLAT_OPEN_CREATE_NEW), -1);
    EXPECT_FALSE(plat_file_exists(dir.file("made-through-link").c_str()));
    EXPECT_EQ(read_file(outside), "keep");
}

// The file made to replace another takes over its permission bits (never
// set-user-ID and the like); a new target gets the default bits.
TEST(PlatformFiles, TempBesideTakesTheTargetsBits)
{
    TempDir dir;
    const struct {
        unsigned target_mode; // 0: no target yet
        unsigned want;
    } cases[] = {{0600, 0600}, {0640, 0640}, {0444, 0444}, {04755, 0755}};
    mode_t mask = umask(022);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target_mode);
        std::string target = dir.file("t" + std::to_string(c.target_mode));
        write_file(target, "old");
        ASSERT_EQ(chmod(target.c_str(), c.target_mode), 0);
        char tmp[512];
        int fd = plat_open_temp_beside(target.c_str(), tmp, sizeof tmp);
        ASSERT_GE(fd, 0);
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.want);
        EXPECT_EQ(st.st_uid, geteuid());
        plat_close(fd);
        unlink(tmp);
    }
    char tmp[512];
    int fd = plat_open_temp_beside(dir.file("new").c_str(), tmp, sizeof tmp);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    plat_close(fd);
    umask(mask);
}

// Where output goes: what a name leads to, and the name a link leads to.
TEST(PlatformFiles, OutputTargetsAndLinks)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    write_file(dir.file("real.eml"), "x");
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    const struct {
        const char *name, *link;
    } links[] = {
        {"rel", "real.eml"},
        {"sub/up", "../real.eml"},
        {"chain", "sub/up"},
        {"dangling", "sub/new.eml"},
        {"loop1", "loop2"},
        {"loop2", "loop1"},
        {"to-folder", "sub"},
        {"to-pipe", "pipe"},
        {"to-null", "/dev/null"},
    };
    for (const auto &l : links)
        ASSERT_EQ(symlink(l.link, dir.file(l.name).c_str()), 0) << l.name;
    ASSERT_EQ(symlink(dir.file("real.eml").c_str(), dir.file("abs").c_str()), 0);
    // A chain one hop longer than followed.
    std::string deep = "real.eml";
    for (int i = 0; i <= PLAT_LINK_HOPS_MAX; i++) {
        std::string name = "deep" + std::to_string(i);
        ASSERT_EQ(symlink(deep.c_str(), dir.file(name).c_str()), 0);
        deep = name;
    }

    const struct {
        std::string path;
        int kind;
        int followed;
        std::string leads_to; // when followed is 1
    } cases[] = {
        {dir.file("real.eml"), PLAT_TARGET_FILE, 1, dir.file("real.eml")},
        {dir.file("missing.eml"), PLAT_TARGET_NONE, 1, dir.file("missing.eml")},
        {dir.file("abs"), PLAT_TARGET_FILE, 1, dir.file("real.eml")},
        {dir.file("rel"), PLAT_TARGET_FILE, 1, dir.file("real.eml")},
        {dir.file("sub/up"), PLAT_TARGET_FILE, 1, dir.file("sub/../real.eml")},
        {dir.file("chain"), PLAT_TARGET_FILE, 1, dir.file("sub/../real.eml")},
        {dir.file("dangling"), PLAT_TARGET_NONE, 1, dir.file("sub/new.eml")},
        {dir.file("loop1"), PLAT_TARGET_OTHER, 0, ""},
        {dir.file(deep), PLAT_TARGET_OTHER, 0, ""},
        {dir.file("deep" + std::to_string(PLAT_LINK_HOPS_MAX - 1)), PLAT_TARGET_FILE, 1, dir.file("real.eml")},
        {dir.file("to-folder"), PLAT_TARGET_OTHER, 1, dir.file("sub")},
        {dir.file("sub"), PLAT_TARGET_OTHER, 1, dir.file("sub")},
        {dir.file("pipe"), PLAT_TARGET_STREAM, 1, dir.file("pipe")},
        {dir.file("to-pipe"), PLAT_TARGET_STREAM, 1, dir.file("pipe")},
        {dir.file("to-null"), PLAT_TARGET_STREAM, 1, "/dev/null"},
        {"/dev/null", PLAT_TARGET_STREAM, 1, "/dev/null"},
        {dir.file("real.eml/below"), PLAT_TARGET_OTHER, 0, ""},
        {"", PLAT_TARGET_OTHER, 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(plat_target_kind(c.path.c_str()), c.kind);
        char *out = reinterpret_cast<char *>(1);
        EXPECT_EQ(plat_follow_links(c.path.c_str(), &out), c.followed);
        if (c.followed == 1) {
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(std::string(out), c.leads_to);
        } else {
            EXPECT_EQ(out, nullptr);
        }
        free(out);
    }

    // A descriptor's link to a file that is gone leads nowhere that could
    // be replaced.
    std::string gone = dir.file("gone.eml");
    write_file(gone, "x");
    int fd = open(gone.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    unlink(gone.c_str());
    std::string fd_link = "/proc/self/fd/" + std::to_string(fd);
    char *out = nullptr;
    EXPECT_EQ(plat_follow_links(fd_link.c_str(), &out), 0);
    EXPECT_EQ(out, nullptr);
    close(fd);
}

// A folder with the sticky bit keeps each file for its owner and the
// folder's: a new file made there by anyone else may not take the file's
// name, unless he may act as any owner (root). Another owner's file needs
// the tests to run as root; the check then runs as nobody in a child.
TEST(PlatformFiles, MayReplaceKeepsTheFilesOfOthersInAStickyFolder)
{
    TempDir dir;
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    const std::string plain = dir.file("plain"), shared = dir.file("shared");
    ASSERT_EQ(mkdir(plain.c_str(), 0777), 0);
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(plain.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    write_file(plain + "/f", "x");
    write_file(shared + "/f", "x");
    EXPECT_EQ(plat_may_replace((plain + "/f").c_str()), 1);
    EXPECT_EQ(plat_may_replace((shared + "/f").c_str()), 1); // his own, or root's right
    EXPECT_EQ(plat_may_replace(dir.file("missing").c_str()), 1);
    if (geteuid() != 0)
        GTEST_SKIP() << "another owner's file needs the tests to run as root";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        errno = 0;
        bool kept = plat_may_replace((shared + "/f").c_str()) == 0 && errno == EPERM;
        _exit(kept && plat_may_replace((plain + "/f").c_str()) == 1 ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A pipe or a device is opened in place for writing; nothing else is.
TEST(PlatformFiles, OpenInPlace)
{
    TempDir dir;
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string text;
    std::thread reader([&] { text = read_file(fifo); });
    int fd = plat_open_in_place(fifo.c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, "through", 7), 7);
    plat_close(fd);
    reader.join();
    EXPECT_EQ(text, "through");
    EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);

    fd = plat_open_in_place("/dev/null");
    ASSERT_GE(fd, 0);
    plat_close(fd);
    write_file(dir.file("file"), "x");
    for (std::string name : {dir.file("file"), dir.file("missing"), dir.path})
        EXPECT_EQ(plat_open_in_place(name.c_str()), -1) << name;
    EXPECT_EQ(read_file(dir.file("file")), "x");
}
