// The one door for text that goes raw into a header line or an SMTP
// command: addresses, display names, header-field names and values, the
// X-Mailer text, Message-ID, Content-ID, MIME type, charset, HELO name, DSN
// ENVID, boundaries. CR, LF, NUL and every other control byte (and DEL) are
// refused there, so no option can smuggle a second header line or command.
#pragma once

#include <cstddef>

enum {
    TEXT_NO_TAB = 0,    // TAB refused too (addresses, names of things)
    TEXT_ALLOW_TAB = 1, // TAB allowed (header values, display names)
};

// 1 when text (NUL-terminated) holds no control byte, TAB allowed only with
// TEXT_ALLOW_TAB; 0 otherwise. With TEXT_NO_TAB (addresses and names of
// things, which go raw onto the wire) the C1 controls U+0080 to U+009F
// and the separators U+2028 and U+2029 are refused like control bytes as
// well. A NULL text counts as clean.
int text_is_clean(const char *text, int tab_rule);

// The same over exactly len bytes (a NUL among them is refused).
int text_is_clean_n(const char *text, size_t len, int tab_rule);

// 1 when text is one or more visible ASCII characters (33 to 126), with ":"
// allowed only when colon_allowed: without it the rule of a header-field
// name, with it the rule of an SMTP parameter value such as the ENVID.
int text_is_visible_ascii(const char *text, int colon_allowed);

// 1 when the len bytes are one label of a host name (RFC 1123): letters,
// digits and inner hyphens, 1 to 63 of them; else 0. What an IDN mapping
// gives must be such labels: a mapped comma, "@" or ">" would end the
// address or the command it stands in.
int text_is_ldh_label(const char *label, size_t len);

// The longest EHLO name taken (RFC 5321 caps a domain at 255 bytes).
enum { HELO_NAME_MAX = 255 };

// 1 when text is one word that EHLO may give (RFC 5321): a domain of
// letters, digits and hyphens in dot-separated labels (none empty, none
// beginning or ending with a hyphen, none over 63 bytes), or an address
// literal ("[192.0.2.1]", "[IPv6:2001:db8::1]", "[tag:content]"); else 0.
int text_is_helo_name(const char *text);
