// File selection for wildcard attachments: glob matching and its list
// forms, the sorted recursive walker over a real tree, the sorted insert
// and the recursive delete.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "helpers.h"
#include "mail/wild.h"

namespace fs = std::filesystem;

TEST(Glob, MatchesWholeTexts)
{
    const std::string long_a(2000, 'a');
    struct Case {
        std::string text, pattern;
        int case_sensitive, expected;
    } cases[] = {
        // ASCII letters fold unless the case flag is set; other bytes never.
        {"readme.TXT", "*.txt", 0, 1},
        {"readme.TXT", "*.txt", 1, 0},
        {"README", "readme", 0, 1},
        {"\xc3\xa9", "\xc3\x89", 0, 0},
        // Sets, negated sets and ranges; folding reaches the set characters,
        // both bounds of a range and the text character alike.
        {"b.doc", "[a-c]*", 0, 1},
        {"d.doc", "[a-c]*", 0, 0},
        {"d.doc", "[^a-c]*", 0, 1},
        {"b.doc", "[^a-c]*", 0, 0},
        {"B.doc", "[a-c]*", 0, 1},
        {"b.doc", "[A-C]*", 0, 1},
        {"b.doc", "[A-C]*", 1, 0},
        {"B.doc", "[A-C]*", 1, 1},
        {"b", "[XBZ]", 0, 1},
        {"b", "[XBZ]", 1, 0},
        // A range that reaches past the letters keeps its own characters:
        // "[!-Z]" holds every letter but not "_" or "`", "[A-_]" holds "_".
        {"b", "[!-Z]", 0, 1},
        {"_", "[!-Z]", 0, 0},
        {"`", "[!-Z]", 0, 0},
        {"b", "[A-_]", 0, 1},
        {"_", "[A-_]", 0, 1},
        {"b", "[A-_]", 1, 0},
        {"7", "[0-9x]", 0, 1},
        {"x", "[0-9x]", 0, 1},
        {"file1.log", "*[0-9].log", 0, 1},
        {"file.log", "*[0-9].log", 0, 0},
        // A range without a lower bound matches nothing; "]" right after
        // "[" closes an empty set; a set without "]" runs to the end.
        {"a", "[-a]", 0, 0},
        {"-", "[-a]", 0, 0},
        {"a", "[]a", 0, 0},
        {"a", "[a", 0, 1},
        {"b", "[a", 0, 0},
        {"-", "[a-]", 0, 1},
        // Escapes: an escaped star is one star; a "\" at the end is itself.
        {"*", "\\*", 0, 1},
        {"a", "\\*", 0, 0},
        {"a*", "\\*", 0, 0},
        {"?", "\\?", 0, 1},
        {"a\\", "a\\", 0, 1},
        // "?", empty texts and patterns, runs of stars.
        {"ab", "a?", 0, 1},
        {"a", "a?", 0, 0},
        {"abc", "a?", 0, 0},
        {"", "", 0, 1},
        {"a", "", 0, 0},
        {"", "*", 0, 1},
        {"", "**?", 0, 0},
        {"abc", "a**c", 0, 1},
        // A star that must give characters back to a later part.
        {"abcbcd", "a*bcd", 0, 1},
        {"mississippi", "m*iss*ppi", 0, 1},
        {"mississippi", "m*iss*ppx", 0, 0},
        {"ab.tar.gz", "*.gz", 0, 1},
        // Many stars over a long run: answered without trying every split.
        {long_a, "*a*a*a*a*a*a*a*b", 0, 0},
        {long_a + "b", "*a*a*a*a*a*a*a*b", 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40) + " ~ " + c.pattern);
        EXPECT_EQ(att_glob_match(c.text.c_str(), c.pattern.c_str(), c.case_sensitive), c.expected);
    }
    // Only the list forms treat a text of one star as matching everything.
    EXPECT_EQ(att_glob_match("*", "x", 0), 0);
    EXPECT_EQ(att_glob_match_any("*", "x", 0), 1);
}

TEST(Glob, PatternLists)
{
    struct Case {
        const char *text;
        std::vector<const char *> items;
        int and_result, or_result;
    } cases[] = {
        {"report.txt", {"*.txt", "!*draft*"}, 1, 1},
        {"draft.txt", {"*.txt", "!*draft*"}, 0, 0},
        {"notes.doc", {"*.txt", "!*draft*"}, 0, 0},
        // A later plain item re-admits a name in an OR list only.
        {"draft.txt", {"*.txt", "!*draft*", "d*"}, 0, 1},
        // Two plain items narrow an AND list and widen an OR list.
        {"a.txt", {"*.txt", "*.doc"}, 0, 1},
        // Exclusions alone: AND admits what none excludes, OR admits nothing.
        {"a.txt", {"!*.bak"}, 1, 0},
        {"a.txt", {}, 1, 0},
        // A text of one star matches every plain item, is refused by every
        // exclusion.
        {"*", {"*.txt"}, 1, 1},
        {"*", {"*.txt", "!x"}, 0, 0},
    };
    for (const Case &c : cases) {
        std::vector<const char *> items = c.items;
        std::string csv;
        for (const char *item : items)
            csv += std::string(csv.empty() ? "" : ",") + item;
        SCOPED_TRACE(std::string(c.text) + " ~ " + csv);
        items.push_back(nullptr);
        EXPECT_EQ(att_glob_match_list_and(c.text, items.data(), 0), c.and_result);
        EXPECT_EQ(att_glob_match_list_or(c.text, items.data(), 0), c.or_result);
        EXPECT_EQ(att_glob_match_csv_or(c.text, csv.c_str(), 0), c.or_result);
        // The comma form of AND refuses a list without items.
        EXPECT_EQ(att_glob_match_csv_and(c.text, csv.c_str(), 0), csv.empty() ? 0 : c.and_result);
    }
    // Empty items vanish; the case flag reaches every item.
    EXPECT_EQ(att_glob_match_csv_or("a.TXT", ",,*.doc,,*.txt,", 0), 1);
    EXPECT_EQ(att_glob_match_csv_or("a.TXT", "*.doc,*.txt", 1), 0);
    EXPECT_EQ(att_glob_match_csv_and("a.txt", ",", 0), 0);
    // A list far longer than any fixed buffer is read to its last item.
    std::string long_list;
    for (int i = 0; i < 3000; i++)
        long_list += "nomatch*,";
    EXPECT_EQ(att_glob_match_csv_or("a.txt", (long_list + "*.txt").c_str(), 0), 1);
    EXPECT_EQ(att_glob_match_csv_and("a.txt", (long_list.substr(1) + "!a*").c_str(), 0), 0);
}

TEST(Glob, FirstMatchingCandidate)
{
    char out[16];
    EXPECT_EQ(att_glob_first_matching("a.doc,,B.TXT,c.txt", "*.txt", out, sizeof out, 0), 1);
    EXPECT_STREQ(out, "B.TXT");
    EXPECT_EQ(att_glob_first_matching("a.doc,B.TXT,c.txt", "*.txt", out, sizeof out, 1), 1);
    EXPECT_STREQ(out, "c.txt");
    EXPECT_EQ(att_glob_first_matching("a.doc,b.doc", "*.txt,!x", out, sizeof out, 0), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(att_glob_first_matching("a.doc,b.txt", "*", nullptr, 0, 0), 1);
    // A match longer than the room is never handed over cut.
    EXPECT_EQ(att_glob_first_matching("a-very-long-name.txt", "*.txt", out, sizeof out, 0), -1);
    EXPECT_STREQ(out, "");
}

namespace {

// One callback call: the path below the walk's root, depth and flags.
struct Visit {
    std::string path;
    int depth;
    uint32_t flags;
    bool operator==(const Visit &o) const
    {
        return path == o.path && depth == o.depth && flags == o.flags;
    }
};

void PrintTo(const Visit &v, std::ostream *os) { *os << v.path << "@" << v.depth << "/" << v.flags; }

struct Recorder {
    std::string root;
    std::vector<Visit> visits;
    std::string prune, stop; // answer DIRWALK_PRUNE / DIRWALK_STOP for these
    std::vector<uint64_t> sizes;
};

int record(void *user, const DirEntry *e)
{
    auto *r = static_cast<Recorder *>(user);
    std::string rel = std::string(e->path).substr(r->root.size() + 1);
    r->visits.push_back({rel, e->depth, e->flags});
    r->sizes.push_back(e->size);
    if (rel == r->stop)
        return DIRWALK_STOP;
    return rel == r->prune ? DIRWALK_PRUNE : 1;
}

// A tree with mixed-case names, a hidden file and folder, a FIFO, a link
// to a file, a dangling link and a link back up to the root (followed, it
// would never end).
struct Tree {
    TempDir dir;
    Tree()
    {
        const std::string &r = dir.path;
        write_file(r + "/c.txt", "ccc");
        write_file(r + "/a.txt", "a");
        write_file(r + "/B.txt", "bb");
        write_file(r + "/x.TXT", "");
        write_file(r + "/X.txt", "");
        write_file(r + "/notes.doc", "");
        write_file(r + "/.hidden.txt", "");
        fs::create_directories(r + "/Sub/deeper");
        fs::create_directories(r + "/.git");
        write_file(r + "/Sub/z.txt", "");
        write_file(r + "/Sub/deeper/q.txt", "");
        write_file(r + "/.git/config.txt", "");
        fs::create_symlink("..", r + "/Sub/up");
        fs::create_symlink("a.txt", r + "/link.txt");
        fs::create_symlink("no-such-target", r + "/gone.txt");
        mkfifo((r + "/pipe.txt").c_str(), 0600);
    }
};

const uint32_t FILE_ = DIRENT_ARCHIVE, DIR_ = DIRENT_DIRECTORY, HID = DIRENT_HIDDEN,
               SPECIAL = DIRENT_SPECIAL;

} // namespace

TEST(DirWalk, SortedDepthFirstAndCountsTopFilesOnly)
{
    Tree tree;
    Recorder rec;
    rec.root = tree.dir.path;
    // Files must match the pattern (ignoring case); folders always come.
    long count = att_dir_walk(tree.dir.path.c_str(), "*.txt", 1, record, &rec);
    std::vector<Visit> expected = {
        {".git", 1, DIR_ | HID},
        {".git/config.txt", 2, FILE_},
        {".hidden.txt", 1, FILE_ | HID},
        {"a.txt", 1, FILE_},
        {"B.txt", 1, FILE_},
        {"c.txt", 1, FILE_},
        {"gone.txt", 1, SPECIAL},
        {"link.txt", 1, FILE_},
        {"pipe.txt", 1, SPECIAL},
        {"Sub", 1, DIR_},
        {"Sub/deeper", 2, DIR_},
        {"Sub/deeper/q.txt", 3, FILE_},
        {"Sub/z.txt", 2, FILE_},
        // Equal but for case: the exact bytes decide, never the listing.
        {"X.txt", 1, FILE_},
        {"x.TXT", 1, FILE_},
    };
    EXPECT_EQ(rec.visits, expected);
    // Regular files of the top folder, the link to one among them; not the
    // FIFO, not the files below.
    EXPECT_EQ(count, 7);
    // A link counts as the file it leads to.
    EXPECT_EQ(rec.sizes[3], 1u);
    EXPECT_EQ(rec.sizes[7], 1u);

    // Without recursion the folders are handed over but not entered.
    Recorder flat;
    flat.root = tree.dir.path;
    EXPECT_EQ(att_dir_walk(tree.dir.path.c_str(), nullptr, 0, record, &flat), 8);
    EXPECT_EQ(flat.visits.size(), 12u);
    for (const Visit &v : flat.visits)
        EXPECT_EQ(v.depth, 0);
}

TEST(DirWalk, CallbackPrunesAndStops)
{
    Tree tree;
    Recorder rec;
    rec.root = tree.dir.path;
    rec.prune = "Sub";
    att_dir_walk(tree.dir.path.c_str(), "z*", 1, record, &rec);
    std::vector<Visit> pruned = {{".git", 1, DIR_ | HID}, {"Sub", 1, DIR_}};
    EXPECT_EQ(rec.visits, pruned);

    Recorder stopped;
    stopped.root = tree.dir.path;
    stopped.stop = "Sub/deeper";
    EXPECT_EQ(att_dir_walk(tree.dir.path.c_str(), "*.txt", 1, record, &stopped), -1);
    EXPECT_EQ(stopped.visits.back().path, "Sub/deeper");
    EXPECT_EQ(stopped.visits.size(), 11u);
}

TEST(DirWalk, MissingDirectoryGivesNothing)
{
    TempDir dir;
    Recorder rec;
    rec.root = dir.path;
    EXPECT_EQ(att_dir_walk(dir.file("missing").c_str(), nullptr, 1, record, &rec), 0);
    write_file(dir.file("plain"), "x");
    EXPECT_EQ(att_dir_walk(dir.file("plain").c_str(), nullptr, 1, record, &rec), 0);
    EXPECT_TRUE(rec.visits.empty());
    EXPECT_EQ(att_is_directory(dir.path.c_str()), 1);
    EXPECT_EQ(att_is_directory(dir.file("plain").c_str()), 0);
    EXPECT_EQ(att_is_directory(dir.file("missing").c_str()), -1);

    // Folders nested past the longest path the system takes: the entry
    // nothing can be read about is still handed over, marked, whatever the
    // pattern, and the walk goes no deeper.
    // (Made and removed one level at a time from inside, where the path
    // stays short.)
    const std::string name(250, 'd');
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path);
    for (int i = 0; i < 20; i++) {
        fs::create_directory(name);
        fs::current_path(name);
    }
    fs::current_path(cwd);
    Recorder deep_rec;
    deep_rec.root = dir.path;
    EXPECT_EQ(att_dir_walk(dir.path.c_str(), "*.txt", 1, record, &deep_rec), 0);
    ASSERT_FALSE(deep_rec.visits.empty());
    EXPECT_EQ(deep_rec.visits.back().flags, uint32_t(DIRENT_UNKNOWN));
    for (size_t i = 0; i + 1 < deep_rec.visits.size(); i++)
        EXPECT_EQ(deep_rec.visits[i].flags, uint32_t(DIRENT_DIRECTORY));
    std::string half = dir.path;
    for (int i = 0; i < 10; i++)
        half += "/" + name;
    fs::current_path(half);
    fs::remove_all(name);
    fs::current_path(cwd);
}

TEST(DirWalk, SortedInsertKeepsTheWalkOrder)
{
    DirEntry *head = nullptr;
    const char *paths[] = {"d/b", "d/A", "d/B", "d/a", "d/c/x", "d/a"};
    int depth = 0;
    for (const char *p : paths)
        ASSERT_EQ(att_dir_entry_insert(&head, p, depth++, 0, 0, 0, 0, 0), 1);
    std::vector<std::string> order;
    std::vector<int> depths;
    while (head) {
        DirEntry *next = head->next;
        order.push_back(head->path);
        depths.push_back(head->depth);
        att_dir_entry_free(head);
        head = next;
    }
    EXPECT_EQ(order, (std::vector<std::string>{"d/A", "d/a", "d/a", "d/B", "d/b", "d/c/x"}));
    // The second "d/a" goes after the first.
    EXPECT_EQ(depths[1], 3);
    EXPECT_EQ(depths[2], 5);
}

TEST(DirWalk, RemoveTreeRemovesLinksNotTheirTargets)
{
    TempDir outside;
    write_file(outside.file("keep.txt"), "precious");
    TempDir dir;
    const std::string tree = dir.file("tree");
    fs::create_directories(tree + "/sub/deeper");
    write_file(tree + "/a.txt", "");
    write_file(tree + "/sub/b.txt", "");
    write_file(tree + "/sub/deeper/c.txt", "");
    fs::create_directory_symlink(outside.path, tree + "/sub/out");
    fs::create_symlink(outside.file("keep.txt"), tree + "/keep.txt");

    // A pattern leaves the other files, so the folders stay.
    write_file(tree + "/sub/notes.doc", "");
    EXPECT_EQ(att_remove_tree(tree.c_str(), "*.txt"), 0);
    EXPECT_TRUE(fs::exists(tree + "/sub/notes.doc"));
    EXPECT_FALSE(fs::exists(tree + "/a.txt"));
    EXPECT_FALSE(fs::exists(tree + "/sub/deeper"));

    EXPECT_EQ(att_remove_tree(tree.c_str(), nullptr), 1);
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_EQ(read_file(outside.file("keep.txt")), "precious");
    // Never a plain file in place of the folder.
    write_file(dir.file("file"), "x");
    EXPECT_EQ(att_remove_tree(dir.file("file").c_str(), nullptr), 0);
    EXPECT_TRUE(fs::exists(dir.file("file")));
}
