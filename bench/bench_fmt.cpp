// Throughput of the formatted-output engine on the shape of a large message
// body: 76-character base64 lines with CR LF, into a StrBuf (as when a
// message is rendered for signing) and into a sink that only counts bytes
// (the engine's own cost, as in front of a connection).
#include "support/fmt.h"

#include <string>

#include <benchmark/benchmark.h>

namespace {

constexpr int kLines = 10000; // about 780 KB per iteration

const std::string &line76()
{
    static const std::string line = [] {
        static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string s;
        for (int i = 0; i < 76; i++)
            s += alphabet[(i * 7) % 64];
        return s;
    }();
    return line;
}

int counting_sink(void *user, const char *, size_t len)
{
    *static_cast<size_t *>(user) += len;
    return 1;
}

void BM_LinesIntoStrBuf(benchmark::State &state)
{
    const char *line = line76().c_str();
    size_t bytes = 0;
    for (auto _ : state) {
        StrBuf sb = {};
        for (int i = 0; i < kLines; i++)
            sbuf_printf(&sb, "%s\r\n", line);
        bytes += sb.length;
        benchmark::DoNotOptimize(sb.data);
        sbuf_release(&sb);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_LinesIntoStrBuf);

void BM_CountedLinesIntoStrBuf(benchmark::State &state)
{
    const std::string &line = line76();
    size_t bytes = 0;
    for (auto _ : state) {
        StrBuf sb = {};
        for (int i = 0; i < kLines; i++)
            sbuf_printf(&sb, "%.*s\r\n", static_cast<int>(line.size()), line.data());
        bytes += sb.length;
        benchmark::DoNotOptimize(sb.data);
        sbuf_release(&sb);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CountedLinesIntoStrBuf);

void BM_LinesIntoCountingSink(benchmark::State &state)
{
    const char *line = line76().c_str();
    size_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < kLines; i++)
            fmt_sink_printf(counting_sink, &bytes, "%s\r\n", line);
    }
    benchmark::DoNotOptimize(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_LinesIntoCountingSink);

// Many lines per format call: the staging buffer batches them into pieces
// of 4094 bytes.
void BM_BlockIntoCountingSink(benchmark::State &state)
{
    std::string format;
    for (int i = 0; i < 50; i++)
        format += "%s\r\n";
    const char *l = line76().c_str();
    size_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < kLines / 50; i++)
            fmt_sink_printf(counting_sink, &bytes, format.c_str(), l, l, l, l, l, l, l, l, l, l, l, l, l, l, l,
                            l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l, l,
                            l, l, l, l, l, l, l);
    }
    benchmark::DoNotOptimize(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_BlockIntoCountingSink);

void BM_MixedIntoCountingSink(benchmark::State &state)
{
    const char *line = line76().c_str();
    size_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < kLines; i++)
            fmt_sink_printf(counting_sink, &bytes, "X-Line-%d: %s; part=%d\\r\\n", i, line, -i);
    }
    benchmark::DoNotOptimize(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_MixedIntoCountingSink);

} // namespace
