// Shared pieces of the fuzz harnesses: reading the fuzzer's input as a
// stream of control bytes and data, and the check that ends the run.
//
// A failed check prints what broke and aborts, which libFuzzer records as a
// crash together with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                   \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n  ", __FILE__, __LINE__, \
                         #condition);                                                \
            std::fprintf(stderr, __VA_ARGS__);                                       \
            std::fprintf(stderr, "\n");                                              \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

// The input, consumed from the front. Reads past the end give zeros, so a
// harness never has to test for the end before each byte it wants.
struct FuzzInput {
    const uint8_t *data;
    size_t size;
    size_t pos;

    bool Empty() const { return pos >= size; }
    size_t Remaining() const { return pos < size ? size - pos : 0; }

    uint8_t Byte()
    {
        return pos < size ? data[pos++] : 0;
    }

    uint32_t Big32()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | Byte();
        return value;
    }

    // Up to wanted bytes, fewer at the end of the input; returns how many.
    size_t Take(size_t wanted, const uint8_t **out)
    {
        const size_t n = wanted < Remaining() ? wanted : Remaining();
        *out = data + pos;
        pos += n;
        return n;
    }
};
