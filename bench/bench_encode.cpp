// Throughput of the encoders and of MD5 on 1 MiB of input, in the shapes the
// message writers use: base64 in 57-byte slices (one 76-character line each)
// and in one large block, quoted-printable of text and of binary data in
// 64 KiB reads, uuencode in 45-byte lines, yEnc and the MD5 update.
#include "support/encode.h"
#include "support/md5.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

constexpr size_t kSize = 1 << 20;
constexpr size_t kRead = 64 * 1024; // the writers read files in slices this large

const std::string &random_data()
{
    static const std::string data = [] {
        std::mt19937 rng(42);
        std::string s(kSize, '\0');
        for (auto &c : s)
            c = static_cast<char>(rng() & 0xff);
        return s;
    }();
    return data;
}

// Mostly-ASCII prose with CR LF line ends, some "=" and a few 8-bit bytes.
const std::string &text_data()
{
    static const std::string data = [] {
        static const char *words[] = {"the", "message", "body", "is", "plain", "text,", "mostly", "ASCII",
                                      "with", "a", "few", "caf\xc3\xa9", "x=1", "words", "per", "line."};
        std::mt19937 rng(43);
        std::string s;
        size_t line = 0;
        while (s.size() < kSize) {
            const char *w = words[rng() % 16];
            s += w;
            line += strlen(w);
            if (line > 60 + rng() % 30) {
                s += "\r\n";
                line = 0;
            } else {
                s += ' ';
                line++;
            }
        }
        s.resize(kSize);
        return s;
    }();
    return data;
}

void BM_Base64Encode57ByteLines(benchmark::State &state)
{
    const std::string &in = random_data();
    std::vector<char> out(b64_encoded_size(kSize) + kSize / B64_LINE_BYTES * 2 + 64);
    for (auto _ : state) {
        char *o = out.data();
        for (size_t i = 0; i < in.size(); i += B64_LINE_BYTES) {
            size_t n = in.size() - i < B64_LINE_BYTES ? in.size() - i : size_t{B64_LINE_BYTES};
            o += b64_encode(in.data() + i, static_cast<ptrdiff_t>(n), o);
            *o++ = '\r';
            *o++ = '\n';
        }
        benchmark::DoNotOptimize(o);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
}
BENCHMARK(BM_Base64Encode57ByteLines);

void BM_Base64EncodeBlock(benchmark::State &state)
{
    const std::string &in = random_data();
    std::vector<char> out(b64_encoded_size(kSize));
    for (auto _ : state) {
        benchmark::DoNotOptimize(b64_encode(in.data(), static_cast<ptrdiff_t>(in.size()), out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
}
BENCHMARK(BM_Base64EncodeBlock);

void BM_Base64Decode(benchmark::State &state)
{
    const std::string &raw = random_data();
    std::string text(b64_encoded_size(kSize), '\0');
    text.resize(b64_encode(raw.data(), static_cast<ptrdiff_t>(raw.size()), text.data()));
    std::vector<unsigned char> out(b64_decoded_max(text.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(b64_decode(text.data(), static_cast<ptrdiff_t>(text.size()), out.data()));
        benchmark::ClobberMemory();
    }
    // Measured on the encoded text read.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Base64Decode);

void qp_bench(benchmark::State &state, const std::string &in, int text)
{
    std::vector<char> out(qp_max_output(kRead));
    for (auto _ : state) {
        QpState st = {};
        size_t total = 0;
        for (size_t i = 0; i < in.size(); i += kRead) {
            size_t n = in.size() - i < kRead ? in.size() - i : kRead;
            total += qp_encode(&st, in.data() + i, static_cast<ptrdiff_t>(n), out.data(), text);
        }
        total += qp_encode(&st, nullptr, 0, out.data(), text);
        benchmark::DoNotOptimize(total);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}

void BM_QpEncodeText(benchmark::State &state) { qp_bench(state, text_data(), 1); }
BENCHMARK(BM_QpEncodeText);

void BM_QpEncodeBinary(benchmark::State &state) { qp_bench(state, random_data(), 0); }
BENCHMARK(BM_QpEncodeBinary);

void BM_UuEncodeLines(benchmark::State &state)
{
    const std::string &in = random_data();
    std::vector<char> out((kSize / UU_LINE_MAX_BYTES + 1) * (uu_line_size(UU_LINE_MAX_BYTES) + 2));
    for (auto _ : state) {
        char *o = out.data();
        for (size_t i = 0; i < in.size(); i += UU_LINE_MAX_BYTES) {
            size_t n = in.size() - i < UU_LINE_MAX_BYTES ? in.size() - i : size_t{UU_LINE_MAX_BYTES};
            o += uu_encode_line(in.data() + i, n, o);
            *o++ = '\r';
            *o++ = '\n';
        }
        benchmark::DoNotOptimize(o);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
}
BENCHMARK(BM_UuEncodeLines);

void BM_YencEncode(benchmark::State &state)
{
    const std::string &in = random_data();
    std::vector<char> out(yenc_max_output(kSize));
    for (auto _ : state) {
        benchmark::DoNotOptimize(yenc_encode(in.data(), in.size(), out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
}
BENCHMARK(BM_YencEncode);

void BM_Md5Update(benchmark::State &state)
{
    const std::string &in = random_data();
    for (auto _ : state) {
        Md5State st;
        md5_init(&st);
        md5_update(&st, in.data(), in.size());
        unsigned char digest[MD5_DIGEST_LEN];
        md5_final(digest, &st);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
}
BENCHMARK(BM_Md5Update);

} // namespace
