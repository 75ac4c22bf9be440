// A value stream of 32-bit floats: the carrier of an effect's saved state.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/shared_double.h"

class CVintrelFile {
public:
    enum : std::int32_t { Closed = 0, Read = 1, Write = 2 };

    void ResetForWrite();
    void ResetForRead(const void* bytes, std::int32_t byteSize);
    // Writes the variable into the stream or reads it back, as Mode says.
    void StreamValue(double& variable);
    void StreamValue(vintrel::SharedDouble& variable);

    std::vector<float> Values;
    std::int32_t Position = 0;
    std::int32_t Mode = Closed;
};
