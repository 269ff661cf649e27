// The -awild: option: every file of a directory (or of its whole tree)
// whose name satisfies a list of glob patterns becomes one attachment. The
// value is flag letters, ":", then "/"-separated items: the leading items
// that name a directory are the place, the rest are patterns, and an item
// that begins with "!" excludes the names that match the rest of it.
#include "cli/cli.h"

#include <cstring>
#include <string>
#include <vector>

#include "cli/exitcode.h"
#include "mail/hdrtext.h"
#include "mail/option.h"
#include "mail/wild.h"
#include "platform/platform.h"
#include "support/fence.h"
#include "support/file.h"
#include "support/hex.h"

namespace {

// A flag letter as a message may show it: a byte that is no printable
// ASCII character is written "\xhh".
std::string shown_letter(unsigned char c)
{
    if (c >= 0x20 && c < 0x7f)
        return std::string(1, static_cast<char>(c));
    return std::string("\\x") + HEX_DIGITS_LOWER[c >> 4] + HEX_DIGITS_LOWER[c & 15];
}

// The place of the walk and the patterns: the longest leading run of items
// that names an existing directory is the place ("." or "/" when none
// does); the remaining items are the patterns, "*" when none remain.
void split_place(const std::string &selection, std::string *place, std::vector<std::string> *patterns)
{
    std::vector<std::string> items;
    for (size_t pos = 0; pos < selection.size();) {
        size_t end = selection.find('/', pos);
        if (end == std::string::npos)
            end = selection.size();
        if (end > pos) // empty items between separators vanish
            items.push_back(selection.substr(pos, end - pos));
        pos = end + 1;
    }
    bool absolute = !selection.empty() && selection[0] == '/';
    std::string path = absolute ? "/" : "";
    size_t taken = 0;
    while (taken < items.size()) {
        std::string longer = path;
        if (!longer.empty() && longer.back() != '/')
            longer += '/';
        longer += items[taken];
        if (att_is_directory(longer.c_str()) <= 0)
            break;
        path = longer;
        taken++;
    }
    *place = path.empty() ? "." : path;
    patterns->assign(items.begin() + static_cast<std::ptrdiff_t>(taken), items.end());
    if (patterns->empty())
        patterns->push_back("*");
}

// Whether the folder can be listed. One that cannot would hide its files
// without a word, so the run ends instead, as for an unreadable file.
bool folder_readable(const char *path)
{
    if (plat_dir_list(path, [](void *, const char *) { return 0; }, nullptr))
        return true;
    cli_error("Failed to read folder (%s)\n", cli_printable(path).c_str());
    return false;
}

} // namespace

const char *cli_awild_parse_flags(const char *value, int *recursive, int *case_sensitive,
                                  uint32_t *attributes, unsigned *encoding, int *is_inline)
{
    *recursive = *case_sensitive = *is_inline = 0;
    *attributes = 0;
    *encoding = MAILOPT_ATTACH_AUTO;
    for (const char *p = value; *p; p++) {
        switch (*p) {
        case 'R': *recursive = 1; break;
        case 'C': *case_sensitive = 1; break;
        case 'H': *attributes |= DIRENT_HIDDEN; break;
        case 'S': *attributes |= DIRENT_SYSTEM; break;
        case 'A': *attributes |= DIRENT_ARCHIVE; break;
        case '6': *encoding = MAILOPT_ATTACH_BASE64; break;
        case 'Q': *encoding = MAILOPT_ATTACH_QP; break;
        case 'U': *encoding = MAILOPT_ATTACH_UUENCODE; break;
        case 'I': *is_inline = 1; break;
        case ':':
            if (p[1])
                return p + 1;
            cli_error("No file pattern specified for awild setting\n");
            return nullptr;
        default:
            cli_error("Invalid awild option '%s'\n",
                      shown_letter(static_cast<unsigned char>(*p)).c_str());
            return nullptr;
        }
    }
    cli_error("No file pattern specified for awild setting\n");
    return nullptr;
}

int cli_awild_on_entry(void *context, const DirEntry *entry)
{
    auto *walk = static_cast<CliAwildWalk *>(context);
    bool hidden = entry->flags & DIRENT_HIDDEN;
    // Folders only serve the recursion; hidden ones are walked as well (a
    // hidden file in them still needs "H").
    if (entry->flags & DIRENT_DIRECTORY) {
        if (entry->depth > 0 && !folder_readable(entry->path)) {
            walk->refused = 1;
            return DIRWALK_STOP;
        }
        return 0;
    }
    // The walker joins with "/", and on this system "\\" is a plain byte of
    // a name.
    const char *slash = strrchr(entry->path, '/');
    const char *name = slash ? slash + 1 : entry->path;
    if (entry->flags & DIRENT_UNKNOWN) {
        // Nothing could be read about it: a selected file or, in a
        // recursive walk, a folder that would be walked is not left out
        // without a word.
        bool selected = (!hidden || (walk->attributes & DIRENT_HIDDEN)) &&
                        att_glob_match_list_and(name, walk->patterns, walk->case_sensitive);
        if (!selected && entry->depth == 0)
            return 0;
        cli_error(selected ? "Failed to attach file (%s)\n" : "Failed to read folder (%s)\n",
                  cli_printable(entry->path).c_str());
        walk->refused = 1;
        return DIRWALK_STOP;
    }
    if (entry->flags & DIRENT_SPECIAL)
        return 0;
    if ((hidden && !(walk->attributes & DIRENT_HIDDEN)) ||
        ((entry->flags & DIRENT_SYSTEM) && !(walk->attributes & DIRENT_SYSTEM)) ||
        ((walk->attributes & DIRENT_ARCHIVE) && !(entry->flags & DIRENT_ARCHIVE)))
        return 0;
    if (!att_glob_match_list_and(name, walk->patterns, walk->case_sensitive))
        return 1;
    auto nomem = [walk]() -> int {
        walk->nomem = 1;
        return DIRWALK_STOP;
    };
    return fence_nomem([&]() -> int {
        // The buffer holds the longest escape, so the identifier is never cut.
        std::string content_id(3 * strlen(name) + 1, '\0');
        mime_percent_escape(name, content_id.data(), content_id.size());
        unsigned code = MAILOPT_ATTACH | walk->encoding | (walk->is_inline ? MAILOPT_FROM_FILE : 0u);
        mail_set_error(walk->ctx, nullptr);
        if (mail_set_option_basic(walk->ctx, static_cast<int>(code), entry->path, content_id.c_str(),
                                  nullptr)) {
            walk->attached++;
            return 1;
        }
        // A file that vanished since it was listed is left out; one that is
        // still there but cannot be attached (unreadable) ends the run, as
        // it does for a single attachment. Memory running out ends the walk.
        if (!mail_error_is_nomem(walk->ctx)) {
            if (!plat_entry_info(entry->path, nullptr))
                return 1;
            cli_error("Failed to attach file (%s)\n", cli_printable(entry->path).c_str());
            walk->refused = 1;
            return DIRWALK_STOP;
        }
        return nomem();
    }, nomem);
}

long cli_awild_apply(MailContext *ctx, const char *selection, int case_sensitive, int recursive,
                     uint32_t attributes, unsigned encoding, int is_inline)
{
    std::string place;
    std::vector<std::string> patterns;
    std::vector<const char *> array;
    bool split = fence_nomem([&] {
        split_place(selection, &place, &patterns);
        for (const std::string &p : patterns)
            array.push_back(p.c_str());
        array.push_back(nullptr);
        return true;
    }, [] { return false; });
    if (!split) {
        cli_error("Memory allocation failed\n");
        return -1;
    }
    if (att_is_directory(place.c_str()) > 0 && !folder_readable(place.c_str()))
        return -2;
    CliAwildWalk walk = {ctx, array.data(), case_sensitive, attributes, encoding, is_inline, 0, 0, 0};
    long count = att_dir_walk(place.c_str(), "*", recursive ? 1 : 0, cli_awild_on_entry, &walk);
    if (walk.refused)
        return -2;
    if (count < 0 || walk.nomem) {
        cli_error("Memory allocation failed\n");
        return -1;
    }
    if (!walk.attached)
        cli_error("No files match the awild pattern (%s)\n", cli_printable(selection).c_str());
    return count;
}

int cli_opt_awild(MailContext *ctx, const char *value)
{
    int recursive, case_sensitive, is_inline;
    uint32_t attributes;
    unsigned encoding;
    const char *selection =
        cli_awild_parse_flags(value, &recursive, &case_sensitive, &attributes, &encoding, &is_inline);
    if (!selection)
        return EXIT_INPUT_FILE;
    long applied = cli_awild_apply(ctx, selection, case_sensitive, recursive, attributes, encoding, is_inline);
    if (applied == -2)
        return EXIT_INPUT_FILE;
    return applied < 0 ? EXIT_NOMEM : EXIT_OK;
}
