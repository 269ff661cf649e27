// The DKIM signer's pieces: canonicalisation against the examples of
// RFC 6376, the key registry, and the layout and header choice of the
// signature field. Signatures themselves are checked by real verifiers in
// the end-to-end tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dkim/dkim.h"
#include "tests/unit/dkim_record.h"
#include "tests/unit/keygen.h"

namespace {

std::string header(int relaxed, const std::string &field)
{
    return dkim_record(relaxed ? DKIM_CANON_RELAXED_SIMPLE : DKIM_CANON_SIMPLE_SIMPLE, DKIM_HASH_FIELD, field);
}

std::string body(int relaxed, const std::string &text)
{
    return dkim_record(relaxed ? DKIM_CANON_SIMPLE_RELAXED : DKIM_CANON_SIMPLE_SIMPLE, DKIM_HASH_BODY, text);
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

TEST(DkimCanon, UnfoldAndTheUnsignedField)
{
    struct Case {
        std::string in, out;
    } unfolded[] = {
        {"B : Y\t\r\n\tZ  ", "B :Y\t\tZ  "},
        {"Subject:\r\n\t \r\n x", "Subject:x"},
        {"a:b:  c", "a:b:  c"}, // only the blanks after the first colon
        {"no colon \r\n\there", "no colon \there"},
        {"", ""},
    };
    for (const Case &c : unfolded) {
        SCOPED_TRACE(c.in);
        size_t len = c.in.size();
        char *copy = dkim_unfold_after_colon(c.in.data(), &len);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(std::string(copy, len), c.out);
        EXPECT_EQ(strlen(copy), len);
        free(copy);
    }
    // The unsigned field is hashed without a line end and without trimming.
    const std::string field = "DKIM-Signature: v=1; a=rsa-sha256;\r\n\ts=s; d=Example.com;\r\n\tb=;";
    EXPECT_EQ(dkim_record(DKIM_CANON_RELAXED_SIMPLE, DKIM_HASH_UNSIGNED, field),
              "dkim-signature:v=1; a=rsa-sha256; s=s; d=Example.com; b=;");
    EXPECT_EQ(dkim_record(DKIM_CANON_SIMPLE_RELAXED, DKIM_HASH_UNSIGNED, field), field);
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
    // The tree is in the registry's order, whatever the letter case.
    int nodes = 0;
    for (AvlNode *n = avl_first(r.root); n; n = avl_next(n), nodes++) {
        if (AvlNode *next = avl_next(n)) {
            EXPECT_LT(dkim_cmp_nodes(n, next), 0);
        }
        EXPECT_EQ(dkim_cmp_nodes(n, n), 0);
    }
    EXPECT_EQ(nodes, 301);
    EXPECT_EQ(dkim_cmp_name_node("EXAMPLE.COM", &d->node), 0);
    EXPECT_LT(dkim_cmp_name_node("Example.AAA", &d->node), 0);
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
        EXPECT_STREQ(why, c.why.c_str());
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

namespace {

// One field over text, whose header block is header_len bytes long, made
// through a context of its own: 1 and the field in *f, or 0 and *why.
int sign(const std::string &text, size_t header_len, int canon, int alg, const DkimKeyDomain *d, int64_t t,
         std::string *f, const char **why)
{
    DkimContext c;
    size_t body = header_len + 2 <= text.size() ? header_len + 2 : text.size();
    EXPECT_EQ(dkim_ctx_init(&c, text.c_str(), header_len, text.c_str() + body, text.size() - body), 1);
    char *field = nullptr;
    int ok = dkim_sign(&c, canon, alg, d, t, &field, why);
    EXPECT_EQ(field != nullptr, ok == 1);
    if (field)
        *f = field;
    free(field);
    dkim_ctx_clear(&c);
    EXPECT_EQ(c.header_md, nullptr);
    EXPECT_EQ(c.signature, nullptr);
    return ok;
}

} // namespace

TEST(DkimSign, FieldLayoutAndHeaderChoice)
{
    Registry r;
    const std::string ed = test_key_pem("ED25519");
    const char *why = nullptr;
    DkimKeyDomain *d = dkim_keys_add(&r.root, "Example.com", "sel", ed.c_str(), &why);
    ASSERT_NE(d, nullptr);
    // A continuation line before the first field belongs to no field.
    const std::string head = "\tstray\r\nTo: a@x\r\nX-Other: 1\r\nsubject: s\r\n\tfolded\r\nTo: b@x\r\nFROM: f@x\r\n";
    const std::string text = head + "\r\n.body\r\n";

    std::string f;
    ASSERT_EQ(sign(text, head.size(), DKIM_CANON_SIMPLE_SIMPLE, DKIM_ALG_ED25519_SHA256, d, 1700000000, &f, &why), 1)
        << why;
    // Repeated names bottom-up (h= lists the fields from the last to the
    // first, names as written); no c= tag for simple/simple; the 64-byte
    // signature folded into 76 and 12 base64 characters, the field ended
    // by ";" and CR LF.
    const std::string top = "DKIM-Signature: v=1; a=ed25519-sha256; t=1700000000;\r\n"
                            "\ts=sel; d=Example.com;\r\n"
                            "\th=FROM:To:subject:To;\r\n"
                            "\tbh=";
    ASSERT_EQ(f.substr(0, top.size()), top);
    size_t b = f.find("\tb=");
    ASSERT_NE(b, std::string::npos);
    std::string sig = f.substr(b + 3);
    ASSERT_EQ(sig.size(), 76 + 3 + 12 + 3);
    EXPECT_EQ(sig.substr(76, 3), "\r\n\t");
    EXPECT_EQ(sig.substr(91), ";\r\n");
    EXPECT_EQ(sig.find_first_of(";\r\n\t"), 76u);

    const struct {
        int canon;
        const char *tags;
    } canons[] = {
        {DKIM_CANON_SIMPLE_RELAXED, "a=ed25519-sha256; c=simple/relaxed; t=1;"},
        {DKIM_CANON_RELAXED_RELAXED, "a=ed25519-sha256; c=relaxed/relaxed; t=1;"},
        {DKIM_CANON_RELAXED_SIMPLE, "a=ed25519-sha256; c=relaxed; t=1;"},
    };
    for (const auto &c : canons) {
        SCOPED_TRACE(c.tags);
        ASSERT_EQ(sign(text, head.size(), c.canon, DKIM_ALG_ED25519_SHA256, d, 1, &f, &why), 1);
        EXPECT_EQ(f.substr(0, f.find("\r\n")), std::string("DKIM-Signature: v=1; ") + c.tags);
    }

    // No RSA key: no field and no reason.
    EXPECT_EQ(sign(text, head.size(), DKIM_CANON_SIMPLE_SIMPLE, DKIM_ALG_RSA_SHA256, d, 1, &f, &why), 0);
    EXPECT_EQ(why, nullptr);

    // A header line without a colon, too many fields to sign, no From
    // field: no field, and why.
    std::string many;
    for (int i = 0; i <= DKIM_SIGNED_MAX; i++)
        many += "To: a@x\r\n";
    const struct {
        std::string head, why;
    } refused[] = {
        {"From: f@x\r\nno colon here\r\n", "Malformed header"},
        {"From: f@x\r\n" + many, "Malformed header"},
        {"Subject: s\r\n", "The message has no From field to sign"},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(sign(c.head + "\r\nx\r\n", c.head.size(), DKIM_CANON_SIMPLE_SIMPLE, DKIM_ALG_ED25519_SHA256, d, 1,
                       &f, &why),
                  0);
        EXPECT_STREQ(why, c.why.c_str());
    }
    // The most fields one signature covers still make a field.
    const std::string most = "From: f@x\r\n" + many.substr(9 * 2);
    EXPECT_EQ(sign(most + "\r\nx\r\n", most.size(), DKIM_CANON_SIMPLE_SIMPLE, DKIM_ALG_ED25519_SHA256, d, 1, &f,
                   &why),
              1);
}

// Beside what the reader sees, a signature covers what says how to read
// the body and the thread and mailing-list fields; names that only begin
// or end like them are not signed.
TEST(DkimSign, IntegrityAndListFieldsAreSigned)
{
    Registry r;
    const std::string ed = test_key_pem("ED25519");
    const char *why = nullptr;
    DkimKeyDomain *d = dkim_keys_add(&r.root, "example.com", "sel", ed.c_str(), &why);
    ASSERT_NE(d, nullptr);
    const std::string head = "From: f@x\r\n"
                             "Content-Transfer-Encoding: 7bit\r\n"
                             "Content-Transfer-Encodings: no\r\n"
                             "in-reply-to: <a@x>\r\n"
                             "References: <a@x>\r\n\t<b@x>\r\n"
                             "LIST-ID: <l.x>\r\n"
                             "List-Idx: no\r\n"
                             "X-List-Id: no\r\n"
                             "List-Help: <mailto:h@x>\r\n"
                             "List-Unsubscribe: <mailto:u@x>\r\n"
                             "List-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n"
                             "List-Subscribe: <mailto:s@x>\r\n"
                             "List-Post: <mailto:p@x>\r\n"
                             "List-Owner: <mailto:o@x>\r\n"
                             "List-Archive: <https://x/a>\r\n"
                             "List: no\r\n";
    const std::string text = head + "\r\nPrice =41 here\r\n";
    std::string f;
    ASSERT_EQ(sign(text, head.size(), DKIM_CANON_RELAXED_RELAXED, DKIM_ALG_ED25519_SHA256, d, 1, &f, &why), 1)
        << why;
    // The h= value unfolded: the fields from the last to the first.
    size_t from = f.find("\th=") + 3, to = f.find(";\r\n\tbh=");
    ASSERT_LT(from, to);
    std::string names = f.substr(from, to - from);
    for (size_t at; (at = names.find("\r\n\t")) != std::string::npos;)
        names.erase(at, 3);
    EXPECT_EQ(names, "List-Archive:List-Owner:List-Post:List-Subscribe:List-Unsubscribe-Post:"
                     "List-Unsubscribe:List-Help:LIST-ID:References:in-reply-to:"
                     "Content-Transfer-Encoding:From");
}
