// MD5 (RFC 1321), HMAC-MD5 (RFC 2104) and the lower-case hexadecimal form
// of a digest, for the CRAM-MD5 response. Nothing allocates: the state and
// the pads live with the caller.
#pragma once

#include <cstddef>
#include <cstdint>

enum { MD5_DIGEST_LEN = 16, MD5_HEX_LEN = 32, MD5_BLOCK_LEN = 64 };

// The running context of one digest (88 bytes).
struct Md5State {
    uint32_t state[4];                 // A, B, C, D
    uint32_t count[2];                 // message bits hashed so far, low word first
    unsigned char buffer[MD5_BLOCK_LEN]; // bytes of the unfinished block
};

void md5_init(Md5State *st);
void md5_update(Md5State *st, const void *data, size_t len);
// Writes the 16-byte digest and wipes the whole state to zero.
void md5_final(unsigned char out[MD5_DIGEST_LEN], Md5State *st);
// Compresses one 64-byte block into the state words.
void md5_transform(Md5State *st, const unsigned char block[MD5_BLOCK_LEN]);
// One-shot digest; len < 0: data is a NUL-terminated text.
void md5_digest(unsigned char out[MD5_DIGEST_LEN], const void *data, ptrdiff_t len);
// HMAC-MD5 of the message under the key; a negative length means a
// NUL-terminated text. A key longer than 64 bytes is hashed first.
void hmac_md5(const void *msg, ptrdiff_t msg_len, const void *key, ptrdiff_t key_len,
              unsigned char out[MD5_DIGEST_LEN]);
// 32 lower-case hex digits and a NUL; returns out.
char *md5_digest_hex(char out[MD5_HEX_LEN + 1], const unsigned char digest[MD5_DIGEST_LEN]);
