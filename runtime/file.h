// A value stream of 32-bit floats: the carrier of an effect's saved state.
#pragma once

#include <cstdint>
#include <vector>

class CVintrelFile {
public:
    enum : std::int32_t { Closed = 0, Read = 1, Write = 2 };

    void ResetForWrite();
    void ResetForRead(const void* bytes, std::int32_t byteSize);
    // Writes the variable into the stream or reads it back, as Mode says.
    void StreamValue(double& variable);

    std::vector<float> Values;
    std::int32_t Position = 0;
    std::int32_t Mode = Closed;
};
