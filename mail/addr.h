// Address classification, IDN conversion of domains ("xn--" + Punycode,
// RFC 3492) and the preparation of an address for the envelope and the
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
    ADDR_MAX = 254,     // longest address accepted
    ADDR_BUF_SIZE = 256 // the buffers of prepared addresses and domains
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

// The domain with every non-ASCII label written as "xn--" + Punycode, into
// out of size bytes. NULL when a label is not well-formed UTF-8 or holds a
// control byte, or when the result does not fit (out then holds the labels
// before the failing one).
char *addr_idn_domain(const char *domain, char *out, size_t size);

// The address as it may go out: unchanged with SMTPUTF8, else with its
// domain converted. NULL, with out untouched, when the address is bad
// (ADDR_KIND_BAD), needs SMTPUTF8 that is not in force (kind
// ADDR_KIND_UTF8_LOCAL), or its domain cannot be converted or the result
// does not fit in size bytes. kind, when given, receives the classification
// in every case, so a caller can tell "SMTPUTF8 required" from the rest.
char *addr_prepare_for_smtp(const char *address, char *out, size_t size, int *kind, int smtputf8);

// RFC 3492 coder (PUNY_* status). *output_length is the capacity on entry
// (bytes for the encoder, code points for the decoder) and the count written
// on success; nothing is ever written past the capacity, the output is not
// terminated. case_flags may be NULL (no mixed-case annotation).
int addr_punycode_encode(uint64_t input_length, const uint32_t input[], const unsigned char case_flags[],
                         uint64_t *output_length, char output[]);
int addr_punycode_decode(uint64_t input_length, const char input[], uint64_t *output_length,
                         uint32_t output[], unsigned char case_flags[]);
