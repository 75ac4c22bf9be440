// What a factory preset's state sets: the decoder's chunk, then the formats' block up to the
// alignment and the bypass. The tone match that follows is the take's, not the preset's: an
// instance saves its own, a preset's state leaves it as it is, so the two differ there.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::size_t kPresetSettingsBytes = 260 + 12 + 16;

inline std::vector<std::uint8_t> settingsIn(const std::vector<std::uint8_t>& state) {
    return {state.begin(), state.begin() + static_cast<std::ptrdiff_t>(std::min(state.size(), kPresetSettingsBytes))};
}
