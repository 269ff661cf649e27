// The address scanners (mail/scan.h): one mailbox automaton shared by the
// recipient-list and header-field scanners, the header-block scanner, and
// the session's two scans that feed them from files.
#include "mail/scan.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "mail/fileread.h"
#include "mail/writer.h"
#include "mail/option.h"
#include "platform/platform.h"
#include "support/fence.h"
#include "support/str.h"

namespace {

// ---- byte classes --------------------------------------------------------------

enum Class : uint8_t {
    K_ALNUM,  // A-Z a-z 0-9: local part, label, name
    K_HYPHEN, // local part, label, name
    K_ATEXT,  // the rest of RFC 5322 atext: local part, name
    K_DOT,
    K_HIGH3,  // 0x80 0x99 0xE2: the bytes of U+2019, allowed in a local part
    K_AT,
    K_LT,
    K_GT,
    K_QUOTE,
    K_BLANK,  // SP TAB (and, inside a header field, folded line breaks)
    K_COMMA,
    K_END,    // end of the item's text (and, in a list, a line end)
    K_OTHER,  // specials, controls, other bytes of 0x80 and above
    K_COUNT
};

struct ClassTable {
    uint8_t of[256];
    constexpr void set(const char *bytes, Class k)
    {
        for (; *bytes; bytes++)
            of[static_cast<unsigned char>(*bytes)] = k;
    }
    constexpr ClassTable() : of()
    {
        for (int c = 0; c < 256; c++)
            of[c] = K_OTHER;
        for (int c = '0'; c <= '9'; c++)
            of[c] = K_ALNUM;
        for (int c = 'A'; c <= 'Z'; c++)
            of[c] = of[c + 32] = K_ALNUM;
        set("!#$%&'*+/=?^_`{|}~", K_ATEXT);
        set("-", K_HYPHEN);
        set(".", K_DOT);
        set("\x80\x99\xE2", K_HIGH3);
        set("@", K_AT);
        set("<", K_LT);
        set(">", K_GT);
        set("\"", K_QUOTE);
        set(" \t", K_BLANK);
        set(",", K_COMMA);
    }
};
constexpr ClassTable kClass;

// ---- the mailbox automaton -----------------------------------------------------

enum State : uint8_t {
    S_START,   // first byte of an item
    S_WORD,    // a local part or the first word of a display name
    S_LOCAL,   // surely a local part (a byte no name may hold)
    S_NAME,    // a display name
    S_QUOTED,  // inside a quoted string of the name
    S_ALOCAL0, // after "<"
    S_ALOCAL,
    S_ADOM0,   // after "@" inside angle brackets
    S_ALABEL,
    S_ADOT,
    S_DOM0,    // after "@" of a bare address
    S_LABEL,
    S_DOT,
    S_FAIL,    // final: the item does not fit
    S_BARE,    // final: a bare address ended before this byte
    S_ANGLE,   // final: an angle address ended with this ">"
    S_COUNT
};

struct Transitions {
    uint8_t next[S_COUNT][K_COUNT];
    constexpr void set(State s, std::initializer_list<Class> cs, State to)
    {
        for (Class c : cs)
            next[s][c] = to;
    }
    constexpr Transitions() : next()
    {
        for (auto &row : next)
            for (auto &cell : row)
                cell = S_FAIL;
        const auto local = {K_ALNUM, K_HYPHEN, K_ATEXT, K_DOT};
        const auto ldh = {K_ALNUM, K_HYPHEN};
        set(S_START, local, S_WORD);
        set(S_START, {K_HIGH3}, S_LOCAL);
        set(S_START, {K_QUOTE}, S_QUOTED);
        set(S_START, {K_LT}, S_ALOCAL0);
        set(S_WORD, local, S_WORD);
        set(S_WORD, {K_HIGH3}, S_LOCAL);
        set(S_WORD, {K_AT}, S_DOM0);
        set(S_WORD, {K_BLANK}, S_NAME);
        set(S_WORD, {K_QUOTE}, S_QUOTED);
        set(S_WORD, {K_LT}, S_ALOCAL0);
        set(S_LOCAL, local, S_LOCAL);
        set(S_LOCAL, {K_HIGH3}, S_LOCAL);
        set(S_LOCAL, {K_AT}, S_DOM0);
        set(S_NAME, local, S_NAME);
        set(S_NAME, {K_BLANK}, S_NAME);
        set(S_NAME, {K_QUOTE}, S_QUOTED);
        set(S_NAME, {K_LT}, S_ALOCAL0);
        for (int c = 0; c < K_COUNT; c++)
            next[S_QUOTED][c] = S_QUOTED;
        set(S_QUOTED, {K_QUOTE}, S_NAME);
        set(S_QUOTED, {K_END}, S_FAIL);
        set(S_ALOCAL0, local, S_ALOCAL);
        set(S_ALOCAL0, {K_HIGH3}, S_ALOCAL);
        set(S_ALOCAL, local, S_ALOCAL);
        set(S_ALOCAL, {K_HIGH3}, S_ALOCAL);
        set(S_ALOCAL, {K_AT}, S_ADOM0);
        set(S_ADOM0, ldh, S_ALABEL);
        set(S_ALABEL, ldh, S_ALABEL);
        set(S_ALABEL, {K_DOT}, S_ADOT);
        set(S_ALABEL, {K_GT}, S_ANGLE);
        set(S_ADOT, ldh, S_ALABEL);
        set(S_DOM0, ldh, S_LABEL);
        set(S_LABEL, ldh, S_LABEL);
        set(S_LABEL, {K_DOT}, S_DOT);
        set(S_LABEL, {K_BLANK, K_COMMA, K_END}, S_BARE);
        set(S_DOT, ldh, S_LABEL);
    }
};
constexpr Transitions kNext;

const size_t kLabelMax = 63;

// Where a scan runs: in a list file a line end ends an item; inside a header
// field every line break is a fold (the field scanner is handed one field).
enum Where { IN_LIST, IN_FIELD };

int class_at(const char *p, const char *end, Where where)
{
    if (p >= end)
        return K_END;
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\r' || c == '\n')
        return where == IN_LIST ? K_END : K_BLANK;
    return kClass.of[c];
}

struct Mailbox {
    const char *address;
    size_t address_len;
    const char *name;
    size_t name_len;
};

// Reads one mailbox from p (not a blank); the byte after it, or NULL when
// the item does not fit the grammar. A mailbox must be followed by a blank,
// a comma or the end of the item.
const char *read_mailbox(const char *p, const char *end, Where where, Mailbox *m)
{
    const char *start = p, *addr = p;
    *m = Mailbox{nullptr, 0, nullptr, 0};
    uint8_t s = S_START;
    size_t label_len = 0, labels = 0;
    for (;; p++) {
        int k = class_at(p, end, where);
        uint8_t t = kNext.next[s][k];
        if (t == S_ALOCAL0) {
            m->name = start;
            m->name_len = static_cast<size_t>(p - start);
            addr = p + 1;
        } else if (t == S_LABEL || t == S_ALABEL) {
            bool first = s == S_DOM0 || s == S_DOT || s == S_ADOM0 || s == S_ADOT;
            label_len = first ? 1 : label_len + 1;
            labels += first;
            if (label_len > kLabelMax)
                return nullptr;
        } else if (t == S_BARE || t == S_ANGLE) {
            if (labels < 2)
                return nullptr;
            m->address = addr;
            m->address_len = static_cast<size_t>(p - addr);
            if (t == S_BARE)
                return p;
            // After ">" the item must end as a bare address does.
            int after = class_at(p + 1, end, where);
            return after == K_BLANK || after == K_COMMA || after == K_END ? p + 1 : nullptr;
        } else if (t == S_FAIL) {
            return nullptr;
        }
        s = t;
    }
}

// Bytes of the line end at p (LF, CR LF or a lone CR), 0 for none.
size_t eol_at(const char *p, const char *end)
{
    if (p >= end)
        return 0;
    if (*p == '\n')
        return 1;
    if (*p == '\r')
        return p + 1 < end && p[1] == '\n' ? 2 : 1;
    return 0;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

int addr_scan_list(void *user, const char *text, size_t len, AddrScanFn fn, size_t *bad_line)
{
    const char *p = text, *end = text + len;
    size_t line = 1;
    for (;;) {
        while (p < end) {
            if (size_t n = eol_at(p, end)) {
                line++;
                p += n;
            } else if (is_blank(*p) || *p == ',') {
                p++;
            } else {
                break;
            }
        }
        if (p == end)
            return 1;
        Mailbox m;
        const char *next = read_mailbox(p, end, IN_LIST, &m);
        if (!next || !fn(user, m.address, m.address_len, m.name, m.name_len)) {
            *bad_line = line;
            return 0;
        }
        p = next;
    }
}

void addr_scan_field(void *user, const char *value, size_t len, AddrScanFn fn)
{
    const char *p = value, *end = value + len;
    auto separator = [](char c) { return is_blank(c) || c == '\r' || c == '\n'; };
    for (;;) {
        while (p < end && (separator(*p) || *p == ','))
            p++;
        if (p == end)
            return;
        Mailbox m;
        const char *next = read_mailbox(p, end, IN_FIELD, &m);
        if (!next)
            return;
        while (next < end && separator(*next))
            next++;
        if (next < end && *next != ',')
            return;
        fn(user, m.address, m.address_len, m.name, m.name_len);
        p = next;
    }
}

int addr_scan_header(void *user, const char *text, size_t len, HeaderFieldFn fn, size_t *header_len)
{
    const char *p = text, *end = text + len;
    auto done = [&](const char *at, int how) {
        if (header_len)
            *header_len = static_cast<size_t>(at - text);
        return how;
    };
    auto to_next_line = [&] {
        while (p < end && *p != '\r' && *p != '\n')
            p++;
        p += eol_at(p, end);
    };
    for (;;) {
        if (p == end)
            return done(p, HDR_SCAN_TEXT_END);
        if (eol_at(p, end))
            return done(p, HDR_SCAN_BLANK_LINE);
        const char *name = p;
        while (p < end && *p != ':' && *p != '\r' && *p != '\n')
            p++;
        // A line that begins with a blank here continues no field (the
        // folds of a field are part of its value), and a line without a
        // colon is no field: both are passed over with their continuation
        // lines, as the message writer leaves them out, and the scan goes
        // on with the next field.
        if (is_blank(*name) || p == end || *p != ':') {
            to_next_line();
            continue;
        }
        // Blanks before the colon belong to no name (the obsolete form
        // "Bcc : ..."); a line that begins with the colon has an empty one.
        size_t name_len = static_cast<size_t>(p - name);
        while (name_len && is_blank(name[name_len - 1]))
            name_len--;
        for (p++; p < end && is_blank(*p); p++) {
        }
        const char *value = p;
        for (;;) {
            while (p < end && *p != '\r' && *p != '\n')
                p++;
            size_t n = eol_at(p, end);
            if (n && p + n < end && is_blank(p[n])) {
                p += n; // a folded line: the value goes on
                continue;
            }
            fn(user, name, name_len, value, static_cast<size_t>(p - value));
            p += n;
            break;
        }
    }
}

bool HeaderBlockEnd::feed(const char *data, size_t n, size_t *at)
{
    for (size_t i = 0; i < n; i++) {
        char c = data[i];
        bool lf_of_crlf = after_cr_ && c == '\n';
        after_cr_ = c == '\r';
        if (lf_of_crlf)
            continue; // its line ended with the CR
        if (c == '\r' || c == '\n') {
            if (line_start_) {
                *at = seen_ + i;
                return true;
            }
            line_start_ = true;
        } else {
            line_start_ = false;
        }
    }
    seen_ += n;
    return false;
}

size_t addr_trim_name(char *name, size_t len)
{
    while (len && (name[len - 1] == ' ' || name[len - 1] == '\t' || name[len - 1] == '\0'))
        len--;
    size_t from = 0;
    if (len >= 2 && name[0] == '"' && name[len - 1] == '"') {
        from = 1;
        len--;
    }
    size_t out = 0;
    for (size_t i = from; i < len; i++)
        if (name[i] != '\r' && name[i] != '\n')
            name[out++] = name[i];
    return out;
}

// ---- the session's scans -------------------------------------------------------

namespace {

// The longest address and display name a scanned item may carry.
const size_t kScanAddressMax = 255;
const size_t kScanNameMax = 255;

// The items of one recipient list file, gathered apart from the session so
// that a file that fails half-way adds nothing.
struct ListScan {
    Recipient *found = nullptr;
    ~ListScan() { addr_recipient_list_free(&found); }
};

// What a reader's take() makes of one slice of a file.
enum Take { TAKE_READ_ON, TAKE_DONE, TAKE_REFUSED };

// Reads the file at path into *text through the session's file reader.
// take(data, n, &keep) sees each slice in order and may lower keep (all n
// bytes at first), the bytes that are kept; it answers TAKE_READ_ON,
// TAKE_DONE when the text is whole (the rest of the file is not read), or
// TAKE_REFUSED when the text would pass its cap (take has stored the
// reason). 1, or 0 with the reason in the session.
template <class TakeFn>
int read_file(MailContext *ctx, const char *path, const char *what, std::string *text, TakeFn &&take)
{
    MimeFile f(path);
    if (!f.is_open()) {
        mail_set_system_error(ctx, plat_last_error(), "Failed to open %s (%s)", what, path);
        return 0;
    }
    std::unique_ptr<char[]> buf(new char[MIME_READ_SLICE]);
    for (;;) {
        int64_t got = f.read(buf.get(), MIME_READ_SLICE);
        if (got < 0) {
            mail_set_system_error(ctx, got == MIME_READ_ERROR ? plat_last_error() : 0, "Read error on %s (%s)",
                                  what, path);
            return 0;
        }
        if (got == 0)
            return 1;
        size_t n = static_cast<size_t>(got), keep = n;
        Take answer = take(buf.get(), n, &keep);
        if (answer == TAKE_REFUSED)
            return 0;
        text->append(buf.get(), keep);
        if (answer == TAKE_DONE)
            return 1;
    }
}

// One mailbox of a To, Cc or Bcc field (list chosen by code) or the From
// field, through the session's own option door. Once memory has run out
// nothing more is taken, so that the mark stays for the caller.
template <int Code> int take_field_item(void *user, const char *address, size_t address_len,
                                        const char *name, size_t name_len)
{
    auto *ctx = static_cast<MailContext *>(user);
    if (mail_error_is_nomem(ctx))
        return 0;
    if (address_len > kScanAddressMax || name_len > (Code == MAILOPT_FROM ? kScanNameMax : SIZE_MAX))
        return 0;
    std::string a(address, address_len), n(name ? name : "", name_len);
    n.resize(addr_trim_name(n.data(), n.size()));
    if (Code != MAILOPT_FROM && n.size() > kScanNameMax)
        return 0;
    const char *shown = n.empty() ? nullptr : n.c_str();
    return mail_set_option_basic(ctx, Code, a.c_str(), shown, nullptr);
}

template <class Body> int scan_guard(MailContext *ctx, Body &&body) noexcept
{
    return fence_nomem(body, [ctx] {
        mail_set_nomem(ctx);
        return 0;
    });
}

} // namespace

int addr_list_add_scanned(void *user, const char *address, size_t address_len, const char *name,
                          size_t name_len)
{
    auto *list = static_cast<Recipient **>(user);
    if (address_len > kScanAddressMax)
        return 0;
    std::string a(address, address_len), n(name ? name : "", name_len);
    n.resize(addr_trim_name(n.data(), n.size()));
    return addr_recipient_add(list, a.c_str(), n.empty() ? nullptr : n.c_str(), nullptr) != nullptr;
}

int addr_take_to(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    return take_field_item<MAILOPT_RECIPIENT | MAILOPT_TO>(user, address, address_len, name, name_len);
}

int addr_take_cc(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    return take_field_item<MAILOPT_RECIPIENT | MAILOPT_CC>(user, address, address_len, name, name_len);
}

int addr_take_bcc(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    return take_field_item<MAILOPT_RECIPIENT | MAILOPT_BCC>(user, address, address_len, name, name_len);
}

int addr_take_from(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    return take_field_item<MAILOPT_FROM>(user, address, address_len, name, name_len);
}

void addr_header_select(void *user, const char *name, size_t name_len, const char *value, size_t value_len)
{
    auto *ctx = static_cast<MailContext *>(user);
    auto is = [&](const char *want) {
        return strlen(want) == name_len && str_ncasecmp(name, want, static_cast<long>(name_len)) == 0;
    };
    bool recipients = ctx->flags2 & MAILF2_RECIPIENTS_FROM_FILE;
    AddrScanFn fn = nullptr;
    if (recipients && is("To"))
        fn = addr_take_to;
    else if (recipients && is("Cc"))
        fn = addr_take_cc;
    else if (recipients && is("Bcc"))
        fn = addr_take_bcc;
    else if ((ctx->flags2 & MAILF2_FROM_FROM_FILE) && is("From"))
        fn = addr_take_from;
    if (fn)
        addr_scan_field(user, value, value_len, fn);
}

char *addr_unfold(const char *text, size_t length)
{
    auto *out = static_cast<char *>(calloc(length + 1, 1));
    if (!out)
        return nullptr;
    size_t n = text ? strnlen(text, length) : 0;
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        size_t brk = text[i] == '\n' ? 1 : text[i] == '\r' && i + 1 < n && text[i + 1] == '\n' ? 2 : 0;
        if (brk) {
            if (i + brk == n)
                break; // a line break at the very end is left out
            if (text[i + brk] == ' ' || text[i + brk] == '\t') {
                i += brk + 1; // the break and its one blank
                continue;
            }
        }
        out[o++] = text[i++];
    }
    return out;
}

int addr_scan_recipient_file(MailContext *ctx, Recipient **list, const char *path)
{
    return scan_guard(ctx, [&] {
        std::string text;
        auto capped = [&](const char *, size_t n, size_t *) {
            if (n <= ADDR_LIST_FILE_MAX - text.size())
                return TAKE_READ_ON;
            mail_set_errorf(ctx, "The recipient list file is too large, more than %d MiB (%s)",
                            int(ADDR_LIST_FILE_MAX >> 20), path);
            return TAKE_REFUSED;
        };
        if (!read_file(ctx, path, "recipient list file", &text, capped))
            return 0;
        ListScan scan;
        size_t line = 0;
        if (!addr_scan_list(&scan.found, text.data(), text.size(), addr_list_add_scanned, &line)) {
            mail_set_errorf(ctx, "%s, line %u: not a usable address", path, static_cast<unsigned>(line));
            return 0;
        }
        // The items, newest first, go in front of the list as they stand.
        if (Recipient *last = scan.found) {
            while (last->next)
                last = last->next;
            last->next = *list;
            *list = scan.found;
            scan.found = nullptr;
        }
        mail_set_error(ctx, nullptr);
        return 1;
    });
}

int addr_scan_message_file(MailContext *ctx, int recipients, int sender)
{
    if (recipients)
        ctx->flags2 |= MAILF2_RECIPIENTS_FROM_FILE;
    if (sender)
        ctx->flags2 |= MAILF2_FROM_FROM_FILE;
    return scan_guard(ctx, [&] {
        // The header block is read to its empty line, however the reads
        // cut it; the body is never read.
        std::string text;
        HeaderBlockEnd header_end;
        auto header = [&](const char *data, size_t n, size_t *keep) {
            size_t at = 0;
            bool found = header_end.feed(data, n, &at);
            if (found)
                *keep = at - text.size();
            if (*keep > ADDR_HEADER_SCAN_MAX - text.size()) {
                mail_set_errorf(ctx, "The header of the message file is too large, more than %d MiB (%s)",
                                int(ADDR_HEADER_SCAN_MAX >> 20), ctx->email_file);
                return TAKE_REFUSED;
            }
            return found ? TAKE_DONE : TAKE_READ_ON;
        };
        if (!read_file(ctx, ctx->email_file, "message file", &text, header))
            return 0;
        mail_set_error(ctx, nullptr);
        addr_scan_header(ctx, text.data(), text.size(), addr_header_select);
        if (mail_error_is_nomem(ctx))
            return 0;
        mail_set_error(ctx, nullptr);
        return 1;
    });
}
