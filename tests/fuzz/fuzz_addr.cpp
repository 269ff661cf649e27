// Addresses: the classification follows its rule byte by byte (no control
// byte, no C1 control, no U+2028 or U+2029), and the preparation for the
// envelope agrees with it: it refuses exactly the bad kinds (and a
// non-ASCII local part without SMTPUTF8), keeps the local part, writes the
// domain as the IDN conversion does, fits its buffer and leaves the buffer
// untouched when it refuses; a non-ASCII domain goes as its A-label, with
// SMTPUTF8 too, and an ASCII one as written with SMTPUTF8. The header form
// keeps the local part and shows the domain in its one mapped form (the
// U-labels with SMTPUTF8). An address the header writer takes as safe is
// never a bad one. The domain follows the last "@" (a quoted local part may
// hold one).
#include <vector>

#include "fuzz.h"
#include "mail/addr.h"
#include "mail/check.h"
#include "mail/writer.h"
#include "support/str.h"

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

    size_t at = address.rfind('@');
    const std::string local = at == std::string::npos ? "" : address.substr(0, at + 1);
    const char *domain_in = at == std::string::npos ? "" : a + at + 1;
    const bool ascii_domain = str_is_ascii(domain_in);
    char domain[ADDR_BUF_SIZE];
    const bool has_domain = addr_idn_domain(domain_in, domain, sizeof domain) != nullptr;

    // The header form: the local part as it is, the domain mapped.
    std::vector<char> shown(ADDR_SHOWN_BUF_SIZE, '#');
    char *h = addr_prepare_for_header(a, shown.data(), shown.size(), smtputf8);
    FUZZ_CHECK((h != nullptr) == (kind != ADDR_KIND_BAD && has_domain));
    if (h) {
        std::string text = h;
        FUZZ_CHECK(text.compare(0, local.size(), local) == 0);
        char unicode[ADDR_SHOWN_BUF_SIZE];
        FUZZ_CHECK(addr_idn_unicode(domain_in, unicode, sizeof unicode) == ADDR_IDN_OK);
        const std::string want = smtputf8 ? (ascii_domain ? std::string(domain_in) : std::string(unicode)) : domain;
        FUZZ_CHECK(text.substr(local.size()) == want);
    }

    std::vector<char> out(room, '#');
    int got_kind = -1;
    char *r = addr_prepare_for_smtp(a, out.data(), out.size(), &got_kind, smtputf8);
    FUZZ_CHECK(got_kind == kind);
    if (!r) {
        for (char c : out)
            FUZZ_CHECK(c == '#');
        bool refusable = kind == ADDR_KIND_BAD || (kind == ADDR_KIND_UTF8_LOCAL && !smtputf8);
        if (!refusable) {
            // The only other reasons: it does not fit, or its domain has no
            // ASCII form.
            size_t whole = local.size() + (smtputf8 && ascii_domain ? strlen(domain_in) : strlen(domain));
            FUZZ_CHECK(!has_domain || whole >= room || whole >= ADDR_BUF_SIZE);
        }
        return 0;
    }
    FUZZ_CHECK(r == out.data());
    FUZZ_CHECK(kind != ADDR_KIND_BAD && (kind != ADDR_KIND_UTF8_LOCAL || smtputf8));
    std::string prepared(out.data(), strnlen(out.data(), out.size()));
    FUZZ_CHECK(prepared.size() < out.size());
    FUZZ_CHECK(has_domain);
    FUZZ_CHECK(prepared.compare(0, local.size(), local) == 0);
    if (smtputf8 && ascii_domain) {
        FUZZ_CHECK(prepared == address);
        return 0;
    }
    FUZZ_CHECK(prepared.substr(local.size()) == domain);
    for (size_t i = local.size(); i < prepared.size(); i++)
        FUZZ_CHECK(prepared[i] >= 0x20 && prepared[i] < 0x7f);
    // A mapped domain is letters, digits and inner hyphens.
    if (!ascii_domain && domain[0] != '[')
        FUZZ_CHECK(fuzz_every_label(prepared, local.size(), text_is_ldh_label));
    if (!smtputf8)
        for (unsigned char c : prepared)
            FUZZ_CHECK(c >= 0x20 && c < 0x7f);
    return 0;
}
