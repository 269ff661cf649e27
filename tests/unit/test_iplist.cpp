// Tests of the IP address parsers, the access list and the range formatter.
#include "net/iplist.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char *kRefused = "refused";

std::string hex(const uint8_t *bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

std::string ip4(const char *text)
{
    uint8_t d[4] = {0xee, 0xee, 0xee, 0xee};
    if (!ip_parse_ip4(text, d))
        return hex(d, 4) == "eeeeeeee" ? kRefused : "written on refusal";
    return hex(d, 4);
}

std::string ip6(const char *text, size_t len = 0)
{
    uint8_t d[16];
    memset(d, 0xee, sizeof d);
    if (!ip_parse_ip6(text, d, len ? len : strlen(text)))
        return hex(d, 16) == std::string(32, 'e') ? kRefused : "written on refusal";
    return hex(d, 16);
}

struct Case {
    const char *text;
    const char *want;
};

TEST(IpParse, Ip4)
{
    const Case cases[] = {
        {"192.168.1.10", "c0a8010a"},
        {"0.0.0.0", "00000000"},
        {"255.255.255.255", "ffffffff"},
        {"1.2.3.4.5", "01020304"},   // past the fourth part is ignored
        {"..1..2.3...4", "01020304"}, // runs of dots are one separator
        {"010.001.0.00", "0a010000"},
        {"0000000000001.2.3.4", "01020304"},
        {"256.1.1.1", kRefused},
        {"1.2.3.256", kRefused},
        {"99999999999999999999.1.1.1", kRefused}, // does not wrap into range
        {"1.2.3", kRefused},
        {"1.2.3.", kRefused},
        {"", kRefused},
        {"....", kRefused},
        {"a.b.c.d", kRefused}, // a part without digits is no zero
        {"1x.2.3.4", kRefused},
        {"1.2.3.4x", kRefused},
        {"-1.2.3.4", kRefused},
        {"1.2.3. 4", kRefused},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ip4(c.text), c.want) << c.text;
}

TEST(IpParse, Ip6)
{
    const Case cases[] = {
        {"::1", "00000000000000000000000000000001"},
        {"fe80::1", "fe800000000000000000000000000001"},
        {"::2:3:4:5:6:7:8", "00000002000300040005000600070008"},
        {"1:2", "00010002000000000000000000000000"},
        {"::", "00000000000000000000000000000000"},
        {"1:2:3:4:5:6:7:8", "00010002000300040005000600070008"},
        {"ABCD:ef01::", "abcdef01000000000000000000000000"},
        // "::" in every position, always standing for the missing groups
        {"::2:3:4:5:6:7", "00000000000200030004000500060007"},
        {"1::3:4:5:6:7:8", "00010000000300040005000600070008"},
        {"1:2::4:5:6:7:8", "00010002000000040005000600070008"},
        {"1:2:3::5:6:7:8", "00010002000300000005000600070008"},
        {"1:2:3:4::6:7:8", "00010002000300040000000600070008"},
        {"1:2:3:4:5::7:8", "00010002000300040005000000070008"},
        {"1:2:3:4:5:6::8", "00010002000300040005000600000008"},
        {"1:2:3:4:5:6:7::", "00010002000300040005000600070000"},
        {"1::", "00010000000000000000000000000000"},
        {"1::8", "00010000000000000000000000000008"},
        // the lenient forms: five-digit groups modulo 65536, an unlimited
        // last group, several "::", a ninth group that ends the text
        {"12345::", "23450000000000000000000000000000"},
        {"1::123456789", "00010000000000000000000000006789"},
        {"1::2::3", "00010000000200000000000000000003"},
        {"::1::2", "00000001000000000000000000000002"},
        {"1:2:3:4:5:6:7:8:9", "00010002000300040005000600070008"},
        // refused
        {"", kRefused},
        {":", kRefused},
        {":1", kRefused},
        {"1:", kRefused},
        {":::", kRefused},
        {"1:::2", kRefused},
        {"123456:1", kRefused},
        {"1:2:3:4:5:6:7:8:9:", kRefused},
        {"1:2:3:4:5:6:7:8:9:10", kRefused},
        {"1:2:3:4:5:6:7:8::", kRefused}, // "::" beside eight groups
        {"::1:2:3:4:5:6:7:8", kRefused},
        {"1:2:3:4::5:6:7:8", kRefused},
        {"1::2:3:4:5:6:7:8:9", kRefused},
        {"::ffff:1.2.3.4", kRefused}, // the dotted tail is not read
        {"1:g::", kRefused},
        {"1: 2", kRefused},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ip6(c.text), c.want) << c.text;
}

TEST(IpParse, Ip6ReadsOnlyTheGivenLength)
{
    EXPECT_EQ(ip6("1:2/64", 3), "00010002000000000000000000000000");
    EXPECT_EQ(ip6("fe80::1%eth0", 7), "fe800000000000000000000000000001");
    EXPECT_EQ(ip6("1:2", 2), kRefused); // ends on a lone ":"
}

TEST(IpParse, EitherFamily)
{
    struct Row {
        const char *text;
        int family;
        const char *want;
    };
    const Row rows[] = {
        {"10.1.2.3", 4, "0a010203000000000000000000000000"},
        {"2001:db8::1", 6, "20010db8000000000000000000000001"},
        {"10", 6, "00100000000000000000000000000000"}, // digits alone read as IPv6
        {"1.2.3.x", 0, kRefused},
        {"1.2:3", 0, kRefused},
        {"", 0, kRefused},
        {"host.example", 0, kRefused},
    };
    for (const Row &r : rows) {
        uint8_t d[16];
        memset(d, 0xee, sizeof d);
        int family = -1;
        const uint8_t *got = ip_parse_address(r.text, strlen(r.text), d, &family);
        EXPECT_EQ(got ? hex(d, 16) : kRefused, r.want) << r.text;
        EXPECT_EQ(family, r.family ? r.family : -1) << r.text;
    }
    uint8_t d[16];
    int family = 0;
    ASSERT_TRUE(ip_parse_address("1.2.3.4junk", 7, d, &family)); // len 0: whole text
    EXPECT_EQ(family, 4);
    EXPECT_FALSE(ip_parse_address("1.2.3.4junk", 0, d, &family));
}

struct Acl {
    ListLink *head = nullptr;
    ~Acl() { EXPECT_EQ(ip_acl_free(head), 0); }
};

TEST(IpAcl, AddRefusesBadRanges)
{
    const char *bad[] = {
        "10.0.0.0",     // no prefix
        "10.0.0.0/",    // an empty prefix is no /0
        "10.0.0.0/x",   // nor is a word
        "10.0.0.0/8x",  "10.0.0.0/-8", "10.0.0.0/ 8", "10.0.0.0/129", "::/129",
        "10.0.0.0/99999999999999999999", "/8", "//8", "",
        "1.2.3/8",      "host/8",    "10.0.0.0/8/", "1:2:3:4:5:6:7:8::/64",
    };
    Acl acl;
    for (const char *text : bad)
        EXPECT_EQ(ip_acl_add(&acl.head, text, 1), 0) << text;
    EXPECT_EQ(acl.head, nullptr);
}

TEST(IpAcl, NewestMatchingRangeWins)
{
    Acl acl;
    ASSERT_EQ(ip_acl_add(&acl.head, "10.0.0.0/8", 1), 1);
    ASSERT_EQ(ip_acl_add(&acl.head, "10.1.0.0/16", 2), 1);
    ASSERT_EQ(ip_acl_add(&acl.head, "2001:db8::/32", 3), 1);
    ASSERT_EQ(ip_acl_add(&acl.head, "192.168.1.7/32", 4), 1);
    ASSERT_EQ(ip_acl_add(&acl.head, "172.16.0.0/33", 5), 1); // IPv4 above 32: never matches
    ASSERT_EQ(ip_acl_add(&acl.head, "fe80::1/128", 6), 1);
    ASSERT_EQ(ip_acl_add(&acl.head, "10.1.2.0/0040", 7), 1); // leading zeros; over 32
    struct Row {
        const char *text;
        int matched;
        int32_t value;
    };
    const Row rows[] = {
        {"10.1.2.3", 1, 2},
        {"10.2.0.1", 1, 1},
        {"10.255.255.255", 1, 1},
        {"11.0.0.1", 0, 0},
        {"9.255.255.255", 0, 0},
        {"2001:db8:ffff::1", 1, 3},
        {"2001:db8::", 1, 3},
        {"2001:db9::1", 0, 0},
        {"2001:db7:ffff:ffff:ffff:ffff:ffff:ffff", 0, 0},
        {"192.168.1.7", 1, 4},
        {"192.168.1.6", 0, 0},
        {"172.16.0.1", 0, 0},
        {"fe80::1", 1, 6},
        {"fe80::2", 0, 0},
        {"::a01:203", 0, 0}, // an IPv6 range never holds an IPv4 address, nor the reverse
        {"not an address", 0, 0},
        {"", 0, 0},
    };
    for (const Row &r : rows) {
        int32_t value = -99;
        EXPECT_EQ(ip_acl_match(acl.head, r.text, &value), r.matched) << r.text;
        EXPECT_EQ(value, r.value) << r.text;
        EXPECT_EQ(ip_acl_match(acl.head, r.text, nullptr), r.matched) << r.text;
    }
}

TEST(IpAcl, ZeroPrefixHoldsItsWholeFamily)
{
    Acl acl;
    ASSERT_EQ(ip_acl_add(&acl.head, "0.0.0.0/0", 4), 1);
    ASSERT_EQ(ip_acl_add(&acl.head, "::/0", 6), 1);
    int32_t value = 0;
    EXPECT_EQ(ip_acl_match(acl.head, "255.1.2.3", &value), 1);
    EXPECT_EQ(value, 4);
    EXPECT_EQ(ip_acl_match(acl.head, "ffff::1", &value), 1);
    EXPECT_EQ(value, 6);
    EXPECT_EQ(ip_acl_match(nullptr, "1.2.3.4", &value), 0);
    EXPECT_EQ(value, 0);
}

TEST(IpAcl, FormatsRanges)
{
    const Case cases[] = {
        {"192.168.1.10/24", "192.168.1.10/24"},
        {"0.0.0.0/0", "0.0.0.0/0"},
        {"255.255.255.255/32", "255.255.255.255/32"},
        {"2001:db8:0:0:1:0:0:1/64", "2001:db8:0:0:1::1/64"}, // the later of equal runs
        {"::/0", "::/0"},
        {"2001:db8::/32", "2001:db8:0:0:0:0:0:0/32"}, // a run reaching the end stays written
        {"::1/128", "::1/128"},
        {"1::/16", "1:0:0:0:0:0:0:0/16"},
        {"0:0:1::/48", "::1:0:0:0:0:0/48"},
        {"1:0:2:0:0:3:0:4/100", "1:0:2::3:0:4/100"},
        {"1:0:0:2:0:0:0:3/100", "1:0:0:2::3/100"},
        {"fe80::ABCD:1/10", "fe80::abcd:1/10"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff/128",
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff/128"},
        {"10/8", "10:0:0:0:0:0:0:0/8"}, // digits alone read as IPv6: the range 10::/8
    };
    for (const Case &c : cases) {
        Acl acl;
        ASSERT_EQ(ip_acl_add(&acl.head, c.text, 0), 1) << c.text;
        char text[IP_CIDR_TEXT_SIZE];
        const AclEntry *e = LIST_RECORD(acl.head, AclEntry, link);
        EXPECT_EQ(std::string(ip_format_cidr(e, text)), c.want) << c.text;
    }
}

} // namespace
