// The host-text parser of the server and proxy options.
#include "net/hostspec.h"
#include "support/num.h"
#include "support/str.h"

#include <cstdlib>
#include <cstring>

namespace {

char *copy_n(const char *text, size_t len)
{
    char *out = static_cast<char *>(malloc(len + 1));
    if (out) {
        memcpy(out, text, len);
        out[len] = 0;
    }
    return out;
}

// The port text after a ":": digits only, to its end, at most
// HOSTSPEC_PORT_MAX; else -1. Leading zeros count for nothing, so a long
// digit string cannot wrap into a small port.
int64_t read_port(const char *text)
{
    uint64_t n = 0;
    return num_parse_digits(text, HOSTSPEC_PORT_MAX, &n) == NUM_DIGITS_OK ? int64_t(n) : -1;
}

} // namespace

int ip_parse_host_spec(const char *text, char **host, uint32_t *port, char **user,
                       char **password, char delimiter)
{
    *host = *user = *password = nullptr;
    if (!text)
        return HOSTSPEC_NO_TEXT;

    const char *at = strrchr(text, '@');
    const char *host_part = at ? at + 1 : text;
    char *new_user = nullptr, *new_password = nullptr;
    if (at) {
        size_t user_len = static_cast<size_t>(at - text);
        const char *delim = static_cast<const char *>(memchr(text, delimiter, user_len));
        if (delim) {
            new_user = copy_n(text, static_cast<size_t>(delim - text));
            new_password = copy_n(delim + 1, static_cast<size_t>(at - delim - 1));
        } else {
            new_user = copy_n(text, user_len);
            new_password = copy_n("", 0);
        }
    } else {
        new_user = copy_n("", 0);
        new_password = copy_n("", 0);
    }
    if (!new_user || !new_password) {
        free(new_user);
        str_free_secret(new_password);
        return HOSTSPEC_NO_MEMORY;
    }

    int code = HOSTSPEC_OK;
    char *new_host = nullptr;
    int64_t new_port = -2; // -2: no port given
    if (host_part[0] == '[') {
        // The first "]" closes: an address holds none, and anything but
        // ":" and a port after it ("[::1]]:25") is refused, not taken into
        // the host.
        const char *close = strchr(host_part, ']');
        if (!close) {
            code = HOSTSPEC_NO_BRACKET;
        } else {
            new_host = copy_n(host_part + 1, static_cast<size_t>(close - host_part - 1));
            if (close[1] == ':') {
                new_port = read_port(close + 2);
                if (new_port < 0)
                    code = HOSTSPEC_BAD_PORT;
            } else if (close[1]) {
                code = HOSTSPEC_AFTER_BRACKET;
            }
        }
    } else {
        const char *colon = strchr(host_part, ':');
        size_t host_len = colon ? static_cast<size_t>(colon - host_part) : strlen(host_part);
        new_host = copy_n(host_part, host_len);
        if (colon) {
            new_port = read_port(colon + 1);
            if (new_port <= 0)
                code = HOSTSPEC_BAD_PORT;
        }
    }
    if (code == HOSTSPEC_OK && !new_host)
        code = HOSTSPEC_NO_MEMORY;
    if (code == HOSTSPEC_OK && !*new_host)
        code = HOSTSPEC_NO_HOST;
    // A password with no user name to go with it would be dropped (no
    // login) or sent for nobody; "user@" and "user:" are the forms that
    // give one without the other.
    if (code == HOSTSPEC_OK && !*new_user && *new_password)
        code = HOSTSPEC_NO_USER;
    if (code != HOSTSPEC_OK) {
        free(new_host);
        free(new_user);
        str_free_secret(new_password);
        return code;
    }
    *host = new_host;
    *user = new_user;
    *password = new_password;
    if (new_port >= 0)
        *port = static_cast<uint32_t>(new_port);
    return HOSTSPEC_OK;
}

int ip_parse_host_spec_colon(const char *text, char **host, uint32_t *port, char **user,
                             char **password)
{
    return ip_parse_host_spec(text, host, port, user, password, ':');
}

const char *ip_host_spec_reason(int code)
{
    switch (code) {
    case HOSTSPEC_OK: return "No error";
    case HOSTSPEC_NO_TEXT: return "No value given";
    case HOSTSPEC_NO_HOST: return "No host given";
    case HOSTSPEC_NO_BRACKET: return "The host begins with \"[\" and has no \"]\"";
    case HOSTSPEC_NO_MEMORY: return "Out of memory";
    case HOSTSPEC_BAD_PORT: return "The port is not a number from 1 to 65535";
    case HOSTSPEC_AFTER_BRACKET: return "Only \":\" and a port may follow the \"]\"";
    case HOSTSPEC_NO_USER: return "A password is given without a user name";
    default: return "The value does not parse";
    }
}
