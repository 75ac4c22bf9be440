// Copying texts into buffers whose size the caller knows but the text does not.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace vintrel {

// Copies at most capacity - 1 characters and always the terminating zero.
inline void copyBounded(char* dst, const std::string& src, std::size_t capacity) {
    if (dst == nullptr || capacity == 0) return;
    const std::size_t n = src.size() < capacity - 1 ? src.size() : capacity - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// The directory of the module this code is linked into, ending in its separator; empty when
// the system does not tell.
std::string moduleDirectory();

}  // namespace vintrel
