// Host texts: on success the parts put together give the text back (user,
// the delimiter and password when there were any, "@", the host, bracketed
// or not, ":" and the port text), the host holds no "@" and the user no
// delimiter; on failure nothing is handed out and the port is untouched.
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
        FUZZ_CHECK(rc == HOSTSPEC_NO_BRACKET || rc == HOSTSPEC_BAD_PORT);
        return 0;
    }
    FUZZ_CHECK(host && user && password);
    std::string h = host, u = user, p = password;
    free(host);
    free(user);
    str_free_secret(password);

    FUZZ_CHECK(h.find('@') == std::string::npos);
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
    std::string shown = bracketed ? "[" + h + "]" : h;
    FUZZ_CHECK(rest.compare(0, shown.size(), shown) == 0);
    std::string after = rest.substr(shown.size());
    if (!bracketed || (!after.empty() && after[0] == ':')) {
        // A port text follows exactly when a colon does.
        FUZZ_CHECK(after.empty() == !port_set);
    } else {
        FUZZ_CHECK(!port_set); // text after "]" that is no port is ignored
    }
    if (port_set)
        FUZZ_CHECK(bracketed || port > 0);
    return 0;
}
