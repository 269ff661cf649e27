// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104).
#include "support/md5.h"

#include <cstring>

namespace {

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

const uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
const int kS[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

void put_le32(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

} // namespace

void md5_init(Md5State *st)
{
    st->state[0] = 0x67452301;
    st->state[1] = 0xefcdab89;
    st->state[2] = 0x98badcfe;
    st->state[3] = 0x10325476;
    st->count[0] = st->count[1] = 0;
}

void md5_transform(uint32_t state[4], const unsigned char block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
               static_cast<uint32_t>(block[i * 4 + 2]) << 16 | static_cast<uint32_t>(block[i * 4 + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kT[i] + x[g], kS[i]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void md5_update(Md5State *st, const void *data, size_t len)
{
    const unsigned char *in = static_cast<const unsigned char *>(data);
    size_t have = (st->count[0] >> 3) & 63;
    uint64_t bits = (static_cast<uint64_t>(st->count[1]) << 32 | st->count[0]) + static_cast<uint64_t>(len) * 8;
    st->count[0] = static_cast<uint32_t>(bits);
    st->count[1] = static_cast<uint32_t>(bits >> 32);
    if (have) {
        size_t take = 64 - have;
        if (len < take) {
            memcpy(st->buffer + have, in, len);
            return;
        }
        memcpy(st->buffer + have, in, take);
        md5_transform(st->state, st->buffer);
        in += take;
        len -= take;
    }
    for (; len >= 64; in += 64, len -= 64)
        md5_transform(st->state, in);
    memcpy(st->buffer, in, len);
}

void md5_final(unsigned char out[16], Md5State *st)
{
    unsigned char length[8];
    put_le32(length, st->count[0]);
    put_le32(length + 4, st->count[1]);
    size_t have = (st->count[0] >> 3) & 63;
    static const unsigned char kPad[64] = {0x80};
    size_t pad = have < 56 ? 56 - have : 120 - have;
    md5_update(st, kPad, pad);
    md5_update(st, length, 8);
    for (int i = 0; i < 4; i++)
        put_le32(out + i * 4, st->state[i]);
    // The state may hold key material (HMAC): leave nothing behind.
    volatile unsigned char *p = reinterpret_cast<volatile unsigned char *>(st);
    for (size_t i = 0; i < sizeof *st; i++)
        p[i] = 0;
}

void md5_digest(unsigned char out[16], const void *data, ptrdiff_t len)
{
    Md5State st;
    md5_init(&st);
    md5_update(&st, data, len < 0 ? strlen(static_cast<const char *>(data)) : static_cast<size_t>(len));
    md5_final(out, &st);
}

void hmac_md5(const void *msg, ptrdiff_t msg_len, const void *key, ptrdiff_t key_len, unsigned char out[16])
{
    size_t klen = key_len < 0 ? strlen(static_cast<const char *>(key)) : static_cast<size_t>(key_len);
    size_t mlen = msg_len < 0 ? strlen(static_cast<const char *>(msg)) : static_cast<size_t>(msg_len);
    unsigned char k[64] = {0};
    if (klen > 64)
        md5_digest(k, key, static_cast<ptrdiff_t>(klen));
    else if (klen)
        memcpy(k, key, klen);
    unsigned char ipad[64], opad[64];
    for (int i = 0; i < 64; i++) {
        ipad[i] = k[i] ^ 0x36;
        opad[i] = k[i] ^ 0x5c;
    }
    unsigned char inner[16];
    Md5State st;
    md5_init(&st);
    md5_update(&st, ipad, 64);
    md5_update(&st, msg, mlen);
    md5_final(inner, &st);
    md5_init(&st);
    md5_update(&st, opad, 64);
    md5_update(&st, inner, 16);
    md5_final(out, &st);
    volatile unsigned char *wipe = k;
    for (int i = 0; i < 64; i++)
        wipe[i] = 0;
}

char *md5_digest_hex(char out[33], const unsigned char digest[16])
{
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 16; i++) {
        out[i * 2] = kHex[digest[i] >> 4];
        out[i * 2 + 1] = kHex[digest[i] & 15];
    }
    out[32] = '\0';
    return out;
}
