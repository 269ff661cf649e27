// Tests of the recipient, attachment and header-field lists: their order,
// what the constructors store and refuse, and freeing; and the validation
// door for text that goes raw into a header line or an SMTP command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/check.h"
#include "mail/lists.h"
#include "tests/unit/helpers.h"

namespace {

std::vector<std::string> addresses(const Recipient *list)
{
    std::vector<std::string> out;
    for (; list; list = list->next)
        out.push_back(list->address);
    return out;
}

std::vector<std::string> attachment_paths(ListLink *list)
{
    std::vector<std::string> out;
    for (Attachment *a = att_first(list); a; a = att_next(a))
        out.push_back(a->path);
    return out;
}

std::vector<std::string> header_lines(ListLink *list)
{
    std::vector<std::string> out;
    for (HeaderField *h = hdr_first(list); h; h = hdr_next(h))
        out.push_back(std::string(h->name) + ": " + h->value);
    return out;
}

} // namespace

// ---- recipients ------------------------------------------------------------------

TEST(RecipientList, NewestFirst)
{
    Recipient *to = nullptr;
    ASSERT_NE(addr_recipient_add(&to, "a@x.org", nullptr, nullptr), nullptr);
    ASSERT_NE(addr_recipient_add(&to, "b@x.org", nullptr, nullptr), nullptr);
    Recipient *c = addr_recipient_add(&to, "c@x.org", nullptr, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(to, c);
    EXPECT_EQ(addresses(to), (std::vector<std::string>{"c@x.org", "b@x.org", "a@x.org"}));
    EXPECT_EQ(addr_recipient_list_free(&to), 1);
    EXPECT_EQ(to, nullptr);
}

TEST(RecipientList, StoresEncodedNameAndNotifyBits)
{
    Recipient *to = nullptr;
    Recipient *r = addr_recipient_add(&to, "a@x.org", "J\xc3\xb6rg", "sfd");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->display_name, "=?utf-8?B?SsO2cmc=?=");
    EXPECT_EQ(r->notify, unsigned(MAIL_NOTIFY_SUCCESS | MAIL_NOTIFY_FAILURE | MAIL_NOTIFY_DELAY));

    Recipient *plain = addr_recipient_add(&to, "b@x.org", "Ann\tB", nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_STREQ(plain->display_name, "Ann\tB"); // TAB allowed in a display name
    EXPECT_EQ(plain->notify, 0u);

    Recipient *nameless = addr_recipient_add(&to, "c@x.org", nullptr, "");
    ASSERT_NE(nameless, nullptr);
    EXPECT_EQ(nameless->display_name, nullptr);
    addr_recipient_list_free(&to);
}

TEST(RecipientList, RefusesAndLeavesListUnchanged)
{
    const std::string longest(254 - 6, 'l');
    struct Case {
        const char *what;
        std::string address;
        const char *name;
    } cases[] = {
        {"empty", "", nullptr},
        {"no at sign", "nobody", nullptr},
        {"255 bytes", longest + "x@x.org", nullptr},
        {"CR LF in address", "a@x.org\r\nRCPT TO:<b@y.org>", nullptr},
        {"TAB in address", "a\t@x.org", nullptr},
        {"NUL-free control in address", "a\x01@x.org", nullptr},
        {"LF in name", "a@x.org", "A\nBcc: b@y.org"},
        {"DEL in name", "a@x.org", "A\x7f"},
        // Not one mailbox: the header writer would leave these out.
        {"space", "a b@example.org", nullptr},
        {"nothing after at", "bob@", nullptr},
        {"two dots", "a..b@x", nullptr},
        {"two at signs", "a@b@c", nullptr},
        {"leading dot", ".a@x", nullptr},
        {"trailing dot", "a@x.", nullptr},
        {"two addresses", "a@x.org, b@y.org", nullptr},
        // Not UTF-8.
        {"latin-1 address", "j\xf6rg@x.org", nullptr},
        {"cut name", "a@x.org", "J\xc3"},
    };
    Recipient *to = nullptr;
    Recipient *first = addr_recipient_add(&to, "first@x.org", nullptr, nullptr);
    ASSERT_NE(first, nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(addr_recipient_add(&to, c.address.c_str(), c.name, nullptr), nullptr);
        EXPECT_EQ(to, first);
        EXPECT_EQ(first->next, nullptr);
    }
    // The longest acceptable address is 254 bytes; quoted local parts,
    // domain literals and UTF-8 are mailboxes too.
    EXPECT_NE(addr_recipient_add(&to, (longest + "@x.org").c_str(), nullptr, nullptr), nullptr);
    for (const char *good : {"\"a b\"@example.org", "a@[192.0.2.1]", "j\xc3\xb6rg@b\xc3\xbc" "cher.de"})
        EXPECT_NE(addr_recipient_add(&to, good, nullptr, nullptr), nullptr) << good;
    EXPECT_EQ(addr_recipient_add(nullptr, "a@x.org", nullptr, nullptr), nullptr);
    addr_recipient_list_free(&to);
}

TEST(RecipientList, FreeEmptyAndNull)
{
    Recipient *empty = nullptr;
    EXPECT_EQ(addr_recipient_list_free(&empty), 1);
    EXPECT_EQ(empty, nullptr);
    EXPECT_EQ(addr_recipient_list_free(nullptr), 0);
}

TEST(NotifyLetters, Table)
{
    struct Case {
        const char *letters;
        int bits;
    } cases[] = {
        {nullptr, 0},  {"", 0},    {"SF", 6},    {"sfd", 14}, {"n", 1},  {"NS", 3},
        {"xyz", 0},    {"S,F", 6}, {"SSSS", 2},  {"NSFD", 15}, {"Delay", 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.letters ? c.letters : "(null)");
        EXPECT_EQ(mail_parse_notify_letters(c.letters), c.bits);
    }
}

// ---- attachments --------------------------------------------------------------------

class AttachmentList : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            write_file(dir.file(name), name);
    }
    void TearDown() override { att_list_free(&list); }
    std::string path(const char *name) const { return dir.file(name); }
    TempDir dir;
    ListLink *list = nullptr;
};

TEST_F(AttachmentList, OrderOfAddition)
{
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        ASSERT_EQ(att_add(&list, path(name).c_str(), ATT_ENC_AUTO, 0, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(attachment_paths(list),
              (std::vector<std::string>{path("a.txt"), path("b.txt"), path("c.txt")}));
    // The head is the newest record, and the links agree both ways.
    Attachment *newest = LIST_RECORD(list, Attachment, link);
    EXPECT_EQ(newest->path, path("c.txt"));
    EXPECT_EQ(list->prev, nullptr);
    ASSERT_NE(list->next, nullptr);
    EXPECT_EQ(list->next->prev, list);
}

TEST_F(AttachmentList, StoresFields)
{
    ASSERT_EQ(att_add(&list, path("a.txt").c_str(), ATT_ENC_QP, 0x1000, "cid1", "text/plain",
                      "Report"),
              1);
    Attachment *a = att_first(list);
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->path, path("a.txt").c_str());
    EXPECT_STREQ(a->encoded_name, "Report");
    EXPECT_STREQ(a->display_name, "Report");
    EXPECT_STREQ(a->content_id, "cid1");
    EXPECT_STREQ(a->mime_type, "text/plain");
    EXPECT_EQ(a->encoding, ATT_ENC_QP);
    EXPECT_EQ(a->is_inline, 0x1000);

    // Empty content ID and MIME type are stored as NULL.
    ASSERT_EQ(att_add(&list, path("b.txt").c_str(), ATT_ENC_AUTO, 0, "", "", nullptr), 1);
    Attachment *b = att_next(a);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->content_id, nullptr);
    EXPECT_EQ(b->mime_type, nullptr);
    EXPECT_EQ(b->display_name, nullptr);
    EXPECT_STREQ(b->encoded_name, "b.txt");
    EXPECT_EQ(att_next(b), nullptr);
}

TEST_F(AttachmentList, EncodedNameFromBaseNameOrDisplayName)
{
    // The path itself need not use backslashes to exist; the base name is
    // taken after the later of "/" and "\".
    write_file(dir.file("odd\\name.bin"), "x");
    struct Case {
        std::string path;
        const char *display;
        const char *encoded;
    } cases[] = {
        {path("a.txt"), nullptr, "a.txt"},
        {dir.file("odd\\name.bin"), nullptr, "name.bin"},
        {path("b.txt"), "Gr\xc3\xbc\xc3\x9f""e", "=?utf-8?B?R3LDvMOfZQ==?="},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        ListLink *one = nullptr;
        ASSERT_EQ(att_add(&one, c.path.c_str(), ATT_ENC_AUTO, 0, nullptr, nullptr, c.display), 1);
        EXPECT_STREQ(att_first(one)->encoded_name, c.encoded);
        att_list_free(&one);
    }
}

TEST_F(AttachmentList, RefusesAndLeavesListUnchanged)
{
    ASSERT_EQ(att_add(&list, path("a.txt").c_str(), ATT_ENC_AUTO, 0, nullptr, nullptr, nullptr), 1);
    ListLink *head = list;
    struct Case {
        const char *what;
        std::string path;
        const char *cid, *type, *name;
    } cases[] = {
        {"missing file", path("missing.txt"), nullptr, nullptr, nullptr},
        {"a directory", dir.path, nullptr, nullptr, nullptr},
        {"CR LF in content ID", path("b.txt"), "x\r\nX-Evil: 1", nullptr, nullptr},
        {"TAB in MIME type", path("b.txt"), nullptr, "text/\tplain", nullptr},
        {"LF in display name", path("b.txt"), nullptr, nullptr, "a\nb"},
        {"latin-1 display name", path("b.txt"), nullptr, nullptr, "caf\xe9"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(att_add(&list, c.path.c_str(), ATT_ENC_AUTO, 0, c.cid, c.type, c.name), 0);
        EXPECT_EQ(list, head);
        EXPECT_EQ(head->prev, nullptr);
    }
    EXPECT_EQ(att_add(&list, nullptr, ATT_ENC_AUTO, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(att_add(nullptr, path("b.txt").c_str(), ATT_ENC_AUTO, 0, nullptr, nullptr, nullptr),
              0);
    // A TAB is fine in the display name.
    EXPECT_EQ(att_add(&list, path("b.txt").c_str(), ATT_ENC_AUTO, 0, nullptr, nullptr, "a\tb"), 1);
}

TEST(AttachmentFree, EmptyAndNull)
{
    ListLink *empty = nullptr;
    EXPECT_EQ(att_list_free(&empty), 1);
    EXPECT_EQ(empty, nullptr);
    EXPECT_EQ(att_list_free(nullptr), 0);
    EXPECT_EQ(att_first(nullptr), nullptr);
    EXPECT_EQ(list_oldest(nullptr), nullptr);
}

// ---- header fields --------------------------------------------------------------------

TEST(HeaderList, OrderOfAdditionAndEncodedValues)
{
    ListLink *list = nullptr;
    ASSERT_EQ(hdr_list_add(&list, "X-One", "1"), 1);
    ASSERT_EQ(hdr_list_add(&list, "X-Two", "caf\xc3\xa9"), 1);
    ASSERT_EQ(hdr_list_add(&list, "X-Three", ""), 1);
    ASSERT_EQ(hdr_list_add(&list, "X-Tab", "a\tb"), 1);
    EXPECT_EQ(header_lines(list), (std::vector<std::string>{"X-One: 1", "X-Two: =?utf-8?B?Y2Fmw6k=?=",
                                                            "X-Three: ", "X-Tab: a\tb"}));
    EXPECT_STREQ(LIST_RECORD(list, HeaderField, link)->name, "X-Tab");
    EXPECT_EQ(hdr_list_free(&list), 1);
    EXPECT_EQ(list, nullptr);
}

TEST(HeaderList, Refuses)
{
    struct Case {
        const char *what;
        const char *name, *value;
    } cases[] = {
        {"NULL name", nullptr, "v"},
        {"NULL value", "X-A", nullptr},
        {"empty name", "", "v"},
        {"space in name", "X A", "v"},
        {"colon in name", "X:A", "v"},
        {"LF in name", "X\nA", "v"},
        {"non-ASCII name", "X-\xc3\xa9", "v"},
        {"CR LF in value", "X-A", "v\r\nBcc: evil@x.org"},
        {"NUL-free control in value", "X-A", "v\x1b"},
        {"latin-1 value", "X-A", "caf\xe9"},
    };
    ListLink *list = nullptr;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(hdr_list_add(&list, c.name, c.value), 0);
        EXPECT_EQ(list, nullptr);
    }
    EXPECT_EQ(hdr_list_add(nullptr, "X-A", "v"), 0);
    ListLink *empty = nullptr;
    EXPECT_EQ(hdr_list_free(&empty), 1);
    EXPECT_EQ(hdr_list_free(nullptr), 0);
}

TEST(HeaderList, FieldNameRule)
{
    EXPECT_EQ(hdr_name_is_valid("X-Mailer"), 1);
    EXPECT_EQ(hdr_name_is_valid("!#$%&'*+-.^_`|~09AZaz"), 1);
    EXPECT_EQ(hdr_name_is_valid("\x7e"), 1);
    EXPECT_EQ(hdr_name_is_valid("\x7f"), 0);
    EXPECT_EQ(hdr_name_is_valid(" "), 0);
    EXPECT_EQ(hdr_name_is_valid(""), 0);
    EXPECT_EQ(hdr_name_is_valid(nullptr), 0);
}

// ---- the validation door ----------------------------------------------------------------

TEST(TextDoor, EveryControlByteIsRefusedTabOnlyWhereAllowed)
{
    for (int c = 1; c < 256; c++) {
        SCOPED_TRACE(c);
        const char text[] = {'a', static_cast<char>(c), 'b', 0};
        bool control = c < 0x20 || c == 0x7f;
        EXPECT_EQ(text_is_clean(text, TEXT_NO_TAB), control ? 0 : 1);
        EXPECT_EQ(text_is_clean(text, TEXT_ALLOW_TAB), control && c != '\t' ? 0 : 1);
        // Header-field names and SMTP parameter values: visible ASCII only.
        bool visible = c >= 33 && c <= 126;
        EXPECT_EQ(text_is_visible_ascii(text, 1), visible ? 1 : 0);
        EXPECT_EQ(text_is_visible_ascii(text, 0), visible && c != ':' ? 1 : 0);
    }
    EXPECT_EQ(text_is_clean(nullptr, TEXT_NO_TAB), 1);
    EXPECT_EQ(text_is_clean("", TEXT_NO_TAB), 1);
    EXPECT_EQ(text_is_visible_ascii("", 1), 0);
    EXPECT_EQ(text_is_visible_ascii(nullptr, 1), 0);
    // Counted texts: a NUL inside is refused, bytes past the count unread.
    EXPECT_EQ(text_is_clean_n("ab\0cd", 5, TEXT_ALLOW_TAB), 0);
    EXPECT_EQ(text_is_clean_n("ab\ncd", 2, TEXT_NO_TAB), 1);
    EXPECT_EQ(text_is_clean_n("ab\ncd", 3, TEXT_NO_TAB), 0);
}
