// Text from the embedded typeface (DejaVu Sans), rasterised by stb_truetype at the size asked,
// so text is sharp at every content scale. Glyphs are cached by size and quarter-pixel offset.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <atomic>
#include <mutex>
#include <tuple>
#include <vector>

#include "editor/canvas.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wcast-qual"
#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>
#pragma GCC diagnostic pop

extern "C" const unsigned char editorFontData[];

namespace editor {
namespace {

// A lock without the C++ library's threads, which the Windows toolchains lack; drawing is
// brief and rarely meets another instance's.
class SpinLock {
public:
    void lock() {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    void unlock() { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

struct Glyph {
    int x0 = 0, y0 = 0, width = 0, height = 0;
    std::vector<std::uint8_t> coverage;
};

class Typeface {
public:
    static Typeface& instance() {
        static Typeface face;
        return face;
    }
    double advance(int codepoint, int next, double size) {
        int advance = 0, bearing = 0;
        stbtt_GetCodepointHMetrics(&info_, codepoint, &advance, &bearing);
        const int kern = next != 0 ? stbtt_GetCodepointKernAdvance(&info_, codepoint, next) : 0;
        return (advance + kern) * scale(size);
    }
    // The glyph at this size, shifted right by `quarter` quarters of a pixel.
    const Glyph& glyph(int codepoint, double size, int quarter) {
        const auto key = std::make_tuple(codepoint, std::lround(size * 64), quarter);
        const auto found = cache_.find(key);
        if (found != cache_.end()) return found->second;
        Glyph g;
        const float s = scale(size), shift = quarter / 4.0f;
        int x1 = 0, y1 = 0;
        stbtt_GetCodepointBitmapBoxSubpixel(&info_, codepoint, s, s, shift, 0.0f, &g.x0, &g.y0, &x1, &y1);
        g.width = x1 - g.x0, g.height = y1 - g.y0;
        if (g.width > 0 && g.height > 0) {
            g.coverage.assign(static_cast<std::size_t>(g.width * g.height), 0);
            stbtt_MakeCodepointBitmapSubpixel(&info_, g.coverage.data(), g.width, g.height, g.width, s, s, shift, 0.0f,
                                              codepoint);
        }
        return cache_.emplace(key, std::move(g)).first->second;
    }
    SpinLock lock;  // editors of several instances may draw on their own threads

private:
    Typeface() { stbtt_InitFont(&info_, editorFontData, stbtt_GetFontOffsetForIndex(editorFontData, 0)); }
    float scale(double size) { return stbtt_ScaleForPixelHeight(&info_, static_cast<float>(size)); }
    stbtt_fontinfo info_{};
    std::map<std::tuple<int, long, int>, Glyph> cache_;
};

}  // namespace

double Canvas::textWidth(const std::string& s, double size) {
    Typeface& face = Typeface::instance();
    std::lock_guard<SpinLock> guard(face.lock);
    double width = 0;
    for (std::size_t i = 0; i < s.size(); ++i)
        width += face.advance(static_cast<unsigned char>(s[i]), i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0, size);
    return width;
}

double Canvas::text(double x, double y, const std::string& s, double size, Color c, Align align) {
    const double width = textWidth(s, size);
    if (align == Align::Centre) x -= width / 2;
    if (align == Align::Right) x -= width;
    Typeface& face = Typeface::instance();
    std::lock_guard<SpinLock> guard(face.lock);
    const int baseline = static_cast<int>(std::lround(y));
    double pen = x;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const int code = static_cast<unsigned char>(s[i]);
        const int whole = static_cast<int>(std::floor(pen));
        const int quarter = std::clamp(static_cast<int>((pen - whole) * 4), 0, 3);
        const Glyph& g = face.glyph(code, size, quarter);
        for (int row = 0; row < g.height; ++row)
            for (int col = 0; col < g.width; ++col) {
                const std::uint8_t cover = g.coverage[static_cast<std::size_t>(row * g.width + col)];
                if (cover) blend(whole + g.x0 + col, baseline + g.y0 + row, c, cover / 255.0);
            }
        pen += face.advance(code, i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0, size);
    }
    return width;
}

}  // namespace editor
