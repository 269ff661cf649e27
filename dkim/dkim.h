// DKIM signing (RFC 6376, with the Ed25519 method of RFC 8463): the
// process-wide registry of private keys per signing domain, and the signer
// that makes one DKIM-Signature header field for a message rendered into
// memory. Only the full program links this library (it needs libcrypto).
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/avl.h"
#include "support/list.h"

// ---- key registry ------------------------------------------------------------

enum { DKIM_KEY_RSA = 1, DKIM_KEY_ED25519 = 2 };

// Caps of the texts a key is registered under, and of the key itself: the
// largest RSA key whose signature still fits a header field of sane size.
enum {
    DKIM_DOMAIN_MAX = 253,
    DKIM_SELECTOR_MAX = 63,
    DKIM_KEY_TEXT_MAX = 64 * 1024,
    DKIM_SIGNATURE_MAX = 1024, // bytes of one signature (RSA up to 8192 bits)
};

// One registered key; a domain's keys are kept newest first.
struct DkimKeySelector {
    char *selector; // s= text
    char *key_pem;  // the key file's text
    uint8_t key_type;
    ListLink link;
};

// One signing domain: its text as first registered (the d= text) and its keys.
struct DkimKeyDomain {
    char *domain;
    ListLink *selectors; // newest entry's link
    AvlNode node;
};

// The process-wide registry root (NULL: empty), filled by the front end.
extern AvlNode *dkim_keys_root;

// Checks pem (a PEM private key, RSA or Ed25519, not encrypted) and adds it
// under domain and selector (ASCII DNS names, which go into the signature
// field as they are); domains compare without regard to ASCII case.
// The domain's entry, or NULL with *why saying why (the registry is then
// unchanged, except that a new domain whose first key ran out of memory
// stays with no keys).
DkimKeyDomain *dkim_keys_add(AvlNode **root, const char *domain, const char *selector,
                             const char *pem, const char **why);
DkimKeyDomain *dkim_keys_find_domain(AvlNode *root, const char *domain);
// Frees every domain with its keys; *root becomes NULL.
void dkim_keys_free(AvlNode **root);
// The newest key of the domain that fits alg (DKIM_ALG_*), or NULL.
const DkimKeySelector *dkim_key_for(const DkimKeyDomain *d, int alg);
// The private key of a PEM text, read without any pass phrase; NULL when
// it is none. Free it with EVP_PKEY_free.
struct evp_pkey_st;
evp_pkey_st *dkim_key_read(const char *pem);
// The key type of a PEM text (DKIM_KEY_*), or 0 with *why.
int dkim_key_type(const char *pem, const char **why);

// ---- signer --------------------------------------------------------------------

enum {
    DKIM_CANON_SIMPLE_SIMPLE = 1,
    DKIM_CANON_SIMPLE_RELAXED = 2,
    DKIM_CANON_RELAXED_RELAXED = 4,
    DKIM_CANON_RELAXED_SIMPLE = 8,
};

enum {
    DKIM_ALG_RSA_SHA1 = 1,
    DKIM_ALG_RSA_SHA256 = 2,
    DKIM_ALG_ED25519_SHA256 = 4,
};

// The key type an algorithm needs (DKIM_KEY_*), 0 for an unknown code.
int dkim_alg_key_type(int alg);
// The c= tag text of a canonicalisation (" c=simple/relaxed;"; empty for
// simple/simple, the default, and for unknown codes).
const char *dkim_canon_tag(int canon);

// Receives canonical text piece by piece (a digest, or a test's string).
typedef void (*DkimFeedFn)(void *user, const char *data, size_t len);

// Canonicalisation of one header field (name, colon, value with its folds,
// without the final line end); a CR LF follows when with_crlf.
void dkim_canon_header(int relaxed, const char *field, size_t len, int with_crlf, DkimFeedFn feed,
                       void *user);
// Canonicalisation of the whole body (the text after the blank line that
// ends the header block). Nothing is copied: the canonical text is fed in
// pieces, so memory does not grow with the body.
void dkim_canon_body(int relaxed, const char *body, size_t len, DkimFeedFn feed, void *user);

// The signing input of one message: the rendered text, the length of its
// header block (every header line with its CR LF, not the blank line) and
// of the whole text; the body starts after the blank line.
struct DkimMessage {
    const char *text;
    size_t header_len;
    size_t len;
};

// Makes one complete DKIM-Signature field, ending in CR LF, as a new heap
// text in *field (the caller frees it), signed with the newest key of
// domain d that fits alg; the time stamp (t=) is t. Returns 1; 0 with *why
// NULL when d has no key that fits alg (or alg or canon is unknown); 0
// with *why saying why when the header block is malformed, memory ran out
// or the signature failed. No exception leaves it.
int dkim_sign(const DkimMessage *m, int canon, int alg, const DkimKeyDomain *d, int64_t t,
              char **field, const char **why);
