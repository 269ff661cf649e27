// The address scanners over tables of texts, and the preconstructed writer
// over files whose line ends straddle the writer's read slices.
#include <gtest/gtest.h>

#include <cstdio>
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

// The address-list grammar of a field: items read (address|name), or where
// and why the field could not be read.
TEST(ScanField, AddressListGrammar)
{
    const char *comma = "a comma is missing";
    const char *no_angle = "a display name without an address in angle brackets";
    const struct {
        const char *text;
        std::vector<std::string> items;
        const char *bad_item; // NULL: the field is read whole
        const char *why;
    } cases[] = {
        {"a@b.com,\r\n c@d.org", {"a@b.com|", "c@d.org|"}, nullptr, nullptr},
        {"\r\n\t\"C, D\" <c@d.org> , e@f.net,", {"c@d.org|C, D", "e@f.net|"}, nullptr, nullptr},
        {"\"folded\r\n name\" <c@d.org>", {"c@d.org|folded name"}, nullptr, nullptr},
        // UTF-8 in names and addresses; no blank before "<".
        {"Zo\xc3\xab<z@x.org>, j\xc3\xb6rg@b\xc3\xbc" "cher.example",
         {"z@x.org|Zo\xc3\xab", "j\xc3\xb6rg@b\xc3\xbc" "cher.example|"}, nullptr, nullptr},
        // Comments wherever white space may stand, nested, with quoted pairs.
        {"(a) b (c (d\\)) e) @ (f) x.org (g), <y@x.org> (h)", {"b@x.org|", "y@x.org|"}, nullptr, nullptr},
        {"Bob (the \\( boss) <b@x.org>", {"b@x.org|Bob (the \\( boss)"}, nullptr, nullptr},
        {"a . b@x . org", {"a.b@x.org|"}, nullptr, nullptr},
        // Dots that make no dot-atom are the session's to refuse.
        {".a..b.@x.org.", {".a..b.@x.org.|"}, nullptr, nullptr},
        // Quoted local parts and literals as written, folds left out.
        {"\"odd \\\" name\"@x.org, b@[192.0.2.1], c@[IPv6:::1]",
         {"\"odd \\\" name\"@x.org|", "b@[192.0.2.1]|", "c@[IPv6:::1]|"}, nullptr, nullptr},
        {"\"a\r\n b\"@x.org", {"\"a b\"@x.org|"}, nullptr, nullptr},
        // Groups, empty list elements, routes.
        {"team: a@x.org, B <b@x.org>;, c@x.org", {"a@x.org|", "b@x.org|B", "c@x.org|"}, nullptr, nullptr},
        {"undisclosed-recipients:;", {}, nullptr, nullptr},
        {"g1:;,g2 : ; ", {}, nullptr, nullptr},
        {", ,a@x.org,, ,", {"a@x.org|"}, nullptr, nullptr},
        {"<@r1.example,@r2.example:a@x.org>", {"a@x.org|"}, nullptr, nullptr},
        {"J. R. \"Bob\" Doe <b@x.org>", {"b@x.org|J. R. \"Bob\" Doe"}, nullptr, nullptr},
        // A name with an unquoted comma goes on into the next element.
        {"a@x.org, Doe, Jane <j@x.org>", {"a@x.org|", "j@x.org|Doe, Jane"}, nullptr, nullptr},
        {"", {}, nullptr, nullptr},
        // What cannot be read names its item.
        {"a@b.com c@d.org", {}, "a@b.com c@d.org", comma},
        {"a@b.com, bad@@x, c@d.org", {}, "bad@@x", "an address without a valid domain"},
        {"a@b.com (open", {}, "a@b.com (open", "a comment is not closed"},
        {"((()) a@b.com", {}, "((()) a@b.com", "a comment is not closed"},
        {"a@b.com)", {}, "a@b.com)", "a \")\" without its \"(\""},
        {"\"open <a@b.com>, c@d.org", {}, "\"open <a@b.com>, c@d.org", "a quoted string is not closed"},
        {"N <a@b.com", {}, "N <a@b.com", "an angle bracket is not closed"},
        {"N <a@b.com> c@d.org", {}, "N <a@b.com> c@d.org", comma},
        {"Word a@b.com", {}, "Word a@b.com", no_angle},
        {"Doe, a@b.com", {}, "Doe, a@b.com", no_angle},
        {"Only Words", {}, "Only Words", no_angle},
        // Words before a comma join no angle address without a name, nor
        // a group's name: a phrase holds no comma.
        {"alice, <bob@example.org>", {}, "alice, <bob@example.org>", no_angle},
        {"alice, Team: bob@example.org;", {}, "alice, Team: bob@example.org;", no_angle},
        {"a@x.org, Doe, Jane, <j@x.org>", {}, "Doe, Jane, <j@x.org>", no_angle},
        {"team: alice, <b@x.org>;", {}, "alice, <b@x.org>;", no_angle},
        {"alice (c), <b@x.org>, c@x.org", {}, "alice (c), <b@x.org>", no_angle},
        {"g: a@b.com", {}, "g: a@b.com", "a group without its closing \";\""},
        {"g: h: a@b.com;;", {}, "h: a@b.com;;", "a group inside a group"},
        {"a@b.com;", {}, "a@b.com;", comma},
        {"a@[1.2.3.4", {}, "a@[1.2.3.4", "an address literal is not closed"},
        {"a\\b@x.org", {}, "a\\b@x.org", "a backslash outside a quoted string"},
        {"a\x01" "b@x.org", {}, "a\x01" "b@x.org", "a control character"},
        {"x@y.z b@c.d", {}, "x@y.z b@c.d", comma},
        {"@x.org", {}, "@x.org", "an address without its local part"},
        {"<>", {}, "<>", "no address"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> got;
        AddrFieldError error{};
        int ok = addr_scan_field(&got, c.text, strlen(c.text), collect, &error);
        EXPECT_EQ(ok, c.bad_item == nullptr);
        if (c.bad_item) {
            EXPECT_EQ(std::string(error.at, error.len), c.bad_item);
            EXPECT_STREQ(error.why, c.why);
        } else {
            EXPECT_EQ(got, c.items);
        }
    }
}

// Hostile values end in one pass: deep nesting, and an address past its
// cap is refused rather than cut.
TEST(ScanField, DeepCommentsAndLongAddresses)
{
    std::vector<std::string> got;
    AddrFieldError error{};
    std::string deep = std::string(1000000, '(') + std::string(1000000, ')') + " a@x.org";
    EXPECT_EQ(addr_scan_field(&got, deep.data(), deep.size(), collect, &error), 1);
    EXPECT_EQ(got, std::vector<std::string>{"a@x.org|"});
    std::string open = std::string(1000000, '(') + " a@x.org";
    EXPECT_EQ(addr_scan_field(&got, open.data(), open.size(), collect, &error), 0);
    EXPECT_STREQ(error.why, "a comment is not closed");
    std::string fits = std::string(249, 'l') + "@x.org", longer = "l" + fits;
    EXPECT_EQ(addr_scan_field(&got, fits.data(), fits.size(), collect, &error), 1);
    EXPECT_EQ(got.back(), fits + "|");
    EXPECT_EQ(addr_scan_field(&got, longer.data(), longer.size(), collect, &error), 0);
    EXPECT_STREQ(error.why, "an address longer than 255 bytes");
    // A refusal of the callback names the item, with no reason of the scan's.
    auto refuse = [](void *, const char *, size_t, const char *, size_t) { return 0; };
    const char text[] = "a@x.org (c), b@x.org";
    EXPECT_EQ(addr_scan_field(nullptr, text, strlen(text), refuse, &error), 0);
    EXPECT_EQ(std::string(error.at, error.len), "a@x.org (c)");
    EXPECT_EQ(error.why, nullptr);
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
        {"A: 1\rB: 2\r\rC: 3", {"A=1", "B=2"}, HDR_SCAN_BLANK_LINE, 10},
        {"", {}, HDR_SCAN_TEXT_END, 0},
        // Lines that are no field are passed over, and the scan goes on: a
        // continuation line before the first field, a line without a colon
        // (with its continuation lines), the text ending inside a name.
        {" lost\r\n\tmore\r\nFrom: a@b.c\r\n\r\n", {"From=a@b.c"}, HDR_SCAN_BLANK_LINE, 27},
        {"From nobody\n folded\nTo: a@b.c\n", {"To=a@b.c"}, HDR_SCAN_TEXT_END, 30},
        {"To: a@b.c\nCc", {"To=a@b.c"}, HDR_SCAN_TEXT_END, 12},
        // An empty name (a line that begins with the colon) is a field; blanks
        // before the colon belong to no name.
        {":\tx\nBcc : h@x.org\nX Odd: 1\n\n", {"=x", "Bcc=h@x.org", "X Odd=1"}, HDR_SCAN_BLANK_LINE, 27},
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

// A message file's address fields are taken whole or not at all: a field
// that cannot be read, or a mailbox the session refuses, leaves the sender
// and the lists as they were and names the field and the item. A display
// name the session cannot take is left out (the file's own header shows
// it).
TEST(ScanFiles, MessageHeaderTakenWholeOrNotAtAll)
{
    const struct {
        std::string header;
        std::string taken;  // "from|to;cc;bcc" after the scan
        std::string error;  // before " (path)"; empty: the scan succeeds
    } cases[] = {
        {"From: Zo\xeb <f@x.org>\nTo: \"N\x01\" <t@x.org>, \"" + std::string(300, 'n') + "\" <u@x.org>\n",
         "f@x.org|u@x.org,t@x.org,o1@x.org;;;", ""},
        {"From: f@x.org\nTo: t@x.org\nCc: b1@x.org b2@x.org\n", "o@x.org|o1@x.org;;;",
         "The Cc field of the message file cannot be read at \"b1@x.org b2@x.org\" (a comma is missing)"},
        {"From: f@x.org\nTo: t@x.org\nBcc: .a@x.org\n", "o@x.org|o1@x.org;;;",
         "The Bcc field of the message file holds an address that cannot be used: \".a@x.org\" "
         "(The recipient address is not a valid mailbox)"},
        {"From: .f@x.org\nTo: t@x.org\n", "o@x.org|o1@x.org;;;",
         "The From field of the message file holds an address that cannot be used: \".f@x.org\" "
         "(The sender address is not a valid mailbox)"},
        {"To: " + std::string(100, 'w') + " w@x.org\n", "o@x.org|o1@x.org;;;",
         "The To field of the message file cannot be read at \"" + std::string(80, 'w') + "...\" (" +
             "a display name without an address in angle brackets)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.header);
        TempDir dir;
        Session s;
        write_file(dir.file("m"), c.header + "\nbody\n");
        ASSERT_TRUE(mail_set_option_basic(s.ctx, MAILOPT_FROM, "o@x.org", nullptr, nullptr));
        ASSERT_TRUE(mail_set_option_basic(s.ctx, MAILOPT_RECIPIENT | MAILOPT_TO, "o1@x.org", nullptr, nullptr));
        ASSERT_TRUE(mail_set_option_basic(s.ctx, MAILOPT_EMAIL_FILE, dir.file("m").c_str(), nullptr, nullptr));
        int ok = addr_scan_message_file(s.ctx, 1, 1);
        std::string taken = std::string(s.ctx->from_address) + "|";
        for (Recipient *list : {s.ctx->to, s.ctx->cc, s.ctx->bcc}) {
            for (Recipient *r = list; r; r = r->next)
                taken += std::string(r->address) + (r->next ? "," : "");
            taken += ";";
        }
        EXPECT_EQ(taken, c.taken);
        EXPECT_EQ(ok, c.error.empty());
        if (!c.error.empty())
            EXPECT_EQ(std::string(mail_last_error(s.ctx)), c.error + " (" + dir.file("m") + ")");
        else
            EXPECT_EQ(s.ctx->from_name, nullptr);
    }
}

// The header is read to its empty line wherever the file's reads cut it,
// up to its cap; what follows the empty line is never taken.
TEST(ScanFiles, MessageHeaderIsReadToItsEnd)
{
    const std::string from = "From: f@x.org\r\n";
    // A pad field that makes the next field begin at byte `at`.
    auto pad_to = [&](size_t at) { return "X-Pad: " + std::string(at - from.size() - 9, 'p') + "\r\n"; };
    // To fields of 222 bytes each, the first read ending after the "T" of one.
    std::string many_to = from + pad_to(45), many_want;
    for (int i = 0; i < 1000; i++) {
        char address[16];
        snprintf(address, sizeof address, "r%04d@x.org", i);
        many_to += "To: \"" + std::string(200, 'n') + "\" <" + address + ">\r\n";
        many_want = address + (";" + many_want);
    }
    std::string over_cap = from + pad_to(ADDR_HEADER_SCAN_MAX) + "Bcc: b@x.org\r\n";
    const struct {
        const char *name;
        std::string text;
        std::string recipients; // empty: the scan fails
    } cases[] = {
        {"a field beginning at the slice's last byte",
         from + pad_to(MIME_READ_SLICE - 1) + "Bcc: hidden@x.org\r\n\r\nbody\r\n", "bcc:hidden@x.org;"},
        {"fields past two slices", many_to + "\r\n", "to:" + many_want},
        {"the empty line's CR LF cut by the slice",
         from + pad_to(MIME_READ_SLICE - 1 - 13) + "To: t@x.org\r\n\r\nTo: body@x.org\r\n", "to:t@x.org;"},
        {"a line without a colon, an empty name, a continuation before the first field",
         " lost\r\n:\tv\r\nFrom nobody\r\nBcc : b@x.org\r\n" + from + "\r\n", "bcc:b@x.org;"},
        {"a body beyond the cap", from + "To: t@x.org\r\n\r\n" + std::string(ADDR_HEADER_SCAN_MAX, 'b'),
         "to:t@x.org;"},
        {"a header at its cap", from + pad_to(ADDR_HEADER_SCAN_MAX - 13) + "To: t@x.org\r\n\r\n", "to:t@x.org;"},
        {"a header over its cap", over_cap + "\r\n", ""},
        {"no empty line, over the cap", over_cap, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Session s;
        write_file(dir.file("m"), c.text);
        ASSERT_TRUE(mail_set_option_basic(s.ctx, MAILOPT_EMAIL_FILE, dir.file("m").c_str(), nullptr, nullptr));
        int ok = addr_scan_message_file(s.ctx, 1, 1);
        std::string got;
        for (auto [list, name] : {std::pair{s.ctx->to, "to:"}, {s.ctx->cc, "cc:"}, {s.ctx->bcc, "bcc:"}}) {
            if (list)
                got += name;
            for (Recipient *r = list; r; r = r->next)
                got += std::string(r->address) + ";";
        }
        if (!c.recipients.empty()) {
            EXPECT_EQ(ok, 1);
            EXPECT_EQ(got, c.recipients);
            EXPECT_STREQ(s.ctx->from_address, "f@x.org");
        } else {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(got, "");
            EXPECT_EQ(std::string(mail_last_error(s.ctx)),
                      "The header of the message file is too large, more than 4 MiB (" + dir.file("m") + ")");
        }
    }
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

// The writer's output for a file: with raw headers (no generated header
// block) unless raw is false.
std::string precon(MailContext *ctx, const std::string &path, bool raw = true)
{
    StrBuf sb{};
    MsgSink ms;
    msg_sink_init(&ms, strbuf_sink, &sb);
    if (raw)
        ctx->flags |= MAILF_RAW_HEADERS;
    else
        ctx->flags &= ~MAILF_RAW_HEADERS;
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

// Behind the generated header block the writer leaves out what the header
// scan passes over: continuation lines before the first field (they would
// continue the last generated field) and a line without a colon; a line
// that begins with the colon is a field and stays.
TEST(Preconstructed, LinesThatAreNoField)
{
    TempDir dir;
    Session s;
    mail_set_option_basic(s.ctx, MAILOPT_FROM, "a@example.org", nullptr, nullptr);
    write_file(dir.file("m"), " lost\n\tmore\nFrom nobody\n folded\n:\tempty name\nA: 1\n\n b\n");
    std::string out = precon(s.ctx, dir.file("m"), false);
    const std::string kept = "\r\n:\tempty name\r\nA: 1\r\n\r\n b\r\n";
    ASSERT_GT(out.size(), kept.size());
    EXPECT_EQ(out.substr(out.size() - kept.size()), kept);
    for (const char *gone : {"lost", "more", "nobody", "folded"})
        EXPECT_EQ(out.find(gone), std::string::npos) << gone;
}

// With raw headers the file's header goes as it stands, byte for byte
// (line ends made CR LF), except the Bcc and Resent-Bcc fields with their
// continuation lines.
TEST(Preconstructed, RawHeadersGoAsTheyStandButBcc)
{
    TempDir dir;
    Session s;
    struct Case {
        const char *file, *sent;
    } cases[] = {
        {" lost\n\tmore\nA: 1\n\nbody\n", " lost\r\n\tmore\r\nA: 1\r\n\r\nbody\r\n"},
        {"From nobody\n folded\nA: 1\n\nb\n", "From nobody\r\n folded\r\nA: 1\r\n\r\nb\r\n"},
        {"A: 1\nBcc: x@y.org,\n z@y.org\nbcc :w@y.org\nno colon here\n\nb\n",
         "A: 1\r\nno colon here\r\n\r\nb\r\n"},
        {":\tempty name\n\nb\n", ":\tempty name\r\n\r\nb\r\n"},
        {"Resent-Bcc: x@y.org,\n\tz@y.org\nRESENT-BCC:w@y.org\nA: 1\n\nb\n", "A: 1\r\n\r\nb\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        write_file(dir.file("m"), c.file);
        EXPECT_EQ(precon(s.ctx, dir.file("m")), c.sent);
    }
    // A line without a colon longer than any field name passes whole too.
    std::string longline(5000, 'x');
    write_file(dir.file("m"), longline + "\nA: 1\n\nb\n");
    EXPECT_EQ(precon(s.ctx, dir.file("m")), longline + "\r\nA: 1\r\n\r\nb\r\n");

    // Blanks before the colon may run past any header line: the field is
    // still the one the header scan takes, wherever the file's reads cut
    // the name. A name that only begins like it and goes on after the
    // blanks is left out with it; any other long name goes whole.
    const std::string blanks(1500, ' ');
    const std::string pad = "X-Pad: " + std::string(MIME_READ_SLICE - 2 - 9, 'p') + "\n";
    const struct {
        std::string field;
        bool kept;
    } long_names[] = {
        {"Bcc" + blanks + ": x@y.org,\n z@y.org\n", false},
        {"bcc" + blanks + "\t: x@y.org\n", false},
        {"Resent-Bcc" + blanks + ": x@y.org\n", false},
        {"Bcc" + blanks + "x: v\n", false},
        {"X-Other" + blanks + ": v\n folded\n", true},
        {"Bcc-Not" + blanks + ": v\n", true},
    };
    for (const auto &c : long_names) {
        for (const std::string &before : {std::string(), pad}) {
            SCOPED_TRACE(c.field.substr(0, 10) + (before.empty() ? "" : ", cut by a read"));
            write_file(dir.file("m"), before + c.field + "A: 1\n\nb\n");
            std::string kept = c.kept ? c.field : "";
            for (size_t at = 0; (at = kept.find('\n', at)) != std::string::npos; at += 2)
                kept.replace(at, 1, "\r\n");
            std::string pad_sent = before.empty() ? "" : before.substr(0, before.size() - 1) + "\r\n";
            EXPECT_EQ(precon(s.ctx, dir.file("m")), pad_sent + kept + "A: 1\r\n\r\nb\r\n");
        }
    }
}

} // namespace
