// Header blocks: every field and value handed over lies inside the header
// the scan reports, names hold no colon or line end and neither begin nor
// end with a blank, and every field value is read by the address-list
// grammar: each address has an "@", at most 255 bytes and no line break,
// each name lies inside the value, and a value that cannot be read names
// an item inside it and a reason; an address with a non-ASCII domain goes
// into the envelope with a domain of letters, digits and inner hyphens
// only, or not at all; the streaming end finder agrees with the
// scan wherever the text is cut. Unfolding the text never makes it longer and leaves no
// fold behind.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz.h"
#include "mail/addr.h"
#include "mail/check.h"
#include "mail/scan.h"
#include "support/str.h"

namespace {

struct Seen {
    const char *begin, *end;
    size_t fields;
};

void check_field(void *user, const char *name, size_t nlen, const char *value, size_t vlen)
{
    auto *seen = static_cast<Seen *>(user);
    FUZZ_CHECK(name >= seen->begin && name + nlen <= seen->end);
    FUZZ_CHECK(value > name + nlen && value + vlen <= seen->end && value[-1] != '\r' && value[-1] != '\n');
    FUZZ_CHECK(name == seen->begin || name[-1] == '\r' || name[-1] == '\n');
    for (size_t i = 0; i < nlen; i++)
        FUZZ_CHECK(name[i] != ':' && name[i] != '\r' && name[i] != '\n');
    FUZZ_CHECK(!nlen || (name[0] != ' ' && name[0] != '\t' && name[nlen - 1] != ' ' && name[nlen - 1] != '\t'));
    seen->fields++;
    Seen inside{value, value + vlen, 0};
    AddrFieldError error{};
    int whole = addr_scan_field(&inside, value, vlen, [](void *u, const char *a, size_t al, const char *n,
                                                         size_t nl) {
        auto *in = static_cast<Seen *>(u);
        FUZZ_CHECK(al > 0 && al <= 255 && memchr(a, '@', al) && !memchr(a, '\r', al) && !memchr(a, '\n', al));
        FUZZ_CHECK(!nl || (n >= in->begin && n + nl <= in->end));
        std::string name(n ? n : "", nl);
        FUZZ_CHECK(addr_trim_name(name.data(), name.size()) <= nl);
        std::string address(a, strnlen(a, al)); // as the session takes it: up to a NUL
        size_t at = address.rfind('@');
        char out[ADDR_BUF_SIZE];
        if (at != std::string::npos && !str_is_ascii(address.c_str() + at + 1) &&
            addr_prepare_for_smtp(address.c_str(), out, sizeof out, nullptr, 1))
            FUZZ_CHECK(fuzz_every_label(out, strrchr(out, '@') + 1 - out, text_is_ldh_label));
        in->fields++;
        return 1;
    }, &error);
    if (!whole)
        FUZZ_CHECK(error.why && error.at >= value && error.at + error.len <= value + vlen);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> text(data, data + size);
    Seen seen{text.data(), text.data() + size, 0};
    size_t header_len = size + 1;
    int how = addr_scan_header(&seen, text.data(), size, check_field, &header_len);
    FUZZ_CHECK(how == HDR_SCAN_BLANK_LINE || how == HDR_SCAN_TEXT_END);
    FUZZ_CHECK(header_len <= size);
    if (how == HDR_SCAN_TEXT_END)
        FUZZ_CHECK(header_len == size);
    // The header as reported scans the same way on its own.
    Seen again{text.data(), text.data() + header_len, 0};
    addr_scan_header(&again, text.data(), header_len, check_field);
    if (how != HDR_SCAN_TEXT_END)
        FUZZ_CHECK(again.fields == seen.fields);
    // Fed in two slices cut anywhere, the end finder meets the scan's end.
    size_t cut = size ? data[0] % (size + 1) : 0, at = 0;
    HeaderBlockEnd finder;
    bool found = finder.feed(text.data(), cut, &at) || finder.feed(text.data() + cut, size - cut, &at);
    FUZZ_CHECK(found == (how == HDR_SCAN_BLANK_LINE));
    if (found)
        FUZZ_CHECK(at == header_len);

    char *unfolded = addr_unfold(text.data(), size);
    FUZZ_CHECK(unfolded != nullptr);
    size_t ulen = strlen(unfolded);
    FUZZ_CHECK(ulen <= (size ? strnlen(text.data(), size) : 0));
    free(unfolded);
    return 0;
}
