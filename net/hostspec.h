// Host specifications: "[user[<delimiter>password]@]host[:port]", the host
// written plainly or as "[address]" (IPv6 literals). The option handlers of
// the server (-host:) and the proxy (-proxy:) take their values apart here.
#pragma once

#include <cstdint>

// Result codes of the parsers.
enum {
    HOSTSPEC_OK = 0,
    HOSTSPEC_NO_TEXT = 1,       // no text given
    HOSTSPEC_NO_HOST = 2,       // the host is empty
    HOSTSPEC_NO_BRACKET = 3,    // the host begins with "[" and holds no "]"
    HOSTSPEC_NO_MEMORY = 4,     // no memory for a copy (host, user or password)
    HOSTSPEC_BAD_PORT = 5,      // a port text that is not a number the host may take
    HOSTSPEC_AFTER_BRACKET = 6, // something other than ":" and a port after the "]"
    HOSTSPEC_NO_USER = 7,       // a password without a user name (":pw@host")
};

enum { HOSTSPEC_PORT_MAX = 65535 };

// Splits text. The last "@" ends the user part, so a user name may itself
// be an e-mail address; the first delimiter in the user part separates the
// password, which keeps any further delimiters; a password needs a user
// name. A bracketed host ends at the first "]". On HOSTSPEC_OK *host (never
// empty), *user and *password are heap texts the caller frees (user and
// password empty when absent) and *port is written only when a port is
// present. A port text is decimal digits only, at most HOSTSPEC_PORT_MAX,
// and not 0 after an unbracketed host (a bracketed host takes 0, which
// leaves the choice of port to the caller); anything else after the ":"
// ("25x", "", "-1", "655350") is HOSTSPEC_BAD_PORT, not a port read up to
// its first non-digit. On any other code *host, *user and *password are
// NULL and *port is untouched: nothing is handed out.
int ip_parse_host_spec(const char *text, char **host, uint32_t *port, char **user,
                       char **password, char delimiter);

// The same with ":" as the delimiter between user and password.
int ip_parse_host_spec_colon(const char *text, char **host, uint32_t *port, char **user,
                             char **password);

// Why a text did not parse, as a sentence for a message that names the
// option ("The port is not a number from 1 to 65535"); it never quotes the
// text, which may hold a password.
const char *ip_host_spec_reason(int code);
