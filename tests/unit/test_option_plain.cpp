// Tests of the plain program's session options: the row tables shared with
// the full program (option_rows.h) for the 44 rows it has; the DKIM rows and
// the address-scanner rows are missing and fail like unlisted numbers, and
// the session has no DKIM fields.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/unit/option_rows.h"

namespace {

template <typename T>
constexpr bool has_dkim_fields = requires(T t) {
    t.dkim_domain;
    t.dkim_keys;
};
static_assert(!has_dkim_fields<MailContext>, "the plain session has no DKIM fields");

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

TEST_F(OptionTest, MissingRowsFailAndChangeNothing)
{
    load();
    write_file(dir.file("list.txt"), "a@b.org\n");
    ASSERT_EQ(apply(ctx, {MAILOPT_EMAIL_FILE, eml_path.c_str()}), 1);
    const std::string list = dir.file("list.txt");
    const struct {
        const char *what;
        Call call;
    } cases[] = {
        {"dkim", {MAILOPT_DKIM}},
        {"dkim clear", {MAILOPT_DKIM | MAILOPT_CLEAR}},
        {"email file scan", {MAILOPT_EMAIL_FILE_SCAN, "1", "1"}},
        {"dkim algorithms", {MAILOPT_DKIM_ALGORITHMS | 0x200}},
        {"dkim algorithms clear", {MAILOPT_DKIM_ALGORITHMS | MAILOPT_CLEAR}},
        {"dkim canon", {MAILOPT_DKIM_CANON | 0x100}},
        {"dkim canon clear", {MAILOPT_DKIM_CANON | MAILOPT_CLEAR}},
        {"dkim domain", {MAILOPT_DKIM_DOMAIN, "b.org"}},
        {"dkim domain clear", {MAILOPT_DKIM_DOMAIN | MAILOPT_CLEAR}},
        {"recipient file to", {MAILOPT_RECIPIENT | MAILOPT_TO | MAILOPT_FROM_FILE, list.c_str()}},
        {"recipient file bcc", {MAILOPT_RECIPIENT | MAILOPT_BCC | MAILOPT_FROM_FILE, list.c_str()}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        expect_fails_unchanged(c.call);
    }
}
