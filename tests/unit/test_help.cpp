// Tests of the help printers: wrapping to a width, the blank-line layout,
// AsciiDoc escaping and inline markup, the mode letters, a sink that fails,
// and that the help and the option dispatcher name the same words. Whole
// runs ("/?", -doc, -asciidoc) are tested end to end in tests/e2e.
#include "cli/help.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

std::string write_text(const HelpRow *table, int width)
{
    StrBuf sb = {};
    EXPECT_EQ(help_write_text(strbuf_sink, &sb, table, help_letters, width), 1);
    std::string out = sb.data ? sb.data : "";
    sbuf_release(&sb);
    return out;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> words_of(const std::string &line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

const uint64_t SFP = HELP_MODE_SMTP | HELP_MODE_FILE | HELP_MODE_PRECON;

// Words of many lengths, one longer than any line of the narrow widths.
const char long_text[] =
    "Attaches every file of a folder whose name matches the patterns, each as one attachment; "
    "an extraordinarily-long-word-that-fits-no-narrow-line-at-all follows, then short ones: "
    "a b c d e f g h i j k l m n o p q r s t u v w x y z and the end.";

const HelpRow wrap_table[] = {
    {"", 0, "Section", HELP_TITLE},
    {"", 0, long_text, HELP_PARAGRAPH},
    {"", 0, "", HELP_TABLE_START},
    {"-x", HELP_MODE_SMTP, long_text, HELP_OPTION},
    {"-longer-option:value", SFP, long_text, HELP_OPTION},
    {"", 0, "", HELP_TABLE_END},
    {"", 0, "", HELP_END},
};

// Every line fits in width - 1 columns unless it holds one word that does
// not (an option line beside its description also holds the option text
// and its letters), and the lines of a description start at its column.
TEST(HelpText, WrapsEveryLineWithinTheWidth)
{
    const size_t column = strlen("-longer-option:value") + 3 + 2;
    for (int width : {12, 20, 30, 41, 50, 60, 80, 100, 120, 200}) {
        SCOPED_TRACE(width);
        for (const HelpRow *table : {wrap_table, help_table}) {
            // The description column: the longest option text, its letters.
            size_t desc = 0;
            for (const HelpRow *row = table; row->type != HELP_END; row++)
                if (row->type == HELP_OPTION)
                    desc = std::max(desc, strlen(row->option) + 5);
            std::string out = write_text(table, width);
            for (const std::string &line : lines_of(out)) {
                if (line.size() < size_t(width))
                    continue;
                // An option line begins with the option text and its letters.
                bool option_line = (line[0] == '-' || line[0] == '/') && line.size() > desc && line[desc - 1] == ' ' &&
                                   line.substr(desc - 4, 3).find_first_not_of("SFP-") == std::string::npos;
                // The "##" marks of a title go with its words.
                std::vector<std::string> words = words_of(option_line ? line.substr(desc) : line);
                words.erase(std::remove(words.begin(), words.end(), "##"), words.end());
                ASSERT_EQ(words.size(), 1u) << "line too long: [" << line << "]";
            }
        }
        // Continuation lines start at the description column, or where
        // the width leaves less than 30 columns beside it, every line of a
        // description starts 4 columns in, below its option.
        std::string out = write_text(wrap_table, width);
        const size_t indent = size_t(width) > column + 30 ? column : 4;
        for (const std::string &line : lines_of(out)) {
            EXPECT_NE(line, "##");
            if (line.empty() || line[0] != ' ')
                continue;
            EXPECT_EQ(line.find_first_not_of(' '), indent) << "[" << line << "]";
        }
        // Nothing is lost or reordered by the wrapping.
        std::vector<std::string> all = words_of(out), expected = words_of(long_text);
        std::vector<std::string> first(all.begin() + 3, all.begin() + 3 + expected.size()); // after "## Section ##"
        EXPECT_EQ(first, expected);
    }
}

// The layout: a title and a blank line, paragraphs on their own lines with
// an empty paragraph as a blank line and a blank line before what is not
// a paragraph, option rows padded to one column and each ended by a blank
// line. A word never starts a line with an empty line before it.
TEST(HelpText, LaysOutTitlesParagraphsAndOptions)
{
    const HelpRow table[] = {
        {"", 0, "Title", HELP_TITLE},
        {"", 0, "one two", HELP_PARAGRAPH},
        {"", 0, "three", HELP_PARAGRAPH},
        {"", 0, "", HELP_PARAGRAPH},
        {"", 0, "four", HELP_PARAGRAPH},
        {"", 0, "", HELP_TABLE_START},
        {"-a:file", HELP_MODE_SMTP | HELP_MODE_FILE, "Attaches\ta\r\nfile.", HELP_OPTION},
        {"-mdn", SFP | HELP_COMMAND_LINE_ONLY, "Asks for a notification.", HELP_OPTION},
        {"", 0, "", HELP_TABLE_END},
        {"", 0, "after the table", HELP_PARAGRAPH},
        {"", 0, "ignored", HELP_END},
        {"", 0, "never printed", HELP_PARAGRAPH},
    };
    EXPECT_EQ(write_text(table, 80), "## Title ##\n\n"
                                     "one two\n"
                                     "three\n"
                                     "\n"
                                     "four\n\n"
                                     "-a:file SF- Attaches a file.\n\n"
                                     "-mdn    SFP Asks for a notification.\n\n"
                                     "after the table\n\n");
    // No line ends in a blank: the blank after a word is written only
    // before the next word on the same line.
    // Where the width leaves too little room beside the option column, the
    // description goes below the option, 4 columns in.
    EXPECT_EQ(write_text(table, 14), "## Title ##\n\n"
                                     "one two\n"
                                     "three\n"
                                     "\n"
                                     "four\n\n"
                                     "-a:file SF-\n"
                                     "    Attaches\n"
                                     "    a file.\n\n"
                                     "-mdn SFP\n"
                                     "    Asks for\n"
                                     "    a\n"
                                     "    notification.\n\n"
                                     "after the\n"
                                     "table\n\n");
    // An option text with a blank in it, too long for the line, is broken
    // there; its letters follow as one more word.
    const HelpRow subject[] = {
        {"", 0, "", HELP_TABLE_START},
        {"-subject:subject text", SFP, "Subject.", HELP_OPTION},
        {"", 0, "", HELP_TABLE_END},
        {"", 0, "", HELP_END},
    };
    EXPECT_EQ(write_text(subject, 20), "-subject:subject\n    text SFP\n    Subject.\n\n");
    // A title wider than the line is wrapped with each "##" kept beside a
    // word; one that is a single word stays whole.
    const HelpRow titles[] = {
        {"", 0, "Delivery Status (DSN)", HELP_TITLE},
        {"", 0, "Title", HELP_TITLE},
        {"", 0, "", HELP_END},
    };
    EXPECT_EQ(write_text(titles, 14), "## Delivery\nStatus\n(DSN) ##\n\n## Title ##\n\n");
    EXPECT_EQ(write_text(titles, 10), "## Delivery\nStatus\n(DSN) ##\n\n## Title ##\n\n");
}

TEST(HelpText, FailingSinkIsReportedAndNotCalledAgain)
{
    struct Counter {
        int calls = 0;
    } counter;
    FmtSink failing = [](void *user, const char *, size_t) {
        static_cast<Counter *>(user)->calls++;
        return 0;
    };
    EXPECT_EQ(help_write_text(failing, &counter, help_table, help_letters, 80), 0);
    EXPECT_EQ(counter.calls, 1);
}

TEST(HelpAsciidoc, EscapesStarsBarsAndControlBytes)
{
    const struct {
        const char *in, *out;
    } cases[] = {
        {"a*b**", "a&#42;b&#42;&#42;"},
        {"x|y", "x\\|y"},
        {"keep\ttab\r\nline", "keep\ttab\r\nline"},
        {"\x01gone\x1b[31m\x7f", "gone[31m"},
        {"ünïcode", "ünïcode"},
        {"", ""},
    };
    for (const auto &c : cases) {
        char *escaped = help_asciidoc_escape(c.in);
        ASSERT_NE(escaped, nullptr);
        EXPECT_EQ(std::string(escaped), c.out) << c.in;
        free(escaped);
    }
}

TEST(HelpAsciidoc, MarksOptionWordsAndModeMarkers)
{
    const struct {
        const char *in, *out;
    } cases[] = {
        {"(S)MTP mode", "**(S)**MTP mode"},
        {"see -to:, -cc: and -bcc:.", "see _-to:_, _-cc:_ and _-bcc:_."},
        {"(-host:) and (-x", "(_-host:)_ and (_-x_"},
        {"a - b -d", "a - b _-d_"},
        {"a star * here", "a star &#42; here"},
        {"x|y", "x\\|y"},
        {"  runs   of  blanks  ", "runs of blanks"},
        {"quoted \"a  -b  c\" stays", "quoted \"a  -b  c\" stays"},
        {"(x) (ab", "**(x)** (ab"},
        {"", ""},
    };
    for (const auto &c : cases) {
        StrBuf sb = {};
        EXPECT_NE(help_asciidoc_inline(&sb, c.in), nullptr);
        EXPECT_EQ(std::string(sb.data ? sb.data : ""), c.out) << c.in;
        sbuf_release(&sb);
    }
    // A word is never cut, however long.
    std::string word = "-" + std::string(200, 'w');
    StrBuf sb = {};
    help_asciidoc_inline(&sb, word.c_str());
    EXPECT_EQ(std::string(sb.data), "_" + word + "_");
    sbuf_release(&sb);
}

TEST(HelpAsciidoc, BuildsHeadingsTablesAndParagraphBreaks)
{
    const HelpRow table[] = {
        {"", 0, "A*B", HELP_TITLE},
        {"", 0, "one", HELP_PARAGRAPH},
        {"", 0, "", HELP_PARAGRAPH},
        {"", 0, "two", HELP_PARAGRAPH},
        {"", 0, "", HELP_TABLE_START},
        {"-to:a|@file", HELP_MODE_SMTP | HELP_MODE_PRECON, "Adds -to:.", HELP_OPTION},
        {"", 0, "", HELP_TABLE_END},
        {"", 0, "", HELP_END},
    };
    StrBuf sb = {};
    ASSERT_NE(help_build_asciidoc(&sb, "Banner 1.0", "Usage", table, "SFP"), nullptr);
    EXPECT_EQ(std::string(sb.data), "== Usage\nBanner 1.0\n\n"
                                    "=== A&#42;B\n"
                                    "one +\n +\ntwo\n\n"
                                    "[cols=\"90%,10%\"]\n|===\n"
                                    "|*-to:a\\|@file* | *S-P*\n2+|Adds _-to:_.\n"
                                    "|===\n");
    sbuf_release(&sb);
}

TEST(HelpAsciidoc, MemoryRunningOutIsReported)
{
    auto saved = strbuf_realloc;
    strbuf_realloc = [](void *, size_t) -> void * { return nullptr; };
    StrBuf sb = {};
    EXPECT_EQ(help_build_asciidoc(&sb, "b", "Usage", help_table, help_letters), nullptr);
    strbuf_realloc = saved;
    sbuf_release(&sb);
}

TEST(HelpLetters, ShowsOneLetterPerModeBit)
{
    char out[HELP_LETTERS_SIZE];
    EXPECT_STREQ(help_mode_letters(HELP_MODE_SMTP | HELP_MODE_PRECON, "SFP", 3, out), "S-P");
    EXPECT_STREQ(help_mode_letters(0, "SFP", 3, out), "---");
    EXPECT_STREQ(help_mode_letters(HELP_COMMAND_LINE_ONLY | HELP_FULL_ONLY | 7, "SFP", 3, out),
                 "SFP");
    EXPECT_STREQ(help_mode_letters(~uint64_t(0), "SFP", 5, out), "SFP--");
    EXPECT_STREQ(help_mode_letters(~uint64_t(0), "ABCDEFGHIJKLMNOPQR", 20, out), "ABCDEFGHIJKLMNO");
    EXPECT_STREQ(help_mode_letters(1, "SFP", -1, out), "");
}

// The help documents the dispatcher's words and no others, and the help
// switches the run looks for before it. Words the dispatcher takes that
// users are not meant to use stay out of the help.
TEST(HelpTable, NamesEveryWordTheDispatcherKnows)
{
    const std::set<std::string> internal = {"body--html:", "ign:"};
    std::set<std::string> documented;
    for (const HelpRow *row = help_table; row->type != HELP_END; row++) {
        if (row->type != HELP_OPTION)
            continue;
        std::string option = row->option + (row->option[0] == '-'); // without the dash
        size_t colon = option.find(':');
        documented.insert(colon == std::string::npos ? option : option.substr(0, colon + 1));
    }
    for (const char *help_switch : {"/?", "doc", "asciidoc"})
        EXPECT_TRUE(documented.count(help_switch)) << "not in the help: " << help_switch;
    for (size_t i = 0; const char *word = cli_option_word(i); i++) {
        std::string w = word;
        if (internal.count(w))
            continue;
        if (w.rfind("proxytype:", 0) == 0)
            w = "proxytype:"; // the help names the word and its values apart
        EXPECT_TRUE(documented.count(w)) << "not in the help: -" << w;
    }
}

} // namespace
