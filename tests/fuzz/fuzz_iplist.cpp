// IP address tools: a range the access list takes formats to text that it
// takes again as the same range, and that text is canonical (formatting
// again gives it back); every address the parsers take lies in a range of
// its own family with prefix 0 and in its own full-length range, and never
// in a range of the other family.
#include "fuzz.h"
#include "net/iplist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text = fuzz_text(data, size);

    ListLink *head = nullptr;
    if (ip_acl_add(&head, text.c_str(), 7)) {
        const AclEntry *e = LIST_RECORD(head, AclEntry, link);
        FUZZ_CHECK(e->prefix <= 128 && (e->family == 4 || e->family == 6));
        char shown[IP_CIDR_TEXT_SIZE];
        ip_format_cidr(e, shown);
        FUZZ_CHECK(strlen(shown) < sizeof shown);
        ListLink *again = nullptr;
        FUZZ_CHECK(ip_acl_add(&again, shown, 7) == 1);
        const AclEntry *f = LIST_RECORD(again, AclEntry, link);
        FUZZ_CHECK(memcmp(e->address, f->address, 16) == 0);
        FUZZ_CHECK(e->prefix == f->prefix && e->family == f->family);
        char shown_again[IP_CIDR_TEXT_SIZE];
        FUZZ_CHECK(strcmp(ip_format_cidr(f, shown_again), shown) == 0);
        ip_acl_free(again);
    } else {
        FUZZ_CHECK(head == nullptr);
    }
    ip_acl_free(head);

    uint8_t address[16];
    int family = 0;
    int32_t value = -1;
    if (!ip_parse_address(text.c_str(), text.size(), address, &family)) {
        ListLink *all = nullptr;
        FUZZ_CHECK(ip_acl_add(&all, "::/0", 6) && ip_acl_add(&all, "0.0.0.0/0", 4));
        FUZZ_CHECK(ip_acl_match(all, text.c_str(), &value) == 0 && value == 0);
        ip_acl_free(all);
        return 0;
    }
    FUZZ_CHECK(family == 4 || family == 6);
    AclEntry own = {};
    memcpy(own.address, address, 16);
    own.family = static_cast<uint8_t>(family);
    own.prefix = family == 6 ? 128 : 32;
    char shown[IP_CIDR_TEXT_SIZE];
    ip_format_cidr(&own, shown);

    ListLink *acl = nullptr;
    FUZZ_CHECK(ip_acl_add(&acl, family == 6 ? "0.0.0.0/0" : "::/0", 1));
    FUZZ_CHECK(ip_acl_match(acl, text.c_str(), &value) == 0 && value == 0);
    FUZZ_CHECK(ip_acl_add(&acl, family == 6 ? "::/0" : "0.0.0.0/0", 2));
    FUZZ_CHECK(ip_acl_match(acl, text.c_str(), &value) == 1 && value == 2);
    FUZZ_CHECK(ip_acl_add(&acl, shown, 3));
    FUZZ_CHECK(ip_acl_match(acl, text.c_str(), &value) == 1 && value == 3);
    ip_acl_free(acl);
    return 0;
}
