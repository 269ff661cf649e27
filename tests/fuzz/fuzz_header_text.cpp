// Header texts: the encoder's output is the text itself when that is plain
// printable ASCII, else encoded words of at most 75 characters, separated by
// single spaces, whose base64 decodes back to the text and which never cut
// a UTF-8 character of well-formed text. A display name comes back as
// encoded words, a quoted string or words to decode, always meaning the
// same name and never holding a space-free run too long to fold.
#include <vector>

#include "fuzz.h"
#include "mail/hdrtext.h"
#include "mail/writer.h"
#include "support/encode.h"

namespace {

const std::string kOpen = "=?utf-8?B?", kClose = "?=";

bool plain(const std::string &s)
{
    for (unsigned char c : s)
        if (c != '\t' && (c < 0x20 || c > 0x7e))
            return false;
    return true;
}

// Strict UTF-8: no overlong forms, surrogates or values past U+10FFFF.
bool valid_utf8(const std::string &s)
{
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3
                                : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
        if (!n || i + n > s.size())
            return false;
        uint32_t v = n == 1 ? c : c & (0x3f >> (n - 1));
        for (size_t k = 1; k < n; k++) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xc0) != 0x80)
                return false;
            v = v << 6 | (d & 0x3f);
        }
        static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (v < kMin[n] || v > 0x10ffff || (v >= 0xd800 && v <= 0xdfff))
            return false;
        i += n;
    }
    return true;
}

// The text of encoded words separated by single spaces; each word's text
// is checked against utf8 when it is set.
std::string decode_words(const std::string &s, bool utf8)
{
    std::string text;
    size_t start = 0;
    for (;;) {
        size_t end = s.find(' ', start);
        std::string word = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
        FUZZ_CHECK(word.size() <= RFC2047_WORD_MAX);
        FUZZ_CHECK(word.size() >= kOpen.size() + kClose.size());
        FUZZ_CHECK(word.compare(0, kOpen.size(), kOpen) == 0);
        FUZZ_CHECK(word.compare(word.size() - kClose.size(), kClose.size(), kClose) == 0);
        std::string b64 = word.substr(kOpen.size(), word.size() - kOpen.size() - kClose.size());
        FUZZ_CHECK(b64.size() % 4 == 0);
        std::vector<unsigned char> bytes(b64_decoded_max(b64.size()) + 1);
        size_t n = b64_decode(b64.data(), static_cast<ptrdiff_t>(b64.size()), bytes.data());
        std::string piece(reinterpret_cast<const char *>(bytes.data()), n);
        if (utf8)
            FUZZ_CHECK(valid_utf8(piece));
        text += piece;
        if (end == std::string::npos)
            return text;
        start = end + 1;
    }
}

// A display name folds at its blanks (spaces and TABs): no run between two
// of them may be longer than a folded line can take.
void check_runs(const std::string &s)
{
    size_t run = 0;
    for (char c : s) {
        run = c == ' ' || c == '\t' ? 0 : run + 1;
        FUZZ_CHECK(run <= HDR_RUN_MAX);
    }
}

std::string unquote(const std::string &s)
{
    FUZZ_CHECK(s.size() >= 2 && s.front() == '"' && s.back() == '"');
    std::string out;
    for (size_t i = 1; i + 1 < s.size(); i++) {
        if (s[i] == '\\')
            i++;
        else
            FUZZ_CHECK(s[i] != '"');
        FUZZ_CHECK(i + 1 < s.size());
        out += s[i];
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text = fuzz_text(data, size);

    char *enc = hdr_encode_text(text.c_str());
    FUZZ_CHECK(enc != nullptr);
    std::string e = enc;
    free(enc);
    if (plain(text))
        FUZZ_CHECK(e == text);
    else
        FUZZ_CHECK(decode_words(e, valid_utf8(text)) == text);

    char *out = nullptr;
    FUZZ_CHECK(hdr_append_display_name(&out, text.c_str()) == 1);
    std::string shown = out;
    check_runs(shown);
    if (shown != text) {
        // A name that is already encoded words carrying UTF-8 is shown as
        // the text those words carry, made again to fit the line.
        std::string meant = text;
        char *carried = nullptr;
        size_t carried_len = 0;
        if (hdr_decode_words(text.c_str(), &carried, &carried_len) == 1) {
            std::string bytes(carried, carried_len);
            if (valid_utf8(bytes))
                meant = bytes;
        }
        free(carried);
        if (meant.empty() && !text.empty())
            FUZZ_CHECK(shown.empty());
        else if (shown[0] == '"')
            FUZZ_CHECK(unquote(shown) == text);
        else
            FUZZ_CHECK(decode_words(shown, valid_utf8(meant)) == meant);
    }
    // A second name is appended to what is there.
    FUZZ_CHECK(hdr_append_display_name(&out, "x") == 1);
    FUZZ_CHECK(std::string(out) == shown + "\"x\"");
    free(out);
    return 0;
}
