// MD5 (RFC 1321), HMAC-MD5 (RFC 2104) and the hexadecimal digest text.
#pragma once

#include <cstddef>
#include <cstdint>

struct Md5State {
    uint32_t state[4];  // A, B, C, D
    uint32_t count[2];  // message bits, low word first
    unsigned char buffer[64];
};

void md5_init(Md5State *st);
void md5_update(Md5State *st, const void *data, size_t len);
// Writes the digest and wipes the state.
void md5_final(unsigned char out[16], Md5State *st);
void md5_transform(uint32_t state[4], const unsigned char block[64]);
// len < 0: data is a NUL-terminated text.
void md5_digest(unsigned char out[16], const void *data, ptrdiff_t len);
void hmac_md5(const void *msg, ptrdiff_t msg_len, const void *key, ptrdiff_t key_len,
              unsigned char out[16]);
// 32 lower-case hex digits and a NUL; returns out.
char *md5_digest_hex(char out[33], const unsigned char digest[16]);
