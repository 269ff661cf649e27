// Address classification, IDN conversion of domains (IDNA mapping, then
// "xn--" + Punycode) and the preparation of an address for the envelope and the
// header fields.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    ADDR_KIND_BAD = 0,         // empty, too long, no "@", or control bytes
    ADDR_KIND_ASCII = 1,       // printable ASCII throughout
    ADDR_KIND_UTF8_DOMAIN = 2, // ASCII local part, non-ASCII domain
    ADDR_KIND_UTF8_LOCAL = 3,  // non-ASCII local part: needs SMTPUTF8
};

enum {
    ADDR_MAX = 254,      // longest address accepted
    ADDR_BUF_SIZE = 256, // the buffers of prepared addresses and domains
    // An address as a header shows it with SMTPUTF8: its local part, "@",
    // and the Unicode form of a domain, at most four bytes of UTF-8 for
    // each byte of the domain's ASCII form.
    ADDR_SHOWN_BUF_SIZE = ADDR_BUF_SIZE + 4 * ADDR_BUF_SIZE,
};

enum {
    PUNY_SUCCESS = 0,
    PUNY_BAD_INPUT = 1,
    PUNY_BIG_OUTPUT = 2,
    PUNY_OVERFLOW = 3,
};

// The kind of an address by its bytes (not its grammar): local part is what
// comes before the first "@". NULL, empty, longer than ADDR_MAX, without
// "@" or holding a control byte (below 0x20, DEL) is ADDR_KIND_BAD.
int addr_classify(const char *address);

enum {
    ADDR_IDN_OK = 0,
    ADDR_IDN_INVALID = 1,         // a label IDNA refuses (also an "xn--" label that is no valid A-label)
    ADDR_IDN_BAD_BYTES = 2,       // a label that is not UTF-8 or holds a control byte
    ADDR_IDN_LABEL_TOO_LONG = 3,  // a label over 63 bytes in its ASCII form
    ADDR_IDN_DOMAIN_TOO_LONG = 4, // the ASCII form over 253 bytes
    ADDR_IDN_NO_ROOM = 5,         // the result does not fit in the output
    ADDR_IDN_NOMEM = 6,           // memory ran out
    ADDR_IDN_NOT_LDH = 7,         // a label maps to more than letters, digits and inner hyphens
};

// The ASCII form of a domain, into out of size bytes (ADDR_IDN_* status).
// A domain of printable ASCII keeps its bytes, letter case included; each
// "xn--" label in it must be a valid A-label. A domain that holds a
// non-ASCII label is mapped as IDNA maps it (UTS #46 nontransitional
// processing: case folding, NFC, then "xn--" + Punycode, with the STD3
// rules), every label of it; each label it gives must be letters, digits
// and inner hyphens (ADDR_IDN_NOT_LDH), so no full-width comma, "@" or ">"
// comes out as its ASCII twin. An address literal ("[...]") is kept as it
// is. Empty labels (leading, trailing, doubled full stops) vanish. On
// failure out holds the labels before the failing one.
int addr_idn_convert(const char *domain, char *out, size_t size);
// The Unicode form of the same domain, into out of size bytes: each
// "xn--" label of the ASCII form decoded (so NFC, lower case, full stops
// between labels: the U-labels of the mapping). A domain of ASCII bytes
// comes out as addr_idn_convert gives it. Fails as addr_idn_convert does,
// or with ADDR_IDN_NO_ROOM; on failure out holds whole labels only.
int addr_idn_unicode(const char *domain, char *out, size_t size);
// The same as out, or NULL on any failure.
char *addr_idn_domain(const char *domain, char *out, size_t size);
// A static text saying what an ADDR_IDN_* status means, for messages.
const char *addr_idn_reason(int status);

// The address as it may go into the envelope: the local part as it is,
// "@", and the domain's ASCII form (addr_idn_convert), with or without
// SMTPUTF8; with SMTPUTF8 an ASCII domain goes as written. NULL, with out
// untouched, when the address is bad (ADDR_KIND_BAD), needs SMTPUTF8 that
// is not in force (kind ADDR_KIND_UTF8_LOCAL), or its domain cannot be
// converted or the result does not fit in size bytes (or in ADDR_BUF_SIZE).
// kind, when given, receives the classification in every case, so a caller
// can tell "SMTPUTF8 required" from the rest.
char *addr_prepare_for_smtp(const char *address, char *out, size_t size, int *kind, int smtputf8);
// The address as a header field shows it: as addr_prepare_for_smtp gives
// it, except that with SMTPUTF8 a non-ASCII domain is shown in its Unicode
// form (addr_idn_unicode), and that a non-ASCII local part is kept either
// way (a message that shows one goes to a server only with SMTPUTF8, which
// the caller sees to). NULL, with out untouched, when the address is bad,
// its domain cannot be converted or the result does not fit in size bytes
// (ADDR_SHOWN_BUF_SIZE holds every one).
char *addr_prepare_for_header(const char *address, char *out, size_t size, int smtputf8);

// RFC 3492 coder (PUNY_* status). *output_length is the capacity on entry
// (bytes for the encoder, code points for the decoder) and the count written
// on success; nothing is ever written past the capacity, the output is not
// terminated. case_flags may be NULL (no mixed-case annotation).
int addr_punycode_encode(uint64_t input_length, const uint32_t input[], const unsigned char case_flags[],
                         uint64_t *output_length, char output[]);
int addr_punycode_decode(uint64_t input_length, const char input[], uint64_t *output_length,
                         uint32_t output[], unsigned char case_flags[]);
