// The message writers: the exact header block (field order, priority
// table, removal list of a ready message, recipient lists and callback),
// the exact wire form of the simple message, every structure and nesting
// parsed back by Python's email package, every attachment encoding
// round-tripped to the original bytes, folding under the line limit,
// dot-stuffing, rendering for signing, and the failures that must not leave
// a partial or broken message behind.
#include "dkim/dkim.h"
#include "mail/fileread.h"
#include "mail/option.h"
#include "mail/session.h"
#include "mail/writer.h"
#include "support/dotstuff.h"
#include "support/file.h"
#include "platform/platform.h"
#include "mail/lists.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/helpers.h"
#include "tests/unit/keygen.h"

#ifndef TARVEX_TEST_PY_DIR
#define TARVEX_TEST_PY_DIR "tests/py"
#endif

// ---- memory that runs out on demand ---------------------------------------------
// While g_alloc_countdown is not negative, it counts allocations down (every
// operator new of this program and every StrBuf growth) and the one that
// finds it at 0 fails; the others go on as usual.
static long g_alloc_countdown = -1;

static bool alloc_fails_now()
{
    if (g_alloc_countdown < 0)
        return false;
    return g_alloc_countdown-- == 0;
}

static void *counted_new(size_t n)
{
    void *p = alloc_fails_now() ? nullptr : malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void *operator new(size_t n) { return counted_new(n); }
void *operator new[](size_t n) { return counted_new(n); }
void *operator new(size_t n, const std::nothrow_t &) noexcept { return alloc_fails_now() ? nullptr : malloc(n ? n : 1); }
void *operator new[](size_t n, const std::nothrow_t &) noexcept { return alloc_fails_now() ? nullptr : malloc(n ? n : 1); }
void operator delete(void *p) noexcept { free(p); }
void operator delete[](void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }
void operator delete[](void *p, size_t) noexcept { free(p); }

namespace {

void *counted_realloc(void *p, size_t n) { return alloc_fails_now() ? nullptr : realloc(p, n); }

// ---- reads watched and disturbed ----------------------------------------------------
// Puts a function in front of every file read of the writers while it lives.
struct ReadHook {
    static ReadHook *active;
    std::function<void(int fd)> before; // runs before each read
    int reads = 0;
    int64_t (*saved)(int, void *, size_t);
    ReadHook() : saved(mime_read_fn)
    {
        active = this;
        mime_read_fn = &ReadHook::read;
    }
    ~ReadHook()
    {
        mime_read_fn = saved;
        active = nullptr;
    }
    static int64_t read(int fd, void *buf, size_t len)
    {
        active->reads++;
        if (active->before)
            active->before(fd);
        return plat_read(fd, buf, len);
    }
};
ReadHook *ReadHook::active = nullptr;

// A MessagePrintFn over a sink that takes `limit` bytes and then fails:
// it keeps what it took, and counts what the writer still tries after
// the failure (prints, and file reads through the hook).
struct FailingPrint {
    explicit FailingPrint(size_t n) : limit(n) {}
    size_t limit;
    std::string got;
    bool failed = false;
    int prints_after = 0;
    int reads_after = 0;
};

int failing_sink(void *p, const char *text, size_t len)
{
    auto *f = static_cast<FailingPrint *>(p);
    if (f->got.size() + len > f->limit)
        return 0;
    f->got.append(text, len);
    return 1;
}

int failing_print(void *user, const char *format, ...)
{
    auto *f = static_cast<FailingPrint *>(user);
    if (f->failed) {
        f->prints_after++;
        return 0;
    }
    va_list ap;
    va_start(ap, format);
    int ok = fmt_vformat(failing_sink, f, nullptr, nullptr, format, ap);
    va_end(ap);
    f->failed = !ok;
    return ok;
}

// The names in a folder (to find files a writer left behind).
std::set<std::string> names_in(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

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

// n copies of piece.
std::string repeat(const std::string &piece, int n)
{
    std::string t;
    for (int i = 0; i < n; i++)
        t += piece;
    return t;
}

// A literal's bytes, NUL bytes inside it included.
template <size_t N> std::string bytes_of(const char (&literal)[N]) { return std::string(literal, N - 1); }

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
                                              "MIME-Version: 1.0\r\n"
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
        {"html text, base64 bodies", false, false, MAILOPT_BODY_BASE64},
        {"quoted-printable bodies", true, false, MAILOPT_BODY_QP},
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
        else if (c.body_enc == MAILOPT_BODY_BASE64)
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
        else if (c.body_enc == MAILOPT_BODY_BASE64)
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
    s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE, dir.file("p.bin").c_str());
    s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE, dir.file("s.bin").c_str());
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
        EXPECT_EQ(mail_last_error(s.ctx), "Failed to open output file (" + dir.path + "): Is a directory");
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
        s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE, "/proc/self/mem");
        std::string out = dir.file("m2.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_READ);
        EXPECT_FALSE(plat_file_exists(out.c_str()));
        EXPECT_STREQ(mail_last_error(s.ctx), "Read error on attachment (/proc/self/mem): Input/output error");
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

// The sessions of the failure sweeps below: every encoding and kind of
// part, with fixed date, Message-ID and boundaries so that every write of
// one setup gives the same bytes.
struct MessageSetup {
    const char *name;
    void (*make)(Session &, const TempDir &);
};

void write_inputs(const TempDir &dir)
{
    std::string text;
    for (int i = 0; i < 400; i++)
        text += "line " + std::to_string(i) + " caf\xc3\xa9\n";
    write_file(dir.file("notes.txt"), text);
    write_file(dir.file("data.bin"), random_bytes(30000, 31));
    write_file(dir.file("logo.png"), random_bytes(5000, 32));
    write_file(dir.file("page.html"), "<p>caf\xc3\xa9</p>\n" + text);
    write_file(dir.file("inner.eml"), "Subject: inner\n\n.\nbody\n" + text);
    write_file(dir.file("nul.eml"), bytes_of("Subject: nul\n\nbefore\0after\n"));
}

void fixed_settings(Session &s)
{
    s.set(MAILOPT_FROM, "a@example.com", "Sender \xc3\xa9");
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com", "B");
    s.set(MAILOPT_DATE, "86399");
    s.set(MAILOPT_MESSAGE_ID, "id@example.com");
    s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b", "rel-b");
    s.set(MAILOPT_SUBJECT, "Gr\xc3\xbc\xc3\x9f" "e aus der Ferne, mit einer langen Zeile, die gefaltet wird");
    s.set(MAILOPT_HEADER, "X-Note", "caf\xc3\xa9 and more");
}

const MessageSetup kSetups[] = {
    {"MIME parts: quoted-printable, base64, copied and unfit message parts",
     [](Session &s, const TempDir &d) {
         fixed_settings(s);
         s.set(MAILOPT_BODY, "Text caf\xc3\xa9\n.line\n");
         s.set(MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, d.file("page.html").c_str());
         s.set(MAILOPT_ATTACH | MAILOPT_FROM_FILE, d.file("logo.png").c_str());
         s.set(MAILOPT_ATTACH, d.file("notes.txt").c_str());
         s.set(MAILOPT_ATTACH, d.file("data.bin").c_str());
         s.set(MAILOPT_ATTACH, d.file("inner.eml").c_str());
         s.set(MAILOPT_ATTACH, d.file("nul.eml").c_str());
     }},
    {"base64 bodies, explicit attachment encodings",
     [](Session &s, const TempDir &d) {
         fixed_settings(s);
         s.set(MAILOPT_BODY | MAILOPT_BODY_BASE64, "Text\n");
         s.set(MAILOPT_BODY_HTML, "<p>html</p>");
         s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_BASE64, d.file("notes.txt").c_str());
         s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_QP, d.file("data.bin").c_str());
     }},
    {"7bit text with uuencode and yEnc blocks",
     [](Session &s, const TempDir &d) {
         fixed_settings(s);
         std::string text;
         for (int i = 0; i < 300; i++)
             text += "word" + std::to_string(i) + (i % 9 ? " " : "\n");
         s.set(MAILOPT_BODY, text.c_str());
         s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE, d.file("data.bin").c_str());
         ASSERT_EQ(att_add(&s.ctx->attachments, d.file("logo.png").c_str(), ATT_ENC_YENC, 0, nullptr, nullptr, nullptr),
                   1);
     }},
};

TEST(Writer, EveryWriterStopsAtTheFirstFailedPrint)
{
    TempDir dir;
    write_inputs(dir);
    for (const MessageSetup &setup : kSetups) {
        SCOPED_TRACE(setup.name);
        Session s;
        setup.make(s, dir);
        FailingPrint whole(SIZE_MAX);
        ASSERT_EQ(mime_write_message(s.ctx, failing_print, &whole), MIME_OK) << mail_last_error(s.ctx);
        const std::string full = whole.got;
        // A spread of failure points over the header, every body and part;
        // the first few bytes and the very last one too.
        std::vector<size_t> limits = {0, 1, 5, full.size() - 1};
        for (size_t i = 1; i < 97; i++)
            limits.push_back(full.size() * i / 97 + i % 7);
        for (size_t limit : limits) {
            SCOPED_TRACE(limit);
            FailingPrint f(limit);
            ReadHook hook;
            hook.before = [&f](int) {
                if (f.failed)
                    f.reads_after++;
            };
            EXPECT_EQ(mime_write_message(s.ctx, failing_print, &f), MIME_FAIL_WRITE);
            EXPECT_TRUE(f.failed);
            EXPECT_LE(f.got.size(), limit);
            EXPECT_EQ(full.compare(0, f.got.size(), f.got), 0);
            EXPECT_EQ(f.prints_after, 0);
            EXPECT_EQ(f.reads_after, 0);
        }
    }
}

// An Ed25519 key registered for the sender's domain of the fixed setups,
// with signing on: the message is rendered whole and signed before any of
// it is written.
struct SigningKey {
    AvlNode *root = nullptr;
    SigningKey()
    {
        const std::string pem = test_key_pem("ED25519");
        const char *why = nullptr;
        EXPECT_NE(dkim_keys_add(&root, "example.com", "sel", pem.c_str(), &why), nullptr) << why;
    }
    ~SigningKey() { dkim_keys_free(&root); }
    void apply(Session &s) const
    {
        s.ctx->dkim_keys = root;
        s.set(MAILOPT_DKIM);
    }
};

TEST(Writer, MemoryThatRunsOutFailsTheWholeMessage)
{
    // Every allocation of a File-mode write fails in turn: the result is
    // MIME_FAIL_NOMEM, marked for the front end's status, no exception
    // leaves the writer and the earlier file stays as it was; a write that
    // meets no failure gives exactly the message. The same for a signed
    // message, which is rendered whole before it is written.
    TempDir dir;
    write_inputs(dir);
    std::string out = dir.file("m.eml");
    const SigningKey key;
    for (bool sign : {false, true}) {
        SCOPED_TRACE(sign ? "signed" : "unsigned");
        std::string whole;
        {
            Session s;
            kSetups[0].make(s, dir);
            if (sign)
                key.apply(s);
            s.set(MAILOPT_OUTPUT_FILE, out.c_str());
            ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
            whole = read_file(out);
        }
        EXPECT_EQ(whole.rfind("DKIM-Signature: v=1; a=ed25519-sha256; t=", 0) == 0, sign);
        const std::set<std::string> before = names_in(dir.path);
        void *(*saved)(void *, size_t) = strbuf_realloc;
        strbuf_realloc = counted_realloc;
        int failures = 0;
        for (long k = 0;; k++) {
            SCOPED_TRACE(k);
            Session s;
            kSetups[0].make(s, dir);
            if (sign)
                key.apply(s);
            s.set(MAILOPT_OUTPUT_FILE, out.c_str());
            write_file(out, "old message");
            g_alloc_countdown = k;
            int result = mime_write_to_file(s.ctx);
            bool failed_one = g_alloc_countdown < 0;
            g_alloc_countdown = -1;
            if (!failed_one) {
                ASSERT_EQ(result, MIME_OK) << mail_last_error(s.ctx);
                if (sign) // the time stamp and the signature differ
                    EXPECT_EQ(read_file(out).substr(read_file(out).find("\r\nDate: ")),
                              whole.substr(whole.find("\r\nDate: ")));
                else
                    EXPECT_EQ(read_file(out), whole);
                break;
            }
            failures++;
            ASSERT_EQ(result, MIME_FAIL_NOMEM) << mail_last_error(s.ctx);
            EXPECT_EQ(mail_error_is_nomem(s.ctx), 1);
            EXPECT_EQ(read_file(out), "old message");
            EXPECT_EQ(names_in(dir.path), before);
        }
        strbuf_realloc = saved;
        EXPECT_GT(failures, 20);
    }
}

TEST(Writer, FileThatShrinksWhileReadIsAReadError)
{
    // The file is cut to half its size between its opening and its first
    // read: the part would come out cut, so the message fails instead.
    TempDir dir;
    struct Case {
        const char *name;
        const char *file;
        unsigned option; // how the file is given; 0: a yEnc attachment
        const char *what;
    } cases[] = {
        {"automatic part", "a.txt", MAILOPT_ATTACH, "attachment"},
        {"base64 part", "b.bin", MAILOPT_ATTACH | MAILOPT_ATTACH_BASE64, "attachment"},
        {"quoted-printable part", "q.txt", MAILOPT_ATTACH | MAILOPT_ATTACH_QP, "attachment"},
        {"copied message part", "m.eml", MAILOPT_ATTACH, "attachment"},
        {"uuencode block", "u.bin", MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE, "attachment"},
        {"yEnc block", "y.bin", 0, "attachment"},
        {"HTML body file", "p.html", MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, "HTML body file"},
    };
    std::string content;
    for (int i = 0; i < 20000; i++)
        content += "line " + std::to_string(i) + "\n";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file(c.file);
        write_file(path, content);
        Session s;
        s.set(MAILOPT_FROM, "a@example.com");
        s.set(MAILOPT_BODY, "text");
        if (c.option)
            s.set(c.option, path.c_str());
        else
            ASSERT_EQ(att_add(&s.ctx->attachments, path.c_str(), ATT_ENC_YENC, 0, nullptr, nullptr, nullptr), 1);
        std::string out = dir.file("out.eml");
        write_file(out, "old message");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        const std::set<std::string> before = names_in(dir.path);
        ReadHook hook;
        hook.before = [&](int) {
            if (hook.reads == 1)
                std::filesystem::resize_file(path, content.size() / 2);
        };
        EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_READ);
        EXPECT_EQ(mail_last_error(s.ctx),
                  std::string("Read error on ") + c.what + " (" + path + "): the file shrank while it was read");
        EXPECT_EQ(read_file(out), "old message");
        EXPECT_EQ(names_in(dir.path), before);
    }
}

TEST(Writer, OutputFileIsReplacedOnlyByAWholeMessage)
{
    TempDir dir;
    write_file(dir.file("big.bin"), random_bytes(200000, 41));
    auto session = [&](Session &s, const std::string &out) {
        s.set(MAILOPT_FROM, "a@example.com");
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_ATTACH, dir.file("big.bin").c_str());
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
    };
    std::string out = dir.file("m.eml");
    const std::set<std::string> files = {"big.bin", "m.eml"};
    {
        SCOPED_TRACE("success replaces the earlier file");
        write_file(out, "old message");
        Session s;
        session(s, out);
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
        EXPECT_EQ(check(out, "{\"attachments\": [{\"filename\": \"big.bin\"}]}"), "OK\n");
        EXPECT_EQ(names_in(dir.path), files);
    }
    {
        SCOPED_TRACE("a file-size limit is a write error");
        // The front end ignores SIGXFSZ, so the limit shows as a short write.
        plat_ignore_write_signals();
        write_file(out, "old message");
        struct rlimit saved;
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit small = saved;
        small.rlim_cur = 100000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        Session s;
        session(s, out);
        int result = mime_write_to_file(s.ctx);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_EQ(result, MIME_FAIL_WRITE);
        EXPECT_EQ(mail_last_error(s.ctx), "Failed to write output file (" + out + ")");
        EXPECT_EQ(read_file(out), "old message");
        EXPECT_EQ(names_in(dir.path), files);
    }
    {
        SCOPED_TRACE("a folder that does not exist");
        Session s;
        session(s, dir.file("none/m.eml"));
        EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_OPEN);
        EXPECT_EQ(mail_last_error(s.ctx),
                  "Failed to open output file (" + dir.file("none/m.eml") + "): No such file or directory");
        EXPECT_EQ(names_in(dir.path), files);
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
        {{"x", ".y"}, "x.y"},
        {{"a\r", "\n..b"}, "a\r\n...b"},
        {{std::string("\n\0.\n", 4), ".."}, std::string("\n\0.\n...", 7)},
        {{"l1\r\n.l2\r\nl3\r\n.", "\r\n"}, "l1\r\n..l2\r\nl3\r\n..\r\n"},
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
    // A failing sink behind the filter is reported, also on the inserted dot.
    for (size_t limit : {size_t{0}, size_t{3}}) {
        SCOPED_TRACE(limit);
        LimitSink ls{limit, ""};
        DotStuffSink ds;
        dotstuff_init(&ds, limit_sink, &ls);
        EXPECT_EQ(dotstuff_sink(&ds, "ab\n.c", 5), 0);
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
        {"inline without html", {{ATT_ENC_AUTO, MAILOPT_FROM_FILE}}, false, inl},
        {"inline and uuencode", {{ATT_ENC_AUTO, MAILOPT_FROM_FILE}, {ATT_ENC_UUENCODE, 0}}, false, inl},
        {"inline with html", {{ATT_ENC_AUTO, MAILOPT_FROM_FILE}}, true, nullptr},
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

// ---- header block ----------------------------------------------------------------

const char kDate[] = "Date: Thu, 01 Jan 1970 23:59:59 GMT\r\n";

// A session with a fixed date and Message-ID, so the header block is exact.
struct FixedSession : Session {
    FixedSession()
    {
        set(MAILOPT_FROM, "a@example.com");
        set(MAILOPT_DATE, "86399");
        set(MAILOPT_MESSAGE_ID, "id@example.com");
    }
    std::string headers()
    {
        Capture c;
        mime_write_headers(ctx, msg_printf, &c.ms);
        return c.text();
    }
    std::string message(int *result = nullptr)
    {
        Capture c;
        int r = mime_write_message(ctx, msg_printf, &c.ms);
        if (result)
            *result = r;
        return c.text();
    }
    std::vector<std::string> removed() const
    {
        std::vector<std::string> names;
        for (HeaderField *h = hdr_first(ctx->removed_headers); h; h = hdr_next(h))
            names.push_back(h->name);
        return names;
    }
};

TEST(Writer, HeaderBlockHasEveryFieldInItsOrder)
{
    {
        SCOPED_TRACE("every field");
        FixedSession s;
        s.set(MAILOPT_FROM, "a@example.com", "Ann");
        s.set(MAILOPT_SUBJECT, "Hi");
        s.set(MAILOPT_REPLY_TO, "r@example.com", "Rob");
        s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com");
        s.set(MAILOPT_RECIPIENT | MAILOPT_CC, "c@example.com", "Cy");
        s.set(MAILOPT_RECIPIENT | MAILOPT_BCC, "hidden@example.com");
        s.set(MAILOPT_MDN);
        s.set(MAILOPT_PRIORITY | mailopt_priority(1));
        s.set(MAILOPT_X_MAILER, "Tarvex 1.0");
        EXPECT_EQ(s.headers(), std::string(kDate) +
                                   "Subject: Hi\r\n"
                                   "From: \"Ann\" <a@example.com>\r\n"
                                   "Reply-To: \"Rob\" <r@example.com>\r\n"
                                   "To: b@example.com\r\n"
                                   "Cc: \"Cy\" <c@example.com>\r\n"
                                   "Message-ID: <id@example.com>\r\n"
                                   "Disposition-Notification-To: \"Ann\" <a@example.com>\r\n"
                                   "X-Priority: 1 (Highest)\r\n"
                                   "X-Mailer: Tarvex 1.0\r\n");
    }
    {
        SCOPED_TRACE("no recipients, empty sender name with MDN");
        FixedSession s;
        free(s.ctx->from_name);
        s.ctx->from_name = strdup("");
        s.set(MAILOPT_MDN);
        EXPECT_EQ(s.headers(), std::string(kDate) +
                                   "From: a@example.com\r\n"
                                   "To: \"Undisclosed recipients\" <a@example.com>\r\n"
                                   "Message-ID: <id@example.com>\r\n"
                                   "Disposition-Notification-To: \"\" <a@example.com>\r\n");
    }
    {
        SCOPED_TRACE("MDN without a sender name");
        FixedSession s;
        s.set(MAILOPT_MDN);
        EXPECT_NE(s.headers().find("\r\nDisposition-Notification-To: a@example.com\r\n"), std::string::npos);
    }
}

TEST(Writer, SenderDomainAppearsInItsAsciiFormEverywhere)
{
    // From, the Message-ID made from it, the read-receipt address and the
    // undisclosed-recipients field all show the "xn--" form of an IDN
    // domain: no raw 8-bit byte in the header.
    Session s;
    s.set(MAILOPT_FROM, "user@b\xc3\xbc" "cher.de", "Ann");
    s.set(MAILOPT_DATE, "86399");
    s.set(MAILOPT_MDN);
    Capture c;
    ASSERT_EQ(mime_write_headers(s.ctx, msg_printf, &c.ms), MIME_OK);
    std::string h = c.text();
    EXPECT_NE(h.find("\r\nFrom: \"Ann\" <user@xn--bcher-kva.de>\r\n"
                     "To: \"Undisclosed recipients\" <user@xn--bcher-kva.de>\r\nMessage-ID: <"),
              std::string::npos)
        << h;
    EXPECT_EQ(h.substr(h.find("Message-ID: <") + 13 + 16), "@xn--bcher-kva.de>\r\n"
                                                              "Disposition-Notification-To: \"Ann\" <user@xn--bcher-kva.de>\r\n");
    for (unsigned char ch : h)
        EXPECT_LT(ch, 0x80);
    EXPECT_STREQ(strchr(s.ctx->message_id, '@'), "@xn--bcher-kva.de>"); // kept for the next message
}

TEST(Writer, TextThatOnlyLooksLikeEncodedWordsIsWrittenAsItIs)
{
    // Too long to be a real encoded word: it must not be decoded into a
    // word-sized buffer and made again.
    for (size_t n : {size_t{64}, size_t{300}, size_t{780}}) {
        SCOPED_TRACE(n);
        FixedSession s;
        std::string fake = "=?utf-8?B?" + std::string(n, 'A') + "?=";
        s.set(MAILOPT_SUBJECT, fake.c_str());
        EXPECT_NE(s.headers().find("\r\nSubject: " + fake + "\r\nFrom:"), std::string::npos);
    }
}

TEST(Writer, PriorityTable)
{
    struct Case {
        int priority;
        const char *line; // nullptr: no X-Priority field
    } cases[] = {
        {0, nullptr}, {1, "X-Priority: 1 (Highest)\r\n"}, {2, "X-Priority: 2 (High)\r\n"},
        {3, nullptr}, {4, "X-Priority: 4 (Low)\r\n"},     {5, "X-Priority: 5 (Lowest)\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.priority);
        FixedSession s;
        s.ctx->priority = c.priority;
        std::string h = s.headers();
        if (c.line)
            EXPECT_NE(h.find(std::string("\r\n") + c.line), std::string::npos) << h;
        else
            EXPECT_EQ(h.find("X-Priority"), std::string::npos) << h;
    }
}

TEST(Writer, RecipientsComeNewestFirstAndOnlyAsCleanMailboxes)
{
    FixedSession s;
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "a@example.com", "A \"quoted\" \\ name");
    // The options and the list refuse it, but a record made by hand would
    // show a second address in the field: the writer leaves it out.
    Recipient *two = static_cast<Recipient *>(calloc(1, sizeof(Recipient)));
    ASSERT_NE(two, nullptr);
    two->address = strdup("x@example.com, evil@attacker.test");
    two->next = s.ctx->to;
    s.ctx->to = two;
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com");
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "c@example.com", "Zo\xc3\xab");
    std::string h = s.headers();
    EXPECT_NE(h.find("To: =?utf-8?B?Wm/Dqw==?= <c@example.com>,\r\n"
                     "\tb@example.com,\r\n"
                     "\t\"A \\\"quoted\\\" \\\\ name\" <a@example.com>\r\n"
                     "Message-ID:"),
              std::string::npos)
        << h;
    EXPECT_EQ(h.find("evil"), std::string::npos);
    EXPECT_EQ(h.find("Cc:"), std::string::npos);
}

TEST(Writer, AddressesThatCanStandInAHeader)
{
    struct Case {
        const char *address;
        int safe;
    } cases[] = {
        {"a@example.com", 1},
        {"first.last+tag@sub.example.com", 1},
        {"\"john smith\"@example.com", 1},
        {"\"a\\\"b\"@example.com", 1},
        {"user@[192.0.2.1]", 1},
        {"user@[IPv6:2001:db8::1]", 1},
        {"j\xc3\xb6rg@b\xc3\xbc" "cher.example", 1},
        {"a@b\xff" "cher.example", 0}, // a domain with no ASCII form
        {"a b@example.com", 0},
        {"a@example.com, evil@attacker.test", 0},
        {"a@example.com>", 0},
        {"<a@example.com", 0},
        {"a..b@example.com", 0},
        {".a@example.com", 0},
        {"a@example..com", 0},
        {"a@example.com.", 0},
        {"a@", 0},
        {"@example.com", 0},
        {"a@b@c", 0},
        {"a@[1.2.3.4", 0},
        {"a@[1.2]x", 0},
        {"\"open@example.com", 0},
        {"a@exa(mple).com", 0},
        {"a;b@example.com", 0},
        {"a@example.com\r\nBcc: x@y", 0},
        {"", 0},
        {nullptr, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.address ? c.address : "(null)");
        EXPECT_EQ(hdr_address_is_safe(c.address), c.safe);
    }
}

// Recipients handed out by a callback, per kind.
struct Feed {
    struct Entry {
        const char *address, *name;
    };
    std::vector<Entry> to, cc;
    size_t next_to = 0, next_cc = 0;
    std::vector<int> kinds;
};

int feed_recipients(void *user, int kind, const char **address, const char **name, const char **params)
{
    auto *f = static_cast<Feed *>(user);
    f->kinds.push_back(kind);
    std::vector<Feed::Entry> &list = kind == MAIL_RCPT_CC ? f->cc : f->to;
    size_t &next = kind == MAIL_RCPT_CC ? f->next_cc : f->next_to;
    if (next >= list.size()) {
        next = 0; // ready for the next message
        return 0;
    }
    *address = list[next].address;
    *name = list[next].name;
    *params = "NOTIFY=NEVER";
    next++;
    return 1;
}

TEST(Writer, RecipientCallbackTextsCannotBreakTheHeader)
{
    TempDir dir;
    FixedSession s;
    Feed feed;
    feed.to = {
        {"a@example.com", "Ann"},
        {"x@example.com\r\nBcc: evil@attacker.test", nullptr},
        {"y@example.com, evil@attacker.test", "Y"},
        {nullptr, "nobody"},
        {"not an address", nullptr},
        {"c@example.com", "Zo\xc3\xab \"Z\"\nBcc: evil@attacker.test"},
        {"d@example.com", ""},
        {"e@example.com", "E \"the\" <boss@attacker.test>"},
    };
    feed.cc = {{"f@example.com", nullptr}};
    ASSERT_EQ(mail_set_callback(s.ctx, MAILCB_RECIPIENTS, feed_recipients, &feed), 1);
    s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "listed@example.com"); // the callback replaces the lists
    s.set(MAILOPT_BODY, "text");
    std::string h = s.headers();
    EXPECT_NE(h.find("To: \"Ann\" <a@example.com>,\r\n"), std::string::npos) << h;
    EXPECT_NE(h.find("\r\n\td@example.com,\r\n"), std::string::npos) << h;
    EXPECT_NE(h.find("\r\nCc: f@example.com\r\nMessage-ID:"), std::string::npos) << h;
    EXPECT_EQ(h.find("Bcc"), std::string::npos) << h;
    EXPECT_EQ(h.find("listed@"), std::string::npos) << h;
    EXPECT_EQ((std::vector<int>{MAIL_RCPT_TO, MAIL_RCPT_TO, MAIL_RCPT_TO, MAIL_RCPT_TO, MAIL_RCPT_TO,
                                MAIL_RCPT_TO, MAIL_RCPT_TO, MAIL_RCPT_TO, MAIL_RCPT_TO, MAIL_RCPT_CC,
                                MAIL_RCPT_CC}),
              feed.kinds);

    std::string out = dir.file("m.eml");
    s.set(MAILOPT_OUTPUT_FILE, out.c_str());
    ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
    std::string json = "{\"strict\": true, \"to\": [\"a@example.com\", \"c@example.com\", \"d@example.com\", "
                       "\"e@example.com\"], \"to_names\": [\"Ann\", " +
                       json_string("Zo\xc3\xab \"Z\" Bcc: evil@attacker.test") + ", \"\", " +
                       json_string("E \"the\" <boss@attacker.test>") + "], \"cc\": [\"f@example.com\"]}";
    EXPECT_EQ(check(out, json), "OK\n");
}

TEST(Writer, CallbackThatGivesNothingWritesNoField)
{
    FixedSession s;
    Feed feed;
    ASSERT_EQ(mail_set_callback(s.ctx, MAILCB_RECIPIENTS, feed_recipients, &feed), 1);
    EXPECT_EQ(s.headers(), std::string(kDate) + "From: a@example.com\r\nMessage-ID: <id@example.com>\r\n");
}

TEST(Writer, RemovalListInPreconstructedMode)
{
    struct Case {
        const char *name;
        bool extras;   // subject, reply-to, MDN, priority 3, X-Mailer
        uint32_t from_file; // MAILF2_RECIPIENTS_FROM_FILE / MAILF2_FROM_FROM_FILE
        uint32_t mode;
        std::vector<std::string> removed;
        const char *headers_after_date;
    } cases[] = {
        {"every generated field", true, 0, MAIL_MODE_PRECONSTRUCTED,
         {"Date", "Subject", "From", "Reply-To", "To", "Cc", "Message-ID", "Disposition-Notification-To",
          "X-Priority"},
         // Priority 3 writes no field but still takes the file's away; no
         // X-Mailer is generated for a ready message.
         "Subject: Hi\r\nFrom: a@example.com\r\nReply-To: r@example.com\r\n"
         "To: \"Undisclosed recipients\" <a@example.com>\r\nMessage-ID: <id@example.com>\r\n"
         "Disposition-Notification-To: a@example.com\r\n"},
        {"sender and recipients from the file", false, MAILF2_RECIPIENTS_FROM_FILE | MAILF2_FROM_FROM_FILE,
         MAIL_MODE_PRECONSTRUCTED, {"Date", "Message-ID"}, "Message-ID: <id@example.com>\r\n"},
        {"SMTP mode keeps no list", true, 0, MAIL_MODE_SMTP, {},
         "Subject: Hi\r\nFrom: a@example.com\r\nReply-To: r@example.com\r\n"
         "To: \"Undisclosed recipients\" <a@example.com>\r\nMessage-ID: <id@example.com>\r\n"
         "Disposition-Notification-To: a@example.com\r\nX-Mailer: Tarvex\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FixedSession s;
        if (c.extras) {
            s.set(MAILOPT_SUBJECT, "Hi");
            s.set(MAILOPT_REPLY_TO, "r@example.com");
            s.set(MAILOPT_MDN);
            s.set(MAILOPT_PRIORITY | mailopt_priority(3));
            s.set(MAILOPT_X_MAILER, "Tarvex");
        }
        s.ctx->flags2 |= c.from_file;
        s.ctx->mode = c.mode;
        EXPECT_EQ(s.headers(), std::string(kDate) + c.headers_after_date);
        EXPECT_EQ(s.removed(), c.removed);
    }
}

// ---- structure -----------------------------------------------------------------------

// The boundary lines of a message, in order.
std::vector<std::string> boundary_lines(const std::string &msg)
{
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < msg.size();) {
        size_t e = msg.find("\r\n", pos);
        if (e == std::string::npos)
            e = msg.size();
        if (msg.compare(pos, 2, "--") == 0)
            lines.push_back(msg.substr(pos, e - pos));
        pos = e + 2;
    }
    return lines;
}

TEST(Writer, NestingOfTextHtmlRelatedAndMixedParts)
{
    TempDir dir;
    write_file(dir.file("logo.png"), random_bytes(500, 2));
    write_file(dir.file("report.pdf"), random_bytes(800, 3));
    struct Case {
        const char *name;
        bool text, html, inline_part, regular, force_mime;
        const char *tree;
        std::vector<std::string> lines;
    } cases[] = {
        {"forced MIME, text only", true, false, false, false, true, "multipart/mixed\n text/plain",
         {"--mix-b", "--mix-b--"}},
        {"HTML without text: the text part is still there", false, true, false, false, false,
         "multipart/mixed\n multipart/alternative\n  text/plain\n  text/html",
         {"--mix-b", "--alt-b", "--alt-b", "--alt-b--", "--mix-b--"}},
        {"HTML with an inline part", true, true, true, false, false,
         "multipart/mixed\n multipart/alternative\n  text/plain\n  multipart/related\n   text/html\n   image/png",
         {"--mix-b", "--alt-b", "--alt-b", "--rel-b", "--rel-b", "--rel-b--", "--alt-b--", "--mix-b--"}},
        {"HTML, inline and regular parts", true, true, true, true, false,
         "multipart/mixed\n multipart/alternative\n  text/plain\n  multipart/related\n   text/html\n   image/png\n"
         " application/pdf",
         {"--mix-b", "--alt-b", "--alt-b", "--rel-b", "--rel-b", "--rel-b--", "--alt-b--", "--mix-b", "--mix-b--"}},
        {"text and a regular part", true, false, false, true, false,
         "multipart/mixed\n text/plain\n application/pdf", {"--mix-b", "--mix-b", "--mix-b--"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FixedSession s;
        s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b", "rel-b");
        if (c.text)
            s.set(MAILOPT_BODY, "The text.");
        if (c.html)
            s.set(MAILOPT_BODY_HTML, "<p>html <img src=\"cid:logo.png\"></p>");
        if (c.inline_part)
            s.set(MAILOPT_ATTACH | MAILOPT_FROM_FILE, dir.file("logo.png").c_str());
        if (c.regular)
            s.set(MAILOPT_ATTACH, dir.file("report.pdf").c_str());
        if (c.force_mime)
            s.set(MAILOPT_FORCE_MIME);
        std::string out = dir.file("m.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
        std::string msg = read_file(out);
        EXPECT_EQ(boundary_lines(msg), c.lines);
        EXPECT_NE(msg.find("Content-Type: multipart/mixed;\r\n\tboundary=\"mix-b\"\r\nMIME-Version: 1.0\r\n"
                           "\r\nMIME\r\n--mix-b\r\n"),
                  std::string::npos);
        EXPECT_EQ(msg.compare(msg.size() - 11, 11, "--mix-b--\r\n"), 0);
        if (c.html) {
            EXPECT_NE(msg.find("--alt-b--\r\n\r\n"), std::string::npos);
        }
        if (c.inline_part) {
            EXPECT_NE(msg.find("--rel-b--\r\n\r\n--alt-b--\r\n\r\n"), std::string::npos);
        }
        EXPECT_EQ(check(out, std::string("{\"strict\": true, \"tree\": ") + json_string(c.tree) + "}"), "OK\n");
    }
}

TEST(Writer, PresetBoundariesAreCutTo63AndChecked)
{
    TempDir dir;
    {
        SCOPED_TRACE("long preset");
        FixedSession s;
        std::string longb(80, 'M');
        s.set(MAILOPT_BOUNDARIES, longb.c_str());
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_BODY_HTML, "<p>x</p>");
        std::string msg = s.message();
        std::string cut(63, 'M');
        EXPECT_NE(msg.find("\tboundary=\"" + cut + "\"\r\n"), std::string::npos);
        EXPECT_EQ(msg.find(std::string(64, 'M')), std::string::npos);
        EXPECT_EQ(msg.compare(msg.size() - 69, 69, "--" + cut + "--\r\n"), 0);
        // The alternative level, not preset, is drawn fresh.
        std::vector<std::string> lines = boundary_lines(msg);
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(lines[1].size(), 2u + 20u);
    }
    struct Case {
        const char *name;
        const char *mixed, *alternative, *related;
        std::string error;
    } cases[] = {
        {"empty", "", nullptr, nullptr, "Invalid MIME boundary ()"},
        {"quote", "a\"b", nullptr, nullptr, "Invalid MIME boundary (a\"b)"},
        {"backslash", nullptr, "a\\b", nullptr, "Invalid MIME boundary (a\\b)"},
        {"ends with a space once cut", (std::string(62, 'x') + " y").c_str(), nullptr, nullptr, ""},
        {"inner level starts with the outer one", "abc", "abcdef", nullptr,
         "MIME boundaries of two levels clash (abc, abcdef)"},
        {"same boundary twice", "abc", nullptr, "abc", "MIME boundaries of two levels clash (abc, abc)"},
    };
    std::string spaced = std::string(62, 'x') + " y";
    cases[3].mixed = spaced.c_str();
    cases[3].error = "Invalid MIME boundary (" + spaced + ")";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FixedSession s;
        s.ctx->boundary_mixed = c.mixed ? strdup(c.mixed) : nullptr;
        s.ctx->boundary_alternative = c.alternative ? strdup(c.alternative) : nullptr;
        s.ctx->boundary_related = c.related ? strdup(c.related) : nullptr;
        s.set(MAILOPT_BODY, "text");
        std::string out = dir.file("m.eml");
        write_file(out, "old message");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_INPUT);
        EXPECT_EQ(mail_last_error(s.ctx), c.error);
        EXPECT_EQ(read_file(out), "old message"); // never touched
        int result = 0;
        EXPECT_EQ(s.message(&result), "");
        EXPECT_EQ(result, MIME_FAIL_INPUT);
    }
}

TEST(Writer, SettingsThatCannotMakeAMessageAreRefusedBeforeWriting)
{
    TempDir dir;
    write_file(dir.file("f.bin"), "data");
    struct Case {
        const char *name;
        void (*setup)(FixedSession &, const TempDir &);
        std::string error;
    } cases[] = {
        {"charset that would end its parameter",
         [](FixedSession &s, const TempDir &) { s.set(MAILOPT_CHARSET, "utf-8\"; x=\"y"); },
         "Invalid charset (utf-8\"; x=\"y)"},
        {"charset with a space", [](FixedSession &s, const TempDir &) { s.set(MAILOPT_CHARSET, "utf 8"); },
         "Invalid charset (utf 8)"},
        // The options refuse these addresses; the writer keeps its own
        // check for a session filled by other means.
        {"sender address that is two", [](FixedSession &s, const TempDir &) {
             free(s.ctx->from_address);
             s.ctx->from_address = strdup("a@example.com, evil@attacker.test");
         },
         "Invalid sender address (a@example.com, evil@attacker.test)"},
        {"reply-to with a space", [](FixedSession &s, const TempDir &) {
             s.ctx->reply_to_address = strdup("r r@example.com");
         },
         "Invalid reply-to address (r r@example.com)"},
        {"custom field name too long for a line", [](FixedSession &s, const TempDir &) {
             ASSERT_EQ(hdr_list_add(&s.ctx->headers, std::string(200, 'X').c_str(), "v"), 1);
         },
         "Header field name too long (" + std::string(40, 'X') + "...)"},
        {"yEnc in a MIME message", [](FixedSession &s, const TempDir &d) {
             s.set(MAILOPT_ATTACH, d.file("f.bin").c_str());
             ASSERT_EQ(att_add(&s.ctx->attachments, d.file("f.bin").c_str(), ATT_ENC_YENC, 0, nullptr, nullptr, nullptr), 1);
         },
         "Mixing MIME and yEnc attachments is prohibited"},
        {"inline part without HTML", [](FixedSession &s, const TempDir &d) {
             s.set(MAILOPT_ATTACH | MAILOPT_FROM_FILE, d.file("f.bin").c_str());
         },
         "Inline attachments require a HTML body"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FixedSession s;
        s.set(MAILOPT_BODY, "text");
        c.setup(s, dir);
        std::string out = dir.file("m.eml");
        write_file(out, "old message");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_INPUT);
        EXPECT_EQ(mail_last_error(s.ctx), c.error);
        EXPECT_EQ(read_file(out), "old message");
    }
}

TEST(Writer, OutputFileThatIsAnInputIsRefused)
{
    TempDir dir;
    std::string out = dir.file("m.eml");
    write_file(out, "an older message");
    // The text body is read when it is set, but its file is the user's
    // own all the same.
    const std::pair<const char *, unsigned> inputs[] = {
        {"HTML body file", MAILOPT_BODY_HTML | MAILOPT_FROM_FILE},
        {"attachment", MAILOPT_ATTACH},
        {"text body file", MAILOPT_BODY | MAILOPT_BODY_7BIT | MAILOPT_FROM_FILE},
    };
    for (const auto &[name, option] : inputs) {
        SCOPED_TRACE(name);
        FixedSession s;
        s.set(MAILOPT_BODY, "text");
        s.set(option, out.c_str());
        s.set(MAILOPT_OUTPUT_FILE, (dir.path + "/./m.eml").c_str());
        EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_INPUT);
        EXPECT_EQ(mail_last_error(s.ctx), "Output file is also an input file (" + out + ")");
        EXPECT_EQ(read_file(out), "an older message");
    }
}

// The content header lines of a message: after the Message-ID line, up to
// the blank line.
std::string content_lines(const std::string &msg)
{
    size_t start = msg.find("Message-ID: <id@example.com>\r\n");
    if (start == std::string::npos)
        return "(no Message-ID)";
    start += strlen("Message-ID: <id@example.com>\r\n");
    size_t blank = msg.find("\r\n\r\n");
    return blank + 2 >= start ? msg.substr(start, blank + 2 - start) : "";
}

TEST(Writer, SinglePartAndNonMimeBodiesDeclareWhatTheyAre)
{
    TempDir dir;
    write_file(dir.file("a.bin"), random_bytes(100, 5));
    // Every composed message says it is MIME, the plainest too.
    const char *ascii =
        "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n";
    struct Case {
        const char *name;
        const char *body;
        unsigned body_sub; // body encoding sub-choice
        const char *charset;
        int att_encoding; // -1: none
        const char *content;
        const char *body_start; // what follows the blank line
    } cases[] = {
        {"plain ASCII", "Hello", 0, nullptr, -1, ascii, "Hello\r\n"},
        {"8-bit text", "caf\xc3\xa9", 0, nullptr, -1,
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n",
         "caf=C3=A9\r\n"},
        {"8-bit text in a set charset", "caf\xe9", 0, "iso-8859-1", -1,
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n",
         "caf=E9\r\n"},
        {"base64 asked for", "Hello", MAILOPT_BODY_BASE64, nullptr, -1,
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: base64\r\n",
         "SGVsbG8=\r\n"},
        {"7bit in another charset", "Hello", 0, "iso-2022-jp", -1,
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=iso-2022-jp\r\nContent-Transfer-Encoding: 7bit\r\n",
         "Hello\r\n"},
        {"uuencode after ASCII text", "Hello", 0, nullptr, ATT_ENC_UUENCODE, "MIME-Version: 1.0\r\n",
         "Hello\r\nbegin 644 a.bin\r\n"},
        {"uuencode after 8-bit text", "caf\xc3\xa9", 0, nullptr, ATT_ENC_UUENCODE,
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n",
         "caf\xc3\xa9\r\nbegin 644 a.bin\r\n"},
        {"yEnc after ASCII text asked as base64", "Hello", MAILOPT_BODY_BASE64, nullptr, ATT_ENC_YENC,
         "MIME-Version: 1.0\r\n",
         "Hello\r\n=ybegin size=100 line=499 name=a.bin\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FixedSession s;
        s.set(MAILOPT_BODY | c.body_sub, c.body);
        if (c.charset)
            s.set(MAILOPT_CHARSET, c.charset);
        if (c.att_encoding >= 0) {
            ASSERT_EQ(att_add(&s.ctx->attachments, dir.file("a.bin").c_str(), c.att_encoding, 0, nullptr, nullptr,
                              nullptr),
                      1);
        }
        int result = 0;
        std::string msg = s.message(&result);
        ASSERT_EQ(result, MIME_OK) << mail_last_error(s.ctx);
        EXPECT_EQ(content_lines(msg), c.content);
        size_t blank = msg.find("\r\n\r\n");
        EXPECT_EQ(msg.compare(blank + 4, strlen(c.body_start), c.body_start), 0) << msg.substr(blank);
    }
    {
        SCOPED_TRACE("ASCII body read from a file counts as 8-bit");
        write_file(dir.file("body.txt"), "Hello\n");
        FixedSession s;
        s.set(MAILOPT_BODY | MAILOPT_FROM_FILE, dir.file("body.txt").c_str());
        std::string msg = s.message();
        EXPECT_EQ(content_lines(msg), "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                      "Content-Transfer-Encoding: quoted-printable\r\n");
        EXPECT_STREQ(s.ctx->charset, "utf-8");
        EXPECT_EQ((s.ctx->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT, unsigned{BODY_ENC_QP});
    }
}

TEST(Writer, BodyWithNulBytesKeepsEveryByte)
{
    TempDir dir;
    const std::string body = bytes_of("first line\nbefore\0after\n.dot\0\n");
    write_file(dir.file("body.txt"), body);
    write_file(dir.file("a.bin"), "attached");
    {
        SCOPED_TRACE("7bit text before a uuencode block");
        FixedSession s;
        s.set(MAILOPT_BODY | MAILOPT_FROM_FILE | MAILOPT_BINARY, dir.file("body.txt").c_str());
        ASSERT_EQ(s.ctx->text_body_length, body.size());
        s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE, dir.file("a.bin").c_str());
        std::string msg = s.message();
        const std::string nul(1, '\0');
        EXPECT_NE(msg.find("\r\n\r\nfirst line\r\nbefore" + nul + "after\r\n.dot" + nul + "\r\n\r\nbegin 644 a.bin\r\n"),
                  std::string::npos);
    }
    {
        SCOPED_TRACE("quoted-printable single part");
        FixedSession s;
        s.set(MAILOPT_BODY | MAILOPT_FROM_FILE | MAILOPT_BINARY, dir.file("body.txt").c_str());
        std::string out = dir.file("m.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
        // The encoded text ends with its own line end.
        EXPECT_EQ(check(out, "{\"text\": " + json_string(body + "\r\n") + "}"), "OK\n");
    }
}

// ---- attachment parts -------------------------------------------------------------------

TEST(Writer, AutomaticEncodingFromASampleOfTheFile)
{
    TempDir dir;
    std::string binary_tail = random_bytes(3000, 11);
    struct Case {
        const char *name;
        std::string content;
        int want; // ATT_ENC_QP or ATT_ENC_BASE64
    } cases[] = {
        {"17 of 20 printable: exactly 0.85", std::string(17, 'a') + "\x01\x02\x03", ATT_ENC_QP},
        {"16 of 20 printable", std::string(16, 'a') + "\x01\x02\x03\x04", ATT_ENC_BASE64},
        {"space and TAB count, = does not", std::string(9, ' ') + std::string(8, '\t') + "===", ATT_ENC_QP},
        {"= does not count", std::string(16, 'a') + "====", ATT_ENC_BASE64},
        {"every line end counts against", [] {
             std::string t;
             for (int i = 0; i < 200; i++)
                 t += "abcdef\r\n";
             return t;
         }(), ATT_ENC_BASE64},
        {"only the first 4096 bytes are looked at", std::string(4096, 'p') + binary_tail, ATT_ENC_QP},
        {"binary", random_bytes(5000, 12), ATT_ENC_BASE64},
        {"empty", "", ATT_ENC_BASE64},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir.file("f.dat"), c.content);
        FixedSession s;
        s.set(MAILOPT_BOUNDARIES, "mix-b");
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_ATTACH, dir.file("f.dat").c_str());
        std::string out = dir.file("m.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
        EXPECT_EQ(att_first(s.ctx->attachments)->encoding, c.want); // the choice is kept
        std::string msg = read_file(out);
        const char *cte = c.want == ATT_ENC_QP ? "quoted-printable" : "base64";
        EXPECT_NE(msg.find(std::string("filename=\"f.dat\"\r\nContent-Transfer-Encoding: ") + cte + "\r\n\r\n"),
                  std::string::npos);
        if (c.content.empty()) {
            EXPECT_NE(msg.find("Content-Transfer-Encoding: base64\r\n\r\n\r\n--mix-b--\r\n"), std::string::npos);
        }
        std::string json = "{\"attachments\": [{\"filename\": \"f.dat\", \"sha256\": \"" + sha256_of(c.content) + "\"}]}";
        EXPECT_EQ(check(out, json), "OK\n");
    }
}

TEST(Writer, ChooseEncodingLeavesTheFileAtItsStart)
{
    TempDir dir;
    write_file(dir.file("t.txt"), "Zhello, world");
    int fd = file_open_utf8(dir.file("t.txt").c_str(), PLAT_OPEN_READ);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(mime_choose_encoding(fd), ATT_ENC_QP);
    char first = 0;
    EXPECT_EQ(plat_read(fd, &first, 1), 1);
    EXPECT_EQ(first, 'Z');
    plat_close(fd);
    EXPECT_EQ(mime_choose_encoding(-1), ATT_ENC_BASE64); // nothing to read
}

TEST(Writer, PartNamesTypesAndContentIds)
{
    TempDir dir;
    write_file(dir.file("logo 1.png"), "png");
    write_file(dir.file("inv.pdf"), "pdf");
    write_file(dir.file("blob"), "blob");
    std::string long_name(1500, 'n');
    struct Case {
        const char *name;
        const char *file;
        bool is_inline;
        const char *content_id, *mime_type, *display;
        std::string want_type_line, want_id_line;
    } cases[] = {
        {"inline, base name kept with its space", "logo 1.png", true, nullptr, nullptr, nullptr,
         "Content-Type: image/png\r\n", "Content-ID: <logo 1.png>\r\n"},
        {"inline with a given id", "logo 1.png", true, "cid-1@example.com", nullptr, nullptr,
         "Content-Type: image/png\r\n", "Content-ID: <cid-1@example.com>\r\n"},
        {"inline, bytes outside the kept set escaped", "blob", true, nullptr, nullptr, "x@y:z.png",
         "Content-Type: image/png\r\n", "Content-ID: <x%40y%3az.png>\r\n"},
        {"inline, non-ASCII name: type from the name, id from its encoded form", "blob", true, nullptr, nullptr,
         "\xc3\xa9.png", "Content-Type: image/png\r\n", "Content-ID: <%3d%3futf-8%3fB%3fw6kucG5n%3f%3d>\r\n"},
        {"regular, type from a non-ASCII display name", "blob", false, nullptr, nullptr, "Bericht \xc3\xbc.pdf",
         "Content-Type: application/pdf;\r\n", ""},
        {"regular, display name without extension: the file's type", "inv.pdf", false, nullptr, nullptr,
         "Invoice", "Content-Type: application/pdf;\r\n", ""},
        {"regular, given type", "inv.pdf", false, nullptr, "text/x-custom", nullptr,
         "Content-Type: text/x-custom;\r\n", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FixedSession s;
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_BODY_HTML, "<p>x</p>");
        s.set(MAILOPT_ATTACH | (c.is_inline ? MAILOPT_FROM_FILE : 0u), dir.file(c.file).c_str(), c.content_id,
              c.mime_type, c.display);
        std::string out = dir.file("m.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
        std::string msg = read_file(out);
        EXPECT_NE(msg.find("\r\n" + c.want_type_line), std::string::npos) << msg;
        if (!c.want_id_line.empty()) {
            EXPECT_NE(msg.find("\r\nContent-Disposition: inline\r\n" + c.want_id_line), std::string::npos) << msg;
        }
        std::string shown = c.display ? c.display : c.file;
        std::string json = "{\"strict\": true, \"attachments\": [{\"inline\": " + std::string(c.is_inline ? "true" : "false");
        if (!c.is_inline)
            json += ", \"filename\": " + json_string(shown);
        json += "}]}";
        EXPECT_EQ(check(out, json), "OK\n");
    }
}

TEST(Writer, LongTextsFoldUnderTheLineLimitAndParseBack)
{
    TempDir dir;
    write_file(dir.file("f.txt"), "content\n");
    std::string subject_run(2000, 'x');
    std::string fake_word = "=?utf-8?B?" + std::string(1000, 'A') + "?=";
    std::string spaced = "a" + std::string(200, ' ') + "b";
    std::string name_run(1500, 'n');
    std::string quote_run = "q\"\\" + std::string(700, '"');
    std::string file_name = std::string(1200, 'f') + ".txt";
    std::string value = std::string(3000, 'y') + " tail";
    // Runs of blanks longer than a line, folded inside; and runs too long
    // for any line, which go as encoded words.
    std::string blank_runs = repeat("word" + std::string(85, ' '), 30) + "end";
    std::string long_blanks = "a" + std::string(1500, ' ') + "b";
    std::string tabs = "t" + repeat(" \t", 700) + "u";
    std::string umlaut_blanks = "\xc3\xa4" + std::string(1200, ' ') + "\xc3\xb6 " + repeat("\xc3\xbc", 300);
    struct Case {
        const char *name;
        std::string subject, from_name, value;
    } cases[] = {
        {"a 2000-character run", subject_run, name_run, value},
        {"an encoded word too long to be one, as plain text", fake_word, name_run, value},
        {"a run of spaces", spaced, name_run, value},
        {"many short words", [] {
             std::string t;
             for (int i = 0; i < 300; i++)
                 t += "word" + std::to_string(i) + " ";
             return t + "end";
         }(), name_run, value},
        {"runs of blanks longer than a line", blank_runs, blank_runs, blank_runs},
        {"a run of blanks longer than any line", long_blanks, long_blanks, long_blanks},
        {"blanks and TABs mixed", tabs, tabs, tabs},
        {"non-ASCII text with a long run of blanks", umlaut_blanks, umlaut_blanks, umlaut_blanks},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FixedSession s;
        s.set(MAILOPT_SUBJECT, c.subject.c_str());
        s.set(MAILOPT_FROM, "a@example.com", c.from_name.c_str());
        s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com", quote_run.c_str());
        s.set(MAILOPT_HEADER, "X-Long", c.value.c_str());
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_ATTACH, dir.file("f.txt").c_str(), nullptr, nullptr, file_name.c_str());
        std::string out = dir.file("m.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
        // Long names are several encoded words, which Python's address
        // parser joins with a space: names are compared without spaces.
        std::string json = "{\"strict\": true, \"max_line\": 998, \"words_line_max\": 76, "
                           "\"names_without_spaces\": true, \"subject\": " + json_string(c.subject) +
                           ", \"from_name\": " + json_string(c.from_name) + ", \"to_names\": [" +
                           json_string(quote_run) + "], \"headers\": {\"X-Long\": " + json_string(c.value) +
                           "}, \"attachments\": [{\"filename\": " + json_string(file_name) + "}]}";
        EXPECT_EQ(check(out, json), "OK\n");
    }
}

TEST(Writer, NoHeaderLineIsTooLongWhateverTheTexts)
{
    // Texts made of runs of every length around the limits (blanks, TABs,
    // visible characters, quotes, non-ASCII characters) in every field
    // that carries text: each header line stays within 998 octets, a line
    // with encoded words within 76, no folded line holds blanks only, and
    // Python's strict parser reads the message without a defect.
    TempDir dir;
    write_file(dir.file("f.txt"), "content\n");
    std::mt19937 gen(99);
    auto text = [&gen] {
        static const int lengths[] = {1, 2, 60, 76, 77, 78, 79, 85, 89, 90, 91, 150, 700, 799, 800, 801, 997, 999, 1500};
        std::string t;
        for (unsigned runs = 1 + gen() % 6; runs > 0; runs--) {
            int len = lengths[gen() % (sizeof lengths / sizeof lengths[0])];
            switch (gen() % 5) {
            case 0: t += std::string(len, ' '); break;
            case 1: t += repeat(" \t", len / 2 + 1); break;
            case 2: t += std::string(len, 'x'); break;
            case 3: t += repeat("\"\\", len / 2 + 1); break;
            default: t += repeat("\xc3\xa9", len / 2 + 1); break;
            }
        }
        return t;
    };
    for (int round = 0; round < 120; round++) {
        SCOPED_TRACE(round);
        FixedSession s;
        s.set(MAILOPT_SUBJECT, text().c_str());
        s.set(MAILOPT_FROM, "a@example.com", text().c_str());
        s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com", text().c_str());
        s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "c@example.com", text().c_str());
        s.set(MAILOPT_REPLY_TO, "r@example.com", text().c_str());
        s.set(MAILOPT_MDN);
        s.set(MAILOPT_X_MAILER, text().c_str());
        std::string name = "X-" + std::string(gen() % 149, 'n');
        std::string value = text();
        if (round == 0) {
            // The longest name, the longest run and blanks at the end,
            // where no fold may fall.
            name = "X-" + std::string(148, 'n');
            value = std::string(800, 'x') + std::string(90, ' ');
        }
        s.set(MAILOPT_HEADER, name.c_str(), value.c_str());
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_ATTACH, dir.file("f.txt").c_str(), nullptr, nullptr, (text() + ".txt").c_str());
        int result = 0;
        std::string msg = s.message(&result);
        ASSERT_EQ(result, MIME_OK) << mail_last_error(s.ctx);
        bool in_header = true;
        for (size_t pos = 0; pos < msg.size();) {
            size_t end = msg.find("\r\n", pos);
            std::string line = msg.substr(pos, end - pos);
            pos = end + 2;
            ASSERT_LE(line.size(), 998u) << line;
            if (line.find("=?utf-8?") != std::string::npos) {
                ASSERT_LE(line.size(), 76u) << line;
            }
            if (line.empty()) {
                in_header = false;
            } else if (in_header && (line[0] == ' ' || line[0] == '\t')) {
                ASSERT_NE(line.find_first_not_of(" \t"), std::string::npos) << "a line of blanks only";
            }
        }
        if (round % 20 == 0) {
            std::string out = dir.file("m.eml");
            write_file(out, msg);
            EXPECT_EQ(check(out, "{\"strict\": true}"), "OK\n");
        }
    }
}

TEST(Writer, EncodedWordsFitTheirLineAfterAnyFieldName)
{
    // However long the text before them, encoded words stand on lines of
    // at most 76 characters: the first word is made to fit the room left,
    // or begins a new line after a long field name.
    TempDir dir;
    write_file(dir.file("f.txt"), "content\n");
    const std::string text = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x98\x80 und so weiter, bis die Zeile voll ist";
    for (size_t name_len : {size_t{3}, size_t{30}, size_t{55}, size_t{70}, size_t{150}}) {
        SCOPED_TRACE(name_len);
        std::string name = "X-" + std::string(name_len - 2, 'n');
        FixedSession s;
        s.set(MAILOPT_SUBJECT, text.c_str());
        s.set(MAILOPT_FROM, "a@example.com", text.c_str());
        s.set(MAILOPT_MDN);
        s.set(MAILOPT_HEADER, name.c_str(), text.c_str());
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_ATTACH, dir.file("f.txt").c_str(), nullptr, nullptr, (text + ".txt").c_str());
        std::string out = dir.file("m.eml");
        s.set(MAILOPT_OUTPUT_FILE, out.c_str());
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
        std::string json = "{\"strict\": true, \"words_line_max\": 76, \"names_without_spaces\": true, "
                           "\"subject\": " + json_string(text) + ", \"from_name\": " + json_string(text) +
                           ", \"headers\": {" + json_string(name) + ": " + json_string(text) +
                           "}, \"attachments\": [{\"filename\": " + json_string(text + ".txt") + "}]}";
        EXPECT_EQ(check(out, json), "OK\n");
    }
}

TEST(Writer, MessagePartIsWrittenTheSameEveryTime)
{
    TempDir dir;
    write_file(dir.file("inner.eml"), "Subject: inner\n\nbody\n");
    write_file(dir.file("eight.eml"), "Subject: inner\n\ncaf\xc3\xa9\n");
    // A line of exactly 998 octets still goes as it is; one more, or a NUL
    // byte, and no transport could carry the copy.
    write_file(dir.file("998.eml"), "Subject: inner\r\n\r\n" + std::string(998, 'x') + "\r\n");
    const std::string long_line = "Subject: inner\n\n" + std::string(999, 'x') + "\n";
    const std::string nul = bytes_of("Subject: inner\n\nbefore\0after\n");
    write_file(dir.file("long.eml"), long_line);
    write_file(dir.file("nul.eml"), nul);
    struct Case {
        const char *name;
        const char *file;
        unsigned sub;
        const char *type_line, *cte_line;
        std::string intact; // bytes the part must carry exactly, when given
    } cases[] = {
        {"automatic: copied as it is", "inner.eml", 0, "Content-Type: message/rfc822;\r\n",
         "Content-Transfer-Encoding: 7bit\r\n", ""},
        {"automatic, 8-bit content: declared 8bit", "eight.eml", 0, "Content-Type: message/rfc822;\r\n",
         "Content-Transfer-Encoding: 8bit\r\n", ""},
        {"base64 asked for: declared text/plain", "inner.eml", MAILOPT_ATTACH_BASE64, "Content-Type: text/plain;\r\n",
         "Content-Transfer-Encoding: base64\r\n", ""},
        {"a line of 998 octets: copied", "998.eml", 0, "Content-Type: message/rfc822;\r\n",
         "Content-Transfer-Encoding: 7bit\r\n", ""},
        {"a longer line: data in base64", "long.eml", 0, "Content-Type: application/octet-stream;\r\n",
         "Content-Transfer-Encoding: base64\r\n", long_line},
        {"a NUL byte: data in base64", "nul.eml", 0, "Content-Type: application/octet-stream;\r\n",
         "Content-Transfer-Encoding: base64\r\n", nul},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FixedSession s;
        s.set(MAILOPT_BOUNDARIES, "mix-b");
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_ATTACH | c.sub, dir.file(c.file).c_str());
        std::string first = s.message(), second = s.message();
        EXPECT_EQ(first, second);
        EXPECT_NE(first.find(c.type_line), std::string::npos) << first;
        EXPECT_NE(first.find(c.cte_line), std::string::npos) << first;
        if (!c.intact.empty()) {
            std::string out = dir.file("m.eml");
            write_file(out, first);
            EXPECT_EQ(check(out, "{\"attachments\": [{\"filename\": " + json_string(c.file) + ", \"sha256\": \"" +
                                     sha256_of(c.intact) + "\"}]}"),
                      "OK\n");
        }
    }
}

TEST(Writer, MessagePartThatChangesAfterItsCheckIsAReadError)
{
    // The copy as it is was chosen for a file without NUL bytes; a NUL
    // that appears before the copy is read ends the message rather than go
    // out as 7bit.
    TempDir dir;
    const std::string clean = "Subject: inner\n\nbody line\n";
    std::string changed = clean;
    changed[20] = '\0';
    std::string path = dir.file("inner.eml");
    write_file(path, clean);
    FixedSession s;
    s.set(MAILOPT_BODY, "text");
    s.set(MAILOPT_ATTACH, path.c_str());
    std::string out = dir.file("m.eml");
    s.set(MAILOPT_OUTPUT_FILE, out.c_str());
    ReadHook hook;
    hook.before = [&](int) {
        // Reads 1 and 2 check the file (the second finds its end); the
        // third starts the copy.
        if (hook.reads == 3)
            write_file(path, changed);
    };
    EXPECT_EQ(mime_write_to_file(s.ctx), MIME_FAIL_READ);
    EXPECT_EQ(mail_last_error(s.ctx), "Read error on attachment (" + path + "): the file changed while it was read");
    EXPECT_FALSE(plat_file_exists(out.c_str()));
}

TEST(Writer, HtmlFileEndingInALoneCrClosesItsLine)
{
    TempDir dir;
    write_file(dir.file("p.html"), "<p>x</p>\r");
    FixedSession s;
    s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b");
    s.set(MAILOPT_BODY, "text");
    s.set(MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, dir.file("p.html").c_str());
    // The CR is a line break as any line end of the HTML body is; the
    // closing delimiter's line end follows it.
    EXPECT_NE(s.message().find("\r\n\r\n<p>x</p>\r\n\r\n--alt-b--\r\n\r\n--mix-b--\r\n"), std::string::npos);
}

TEST(Writer, EmptyYencAttachment)
{
    TempDir dir;
    write_file(dir.file("e.bin"), "");
    FixedSession s;
    s.set(MAILOPT_BODY, "text");
    ASSERT_EQ(att_add(&s.ctx->attachments, dir.file("e.bin").c_str(), ATT_ENC_YENC, 0, nullptr, nullptr, nullptr), 1);
    std::string msg = s.message();
    EXPECT_EQ(msg.substr(msg.find("\r\n\r\n") + 4), "text\r\n=ybegin size=0 line=499 name=e.bin\r\n=yend size=0\r\n");
}

TEST(Writer, ExtraContentGetsCrlfAndEndsItsLine)
{
    TempDir dir;
    FixedSession s;
    s.set(MAILOPT_BOUNDARIES, "mix-b");
    s.set(MAILOPT_BODY, "text");
    static const char kExtra[] = "--mix-b\nContent-Type: text/plain\nContent-Disposition: attachment; "
                                 "filename=\"e.txt\"\n\nextra line";
    DataBlob blob = {kExtra, sizeof kExtra - 1};
    ASSERT_EQ(mail_set_extra_part(s.ctx, &blob, 0), 1);
    std::string out = dir.file("m.eml");
    s.set(MAILOPT_OUTPUT_FILE, out.c_str());
    ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
    EXPECT_NE(read_file(out).find("\r\n\r\nextra line\r\n--mix-b--\r\n"), std::string::npos);
    std::string json =
        "{\"attachments\": [{\"filename\": \"e.txt\", \"sha256\": \"" + sha256_of("extra line") + "\"}]}";
    EXPECT_EQ(check(out, json), "OK\n");
}

TEST(Writer, EveryVanishedAttachmentIsReportedOnce)
{
    TempDir dir;
    write_file(dir.file("in.png"), "png");
    write_file(dir.file("reg.bin"), "bin");
    write_file(dir.file("uu.bin"), "uu");
    struct Case {
        const char *name;
        bool mime;
    } cases[] = {{"inline and regular MIME parts", true}, {"uuencode block", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FixedSession s;
        std::vector<Recorded> reports;
        mail_set_callback(s.ctx, MAILCB_STATUS, record_status, &reports);
        s.set(MAILOPT_BODY, "text");
        std::vector<std::string> gone;
        if (c.mime) {
            s.set(MAILOPT_BODY_HTML, "<p>x</p>");
            s.set(MAILOPT_ATTACH | MAILOPT_FROM_FILE, dir.file("in.png").c_str());
            s.set(MAILOPT_ATTACH, dir.file("reg.bin").c_str());
            gone = {dir.file("in.png"), dir.file("reg.bin")};
        } else {
            s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE, dir.file("uu.bin").c_str());
            gone = {dir.file("uu.bin")};
        }
        for (const std::string &g : gone)
            std::remove(g.c_str());
        int result = 0;
        std::string msg = s.message(&result);
        EXPECT_EQ(result, MIME_OK);
        ASSERT_EQ(reports.size(), gone.size());
        for (size_t i = 0; i < gone.size(); i++) {
            EXPECT_EQ(reports[i].stage, MAIL_STAGE_ATTACHMENT);
            EXPECT_EQ(reports[i].result, MAIL_RESULT_FAILED);
            EXPECT_EQ(reports[i].text, "Could not open attachment (" + gone[i] + ")");
        }
        EXPECT_EQ(msg.find("Content-Disposition: attachment"), std::string::npos);
        EXPECT_EQ(msg.find("begin 644"), std::string::npos);
        for (const char *name : {"in.png", "reg.bin", "uu.bin"})
            write_file(dir.file(name), "back");
    }
}

// ---- rendering for signing ----------------------------------------------------------------

size_t g_realloc_limit = 0;
void *limited_realloc(void *p, size_t n) { return n > g_realloc_limit ? nullptr : realloc(p, n); }

TEST(Writer, RenderingForSigningIsTheUnstuffedMessageWithItsHeaderLength)
{
    TempDir dir;
    write_file(dir.file("a.bin"), random_bytes(50000, 21));
    auto setup = [&](FixedSession &s) {
        s.set(MAILOPT_BOUNDARIES, "mix-b");
        s.set(MAILOPT_BODY, "line\n.dot line");
        s.set(MAILOPT_ATTACH, dir.file("a.bin").c_str());
        s.set(MAILOPT_DOT_STUFF);
    };
    FixedSession s;
    setup(s);
    StrBuf sb = {};
    size_t header_len = 0;
    ASSERT_EQ(mime_render_message(s.ctx, &sb, &header_len), MIME_OK);
    std::string rendered(sb.data, sb.length);
    sbuf_release(&sb);
    // The header block ends with its last field's line end; the blank line follows.
    EXPECT_EQ(rendered.find("\r\n\r\n"), header_len - 2);
    EXPECT_EQ(rendered.substr(header_len - 19, 21), "MIME-Version: 1.0\r\n\r\n");
    EXPECT_NE(rendered.find("\r\n.dot line\r\n"), std::string::npos); // signed as the recipient reads it

    // The same message through the file, dot-stuffed on the way.
    std::string out = dir.file("m.eml");
    s.set(MAILOPT_OUTPUT_FILE, out.c_str());
    ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK);
    std::string stuffed = rendered;
    stuffed.replace(stuffed.find("\r\n.dot line"), 11, "\r\n..dot line");
    EXPECT_EQ(read_file(out), stuffed);

    // A buffer that cannot grow fails the rendering: nothing with a hole.
    for (size_t limit : {size_t{0}, size_t{4096}, size_t{40000}}) {
        SCOPED_TRACE(limit);
        FixedSession t;
        setup(t);
        void *(*saved)(void *, size_t) = strbuf_realloc;
        g_realloc_limit = limit;
        strbuf_realloc = limited_realloc;
        StrBuf small = {};
        int result = mime_render_message(t.ctx, &small, nullptr);
        strbuf_realloc = saved;
        EXPECT_EQ(result, MIME_FAIL_NOMEM);
        EXPECT_EQ(mail_error_is_nomem(t.ctx), 1); // the front end's out-of-memory status
        EXPECT_STREQ(mail_last_error(t.ctx), "Out of memory");
        sbuf_release(&small);
    }
}

} // namespace

// The library helper beside the writers that the program itself does not call.
TEST(Writer, StructureHelper)
{
    Session s;
    int mixed = -1, related = -1, single = -1;
    mime_structure_flags(s.ctx, &mixed, &related, &single);
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(related, 0);
    EXPECT_EQ(single, 1);
    s.ctx->html_body = strdup("<p>hi</p>");
    mime_structure_flags(s.ctx, &mixed, &related, nullptr);
    EXPECT_EQ(mixed, 1);
    EXPECT_EQ(related, 0);
}

// ---- attachment parts on their own ----------------------------------------------

namespace {

// The parts of one level written into a file the test opens, as a caller
// that builds its own body would.
std::string parts_into_file(MailContext *ctx, int inline_parts, const std::string &path, int *result)
{
    FILE *fp = fopen(path.c_str(), "wb");
    *result = mime_write_attachment_parts(ctx, inline_parts, fp);
    fclose(fp);
    return read_file(path);
}

} // namespace

TEST(Writer, AttachmentPartsAreTheMessagesOwnParts)
{
    TempDir dir;
    write_file(dir.file("inner.eml"), "Subject: inner\r\n\r\n.dot line\r\nend\r\n");
    write_file(dir.file("data.bin"), random_bytes(5000, 7));
    write_file(dir.file("logo.png"), random_bytes(300, 8));
    for (bool stuff : {false, true}) {
        SCOPED_TRACE(stuff ? "dot-stuffed" : "plain");
        FixedSession s;
        s.set(MAILOPT_RECIPIENT | MAILOPT_TO, "b@example.com");
        s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b", "rel-b");
        s.set(MAILOPT_BODY, "text");
        s.set(MAILOPT_BODY_HTML, "<p>x</p>");
        s.set(MAILOPT_ATTACH, dir.file("inner.eml").c_str());
        s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_BASE64, dir.file("data.bin").c_str());
        s.set(MAILOPT_ATTACH | MAILOPT_FROM_FILE, dir.file("logo.png").c_str());
        if (stuff)
            s.set(MAILOPT_DOT_STUFF);
        std::string whole = dir.file("whole.eml");
        s.set(MAILOPT_OUTPUT_FILE, whole.c_str());
        ASSERT_EQ(mime_write_to_file(s.ctx), MIME_OK) << mail_last_error(s.ctx);
        std::string msg = read_file(whole);

        struct Level {
            int inline_parts;
            int count;
            const char *starts;
        } levels[] = {{0, 2, "--mix-b\r\nContent-Type: message/rfc822;\r\n"},
                      {1, 1, "--rel-b\r\nContent-Type: image/png\r\n"}};
        for (const Level &l : levels) {
            SCOPED_TRACE(l.inline_parts ? "inline" : "regular");
            int result;
            std::string parts = parts_into_file(s.ctx, l.inline_parts, dir.file("parts.txt"), &result);
            EXPECT_EQ(result, l.count);
            EXPECT_EQ(parts.rfind(l.starts, 0), 0u) << parts;
            // Byte for byte what the message holds, no closing boundary.
            EXPECT_NE(msg.find(parts), std::string::npos) << parts;
            EXPECT_EQ(parts.find(l.inline_parts ? "--rel-b--" : "--mix-b--"), std::string::npos);
            if (!l.inline_parts) { // the message part has a line that begins with "."
                EXPECT_EQ(parts.find("\r\n..dot line") != std::string::npos, stuff) << parts;
            }

            std::string saved = dir.file(l.inline_parts ? "inline.txt" : "regular.txt");
            EXPECT_EQ(mime_save_attachment_parts(s.ctx, l.inline_parts, saved.c_str()), l.count);
            EXPECT_EQ(read_file(saved), parts);
        }
    }
}

// Parts saved through a link replace the file it names and leave the link;
// a pipe or a device gets them in place, as the only thing it can do.
TEST(Writer, AttachmentPartsThroughLinksPipesAndDevices)
{
    TempDir dir;
    write_file(dir.file("a.txt"), "text\n");
    Session s;
    s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b", "rel-b");
    s.set(MAILOPT_ATTACH, dir.file("a.txt").c_str());
    int result;
    const std::string parts = parts_into_file(s.ctx, 0, dir.file("plain.txt"), &result);
    ASSERT_EQ(result, 1);
    std::filesystem::create_directory(dir.file("sub"));
    write_file(dir.file("sub/real.txt"), "earlier");
    ASSERT_EQ(chmod(dir.file("sub/real.txt").c_str(), 0600), 0);
    std::filesystem::create_symlink("sub/real.txt", dir.file("link"));
    std::filesystem::create_symlink("../link", dir.file("sub/link2"));
    std::filesystem::create_symlink("sub/made.txt", dir.file("dangling"));
    for (const char *name : {"link", "sub/link2"}) {
        SCOPED_TRACE(name);
        write_file(dir.file("sub/real.txt"), "earlier");
        EXPECT_EQ(mime_save_attachment_parts(s.ctx, 0, dir.file(name).c_str()), 1) << mail_last_error(s.ctx);
        EXPECT_TRUE(std::filesystem::is_symlink(dir.file(name)));
        EXPECT_EQ(read_file(dir.file("sub/real.txt")), parts);
        EXPECT_EQ(std::filesystem::status(dir.file("sub/real.txt")).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    EXPECT_EQ(names_in(dir.file("sub")), (std::set<std::string>{"link2", "real.txt"}));
    EXPECT_EQ(mime_save_attachment_parts(s.ctx, 0, dir.file("dangling").c_str()), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("dangling")));
    EXPECT_EQ(read_file(dir.file("sub/made.txt")), parts);

    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    std::string piped;
    std::thread reader([&] { piped = read_file(dir.file("pipe")); });
    EXPECT_EQ(mime_save_attachment_parts(s.ctx, 0, dir.file("pipe").c_str()), 1) << mail_last_error(s.ctx);
    reader.join();
    EXPECT_EQ(piped, parts);
    EXPECT_EQ(std::filesystem::status(dir.file("pipe")).type(), std::filesystem::file_type::fifo);
    std::filesystem::create_symlink("/dev/full", dir.file("full"));
    EXPECT_EQ(mime_save_attachment_parts(s.ctx, 0, dir.file("full").c_str()), -1);
    EXPECT_STREQ(mail_last_error(s.ctx), "Failed to write attachment parts");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("full")));
}

TEST(Writer, AttachmentPartsThatCannotBeWritten)
{
    TempDir dir;
    write_file(dir.file("a.txt"), "text\n");
    write_file(dir.file("u.bin"), "uu\n");
    write_file(dir.file("gone.bin"), "x");
    std::string big;
    for (int i = 0; i < 20000; i++)
        big += "line " + std::to_string(i) + "\n";
    write_file(dir.file("big.txt"), big);
    struct Case {
        const char *name;
        std::function<void(Session &)> setup;
        int want;
        bool file_left;   // mime_save_attachment_parts leaves a new file
        const char *error; // the start of error_text, or ""
    } cases[] = {
        {"mixed boundary only",
         [&](Session &s) {
             s.set(MAILOPT_BOUNDARIES, "mix-b");
             s.set(MAILOPT_ATTACH, dir.file("a.txt").c_str());
         },
         0, false, ""},
        {"every attachment uuencoded: no part",
         [&](Session &s) {
             s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b", "rel-b");
             s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE, dir.file("u.bin").c_str());
         },
         0, false, ""},
        {"no attachment of the asked kind",
         [&](Session &s) {
             s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b", "rel-b");
             s.set(MAILOPT_ATTACH | MAILOPT_FROM_FILE, dir.file("a.txt").c_str());
         },
         0, false, ""},
        {"a vanished attachment: the others written, the result -1",
         [&](Session &s) {
             s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b", "rel-b");
             s.set(MAILOPT_ATTACH, dir.file("gone.bin").c_str());
             s.set(MAILOPT_ATTACH, dir.file("a.txt").c_str());
             std::remove(dir.file("gone.bin").c_str());
         },
         -1, false, "Could not open attachment"},
        {"a file that shrinks while read",
         [&](Session &s) {
             s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b", "rel-b");
             s.set(MAILOPT_ATTACH | MAILOPT_ATTACH_BASE64, dir.file("big.txt").c_str());
         },
         -1, false, "Read error on attachment"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir.file("gone.bin"), "x");
        write_file(dir.file("big.txt"), big);
        Session s;
        c.setup(s);
        std::string target = dir.file("parts.txt");
        write_file(target, "earlier");
        std::unique_ptr<ReadHook> hook;
        if (std::string(c.name).find("shrinks") != std::string::npos) {
            hook = std::make_unique<ReadHook>();
            hook->before = [&](int) {
                if (hook->reads == 1)
                    std::filesystem::resize_file(dir.file("big.txt"), big.size() / 2);
            };
        }
        const std::set<std::string> before = names_in(dir.path);
        EXPECT_EQ(mime_save_attachment_parts(s.ctx, 0, target.c_str()), c.want);
        EXPECT_EQ(read_file(target), "earlier");
        EXPECT_EQ(names_in(dir.path), before);
        EXPECT_EQ(std::string(mail_last_error(s.ctx)).rfind(c.error, 0), 0u) << mail_last_error(s.ctx);
    }

    // A full disk, and a target that cannot be made.
    Session s;
    s.set(MAILOPT_BOUNDARIES, "mix-b", "alt-b", "rel-b");
    s.set(MAILOPT_ATTACH, dir.file("big.txt").c_str());
    FILE *full = fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(mime_write_attachment_parts(s.ctx, 0, full), -1);
    fclose(full);
    EXPECT_STREQ(mail_last_error(s.ctx), "Failed to write attachment parts");
    // A target that cannot be made, and a folder (or a link to one) that a
    // new file must never take the place of.
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("folder")));
    std::filesystem::create_symlink("folder", dir.file("folder-link"));
    std::filesystem::create_symlink("circle", dir.file("circle"));
    const std::pair<const char *, const char *> unmade[] = {
        {"no-such-folder/parts.txt", "No such file or directory"},
        {"folder", "Is a directory"},
        {"folder-link", "Is a directory"},
        {"circle", "Too many levels of symbolic links"},
    };
    for (const auto &[name, reason] : unmade) {
        SCOPED_TRACE(name);
        std::string target = dir.file(name);
        const std::set<std::string> before = names_in(dir.path);
        EXPECT_EQ(mime_save_attachment_parts(s.ctx, 0, target.c_str()), -1);
        EXPECT_EQ(mail_last_error(s.ctx), "Failed to open output file (" + target + "): " + reason);
        EXPECT_EQ(names_in(dir.path), before);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("folder-link")));
    // An attachment of the session as the target stays as it was.
    const std::string kept = read_file(dir.file("big.txt"));
    EXPECT_EQ(mime_save_attachment_parts(s.ctx, 0, dir.file("big.txt").c_str()), -1);
    EXPECT_EQ(mail_last_error(s.ctx), "Output file is also an input file (" + dir.file("big.txt") + ")");
    EXPECT_TRUE(read_file(dir.file("big.txt")) == kept);
}
