#include "tools/vstrender/scope.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vstrender {

namespace {

constexpr int kPlot = 512;               // the scope's diameter in pixels
constexpr int kMargin = 56;              // around each plot, for its labels
constexpr int kPanel = kPlot + 2 * kMargin;
constexpr int kLineHeight = 16;          // of a title line, text at twice the glyph size
constexpr int kMeter = 76;               // the correlation meter and its ticks, under each plot

struct Rgb {
    std::uint8_t r, g, b;
};
const Rgb kBackground{10, 12, 16}, kGrid{52, 58, 70}, kText{215, 215, 215}, kDim{140, 146, 156},
    kOver{235, 60, 50};

// 3x5 glyphs, one row per 3 bits; letters are drawn as capitals.
const char* glyph(char c) {
    switch (std::toupper(static_cast<unsigned char>(c))) {
        case '0': return "111101101101111"; case '1': return "010110010010111"; case '2': return "111001111100111";
        case '3': return "111001111001111"; case '4': return "101101111001001"; case '5': return "111100111001111";
        case '6': return "111100111101111"; case '7': return "111001001001001"; case '8': return "111101111101111";
        case '9': return "111101111001111"; case 'A': return "010101111101101"; case 'B': return "110101110101110";
        case 'C': return "011100100100011"; case 'D': return "110101101101110"; case 'E': return "111100110100111";
        case 'F': return "111100110100100"; case 'G': return "011100101101011"; case 'H': return "101101111101101";
        case 'I': return "111010010010111"; case 'J': return "001001001101010"; case 'K': return "101101110101101";
        case 'L': return "100100100100111"; case 'M': return "101111111101101"; case 'N': return "110101101101101";
        case 'O': return "010101101101010"; case 'P': return "110101110100100"; case 'Q': return "010101101110011";
        case 'R': return "110101110101101"; case 'S': return "011100010001110"; case 'T': return "111010010010010";
        case 'U': return "101101101101111"; case 'V': return "101101101101010"; case 'W': return "101101111111101";
        case 'X': return "101101010101101"; case 'Y': return "101101010010010"; case 'Z': return "111001010100111";
        case '.': return "000000000000010"; case ',': return "000000000010100"; case ':': return "000010000010000";
        case '-': return "000000111000000"; case '+': return "000010111010000"; case '/': return "001001010100100";
        case '=': return "000111000111000"; case '(': return "010100100100010"; case ')': return "010001001001010";
        case '|': return "010010010010010"; case '_': return "000000000000111"; case '%': return "101001010100101";
        case '<': return "001010100010001"; case '>': return "100010001010100"; case '"': return "101101000000000";
        case '\'': return "010010000000000"; case '!': return "010010010000010";
        default: return "000000000000000";
    }
}

class Image {
public:
    Image(int width, int height) : width_(width), height_(height), pixels_(std::size_t(width) * height, kBackground) {}
    void set(int x, int y, Rgb c) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[std::size_t(y) * width_ + x] = c;
    }
    // Text with its left edge at x, or centred on x; scale 2 gives 8 pixels a character.
    void text(int x, int y, const std::string& s, Rgb c, bool centred = false, int scale = 2) {
        if (centred) x -= static_cast<int>(s.size()) * 2 * scale;
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
    void circle(int cx, int cy, double radius, Rgb c) {
        const int steps = std::max(64, static_cast<int>(radius * 8));
        for (int a = 0; a < steps; ++a) {
            const double t = a * 2 * M_PI / steps;
            set(cx + static_cast<int>(std::lround(std::cos(t) * radius)),
                cy + static_cast<int>(std::lround(std::sin(t) * radius)), c);
        }
    }
    bool write(const std::string& path, std::string& error) const {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
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
        if (std::fclose(file) != 0 || !ok) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

private:
    int width_, height_;
    std::vector<Rgb> pixels_;
};

double toDb(double amplitude) { return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : -INFINITY; }

std::string dbText(double db) {
    if (!std::isfinite(db)) return "-INF";
    char text[16];
    std::snprintf(text, sizeof text, "%+.1f", db);
    return text;
}

}  // namespace

void Scope::plot(double left, double right) {
    if (!std::isfinite(left) || !std::isfinite(right)) return;
    peakLeft_ = std::max(peakLeft_, std::fabs(left));
    peakRight_ = std::max(peakRight_, std::fabs(right));
    sumLL_ += left * left, sumRR_ += right * right, sumLR_ += left * right;
    if (std::fabs(left) > 1.0 || std::fabs(right) > 1.0) ++overloads_;
    // Mid (L + R)/2 up, side (R - L)/2 to the right: a point's place by angle and level.
    const double mid = (left + right) * 0.5, side = (right - left) * 0.5;
    const double radius = std::hypot(mid, side);
    peakRadius_ = std::max(peakRadius_, radius);
    if (radius <= 0.0) return;
    const double level = (toDb(radius) - LowestDb) / (HighestDb - LowestDb);
    if (level < 0.0) return;
    const int l = std::min(Levels - 1, static_cast<int>(level * Levels));
    const double angle = std::atan2(mid, side);  // 0 = +side (right), pi/2 = mid (up)
    const int a = static_cast<int>((angle + M_PI) / (2 * M_PI) * Angles) % Angles;
    ++hits_[std::size_t(a) * Levels + l];
}

double Scope::correlation() const {
    const double energy = std::sqrt(sumLL_ * sumRR_);
    return energy > 0.0 ? sumLR_ / energy : 0.0;
}

class ScopePicture {
public:
    // The level at the rim: the nearest of these at or above the loudest point, so a quiet
    // take fills the scope and a hot one shows where it passes 0 dBFS.
    static double rimDb(const Scope& s) {
        const double peak = toDb(s.peakRadius_);
        for (double db : {-60.0, -50.0, -40.0, -30.0, -20.0, -12.0, -6.0, 0.0, 6.0, 12.0, 24.0})
            if (peak <= db + 1e-9) return db;
        return 24.0;
    }
    static void draw(Image& image, int left, int top, const ScopePanel& panel, bool logarithmic) {
        const Scope& s = *panel.scope;
        Plot p;
        p.cx = left + kMargin + kPlot / 2, p.cy = top + kMargin + kPlot / 2;
        p.radius = kPlot / 2 - 1;
        p.rim = rimDb(s);
        p.bottom = logarithmic ? p.rim - 60.0 : -INFINITY;
        p.logarithmic = logarithmic;
        drawPoints(image, s, p);
        drawAxes(image, top, p);
        drawRings(image, p);
        drawCaption(image, left, top, panel, p);
        drawCorrelation(image, left, top, s.correlation());
    }

private:
    // Where the plot lies and how its levels run from the centre to the rim.
    struct Plot {
        int cx, cy;
        double radius, rim, bottom;
        bool logarithmic;
        // Where a level lies from the centre, in pixels.
        double placeOf(double db) const {
            return logarithmic ? std::max(0.0, (db - bottom) / (rim - bottom)) * radius
                               : std::pow(10.0, (db - rim) / 20.0) * radius;
        }
    };

    // The points: each pixel looks up the hits at its angle and level.
    static void drawPoints(Image& image, const Scope& s, const Plot& p) {
        std::uint32_t most = 1;
        for (std::uint32_t n : s.hits_) most = std::max(most, n);
        for (int y = -kPlot / 2; y < kPlot / 2; ++y)
            for (int x = -kPlot / 2; x < kPlot / 2; ++x) {
                const double r = std::hypot(x + 0.5, y + 0.5);
                if (r > p.radius) continue;
                const double db =
                    p.logarithmic ? p.bottom + r / p.radius * (p.rim - p.bottom) : p.rim + toDb(r / p.radius);
                const double level = (db - Scope::LowestDb) / (Scope::HighestDb - Scope::LowestDb);
                if (level < 0.0 || level >= 1.0) continue;
                const double angle = std::atan2(-(y + 0.5), x + 0.5);
                const int a = static_cast<int>((angle + M_PI) / (2 * M_PI) * Scope::Angles) % Scope::Angles;
                const std::uint32_t n = s.hits_[std::size_t(a) * Scope::Levels + static_cast<int>(level * Scope::Levels)];
                if (n == 0) continue;
                const double shade = 0.3 + 0.7 * std::log1p(n) / std::log1p(most);
                const bool over = db > 0.0;
                image.set(p.cx + x, p.cy + y, over ? Rgb{235, static_cast<std::uint8_t>(90 * shade), 60}
                                                   : Rgb{static_cast<std::uint8_t>(60 * shade),
                                                         static_cast<std::uint8_t>(255 * shade),
                                                         static_cast<std::uint8_t>(120 * shade)});
            }
    }

    // Axes: M up, S across, L and R on the diagonals.
    static void drawAxes(Image& image, int top, const Plot& p) {
        const int cx = p.cx, cy = p.cy, diagonal = static_cast<int>(p.radius * 0.7071);
        for (int i = -kPlot / 2; i <= kPlot / 2; ++i) {
            image.set(cx, cy + i, kGrid);
            image.set(cx + i, cy, kGrid);
            if (std::abs(i) < p.radius * 0.7071) image.set(cx + i, cy + i, kGrid), image.set(cx + i, cy - i, kGrid);
        }
        image.text(cx, top + kMargin - 16, "M", kText, true);
        image.text(cx + kPlot / 2 + 8, cy - 4, "S", kText);
        image.text(cx - kPlot / 2 - 18, cy - 4, "-S", kText);
        image.text(cx - diagonal - 18, cy - diagonal - 18, "L", kText);
        image.text(cx + diagonal + 10, cy - diagonal - 18, "R", kText);
    }

    // The level scale: rings labelled in dBFS, and 0 dBFS in red where the rim is above it.
    static void drawRings(Image& image, const Plot& p) {
        for (double step : {0.0, -6.0, -12.0, -20.0, -40.0}) {
            const double db = p.rim + step;
            const double r = p.placeOf(db);
            if (r < 12) continue;
            const bool zero = std::fabs(db) < 1e-9;
            image.circle(p.cx, p.cy, r, zero && p.rim > 0 ? kOver : kGrid);
            image.text(p.cx + static_cast<int>(r * 0.7071) + 3, p.cy + static_cast<int>(r * 0.7071) + 3, dbText(db),
                       zero && p.rim > 0 ? kOver : kDim);
        }
        if (p.rim > 0.0) {
            const double r = p.placeOf(0.0);
            image.circle(p.cx, p.cy, r, kOver);
            image.circle(p.cx, p.cy, r + 1, kOver);
        }
    }

    // Caption, peaks and overloads over the plot.
    static void drawCaption(Image& image, int left, int top, const ScopePanel& panel, const Plot& p) {
        const Scope& s = *panel.scope;
        image.text(left + 8, top + 4, panel.caption, kText);
        char line[160];
        std::snprintf(line, sizeof line, "PEAK L %s R %s DBFS  RIM %s DBFS%s", dbText(toDb(s.peakLeft_)).c_str(),
                      dbText(toDb(s.peakRight_)).c_str(), dbText(p.rim).c_str(), p.logarithmic ? " LOG" : "");
        image.text(left + 8, top + 20, line, kDim);
        if (s.overloads_ > 0) {
            std::snprintf(line, sizeof line, "OVER 0 DBFS: %llu SAMPLES", static_cast<unsigned long long>(s.overloads_));
            image.text(left + kPanel - 8 - static_cast<int>(std::strlen(line)) * 8, top + 4, line, kOver);
        }
    }

    // The correlation meter, ticked at -1, -0.5, 0, +0.5 and +1.
    static void drawCorrelation(Image& image, int left, int top, double correlation) {
        const int meterTop = top + 2 * kMargin + kPlot, x0 = left + kMargin, x1 = left + kMargin + kPlot;
        for (int x = x0; x <= x1; ++x) {
            const double v = (x - x0) / double(x1 - x0) * 2 - 1;
            const Rgb shade = v < 0 ? Rgb{static_cast<std::uint8_t>(90 - 60 * v), 40, 40}
                                    : Rgb{40, static_cast<std::uint8_t>(60 + 100 * v), 60};
            for (int y = meterTop; y < meterTop + 14; ++y) image.set(x, y, shade);
        }
        for (int k = 0; k <= 4; ++k) {
            const int x = x0 + k * (x1 - x0) / 4;
            for (int y = meterTop + 14; y < meterTop + 20; ++y) image.set(x, y, kText);
            const char* labels[] = {"-1", "-0.5", "0", "+0.5", "+1"};
            image.text(x, meterTop + 24, labels[k], kDim, true);
        }
        const double c = std::clamp(correlation, -1.0, 1.0);
        const int marker = x0 + static_cast<int>(std::lround((c + 1) / 2 * (x1 - x0)));
        for (int y = meterTop - 4; y < meterTop + 18; ++y)
            for (int dx = -1; dx <= 1; ++dx) image.set(marker + dx, y, Rgb{255, 255, 255});
        char line[64];
        std::snprintf(line, sizeof line, "CORRELATION %+.2f", correlation);
        image.text(x0 + (x1 - x0) / 2, meterTop + 38, line, kText, true);
    }
};

bool writeScopePicture(const std::string& path, const std::vector<std::string>& title,
                       const std::vector<ScopePanel>& panels, bool logarithmic, std::string& error) {
    const int titleHeight = 12 + static_cast<int>(title.size()) * kLineHeight;
    Image image(static_cast<int>(panels.size()) * kPanel, titleHeight + kPanel + kMeter);
    for (std::size_t i = 0; i < title.size(); ++i)
        image.text(8, 8 + static_cast<int>(i) * kLineHeight, title[i], i == 0 ? kText : kDim);
    for (std::size_t p = 0; p < panels.size(); ++p)
        ScopePicture::draw(image, static_cast<int>(p) * kPanel, titleHeight, panels[p], logarithmic);
    return image.write(path, error);
}

}  // namespace vstrender
