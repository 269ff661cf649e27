// IDN domains: every label the conversion writes is either the input's
// ASCII label or "xn--" and Punycode that decodes to the input label's code
// points; the result is printable ASCII; a smaller output buffer holds a
// prefix of the result, cut between labels, and is never overrun.
#include <vector>

#include "fuzz.h"
#include "mail/addr.h"

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

// Code points of well-formed UTF-8 (the conversion refuses anything else).
std::vector<uint32_t> code_points(const std::string &s)
{
    std::vector<uint32_t> cps;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
        uint32_t v = n == 1 ? c : c & (0x3f >> (n - 1));
        for (size_t k = 1; k < n; k++)
            v = v << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3f);
        cps.push_back(v);
        i += n;
    }
    return cps;
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
        for (unsigned char c : result)
            FUZZ_CHECK(c >= 0x20 && c < 0x7f);
        std::vector<std::string> in = labels(domain), out = labels(result);
        FUZZ_CHECK(in.size() == out.size());
        for (size_t i = 0; i < in.size(); i++) {
            bool ascii = true;
            for (unsigned char c : in[i])
                ascii = ascii && c < 0x80;
            if (ascii) {
                FUZZ_CHECK(out[i] == in[i]);
                continue;
            }
            FUZZ_CHECK(out[i].compare(0, 4, "xn--") == 0);
            std::vector<uint32_t> want = code_points(in[i]);
            std::vector<uint32_t> got(want.size() + 1);
            uint64_t got_len = got.size();
            FUZZ_CHECK(addr_punycode_decode(out[i].size() - 4, out[i].data() + 4, &got_len, got.data(),
                                            nullptr) == PUNY_SUCCESS);
            got.resize(got_len);
            FUZZ_CHECK(got == want);
        }
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
