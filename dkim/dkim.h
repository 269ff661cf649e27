// DKIM signing (RFC 6376, with the Ed25519 method of RFC 8463): the
// process-wide registry of private keys per signing domain, and the signer
// that makes one DKIM-Signature header field for a message rendered into
// memory. Only the full program links this library (it needs libcrypto).
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/avl.h"
#include "support/linklist.h"

// The words of every failure of this library for lack of memory ("out of
// memory"): *why then points at this very text, so that a caller tells
// memory exhaustion from the other failures by the pointer.
extern const char dkim_error_nomem[];

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
// field as they are: an internationalised domain is given in its ASCII
// form, "xn--" labels); domains compare without regard to ASCII case.
// The domain's entry, or NULL with *why saying why (the registry is then
// unchanged, except that a new domain whose first key ran out of memory
// stays with no keys; *why is then dkim_error_nomem).
DkimKeyDomain *dkim_keys_add(AvlNode **root, const char *domain, const char *selector,
                             const char *pem, const char **why);
DkimKeyDomain *dkim_keys_find_domain(AvlNode *root, const char *domain);
// The order of the registry's tree: a domain text against a node's domain,
// and two nodes' domains, without regard to ASCII case (str_casecmp).
int dkim_cmp_name_node(const char *domain, const AvlNode *node);
int dkim_cmp_nodes(const AvlNode *a, const AvlNode *b);
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

// What one piece of text is, for dkim_hash_header and dkim_canon_relaxed.
enum {
    DKIM_HASH_FIELD = 0,    // one signed header field, without its line end
    DKIM_HASH_BODY = 1,     // the body
    DKIM_HASH_UNSIGNED = 2, // the DKIM-Signature field with an empty b=
};

// Header fields one signature covers at most: a generated header holds a
// handful of the signed names.
enum { DKIM_SIGNED_MAX = 100 };

// A signed header field inside the message: its first line's start, its
// length up to the end of its last line (without the line end), and the
// length of its name as written.
struct DkimSignedField {
    const char *start;
    size_t len;
    size_t name_len;
};

// One signing context: the state of one DKIM-Signature field over one
// rendered message, which it borrows. Owned by the caller; the digest
// contexts and the signature belong to it until dkim_ctx_clear.
struct evp_md_ctx_st;
struct DkimContext {
    int canon;                           // DKIM_CANON_*
    int alg;                             // DKIM_ALG_*
    const char *alg_name;                // the a= text
    evp_md_ctx_st *header_md;            // the signed fields, then the unsigned field
    evp_md_ctx_st *body_md;              // the canonical body
    unsigned char body_hash[64];         // the finished body digest
    unsigned body_hash_len;              // 20 (SHA-1) or 32 (SHA-256)
    const char *message;                 // the rendered message
    const char *body;                    // its body, after the blank line
    unsigned char *signature;            // made by dkim_make_signature
    size_t signature_len;
    size_t header_len;                   // every header line with its CR LF
    size_t body_len;
    size_t signed_count;                 // entries of signed_fields
    DkimSignedField signed_fields[DKIM_SIGNED_MAX]; // in message order
};

// Zeroes the context, makes both digest contexts (canon 1) and stores the
// message: its header block of header_len bytes at message, and the body
// of body_len bytes at body. 1, or 0 when memory ran out (the context must
// then still be cleared).
int dkim_ctx_init(DkimContext *ctx, const char *message, size_t header_len, const char *body, size_t body_len);
// Frees the signature and both digest contexts and forgets the message.
// The context may be initialised again. Returns 1.
int dkim_ctx_clear(DkimContext *ctx);

// Makes one complete DKIM-Signature field, ending in ";" CR LF, as a new
// heap text in *field (the caller frees it), for the message of an
// initialised context: signed with the newest key of domain d that fits
// alg, under canonicalisation canon, with the time stamp (t=) t. Returns
// 1; 0 with *why NULL when d has no key that fits alg (or alg or canon is
// unknown); 0 with *why saying why when the header block is malformed,
// memory ran out (dkim_error_nomem) or the signature failed.
int dkim_sign(DkimContext *ctx, int canon, int alg, const DkimKeyDomain *d, int64_t t, char **field,
              const char **why);

// The steps of dkim_sign, each on a context whose canon, alg and digests
// dkim_sign has set up. 1 on success; 0 with *why (when given) saying why.
// Canonicalises the body into the body digest and finishes it into
// body_hash.
int dkim_hash_body(DkimContext *ctx, const char **why);
// Chooses the signed header fields into signed_fields and hashes them into
// the header digest, repeated names from the bottom up (the order in which
// verifiers take them). 0 with "Malformed header" for a header line that
// is no field or more than DKIM_SIGNED_MAX signed fields.
int dkim_hash_signed_headers(DkimContext *ctx, const char **why);
// Hashes one piece (DKIM_HASH_*) as the canonicalisation says: blanks and
// line ends trimmed from its end, then the simple form (a field and the
// body get one CR LF) or the relaxed one. 0 when memory ran out.
int dkim_hash_header(DkimContext *ctx, int mode, const char *text, size_t len);
// The relaxed rule for one piece: a header field (unfolded, name in lower
// case, runs of blanks one SP, none around the colon or at the end; a
// signed field ends in CR LF, the unsigned one does not) into the header
// digest, or the body (runs of blanks one SP, none at line ends) into the
// body digest. Nothing is copied but one header field. 0 when memory ran
// out.
int dkim_canon_relaxed(DkimContext *ctx, int mode, const char *text, size_t len);
// Hashes the unsigned field (len bytes, ending in "b=;") and signs the
// header digest with the PEM key: the signature into signature and
// signature_len. 1, or 0 with *why.
int dkim_make_signature(DkimContext *ctx, const char *field, size_t len, const char *pem, const char **why);
// A new NUL-terminated copy of a header field without its CR and LF bytes
// and without the blanks right after its first ":"; *len is its length on
// entry and the copy's on return. NULL when memory ran out.
char *dkim_unfold_after_colon(const char *text, size_t *len);
