// The DKIM signer's pieces: canonicalisation against the examples of
// RFC 6376, the key registry, and the layout and header choice of the
// signature field. Signatures themselves are checked by real verifiers in
// the end-to-end tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dkim/dkim.h"
#include "tests/unit/keygen.h"

namespace {

void append(void *user, const char *data, size_t len) { static_cast<std::string *>(user)->append(data, len); }

std::string header(int relaxed, const std::string &field)
{
    std::string out;
    dkim_canon_header(relaxed, field.data(), field.size(), 1, append, &out);
    return out;
}

std::string body(int relaxed, const std::string &text)
{
    std::string out;
    dkim_canon_body(relaxed, text.data(), text.size(), append, &out);
    return out;
}

struct Registry {
    AvlNode *root = nullptr;
    ~Registry() { dkim_keys_free(&root); }
};

} // namespace

TEST(DkimCanon, Rfc6376Example)
{
    // RFC 6376 3.4.5.
    EXPECT_EQ(header(1, "A: X"), "a:X\r\n");
    EXPECT_EQ(header(1, "B : Y\t\r\n\tZ  "), "b:Y Z\r\n");
    EXPECT_EQ(header(0, "B : Y\t\r\n\tZ  "), "B : Y\t\r\n\tZ  \r\n");
    EXPECT_EQ(body(1, " C \r\nD \t E\r\n\r\n\r\n"), " C\r\nD E\r\n");
    EXPECT_EQ(body(0, " C \r\nD \t E\r\n\r\n\r\n"), " C \r\nD \t E\r\n");
}

TEST(DkimCanon, EdgeCases)
{
    struct Case {
        int relaxed;
        bool is_header;
        std::string in, out;
    } cases[] = {
        {1, true, "Subject:  Hello\r\n\t World  ", "subject:Hello World\r\n"},
        {1, true, "Subject:   \t ", "subject:\r\n"},
        {1, true, "FROM:a@b", "from:a@b\r\n"},
        {0, true, "Subject: x\r\n\ty", "Subject: x\r\n\ty\r\n"},
        // An empty body: one line end (simple), nothing (relaxed).
        {0, false, "", "\r\n"},
        {1, false, "", ""},
        {0, false, "\r\n\r\n", "\r\n"},
        {1, false, " \t\r\n \r\n", ""},
        // A last line without its line end gets one.
        {0, false, "x", "x\r\n"},
        {1, false, "x  ", "x\r\n"},
        // Trailing empty lines and blanks: simple keeps the blanks of the last line.
        {0, false, "a\r\nb  \r\n\r\n\r\n", "a\r\nb  \r\n"},
        {1, false, "a\r\nb  \r\n\r\n\r\n", "a\r\nb\r\n"},
        // Inner empty lines stay; a long line is taken whole.
        {1, false, "a\r\n\r\nb", "a\r\n\r\nb\r\n"},
        {1, false, std::string(5000, 'x') + "  y", std::string(5000, 'x') + " y\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in.substr(0, 40));
        EXPECT_EQ(c.is_header ? header(c.relaxed, c.in) : body(c.relaxed, c.in), c.out);
    }
}

TEST(DkimKeys, DomainsAndKeys)
{
    Registry r;
    const std::string rsa1 = test_key_pem("RSA"), ed = test_key_pem("ED25519"), rsa2 = test_key_pem("RSA");
    const char *why = nullptr;
    DkimKeyDomain *d = dkim_keys_add(&r.root, "Example.COM", "r1", rsa1.c_str(), &why);
    ASSERT_NE(d, nullptr) << why;
    EXPECT_EQ(dkim_keys_add(&r.root, "example.com", "e1", ed.c_str(), &why), d);
    EXPECT_EQ(dkim_keys_add(&r.root, "EXAMPLE.com", "r2", rsa2.c_str(), &why), d);
    EXPECT_STREQ(d->domain, "Example.COM"); // the d= text of the first registration
    EXPECT_EQ(dkim_keys_find_domain(r.root, "EXAMPLE.COM"), d);
    EXPECT_EQ(dkim_keys_find_domain(r.root, "example.org"), nullptr);
    EXPECT_EQ(dkim_keys_find_domain(nullptr, "example.com"), nullptr);
    // The newest key of the fitting type signs.
    EXPECT_STREQ(dkim_key_for(d, DKIM_ALG_RSA_SHA256)->selector, "r2");
    EXPECT_STREQ(dkim_key_for(d, DKIM_ALG_RSA_SHA1)->selector, "r2");
    EXPECT_STREQ(dkim_key_for(d, DKIM_ALG_ED25519_SHA256)->selector, "e1");

    // Many domains, freed once each (the sanitizers watch).
    for (int i = 0; i < 300; i++)
        ASSERT_NE(dkim_keys_add(&r.root, ("d" + std::to_string(i * 7919 % 300) + ".example").c_str(), "s",
                                ed.c_str(), &why),
                  nullptr);
    for (int i = 0; i < 300; i++)
        ASSERT_NE(dkim_keys_find_domain(r.root, ("D" + std::to_string(i) + ".EXAMPLE").c_str()), nullptr);
    dkim_keys_free(&r.root);
    EXPECT_EQ(r.root, nullptr);
    dkim_keys_free(&r.root); // an empty registry
    EXPECT_EQ(r.root, nullptr);
}

TEST(DkimKeys, RefusedKeysChangeNothing)
{
    Registry r;
    const std::string ed = test_key_pem("ED25519");
    struct Case {
        std::string pem, why;
    } cases[] = {
        {test_key_pem("EC"), "not an RSA or Ed25519 private key"},
        {test_public_pem(ed), "not a PEM private key"},
        {"not a key at all", "not a PEM private key"},
        {"", "not a PEM private key"},
        {test_key_pem("ED25519", true), "the key is encrypted (keys with a pass phrase are not supported)"},
    };
    for (const Case &c : cases) {
        const char *why = nullptr;
        EXPECT_EQ(dkim_keys_add(&r.root, "example.com", "s", c.pem.c_str(), &why), nullptr);
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(r.root, nullptr);
    }
    const char *why = nullptr;
    // Names that could not stand in the signature field as they are.
    const std::string names[][2] = {
        {"", "s"}, {std::string(254, 'a'), "s"}, {"example.com", std::string(64, 's')}, {"example.com", ""},
        {"example.com\r\nX-Evil: 1", "s"}, {"example.com", "s; d=other"}, {"a..b", "s"}, {".example", "s"},
        {"b\xc3\xbc" "cher.example", "s"}, {"example.com", "s\t1"},
    };
    for (const auto &n : names) {
        SCOPED_TRACE(n[0] + " / " + n[1]);
        EXPECT_EQ(dkim_keys_add(&r.root, n[0].c_str(), n[1].c_str(), ed.c_str(), &why), nullptr);
    }
    EXPECT_EQ(r.root, nullptr);
    EXPECT_NE(dkim_keys_add(&r.root, "mail-1.Example.com", "2024_sel.a", ed.c_str(), &why), nullptr);
}

TEST(DkimSign, FieldLayoutAndHeaderChoice)
{
    Registry r;
    const std::string ed = test_key_pem("ED25519");
    const char *why = nullptr;
    DkimKeyDomain *d = dkim_keys_add(&r.root, "Example.com", "sel", ed.c_str(), &why);
    ASSERT_NE(d, nullptr);
    const std::string head = "To: a@x\r\nX-Other: 1\r\nsubject: s\r\n\tfolded\r\nTo: b@x\r\nFROM: f@x\r\n";
    const std::string text = head + "\r\n.body\r\n";
    const DkimMessage m = {text.c_str(), head.size(), text.size()};

    char *field = nullptr;
    ASSERT_EQ(dkim_sign(&m, DKIM_CANON_SIMPLE_SIMPLE, DKIM_ALG_ED25519_SHA256, d, 1700000000, &field, &why), 1) << why;
    std::string f = field;
    free(field);
    // Repeated names bottom-up (h= lists the fields from the last to the
    // first, names as written); no c= tag for simple/simple; the 64-byte
    // signature folded into 76 and 12 base64 characters.
    const std::string top = "DKIM-Signature: v=1; a=ed25519-sha256; t=1700000000;\r\n"
                            "\ts=sel; d=Example.com;\r\n"
                            "\th=FROM:To:subject:To;\r\n"
                            "\tbh=";
    ASSERT_EQ(f.substr(0, top.size()), top);
    size_t b = f.find("\tb=");
    ASSERT_NE(b, std::string::npos);
    std::string sig = f.substr(b + 3);
    ASSERT_EQ(sig.size(), 76 + 3 + 12 + 2);
    EXPECT_EQ(sig.substr(76, 3), "\r\n\t");
    EXPECT_EQ(sig.substr(91), "\r\n");

    ASSERT_EQ(dkim_sign(&m, DKIM_CANON_RELAXED_SIMPLE, DKIM_ALG_ED25519_SHA256, d, 1, &field, &why), 1);
    EXPECT_EQ(std::string(field).substr(0, 60), "DKIM-Signature: v=1; a=ed25519-sha256; c=relaxed/simple; t=1");
    free(field);

    // No RSA key: no field and no reason.
    EXPECT_EQ(dkim_sign(&m, DKIM_CANON_SIMPLE_SIMPLE, DKIM_ALG_RSA_SHA256, d, 1, &field, &why), 0);
    EXPECT_EQ(why, nullptr);
    EXPECT_EQ(field, nullptr);

    // A header line without a colon: no field, and why.
    const std::string bad = "From: f@x\r\nno colon here\r\n\r\nx\r\n";
    const DkimMessage mb = {bad.c_str(), bad.size() - 5, bad.size()};
    EXPECT_EQ(dkim_sign(&mb, DKIM_CANON_SIMPLE_SIMPLE, DKIM_ALG_ED25519_SHA256, d, 1, &field, &why), 0);
    EXPECT_STREQ(why, "Malformed header field (no colon)");

    // Without a From field there is nothing a verifier would accept.
    const std::string no_from = "Subject: s\r\n\r\nx\r\n";
    const DkimMessage mn = {no_from.c_str(), no_from.size() - 5, no_from.size()};
    EXPECT_EQ(dkim_sign(&mn, DKIM_CANON_SIMPLE_SIMPLE, DKIM_ALG_ED25519_SHA256, d, 1, &field, &why), 0);
    EXPECT_STREQ(why, "The message has no From field to sign");
}
