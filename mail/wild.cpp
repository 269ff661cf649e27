// File selection for wildcard attachments: the sorted directory walker and
// the glob matcher with its list forms. Matching never backtracks more than
// one star at a time, and sorting collects a directory first, so neither a
// hostile pattern nor a huge directory makes the work explode.
#include "mail/wild.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/fence.h"
#include "support/str.h"

namespace {

unsigned char fold(unsigned char c, int case_sensitive)
{
    return case_sensitive ? c : static_cast<unsigned char>(str_tolower_char(c));
}

// Whether the range low-high holds c. Without the case flag a letter is
// in it when either of its cases is: the bounds stay as written, so a
// range that reaches past the letters (as "!-Z" or "A-_") keeps exactly
// its own characters.
bool in_range(unsigned char c, unsigned char low, unsigned char high, int case_sensitive)
{
    if (low <= c && c <= high)
        return true;
    if (case_sensitive)
        return false;
    unsigned char other = static_cast<unsigned char>(str_tolower_char(c));
    if (other == c)
        other = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return low <= other && other <= high;
}

// Whether the pattern element at p (anything but "*") accepts the text
// character c; its length in the pattern goes to *len. A set without its
// "]" runs to the end of the pattern; a "\" at the very end is itself.
bool element_accepts(const char *p, unsigned char c, int case_sensitive, size_t *len)
{
    unsigned char t = fold(c, case_sensitive);
    if (*p == '?') {
        *len = 1;
        return true;
    }
    if (*p == '\\' && p[1]) {
        *len = 2;
        return fold(static_cast<unsigned char>(p[1]), case_sensitive) == t;
    }
    if (*p != '[') {
        *len = 1;
        return fold(static_cast<unsigned char>(*p), case_sensitive) == t;
    }
    const char *q = p + 1;
    bool negated = *q == '^';
    if (negated)
        q++;
    const char *first = q;
    bool hit = false;
    while (*q && *q != ']') {
        if (*q == '-' && q == first) {
            // A range without a lower bound: its upper bound is read and
            // the range matches nothing.
            q++;
            if (*q && *q != ']')
                q++;
            continue;
        }
        if (q[1] == '-' && q[2] && q[2] != ']') {
            hit = hit || in_range(c, static_cast<unsigned char>(q[0]), static_cast<unsigned char>(q[2]),
                                  case_sensitive);
            q += 3;
        } else {
            hit = hit || fold(static_cast<unsigned char>(q[0]), case_sensitive) == t;
            q++;
        }
    }
    *len = static_cast<size_t>(q - p) + (*q == ']' ? 1 : 0);
    return hit != negated;
}

bool is_exclusion(const char *item) { return item[0] == '!'; }

// Comma-separated items, empty ones left out.
std::vector<std::string> split_csv(const char *list)
{
    std::vector<std::string> items;
    for (const char *p = list; p && *p;) {
        size_t n = strcspn(p, ",");
        if (n)
            items.emplace_back(p, n);
        p += n;
        if (*p)
            p++;
    }
    return items;
}

// The items as an array ended by NULL, pointing into items.
std::vector<const char *> item_array(const std::vector<std::string> &items)
{
    std::vector<const char *> array;
    array.reserve(items.size() + 1);
    for (const std::string &s : items)
        array.push_back(s.c_str());
    array.push_back(nullptr);
    return array;
}

// The walker's order: by path ignoring ASCII case, then by the exact bytes,
// so that the order never depends on how the system lists the names.
bool entry_before(const DirEntry *a, const DirEntry *b)
{
    int c = str_casecmp(a->path, b->path);
    return c ? c < 0 : strcmp(a->path, b->path) < 0;
}

DirEntry *entry_new(const char *path, int depth, uint32_t flags, uint64_t size, int64_t created,
                    int64_t written, int64_t accessed)
{
    auto *e = static_cast<DirEntry *>(calloc(1, sizeof(DirEntry)));
    if (!e)
        return nullptr;
    e->path = strdup(path);
    if (!e->path) {
        free(e);
        return nullptr;
    }
    e->flags = flags;
    e->depth = depth;
    e->size = size;
    e->created = created;
    e->written = written;
    e->accessed = accessed;
    return e;
}

// One directory's entries while it is listed and walked; frees them all.
struct Listing {
    std::string directory;
    const char *pattern;
    int depth;
    long count = 0;
    bool nomem = false;
    std::vector<DirEntry *> entries;

    ~Listing()
    {
        for (DirEntry *e : entries)
            att_dir_entry_free(e);
    }
};

// The listing callback: one name becomes an entry, or is skipped.
int take_name(void *user, const char *name)
{
    auto *l = static_cast<Listing *>(user);
    auto nomem = [l] {
        l->nomem = true;
        return 0;
    };
    return fence_nomem([&] {
        std::string path = l->directory;
        if (path.empty() || path.back() != '/')
            path += '/';
        path += name;
        PlatEntryInfo info = {};
        int known = plat_entry_info(path.c_str(), &info);
        if (known == 0)
            return 1; // gone since it was listed
        uint32_t flags = name[0] == '.' ? uint32_t(DIRENT_HIDDEN) : 0u;
        if (known < 0)
            flags |= DIRENT_UNKNOWN;
        else if (info.kind & PLAT_ENTRY_DIR)
            flags |= DIRENT_DIRECTORY;
        else if (info.kind & PLAT_ENTRY_FILE)
            flags |= DIRENT_ARCHIVE;
        else
            flags |= DIRENT_SPECIAL;
        if (!(flags & (DIRENT_DIRECTORY | DIRENT_UNKNOWN))) {
            if (l->pattern && !att_glob_match_any(name, l->pattern, 0))
                return 1;
            if (flags & DIRENT_ARCHIVE)
                l->count++;
        }
        // Room first, doubling, so that the push below cannot fail after
        // the entry is made.
        if (l->entries.size() == l->entries.capacity())
            l->entries.reserve(l->entries.empty() ? 16 : 2 * l->entries.size());
        DirEntry *e = entry_new(path.c_str(), l->depth, flags, info.size, info.created,
                                info.written, info.accessed);
        if (!e)
            return nomem();
        l->entries.push_back(e);
        return 1;
    }, nomem);
}

} // namespace

int att_is_directory(const char *path)
{
    PlatPathInfo info;
    if (!plat_path_info(path, &info))
        return -1;
    return info.is_dir ? 1 : 0;
}

long att_dir_walk(const char *directory, const char *pattern, int depth, DirWalkFn fn, void *user)
{
    if (!directory)
        return 0;
    Listing l;
    if (!fence_nomem([&] { l.directory = directory; return true; }, [] { return false; }))
        return -1;
    l.pattern = pattern;
    l.depth = depth;
    if (!plat_dir_list(directory, take_name, &l))
        return 0;
    if (l.nomem)
        return -1;
    std::sort(l.entries.begin(), l.entries.end(), entry_before);
    for (const DirEntry *e : l.entries) {
        int answer = fn ? fn(user, e) : 0;
        if (answer == DIRWALK_STOP)
            return -1;
        if (depth && (e->flags & DIRENT_DIRECTORY) && answer != DIRWALK_PRUNE &&
            att_dir_walk(e->path, pattern, depth + 1, fn, user) < 0)
            return -1;
    }
    return l.count;
}

int att_glob_match(const char *text, const char *pattern, int case_sensitive)
{
    if (!text || !pattern)
        return 0;
    const char *t = text, *p = pattern;
    // Where the last star's run resumes: the pattern after it and the text
    // position it has swallowed up to. On a mismatch only that star takes
    // one more character; earlier stars never need to (any text an earlier
    // star could take, the last one can take instead).
    const char *star_p = nullptr, *star_t = nullptr;
    while (*t) {
        if (*p == '*') {
            while (*p == '*')
                p++;
            if (!*p)
                return 1;
            star_p = p;
            star_t = t;
            continue;
        }
        size_t len;
        if (*p && element_accepts(p, static_cast<unsigned char>(*t), case_sensitive, &len)) {
            p += len;
            t++;
            continue;
        }
        if (!star_p)
            return 0;
        p = star_p;
        t = ++star_t;
    }
    while (*p == '*')
        p++;
    return *p == 0;
}

int att_glob_match_any(const char *text, const char *pattern, int case_sensitive)
{
    if (text && strcmp(text, "*") == 0)
        return 1;
    return att_glob_match(text, pattern, case_sensitive);
}

int att_glob_match_list_and(const char *text, const char *const *patterns, int case_sensitive)
{
    for (; patterns && *patterns; patterns++) {
        const char *item = *patterns;
        bool excl = is_exclusion(item);
        if (att_glob_match_any(text, excl ? item + 1 : item, case_sensitive) == excl)
            return 0;
    }
    return 1;
}

int att_glob_match_list_or(const char *text, const char *const *patterns, int case_sensitive)
{
    int result = 0;
    for (; patterns && *patterns; patterns++) {
        const char *item = *patterns;
        bool excl = is_exclusion(item);
        if (att_glob_match_any(text, excl ? item + 1 : item, case_sensitive))
            result = excl ? 0 : 1;
    }
    return result;
}

int att_glob_match_csv_or(const char *text, const char *list, int case_sensitive)
{
    return fence_nomem([&] {
        std::vector<std::string> items = split_csv(list);
        return att_glob_match_list_or(text, item_array(items).data(), case_sensitive);
    }, [] { return 0; });
}

int att_glob_match_csv_and(const char *text, const char *list, int case_sensitive)
{
    return fence_nomem([&] {
        std::vector<std::string> items = split_csv(list);
        if (items.empty())
            return 0;
        return att_glob_match_list_and(text, item_array(items).data(), case_sensitive);
    }, [] { return 0; });
}

int att_glob_first_matching(const char *candidates, const char *patterns, char *out, size_t size,
                            int case_sensitive)
{
    if (out && size)
        out[0] = 0;
    return fence_nomem([&] {
        for (const std::string &c : split_csv(candidates)) {
            if (!att_glob_match_csv_or(c.c_str(), patterns, case_sensitive))
                continue;
            if (!out)
                return 1;
            if (c.size() >= size)
                return -1;
            memcpy(out, c.c_str(), c.size() + 1);
            return 1;
        }
        return 0;
    }, [] { return 0; });
}

int att_dir_entry_insert(DirEntry **head, const char *path, int depth, uint32_t flags, uint64_t size,
                         int64_t created, int64_t written, int64_t accessed)
{
    if (!head || !path)
        return 0;
    DirEntry *e = entry_new(path, depth, flags, size, created, written, accessed);
    if (!e)
        return 0;
    DirEntry **at = head;
    while (*at && !entry_before(e, *at))
        at = &(*at)->next;
    e->next = *at;
    *at = e;
    return 1;
}

void att_dir_entry_free(DirEntry *entry)
{
    if (!entry)
        return;
    free(entry->path);
    free(entry);
}

int att_remove_entry(void *user, const DirEntry *entry)
{
    if (entry->flags == DIRENT_DIRECTORY) {
        att_dir_walk(entry->path, static_cast<const char *>(user), 0, att_remove_entry, user);
        return plat_rmdir(entry->path);
    }
    if (entry->flags & DIRENT_DIRECTORY)
        return 0; // hidden directories are left alone
    // Files, FIFOs and links go by their own name: a link is removed, never
    // what it leads to.
    return plat_remove(entry->path);
}

int att_remove_tree(const char *directory, const char *pattern)
{
    att_dir_walk(directory, pattern, 0, att_remove_entry, const_cast<char *>(pattern));
    return plat_rmdir(directory);
}
