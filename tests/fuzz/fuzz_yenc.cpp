// yEnc: the encoded text holds no NUL, CR or LF and no "=" but as an escape,
// stays within yenc_max_output, and decodes back to the data (the decoder
// here follows the format; the program only encodes).
#include <vector>

#include "fuzz.h"
#include "support/encode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> enc(yenc_max_output(size));
    size_t len = yenc_encode(data, size, enc.data());
    FUZZ_CHECK(len <= enc.size());

    for (size_t i = 0; i < len; i++)
        FUZZ_CHECK(enc[i] != 0 && enc[i] != '\r' && enc[i] != '\n');
    std::string back;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = static_cast<unsigned char>(enc[i]);
        if (c == '=') {
            FUZZ_CHECK(i + 1 < len);
            c = static_cast<unsigned char>(static_cast<unsigned char>(enc[++i]) - 64);
        }
        back += static_cast<char>(static_cast<unsigned char>(c - 42));
    }
    FUZZ_CHECK(back == std::string(reinterpret_cast<const char *>(data), size));
    return 0;
}
