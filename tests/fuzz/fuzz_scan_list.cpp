// Recipient lists: every item handed over lies inside the text, is one
// address with an "@" and a domain of two or more non-empty labels of at
// most 63 bytes, and a refusal names a line the text has.
#include <cctype>
#include <vector>

#include "fuzz.h"
#include "mail/scan.h"

namespace {

struct Seen {
    const char *begin, *end;
};

int check_item(void *user, const char *a, size_t alen, const char *n, size_t nlen)
{
    auto *seen = static_cast<Seen *>(user);
    FUZZ_CHECK(a >= seen->begin && a + alen <= seen->end);
    FUZZ_CHECK(!nlen || (n >= seen->begin && n + nlen <= seen->end));
    std::string address(a, alen);
    size_t at = address.find('@');
    FUZZ_CHECK(at != std::string::npos && at > 0);
    std::string domain = address.substr(at + 1);
    size_t labels = 0, label = 0;
    for (char c : domain + ".") {
        if (c == '.') {
            FUZZ_CHECK(label >= 1 && label <= 63);
            labels++;
            label = 0;
        } else {
            FUZZ_CHECK(isalnum(static_cast<unsigned char>(c)) || c == '-');
            label++;
        }
    }
    FUZZ_CHECK(labels >= 2);
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact copy, so that reading past the end is caught by the sanitizer.
    std::vector<char> text(data, data + size);
    Seen seen{text.data(), text.data() + size};
    size_t line = 0;
    int ok = addr_scan_list(&seen, text.data(), size, check_item, &line);
    size_t lines = 1;
    for (size_t i = 0; i < size; i++)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == size || text[i + 1] != '\n')))
            lines++;
    if (ok)
        FUZZ_CHECK(line == 0);
    else
        FUZZ_CHECK(line >= 1 && line <= lines);
    return 0;
}
