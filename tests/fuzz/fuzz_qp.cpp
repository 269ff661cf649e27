// Quoted-printable: the streaming encoder gives the same text however the
// data is sliced, keeps every line within 76 characters with no plain "."
// at its start and no plain blank at its end, and the decoder gives the
// data back. The decoder also runs on the raw input as text.
#include <vector>

#include "fuzz.h"
#include "support/encode.h"

namespace {

// The data encoded in slices whose lengths come from the input (0: whole).
std::string encode(const std::string &data, int text, FuzzInput *slices)
{
    QpState st = {};
    std::string out;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t n = data.size() - pos;
        if (slices) {
            size_t want = slices->byte() % 64 + 1;
            n = want < n ? want : n;
        }
        std::vector<char> buf(qp_max_output(n));
        size_t len = qp_encode(&st, data.data() + pos, static_cast<ptrdiff_t>(n), buf.data(), text);
        FUZZ_CHECK(len <= buf.size());
        out.append(buf.data(), len);
        pos += n;
    }
    std::vector<char> buf(qp_max_output(0));
    size_t len = qp_encode(&st, nullptr, 0, buf.data(), text);
    FUZZ_CHECK(len <= 10);
    out.append(buf.data(), len);
    FUZZ_CHECK(st.pending == 0 && st.held == 0);
    return out;
}

void check_lines(const std::string &enc)
{
    size_t start = 0;
    for (;;) {
        size_t end = enc.find("\r\n", start);
        std::string line = enc.substr(start, end == std::string::npos ? std::string::npos : end - start);
        FUZZ_CHECK(line.size() <= QP_LINE_MAX);
        FUZZ_CHECK(line.empty() || line[0] != '.');
        FUZZ_CHECK(line.empty() || (line.back() != ' ' && line.back() != '\t'));
        for (unsigned char c : line)
            FUZZ_CHECK((c >= 33 && c <= 126) || c == ' ' || c == '\t');
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    int text = in.byte() & 1;
    std::string slicing = in.bytes(256);
    std::string body = in.rest();

    std::string whole = encode(body, text, nullptr);
    FuzzInput slices(reinterpret_cast<const uint8_t *>(slicing.data()), slicing.size());
    FUZZ_CHECK(encode(body, text, &slices) == whole);
    check_lines(whole);

    std::vector<char> dec(qp_decoded_max(whole.size()));
    size_t len = qp_decode(whole.data(), whole.size(), dec.data(), 0);
    FUZZ_CHECK(std::string(dec.data(), len) == body);

    // Any text, in both modes, within the room the header promises.
    std::vector<char> out(qp_decoded_max(size));
    for (int line_mode : {0, 1})
        FUZZ_CHECK(qp_decode(reinterpret_cast<const char *>(data), size, out.data(), line_mode) <= out.size());
    return 0;
}
