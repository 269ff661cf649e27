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
#include <vector>

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

namespace {

// ---- the address-list reader of header fields ---------------------------------

// RFC 5322 atext and, by RFC 6532, every byte of 0x80 and above.
bool is_atom_byte(unsigned char c)
{
    return c >= 0x80 || (c > 0x20 && c < 0x7f && !strchr("()<>[]:;@\\,.\"", c));
}

bool is_space_or_fold(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

enum Tok : uint8_t {
    T_END,
    T_WORD,    // an atom or a quoted string (quotes included)
    T_LITERAL, // a domain literal (brackets included)
    T_DOT,
    T_AT,
    T_LT,
    T_GT,
    T_COMMA,
    T_COLON,
    T_SEMI,
    T_BAD,     // a byte or construct that cannot stand here (why())
};

struct Token {
    Tok kind;
    const char *begin, *end;
};

// The tokens of one field value. White space, folded line breaks and
// comments (nested to any depth, with quoted pairs) stand between tokens
// and are skipped; everything is one forward pass, a comment's depth a
// counter. After a T_BAD the lexer stands past the bad byte (or at the end,
// for what is not closed), so a caller may read on to find where the item
// ends.
class FieldLexer {
public:
    FieldLexer(const char *p, const char *end) : p_(p), end_(end) {}

    Token next()
    {
        if (!skip_space_and_comments())
            return {T_BAD, bad_at_, end_};
        const char *b = p_;
        if (p_ == end_)
            return {T_END, b, b};
        unsigned char c = static_cast<unsigned char>(*p_);
        if (is_atom_byte(c)) {
            while (p_ < end_ && is_atom_byte(static_cast<unsigned char>(*p_)))
                p_++;
            return {T_WORD, b, p_};
        }
        p_++;
        switch (c) {
        case '"':
            return closed('"', T_WORD, b, "a quoted string is not closed");
        case '[':
            return closed(']', T_LITERAL, b, "an address literal is not closed");
        case '.': return {T_DOT, b, p_};
        case '@': return {T_AT, b, p_};
        case '<': return {T_LT, b, p_};
        case '>': return {T_GT, b, p_};
        case ',': return {T_COMMA, b, p_};
        case ':': return {T_COLON, b, p_};
        case ';': return {T_SEMI, b, p_};
        case ')': return bad(b, "a \")\" without its \"(\"");
        case ']': return bad(b, "a \"]\" without its \"[\"");
        case '\\': return bad(b, "a backslash outside a quoted string");
        default: return bad(b, "a control character");
        }
    }

    const char *why() const { return why_; }

private:
    Token bad(const char *at, const char *why)
    {
        why_ = why;
        return {T_BAD, at, p_};
    }

    // A quoted string or a domain literal from its opening byte at b up to
    // the closing byte; a backslash quotes the byte after it.
    Token closed(char close, Tok kind, const char *b, const char *why)
    {
        for (; p_ < end_; p_++) {
            if (*p_ == '\\') {
                if (++p_ == end_)
                    break;
            } else if (*p_ == close) {
                p_++;
                return {kind, b, p_};
            } else if (close == ']' && *p_ == '[') {
                p_++;
                return bad(b, "a \"[\" inside an address literal");
            }
        }
        p_ = end_;
        return bad(b, why);
    }

    bool skip_space_and_comments()
    {
        for (;;) {
            while (p_ < end_ && is_space_or_fold(*p_))
                p_++;
            if (p_ == end_ || *p_ != '(')
                return true;
            const char *open = p_;
            size_t depth = 0;
            for (; p_ < end_; p_++) {
                if (*p_ == '\\') {
                    if (++p_ == end_)
                        break;
                } else if (*p_ == '(') {
                    depth++;
                } else if (*p_ == ')' && --depth == 0) {
                    break;
                }
            }
            if (p_ == end_) {
                bad_at_ = open;
                why_ = "a comment is not closed";
                return false;
            }
            p_++; // the comment's last ")"
        }
    }

    const char *p_, *end_;
    const char *why_ = nullptr;
    const char *bad_at_ = nullptr;
};

// The longest address and display name a scanned item may carry.
const size_t kScanAddressMax = 255;
const size_t kScanNameMax = 255;

const char kNoAngle[] = "a display name without an address in angle brackets";

// Reads one field value by the address-list grammar. Each mailbox is an
// item; a group's members are items, the group itself none.
class FieldReader {
public:
    FieldReader(const char *value, size_t len, AddrFieldError *error)
        : lex_(value, value + len), end_(value + len), error_(error)
    {
    }

    int run(void *user, AddrScanFn fn)
    {
        advance();
        // A display name without its angle address yet, up to a comma: a
        // name that holds an unquoted comma ("Doe, Jane <j@x.org>") goes on
        // into the next list element.
        const char *carried = nullptr;
        const char *group = nullptr; // the open group's start
        for (;;) {
            if (tok_.kind == T_BAD)
                return fail(carried ? carried : tok_.begin, nullptr);
            bool group_end = group && tok_.kind == T_SEMI;
            if (tok_.kind == T_END || group_end) {
                if (carried)
                    return fail(carried, kNoAngle);
                if (tok_.kind == T_END)
                    return group ? fail(group, "a group without its closing \";\"") : 1;
                advance();
                if (!ends_item(false))
                    return fail(group, tok_.kind == T_BAD ? nullptr : "a comma is missing");
                group = nullptr;
                continue;
            }
            if (tok_.kind == T_COMMA) {
                advance();
                continue;
            }
            const char *start = carried ? carried : tok_.begin;
            FieldLexer mark = lex_;
            Token first = tok_;
            bool words = false;
            while (tok_.kind == T_WORD || tok_.kind == T_DOT) {
                words = true;
                advance();
            }
            switch (tok_.kind) {
            case T_AT: {
                if (carried)
                    return fail(carried, kNoAngle);
                lex_ = mark;
                tok_ = first;
                if (!addr_spec() || !mailbox_ends(group != nullptr))
                    return fail(start, why_);
                if (!fn(user, address_, address_len_, nullptr, 0))
                    return fail(start, nullptr, true);
                break;
            }
            case T_LT: {
                // Words carried over a comma join the display name of
                // this mailbox only: without one they have none to join.
                if (carried && !words)
                    return fail(carried, kNoAngle);
                const char *name_end = tok_.begin;
                advance();
                if (!skip_route() || !addr_spec())
                    return fail(start, why_);
                if (tok_.kind != T_GT)
                    return fail(start, tok_.kind == T_BAD ? nullptr : "an angle bracket is not closed");
                advance();
                if (!mailbox_ends(group != nullptr))
                    return fail(start, why_);
                size_t name_len = words ? static_cast<size_t>(name_end - start) : 0;
                if (!fn(user, address_, address_len_, words ? start : nullptr, name_len))
                    return fail(start, nullptr, true);
                carried = nullptr;
                break;
            }
            case T_COLON:
                // A group name holds no comma: words before one are no
                // part of it.
                if (carried)
                    return fail(carried, kNoAngle);
                if (!words)
                    return fail(start, "a \":\" without a group name");
                if (group)
                    return fail(start, "a group inside a group");
                group = start;
                carried = nullptr;
                advance();
                break;
            case T_COMMA:
            case T_END:
            case T_SEMI:
                if (tok_.kind == T_SEMI && !group)
                    return fail(start, "a \";\" outside a group");
                carried = start;
                break;
            case T_BAD:
                return fail(start, nullptr);
            case T_GT:
                return fail(start, "a \">\" without its \"<\"");
            default:
                return fail(start, "no address");
            }
        }
    }

private:
    void advance() { tok_ = lex_.next(); }

    bool set_why(const char *why)
    {
        why_ = tok_.kind == T_BAD ? lex_.why() : why;
        return false;
    }

    // Adds the bytes of a token to the address, folded line breaks left out.
    bool put(const Token &t)
    {
        for (const char *p = t.begin; p < t.end; p++) {
            if (*p == '\r' || *p == '\n')
                continue;
            if (address_len_ == kScanAddressMax)
                return set_why("an address longer than 255 bytes");
            address_[address_len_++] = *p;
        }
        return true;
    }

    // local-part "@" domain: words and dots (the obsolete forms allow
    // comments and folds between them), no two words without a dot between
    // them; the domain atoms and dots, or a domain literal. Quoted strings
    // and literals are kept as written. Whether the dots make a dot-atom is
    // the session's to judge, with its own reason.
    bool addr_spec()
    {
        address_len_ = 0;
        bool word = false;
        for (; tok_.kind == T_WORD || tok_.kind == T_DOT; advance()) {
            if (tok_.kind == T_WORD && word)
                return set_why(kNoAngle);
            word = tok_.kind == T_WORD;
            if (!put(tok_))
                return false;
        }
        if (tok_.kind != T_AT)
            return set_why(address_len_ ? "an address without \"@\"" : "no address");
        if (!address_len_)
            return set_why("an address without its local part");
        if (!put(tok_))
            return false;
        advance();
        if (tok_.kind == T_LITERAL) {
            if (!put(tok_))
                return false;
            advance();
            return true;
        }
        word = false;
        bool atoms = false;
        for (; (tok_.kind == T_WORD && *tok_.begin != '"') || tok_.kind == T_DOT; advance()) {
            if (tok_.kind == T_WORD && word)
                return set_why("a comma is missing");
            word = tok_.kind == T_WORD;
            atoms = atoms || word;
            if (!put(tok_))
                return false;
        }
        return atoms || set_why("an address without a valid domain");
    }

    // The obsolete route before an address in angle brackets
    // ("<@relay.example:user@example.org>"), passed over.
    bool skip_route()
    {
        if (tok_.kind != T_AT && tok_.kind != T_COMMA)
            return true;
        while (tok_.kind == T_AT || tok_.kind == T_COMMA || tok_.kind == T_WORD || tok_.kind == T_DOT ||
               tok_.kind == T_LITERAL)
            advance();
        if (tok_.kind != T_COLON)
            return set_why("a route without its \":\"");
        advance();
        return true;
    }

    bool ends_item(bool in_group)
    {
        return tok_.kind == T_COMMA || tok_.kind == T_END || (in_group && tok_.kind == T_SEMI);
    }

    bool mailbox_ends(bool in_group)
    {
        return ends_item(in_group) || set_why("a comma is missing");
    }

    // Ends the scan at the item that begins at start, which runs on to the
    // next comma or the end of the field (trailing blanks and folds left
    // out). why NULL: the lexer's reason, or (refused) the callback's.
    int fail(const char *start, const char *why, bool refused = false)
    {
        if (!why && !refused)
            why = tok_.kind == T_BAD ? lex_.why() : why_;
        while (tok_.kind != T_COMMA && tok_.kind != T_END)
            advance();
        const char *stop = tok_.kind == T_COMMA ? tok_.begin : end_;
        if (stop < start)
            stop = start;
        while (stop > start && is_space_or_fold(stop[-1]))
            stop--;
        *error_ = AddrFieldError{start, static_cast<size_t>(stop - start), refused ? nullptr : why};
        return 0;
    }

    FieldLexer lex_;
    const char *end_;
    AddrFieldError *error_;
    Token tok_{T_END, nullptr, nullptr};
    const char *why_ = "no address";
    char address_[kScanAddressMax];
    size_t address_len_ = 0;
};

} // namespace

int addr_scan_field(void *user, const char *value, size_t len, AddrScanFn fn, AddrFieldError *error)
{
    AddrFieldError ignored;
    return FieldReader(value, len, error ? error : &ignored).run(user, fn);
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
            mail_set_system_error(ctx, got == MIME_READ_ERROR ? f.error : 0, "Read error on %s (%s)",
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
// field, through the session's own option door, which gives the reason of
// a refusal. The message file's own header carries the display names, so
// a name the session cannot take (too long, a control character, not
// UTF-8) is left out and the address taken alone. Once memory has run out
// nothing more is taken, so that the mark stays for the caller.
template <int Code> int take_field_item(void *user, const char *address, size_t address_len,
                                        const char *name, size_t name_len)
{
    auto *ctx = static_cast<MailContext *>(user);
    if (mail_error_is_nomem(ctx))
        return 0;
    if (address_len > kScanAddressMax) {
        mail_set_errorf(ctx, "The address is longer than %d bytes", int(kScanAddressMax));
        return 0;
    }
    std::string a(address, address_len), n(name ? name : "", name_len);
    n.resize(addr_trim_name(n.data(), n.size()));
    bool name_fits = n.size() <= kScanNameMax && (Code != MAILOPT_FROM || name_len <= kScanNameMax);
    if (name_fits && !n.empty() && mail_set_option_basic(ctx, Code, a.c_str(), n.c_str(), nullptr))
        return 1;
    return !mail_error_is_nomem(ctx) && mail_set_option_basic(ctx, Code, a.c_str(), nullptr, nullptr);
}

// The mailboxes of a message file's address fields, gathered whole before
// the session takes any of them.
struct HeaderItem {
    AddrScanFn take;
    const char *field;
    std::string address, name;
};

struct HeaderScan {
    MailContext *ctx;
    std::vector<HeaderItem> items;
    AddrScanFn take = nullptr; // of the field being read
    const char *field = nullptr;
    bool failed = false;       // the reason is in the session
};

int gather_item(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    auto *scan = static_cast<HeaderScan *>(user);
    scan->items.push_back({scan->take, scan->field, std::string(address, address_len),
                           std::string(name ? name : "", name_len)});
    return 1;
}

// The longest part of an unreadable item that a message shows.
const size_t kShownItemMax = 80;

// Reads the To, Cc and Bcc fields when recipients are taken from the file,
// the From field when the sender is; the first field that cannot be read
// whole ends the scan with the reason in the session.
void select_field(void *user, const char *name, size_t name_len, const char *value, size_t value_len)
{
    auto *scan = static_cast<HeaderScan *>(user);
    MailContext *ctx = scan->ctx;
    if (scan->failed)
        return;
    bool recipients = ctx->flags2 & MAILF2_RECIPIENTS_FROM_FILE;
    bool sender = ctx->flags2 & MAILF2_FROM_FROM_FILE;
    static const struct {
        const char *name;
        AddrScanFn take;
        bool recipient;
    } kFields[] = {{"To", addr_take_to, true},
                   {"Cc", addr_take_cc, true},
                   {"Bcc", addr_take_bcc, true},
                   {"From", addr_take_from, false}};
    for (const auto &f : kFields) {
        if (strlen(f.name) != name_len || str_ncasecmp(name, f.name, static_cast<long>(name_len)) != 0 ||
            !(f.recipient ? recipients : sender))
            continue;
        scan->take = f.take;
        scan->field = f.name;
        AddrFieldError error{};
        if (addr_scan_field(scan, value, value_len, gather_item, &error))
            return;
        // A long item is shown in part, never cut inside a UTF-8 sequence.
        size_t shown = error.len;
        if (shown > kShownItemMax) {
            shown = kShownItemMax;
            while (shown && (static_cast<unsigned char>(error.at[shown]) & 0xC0) == 0x80)
                shown--;
        }
        mail_set_errorf(ctx, "The %s field of the message file cannot be read at \"%.*s%s\" (%s) (%s)",
                        f.name, int(shown), error.at, shown < error.len ? "..." : "", error.why,
                        ctx->email_file);
        scan->failed = true;
        return;
    }
}

// The recipients pushed in front of the session's lists since heads were
// noted are taken off again.
void drop_pushed(MailContext *ctx, Recipient *const heads[3])
{
    Recipient **lists[] = {&ctx->to, &ctx->cc, &ctx->bcc};
    for (int i = 0; i < 3; i++) {
        if (*lists[i] == heads[i])
            continue;
        Recipient *pushed = *lists[i], *last = pushed;
        while (last->next != heads[i])
            last = last->next;
        last->next = nullptr;
        *lists[i] = heads[i];
        addr_recipient_list_free(&pushed);
    }
}

// Gives the gathered mailboxes to the session: the recipients in their
// order, then the last From mailbox. 1; or 0 with the reason in the
// session and the session as it was.
int take_items(MailContext *ctx, const std::vector<HeaderItem> &items)
{
    Recipient *const heads[3] = {ctx->to, ctx->cc, ctx->bcc};
    const HeaderItem *from = nullptr;
    auto refused = [&](const HeaderItem &item) {
        drop_pushed(ctx, heads);
        if (mail_error_is_nomem(ctx))
            return 0;
        std::string why = mail_last_error(ctx);
        mail_set_errorf(ctx, "The %s field of the message file holds an address that cannot be used: "
                        "\"%s\" (%s) (%s)", item.field, item.address.c_str(), why.c_str(), ctx->email_file);
        return 0;
    };
    for (const HeaderItem &item : items) {
        if (item.take == addr_take_from)
            from = &item;
        else if (!item.take(ctx, item.address.data(), item.address.size(), item.name.data(), item.name.size()))
            return refused(item);
    }
    if (from && !addr_take_from(ctx, from->address.data(), from->address.size(), from->name.data(),
                                from->name.size()))
        return refused(*from);
    return 1;
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
        HeaderScan scan{ctx, {}};
        addr_scan_header(&scan, text.data(), text.size(), select_field);
        if (scan.failed)
            return 0;
        if (!take_items(ctx, scan.items))
            return 0;
        mail_set_error(ctx, nullptr);
        return 1;
    });
}
