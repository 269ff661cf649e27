// Glob matching: the matcher and its comma-list forms agree with a slow but
// plainly right reference (the pattern cut into elements, then every split
// of the text tried by dynamic programming) on bounded texts and patterns.
#include <vector>

#include "fuzz.h"
#include "mail/wild.h"

namespace {

struct Element {
    enum Kind { STAR, ANY, LITERAL, SET } kind = LITERAL;
    unsigned char c = 0;
    bool negated = false;
    std::vector<std::pair<unsigned char, unsigned char>> ranges; // bounds as written
    std::vector<unsigned char> singles;                          // folded like literals
};

unsigned char lower(unsigned char c, bool fold) { return fold && c >= 'A' && c <= 'Z' ? c + 32 : c; }

std::vector<Element> parse(const std::string &p, bool fold)
{
    std::vector<Element> out;
    size_t i = 0, n = p.size();
    while (i < n) {
        Element e;
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == '*') {
            e.kind = Element::STAR;
            i++;
        } else if (c == '?') {
            e.kind = Element::ANY;
            i++;
        } else if (c == '\\' && i + 1 < n) {
            e.c = lower(static_cast<unsigned char>(p[i + 1]), fold);
            i += 2;
        } else if (c == '[') {
            e.kind = Element::SET;
            i++;
            if (i < n && p[i] == '^') {
                e.negated = true;
                i++;
            }
            size_t start = i;
            while (i < n && p[i] != ']') {
                if (p[i] == '-' && i == start) {
                    // no lower bound: the bound is read, nothing is added
                    i++;
                    if (i < n && p[i] != ']')
                        i++;
                } else if (i + 2 < n && p[i + 1] == '-' && p[i + 2] != ']') {
                    e.ranges.push_back({static_cast<unsigned char>(p[i]), static_cast<unsigned char>(p[i + 2])});
                    i += 3;
                } else {
                    e.singles.push_back(lower(static_cast<unsigned char>(p[i]), fold));
                    i++;
                }
            }
            if (i < n)
                i++; // the "]"
        } else {
            e.c = lower(c, fold);
            i++;
        }
        out.push_back(e);
    }
    return out;
}

// t is the text character as written. Without the case flag a letter is
// taken by a range when its upper- or lower-case form lies in it.
bool accepts(const Element &e, unsigned char t, bool fold)
{
    unsigned char folded = lower(t, fold);
    if (e.kind == Element::ANY)
        return true;
    if (e.kind == Element::LITERAL)
        return e.c == folded;
    std::vector<unsigned char> forms = {t};
    if (fold && t >= 'A' && t <= 'Z')
        forms.push_back(static_cast<unsigned char>(t + 32));
    if (fold && t >= 'a' && t <= 'z')
        forms.push_back(static_cast<unsigned char>(t - 32));
    bool hit = false;
    for (unsigned char s : e.singles)
        hit = hit || s == folded;
    for (auto [lo, hi] : e.ranges)
        for (unsigned char f : forms)
            hit = hit || (lo <= f && f <= hi);
    return hit != e.negated;
}

int reference(const std::string &text, const std::string &pattern, bool case_sensitive)
{
    bool fold = !case_sensitive;
    std::vector<Element> el = parse(pattern, fold);
    size_t n = text.size(), m = el.size();
    // ok[i][j]: text from i matches the elements from j.
    std::vector<std::vector<char>> ok(n + 1, std::vector<char>(m + 1, 0));
    ok[n][m] = 1;
    for (size_t i = n + 1; i-- > 0;) {
        for (size_t j = m; j-- > 0;) {
            if (el[j].kind == Element::STAR)
                ok[i][j] = ok[i][j + 1] || (i < n && ok[i + 1][j]);
            else
                ok[i][j] = i < n && accepts(el[j], static_cast<unsigned char>(text[i]), fold) &&
                           ok[i + 1][j + 1];
        }
    }
    return ok[0][0];
}

int reference_any(const std::string &text, const std::string &pattern, bool cs)
{
    return text == "*" ? 1 : reference(text, pattern, cs);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    bool cs = in.byte() & 1;
    std::string pattern = fuzz_no_nul(in.bytes(48));
    std::string text = fuzz_no_nul(in.bytes(200));
    FUZZ_CHECK(att_glob_match(text.c_str(), pattern.c_str(), cs) == reference(text, pattern, cs));

    // The pattern read as a comma list, OR and AND, left to right.
    std::vector<std::string> items;
    for (size_t pos = 0; pos <= pattern.size();) {
        size_t end = pattern.find(',', pos);
        if (end == std::string::npos)
            end = pattern.size();
        if (end > pos)
            items.push_back(pattern.substr(pos, end - pos));
        pos = end + 1;
    }
    int any_or = 0, all_and = items.empty() ? 0 : 1;
    for (const std::string &item : items) {
        bool excl = item[0] == '!';
        int hit = reference_any(text, excl ? item.substr(1) : item, cs);
        if (hit)
            any_or = excl ? 0 : 1;
        if (hit == excl)
            all_and = 0;
    }
    FUZZ_CHECK(att_glob_match_csv_or(text.c_str(), pattern.c_str(), cs) == any_or);
    FUZZ_CHECK(att_glob_match_csv_and(text.c_str(), pattern.c_str(), cs) == all_and);
    return 0;
}
