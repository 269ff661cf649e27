// The recipient list file's grammar (mail/scan.h): a finite automaton on
// bytes, driven by a class for every byte and a next state for every state
// and class, that reads one mailbox after another.
#include "mail/scan.h"

#include <cstdint>
#include <initializer_list>

#include "mail/scan_internal.h"

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
    K_BLANK,  // SP TAB
    K_COMMA,
    K_END,    // end of the item's text, or a line end
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

// The class of the byte at p; a line end ends an item, as the end of the
// text does.
int class_at(const char *p, const char *end)
{
    if (p >= end)
        return K_END;
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\r' || c == '\n')
        return K_END;
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
const char *read_mailbox(const char *p, const char *end, Mailbox *m)
{
    const char *start = p, *addr = p;
    *m = Mailbox{nullptr, 0, nullptr, 0};
    uint8_t s = S_START;
    size_t label_len = 0, labels = 0;
    for (;; p++) {
        int k = class_at(p, end);
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
            int after = class_at(p + 1, end);
            return after == K_BLANK || after == K_COMMA || after == K_END ? p + 1 : nullptr;
        } else if (t == S_FAIL) {
            return nullptr;
        }
        s = t;
    }
}

} // namespace

int addr_scan_list(void *user, const char *text, size_t len, AddrScanFn fn, size_t *bad_line)
{
    const char *p = text, *end = text + len;
    size_t line = 1;
    for (;;) {
        while (p < end) {
            if (size_t n = scan_eol_at(p, end)) {
                line++;
                p += n;
            } else if (scan_is_blank(*p) || *p == ',') {
                p++;
            } else {
                break;
            }
        }
        if (p == end)
            return 1;
        Mailbox m;
        const char *next = read_mailbox(p, end, &m);
        if (!next || !fn(user, m.address, m.address_len, m.name, m.name_len)) {
            *bad_line = line;
            return 0;
        }
        p = next;
    }
}
