// Tests of the MIME type table and the lookup by file name: the table's
// shape and order, the extension index against a plain scan of the table,
// the rows other code relies on, name forms, hostile extensions, and a
// cross-check of well-known types against Python's mimetypes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mail/mimetype.h"
#include "tests/unit/helpers.h"

namespace {

std::string row_text(const MimeTypeRow &row)
{
    char buf[MIMETYPE_OUT_SIZE];
    return mimetype_row_text(&row, buf, sizeof buf);
}

std::string lookup(const char *name)
{
    char out[MIMETYPE_OUT_SIZE];
    char *r = mimetype_from_name(name, out);
    EXPECT_EQ(r, out);
    return out;
}

std::string lookup(const std::string &name) { return lookup(name.c_str()); }

// The reference rule: the first row of the table, in table order, whose
// extension equals the key byte for byte.
std::string scan(const std::string &ext)
{
    for (size_t i = 0; i < MIMETYPE_ROW_COUNT; i++)
        if (ext == mimetype_rows[i].extension)
            return row_text(mimetype_rows[i]);
    return MIMETYPE_DEFAULT;
}

std::string upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

} // namespace

TEST(MimeTypeTable, ShapeCountsAndOrder)
{
    EXPECT_EQ(mimetype_rows[MIMETYPE_ROW_COUNT].extension, nullptr);

    std::map<std::string, int> top;
    std::map<std::string, int> ext_rows;
    size_t longest_ext = 0, longest_type = 0;
    std::string prev;
    for (size_t i = 0; i < MIMETYPE_ROW_COUNT; i++) {
        const MimeTypeRow &r = mimetype_rows[i];
        SCOPED_TRACE(i);
        ASSERT_NE(r.extension, nullptr);
        for (int16_t piece : {r.type, r.subtype})
            ASSERT_TRUE(piece >= 0 && static_cast<size_t>(piece) < mimetype_piece_count);
        for (int16_t piece : {r.part3, r.part4})
            ASSERT_TRUE(piece >= -1 && piece < static_cast<int64_t>(mimetype_piece_count));
        EXPECT_TRUE(r.part4 < 0 || r.part3 >= 0) << "third subtype word without a second";

        std::string ext = r.extension;
        for (unsigned char c : ext)
            EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_')
                << ext;
        ext_rows[ext]++;
        longest_ext = std::max(longest_ext, ext.size());

        std::string type = row_text(r);
        longest_type = std::max(longest_type, type.size());
        top[mimetype_pieces[r.type]]++;
        // Descending byte order of the type text (equal types may follow
        // one another).
        if (i > 0) {
            EXPECT_LE(strcmp(type.c_str(), prev.c_str()), 0) << type << " after " << prev;
        }
        prev = type;
    }

    EXPECT_EQ(std::string(mimetype_rows[0].extension), "ice");
    EXPECT_EQ(row_text(mimetype_rows[0]), "x-conference/x-cooltalk");
    EXPECT_EQ(std::string(mimetype_rows[MIMETYPE_ROW_COUNT - 1].extension), "ez");
    EXPECT_EQ(row_text(mimetype_rows[MIMETYPE_ROW_COUNT - 1]), "application/andrew-inset");

    std::map<std::string, int> want_top = {
        {"application", 719}, {"text", 69},    {"image", 59},   {"video", 58},
        {"audio", 49},        {"model", 19},   {"chemical", 6}, {"font", 5},
        {"message", 2},       {"x-conference", 1},
    };
    EXPECT_EQ(top, want_top);
    EXPECT_EQ(longest_ext, static_cast<size_t>(MIMETYPE_EXT_MAX));
    EXPECT_EQ(longest_type, 73u);

    EXPECT_EQ(ext_rows.size(), static_cast<size_t>(MIMETYPE_EXT_COUNT));
    std::set<std::string> twice;
    for (const auto &[ext, n] : ext_rows)
        if (n > 1)
            twice.insert(ext);
    EXPECT_EQ(twice, (std::set<std::string>{"sub", "wmz"}));

    // Every word piece is stored once.
    std::set<std::string> pieces;
    for (size_t i = 0; i < mimetype_piece_count; i++)
        EXPECT_TRUE(pieces.insert(mimetype_pieces[i]).second) << mimetype_pieces[i];
}

TEST(MimeTypeTable, IndexIsStrictlySortedAndPointsAtFirstRows)
{
    std::set<int16_t> seen_rows;
    for (size_t i = 0; i < MIMETYPE_EXT_COUNT; i++) {
        SCOPED_TRACE(i);
        int16_t row = mimetype_ext_index[i];
        ASSERT_TRUE(row >= 0 && static_cast<size_t>(row) < MIMETYPE_ROW_COUNT);
        const char *ext = mimetype_rows[row].extension;
        // Strictly ascending: sorted, and no extension twice.
        if (i > 0) {
            EXPECT_LT(strcmp(mimetype_rows[mimetype_ext_index[i - 1]].extension, ext), 0) << ext;
        }
        // The first row of that extension in table order.
        for (int16_t k = 0; k < row; k++)
            EXPECT_STRNE(mimetype_rows[k].extension, ext) << "earlier row " << k;
        seen_rows.insert(row);
    }
    // Every row is reached, except the two later rows of a doubled extension.
    EXPECT_EQ(seen_rows.size(), static_cast<size_t>(MIMETYPE_EXT_COUNT));
}

// The binary search must agree with the scan of the table for every
// extension, for its upper- and mixed-case forms, and for keys around it
// (cut by one byte, grown by one byte) that probe the search's edges.
TEST(MimeTypeLookup, AgreesWithTableScanForEveryRow)
{
    for (size_t i = 0; i < MIMETYPE_ROW_COUNT; i++) {
        std::string ext = mimetype_rows[i].extension;
        SCOPED_TRACE(ext);
        std::string want = scan(ext);
        EXPECT_EQ(lookup("file." + ext), want);
        EXPECT_EQ(lookup("FILE." + upper(ext)), want);
        std::string mixed = ext;
        mixed[0] = upper(mixed.substr(0, 1))[0];
        EXPECT_EQ(lookup("x." + mixed), want);

        std::string shorter = ext.substr(0, ext.size() - 1);
        EXPECT_EQ(lookup("f." + shorter), scan(shorter));
        for (const char *tail : {"0", "z", "~", "_"})
            EXPECT_EQ(lookup("f." + ext + tail), scan(ext + tail));
    }
    // Keys below the first and above the last extension of the index.
    EXPECT_EQ(lookup("a.!"), MIMETYPE_DEFAULT);
    EXPECT_EQ(lookup("a.0"), MIMETYPE_DEFAULT);
    EXPECT_EQ(lookup("a.zzzz"), MIMETYPE_DEFAULT);
    EXPECT_EQ(lookup("a.~"), MIMETYPE_DEFAULT);
}

TEST(MimeTypeLookup, RowsOtherCodeReliesOn)
{
    static const struct {
        const char *ext;
        const char *type;
    } cases[] = {
        {"txt", "text/plain"},
        {"log", "text/plain"},
        {"conf", "text/plain"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"csv", "text/csv"},
        {"css", "text/css"},
        {"js", "text/javascript"},
        {"ics", "text/calendar"},
        {"xml", "application/xml"},
        {"json", "application/json"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"svg", "image/svg+xml"},
        {"bmp", "image/bmp"},
        {"pdf", "application/pdf"},
        {"rtf", "application/rtf"},
        {"zip", "application/zip"},
        {"7z", "application/x-7z-compressed"},
        {"tar", "application/x-tar"},
        {"doc", "application/msword"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"xls", "application/vnd.ms-excel"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {"odt", "application/vnd.oasis.opendocument.text"},
        {"eml", "message/rfc822"},
        {"mime", "message/rfc822"},
        {"mp3", "audio/mpeg"},
        {"wav", "audio/x-wav"},
        {"mp4", "video/mp4"},
        {"avi", "video/x-msvideo"},
        {"exe", "application/x-msdownload"},
        {"bin", "application/octet-stream"},
        {"p7s", "application/pkcs7-signature"},
        {"ice", "x-conference/x-cooltalk"},
        // The first of two rows wins.
        {"sub", "text/vnd.dvb.subtitle"},
        {"wmz", "application/x-msmetafile"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ext);
        EXPECT_EQ(lookup(std::string("a.") + c.ext), c.type);
    }
}

TEST(MimeTypeLookup, NameForms)
{
    static const struct {
        const char *name;
        const char *type;
    } cases[] = {
        {"report.PDF", "application/pdf"},
        {"Report.Pdf", "application/pdf"},
        {"archive.tar.gz", MIMETYPE_DEFAULT}, // gz has no row
        {"backup.zip.TAR", "application/x-tar"},
        {"a.b.c.d.png", "image/png"},
        {"README", MIMETYPE_DEFAULT},
        {"", MIMETYPE_DEFAULT},
        {"file.", MIMETYPE_DEFAULT},
        {"file.pdf.", MIMETYPE_DEFAULT},
        {".", MIMETYPE_DEFAULT},
        {"..", MIMETYPE_DEFAULT},
        // A dotfile: the text after its dot is all there is to look up.
        {".profile", MIMETYPE_DEFAULT},
        {".txt", "text/plain"},
        {".config.json", "application/json"},
        // A dot in a folder name says nothing about the file.
        {"dir.pdf/file", MIMETYPE_DEFAULT},
        {"dir.pdf\\file", MIMETYPE_DEFAULT},
        {"C:\\Users\\me\\My.Documents\\report", MIMETYPE_DEFAULT},
        {"/home/me/v1.2/notes", MIMETYPE_DEFAULT},
        // Both separators, in any mix.
        {"C:\\Users\\me\\My.Documents\\report.DOCX",
         "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"/srv/mail.d/in\\box/msg.eml", "message/rfc822"},
        {"a\\b/c\\photo.JPG", "image/jpeg"},
        {"folder.txt/", MIMETYPE_DEFAULT},
        {"folder.txt\\", MIMETYPE_DEFAULT},
        {"/abs/path/.hidden.png", "image/png"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(lookup(c.name), c.type);
    }
    EXPECT_EQ(lookup(static_cast<const char *>(nullptr)), MIMETYPE_DEFAULT);
    char out[MIMETYPE_OUT_SIZE];
    EXPECT_EQ(mimetype_from_name("a.pdf", nullptr), nullptr);
    // The result replaces whatever the buffer held.
    memset(out, 'x', sizeof out);
    EXPECT_STREQ(mimetype_from_name("a.png", out), "image/png");
}

TEST(MimeTypeLookup, LongAndHostileExtensionsFindNothing)
{
    // The longest extension still matches; one byte more does not, and no
    // length reads or writes past a buffer (checked under the sanitizers).
    EXPECT_EQ(lookup("setup.application"), "application/x-ms-application");
    EXPECT_EQ(lookup("setup.APPLICATION"), "application/x-ms-application");
    EXPECT_EQ(lookup("setup.applications"), MIMETYPE_DEFAULT);
    for (size_t n : {12u, 100u, 1023u, 1024u, 1025u, 4096u, 100000u}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(lookup("a." + std::string(n, 'A')), MIMETYPE_DEFAULT);
        // A known extension with a long tail is no prefix match.
        EXPECT_EQ(lookup("a.pdf" + std::string(n, 'f')), MIMETYPE_DEFAULT);
    }
    // The extension is lowered in a copy: the caller's name stays as it was.
    std::string name = "KEEP.PDF";
    EXPECT_EQ(lookup(name), "application/pdf");
    EXPECT_EQ(name, "KEEP.PDF");

    static const char *const hostile[] = {
        "a.pd\x01" "f", "a.pdf\n", "a.pdf\r\n", "a.\tpdf", "a.pdf\x7f", "a.\x1b[0mpdf",
        "a.pdf ",       "a. pdf",  "a.p%64f",   "a.pdf\xc2\xa0", "a.\xef\xbd\x90" "df",
        "a.pdf\xff",    "a.\x80",
    };
    for (const char *name_bytes : hostile) {
        SCOPED_TRACE(to_hex(name_bytes));
        EXPECT_EQ(lookup(name_bytes), MIMETYPE_DEFAULT);
    }
}

TEST(MimeTypeRowText, CutsToTheBufferAndTerminates)
{
    const MimeTypeRow *docx = nullptr;
    for (size_t i = 0; i < MIMETYPE_ROW_COUNT; i++)
        if (strcmp(mimetype_rows[i].extension, "docx") == 0)
            docx = &mimetype_rows[i];
    ASSERT_NE(docx, nullptr);
    // docx is four pieces, the last with a dot of its own.
    EXPECT_GE(docx->part4, 0);
    std::string full = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
    for (size_t size : {1u, 2u, 11u, 12u, 13u, 16u, 47u, 48u, 49u, 72u, 73u, 74u, 200u}) {
        SCOPED_TRACE(size);
        std::vector<char> buf(size + 8, '#');
        ASSERT_EQ(mimetype_row_text(docx, buf.data(), size), buf.data());
        EXPECT_EQ(std::string(buf.data()), full.substr(0, size - 1));
        for (size_t k = size; k < buf.size(); k++)
            EXPECT_EQ(buf[k], '#') << "byte written past the buffer at " << k;
    }
    char one = '#';
    EXPECT_EQ(mimetype_row_text(docx, &one, 0), nullptr);
    EXPECT_EQ(one, '#');
}

// Well-known extensions whose rows come from the same registry file that
// Debian's Python reads; the rows fixed above with other texts are left out.
TEST(MimeTypeLookup, WellKnownTypesMatchPythonMimetypes)
{
    static const char *const exts[] = {
        "pdf",  "png",  "gif",  "jpg",   "jpeg", "html", "htm",  "txt", "csv",  "css",
        "zip",  "tar",  "doc",  "docx",  "xls",  "xlsx", "ppt",  "pptx", "odt", "ods",
        "odp",  "rtf",  "svg",  "json",  "xml",  "mp3",  "mp4",  "mpeg", "mov", "webm",
        "webp", "ogg",  "flac", "tiff",  "ico",  "epub", "woff", "woff2", "ttf", "otf",
        "jar",  "deb",  "iso",  "ps",    "bmp",  "wav",  "avi",  "m4a",  "mkv", "7z",
        "rar",  "class", "js",  "ics",   "vcf",  "eml",  "p7s",  "crt",  "atom", "rss",
        "xhtml",
    };
    std::string input;
    for (const char *e : exts)
        input += std::string(e) + "\n";
    int status = -1;
    std::string got = run_python("import mimetypes, sys\n"
                                 "for line in sys.stdin:\n"
                                 "    ext = line.strip()\n"
                                 "    t = mimetypes.guess_type('name.' + ext, strict=True)[0]\n"
                                 "    print(ext, (t or '-').lower())\n",
                                 input, &status);
    ASSERT_EQ(status, 0);
    std::istringstream lines(got);
    std::string ext, type;
    size_t n = 0;
    while (lines >> ext >> type) {
        SCOPED_TRACE(ext);
        std::string ours = lookup("x." + ext);
        for (char &c : ours)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(ours, type);
        n++;
    }
    EXPECT_EQ(n, sizeof exts / sizeof exts[0]);
}
