// What the fuzz targets share: a check that stops the run with a message (libFuzzer then keeps
// the input that broke it), and a reader that takes small values off the front of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return size_ == 0; }
    size_t remaining() const { return size_; }

    uint8_t byte() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }

    // Up to `n` bytes (fewer at the end of the input), pointing into the input.
    const uint8_t* take(size_t n, size_t* taken) {
        *taken = n < size_ ? n : size_;
        const uint8_t* p = data_;
        data_ += *taken;
        size_ -= *taken;
        return p;
    }

private:
    const uint8_t* data_;
    size_t size_;
};
