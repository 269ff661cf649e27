// uuencode lines: each line of up to 45 bytes decodes back to them (the
// program has no decoder of its own; the one here follows the format), its
// length character and size are as promised, no character is a blank, and
// a longer slice writes nothing.
#include <vector>

#include "fuzz.h"
#include "support/encode.h"

static std::string uu_decode_line(const char *line, size_t len)
{
    FUZZ_CHECK(len >= 1);
    size_t count = static_cast<size_t>((line[0] - 32) & 63);
    std::string out;
    for (size_t i = 1; i + 4 <= len; i += 4) {
        uint32_t v = 0;
        for (size_t k = 0; k < 4; k++)
            v = v << 6 | ((static_cast<unsigned char>(line[i + k]) - 32) & 63);
        out += static_cast<char>(v >> 16);
        out += static_cast<char>(v >> 8);
        out += static_cast<char>(v);
    }
    FUZZ_CHECK(out.size() >= count);
    out.resize(count);
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t kLine = UU_LINE_MAX_BYTES;
    std::string back;
    for (size_t pos = 0; pos < size; pos += kLine) {
        size_t n = size - pos < kLine ? size - pos : kLine;
        std::vector<char> line(uu_line_size(n));
        size_t len = uu_encode_line(data + pos, n, line.data());
        FUZZ_CHECK(len == line.size());
        FUZZ_CHECK(line[0] == static_cast<char>(32 + n));
        for (char c : line)
            FUZZ_CHECK(c > 32 && c <= 96);
        back += uu_decode_line(line.data(), len);
    }
    FUZZ_CHECK(back == std::string(reinterpret_cast<const char *>(data), size));

    if (size > kLine) {
        std::vector<char> line(uu_line_size(size), '#');
        FUZZ_CHECK(uu_encode_line(data, size, line.data()) == 0);
        for (char c : line)
            FUZZ_CHECK(c == '#');
    }
    return 0;
}
