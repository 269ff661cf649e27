// IP address tools of the network library's public surface: parsers that
// turn IPv4 and IPv6 address text into raw bytes, an access list of address
// ranges written as "address/prefix-length" with a first-match lookup that
// yields a value per range, and a formatter that writes a range back as text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/linklist.h"

// One access-list range. The list is a ListLink chain from the newest entry
// to the oldest; the entries belong to the list and go with ip_acl_free.
struct AclEntry {
    uint8_t address[16]; // network byte order; IPv4 fills the first 4 bytes
    uint8_t prefix;      // leading bits that must agree, 0 to 128
    uint8_t family;      // 4 or 6
    int32_t value;       // the caller's value, handed back by a match
    ListLink link;
};

enum : size_t { IP_CIDR_TEXT_SIZE = 64 }; // room ip_format_cidr writes within

// Dotted IPv4 text ("a.b.c.d", runs of dots count as one, leading dots are
// skipped, anything after the fourth part is ignored; each of the four parts
// is decimal digits worth 0 to 255). dest on success, else NULL.
uint8_t *ip_parse_ip4(const char *text, uint8_t dest[4]);

// IPv6 text in hexadecimal groups with "::", from the first len characters
// (a NUL ends it sooner); writes 16 bytes in network order. Also takes
// groups of up to five digits (kept modulo 65536; the last group is not
// limited), fewer than eight groups without "::" (the missing ones at the
// end are zero), several "::" (the last expands, each earlier one is one
// zero group) and a ninth group that ends the text (ignored). Refused:
// empty text, a lone ":" at either end, ":::", a "::" beside eight or more
// groups, a dotted IPv4 tail. dest on success, else NULL.
uint8_t *ip_parse_ip6(const char *text, uint8_t dest[16], size_t len);

// Either family (len 0: the text's own length): text made only of
// ":0123456789abcdefABCDEF" reads as IPv6 (so decimal digits alone do),
// else text made only of ".0123456789" as IPv4, anything else is refused.
// dest (an IPv4 address in its first 4 bytes, the rest zero) and *family
// (4 or 6) on success, else NULL with *family untouched.
uint8_t *ip_parse_address(const char *text, size_t len, uint8_t dest[16], int *family);

// Puts "address/prefix" in front of the list *head. The prefix is decimal
// digits after the last "/", at most 128 (also for IPv4, where a prefix
// above 32 never matches). 1, or 0 for text not accepted or no memory (the
// list is then unchanged).
int ip_acl_add(ListLink **head, const char *cidr, int32_t value);

// The value of the newest range holding the address text: 1 and *value, or
// 0 (and *value 0) when the text is refused or no range holds it. value may
// be NULL.
int ip_acl_match(ListLink *head, const char *text, int32_t *value);

// Frees every entry of the list; returns 0.
int ip_acl_free(ListLink *head);

// The entry as "a.b.c.d/p" (family other than 6) or as lower-case IPv6
// groups with "::" for the longest zero run that ends before the last group
// (the later of equal runs; a run reaching the last group only when the
// whole address is zero) and "/p". dest holds IP_CIDR_TEXT_SIZE bytes.
char *ip_format_cidr(const AclEntry *entry, char *dest);
