// PNG files of RGBA pictures, through libpng: the renderer's vectorscope and the tests' pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vstrender {

// RGBA pixels; without `alpha` the file keeps only R, G and B (an opaque picture).
bool writePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba, std::string& error,
              bool alpha = true);
// False with `error` said when the file is not a PNG libpng reads; any PNG comes back as RGBA.
bool readPng(const std::string& path, int& width, int& height, std::vector<std::uint8_t>& rgba, std::string& error);

}  // namespace vstrender
