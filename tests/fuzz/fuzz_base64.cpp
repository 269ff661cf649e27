// base64 and base64url: decode(encode(x)) == x with the exact sizes the
// header promises, and the decoder on any text stays within the room
// b64_decoded_max gives it.
#include <vector>

#include "fuzz.h"
#include "support/encode.h"

static bool in_alphabet(char c, bool url)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == (url ? '-' : '+') || c == (url ? '_' : '/');
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ptrdiff_t n = static_cast<ptrdiff_t>(size);
    for (bool url : {false, true}) {
        std::vector<char> enc(b64_encoded_size(size));
        size_t len = url ? b64_encode_url(data, n, enc.data()) : b64_encode(data, n, enc.data());
        if (url)
            FUZZ_CHECK(len <= enc.size() && len == (size * 4 + 2) / 3);
        else
            FUZZ_CHECK(len == enc.size());
        for (size_t i = 0; i < len; i++)
            FUZZ_CHECK(in_alphabet(enc[i], url) || (!url && enc[i] == '=' && i + 2 >= len));

        std::vector<unsigned char> dec(b64_decoded_max(len));
        size_t back = b64_decode(enc.data(), static_cast<ptrdiff_t>(len), dec.data());
        FUZZ_CHECK(back == size);
        FUZZ_CHECK(size == 0 || memcmp(dec.data(), data, size) == 0);
    }

    // Any text: never more than the room it was given.
    std::vector<unsigned char> out(b64_decoded_max(size));
    FUZZ_CHECK(b64_decode(reinterpret_cast<const char *>(data), n, out.data()) <= out.size());
    return 0;
}
