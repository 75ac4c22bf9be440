#include "tools/vstrender/scope.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace vstrender {

namespace {

constexpr int kMeterHeight = 48;

struct Rgb {
    std::uint8_t r, g, b;
};

// 3x5 glyphs for the correlation read-out, one row per 3 bits.
const char* glyph(char c) {
    switch (c) {
        case '0': return "111101101101111";
        case '1': return "010110010010111";
        case '2': return "111001111100111";
        case '3': return "111001111001111";
        case '4': return "101101111001001";
        case '5': return "111100111001111";
        case '6': return "111100111101111";
        case '7': return "111001001001001";
        case '8': return "111101111101111";
        case '9': return "111101111001111";
        case '+': return "000010111010000";
        case '-': return "000000111000000";
        case '.': return "000000000000010";
        case 'c': return "000111100100111";
        case 'o': return "000111101101111";
        case 'r': return "000111100100100";
        default: return "000000000000000";
    }
}

class Image {
public:
    Image(int width, int height)
        : width_(width), height_(height), pixels_(std::size_t(width) * height, Rgb{10, 12, 16}) {}
    void set(int x, int y, Rgb c) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[std::size_t(y) * width_ + x] = c;
    }
    void text(int x, int y, const std::string& s, int scale, Rgb c) {
        for (char ch : s) {
            const char* g = glyph(ch);
            for (int row = 0; row < 5; ++row)
                for (int col = 0; col < 3; ++col)
                    if (g[row * 3 + col] == '1')
                        for (int dy = 0; dy < scale; ++dy)
                            for (int dx = 0; dx < scale; ++dx) set(x + col * scale + dx, y + row * scale + dy, c);
            x += 4 * scale;
        }
    }
    bool write(const std::string& path) const {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return false;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        bool ok = png && info && setjmp(png_jmpbuf(png)) == 0;
        if (ok) {
            png_init_io(png, file);
            png_set_IHDR(png, info, static_cast<png_uint_32>(width_), static_cast<png_uint_32>(height_), 8,
                         PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, info);
            for (int y = 0; y < height_; ++y)
                png_write_row(png, reinterpret_cast<png_const_bytep>(&pixels_[std::size_t(y) * width_]));
            png_write_end(png, nullptr);
        }
        png_destroy_write_struct(&png, &info);
        return std::fclose(file) == 0 && ok;
    }

private:
    int width_, height_;
    std::vector<Rgb> pixels_;
};

}  // namespace

void Scope::plot(double left, double right) {
    if (!std::isfinite(left) || !std::isfinite(right)) return;
    // Rotated by 45 degrees: mid (L + R) up, side (R - L) to the right; full scale at the rim.
    const double mid = (left + right) * 0.5, side = (right - left) * 0.5;
    const int x = static_cast<int>(std::lround((side + 1.0) * 0.5 * (Size - 1)));
    const int y = static_cast<int>(std::lround((1.0 - mid) * 0.5 * (Size - 1)));
    if (x >= 0 && y >= 0 && x < Size && y < Size) ++hits_[std::size_t(y) * Size + x];
}

bool Scope::writePng(const std::string& path, double correlation, std::string& error) const {
    Image image(Size, Size + kMeterHeight);
    const Rgb grid{45, 50, 60};
    const int c = Size / 2;
    for (int i = 0; i < Size; ++i) {
        image.set(c, i, grid);
        image.set(i, c, grid);
        image.set(i, i, Rgb{30, 34, 42});             // the left channel alone
        image.set(i, Size - 1 - i, Rgb{30, 34, 42});  // the right channel alone
    }
    for (int a = 0; a < 2000; ++a) {
        const double t = a * 2 * M_PI / 2000;
        image.set(c + static_cast<int>(std::lround(std::cos(t) * (c - 1))),
                  c + static_cast<int>(std::lround(std::sin(t) * (c - 1))), grid);
    }
    const std::uint32_t most = *std::max_element(hits_.begin(), hits_.end());
    const double scale = most > 0 ? 1.0 / std::log1p(static_cast<double>(most)) : 0.0;
    for (int y = 0; y < Size; ++y)
        for (int x = 0; x < Size; ++x) {
            const std::uint32_t n = hits_[std::size_t(y) * Size + x];
            if (n == 0) continue;
            const double level = 0.25 + 0.75 * std::log1p(static_cast<double>(n)) * scale;
            image.set(x, y,
                      Rgb{static_cast<std::uint8_t>(60 * level), static_cast<std::uint8_t>(255 * level),
                          static_cast<std::uint8_t>(120 * level)});
        }

    // Correlation meter: red on the left (opposite phase), green on the right (mono).
    const int top = Size + 8, bottom = Size + 24;
    for (int x = 16; x < Size - 16; ++x) {
        const double v = (x - 16) / double(Size - 33) * 2 - 1;
        const Rgb shade = v < 0 ? Rgb{static_cast<std::uint8_t>(90 - 60 * v), 40, 40}
                                : Rgb{40, static_cast<std::uint8_t>(60 + 100 * v), 60};
        for (int y = top; y < bottom; ++y) image.set(x, y, shade);
    }
    const double clamped = std::clamp(std::isfinite(correlation) ? correlation : 0.0, -1.0, 1.0);
    const int marker = 16 + static_cast<int>(std::lround((clamped + 1) / 2 * (Size - 33)));
    for (int y = top - 4; y < bottom + 4; ++y)
        for (int dx = -1; dx <= 1; ++dx) image.set(marker + dx, y, Rgb{255, 255, 255});
    char readout[32];
    std::snprintf(readout, sizeof readout, "corr %+.2f", correlation);
    image.text(16, Size + 30, readout, 3, Rgb{220, 220, 220});

    if (!image.write(path)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace vstrender
