#include "runtime/file.h"

#include <cstring>

void CVintrelFile::ResetForWrite() {
    Values.clear();  // keeps the capacity, so repeated saves do not allocate
    Position = 0;
    Mode = Write;
}

void CVintrelFile::ResetForRead(const void* bytes, std::int32_t byteSize) {
    Values.clear();
    Position = 0;
    Mode = Read;
    if (bytes == nullptr || byteSize < 4) return;
    Values.resize(static_cast<std::size_t>(byteSize / 4));
    std::memcpy(Values.data(), bytes, Values.size() * sizeof(float));
}

void CVintrelFile::StreamValue(double& variable) {
    if (Position < 0) return;
    const auto at = static_cast<std::size_t>(Position);
    if (Mode == Write) {
        if (at + 1 > Values.size()) Values.resize(at + 1, 0.0f);
        Values[at] = static_cast<float>(variable);
        ++Position;
    } else if (Mode == Read && at < Values.size()) {
        variable = static_cast<double>(Values[at]);
        ++Position;
    }
}

void CVintrelFile::StreamValue(vintrel::SharedDouble& variable) {
    double value = variable;
    StreamValue(value);
    if (Mode == Read) variable = value;
}
