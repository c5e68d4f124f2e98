#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Shared by the fuzz targets: the failure report and a reader of the fuzzer's bytes.
namespace tav::fuzz {

// A broken invariant stops the run where the fuzzer (or the corpus replay) can see it.
inline void check(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "fuzz invariant broken: %s\n", invariant);
        std::abort();
    }
}

// Takes values from the front of the input; past its end every value is zero.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool empty() const { return position >= size; }
    size_t remaining() const { return size - position; }

    template <typename T>
    T take() {
        T value{};
        const size_t count = sizeof(T) < remaining() ? sizeof(T) : remaining();
        if (count > 0)
            std::memcpy(&value, data + position, count);
        position += count;
        return value;
    }

    // A value in 0..1 from one byte.
    double unit() { return take<uint8_t>() / 255.0; }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

} // namespace tav::fuzz
