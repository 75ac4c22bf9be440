// Sparse store of doubles addressed by a 32-bit index, in zero-filled blocks of 65,536.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

class CVintrelMemory {
public:
    static constexpr std::int32_t BlockSize = 65536;

    // The double at index e; its block is created, zero-filled, on first use.
    double& Mem(std::int32_t e) {
        std::vector<double>& block = Memory[e >> 16];
        if (block.empty()) block.assign(BlockSize, 0.0);
        return block[static_cast<std::size_t>(e & 0xFFFF)];
    }
    void FreeMemory() { Memory.clear(); }

    std::map<std::int32_t, std::vector<double>> Memory;
};
