// The decoder's state through a format's byte streams, which may move fewer bytes per call than
// asked. The whole state is read before any of it is used, so a failing stream changes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vintrel {

// A chunk is 260 bytes; anything far larger is not ours.
inline constexpr std::size_t kMaxStateBytes = 1 << 16;

// `read(buffer, capacity)` answers the bytes it read, 0 at the end, or a negative number on an
// error. False on an error or a stream longer than any state.
template <class Read>
bool readWholeState(Read read, std::vector<std::uint8_t>& bytes) {
    std::uint8_t buffer[512];
    for (;;) {
        const std::int64_t got = read(buffer, sizeof buffer);
        if (got < 0 || got > static_cast<std::int64_t>(sizeof buffer)) return false;
        if (got == 0) return true;
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (bytes.size() > kMaxStateBytes) return false;
    }
}

// `write(data, size)` answers the bytes it wrote; none, or an error, ends the save as failed.
template <class Write>
bool writeWholeState(Write write, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const std::int64_t wrote = write(bytes.data() + done, bytes.size() - done);
        if (wrote <= 0 || static_cast<std::size_t>(wrote) > bytes.size() - done) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Whole floats, the marker and at least one value: the only shape a state of ours can have.
inline bool looksLikeAState(const std::vector<std::uint8_t>& bytes) { return bytes.size() >= 8 && bytes.size() % 4 == 0; }

}  // namespace vintrel
