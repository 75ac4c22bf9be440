// Reading a fuzzer's input as a stream of values; past its end every value is zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzzhost {

struct Bytes {
    const std::uint8_t* data;
    std::size_t size;
    template <class T>
    T take() {
        T v{};
        const std::size_t n = size < sizeof v ? size : sizeof v;
        std::memcpy(&v, data, n);
        data += n, size -= n;
        return v;
    }
};

}  // namespace fuzzhost
