// IDN domains: the result is printable ASCII in labels of at most 63 bytes,
// at most 253 bytes in all; an ASCII domain keeps its labels as written, a
// mapped one is letters, digits and inner hyphens throughout (no full-width
// comma, "@" or ">" comes out as its ASCII twin); every "xn--" label the
// mapping writes is Punycode that our own coder decodes and encodes back
// to the same text, and the result maps to itself; the Unicode form is
// UTF-8 that maps back to the same result and is its own Unicode form; a
// smaller output buffer holds a prefix of the result, cut between labels,
// and is never overrun.
#include <vector>

#include "fuzz.h"
#include "mail/addr.h"
#include "mail/check.h"
#include "support/str.h"

namespace {

std::vector<std::string> labels(const std::string &domain)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t dot = domain.find('.', start);
        std::string label = domain.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!label.empty())
            out.push_back(label);
        if (dot == std::string::npos)
            return out;
        start = dot + 1;
    }
}

std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return s;
}

bool printable_ascii(const std::string &s)
{
    for (unsigned char c : s)
        if (c < 0x20 || c >= 0x7f)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t small_size = data[0];
    std::string domain = fuzz_text(data + 1, size - 1);

    char big[4096];
    if (addr_idn_domain(domain.c_str(), big, sizeof big)) {
        std::string result = big;
        FUZZ_CHECK(printable_ascii(result));
        if (domain[0] == '[') {
            FUZZ_CHECK(result == domain);
            char unicode[ADDR_SHOWN_BUF_SIZE];
            FUZZ_CHECK(addr_idn_unicode(domain.c_str(), unicode, sizeof unicode) == ADDR_IDN_OK);
            FUZZ_CHECK(unicode == result);
        } else {
            FUZZ_CHECK(result.size() <= 253);
            std::vector<std::string> in = labels(domain), out = labels(result);
            for (const std::string &label : out)
                FUZZ_CHECK(label.size() <= 63);
            if (printable_ascii(domain))
                FUZZ_CHECK(in == out);
            else
                for (const std::string &label : out)
                    FUZZ_CHECK(text_is_ldh_label(label.data(), label.size()));
            for (const std::string &label : out) {
                if (label.size() < 4 || (label.compare(0, 4, "xn--") != 0 && label.compare(0, 4, "XN--") != 0))
                    continue;
                std::vector<uint32_t> cps(64);
                uint64_t count = cps.size();
                FUZZ_CHECK(addr_punycode_decode(label.size() - 4, label.data() + 4, &count, cps.data(), nullptr) ==
                           PUNY_SUCCESS);
                char enc[64];
                uint64_t enc_len = sizeof enc;
                FUZZ_CHECK(addr_punycode_encode(count, cps.data(), nullptr, &enc_len, enc) == PUNY_SUCCESS);
                FUZZ_CHECK(lower(std::string(enc, enc_len)) == lower(label.substr(4)));
            }
            char again[4096];
            FUZZ_CHECK(addr_idn_domain(result.c_str(), again, sizeof again) != nullptr);
            FUZZ_CHECK(result == again);
            char unicode[ADDR_SHOWN_BUF_SIZE], back[ADDR_BUF_SIZE], twice[ADDR_SHOWN_BUF_SIZE];
            FUZZ_CHECK(addr_idn_unicode(domain.c_str(), unicode, sizeof unicode) == ADDR_IDN_OK);
            FUZZ_CHECK(utf8_valid(unicode));
            FUZZ_CHECK(addr_idn_domain(unicode, back, sizeof back) != nullptr);
            FUZZ_CHECK(lower(result) == lower(back));
            FUZZ_CHECK(addr_idn_unicode(unicode, twice, sizeof twice) == ADDR_IDN_OK);
            FUZZ_CHECK(printable_ascii(domain) ? std::string(unicode) == result : std::string(unicode) == twice);
        }
    } else {
        char unicode[ADDR_SHOWN_BUF_SIZE];
        FUZZ_CHECK(addr_idn_unicode(domain.c_str(), unicode, sizeof unicode) != ADDR_IDN_OK);
    }

    // A small buffer of exactly its size: a prefix of the full result,
    // ending where a label ends.
    std::vector<char> small(small_size ? small_size : 1);
    char *r = addr_idn_domain(domain.c_str(), small.data(), small_size);
    if (small_size == 0) {
        FUZZ_CHECK(r == nullptr);
        return 0;
    }
    std::string part(small.data(), strnlen(small.data(), small.size()));
    FUZZ_CHECK(part.size() < small.size());
    std::string full = big;
    FUZZ_CHECK(full.compare(0, part.size(), part) == 0);
    FUZZ_CHECK(part.size() == full.size() || full[part.size()] == '.' || part.empty());
    if (r)
        FUZZ_CHECK(part == full);
    return 0;
}
