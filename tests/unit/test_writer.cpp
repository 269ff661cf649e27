// The message writers, end to end into files: exact wire form of the simple
// message, every structure parsed back by Python's email package, every
// attachment encoding round-tripped to the original bytes, dot-stuffing,
// and the failures that must not leave a partial message behind.
#include "mail/option.h"
#include "mail/session.h"
#include "mail/writer.h"
#include "support/dotstuff.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/unit/helpers.h"

#ifndef TARVEX_TEST_PY_DIR
#define TARVEX_TEST_PY_DIR "tests/py"
#endif

namespace {

struct Session {
    MailContext *ctx;
    Session()
    {
        mail_global_init(1, 12345);
        ctx = mail_new();
    }
    ~Session() { mail_free(ctx); }
    void set(unsigned code, const char *v1 = nullptr, const char *v2 = nullptr, const char *v3 = nullptr,
             const char *v4 = nullptr)
    {
        ASSERT_EQ(mail_set_option(ctx, code, v1, v2, v3, v4), 1) << "option " << code << ": " << mail_last_error(ctx);
    }
};

std::string json_string(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string sha256_of(const std::string &bytes)
{
    return run_python("import hashlib,sys; print(hashlib.sha256(sys.stdin.buffer.read()).hexdigest(), end='')",
                      bytes);
}

// Runs the Python checker on the file; returns its verdict ("OK").
std::string check(const std::string &path, const std::string &expect_json)
{
    std::string script = read_file(TARVEX_TEST_PY_DIR "/check_message.py");
    TempDir d;
    write_file(d.file("check.py"), script);
    return run_command(std::string(TARVEX_PYTHON) + " '" + d.file("check.py") + "' '" + path + "'", expect_json);
}

std::string random_bytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto &c : s)
        c = static_cast<char>(gen());
    return s;
}

int count_lines_starting(const std::string &msg, const std::string &prefix)
{
    int n = 0;
    size_t pos = 0;
    while (pos < msg.size()) {
        size_t end = msg.find("\r\n", pos);
        if (end == std::string::npos)
            end = msg.size();
        if (msg.compare(pos, prefix.size(), prefix) == 0)
            n++;
        pos = end + 2;
    }
    return n;
}

struct Recorded {
    int stage = 0, result = 0;
    std::string text;
};

int record_status(void *user, int stage, int result, const char *text)
{
    auto *r = static_cast<std::vector<Recorded> *>(user);
    r->push_back({stage, result, text ? text : ""});
    return 0;
}

// Collects what a writer prints.
struct Capture {
    StrBuf sb = {};
    MsgSink ms;
    Capture() { msg_sink_init(&ms, strbuf_sink, &sb); }
    ~Capture() { sbuf_release(&sb); }
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;
    std::string text() const { return std::string(sb.data ? sb.data : "", sb.length); }
};

TEST(Writer, PlainAsciiMessageHasItsExactWireForm)
{
    for (bool stuff : {false, true}) {
        SCOPED_TRACE(stuff ? "dot-stuffed" : "plain");
        TempDir dir;
        Session s;
        s.set(MAILOPT_FROM, "a@example.com");
        s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com");
        s.set(MAILOPT_SUBJECT, "Hi");
        s.set(MAILOPT_BODY, "Hello\n.dot line");
        s.set(MAILOPT_DATE, "86399");
        s.set(MAILOPT_MESSAGE_ID, "id@example.com");
        if (stuff)
            s.set(MAILOPT_DOT_STUFF);
        std::string out = dir.file("m.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK);
        EXPECT_EQ(read_file(out), std::string("Date: Thu, 01 Jan 1970 23:59:59 GMT\r\n"
                                              "Subject: Hi\r\n"
                                              "From: a@example.com\r\n"
                                              "To: b@example.com\r\n"
                                              "Message-ID: <id@example.com>\r\n"
                                              "Content-Type: text/plain; charset=us-ascii\r\n"
                                              "Content-Transfer-Encoding: 7bit\r\n"
                                              "\r\n"
                                              "Hello\r\n") +
                                      (stuff ? ".." : ".") + "dot line\r\n");
    }
}

TEST(Writer, RecipientsAndNamesParseBackExactly)
{
    TempDir dir;
    Session s;
    // A name that tries to close its quotes and show another address.
    s.set(MAILOPT_FROM, "sender@example.com", "Doe \"evil@attacker.test\" \\ Jr");
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "a@example.com", "Ann");
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com");
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "c@b\xc3\xbc" "cher.example");
    std::string subject;
    for (int i = 0; i < 40; i++)
        subject += "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x98\x80 ";
    s.set(MAILOPT_SUBJECT, subject.c_str());
    s.set(MAILOPT_BODY, "caf\xc3\xa9 \r\ntrailing space \r\n");
    std::string out = dir.file("m.eml");
    s.set(MAILOPT_OUTPUT_FILE, out.c_str());
    ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK);
    std::string json = "{\"strict\": true, \"max_line\": 998, \"subject\": " + json_string(subject) +
                       ", \"from_addr\": \"sender@example.com\", \"from_name\": " +
                       json_string("Doe \"evil@attacker.test\" \\ Jr") +
                       ", \"to\": [\"c@xn--bcher-kva.example\", \"b@example.com\", \"a@example.com\"]" +
                       ", \"text\": " + json_string("caf\xc3\xa9 \r\ntrailing space \r\n\r\n") + "}";
    EXPECT_EQ(check(out, json), "OK\n");
    std::string msg = read_file(out);
    // Long encoded subjects fold into several lines under 78 columns.
    size_t start = msg.find("Subject: ");
    size_t end = msg.find("\r\nFrom:");
    ASSERT_NE(start, std::string::npos);
    std::string field = msg.substr(start, end - start);
    size_t line_start = 0;
    while (line_start < field.size()) {
        size_t e = field.find("\r\n", line_start);
        if (e == std::string::npos)
            e = field.size();
        EXPECT_LE(e - line_start, 78u);
        line_start = e + 2;
    }
    EXPECT_NE(msg.find("MIME-Version: 1.0\r\n"), std::string::npos);
    EXPECT_NE(msg.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
}

TEST(Writer, EveryMimeStructureParsesBackWithItsParts)
{
    TempDir dir;
    std::string binary = random_bytes(100000, 7);
    std::string text_att;
    for (int i = 0; i < 3000; i++)
        text_att += "line " + std::to_string(i) + " with trailing space \n";
    std::string logo = random_bytes(3000, 9);
    write_file(dir.file("data.bin"), binary);
    write_file(dir.file("notes.txt"), text_att);
    write_file(dir.file("logo 1.png"), logo);
    write_file(dir.file("page.html"), "<p>Hello \xc3\xa9</p>\r\n<img src=\"cid:logo\">\r\n");

    struct Case {
        const char *name;
        bool html_file;
        bool inline_image;
        int body_enc; // sub-choice of MAILOPT_BODY
    } cases[] = {
        {"text and attachments", false, false, 0},
        {"html from file with inline image", true, true, 0},
        {"html text, base64 bodies", false, false, 0x100},
        {"quoted-printable bodies", true, false, 0x200},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.set(MAILOPT_FROM, "a@example.com");
        s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com");
        s.set(MAILOPT_SUBJECT, "parts");
        s.set(MAILOPT_BODY | static_cast<unsigned>(c.body_enc), "The text.\n");
        if (c.html_file)
            s.set(MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, dir.file("page.html").c_str());
        else if (c.body_enc == 0x100)
            s.set(MAILOPT_BODY_HTML, "<p>inline html</p>");
        if (c.inline_image)
            s.set(MAILOPT_ATTACH | MAILOPT_FROM_FILE, dir.file("logo 1.png").c_str());
        s.set(MAILOPT_ATTACH, dir.file("data.bin").c_str());
        s.set(MAILOPT_ATTACH, dir.file("notes.txt").c_str());
        std::string out = dir.file("m.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
        std::string atts = "[";
        if (c.inline_image)
            atts += "{\"sha256\": \"" + sha256_of(logo) + "\", \"inline\": true, \"cid\": \"<logo 1.png>\", "
                    "\"content_type\": \"image/png\"}, ";
        atts += "{\"filename\": \"data.bin\", \"sha256\": \"" + sha256_of(binary) +
                "\", \"inline\": false, \"content_type\": \"application/octet-stream\"}, "
                "{\"filename\": \"notes.txt\", \"sha256\": \"" + sha256_of(text_att) +
                "\", \"inline\": false, \"content_type\": \"text/plain\"}]";
        // Text given with LF keeps it in base64 and quoted-printable; the
        // wrapped 7bit form ends every line with CR LF.
        std::string text = c.body_enc ? "The text.\\n" : "The text.\\r\\n";
        std::string json = "{\"max_line\": 76, \"text\": \"" + text + "\", \"attachments\": " + atts;
        if (c.html_file)
            json += ", \"html\": " + json_string("<p>Hello \xc3\xa9</p>\r\n<img src=\"cid:logo\">\r\n");
        else if (c.body_enc == 0x100)
            json += ", \"html\": \"<p>inline html</p>\"";
        json += "}";
        EXPECT_EQ(check(out, json), "OK\n");
    }
}

TEST(Writer, MessageAttachmentIsCopiedWithCrlfLineEnds)
{
    TempDir dir;
    write_file(dir.file("inner.eml"), "Subject: inner\nFrom: x@example.com\n\n.\nbody line\r\nlast");
    Session s;
    s.set(MAILOPT_FROM, "a@example.com");
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com");
    s.set(MAILOPT_BODY, "see attached");
    s.set(MAILOPT_ATTACH, dir.file("inner.eml").c_str());
    s.set(MAILOPT_DOT_STUFF);
    std::string out = dir.file("m.eml");
    s.set(MAILOPT_OUTPUT_FILE, out.c_str());
    ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK);
    std::string msg = read_file(out);
    EXPECT_NE(msg.find("Content-Type: message/rfc822;\r\n\tname=\"inner.eml\"\r\n"), std::string::npos);
    EXPECT_NE(msg.find("Content-Transfer-Encoding: 7bit\r\n\r\n"
                       "Subject: inner\r\nFrom: x@example.com\r\n\r\n..\r\nbody line\r\nlast\r\n"),
              std::string::npos);
}

// Decodes the yEnc block of a message.
std::string yenc_decode_block(const std::string &msg)
{
    size_t begin = msg.find("=ybegin ");
    size_t data = msg.find("\r\n", begin) + 2;
    size_t end = msg.find("=yend", data);
    std::string out;
    for (size_t i = data; i < end; i++) {
        unsigned char c = static_cast<unsigned char>(msg[i]);
        if (c == '\r' || c == '\n')
            continue;
        if (c == '=') {
            c = static_cast<unsigned char>(msg[++i]);
            c = static_cast<unsigned char>(c - 64);
        }
        out += static_cast<char>(c - 42);
    }
    return out;
}

TEST(Writer, UuencodeAndYencBlocksRoundTrip)
{
    TempDir dir;
    std::string payload = random_bytes(50000, 3);
    // Bytes that make a uuencoded line start with "." (14-byte last line).
    std::string small = random_bytes(45 * 3 + 14, 4);
    write_file(dir.file("p.bin"), payload);
    write_file(dir.file("s.bin"), small);
    Session s;
    s.set(MAILOPT_FROM, "a@example.com");
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com");
    s.set(MAILOPT_BODY, "caf\xc3\xa9 text before the blocks");
    s.set(MAILOPT_ATTACH | 0x300, dir.file("p.bin").c_str());
    s.set(MAILOPT_ATTACH | 0x300, dir.file("s.bin").c_str());
    ASSERT_EQ(att_add(&s.ctx->attachments, dir.file("p.bin").c_str(), ATT_ENC_YENC, 0, nullptr, nullptr, "y.bin"), 1);
    s.set(MAILOPT_DOT_STUFF);
    std::string out = dir.file("m.eml");
    s.set(MAILOPT_OUTPUT_FILE, out.c_str());
    ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK);
    std::string msg = read_file(out);
    // The non-ASCII text is declared, but stays outside any encoding that
    // would swallow the blocks after it.
    EXPECT_NE(msg.find("Content-Transfer-Encoding: 8bit\r\n\r\ncaf\xc3\xa9 text"), std::string::npos);
    EXPECT_EQ(count_lines_starting(msg, "begin 644 "), 2);

    // uudecode reads LF lines; the dot-stuffed line must be unstuffed first,
    // as an SMTP server would.
    std::string lf;
    for (size_t pos = 0; pos < msg.size();) {
        size_t e = msg.find("\r\n", pos);
        std::string line = msg.substr(pos, e - pos);
        if (line.rfind("..", 0) == 0)
            line.erase(0, 1);
        lf += line + "\n";
        pos = e + 2;
    }
    EXPECT_NE(msg.find("\r\n.."), std::string::npos);
    // uudecode takes one block per file.
    size_t second = lf.find("begin 644 ", lf.find("begin 644 ") + 1);
    write_file(dir.file("uu1.txt"), lf.substr(0, second));
    write_file(dir.file("uu2.txt"), lf.substr(second));
    int rc = -1;
    run_command("cd '" + dir.path + "' && mkdir -p uu && cd uu && uudecode ../uu1.txt && uudecode ../uu2.txt", "", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(read_file(dir.file("uu/p.bin")), payload);
    EXPECT_EQ(read_file(dir.file("uu/s.bin")), small);
    EXPECT_EQ(yenc_decode_block(msg), payload);
    EXPECT_NE(msg.find("=ybegin size=50000 line=499 name=y.bin\r\n"), std::string::npos);
    EXPECT_NE(msg.find("=yend size=50000\r\n"), std::string::npos);
}

TEST(Writer, VanishedAttachmentIsReportedAndLeftOut)
{
    TempDir dir;
    write_file(dir.file("gone.bin"), "x");
    write_file(dir.file("kept.txt"), "kept\n");
    Session s;
    std::vector<Recorded> reports;
    mail_set_callback(s.ctx, MAILCB_STATUS, record_status, &reports);
    s.set(MAILOPT_FROM, "a@example.com");
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com");
    s.set(MAILOPT_BODY, "text");
    s.set(MAILOPT_ATTACH, dir.file("gone.bin").c_str());
    s.set(MAILOPT_ATTACH, dir.file("kept.txt").c_str());
    std::remove(dir.file("gone.bin").c_str());
    std::string out = dir.file("m.eml");
    s.set(MAILOPT_OUTPUT_FILE, out.c_str());
    ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK);
    // One report per vanished file, not one per writer that looked for it.
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].stage, MAIL_STAGE_ATTACHMENT);
    EXPECT_EQ(reports[0].result, MAIL_RESULT_FAILED);
    EXPECT_EQ(reports[0].text, "Could not open attachment (" + dir.file("gone.bin") + ")");
    std::string json = "{\"attachments\": [{\"filename\": \"kept.txt\", \"sha256\": \"" + sha256_of("kept\n") + "\"}]}";
    EXPECT_EQ(check(out, json), "OK\n");
}

TEST(Writer, FailuresRemoveThePartialFile)
{
    TempDir dir;
    {
        SCOPED_TRACE("output file cannot be opened");
        Session s;
        s.set(MAILOPT_FROM, "a@example.com");
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_OUTPUT_FILE, dir.path.c_str()); // a directory
        EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_OPEN);
        EXPECT_STREQ(mail_last_error(s.ctx), "Failed to open output file");
    }
    {
        SCOPED_TRACE("HTML body file vanished");
        write_file(dir.file("page.html"), "<p>x</p>");
        Session s;
        std::vector<Recorded> reports;
        mail_set_callback(s.ctx, MAILCB_STATUS, record_status, &reports);
        s.set(MAILOPT_FROM, "a@example.com");
        s.set(MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, dir.file("page.html").c_str());
        std::remove(dir.file("page.html").c_str());
        std::string out = dir.file("m.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_READ);
        EXPECT_FALSE(plat_file_exists(out.c_str()));
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].stage, MAIL_STAGE_ATTACHMENT);
        EXPECT_EQ(reports[0].text, "Could not open HTML body file (" + dir.file("page.html") + ")");

        // Through any sink: nothing at all is written before the failure.
        Capture c;
        EXPECT_EQ(mime_write_message(s.ctx, msg_printf, &c.ms), MIME_FAIL_READ);
        EXPECT_EQ(c.text(), "");
    }
    {
        SCOPED_TRACE("read error while encoding");
        // Reading /proc/self/mem at offset 0 fails with EIO.
        Session s;
        s.set(MAILOPT_FROM, "a@example.com");
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_ATTACH | 0x300, "/proc/self/mem");
        std::string out = dir.file("m2.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_READ);
        EXPECT_FALSE(plat_file_exists(out.c_str()));
        EXPECT_STREQ(mail_last_error(s.ctx), "Read error on attachment (/proc/self/mem)");
    }
}

// A sink that takes a fixed number of bytes and then fails.
struct LimitSink {
    size_t left;
    std::string got;
};

int limit_sink(void *p, const char *text, size_t len)
{
    auto *ls = static_cast<LimitSink *>(p);
    if (len > ls->left)
        return 0;
    ls->left -= len;
    ls->got.append(text, len);
    return 1;
}

TEST(Writer, SinkFailureIsKeptAndNothingFollowsIt)
{
    TempDir dir;
    write_file(dir.file("a.bin"), random_bytes(20000, 1));
    Session s;
    s.set(MAILOPT_FROM, "a@example.com");
    s.set(MAILOPT_BODY, "text");
    s.set(MAILOPT_ATTACH, dir.file("a.bin").c_str());
    for (size_t limit : {0u, 100u, 5000u}) {
        SCOPED_TRACE(limit);
        LimitSink ls{limit, ""};
        MsgSink ms;
        msg_sink_init(&ms, limit_sink, &ls);
        mime_write_message(s.ctx, msg_printf, &ms);
        EXPECT_EQ(ms.failed, 1);
        EXPECT_LE(ls.got.size(), limit);
    }
}

TEST(Writer, DotStuffFilterKeepsStateAcrossPieces)
{
    struct Case {
        std::vector<std::string> pieces;
        std::string want;
    } cases[] = {
        {{".a\r\n.b\r\n"}, "..a\r\n..b\r\n"},
        {{"x\r", "\n", ".", "y"}, "x\r\n..y"},
        {{"x\r\n", ".\r\n"}, "x\r\n..\r\n"},
        {{"a.b\r\n"}, "a.b\r\n"},
        {{std::string("\0.\n.", 4)}, std::string("\0.\n..", 5)},
        {{"", ".", ""}, ".."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.want);
        StrBuf sb = {};
        DotStuffSink ds;
        dotstuff_init(&ds, strbuf_sink, &sb);
        for (const std::string &p : c.pieces)
            ASSERT_EQ(dotstuff_sink(&ds, p.data(), p.size()), 1);
        EXPECT_EQ(std::string(sb.data ? sb.data : "", sb.length), c.want);
        sbuf_release(&sb);
    }
}

TEST(Writer, AttachmentSetsThatDoNotFitOneForm)
{
    TempDir dir;
    write_file(dir.file("f"), "x");
    const char *mixing = "Mixing MIME and Uuencoded attachments is prohibited";
    const char *inl = "Inline attachments require a HTML body";
    const char *yenc = "Mixing MIME and yEnc attachments is prohibited";
    struct Case {
        const char *name;
        std::vector<std::pair<int, int>> atts; // encoding, inline
        bool html;
        const char *want;
    } cases[] = {
        {"none", {}, false, nullptr},
        {"uuencode alone", {{ATT_ENC_UUENCODE, 0}}, false, nullptr},
        {"uuencode and yEnc", {{ATT_ENC_UUENCODE, 0}, {ATT_ENC_YENC, 0}}, false, nullptr},
        {"uuencode and base64", {{ATT_ENC_UUENCODE, 0}, {ATT_ENC_BASE64, 0}}, false, mixing},
        {"inline without html", {{ATT_ENC_AUTO, 0x1000}}, false, inl},
        {"inline and uuencode", {{ATT_ENC_AUTO, 0x1000}, {ATT_ENC_UUENCODE, 0}}, false, inl},
        {"inline with html", {{ATT_ENC_AUTO, 0x1000}}, true, nullptr},
        {"uuencode with html", {{ATT_ENC_UUENCODE, 0}}, true, mixing},
        // yEnc blocks stay out of MIME messages as uuencode blocks do.
        {"yEnc and base64", {{ATT_ENC_YENC, 0}, {ATT_ENC_BASE64, 0}}, false, yenc},
        {"yEnc with html", {{ATT_ENC_YENC, 0}}, true, yenc},
        {"yEnc and a copied message part", {{ATT_ENC_YENC, 0}, {ATT_ENC_RAW, 0}}, false, yenc},
        {"yEnc alone", {{ATT_ENC_YENC, 0}}, false, nullptr},
        {"uuencode, yEnc and base64", {{ATT_ENC_UUENCODE, 0}, {ATT_ENC_YENC, 0}, {ATT_ENC_BASE64, 0}}, false, mixing},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        for (auto [enc, inl_flag] : c.atts)
            ASSERT_EQ(att_add(&s.ctx->attachments, dir.file("f").c_str(), enc, inl_flag, nullptr, nullptr, nullptr), 1);
        if (c.html)
            s.set(MAILOPT_BODY_HTML, "<p>x</p>");
        const char *msg = "unset";
        EXPECT_EQ(mime_check_attachments(s.ctx, &msg), c.want ? 0 : 1);
        if (c.want)
            EXPECT_STREQ(msg, c.want);
        else
            EXPECT_EQ(msg, nullptr);
    }
}

} // namespace
