// IP address parsers, access lists and the range formatter.
#include "net/iplist.h"

#include <cstdlib>
#include <cstring>

#include "support/hex.h"
#include "support/str.h"

namespace {

enum : size_t { IP6_GROUP_TEXT_MAX = 5, IP_PREFIX_MAX = 128 };

// Dotted IPv4 from the first len characters (a NUL ends it sooner).
uint8_t *parse_ip4(const char *text, size_t len, uint8_t dest[4])
{
    uint8_t bytes[4];
    size_t i = 0;
    for (int part = 0; part < 4; part++) {
        while (i < len && text[i] == '.')
            i++;
        if (i >= len || text[i] == '\0')
            return nullptr; // fewer than four parts
        unsigned v = 0;
        for (; i < len && text[i] != '.' && text[i] != '\0'; i++) {
            if (text[i] < '0' || text[i] > '9')
                return nullptr;
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
            if (v > 255)
                return nullptr; // also stops long digit runs before they wrap
        }
        bytes[part] = static_cast<uint8_t>(v);
    }
    memcpy(dest, bytes, 4);
    return dest;
}

bool all_of(const char *text, size_t len, const char *set)
{
    for (size_t i = 0; i < len; i++)
        if (text[i] == '\0' || !strchr(set, text[i]))
            return false;
    return true;
}

// The family the text reads as (4 or 6), 0 when refused; the address in
// dest (IPv4 in the first 4 bytes, the rest zero).
int parse_either(const char *text, size_t len, uint8_t dest[16])
{
    uint8_t bytes[16] = {};
    int family = 0;
    if (all_of(text, len, ":0123456789abcdefABCDEF")) {
        if (ip_parse_ip6(text, bytes, len))
            family = 6;
    } else if (all_of(text, len, ".0123456789")) {
        if (parse_ip4(text, len, bytes))
            family = 4;
    }
    if (family)
        memcpy(dest, bytes, 16);
    return family;
}

// Leading bits in which a and b agree, counted up to max.
unsigned common_bits(const uint8_t *a, const uint8_t *b, unsigned max)
{
    unsigned n = 0;
    for (unsigned byte = 0; n < max; byte++) {
        uint8_t diff = static_cast<uint8_t>(a[byte] ^ b[byte]);
        if (!diff) {
            n += 8;
            continue;
        }
        while (!(diff & 0x80)) {
            diff = static_cast<uint8_t>(diff << 1);
            n++;
        }
        break;
    }
    return n < max ? n : max;
}

char *append_hex_group(char *dest, unsigned group)
{
    char digits[5];
    size_t n = 0;
    do {
        digits[n++] = HEX_DIGITS_LOWER[group & 15];
        group >>= 4;
    } while (group);
    char text[5];
    for (size_t i = 0; i < n; i++)
        text[i] = digits[n - 1 - i];
    text[n] = '\0';
    return str_append_bounded(dest, text, IP_CIDR_TEXT_SIZE);
}

} // namespace

uint8_t *ip_parse_ip4(const char *text, uint8_t dest[4])
{
    if (!text)
        return nullptr;
    return parse_ip4(text, strlen(text), dest);
}

uint8_t *ip_parse_ip6(const char *text, uint8_t dest[16], size_t len)
{
    if (!text)
        return nullptr;
    len = strnlen(text, len);
    if (len == 0)
        return nullptr;
    // Groups as read; every "::" first puts a zero group in place and gap
    // marks the latest one, which at the end stands for the missing groups.
    unsigned groups[9];
    size_t count = 0, i = 0;
    long gap = -1;
    if (text[0] == ':') {
        if (len < 2 || text[1] != ':' || (len > 2 && text[2] == ':'))
            return nullptr;
        groups[count++] = 0;
        gap = 0;
        i = 2;
    }
    while (i < len) {
        size_t start = i;
        unsigned v = 0;
        for (; i < len && hex_nibble(text[i]) >= 0; i++)
            v = (v << 4 | static_cast<unsigned>(hex_nibble(text[i]))) & 0xffff;
        if (i == start || (i < len && text[i] != ':'))
            return nullptr; // an empty group or a character outside the form
        bool last = i == len;
        if (!last && i - start > IP6_GROUP_TEXT_MAX)
            return nullptr;
        if (count == 8) {
            // Room for eight groups only: a ninth that ends the text is
            // dropped, anything more (or a "::" beside them) is refused.
            if (!last || gap >= 0)
                return nullptr;
            break;
        }
        groups[count++] = v;
        if (last)
            break;
        i++; // the ":"
        if (i == len)
            return nullptr; // a lone ":" at the end
        if (text[i] == ':') {
            i++;
            if (i < len && text[i] == ':')
                return nullptr;
            if (count == 8)
                return nullptr; // "::" must stand for at least one group
            groups[count] = 0;
            gap = static_cast<long>(count++);
        }
    }
    unsigned full[8] = {};
    if (gap < 0) {
        memcpy(full, groups, count * sizeof groups[0]);
    } else {
        size_t g = static_cast<size_t>(gap), tail = count - g - 1;
        memcpy(full, groups, g * sizeof groups[0]);
        memcpy(full + 8 - tail, groups + g + 1, tail * sizeof groups[0]);
    }
    for (size_t k = 0; k < 8; k++) {
        dest[2 * k] = static_cast<uint8_t>(full[k] >> 8);
        dest[2 * k + 1] = static_cast<uint8_t>(full[k]);
    }
    return dest;
}

uint8_t *ip_parse_address(const char *text, size_t len, uint8_t dest[16], int *family)
{
    if (!text)
        return nullptr;
    if (len == 0)
        len = strlen(text);
    int f = parse_either(text, len, dest);
    if (!f)
        return nullptr;
    if (family)
        *family = f;
    return dest;
}

int ip_acl_add(ListLink **head, const char *cidr, int32_t value)
{
    if (!head || !cidr)
        return 0;
    const char *slash = strrchr(cidr, '/');
    if (!slash || slash == cidr || slash[1] == '\0')
        return 0;
    unsigned prefix = 0;
    for (const char *p = slash + 1; *p; p++) {
        if (*p < '0' || *p > '9')
            return 0;
        prefix = prefix * 10 + static_cast<unsigned>(*p - '0');
        if (prefix > IP_PREFIX_MAX)
            return 0;
    }
    uint8_t address[16];
    int family = parse_either(cidr, static_cast<size_t>(slash - cidr), address);
    if (!family)
        return 0;
    auto *e = static_cast<AclEntry *>(calloc(1, sizeof(AclEntry)));
    if (!e)
        return 0;
    memcpy(e->address, address, sizeof address);
    e->prefix = static_cast<uint8_t>(prefix);
    e->family = static_cast<uint8_t>(family);
    e->value = value;
    list_push_front(head, &e->link);
    return 1;
}

int ip_acl_match(ListLink *head, const char *text, int32_t *value)
{
    if (value)
        *value = 0;
    uint8_t address[16];
    int family = text ? parse_either(text, strlen(text), address) : 0;
    if (!family)
        return 0;
    unsigned bits = family == 6 ? 128 : 32;
    for (ListLink *l = head; l; l = l->next) {
        const AclEntry *e = LIST_RECORD(l, AclEntry, link);
        if (e->family != family || common_bits(e->address, address, bits) < e->prefix)
            continue;
        if (value)
            *value = e->value;
        return 1;
    }
    return 0;
}

int ip_acl_free(ListLink *head)
{
    while (head) {
        ListLink *next = head->next;
        free(LIST_RECORD(head, AclEntry, link));
        head = next;
    }
    return 0;
}

char *ip_format_cidr(const AclEntry *entry, char *dest)
{
    dest[0] = '\0';
    const uint8_t *a = entry->address;
    if (entry->family != 6) {
        for (int k = 0; k < 4; k++) {
            if (k)
                str_append_bounded(dest, ".", IP_CIDR_TEXT_SIZE);
            str_append_int_bounded(dest, a[k], IP_CIDR_TEXT_SIZE);
        }
    } else {
        unsigned g[8];
        for (int k = 0; k < 8; k++)
            g[k] = static_cast<unsigned>(a[2 * k] << 8 | a[2 * k + 1]);
        // The zero run written as "::": the longest (the later of equal
        // ones) that ends before the last group, or the whole address.
        int best = -1, best_len = 0;
        for (int k = 0; k < 7;) {
            if (g[k]) {
                k++;
                continue;
            }
            int run = k;
            while (run < 8 && !g[run])
                run++;
            if (run < 8 && run - k >= best_len) {
                best = k;
                best_len = run - k;
            }
            if (run == 8 && k == 0) {
                best = 0;
                best_len = 8;
            }
            k = run;
        }
        for (int k = 0; k < 8; k++) {
            if (k == best) {
                str_append_bounded(dest, "::", IP_CIDR_TEXT_SIZE);
                k += best_len - 1;
                continue;
            }
            if (k && k != best + best_len)
                str_append_bounded(dest, ":", IP_CIDR_TEXT_SIZE);
            append_hex_group(dest, g[k]);
        }
    }
    str_append_bounded(dest, "/", IP_CIDR_TEXT_SIZE);
    str_append_int_bounded(dest, entry->prefix, IP_CIDR_TEXT_SIZE);
    return dest;
}
