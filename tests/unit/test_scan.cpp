// The address scanners over tables of texts, and the preconstructed writer
// over files whose line ends straddle the writer's read slices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "helpers.h"
#include "mail/option.h"
#include "mail/scan.h"
#include "mail/session.h"
#include "mail/writer.h"

namespace {

// Every item a scan handed over, as "address|name" with the name trimmed.
int collect(void *user, const char *a, size_t alen, const char *n, size_t nlen)
{
    std::string name(n ? n : "", nlen);
    name.resize(addr_trim_name(name.data(), name.size()));
    static_cast<std::vector<std::string> *>(user)->push_back(std::string(a, alen) + "|" + name);
    return 1;
}

struct ListCase {
    const char *text;
    std::vector<std::string> items;
    size_t bad_line; // 0: the whole list is read
};

TEST(ScanList, ItemsAndRefusals)
{
    const ListCase cases[] = {
        {"a@b.com c@d.org", {"a@b.com|", "c@d.org|"}, 0},
        {"a@b.com\nc@d.org\r\ne@f.net\rg@h.io", {"a@b.com|", "c@d.org|", "e@f.net|", "g@h.io|"}, 0},
        {"a@b.com, c@d.org,e@f.net", {"a@b.com|", "c@d.org|", "e@f.net|"}, 0},
        {"\"Doe, Jane\" <j@x.org>, Bob Ray <b@y.org>", {"j@x.org|Doe, Jane", "b@y.org|Bob Ray"}, 0},
        {"<a@b.com>,<c@d.org>", {"a@b.com|", "c@d.org|"}, 0},
        {"o'brien@x.ie {x}|~@y.z", {"o'brien@x.ie|", "{x}|~@y.z|"}, 0},
        {".a..b.@x-.-y.c", {".a..b.@x-.-y.c|"}, 0},
        {"a@b.c\n\n", {"a@b.c|"}, 0},
        // Refused items name their line; the items before them are handed over.
        {"a@b.com\nx@b..com", {"a@b.com|"}, 2},
        {"a@localhost", {}, 1},
        {"a@[1.2.3.4]", {}, 1},
        {"\"q\"@b.com", {}, 1},
        {"a@b.com;", {}, 1},
        {"a@b.com.", {}, 1},
        {"Word a@b.com", {}, 1},
        {"Name <a @b.com>", {}, 1},
        {"\"open <a@b.com>", {}, 1},
        {"\"two\nlines\" <a@b.com>", {}, 1},
        {"\xc3\xa9t\xc3\xa9 <a@b.com>", {}, 1},
        {"\"\xc3\xa9t\xc3\xa9\" <a@b.com>", {"a@b.com|\xc3\xa9t\xc3\xa9"}, 0},
        {"a@b.com (comment)", {"a@b.com|"}, 1},
    };
    for (const ListCase &c : cases) {
        std::vector<std::string> got;
        size_t line = 0;
        int ok = addr_scan_list(&got, c.text, strlen(c.text), collect, &line);
        EXPECT_EQ(ok, c.bad_line == 0) << c.text;
        EXPECT_EQ(line, c.bad_line) << c.text;
        EXPECT_EQ(got, c.items) << c.text;
    }
}

TEST(ScanList, LabelLengthAndEndOfText)
{
    std::string ok = "a@" + std::string(63, 'l') + ".com";
    std::string too_long = "a@" + std::string(64, 'l') + ".com";
    for (const auto &[text, taken] : {std::pair{ok, true}, std::pair{too_long, false}}) {
        std::vector<std::string> got;
        size_t line = 0;
        EXPECT_EQ(addr_scan_list(&got, text.data(), text.size(), collect, &line), taken ? 1 : 0);
        EXPECT_EQ(got.size(), taken ? 1u : 0u);
    }
    // Only the given length is read: what follows it is never looked at.
    const char text[] = "a@b.comXYZ";
    std::vector<std::string> got;
    size_t line = 0;
    EXPECT_EQ(addr_scan_list(&got, text, 7, collect, &line), 1);
    EXPECT_EQ(got, std::vector<std::string>{"a@b.com|"});
}

TEST(ScanField, MailboxesOfOneValue)
{
    const std::pair<const char *, std::vector<std::string>> cases[] = {
        {"a@b.com,\r\n c@d.org", {"a@b.com|", "c@d.org|"}},
        {"\r\n\t\"C, D\" <c@d.org> , e@f.net,", {"c@d.org|C, D", "e@f.net|"}},
        {"\"folded\r\n name\" <c@d.org>", {"c@d.org|folded name"}},
        {"a@b.com c@d.org", {}},
        {"a@b.com (comment)", {}},
        {"undisclosed-recipients:;", {}},
        {"a@b.com, bad@@x, c@d.org", {"a@b.com|"}},
    };
    for (const auto &[text, items] : cases) {
        std::vector<std::string> got;
        addr_scan_field(&got, text, strlen(text), collect);
        EXPECT_EQ(got, items) << text;
    }
}

TEST(ScanHeader, FieldsUpToTheEmptyLine)
{
    using Fields = std::vector<std::string>;
    auto scan = [](const std::string &text, int *how, size_t *len) {
        Fields got;
        *how = addr_scan_header(&got, text.data(), text.size(),
                                [](void *u, const char *n, size_t nl, const char *v, size_t vl) {
                                    static_cast<Fields *>(u)->push_back(std::string(n, nl) + "=" +
                                                                        std::string(v, vl));
                                },
                                len);
        return got;
    };
    const struct {
        std::string text;
        Fields fields;
        int how;
        size_t len;
    } cases[] = {
        {"To: a@b.c,\r\n d@e.f\r\nCc:x@y.z\r\n\r\nTo: no@body.x\r\n",
         {"To=a@b.c,\r\n d@e.f", "Cc=x@y.z"}, HDR_SCAN_BLANK_LINE, 30},
        {"X-Odd_Name!:\tv\nY: w", {"X-Odd_Name!=v", "Y=w"}, HDR_SCAN_TEXT_END, 19},
        {"From nobody\nTo: a@b.c\n", {}, HDR_SCAN_NOT_FIELD, 0},
        {"A: 1\rB: 2\r\rC: 3", {"A=1", "B=2"}, HDR_SCAN_BLANK_LINE, 10},
        {"", {}, HDR_SCAN_TEXT_END, 0},
    };
    for (const auto &c : cases) {
        int how = 0;
        size_t len = 99;
        EXPECT_EQ(scan(c.text, &how, &len), c.fields) << c.text;
        EXPECT_EQ(how, c.how) << c.text;
        EXPECT_EQ(len, c.len) << c.text;
    }
}

struct Session {
    MailContext *ctx = mail_new();
    ~Session() { mail_free(ctx); }
};

TEST(ScanFiles, RecipientFileIsAllOrNothing)
{
    TempDir dir;
    Session s;
    ASSERT_TRUE(mail_set_option_basic(s.ctx, MAILOPT_RECIPIENT | MAILOPT_TO, "first@x.org", nullptr, nullptr));
    write_file(dir.file("good"), "a@b.com, \"Ann\" <ann@b.com>\n");
    write_file(dir.file("bad"), "c@d.com\n\nnot an address\n");
    EXPECT_EQ(addr_scan_recipient_file(s.ctx, &s.ctx->to, dir.file("good").c_str()), 1);
    EXPECT_EQ(addr_scan_recipient_file(s.ctx, &s.ctx->to, dir.file("bad").c_str()), 0);
    EXPECT_EQ(std::string(s.ctx->error_text), dir.file("bad") + ", line 3: not a usable address");
    EXPECT_EQ(addr_scan_recipient_file(s.ctx, &s.ctx->to, dir.file("missing").c_str()), 0);
    std::vector<std::string> got;
    for (Recipient *r = s.ctx->to; r; r = r->next)
        got.push_back(std::string(r->address) + "|" + (r->display_name ? r->display_name : ""));
    EXPECT_EQ(got, (std::vector<std::string>{"ann@b.com|Ann", "a@b.com|", "first@x.org|"}));
}

TEST(ScanFiles, MessageHeaderGivesSenderAndRecipients)
{
    TempDir dir;
    Session s;
    write_file(dir.file("m"), "From: Old <old@x.org>\r\nTO: a@b.com,\r\n\tB <b@c.org>\r\ncc: c@d.org\r\n"
                              "Bcc: hidden@e.org\r\nFrom: New <new@x.org>\r\nT: t@x.org\r\n\r\n"
                              "To: body@x.org\r\n");
    ASSERT_TRUE(mail_set_option_basic(s.ctx, MAILOPT_EMAIL_FILE, dir.file("m").c_str(), nullptr, nullptr));
    EXPECT_EQ(addr_scan_message_file(s.ctx, 1, 1), 1);
    auto list = [](Recipient *r) {
        std::string out;
        for (; r; r = r->next)
            out += std::string(r->address) + ";";
        return out;
    };
    EXPECT_EQ(list(s.ctx->to), "b@c.org;a@b.com;");
    EXPECT_EQ(list(s.ctx->cc), "c@d.org;");
    EXPECT_EQ(list(s.ctx->bcc), "hidden@e.org;");
    EXPECT_STREQ(s.ctx->from_address, "new@x.org");
    EXPECT_STREQ(s.ctx->from_name, "New");
}

TEST(ScanFiles, UnfoldTakesOutFoldsOnly)
{
    struct Case {
        std::string text;
        size_t length;
        const char *want;
    } cases[] = {
        {"a\r\n b", 5, "ab"},
        {"a\n\tb", 4, "ab"},
        {"a\r\n  b", 6, "a b"},    // one blank goes with the break
        {"a\r\nb", 4, "a\r\nb"},  // no blank: no fold
        {"a\rb", 3, "a\rb"},        // a lone CR is no line break
        {"ab\r\n", 4, "ab"},       // a break at the end
        {"ab\n", 3, "ab"},
        {"a\r\n b", 3, "a"},       // only length bytes are read
        {std::string("a\0b", 3), 3, "a"},
        {"", 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        char *out = addr_unfold(c.text.data(), c.length);
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out, c.want);
        free(out);
    }
}

// The writer's output for a file, without the generated header block.
std::string precon(MailContext *ctx, const std::string &path)
{
    StrBuf sb{};
    MsgSink ms;
    msg_sink_init(&ms, strbuf_sink, &sb);
    ctx->flags |= MAILF_RAW_HEADERS;
    mail_set_option_basic(ctx, MAILOPT_EMAIL_FILE, path.c_str(), nullptr, nullptr);
    EXPECT_EQ(mime_write_preconstructed(ctx, msg_printf, &ms), MIME_OK);
    std::string out(sb.data ? sb.data : "", sb.length);
    free(sb.data);
    return out;
}

TEST(Preconstructed, LineEndsAcrossReadSlices)
{
    TempDir dir;
    Session s;
    for (size_t at : {size_t{MIME_READ_SLICE - 1}, size_t{MIME_READ_SLICE - 2}}) {
        // A CR LF, a lone CR and an LF that fall on the slice boundary.
        std::string body(at - 4, 'x');
        for (const char *end : {"\r\n", "\r", "\n"}) {
            std::string file = "A: 1\n\n" + body.substr(6) + end + "y";
            write_file(dir.file("m"), file);
            EXPECT_EQ(precon(s.ctx, dir.file("m")), "A: 1\r\n\r\n" + body.substr(6) + "\r\ny\r\n");
        }
    }
}

} // namespace
