// Host specifications: "[user[<delimiter>password]@]host[:port]", the host
// written plainly or as "[address]" (IPv6 literals). The option handlers of
// the server (-host:) and the proxy (-proxy:) take their values apart here.
#pragma once

#include <cstdint>

// Result codes of the parsers.
enum {
    HOSTSPEC_OK = 0,
    HOSTSPEC_NO_TEXT = 1,    // no text given
    HOSTSPEC_NO_BRACKET = 3, // the host begins with "[" and holds no "]"
    HOSTSPEC_NO_MEMORY = 4,  // no memory for a copy (host, user or password)
    HOSTSPEC_BAD_PORT = 5,   // a port that reads as negative, or as 0 after an unbracketed host
};

// Splits text. The last "@" ends the user part, so a user name may itself
// be an e-mail address; the first delimiter in the user part separates the
// password, which keeps any further delimiters. On HOSTSPEC_OK *host, *user
// and *password are heap texts the caller frees (user and password empty
// when absent) and *port is written only when a port is present: a decimal
// number read up to its first non-digit, saturated at UINT32_MAX so that a
// long digit string cannot wrap into a small port (the range check is the
// caller's). A bracketed host takes any port that is not negative, 0
// included. On any other code *host, *user and *password are NULL and
// *port is untouched: nothing is handed out.
int ip_parse_host_spec(const char *text, char **host, uint32_t *port, char **user,
                       char **password, char delimiter);

// The same with ":" as the delimiter between user and password.
int ip_parse_host_spec_colon(const char *text, char **host, uint32_t *port, char **user,
                             char **password);
