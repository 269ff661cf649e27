// Addresses: the classification follows its rule byte by byte (no control
// byte, no C1 control, no U+2028 or U+2029), and the preparation for the
// envelope agrees with it: it refuses exactly the bad kinds (and a
// non-ASCII local part without SMTPUTF8), keeps the local part, writes the
// domain as the IDN conversion does, fits its buffer and leaves the buffer
// untouched when it refuses. An address the header writer takes as safe is
// never a bad one. The domain follows the last "@" (a quoted local part may
// hold one).
#include <vector>

#include "fuzz.h"
#include "mail/addr.h"
#include "mail/writer.h"

namespace {

int expected_kind(const std::string &a)
{
    size_t at = a.rfind('@');
    if (a.empty() || a.size() > ADDR_MAX || at == std::string::npos)
        return ADDR_KIND_BAD;
    int kind = ADDR_KIND_ASCII;
    for (size_t i = 0; i < a.size(); i++) {
        unsigned char c = static_cast<unsigned char>(a[i]);
        if (c < 0x20 || c == 0x7f)
            return ADDR_KIND_BAD;
        // The UTF-8 forms of the C1 controls and of U+2028 and U+2029.
        unsigned char c1 = i + 1 < a.size() ? static_cast<unsigned char>(a[i + 1]) : 0;
        unsigned char c2 = i + 2 < a.size() ? static_cast<unsigned char>(a[i + 2]) : 0;
        if ((c == 0xc2 && c1 >= 0x80 && c1 <= 0x9f) || (c == 0xe2 && c1 == 0x80 && (c2 == 0xa8 || c2 == 0xa9)))
            return ADDR_KIND_BAD;
        if (c >= 0x80)
            kind = i < at ? ADDR_KIND_UTF8_LOCAL : kind == ADDR_KIND_ASCII ? ADDR_KIND_UTF8_DOMAIN : kind;
    }
    return kind;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t room = data[0] + 8u; // sometimes less than the address needs
    int smtputf8 = data[0] & 1;
    std::string address = fuzz_text(data + 1, size - 1);
    const char *a = address.c_str();

    int kind = addr_classify(a);
    FUZZ_CHECK(kind == expected_kind(address));
    if (hdr_address_is_safe(a))
        FUZZ_CHECK(kind != ADDR_KIND_BAD);

    std::vector<char> out(room, '#');
    int got_kind = -1;
    char *r = addr_prepare_for_smtp(a, out.data(), out.size(), &got_kind, smtputf8);
    FUZZ_CHECK(got_kind == kind);
    if (!r) {
        for (char c : out)
            FUZZ_CHECK(c == '#');
        bool refusable = kind == ADDR_KIND_BAD || (kind == ADDR_KIND_UTF8_LOCAL && !smtputf8);
        if (!refusable && smtputf8) {
            // The only other reasons: it does not fit, or its domain has no
            // ASCII form.
            char domain[ADDR_BUF_SIZE];
            FUZZ_CHECK(address.size() >= room ||
                       !addr_idn_domain(address.c_str() + address.rfind('@') + 1, domain, sizeof domain));
        }
        return 0;
    }
    FUZZ_CHECK(r == out.data());
    FUZZ_CHECK(kind != ADDR_KIND_BAD && (kind != ADDR_KIND_UTF8_LOCAL || smtputf8));
    std::string prepared(out.data(), strnlen(out.data(), out.size()));
    FUZZ_CHECK(prepared.size() < out.size());
    if (smtputf8) {
        FUZZ_CHECK(prepared == address);
        return 0;
    }
    size_t at = address.rfind('@');
    FUZZ_CHECK(prepared.compare(0, at + 1, address, 0, at + 1) == 0);
    char domain[ADDR_BUF_SIZE];
    FUZZ_CHECK(addr_idn_domain(address.c_str() + at + 1, domain, sizeof domain) != nullptr);
    FUZZ_CHECK(prepared.substr(at + 1) == domain);
    for (unsigned char c : prepared)
        FUZZ_CHECK(c >= 0x20 && c < 0x7f);
    return 0;
}
