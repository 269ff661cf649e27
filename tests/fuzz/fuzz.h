// Shared pieces of the fuzz targets. Each target defines the engine's entry
// point over one parser of outside input and checks what must hold for
// every input (a round trip, a bound, an output left untouched). A failed
// check aborts, so the engine keeps the input as a crash.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

[[noreturn]] inline void fuzz_fail(const char *file, int line, const char *what)
{
    fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    abort();
}

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            fuzz_fail(__FILE__, __LINE__, #cond);                                                  \
    } while (0)

// Takes typed values off the front of the input. Past its end every value
// is 0 and every text empty, so any input is a valid one.
struct FuzzInput {
    const uint8_t *data;
    size_t left;

    FuzzInput(const uint8_t *d, size_t n) : data(d), left(n) {}

    uint8_t byte()
    {
        if (!left)
            return 0;
        left--;
        return *data++;
    }
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++)
            v = v << 8 | byte();
        return v;
    }
    uint64_t u64() { return static_cast<uint64_t>(u32()) << 32 | u32(); }
    // Up to max bytes, the count taken from the input first.
    std::string bytes(size_t max)
    {
        size_t want = (static_cast<size_t>(byte()) << 8 | byte()) % (max + 1);
        return take(want);
    }
    // Everything that is left.
    std::string rest() { return take(left); }

private:
    std::string take(size_t n)
    {
        if (n > left)
            n = left;
        std::string s(reinterpret_cast<const char *>(data), n);
        data += n;
        left -= n;
        return s;
    }
};

// The input as a C text: its bytes up to the first NUL.
inline std::string fuzz_text(const uint8_t *data, size_t size)
{
    const void *nul = memchr(data, 0, size);
    size_t n = nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) - data) : size;
    return std::string(reinterpret_cast<const char *>(data), n);
}

// A text without NUL bytes (they are dropped), for APIs that take C texts.
inline std::string fuzz_no_nul(std::string s)
{
    s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
    return s;
}

// Whether every dot-separated label of text from byte from on passes
// label_ok (a function of the label's bytes and length).
template <class LabelOk> bool fuzz_every_label(const std::string &text, size_t from, LabelOk &&label_ok)
{
    for (size_t start = from;;) {
        size_t dot = text.find('.', start);
        size_t end = dot == std::string::npos ? text.size() : dot;
        if (!label_ok(text.data() + start, end - start))
            return false;
        if (dot == std::string::npos)
            return true;
        start = dot + 1;
    }
}
