// Host texts: on success the parts put together give the text back (user,
// the delimiter and password when there were any, "@", the host, bracketed
// or not, ":" and the port's digits, which are the port given), the host is
// not empty and holds no "@" (nor "]" when bracketed), the user no
// delimiter, a password comes with a user, the port is at most 65535; on
// failure nothing is handed out, the port is untouched and there is a
// reason to show.
#include "fuzz.h"
#include "net/hostspec.h"
#include "support/str.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    char delimiter = static_cast<char>(data[0]);
    std::string text = fuzz_text(data + 1, size - 1);

    // Parsed twice with different port values before: a port left as it
    // was keeps both.
    char *host = nullptr, *user = nullptr, *password = nullptr;
    uint32_t port = 0, other = 1;
    int rc = ip_parse_host_spec(text.c_str(), &host, &port, &user, &password, delimiter);
    char *h2 = nullptr, *u2 = nullptr, *p2 = nullptr;
    FUZZ_CHECK(ip_parse_host_spec(text.c_str(), &h2, &other, &u2, &p2, delimiter) == rc);
    free(h2);
    free(u2);
    str_free_secret(p2);
    const bool port_set = !(port == 0 && other == 1);
    FUZZ_CHECK(!port_set || port == other);
    if (rc != HOSTSPEC_OK) {
        FUZZ_CHECK(!host && !user && !password && !port_set);
        FUZZ_CHECK(rc == HOSTSPEC_NO_HOST || rc == HOSTSPEC_NO_BRACKET || rc == HOSTSPEC_BAD_PORT ||
                   rc == HOSTSPEC_AFTER_BRACKET || rc == HOSTSPEC_NO_USER);
        FUZZ_CHECK(*ip_host_spec_reason(rc));
        return 0;
    }
    FUZZ_CHECK(host && user && password);
    std::string h = host, u = user, p = password;
    free(host);
    free(user);
    str_free_secret(password);

    FUZZ_CHECK(!h.empty());
    FUZZ_CHECK(h.find('@') == std::string::npos);
    FUZZ_CHECK(!u.empty() || p.empty());
    FUZZ_CHECK(delimiter == 0 || u.find(delimiter) == std::string::npos);
    size_t at = text.rfind('@');
    if (at == std::string::npos) {
        FUZZ_CHECK(u.empty() && p.empty());
    } else {
        std::string who = text.substr(0, at);
        FUZZ_CHECK(who == u || who == u + delimiter + p);
    }
    std::string rest = text.substr(at == std::string::npos ? 0 : at + 1);
    bool bracketed = !rest.empty() && rest[0] == '[';
    FUZZ_CHECK(!bracketed || h.find(']') == std::string::npos);
    std::string shown = bracketed ? "[" + h + "]" : h;
    FUZZ_CHECK(rest.compare(0, shown.size(), shown) == 0);
    // Nothing follows the host but ":" and the port's digits, which give
    // the port handed out.
    std::string after = rest.substr(shown.size());
    FUZZ_CHECK(after.empty() == !port_set);
    if (port_set) {
        FUZZ_CHECK(after[0] == ':' && after.size() > 1);
        uint64_t n = 0;
        for (size_t i = 1; i < after.size(); i++) {
            FUZZ_CHECK(after[i] >= '0' && after[i] <= '9');
            n = n * 10 + static_cast<uint64_t>(after[i] - '0');
            FUZZ_CHECK(n <= HOSTSPEC_PORT_MAX);
        }
        FUZZ_CHECK(n == port);
        FUZZ_CHECK(bracketed || port > 0);
    }
    return 0;
}
