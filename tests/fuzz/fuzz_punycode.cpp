// Punycode: decode(encode(x)) == x for code points from the whole 32-bit
// range (mostly plausible ones), with and without case flags (beyond
// Unicode the decoder may refuse what the encoder wrote); one slot
// less of room is refused as "big output" in both directions, never
// overrun; and any text the decoder accepts survives the same round trip.
#include <vector>

#include "fuzz.h"
#include "mail/addr.h"

namespace {

bool basic_letter(uint32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Encodes cps (with flags, or none) and decodes the result again.
void round_trip(const std::vector<uint32_t> &cps, const unsigned char *flags)
{
    const uint64_t count = cps.size();
    // Room for any encoding: a 32-bit delta takes at most 11 digits (each
    // digit but the last divides it by 10 or more), a basic code point one
    // character, and the delimiter one.
    std::vector<char> enc(count * 16 + 1);
    uint64_t enc_len = enc.size();
    int rc = addr_punycode_encode(count, cps.data(), flags, &enc_len, enc.data());
    if (rc == PUNY_OVERFLOW)
        return; // code points too far apart for 32-bit deltas
    FUZZ_CHECK(rc == PUNY_SUCCESS);
    FUZZ_CHECK(enc_len <= enc.size());
    for (uint64_t i = 0; i < enc_len; i++)
        FUZZ_CHECK(static_cast<unsigned char>(enc[i]) < 0x80);

    if (enc_len > 0) {
        std::vector<char> tight(enc_len - 1);
        uint64_t tight_len = tight.size();
        FUZZ_CHECK(addr_punycode_encode(count, cps.data(), flags, &tight_len, tight.data()) ==
                   PUNY_BIG_OUTPUT);
    }

    std::vector<uint32_t> dec(count);
    std::vector<unsigned char> dflags(count);
    uint64_t dec_len = count;
    rc = addr_punycode_decode(enc_len, enc.data(), &dec_len, dec.data(), dflags.data());
    // Beyond Unicode the encoder's 32-bit deltas may pass what the
    // decoder's insertion arithmetic holds: refused, never wrong.
    bool unicode = true;
    for (uint32_t c : cps)
        unicode = unicode && c <= 0x10ffff;
    if (!unicode && rc == PUNY_OVERFLOW)
        return;
    FUZZ_CHECK(rc == PUNY_SUCCESS);
    FUZZ_CHECK(dec_len == count);
    for (uint64_t j = 0; j < count; j++) {
        uint32_t want = cps[j];
        if (flags && basic_letter(want)) {
            // A basic letter is written in the case its flag asks for.
            want = flags[j] ? (want | 0x20) - 0x20 : want | 0x20;
            FUZZ_CHECK(dflags[j] == (flags[j] ? 1 : 0));
        }
        FUZZ_CHECK(dec[j] == want);
    }

    if (count > 0) {
        std::vector<uint32_t> small(count - 1);
        uint64_t small_len = small.size();
        FUZZ_CHECK(addr_punycode_decode(enc_len, enc.data(), &small_len, small.data(), nullptr) ==
                   PUNY_BIG_OUTPUT);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    size_t count = in.byte() % 96;
    std::vector<uint32_t> cps;
    std::vector<unsigned char> flags;
    for (size_t i = 0; i < count; i++) {
        uint8_t kind = in.byte();
        uint32_t v = in.u32();
        switch (kind & 3) {
        case 0: v %= 0x80; break;
        case 1: v = 0x80 + v % 0x780; break;
        case 2: v %= 0x110000; break;
        default: break;
        }
        cps.push_back(v);
        flags.push_back(kind >> 7);
    }
    round_trip(cps, nullptr);
    round_trip(cps, flags.data());

    // The rest as Punycode text, decoded into room the input chooses.
    size_t room = in.byte();
    std::string text = in.rest();
    std::vector<uint32_t> dec(room);
    std::vector<unsigned char> dflags(room);
    uint64_t dec_len = room;
    if (addr_punycode_decode(text.size(), text.data(), &dec_len, dec.data(), dflags.data()) ==
        PUNY_SUCCESS) {
        FUZZ_CHECK(dec_len <= room);
        dec.resize(dec_len);
        round_trip(dec, nullptr);
    }
    return 0;
}
