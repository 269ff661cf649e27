// Tests of the plain program's session options: the row tables shared with
// the full program (option_rows.h) for the 44 rows it has. The library is
// the full program's; the plain seam linked here takes the DKIM rows and
// the address-scanner rows away, and they fail like unlisted numbers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/unit/option_rows.h"

TEST(PlainOptionTable, KnowsTheFortyFourNumbers)
{
    EXPECT_EQ(mail_full_program, 0);
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
    } missing_rows[] = {
        {"dkim", {MAILOPT_DKIM}},
        {"dkim clear", {MAILOPT_DKIM | MAILOPT_CLEAR}},
        {"email file scan", {MAILOPT_EMAIL_FILE_SCAN, "1", "1"}},
        {"dkim algorithms", {MAILOPT_DKIM_ALGORITHMS | MAILOPT_DKIM_ALG_RSA_SHA256}},
        {"dkim algorithms clear", {MAILOPT_DKIM_ALGORITHMS | MAILOPT_CLEAR}},
        {"dkim canon", {MAILOPT_DKIM_CANON | MAILOPT_DKIM_CANON_SIMPLE_SIMPLE}},
        {"dkim canon clear", {MAILOPT_DKIM_CANON | MAILOPT_CLEAR}},
        {"dkim domain", {MAILOPT_DKIM_DOMAIN, "b.org"}},
        {"dkim domain clear", {MAILOPT_DKIM_DOMAIN | MAILOPT_CLEAR}},
    };
    for (const auto &c : missing_rows) {
        SCOPED_TRACE(c.what);
        // The same reason as a number no program knows.
        expect_fails_unchanged(c.call, "Unknown option number " +
                                           std::to_string(c.call.code & MAILOPT_NUMBER_MASK));
    }
    // The plain program has no recipient-file scanner.
    for (unsigned list_bit : {MAILOPT_TO, MAILOPT_CC, MAILOPT_BCC}) {
        SCOPED_TRACE(list_bit);
        expect_fails_unchanged({MAILOPT_RECIPIENT | list_bit | MAILOPT_FROM_FILE, list.c_str()},
                               "Recipient list files are not available in this program");
    }
}
