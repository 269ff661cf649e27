// The header of a message file (mail/scan.h): the header-block scanner
// that hands over one field after another, the finder of the empty line
// that ends the block, and the reader of an address field by the
// address-list grammar of RFC 5322 with the UTF-8 of RFC 6532 (a lexer of
// its tokens, then one function per rule of the grammar).
#include "mail/scan.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mail/scan_internal.h"

namespace {

// ---- tokens -------------------------------------------------------------------

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

// ---- the address-list reader ---------------------------------------------------

const char kNoAngle[] = "a display name without an address in angle brackets";
const char kNoGroupName[] = "a \":\" without a group name";
const char kTooLong[] = "an address longer than 255 bytes";

// The words and dots that begin a list element, read once: the display
// name of a name-addr or a group, or the local part of an addr_spec, as
// the token after them tells.
struct Lead {
    const char *start = nullptr;     // where the element begins, or the name it carries on
    bool any = false;                // this element began with words or dots
    bool carried = false;            // a name that began before a comma goes on here
    const char *local_why = nullptr; // why they are no local part; NULL: they are, in the address
};

// Reads one field value by the address-list grammar of RFC 5322 section
// 3.4, one function per rule, in one forward pass without recursion. Each
// mailbox is an item; a group's members are items, the group itself none.
// Every function that fails has set the error (fail()); a bool function
// leaves its reason in why_ for the caller to fail with.
class FieldReader {
public:
    FieldReader(const char *value, size_t len, AddrFieldError *error)
        : lex_(value, value + len), end_(value + len), error_(error)
    {
    }

    int run(void *user, AddrScanFn fn)
    {
        user_ = user;
        fn_ = fn;
        advance();
        return address_list();
    }

private:
    void advance() { tok_ = lex_.next(); }

    // address-list = address *("," address), and the obsolete empty
    // elements ("a@x.org,,b@x.org").
    int address_list()
    {
        for (;;) {
            if (tok_.kind == T_BAD)
                return fail(tok_.begin, nullptr);
            if (tok_.kind == T_END)
                return 1;
            if (tok_.kind == T_COMMA)
                advance();
            else if (!address())
                return 0;
        }
    }

    // address = mailbox / group
    int address()
    {
        Lead lead;
        if (!element_words(&lead, false))
            return 0;
        if (tok_.kind == T_COLON && lead.any && !lead.carried)
            return group(lead.start);
        return mailbox(lead, false);
    }

    // group = display-name ":" [group-list] ";" [CFWS], which ends its
    // list element as a mailbox does.
    int group(const char *start)
    {
        advance();
        if (!group_list(start))
            return 0;
        advance();
        if (!ends_item(false))
            return fail(start, tok_.kind == T_BAD ? nullptr : "a comma is missing");
        return 1;
    }

    // group-list = mailbox-list / CFWS / obs-group-list, up to its ";"
    // (not taken). A group holds no group.
    int group_list(const char *start)
    {
        for (;;) {
            if (tok_.kind == T_BAD)
                return fail(tok_.begin, nullptr);
            if (tok_.kind == T_END)
                return fail(start, "a group without its closing \";\"");
            if (tok_.kind == T_SEMI)
                return 1;
            if (tok_.kind == T_COMMA) {
                advance();
                continue;
            }
            Lead lead;
            if (!element_words(&lead, true) || !mailbox(lead, true))
                return 0;
        }
    }

    // display-name as it begins a list element. Words alone before a comma
    // make a name that carries on into the next element, as in "Doe, Jane
    // <j@x.org>" (mailbox() takes it only for a name-addr with words of
    // its own); one that reaches the end of the list is no name at all.
    int element_words(Lead *lead, bool in_group)
    {
        lead->start = tok_.begin;
        for (;;) {
            words(lead);
            bool alone = tok_.kind == T_COMMA || tok_.kind == T_END || (in_group && tok_.kind == T_SEMI);
            if (!lead->any || !alone)
                return 1;
            while (tok_.kind == T_COMMA)
                advance();
            if (tok_.kind == T_BAD)
                return fail(lead->start, nullptr);
            if (tok_.kind == T_END || (in_group && tok_.kind == T_SEMI))
                return fail(lead->start, kNoAngle);
            lead->carried = true;
        }
    }

    // mailbox = name-addr / addr_spec, after the words that begin it.
    int mailbox(const Lead &lead, bool in_group)
    {
        const char *start = lead.start;
        switch (tok_.kind) {
        case T_AT:
            return lead.carried ? fail(start, kNoAngle) : addr_spec_mailbox(lead, in_group);
        case T_LT:
            return lead.carried && !lead.any ? fail(start, kNoAngle) : name_addr(lead, in_group);
        case T_COLON:
            return fail(start, lead.carried ? kNoAngle : lead.any ? "a group inside a group" : kNoGroupName);
        case T_SEMI:
            return fail(start, "a \";\" outside a group");
        case T_BAD:
            return fail(start, nullptr);
        case T_GT:
            return fail(start, "a \">\" without its \"<\"");
        default:
            return fail(start, "no address");
        }
    }

    // A mailbox that is an addr_spec: the words read were its local part.
    int addr_spec_mailbox(const Lead &lead, bool in_group)
    {
        if (lead.local_why)
            return fail(lead.start, lead.local_why);
        if (!at_domain() || !mailbox_ends(in_group))
            return fail(lead.start, why_);
        return take(lead.start, nullptr, 0);
    }

    // name-addr = [display-name] angle-addr; the name runs from the start
    // of the element (or of the name carried on) up to the "<".
    int name_addr(const Lead &lead, bool in_group)
    {
        const char *name_end = tok_.begin;
        if (!angle_addr() || !mailbox_ends(in_group))
            return fail(lead.start, why_);
        if (!lead.any)
            return take(lead.start, nullptr, 0);
        return take(lead.start, lead.start, static_cast<size_t>(name_end - lead.start));
    }

    // angle-addr = [CFWS] "<" addr_spec ">" [CFWS] / obs-angle-addr, from
    // its "<".
    bool angle_addr()
    {
        advance();
        if (!skip_route() || !addr_spec())
            return false;
        if (tok_.kind != T_GT)
            return set_why("an angle bracket is not closed");
        advance();
        return true;
    }

    // obs-route before an addr_spec in angle brackets
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

    // addr_spec = local-part "@" domain
    bool addr_spec()
    {
        Lead local;
        words(&local);
        if (local.local_why) {
            why_ = local.local_why;
            return false;
        }
        return at_domain();
    }

    // local-part = dot-atom / quoted-string / obs-local-part: the words and
    // dots at the token, also taken as a phrase. Into the address (comments
    // and folds between them left out), with the reason they make no local
    // part: two words without a dot between them, or too many bytes.
    // Whether the dots make a dot-atom is the session's to judge, with its
    // own reason.
    void words(Lead *lead)
    {
        address_len_ = 0;
        lead->any = false;
        lead->local_why = nullptr;
        bool word = false;
        for (; tok_.kind == T_WORD || tok_.kind == T_DOT; advance()) {
            lead->any = true;
            if (lead->local_why)
                continue;
            if (tok_.kind == T_WORD && word)
                lead->local_why = kNoAngle;
            else if (!put(tok_))
                lead->local_why = kTooLong;
            word = tok_.kind == T_WORD;
        }
    }

    // "@" domain, after the local part in the address.
    bool at_domain()
    {
        if (tok_.kind != T_AT)
            return set_why(address_len_ ? "an address without \"@\"" : "no address");
        if (!address_len_)
            return set_why("an address without its local part");
        if (!put(tok_))
            return set_why(kTooLong);
        advance();
        return domain();
    }

    // domain = dot-atom / domain-literal / obs-domain: atoms and dots (the
    // obsolete form allows comments and folds between them), or a literal
    // kept as written.
    bool domain()
    {
        if (tok_.kind == T_LITERAL) {
            if (!put(tok_))
                return set_why(kTooLong);
            advance();
            return true;
        }
        bool word = false, atoms = false;
        for (; (tok_.kind == T_WORD && *tok_.begin != '"') || tok_.kind == T_DOT; advance()) {
            if (tok_.kind == T_WORD && word)
                return set_why("a comma is missing");
            word = tok_.kind == T_WORD;
            atoms = atoms || word;
            if (!put(tok_))
                return set_why(kTooLong);
        }
        return atoms || set_why("an address without a valid domain");
    }

    bool ends_item(bool in_group)
    {
        return tok_.kind == T_COMMA || tok_.kind == T_END || (in_group && tok_.kind == T_SEMI);
    }

    bool mailbox_ends(bool in_group)
    {
        return ends_item(in_group) || set_why("a comma is missing");
    }

    bool set_why(const char *why)
    {
        why_ = tok_.kind == T_BAD ? lex_.why() : why;
        return false;
    }

    // Adds the bytes of a token to the address, folded line breaks left
    // out; false when they do not fit.
    bool put(const Token &t)
    {
        for (const char *p = t.begin; p < t.end; p++) {
            if (*p == '\r' || *p == '\n')
                continue;
            if (address_len_ == kScanAddressMax)
                return false;
            address_[address_len_++] = *p;
        }
        return true;
    }

    // Hands the mailbox read to the callback; a refusal ends the scan at
    // its item.
    int take(const char *start, const char *name, size_t name_len)
    {
        if (!fn_(user_, address_, address_len_, name, name_len))
            return fail(start, nullptr, true);
        return 1;
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
    void *user_ = nullptr;
    AddrScanFn fn_ = nullptr;
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
        p += scan_eol_at(p, end);
    };
    for (;;) {
        if (p == end)
            return done(p, HDR_SCAN_TEXT_END);
        if (scan_eol_at(p, end))
            return done(p, HDR_SCAN_BLANK_LINE);
        const char *name = p;
        while (p < end && *p != ':' && *p != '\r' && *p != '\n')
            p++;
        // A line that begins with a blank here continues no field (the
        // folds of a field are part of its value), and a line without a
        // colon is no field: both are passed over with their continuation
        // lines, as the message writer leaves them out, and the scan goes
        // on with the next field.
        if (scan_is_blank(*name) || p == end || *p != ':') {
            to_next_line();
            continue;
        }
        // Blanks before the colon belong to no name (the obsolete form
        // "Bcc : ..."); a line that begins with the colon has an empty one.
        size_t name_len = static_cast<size_t>(p - name);
        while (name_len && scan_is_blank(name[name_len - 1]))
            name_len--;
        for (p++; p < end && scan_is_blank(*p); p++) {
        }
        const char *value = p;
        for (;;) {
            while (p < end && *p != '\r' && *p != '\n')
                p++;
            size_t n = scan_eol_at(p, end);
            if (n && p + n < end && scan_is_blank(p[n])) {
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
