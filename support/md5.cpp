// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104): the compression is written out
// round by round, and long inputs are compressed straight from the caller's
// bytes; only an unfinished block goes through the state's buffer.
#include "support/md5.h"

#include <cstring>

#include "support/hex.h"
#include "support/str.h"

namespace {

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t le32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline void put_le32(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline uint32_t f_f(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t f_g(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t f_h(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t f_i(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

#define MD5_STEP(f, a, b, c, d, x, t, s)                                                                    \
    do {                                                                                                   \
        a += f(b, c, d) + (x) + (t);                                                                       \
        a = rotl(a, s) + b;                                                                                \
    } while (0)

void compress(uint32_t state[4], const unsigned char *block)
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = le32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    MD5_STEP(f_f, a, b, c, d, x[0], 0xd76aa478, 7);
    MD5_STEP(f_f, d, a, b, c, x[1], 0xe8c7b756, 12);
    MD5_STEP(f_f, c, d, a, b, x[2], 0x242070db, 17);
    MD5_STEP(f_f, b, c, d, a, x[3], 0xc1bdceee, 22);
    MD5_STEP(f_f, a, b, c, d, x[4], 0xf57c0faf, 7);
    MD5_STEP(f_f, d, a, b, c, x[5], 0x4787c62a, 12);
    MD5_STEP(f_f, c, d, a, b, x[6], 0xa8304613, 17);
    MD5_STEP(f_f, b, c, d, a, x[7], 0xfd469501, 22);
    MD5_STEP(f_f, a, b, c, d, x[8], 0x698098d8, 7);
    MD5_STEP(f_f, d, a, b, c, x[9], 0x8b44f7af, 12);
    MD5_STEP(f_f, c, d, a, b, x[10], 0xffff5bb1, 17);
    MD5_STEP(f_f, b, c, d, a, x[11], 0x895cd7be, 22);
    MD5_STEP(f_f, a, b, c, d, x[12], 0x6b901122, 7);
    MD5_STEP(f_f, d, a, b, c, x[13], 0xfd987193, 12);
    MD5_STEP(f_f, c, d, a, b, x[14], 0xa679438e, 17);
    MD5_STEP(f_f, b, c, d, a, x[15], 0x49b40821, 22);

    MD5_STEP(f_g, a, b, c, d, x[1], 0xf61e2562, 5);
    MD5_STEP(f_g, d, a, b, c, x[6], 0xc040b340, 9);
    MD5_STEP(f_g, c, d, a, b, x[11], 0x265e5a51, 14);
    MD5_STEP(f_g, b, c, d, a, x[0], 0xe9b6c7aa, 20);
    MD5_STEP(f_g, a, b, c, d, x[5], 0xd62f105d, 5);
    MD5_STEP(f_g, d, a, b, c, x[10], 0x02441453, 9);
    MD5_STEP(f_g, c, d, a, b, x[15], 0xd8a1e681, 14);
    MD5_STEP(f_g, b, c, d, a, x[4], 0xe7d3fbc8, 20);
    MD5_STEP(f_g, a, b, c, d, x[9], 0x21e1cde6, 5);
    MD5_STEP(f_g, d, a, b, c, x[14], 0xc33707d6, 9);
    MD5_STEP(f_g, c, d, a, b, x[3], 0xf4d50d87, 14);
    MD5_STEP(f_g, b, c, d, a, x[8], 0x455a14ed, 20);
    MD5_STEP(f_g, a, b, c, d, x[13], 0xa9e3e905, 5);
    MD5_STEP(f_g, d, a, b, c, x[2], 0xfcefa3f8, 9);
    MD5_STEP(f_g, c, d, a, b, x[7], 0x676f02d9, 14);
    MD5_STEP(f_g, b, c, d, a, x[12], 0x8d2a4c8a, 20);

    MD5_STEP(f_h, a, b, c, d, x[5], 0xfffa3942, 4);
    MD5_STEP(f_h, d, a, b, c, x[8], 0x8771f681, 11);
    MD5_STEP(f_h, c, d, a, b, x[11], 0x6d9d6122, 16);
    MD5_STEP(f_h, b, c, d, a, x[14], 0xfde5380c, 23);
    MD5_STEP(f_h, a, b, c, d, x[1], 0xa4beea44, 4);
    MD5_STEP(f_h, d, a, b, c, x[4], 0x4bdecfa9, 11);
    MD5_STEP(f_h, c, d, a, b, x[7], 0xf6bb4b60, 16);
    MD5_STEP(f_h, b, c, d, a, x[10], 0xbebfbc70, 23);
    MD5_STEP(f_h, a, b, c, d, x[13], 0x289b7ec6, 4);
    MD5_STEP(f_h, d, a, b, c, x[0], 0xeaa127fa, 11);
    MD5_STEP(f_h, c, d, a, b, x[3], 0xd4ef3085, 16);
    MD5_STEP(f_h, b, c, d, a, x[6], 0x04881d05, 23);
    MD5_STEP(f_h, a, b, c, d, x[9], 0xd9d4d039, 4);
    MD5_STEP(f_h, d, a, b, c, x[12], 0xe6db99e5, 11);
    MD5_STEP(f_h, c, d, a, b, x[15], 0x1fa27cf8, 16);
    MD5_STEP(f_h, b, c, d, a, x[2], 0xc4ac5665, 23);

    MD5_STEP(f_i, a, b, c, d, x[0], 0xf4292244, 6);
    MD5_STEP(f_i, d, a, b, c, x[7], 0x432aff97, 10);
    MD5_STEP(f_i, c, d, a, b, x[14], 0xab9423a7, 15);
    MD5_STEP(f_i, b, c, d, a, x[5], 0xfc93a039, 21);
    MD5_STEP(f_i, a, b, c, d, x[12], 0x655b59c3, 6);
    MD5_STEP(f_i, d, a, b, c, x[3], 0x8f0ccc92, 10);
    MD5_STEP(f_i, c, d, a, b, x[10], 0xffeff47d, 15);
    MD5_STEP(f_i, b, c, d, a, x[1], 0x85845dd1, 21);
    MD5_STEP(f_i, a, b, c, d, x[8], 0x6fa87e4f, 6);
    MD5_STEP(f_i, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    MD5_STEP(f_i, c, d, a, b, x[6], 0xa3014314, 15);
    MD5_STEP(f_i, b, c, d, a, x[13], 0x4e0811a1, 21);
    MD5_STEP(f_i, a, b, c, d, x[4], 0xf7537e82, 6);
    MD5_STEP(f_i, d, a, b, c, x[11], 0xbd3af235, 10);
    MD5_STEP(f_i, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    MD5_STEP(f_i, b, c, d, a, x[9], 0xeb86d391, 21);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef MD5_STEP

size_t length_of(const void *data, ptrdiff_t len)
{
    return len < 0 ? strlen(static_cast<const char *>(data)) : static_cast<size_t>(len);
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

void md5_transform(Md5State *st, const unsigned char block[MD5_BLOCK_LEN]) { compress(st->state, block); }

void md5_update(Md5State *st, const void *data, size_t len)
{
    if (len == 0)
        return;
    const unsigned char *in = static_cast<const unsigned char *>(data);
    size_t have = (st->count[0] >> 3) & 63;
    // The bit count is modulo 2^64, as the standard has it.
    uint64_t bits = (static_cast<uint64_t>(st->count[1]) << 32 | st->count[0]) + static_cast<uint64_t>(len) * 8;
    st->count[0] = static_cast<uint32_t>(bits);
    st->count[1] = static_cast<uint32_t>(bits >> 32);
    if (have) {
        size_t take = MD5_BLOCK_LEN - have;
        if (len < take) {
            memcpy(st->buffer + have, in, len);
            return;
        }
        memcpy(st->buffer + have, in, take);
        compress(st->state, st->buffer);
        in += take;
        len -= take;
    }
    for (; len >= MD5_BLOCK_LEN; in += MD5_BLOCK_LEN, len -= MD5_BLOCK_LEN)
        compress(st->state, in);
    if (len)
        memcpy(st->buffer, in, len);
}

void md5_final(unsigned char out[MD5_DIGEST_LEN], Md5State *st)
{
    size_t have = (st->count[0] >> 3) & 63;
    st->buffer[have++] = 0x80;
    if (have > 56) {
        // No room for the bit count: it goes into one more block.
        memset(st->buffer + have, 0, MD5_BLOCK_LEN - have);
        compress(st->state, st->buffer);
        have = 0;
    }
    memset(st->buffer + have, 0, 56 - have);
    put_le32(st->buffer + 56, st->count[0]);
    put_le32(st->buffer + 60, st->count[1]);
    compress(st->state, st->buffer);
    for (int i = 0; i < 4; i++)
        put_le32(out + 4 * i, st->state[i]);
    // The state may hold key material (HMAC): leave nothing behind.
    mem_wipe(st, sizeof *st);
}

void md5_digest(unsigned char out[MD5_DIGEST_LEN], const void *data, ptrdiff_t len)
{
    Md5State st;
    md5_init(&st);
    md5_update(&st, data, length_of(data, len));
    md5_final(out, &st);
}

void hmac_md5(const void *msg, ptrdiff_t msg_len, const void *key, ptrdiff_t key_len,
              unsigned char out[MD5_DIGEST_LEN])
{
    size_t klen = length_of(key, key_len);
    unsigned char k[MD5_BLOCK_LEN] = {0};
    if (klen > MD5_BLOCK_LEN)
        md5_digest(k, key, static_cast<ptrdiff_t>(klen));
    else if (klen)
        memcpy(k, key, klen);
    unsigned char pad[MD5_BLOCK_LEN];
    for (int i = 0; i < MD5_BLOCK_LEN; i++)
        pad[i] = k[i] ^ 0x36;
    unsigned char inner[MD5_DIGEST_LEN];
    Md5State st;
    md5_init(&st);
    md5_update(&st, pad, MD5_BLOCK_LEN);
    md5_update(&st, msg, length_of(msg, msg_len));
    md5_final(inner, &st);
    for (int i = 0; i < MD5_BLOCK_LEN; i++)
        pad[i] = k[i] ^ 0x5c;
    md5_init(&st);
    md5_update(&st, pad, MD5_BLOCK_LEN);
    md5_update(&st, inner, MD5_DIGEST_LEN);
    md5_final(out, &st);
    mem_wipe(k, sizeof k);
    mem_wipe(pad, sizeof pad);
    mem_wipe(inner, sizeof inner);
}

char *md5_digest_hex(char out[MD5_HEX_LEN + 1], const unsigned char digest[MD5_DIGEST_LEN])
{
    for (int i = 0; i < MD5_DIGEST_LEN; i++) {
        out[i * 2] = HEX_DIGITS_LOWER[digest[i] >> 4];
        out[i * 2 + 1] = HEX_DIGITS_LOWER[digest[i] & 15];
    }
    out[MD5_HEX_LEN] = '\0';
    return out;
}
