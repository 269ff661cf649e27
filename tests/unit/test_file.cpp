// The file helpers: whole-file loading, opening and testing under UTF-8
// names, base names, and the copy, move, directory and path helpers.
#include "platform/platform.h"
#include "support/file.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/unit/helpers.h"

namespace fs = std::filesystem;

namespace {
const char kUtf8Name[] = "\xc3\xa9t\xc3\xa9-\xe2\x82\xac-\xe6\x97\xa5.txt"; // "été-€-日.txt"
}

TEST(FileMap, MissingEmptyAndDirectoryGiveNull)
{
    TempDir dir;
    write_file(dir.file("empty"), "");
    fs::create_directory(dir.file("sub"));
    EXPECT_EQ(file_map(dir.file("missing").c_str(), 0), nullptr);
    EXPECT_EQ(file_map(dir.file("empty").c_str(), 0), nullptr);
    EXPECT_EQ(file_map(dir.file("sub").c_str(), 0), nullptr);
    EXPECT_EQ(file_map(dir.path.c_str(), 0), nullptr);
    EXPECT_EQ(file_map(nullptr, 0), nullptr);
    file_unmap(nullptr); // accepted and ignored
}

TEST(FileMap, HoldsEveryByte)
{
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 200000; i++)
        bytes += static_cast<char>(i % 251); // NUL bytes included
    const std::string contents[] = {"x", std::string("a\0b", 3), bytes};
    for (const std::string &c : contents) {
        SCOPED_TRACE(c.size());
        write_file(dir.file("f"), c);
        FileMap *map = file_map(dir.file("f").c_str(), 0);
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(map->size, c.size());
        EXPECT_EQ(std::string(map->view, map->size), c);
        file_unmap(map);
    }
}

// The view belongs to the reader: a file cut short or rewritten on disk
// afterwards changes nothing in it (and cannot crash the process).
TEST(FileMap, FileChangedAfterwardsLeavesViewIntact)
{
    TempDir dir;
    std::string original(100000, 'm');
    write_file(dir.file("f"), original);
    FileMap *map = file_map(dir.file("f").c_str(), 0);
    ASSERT_NE(map, nullptr);
    fs::resize_file(dir.file("f"), 0);
    write_file(dir.file("f"), "short");
    EXPECT_EQ(map->size, original.size());
    EXPECT_EQ(std::string(map->view, map->size), original);
    file_unmap(map);
}

TEST(FileUtf8, NonAsciiNamesReachTheFileSystem)
{
    TempDir dir;
    std::string path = dir.file(kUtf8Name);
    EXPECT_EQ(file_exists_utf8(path.c_str()), 0);
    FILE *fp = file_fopen_utf8(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    fputs("content", fp);
    fclose(fp);
    EXPECT_TRUE(fs::exists(fs::u8path(path)));
    EXPECT_EQ(file_exists_utf8(path.c_str()), 1);
    EXPECT_EQ(file_exists(path.c_str()), 1);

    int fd = file_open_utf8(path.c_str(), PLAT_OPEN_READ);
    ASSERT_GE(fd, 0);
    char buf[16] = {};
    EXPECT_EQ(read(fd, buf, sizeof buf), 7);
    EXPECT_STREQ(buf, "content");
    close(fd);

    FileMap *map = file_map(path.c_str(), 0);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(std::string(map->view, map->size), "content");
    file_unmap(map);
}

TEST(FileUtf8, FopenModesAndRefusals)
{
    TempDir dir;
    std::string path = dir.file("out");
    write_file(path, "old and long content");
    FILE *fp = file_fopen_utf8(path.c_str(), "wb"); // truncates
    ASSERT_NE(fp, nullptr);
    fputs("new", fp);
    fclose(fp);
    EXPECT_EQ(read_file(path), "new");

    EXPECT_EQ(file_fopen_utf8(dir.file("missing").c_str(), "rb"), nullptr);
    EXPECT_EQ(file_fopen_utf8(dir.path.c_str(), "rb"), nullptr); // a directory
    EXPECT_EQ(file_open_utf8(dir.path.c_str(), PLAT_OPEN_READ), -1);
    EXPECT_EQ(file_open_utf8(dir.file("missing").c_str(), PLAT_OPEN_READ), -1);

    fs::create_directory(dir.file("sub"));
    EXPECT_EQ(file_exists(dir.file("sub").c_str()), 0);
    EXPECT_EQ(file_exists_utf8(dir.file("missing").c_str()), 0);
    EXPECT_EQ(file_exists(nullptr), 0);
}

TEST(FileBaseName, AfterTheLastSeparator)
{
    struct Case {
        const char *path;
        size_t offset;
    } cases[] = {
        {"C:\\dir/sub\\file.txt", 11},
        {"dir\\sub/file.txt", 8},
        {"file.txt", 0},
        {"dir/", 4},  // ends in a separator: the empty text at its end
        {"", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(file_base_name(c.path), c.path + c.offset);
    }
}

TEST(FileAppendZeros, AppendsCountZeroBytes)
{
    TempDir dir;
    write_file(dir.file("f"), "ab");
    EXPECT_EQ(file_append_zeros(dir.file("f").c_str(), 3), 1);
    EXPECT_EQ(read_file(dir.file("f")), std::string("ab\0\0\0", 5));
    EXPECT_EQ(file_append_zeros(dir.file("f").c_str(), 0), 1);
    EXPECT_EQ(read_file(dir.file("f")).size(), 5u);
    EXPECT_EQ(file_append_zeros(dir.file("new").c_str(), 10000), 1);
    EXPECT_EQ(read_file(dir.file("new")), std::string(10000, '\0'));
    EXPECT_EQ(file_append_zeros(dir.file("no/such/dir").c_str(), 1), 0);
}

TEST(FileCopy, CopiesEveryByte)
{
    TempDir dir;
    const size_t sizes[] = {0, 1, 4096, 4097, 100000};
    for (size_t n : sizes) {
        SCOPED_TRACE(n);
        std::string bytes;
        for (size_t i = 0; i < n; i++)
            bytes += static_cast<char>(i * 13 % 256);
        write_file(dir.file("src"), bytes);
        EXPECT_EQ(file_copy(dir.file("src").c_str(), dir.file("dst").c_str()), 1);
        EXPECT_EQ(read_file(dir.file("dst")), bytes);
        EXPECT_EQ(read_file(dir.file("src")), bytes);
    }
}

TEST(FileCopy, FailuresKeepTheSource)
{
    TempDir dir;
    write_file(dir.file("src"), "precious");
    fs::create_directory(dir.file("sub"));
    EXPECT_EQ(file_copy(dir.file("missing").c_str(), dir.file("dst").c_str()), 0);
    EXPECT_FALSE(fs::exists(dir.file("dst")));
    EXPECT_EQ(file_copy(dir.file("sub").c_str(), dir.file("dst").c_str()), 0); // not a file
    EXPECT_EQ(file_copy(dir.file("src").c_str(), dir.file("no/dir/dst").c_str()), 0);
    EXPECT_EQ(file_copy(dir.file("src").c_str(), dir.file("sub").c_str()), 0);
    // Onto itself, also under another name: refused instead of truncated.
    EXPECT_EQ(file_copy(dir.file("src").c_str(), dir.file("src").c_str()), 0);
    EXPECT_EQ(file_copy(dir.file("src").c_str(), (dir.path + "/sub/../src").c_str()), 0);
    EXPECT_EQ(read_file(dir.file("src")), "precious");
}

// Runs fn in a child process whose files may not grow past limit bytes (a
// write beyond it fails instead of raising a signal); returns fn's result,
// or -1 when the child did not end normally.
static int with_file_size_limit(rlim_t limit, int (*fn)(const char *, const char *), const char *a,
                         const char *b)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl;
        getrlimit(RLIMIT_FSIZE, &rl);
        rl.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &rl);
        _exit(fn(a, b));
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Writes that fail part way (the destination may not grow past 1000
// bytes) are reported, and no partial copy is left behind; a source that
// fits copies whole under the same limit.
TEST(FileCopy, WriteFailureIsReported)
{
    TempDir dir;
    write_file(dir.file("small"), "tiny");
    write_file(dir.file("big"), std::string(50000, 'b'));
    const std::string dst = dir.file("dst");
    EXPECT_EQ(with_file_size_limit(1000, file_copy, dir.file("big").c_str(), dst.c_str()), 0);
    EXPECT_FALSE(fs::exists(dst));
    EXPECT_EQ(read_file(dir.file("big")), std::string(50000, 'b'));
    EXPECT_EQ(with_file_size_limit(1000, file_copy, dir.file("small").c_str(), dst.c_str()), 1);
    EXPECT_EQ(read_file(dst), "tiny");

    // A move across file systems that cannot copy keeps its source.
    struct stat here, shm;
    if (stat("/dev/shm", &shm) == 0 && stat(dir.path.c_str(), &here) == 0 && shm.st_dev != here.st_dev &&
        access("/dev/shm", W_OK) == 0) {
        std::string other = "/dev/shm/tarvex-move-full-" + std::to_string(getpid());
        EXPECT_EQ(with_file_size_limit(1000, file_move, dir.file("big").c_str(), other.c_str()), 0);
        EXPECT_FALSE(fs::exists(other));
        EXPECT_EQ(read_file(dir.file("big")), std::string(50000, 'b'));
    }
}

// A device as the destination is refused like a folder, and never removed.
TEST(FileCopy, DeviceDestinationIsRefused)
{
    if (!fs::is_character_file("/dev/null"))
        GTEST_SKIP() << "no /dev/null";
    TempDir dir;
    write_file(dir.file("small"), "tiny");
    EXPECT_EQ(file_copy(dir.file("small").c_str(), "/dev/null"), 0);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(read_file(dir.file("small")), "tiny");
}

TEST(FileMove, RenamesWithinOneFileSystem)
{
    TempDir dir;
    write_file(dir.file("a"), "data");
    EXPECT_EQ(file_move(dir.file("a").c_str(), dir.file("b").c_str()), 1);
    EXPECT_FALSE(fs::exists(dir.file("a")));
    EXPECT_EQ(read_file(dir.file("b")), "data");
}

// Across file systems rename fails and the copy path runs: the source goes
// only once the copy is whole.
TEST(FileMove, CopiesAcrossFileSystems)
{
    TempDir dir;
    std::error_code ec;
    if (!fs::is_directory("/dev/shm", ec) || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/shm";
    std::string other = "/dev/shm/tarvex-move-" + std::to_string(getpid());
    write_file(dir.file("a"), std::string(9000, 'z'));
    int ok = file_move(dir.file("a").c_str(), other.c_str());
    std::string moved = read_file(other);
    fs::remove(other, ec);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(moved, std::string(9000, 'z'));
    EXPECT_FALSE(fs::exists(dir.file("a")));
}

TEST(FileMove, FailedMoveKeepsTheSource)
{
    TempDir dir;
    write_file(dir.file("a"), "keep me");
    fs::create_directories(dir.file("full/inner"));
    EXPECT_EQ(file_move(dir.file("a").c_str(), dir.file("no/such/dir/b").c_str()), 0);
    EXPECT_EQ(file_move(dir.file("a").c_str(), dir.file("full").c_str()), 0);
    EXPECT_EQ(read_file(dir.file("a")), "keep me");
    EXPECT_EQ(file_move(dir.file("missing").c_str(), dir.file("b").c_str()), 0);
}

TEST(FileInfo, SizeAndTime)
{
    TempDir dir;
    write_file(dir.file("f"), "12345");
    EXPECT_EQ(file_size(dir.file("f").c_str()), 5);
    EXPECT_EQ(file_size(dir.file("missing").c_str()), -1);
    // Beyond 4 GiB (sparse, so it takes no room): the whole 64-bit size.
    const uint64_t big = (uint64_t(5) << 30) + 3;
    fs::resize_file(dir.file("f"), big);
    EXPECT_EQ(file_size(dir.file("f").c_str()), static_cast<int64_t>(big));

    int status = -1;
    run_command("touch -d @1000000000 '" + dir.file("f") + "'", "", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(file_mtime(dir.file("f").c_str()), 1000000000);
    EXPECT_EQ(file_mtime(dir.file("missing").c_str()), 0);
}

TEST(FileInfo, FullPath)
{
    TempDir dir;
    fs::create_directory(dir.file("sub"));
    write_file(dir.file("f"), "");
    char buf[FILE_PATH_MAX];
    std::string rel = dir.path + "/sub/../f";
    ASSERT_EQ(file_full_path(rel.c_str(), buf), buf);
    EXPECT_EQ(std::string(buf), fs::canonical(dir.file("f")).string());
    EXPECT_EQ(file_full_path(dir.file("missing/x").c_str(), buf), nullptr);
}

TEST(FileInfo, ChmodFromOctalText)
{
    TempDir dir;
    write_file(dir.file("f"), "");
    EXPECT_EQ(file_chmod_text(dir.file("f").c_str(), "640"), 1);
    EXPECT_EQ(fs::status(dir.file("f")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const char *bad[] = {"", "9", "0640x", "-1", "77777"};
    for (const char *b : bad) {
        SCOPED_TRACE(b);
        EXPECT_EQ(file_chmod_text(dir.file("f").c_str(), b), 0);
    }
    EXPECT_EQ(file_chmod_text(dir.file("missing").c_str(), "600"), 0);
}

TEST(DirCreate, BuildsEveryMissingComponent)
{
    TempDir dir;
    EXPECT_EQ(dir_create_path((dir.path + "/a/b//c").c_str(), "0755"), 1);
    EXPECT_TRUE(fs::is_directory(dir.file("a/b/c")));
    EXPECT_EQ(dir_create_path(dir.file("a/b").c_str(), nullptr), 1); // exists
    EXPECT_EQ(dir_create_path_default((dir.path + "/x\\y").c_str()), 1);
    EXPECT_TRUE(fs::is_directory(dir.file("x/y")));

    write_file(dir.file("plain"), "");
    EXPECT_EQ(dir_create_path(dir.file("plain/below").c_str(), nullptr), 0);
    EXPECT_FALSE(fs::exists(dir.file("plain/below")));

    std::string too_long = dir.path + "/" + std::string(DIR_CREATE_PATH_MAX, 'n');
    EXPECT_EQ(dir_create_path(too_long.c_str(), nullptr), 0);
    EXPECT_EQ(dir_create_path("", nullptr), 0);
}

TEST(PathJoin, JoinsCreatesAndCuts)
{
    TempDir dir;
    char buf[FILE_PATH_MAX];
    EXPECT_EQ(path_join(buf, dir.path.c_str(), "sub/deeper", "name.txt", 1), buf);
    EXPECT_EQ(std::string(buf), dir.path + "/sub/deeper/name.txt");
    EXPECT_TRUE(fs::is_directory(dir.file("sub/deeper")));

    path_join(buf, dir.path.c_str(), "notmade", "n", 0);
    EXPECT_EQ(std::string(buf), dir.path + "/notmade/n");
    EXPECT_FALSE(fs::exists(dir.file("notmade")));

    path_join(buf, "d", nullptr, "f", 0);
    EXPECT_STREQ(buf, "d/f");

    std::string long_name(5000, 'q');
    path_join(buf, "d", nullptr, long_name.c_str(), 0);
    EXPECT_EQ(strlen(buf), size_t(FILE_PATH_MAX - 1));
    EXPECT_EQ(std::string(buf, 2), "d/");
}

TEST(StrInList, ExactOrFolded)
{
    const char *const list[] = {"alpha", "Beta", nullptr};
    const char *const empty[] = {nullptr};
    struct Case {
        const char *text;
        int exact;
        int want;
    } cases[] = {
        {"alpha", 1, 1}, {"ALPHA", 1, 0}, {"ALPHA", 0, 1},
        {"beta", 0, 1},  {"beta", 1, 0},  {"gamma", 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text) + (c.exact ? " exact" : " folded"));
        EXPECT_EQ(str_in_list(c.text, c.exact, list), c.want);
    }
    EXPECT_EQ(str_in_list("alpha", 0, empty), 0);
}
