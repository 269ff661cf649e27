// Tests of the plain program's session options: the DKIM rows and the
// address-scanner rows are missing there and fail like unlisted numbers,
// the TLS rows are still stored, and the session has no DKIM fields.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "mail/list.h"
#include "mail/option.h"
#include "mail/session.h"
#include "tests/unit/helpers.h"

namespace {

template <typename T>
constexpr bool has_dkim_fields = requires(T t) {
    t.dkim_domain;
    t.dkim_keys;
};
static_assert(!has_dkim_fields<MailContext>, "the plain session has no DKIM fields");

std::string text(const char *t) { return t ? "\"" + std::string(t) + "\"" : "NULL"; }

// The fields the plain program's missing rows could touch, and then some.
std::string describe(const MailContext *c)
{
    std::ostringstream o;
    o << std::hex << c->flags << " " << c->flags2 << std::dec << " " << c->dkim_algorithms << " "
      << c->dkim_canons << " " << c->mode << " " << text(c->from_address) << " "
      << text(c->email_file) << " " << text(c->error_text);
    for (const Recipient *list : {c->to, c->cc, c->bcc})
        for (const Recipient *r = list; r; r = r->next)
            o << " " << r->address;
    return o.str();
}

struct Session : ::testing::Test {
    void SetUp() override
    {
        ctx = mail_new();
        ASSERT_NE(ctx, nullptr);
    }
    void TearDown() override { mail_free(ctx); }
    MailContext *ctx = nullptr;
};

} // namespace

TEST(PlainOptionTable, KnowsTheFortyFourNumbers)
{
    std::set<unsigned> known;
    for (unsigned n = 0; n < 256; n++)
        if (mail_option_name(n))
            known.insert(n);
    EXPECT_EQ(known.size(), 44u);
    for (unsigned missing : {30u, 35u, 40u, 41u, 43u}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(known.count(missing), 0u);
    }
    for (unsigned present : {1u, 2u, 27u, 37u, 38u, 39u, 208u, 244u})
        EXPECT_EQ(known.count(present), 1u);
}

TEST_F(Session, MissingRowsFailAndChangeNothing)
{
    TempDir dir;
    write_file(dir.file("list.txt"), "a@b.org\n");
    write_file(dir.file("m.eml"), "From: a@b.org\r\n\r\nx\r\n");
    ASSERT_EQ(mail_set_option(ctx, MAILOPT_EMAIL_FILE, dir.file("m.eml").c_str(), nullptr, nullptr,
                              nullptr),
              1);
    const struct {
        const char *what;
        unsigned code;
        const char *v1, *v2;
    } cases[] = {
        {"dkim", MAILOPT_DKIM, nullptr, nullptr},
        {"dkim clear", MAILOPT_DKIM | MAILOPT_CLEAR, nullptr, nullptr},
        {"email file scan", MAILOPT_EMAIL_FILE_SCAN, "1", "1"},
        {"dkim algorithms", MAILOPT_DKIM_ALGORITHMS | 0x200, nullptr, nullptr},
        {"dkim algorithms clear", MAILOPT_DKIM_ALGORITHMS | MAILOPT_CLEAR, nullptr, nullptr},
        {"dkim canon", MAILOPT_DKIM_CANON | 0x100, nullptr, nullptr},
        {"dkim canon clear", MAILOPT_DKIM_CANON | MAILOPT_CLEAR, nullptr, nullptr},
        {"dkim domain", MAILOPT_DKIM_DOMAIN, "b.org", nullptr},
        {"dkim domain clear", MAILOPT_DKIM_DOMAIN | MAILOPT_CLEAR, nullptr, nullptr},
        {"recipient file to", MAILOPT_RECIPIENT | MAILOPT_TO | MAILOPT_FROM_FILE, "list.txt", nullptr},
        {"recipient file bcc", MAILOPT_RECIPIENT | MAILOPT_BCC | MAILOPT_FROM_FILE, "list.txt", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string before = describe(ctx);
        EXPECT_EQ(mail_set_option(ctx, c.code, c.v1, c.v2, nullptr, nullptr), 0);
        EXPECT_EQ(describe(ctx), before);
    }
}

TEST_F(Session, TlsRowsAreStored)
{
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_TLS_MODE | 0x200, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ctx->flags & (MAILF_STARTTLS | MAILF_STARTTLS_REQUIRED),
              uint32_t(MAILF_STARTTLS | MAILF_STARTTLS_REQUIRED));
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_VERIFY, nullptr, nullptr, nullptr), 1);
    EXPECT_TRUE(ctx->flags & MAILF_VERIFY);
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_TLS_CIPHERS, "secure", nullptr, nullptr), 1);
    EXPECT_STREQ(ctx->tls_ciphers, "secure");
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_TLS_PROTOCOLS, "all", nullptr, nullptr), 1);
    EXPECT_STREQ(ctx->tls_protocols, "all");
}

TEST_F(Session, CommonRowsWork)
{
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_FROM, "a@b.org", "A", nullptr), 1);
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_RECIPIENT | MAILOPT_TO, "t@b.org", nullptr, "F"), 1);
    ASSERT_NE(ctx->to, nullptr);
    EXPECT_EQ(ctx->to->notify, unsigned(MAIL_NOTIFY_FAILURE));
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_SUBJECT, "Hi\r\n", nullptr, nullptr), 0);
    EXPECT_STREQ(mail_last_error(ctx), "Control character in the subject");
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_FREE, nullptr, nullptr, nullptr), 1);
    ctx = nullptr;
}
