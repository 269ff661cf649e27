// Address kinds, IDN conversion of domains, the preparation for SMTP and the
// Punycode coder, checked against RFC 3492's samples, Python's punycode and
// idna codecs and the idn2 command.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "helpers.h"
#include "mail/addr.h"
#include "support/str.h"

namespace {

// UTF-8 of a code point list (test data only holds valid code points).
std::string utf8(const std::vector<uint32_t> &cps)
{
    std::string s;
    for (uint32_t c : cps) {
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xc0 | c >> 6);
            s += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xe0 | c >> 12);
            s += static_cast<char>(0x80 | (c >> 6 & 0x3f));
            s += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            s += static_cast<char>(0xf0 | c >> 18);
            s += static_cast<char>(0x80 | (c >> 12 & 0x3f));
            s += static_cast<char>(0x80 | (c >> 6 & 0x3f));
            s += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return s;
}

struct PunySample {
    const char *name;
    std::vector<uint32_t> cps;
    const char *encoded;
};

// The sample strings of RFC 3492 section 7.1.
const std::vector<PunySample> &rfc3492_samples()
{
    static const std::vector<PunySample> samples = {
        {"A Arabic",
         {0x0644, 0x064A, 0x0647, 0x0645, 0x0627, 0x0628, 0x062A, 0x0643, 0x0644, 0x0645, 0x0648,
          0x0634, 0x0639, 0x0631, 0x0628, 0x064A, 0x061F},
         "egbpdaj6bu4bxfgehfvwxn"},
        {"B Chinese simplified",
         {0x4ED6, 0x4EEC, 0x4E3A, 0x4EC0, 0x4E48, 0x4E0D, 0x8BF4, 0x4E2D, 0x6587},
         "ihqwcrb4cv8a8dqg056pqjye"},
        {"C Chinese traditional",
         {0x4ED6, 0x5011, 0x7232, 0x4EC0, 0x9EBD, 0x4E0D, 0x8AAA, 0x4E2D, 0x6587},
         "ihqwctvzc91f659drss3x8bo0yb"},
        {"D Czech",
         {0x0050, 0x0072, 0x006F, 0x010D, 0x0070, 0x0072, 0x006F, 0x0073, 0x0074, 0x011B, 0x006E,
          0x0065, 0x006D, 0x006C, 0x0075, 0x0076, 0x00ED, 0x010D, 0x0065, 0x0073, 0x006B, 0x0079},
         "Proprostnemluvesky-uyb24dma41a"},
        {"E Hebrew",
         {0x05DC, 0x05DE, 0x05D4, 0x05D4, 0x05DD, 0x05E4, 0x05E9, 0x05D5, 0x05D8, 0x05DC, 0x05D0,
          0x05DE, 0x05D3, 0x05D1, 0x05E8, 0x05D9, 0x05DD, 0x05E2, 0x05D1, 0x05E8, 0x05D9, 0x05EA},
         "4dbcagdahymbxekheh6e0a7fei0b"},
        {"F Hindi",
         {0x092F, 0x0939, 0x0932, 0x094B, 0x0917, 0x0939, 0x093F, 0x0928, 0x094D, 0x0926,
          0x0940, 0x0915, 0x094D, 0x092F, 0x094B, 0x0902, 0x0928, 0x0939, 0x0940, 0x0902,
          0x092C, 0x094B, 0x0932, 0x0938, 0x0915, 0x0924, 0x0947, 0x0939, 0x0948, 0x0902},
         "i1baa7eci9glrd9b2ae1bj0hfcgg6iyaf8o0a1dig0cd"},
        {"G Japanese",
         {0x306A, 0x305C, 0x307F, 0x3093, 0x306A, 0x65E5, 0x672C, 0x8A9E, 0x3092, 0x8A71,
          0x3057, 0x3066, 0x304F, 0x308C, 0x306A, 0x3044, 0x306E, 0x304B},
         "n8jok5ay5dzabd5bym9f0cm5685rrjetr6pdxa"},
        {"H Korean",
         {0xC138, 0xACC4, 0xC758, 0xBAA8, 0xB4E0, 0xC0AC, 0xB78C, 0xB4E4, 0xC774, 0xD55C,
          0xAD6D, 0xC5B4, 0xB97C, 0xC774, 0xD574, 0xD55C, 0xB2E4, 0xBA74, 0xC5BC, 0xB9C8,
          0xB098, 0xC88B, 0xC744, 0xAE4C},
         "989aomsvi5e83db1d2a355cv1e0vak1dwrv93d5xbh15a0dt30a5jpsd879ccm6fea98c"},
        {"I Russian",
         {0x043F, 0x043E, 0x0447, 0x0435, 0x043C, 0x0443, 0x0436, 0x0435, 0x043E, 0x043D,
          0x0438, 0x043D, 0x0435, 0x0433, 0x043E, 0x0432, 0x043E, 0x0440, 0x044F, 0x0442,
          0x043F, 0x043E, 0x0440, 0x0443, 0x0441, 0x0441, 0x043A, 0x0438},
         "b1abfaaepdrnnbgefbadotcwatmq2g4l"},
        {"J Spanish",
         {0x0050, 0x006F, 0x0072, 0x0071, 0x0075, 0x00E9, 0x006E, 0x006F, 0x0070, 0x0075,
          0x0065, 0x0064, 0x0065, 0x006E, 0x0073, 0x0069, 0x006D, 0x0070, 0x006C, 0x0065,
          0x006D, 0x0065, 0x006E, 0x0074, 0x0065, 0x0068, 0x0061, 0x0062, 0x006C, 0x0061,
          0x0072, 0x0065, 0x006E, 0x0045, 0x0073, 0x0070, 0x0061, 0x00F1, 0x006F, 0x006C},
         "PorqunopuedensimplementehablarenEspaol-fmd56a"},
        {"K Vietnamese",
         {0x0054, 0x1EA1, 0x0069, 0x0073, 0x0061, 0x006F, 0x0068, 0x1ECD, 0x006B, 0x0068,
          0x00F4, 0x006E, 0x0067, 0x0074, 0x0068, 0x1EC3, 0x0063, 0x0068, 0x1EC9, 0x006E,
          0x00F3, 0x0069, 0x0074, 0x0069, 0x1EBF, 0x006E, 0x0067, 0x0056, 0x0069, 0x1EC7,
          0x0074},
         "TisaohkhngthchnitingVit-kjcr8268qyxafd2f1b9g"},
        {"L 3nenBgumi", {0x0033, 0x5E74, 0x0042, 0x7D44, 0x91D1, 0x516B, 0x5148, 0x751F},
         "3B-ww4c5e180e575a65lsy2b"},
        {"M with-SUPER-MONKEYS",
         {0x5B89, 0x5BA4, 0x5948, 0x7F8E, 0x6075, 0x002D, 0x0077, 0x0069, 0x0074, 0x0068,
          0x002D, 0x0053, 0x0055, 0x0050, 0x0045, 0x0052, 0x002D, 0x004D, 0x004F, 0x004E,
          0x004B, 0x0045, 0x0059, 0x0053},
         "-with-SUPER-MONKEYS-pc58ag80a8qai00g7n9n"},
        {"N Hello-Another-Way",
         {0x0048, 0x0065, 0x006C, 0x006C, 0x006F, 0x002D, 0x0041, 0x006E, 0x006F, 0x0074,
          0x0068, 0x0065, 0x0072, 0x002D, 0x0057, 0x0061, 0x0079, 0x002D, 0x305D, 0x308C,
          0x305E, 0x308C, 0x306E, 0x5834, 0x6240},
         "Hello-Another-Way--fc4qua05auwb3674vfr0b"},
        {"O hitotsu yane no shita 2",
         {0x3072, 0x3068, 0x3064, 0x5C4B, 0x6839, 0x306E, 0x4E0B, 0x0032},
         "2-u9tlzr9756bt3uc0v"},
        {"P MajiKoi5",
         {0x004D, 0x0061, 0x006A, 0x0069, 0x3067, 0x004B, 0x006F, 0x0069, 0x3059, 0x308B,
          0x0035, 0x79D2, 0x524D},
         "MajiKoi5-783gue6qz075azm5e"},
        {"Q pafii de runba", {0x30D1, 0x30D5, 0x30A3, 0x30FC, 0x0064, 0x0065, 0x30EB, 0x30F3, 0x30D0},
         "de-jg4avhby1noc0d"},
        {"R sono supiido de", {0x305D, 0x306E, 0x30B9, 0x30D4, 0x30FC, 0x30C9, 0x3067},
         "d9juau41awczczp"},
        {"S all basic",
         {0x002D, 0x003E, 0x0020, 0x0024, 0x0031, 0x002E, 0x0030, 0x0030, 0x0020, 0x003C, 0x002D},
         "-> $1.00 <--"},
    };
    return samples;
}

// Runs addr_idn_domain into a buffer with a guard zone after size bytes;
// fails the test when anything lands in the guard zone.
struct IdnResult {
    bool ok;
    std::string out;
};

IdnResult idn(const std::string &domain, size_t size = ADDR_BUF_SIZE)
{
    std::vector<char> buf(size + 32, 'Z');
    char *r = addr_idn_domain(domain.c_str(), buf.data(), size);
    for (size_t i = size; i < buf.size(); i++)
        EXPECT_EQ(buf[i], 'Z') << "written past the buffer at " << i;
    IdnResult res{r != nullptr, size ? std::string(buf.data()) : std::string()};
    if (r) {
        EXPECT_EQ(r, buf.data());
    }
    return res;
}

bool have_idn2()
{
    int status = -1;
    run_command("command -v idn2 >/dev/null", "", &status);
    return status == 0;
}

} // namespace

// ---- classification ------------------------------------------------------------

TEST(AddrClassify, KindsByTheBytesOfLocalPartAndDomain)
{
    const std::string l254 = std::string(242, 'a') + "@example.com"; // 254 bytes
    const std::string l255 = "a" + l254;
    ASSERT_EQ(l254.size(), 254u);
    struct Case {
        std::string address;
        int kind;
    } cases[] = {
        {"user@example.com", ADDR_KIND_ASCII},
        {"@example.com", ADDR_KIND_ASCII},   // begins with its "@"
        {"user@", ADDR_KIND_ASCII},          // ends with it
        {"a b@c d", ADDR_KIND_ASCII},        // grammar is not this test's concern
        {"a@b@c", ADDR_KIND_ASCII},
        {"~!#$%&'*+/=?^_`{|}@x", ADDR_KIND_ASCII},
        {l254, ADDR_KIND_ASCII},
        {"user@\xc3\xa9xample.com", ADDR_KIND_UTF8_DOMAIN}, // first domain byte
        {"user@b\xc3\xbc" "cher.example", ADDR_KIND_UTF8_DOMAIN},
        {"user@\xf0\x9f\x98\x80.example", ADDR_KIND_UTF8_DOMAIN},
        {"j\xc3\xb6rg@example.com", ADDR_KIND_UTF8_LOCAL},
        {"j\xc3\xb6rg@b\xc3\xbc" "cher.example", ADDR_KIND_UTF8_LOCAL},
        {"\xc3\xa9@", ADDR_KIND_UTF8_LOCAL},
        {"a@b\xc3\xa9@c", ADDR_KIND_UTF8_LOCAL}, // the last "@" splits: a domain holds none
        {"\"a@b\"@b\xc3\xa9", ADDR_KIND_UTF8_DOMAIN},
        // Unusable.
        {"", ADDR_KIND_BAD},
        {"userexample.com", ADDR_KIND_BAD},
        {"j\xc3\xb6rg", ADDR_KIND_BAD},
        {l255, ADDR_KIND_BAD},
        {std::string(300, 'x') + "@y", ADDR_KIND_BAD},
        // Control bytes never pass, wherever they stand.
        {"user@example.com\r\nRCPT TO:<x@y>", ADDR_KIND_BAD},
        {"us\ner@example.com", ADDR_KIND_BAD},
        {"user\r@example.com", ADDR_KIND_BAD},
        {"user@exa\tmple.com", ADDR_KIND_BAD},
        {"\x01user@example.com", ADDR_KIND_BAD},
        // The characters readers take for controls or line ends: C1, U+2028, U+2029.
        {"us\xc2\x85" "er@example.com", ADDR_KIND_BAD},
        {"user@exa\xc2\x9f" "mple.com", ADDR_KIND_BAD},
        {"user\xe2\x80\xa8@example.com", ADDR_KIND_BAD},
        {"user@example.com\xe2\x80\xa9", ADDR_KIND_BAD},
        {"us\xc2\xa0" "er@example.com", ADDR_KIND_UTF8_LOCAL}, // U+00A0 is no control
        {"user@\xe2\x80\xa7.example", ADDR_KIND_UTF8_DOMAIN},
        {"user@example.com\x1f", ADDR_KIND_BAD},
        {"user@example.com\x7f", ADDR_KIND_BAD},
        {"j\xc3\xb6rg\r@b\xc3\xbc" "cher", ADDR_KIND_BAD},
        {"user@b\xc3\xbc\n" "cher", ADDR_KIND_BAD},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.address));
        EXPECT_EQ(addr_classify(c.address.c_str()), c.kind);
    }
    EXPECT_EQ(addr_classify(nullptr), ADDR_KIND_BAD);
    // A NUL ends the text: what follows it is not part of the address.
    EXPECT_EQ(addr_classify(std::string("user\0@example.com", 17).c_str()), ADDR_KIND_BAD);
}

// ---- IDN -------------------------------------------------------------------------

TEST(AddrIdn, MappedAsIdnaWithoutEmptyLabels)
{
    struct Case {
        const char *domain;
        const char *expect;
    } cases[] = {
        {"b\xc3\xbc" "cher.example", "xn--bcher-kva.example"},
        {"example.com", "example.com"},
        {"Example.COM", "Example.COM"},            // an ASCII domain keeps its bytes
        {"xn--bcher-kva.example", "xn--bcher-kva.example"},
        {"XN--BCHER-KVA.Example", "XN--BCHER-KVA.Example"},
        {"[192.0.2.1]", "[192.0.2.1]"},            // address literals as written
        {"[IPv6:2001:db8::1]", "[IPv6:2001:db8::1]"},
        {"B\xc3\xbc" "cher.DE", "xn--bcher-kva.de"}, // case folded, every label
        {"stra\xc3\x9f" "e.de", "xn--strae-oqa.de"}, // sharp s stays (nontransitional)
        {"\xf0\x9d\x90\x80.com", "a.com"},        // beyond U+FFFF: bold A maps to a
        {"b\xc3\xbc" "cher\xe3\x80\x82" "example", "xn--bcher-kva.example"}, // ideographic full stop
        {"b\xc3\xbc" "cher.\xe4\xbe\x8b\xe3\x81\x88.\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88",
         "xn--bcher-kva.xn--r8jz45g.xn--zckzah"},
        {".b\xc3\xbc" "cher..example.", "xn--bcher-kva.example"},
        {"...", ""},
        {"", ""},
        {"a..b", "a.b"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.domain));
        IdnResult r = idn(c.domain);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.out, c.expect);
    }
}

TEST(AddrIdn, PunycodeCoderAgreesWithPythonsPunycodeCodec)
{
    // Labels with capitals, sharp s, marks and 4-byte characters through the
    // coder alone (no IDNA mapping), so the plain punycode codec is the
    // oracle.
    const std::vector<std::string> labels = {
        "b\xc3\xbc" "cher", "B\xc3\xbc" "CHER", "stra\xc3\x9f" "e", "\xe4\xbe\x8b\xe3\x81\x88",
        "\xf0\x9f\x98\x80\xf0\x9f\x98\x81", "a\xf0\x9d\x84\x9e" "b", "caf\xc3\xa9",
        "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80", "m\xc3\xbcnchen-2024",
        "\xce\xb5\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xac",
    };
    std::string input, expect;
    for (const std::string &l : labels) {
        input += to_hex(l) + "\n";
        std::vector<uint32_t> cps;
        uint32_t cp = 0;
        for (size_t i = 0, n; i < l.size(); i += n) {
            n = utf8_decode(l.data() + i, l.size() - i, &cp);
            ASSERT_GT(n, 0u) << to_hex(l);
            cps.push_back(cp);
        }
        char out[ADDR_BUF_SIZE];
        uint64_t len = sizeof out;
        ASSERT_EQ(addr_punycode_encode(cps.size(), cps.data(), nullptr, &len, out), PUNY_SUCCESS);
        expect += "xn--" + std::string(out, len) + "\n";
    }
    std::string py = run_python("import sys\n"
                                "for h in sys.stdin.read().split():\n"
                                "    s = bytes.fromhex(h).decode('utf-8')\n"
                                "    print('xn--' + s.encode('punycode').decode('ascii'))\n",
                                input);
    EXPECT_EQ(expect, py);
}

TEST(AddrIdn, AgreesWithIdnaOraclesForLowerCaseDomains)
{
    // Lower-case, already normalised labels: IDNA's mapping changes nothing
    // there, so Python's idna codec and idn2 must give our bytes.
    const std::vector<std::string> domains = {
        "b\xc3\xbc" "cher.example",
        "m\xc3\xbcnchen.de",
        "\xe4\xbe\x8b\xe3\x81\x88.\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88",
        "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80.\xd0\xb8\xd1\x81\xd0\xbf\xd1\x8b\xd1\x82"
        "\xd0\xb0\xd0\xbd\xd0\xb8\xd0\xb5",
        "mail.\xce\xb5\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xac.gr",
        "sub.caf\xc3\xa9.fr",
    };
    std::string input, ours;
    for (const std::string &d : domains) {
        input += d + "\n";
        IdnResult r = idn(d);
        EXPECT_TRUE(r.ok) << d;
        ours += r.out + "\n";
    }
    std::string py = run_python("import sys\n"
                                "for d in sys.stdin.buffer.read().decode('utf-8').split():\n"
                                "    print(d.encode('idna').decode('ascii'))\n",
                                input);
    EXPECT_EQ(ours, py);
    if (!have_idn2())
        GTEST_SKIP() << "idn2 not installed";
    int status = -1;
    std::string out = run_command("LC_ALL=C.UTF-8 idn2", input, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ours, out);
}

TEST(AddrIdn, MalformedUtf8AndControlBytesFail)
{
    // Every case follows two good labels: out keeps them, nothing else.
    const char *bad_labels[] = {
        "\x80" "abc",             // stray continuation byte
        "ab\xbf",
        "ab\xc3",                 // cut by the end of the text
        "ab\xc3.com",             // cut by the end of the label
        "ab\xe2\x82.com",
        "ab\xf0\x9f\x98.com",
        "b\xc3" "cher.com",       // lead byte followed by an ASCII byte
        "\xc0\xaf.com",           // overlong forms
        "\xc1\xbf.com",
        "\xe0\x80\xaf.com",
        "\xf0\x80\x80\xaf.com",
        "\xed\xa0\x80.com",       // surrogate
        "\xed\xbf\xbf.com",
        "\xf4\x90\x80\x80.com",   // above U+10FFFF
        "\xf8\x88\x80\x80\x80.com",
        "\xfe.com",
        "\xff",
        "b\xc3\xbc\rcher.com",    // control bytes, in either kind of label
        "exa\nmple.com",
        "exa\x01mple",
        "a\x7f.com",
        "a\tb.com",
    };
    for (const char *l : bad_labels) {
        std::string domain = std::string("first.b\xc3\xbc" "cher.") + l;
        SCOPED_TRACE(to_hex(domain));
        IdnResult r = idn(domain);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.out, "first.xn--bcher-kva");
    }
    char out[8] = "keep";
    EXPECT_EQ(addr_idn_domain(nullptr, out, sizeof out), nullptr);
    EXPECT_STREQ(out, "");
    // A non-ASCII label longer than any usable one is refused, not cut.
    std::string huge;
    for (int i = 0; i < 130; i++)
        huge += "\xc3\xa9";
    EXPECT_FALSE(idn(huge + ".com").ok);
}

TEST(AddrIdn, RefusesLabelsThatAreNotValid)
{
    std::string seventy;
    for (int i = 0; i < 70; i++)
        seventy += "\xc3\xa4";
    struct Case {
        std::string domain;
        int status;
    } cases[] = {
        {"xn--.example", ADDR_IDN_INVALID},              // no Punycode after the prefix
        {"XN--.example", ADDR_IDN_INVALID},
        {"xn--zz-zzzzzzzzzz.example", ADDR_IDN_INVALID}, // Punycode that does not decode
        {"xn--a.example", ADDR_IDN_INVALID},             // decodes to a control character
        {"xn--ls8h.example", ADDR_IDN_INVALID},          // decodes to what IDNA disallows
        {"xn--zz-zzzzzzzzzz.b\xc3\xbc" "cher.example", ADDR_IDN_INVALID},
        {"\xf0\x9f\x98\x80.example", ADDR_IDN_INVALID}, // emoji are disallowed
        {"b\xc3\xbc" "cher-.example", ADDR_IDN_INVALID},  // a hyphen at the end
        {"ab--c.b\xc3\xbc" "cher.example", ADDR_IDN_INVALID}, // hyphens in 3rd and 4th place
        {seventy + ".example", ADDR_IDN_LABEL_TOO_LONG},  // a 74-byte A-label
        {std::string(59, 'l') + "\xc3\xa4.example", ADDR_IDN_LABEL_TOO_LONG},
        {std::string(64, 'l') + ".example", ADDR_IDN_LABEL_TOO_LONG},
        {"b\xc3\xbc" "cher.\xe3\x80\x82" "example", ADDR_IDN_INVALID}, // mapping gives an empty label
        {"[192.0.2.1\xc3\xa4]", ADDR_IDN_BAD_BYTES},
        // Mappings to ASCII that is no letter, digit or hyphen (STD3), and
        // the three characters whose decomposition begins with "=", "<", ">".
        {"good.example\xef\xbc\x8c" "bob\xef\xbc\xa0" "evil.example", ADDR_IDN_NOT_LDH}, // U+FF0C U+FF20
        {"b\xc3\xbc" "cher.example\xef\xbc\xa0" "evil.example", ADDR_IDN_NOT_LDH},
        {"good.example\xef\xbc\x9e\xe3\x80\x80" "NOTIFY=NEVER", ADDR_IDN_NOT_LDH},    // U+FF1E U+3000
        {"a\xef\xbc\xbf" "b.example", ADDR_IDN_NOT_LDH},     // full-width low line
        {"\xe2\x91\xb4.example", ADDR_IDN_NOT_LDH},         // U+2474 maps to "(1)"
        {"a\xe2\x89\xa0" "b.example", ADDR_IDN_NOT_LDH},     // U+2260
        {"a=\xcc\xb8" "b.example", ADDR_IDN_NOT_LDH},         // its decomposed form
        {"a\xe2\x89\xaf" "b.example", ADDR_IDN_NOT_LDH},     // U+226F
        {"b\xc3\xbc" "cher_x.example", ADDR_IDN_NOT_LDH},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.domain));
        char out[ADDR_BUF_SIZE];
        EXPECT_EQ(addr_idn_convert(c.domain.c_str(), out, sizeof out), c.status);
        EXPECT_EQ(addr_idn_domain(c.domain.c_str(), out, sizeof out), nullptr);
        EXPECT_STRNE(addr_idn_reason(c.status), addr_idn_reason(ADDR_IDN_OK));
    }
}

TEST(AddrIdn, OutputThatDoesNotFitFailsAtEveryBoundary)
{
    const std::string domain = "b\xc3\xbc" "cher.example.m\xc3\xbcnchen.de";
    const std::vector<std::string> whole_labels = {
        "", "xn--bcher-kva", "xn--bcher-kva.example", "xn--bcher-kva.example.xn--mnchen-3ya",
        "xn--bcher-kva.example.xn--mnchen-3ya.de"};
    const std::string &full = whole_labels.back();
    for (size_t size = 0; size <= full.size() + 2; size++) {
        SCOPED_TRACE(size);
        IdnResult r = idn(domain, size);
        EXPECT_EQ(r.ok, size > full.size());
        if (size == 0)
            continue;
        // out holds the longest run of whole labels that fits: never a cut.
        std::string expect;
        for (const std::string &p : whole_labels)
            if (p.size() < size)
                expect = p;
        EXPECT_EQ(r.out, expect);
    }
    // A result beyond the 253 bytes DNS allows fails even when each label
    // fits and the buffer is larger.
    std::string many;
    for (int i = 0; i < 20; i++)
        many += "b\xc3\xbc" "cher.";
    EXPECT_FALSE(idn(many).ok);
    std::vector<char> big(1024);
    EXPECT_EQ(addr_idn_convert(many.c_str(), big.data(), big.size()), ADDR_IDN_DOMAIN_TOO_LONG);
    std::string ascii = std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
                        std::string(61, 'd'); // 253 bytes
    EXPECT_EQ(addr_idn_convert(ascii.c_str(), big.data(), big.size()), ADDR_IDN_OK);
    EXPECT_EQ(addr_idn_convert((ascii + "d").c_str(), big.data(), big.size()), ADDR_IDN_DOMAIN_TOO_LONG);
}

// ---- preparation for SMTP --------------------------------------------------------

TEST(AddrPrepare, WithAndWithoutSmtputf8)
{
    const std::string l254 = std::string(250, 'a') + "@b.c";
    const std::string bucher = "b\xc3\xbc" "cher.example";
    struct Case {
        std::string address;
        int smtputf8;
        const char *envelope; // NULL: refused, output untouched
        int kind;
        std::string header;   // empty: refused, output untouched
    } cases[] = {
        {"user@example.com", 0, "user@example.com", ADDR_KIND_ASCII, "user@example.com"},
        {"user@example.com", 1, "user@example.com", ADDR_KIND_ASCII, "user@example.com"},
        {"user@a..example.com.", 0, "user@a.example.com", ADDR_KIND_ASCII, "user@a.example.com"},
        {"user@a..example.com.", 1, "user@a..example.com.", ADDR_KIND_ASCII, "user@a..example.com."},
        {"user@Example.COM", 1, "user@Example.COM", ADDR_KIND_ASCII, "user@Example.COM"},
        {"user@XN--BCHER-KVA.example", 1, "user@XN--BCHER-KVA.example", ADDR_KIND_ASCII,
         "user@XN--BCHER-KVA.example"},
        // A non-ASCII domain goes as its A-label into the envelope, with
        // SMTPUTF8 too; the header shows its U-labels with SMTPUTF8.
        {"user@" + bucher, 0, "user@xn--bcher-kva.example", ADDR_KIND_UTF8_DOMAIN, "user@xn--bcher-kva.example"},
        {"user@" + bucher, 1, "user@xn--bcher-kva.example", ADDR_KIND_UTF8_DOMAIN, "user@" + bucher},
        {"Mixed.Case@B\xc3\xbc" "cher.Example", 0, "Mixed.Case@xn--bcher-kva.example", ADDR_KIND_UTF8_DOMAIN,
         "Mixed.Case@xn--bcher-kva.example"},
        {"Mixed.Case@B\xc3\xbc" "cher.Example", 1, "Mixed.Case@xn--bcher-kva.example", ADDR_KIND_UTF8_DOMAIN,
         "Mixed.Case@b\xc3\xbc" "cher.example"},
        {"u@bu\xcc\x88" "cher\xe3\x80\x82" "EXAMPLE", 1, "u@xn--bcher-kva.example", ADDR_KIND_UTF8_DOMAIN,
         "u@" + bucher}, // NFD, an ideographic full stop, capitals
        {"u@\xef\xbd\x85\xef\xbd\x98.org", 1, "u@ex.org", ADDR_KIND_UTF8_DOMAIN, "u@ex.org"}, // full-width letters
        {"@b\xc3\xbc" "cher", 0, "@xn--bcher-kva", ADDR_KIND_UTF8_DOMAIN, "@xn--bcher-kva"},
        // A non-ASCII local part needs SMTPUTF8 in the envelope; the header
        // keeps it, its domain mapped all the same.
        {"j\xc3\xb6rg@example.com", 0, nullptr, ADDR_KIND_UTF8_LOCAL, "j\xc3\xb6rg@example.com"},
        {"j\xc3\xb6rg@example.com", 1, "j\xc3\xb6rg@example.com", ADDR_KIND_UTF8_LOCAL, "j\xc3\xb6rg@example.com"},
        {"j\xc3\xb6rg@B\xc3\xbc" "cher.example", 0, nullptr, ADDR_KIND_UTF8_LOCAL,
         "j\xc3\xb6rg@xn--bcher-kva.example"},
        {"j\xc3\xb6rg@B\xc3\xbc" "cher.example", 1, "j\xc3\xb6rg@xn--bcher-kva.example", ADDR_KIND_UTF8_LOCAL,
         "j\xc3\xb6rg@" + bucher},
        {"user@\x80" "bad.example", 0, nullptr, ADDR_KIND_UTF8_DOMAIN, ""}, // cannot convert
        {"user@\x80" "bad.example", 1, nullptr, ADDR_KIND_UTF8_DOMAIN, ""},
        {"user@xn--.example", 1, nullptr, ADDR_KIND_ASCII, ""}, // no domain with or without SMTPUTF8
        {"user@xn--.example", 0, nullptr, ADDR_KIND_ASCII, ""},
        {"a@good.example\xef\xbc\x8c" "b\xef\xbc\xa0" "evil.example", 1, nullptr, ADDR_KIND_UTF8_DOMAIN, ""},
        {"a@good.example\xef\xbc\x8c" "b\xef\xbc\xa0" "evil.example", 0, nullptr, ADDR_KIND_UTF8_DOMAIN, ""},
        {"user@[192.0.2.1]", 0, "user@[192.0.2.1]", ADDR_KIND_ASCII, "user@[192.0.2.1]"},
        // A quoted local part may hold "@": the domain follows the last one.
        {"\"a@b\"@" + bucher, 0, "\"a@b\"@xn--bcher-kva.example", ADDR_KIND_UTF8_DOMAIN,
         "\"a@b\"@xn--bcher-kva.example"},
        {"\"j\xc3\xb6rg@x\"@example.com", 0, nullptr, ADDR_KIND_UTF8_LOCAL, "\"j\xc3\xb6rg@x\"@example.com"},
        {"no-at-sign", 0, nullptr, ADDR_KIND_BAD, ""},
        {"no-at-sign", 1, nullptr, ADDR_KIND_BAD, ""},
        {"", 1, nullptr, ADDR_KIND_BAD, ""},
        {"user@example.com\r\nDATA", 1, nullptr, ADDR_KIND_BAD, ""},
        {"user@example.com\r\nDATA", 0, nullptr, ADDR_KIND_BAD, ""},
        {std::string(251, 'a') + "@b.c", 1, nullptr, ADDR_KIND_BAD, ""}, // 255 bytes
        {l254, 0, l254.c_str(), ADDR_KIND_ASCII, l254},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.address) + " smtputf8 " + std::to_string(c.smtputf8));
        char out[ADDR_BUF_SIZE];
        strcpy(out, "untouched");
        int kind = -1;
        char *r = addr_prepare_for_smtp(c.address.c_str(), out, sizeof out, &kind, c.smtputf8);
        EXPECT_EQ(kind, c.kind);
        if (c.envelope) {
            EXPECT_EQ(r, out);
            EXPECT_STREQ(out, c.envelope);
        } else {
            EXPECT_EQ(r, nullptr);
            EXPECT_STREQ(out, "untouched");
        }
        // kind is optional.
        char again[ADDR_BUF_SIZE];
        EXPECT_EQ(addr_prepare_for_smtp(c.address.c_str(), again, sizeof again, nullptr,
                                        c.smtputf8) != nullptr,
                  c.envelope != nullptr);
        char shown[ADDR_SHOWN_BUF_SIZE];
        strcpy(shown, "untouched");
        r = addr_prepare_for_header(c.address.c_str(), shown, sizeof shown, c.smtputf8);
        EXPECT_STREQ(shown, c.header.empty() ? "untouched" : c.header.c_str());
        EXPECT_EQ(r, c.header.empty() ? nullptr : shown);
    }
}

TEST(AddrPrepare, RefusesAResultThatDoesNotFit)
{
    struct Case {
        const char *address;
        int smtputf8;
        bool header;
        const char *expect;
    } cases[] = {
        {"user@b\xc3\xbc" "cher.example", 0, false, "user@xn--bcher-kva.example"},
        {"user@b\xc3\xbc" "cher.example", 1, false, "user@xn--bcher-kva.example"},
        {"user@B\xc3\xbc" "cher.example.m\xc3\xbcnchen.de", 1, true, "user@b\xc3\xbc" "cher.example.m\xc3\xbcnchen.de"},
        {"user@example.com", 0, false, "user@example.com"},
        {"user@example.com", 1, true, "user@example.com"},
    };
    for (const Case &c : cases) {
        size_t need = strlen(c.expect) + 1;
        for (size_t size = 0; size <= need; size++) {
            SCOPED_TRACE(std::string(c.expect) + " size " + std::to_string(size));
            std::vector<char> buf(need + 16, 'Z');
            int kind = -1;
            char *r = c.header ? addr_prepare_for_header(c.address, buf.data(), size, c.smtputf8)
                               : addr_prepare_for_smtp(c.address, buf.data(), size, &kind, c.smtputf8);
            EXPECT_NE(kind, ADDR_KIND_BAD);
            if (size == need) {
                EXPECT_EQ(r, buf.data());
                EXPECT_STREQ(buf.data(), c.expect);
            } else {
                EXPECT_EQ(r, nullptr);
                for (char ch : buf)
                    ASSERT_EQ(ch, 'Z'); // untouched on failure
            }
        }
    }
    // A 254-byte address whose conversion outgrows 255 bytes is refused
    // for the envelope.
    std::string address = std::string(200, 'a') + "@";
    while (address.size() + 7 <= 254)
        address += "\xc3\xa9\xc3\xa9.";
    address += "x";
    ASSERT_LE(address.size(), 254u);
    char out[ADDR_SHOWN_BUF_SIZE];
    int kind = -1;
    EXPECT_EQ(addr_prepare_for_smtp(address.c_str(), out, sizeof out, &kind, 0), nullptr);
    EXPECT_EQ(kind, ADDR_KIND_UTF8_DOMAIN);
    // A mapping may make a domain longer than its input: U+337F maps to
    // four characters. The header form of the longest such domain fits.
    std::string grown = "a@";
    for (int label = 0; label < 4; label++) {
        for (int i = 0; i < 4; i++)
            grown += "\xe3\x8d\xbf";
        grown += label < 3 ? "." : "";
    }
    char shown[ADDR_SHOWN_BUF_SIZE];
    ASSERT_NE(addr_prepare_for_header(grown.c_str(), shown, sizeof shown, 1), nullptr);
    EXPECT_GT(strlen(shown), grown.size());
    EXPECT_TRUE(utf8_valid(shown));
}

// The Unicode form is the A-label decoded: it maps to the same A-label and
// is its own Unicode form.
TEST(AddrIdn, UnicodeFormRoundTrips)
{
    const char *domains[] = {
        "B\xc3\xbc" "cher.Example",
        "\xe4\xbe\x8b\xe3\x81\x88.\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88",
        "\xef\xbc\xa2\xc3\x9c" "cher\xe3\x80\x82" "example",
        "\xf0\x9d\x90\x80.com",
        "stra\xc3\x9f" "e.de",
        "xn--bcher-kva.example",
    };
    for (const char *d : domains) {
        SCOPED_TRACE(to_hex(d));
        char ascii[ADDR_BUF_SIZE], unicode[ADDR_SHOWN_BUF_SIZE], again[ADDR_BUF_SIZE], twice[ADDR_SHOWN_BUF_SIZE];
        ASSERT_EQ(addr_idn_convert(d, ascii, sizeof ascii), ADDR_IDN_OK);
        ASSERT_EQ(addr_idn_unicode(d, unicode, sizeof unicode), ADDR_IDN_OK);
        ASSERT_EQ(addr_idn_convert(unicode, again, sizeof again), ADDR_IDN_OK);
        EXPECT_STREQ(again, ascii);
        ASSERT_EQ(addr_idn_unicode(unicode, twice, sizeof twice), ADDR_IDN_OK);
        EXPECT_STREQ(twice, str_is_ascii(d) ? d : unicode);
    }
    char out[ADDR_SHOWN_BUF_SIZE];
    EXPECT_EQ(addr_idn_unicode("a\xef\xbc\x8c" "b.example", out, sizeof out), ADDR_IDN_NOT_LDH);
    EXPECT_STREQ(out, "");
}

// ---- Punycode ------------------------------------------------------------------

TEST(Punycode, Rfc3492SamplesEncodeAndDecode)
{
    for (const PunySample &s : rfc3492_samples()) {
        SCOPED_TRACE(s.name);
        char out[128];
        uint64_t len = sizeof out;
        ASSERT_EQ(addr_punycode_encode(s.cps.size(), s.cps.data(), nullptr, &len, out),
                  PUNY_SUCCESS);
        EXPECT_EQ(std::string(out, len), s.encoded);

        uint32_t cps[128];
        unsigned char flags[128];
        uint64_t count = 128;
        ASSERT_EQ(addr_punycode_decode(strlen(s.encoded), s.encoded, &count, cps, flags),
                  PUNY_SUCCESS);
        EXPECT_EQ(std::vector<uint32_t>(cps, cps + count), s.cps);
        // Flags mark the basic letters written in upper case.
        for (uint64_t i = 0; i < count; i++)
            EXPECT_EQ(flags[i], cps[i] >= 'A' && cps[i] <= 'Z') << i;
        count = 128;
        EXPECT_EQ(addr_punycode_decode(strlen(s.encoded), s.encoded, &count, cps, nullptr),
                  PUNY_SUCCESS);
    }
}

TEST(Punycode, SamplesAgreeWithPython)
{
    std::string input, expect;
    for (const PunySample &s : rfc3492_samples()) {
        input += to_hex(utf8(s.cps)) + "\n";
        expect += std::string(s.encoded) + "\n";
    }
    EXPECT_EQ(run_python("import sys\n"
                         "for h in sys.stdin.read().split():\n"
                         "    print(bytes.fromhex(h).decode('utf-8').encode('punycode')"
                         ".decode('ascii'))\n",
                         input),
              expect);
}

TEST(Punycode, CaseFlagsAnnotateAndComeBack)
{
    const std::vector<uint32_t> cps = {'b', 0xFC, 'c', 'h', 'E', 'r'};
    struct Case {
        std::vector<unsigned char> flags;
        const char *encoded;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0}, "bcher-kva"},  // flags clear force lower case
        {{1, 0, 0, 0, 1, 0}, "BchEr-kva"},
        {{0, 1, 0, 0, 0, 0}, "bcher-kvA"},  // the last digit of the delta
        {{1, 1, 1, 1, 1, 1}, "BCHER-kvA"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.encoded);
        char out[32];
        uint64_t len = sizeof out;
        ASSERT_EQ(addr_punycode_encode(cps.size(), cps.data(), c.flags.data(), &len, out),
                  PUNY_SUCCESS);
        EXPECT_EQ(std::string(out, len), c.encoded);
        uint32_t back[32];
        unsigned char flags[32];
        uint64_t count = 32;
        ASSERT_EQ(addr_punycode_decode(len, out, &count, back, flags), PUNY_SUCCESS);
        ASSERT_EQ(count, cps.size());
        for (size_t i = 0; i < cps.size(); i++) {
            uint32_t expect_cp = cps[i] < 0x80 ? (c.flags[i] ? toupper(static_cast<int>(cps[i]))
                                                             : tolower(static_cast<int>(cps[i])))
                                               : cps[i];
            EXPECT_EQ(back[i], expect_cp) << i;
            EXPECT_EQ(flags[i], c.flags[i]) << i;
        }
    }
    // Without flags basic code points are copied as they are.
    char out[32];
    uint64_t len = sizeof out;
    ASSERT_EQ(addr_punycode_encode(cps.size(), cps.data(), nullptr, &len, out), PUNY_SUCCESS);
    EXPECT_EQ(std::string(out, len), "bchEr-kva");
}

TEST(Punycode, CapacityIsCheckedBeforeEveryWrite)
{
    for (const PunySample &s : rfc3492_samples()) {
        SCOPED_TRACE(s.name);
        const size_t n = strlen(s.encoded);
        for (size_t cap = 0; cap <= n; cap++) {
            std::vector<char> out(n + 8, 'Z');
            uint64_t len = cap;
            int st = addr_punycode_encode(s.cps.size(), s.cps.data(), nullptr, &len, out.data());
            EXPECT_EQ(st, cap == n ? PUNY_SUCCESS : PUNY_BIG_OUTPUT) << cap;
            for (size_t i = cap; i < out.size(); i++)
                ASSERT_EQ(out[i], 'Z') << "cap " << cap << " written at " << i;
        }
        const size_t m = s.cps.size();
        for (size_t cap = 0; cap <= m; cap++) {
            std::vector<uint32_t> out(m + 4, 0xdeadbeef);
            std::vector<unsigned char> flags(m + 4, 0xee);
            uint64_t count = cap;
            int st = addr_punycode_decode(n, s.encoded, &count, out.data(), flags.data());
            EXPECT_EQ(st, cap == m ? PUNY_SUCCESS : PUNY_BIG_OUTPUT) << cap;
            for (size_t i = cap; i < out.size(); i++) {
                ASSERT_EQ(out[i], 0xdeadbeefu) << "cap " << cap << " written at " << i;
                ASSERT_EQ(flags[i], 0xee) << "cap " << cap << " flag written at " << i;
            }
        }
    }
}

TEST(Punycode, DecoderRefusesBadInputAndOverflow)
{
    struct Case {
        std::string input;
        int status;
    } cases[] = {
        {"abc-!x", PUNY_BAD_INPUT},        // not a digit
        {"bcher-kv", PUNY_BAD_INPUT},      // ends inside a number
        {"z", PUNY_BAD_INPUT},
        {"\xc3\xa9-kva", PUNY_BAD_INPUT},  // basic part above 0x7F
        {"-", PUNY_BAD_INPUT},             // a leading "-" is read as a digit
        {"99999999999999", PUNY_OVERFLOW}, // the value leaves 32 bits
        {"bcher-kva", PUNY_SUCCESS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input);
        uint32_t out[64];
        uint64_t count = 64;
        EXPECT_EQ(addr_punycode_decode(c.input.size(), c.input.data(), &count, out, nullptr),
                  c.status);
    }
}

TEST(Punycode, EncoderReportsOverflow)
{
    // The delta to a code point near 2^32 after one other leaves 32 bits.
    const uint32_t far[] = {0x80, 0xFFFFFFF0u};
    char out[64];
    uint64_t len = sizeof out;
    EXPECT_EQ(addr_punycode_encode(2, far, nullptr, &len, out), PUNY_OVERFLOW);
    // More code points than 32 bits can count: refused before reading.
    const uint32_t one[] = {'a'};
    len = sizeof out;
    EXPECT_EQ(addr_punycode_encode(uint64_t(1) << 32, one, nullptr, &len, out), PUNY_OVERFLOW);
    // Empty input: empty output.
    len = sizeof out;
    EXPECT_EQ(addr_punycode_encode(0, one, nullptr, &len, out), PUNY_SUCCESS);
    EXPECT_EQ(len, 0u);
}
