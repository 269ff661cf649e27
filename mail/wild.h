// File selection for wildcard attachments: a sorted, optionally recursive
// directory walker that hands each entry to a callback, and glob matching
// of names against single patterns and pattern lists with "!" exclusions.
#pragma once

#include <cstddef>
#include <cstdint>

// What a directory entry is. On this system a name that begins with "."
// is hidden, no entry is a system file, and every regular file carries the
// archive mark.
enum : uint32_t {
    DIRENT_DIRECTORY = 1,
    DIRENT_HIDDEN = 2,
    DIRENT_SYSTEM = 4,
    DIRENT_ARCHIVE = 8,
    // Neither a directory nor a regular file: a FIFO, socket or device, or
    // a symbolic link that does not lead to a regular file (a link to a
    // directory among them, so a walk never follows one into a loop).
    // Never an attachment, never entered.
    DIRENT_SPECIAL = 16,
    // Listed, but nothing could be read about it (its path is too long for
    // the system, say): it may be a file or a folder. Never an attachment,
    // never entered; handed over whatever the pattern, so that the caller
    // can tell what it misses.
    DIRENT_UNKNOWN = 32,
};

// One directory entry handed to the walk callback.
struct DirEntry {
    char *path;        // owned: directory + "/" + name, never cut
    uint32_t flags;    // DIRENT_*
    int depth;         // the walk level (0 without recursion; 1 for the top
                       // directory's entries of a recursive walk, +1 per level)
    uint64_t size;     // bytes; 0 for anything but a regular file
    int64_t created;   // seconds since 1970
    int64_t written;
    int64_t accessed;
    DirEntry *next;    // the next entry of a sorted list (att_dir_entry_insert)
};

// What a walk callback may answer besides "go on" (any other value).
enum {
    DIRWALK_STOP = -1,  // end the whole walk now (att_dir_walk returns -1)
    DIRWALK_PRUNE = -2, // for a directory entry: do not walk into it
};
typedef int (*DirWalkFn)(void *user, const DirEntry *entry);

// 1 when path names an existing directory (a link to one counts), 0 for
// anything else that exists, -1 when nothing can be read about it.
int att_is_directory(const char *path);

// Hands every entry of directory to fn in order: sorted by path ignoring
// ASCII case (equal ones by their exact bytes), and with depth above 0
// each directory's own entries right after the directory itself. A file
// is listed only when its name satisfies att_glob_match_any(name,
// pattern, case-insensitive); NULL lists every file; directories and
// DIRENT_UNKNOWN entries are always listed. Returns the number of regular files of the directory
// itself (not its subdirectories) whose names matched: 0 for a directory
// that cannot be listed. Returns -1 when memory ran out (the walk ends
// there) or fn answered DIRWALK_STOP.
long att_dir_walk(const char *directory, const char *pattern, int depth, DirWalkFn fn, void *user);

// Glob matching of the whole text: "*" any run, "?" one character,
// "[set]" and "[^set]" with x-y ranges, "\" takes the next character
// literally. Without case_sensitive, ASCII letters match either case (in
// sets and ranges too). Takes time proportional to text times pattern at
// most. 1 or 0.
int att_glob_match(const char *text, const char *pattern, int case_sensitive);
// 1 when the text is exactly "*", else att_glob_match.
int att_glob_match_any(const char *text, const char *pattern, int case_sensitive);

// Pattern lists: an item that begins with "!" excludes names that match
// the rest of it. A text that is exactly "*" matches every plain item and
// is excluded by every "!" item.
// AND over an array ended by NULL: every plain item matches and no "!"
// item does (an empty array gives 1).
int att_glob_match_list_and(const char *text, const char *const *patterns, int case_sensitive);
// OR over an array ended by NULL, left to right from 0: a plain item that
// matches sets the result to 1, a "!" item that matches sets it to 0, so a
// later plain item re-admits a name excluded before it.
int att_glob_match_list_or(const char *text, const char *const *patterns, int case_sensitive);
// The same over comma-separated lists (empty items left out; no length
// limit). The AND form gives 0 for a list without items.
int att_glob_match_csv_or(const char *text, const char *list, int case_sensitive);
int att_glob_match_csv_and(const char *text, const char *list, int case_sensitive);
// The first of the comma-separated candidates for which
// att_glob_match_csv_or(candidate, patterns) holds is copied into out
// (size bytes) when out is given; returns 1. Returns 0 when none matches,
// -1 when the match does not fit out (out is then empty, never a cut name).
int att_glob_first_matching(const char *candidates, const char *patterns, char *out, size_t size,
                            int case_sensitive);

// Creates an entry and links it into the list at *head in the walker's
// order, after every entry that sorts equal to it. 1, or 0 when memory ran
// out (the list unchanged).
int att_dir_entry_insert(DirEntry **head, const char *path, int depth, uint32_t flags, uint64_t size,
                         int64_t created, int64_t written, int64_t accessed);
// Frees one entry (not the ones after it); NULL is allowed.
void att_dir_entry_free(DirEntry *entry);

// Removes the directory's files that match pattern (NULL: all), empties
// and removes its plain subdirectories the same way, then removes the
// directory itself. A symbolic link is removed, never what it leads to.
// 1 when the directory itself is gone, else 0.
int att_remove_tree(const char *directory, const char *pattern);
// The walk callback of att_remove_tree; user is the pattern (may be NULL).
int att_remove_entry(void *user, const DirEntry *entry);
