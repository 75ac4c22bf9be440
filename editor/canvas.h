// A picture in memory: straight RGBA pixels, anti-aliased shapes and text from the embedded
// font. The editor and the renderer's vectorscope draw into it; a window shell or a PNG writer
// takes the pixels as they are.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace editor {

struct Color {
    std::uint8_t r, g, b, a = 255;
};

enum class Align { Left, Centre, Right };

class Canvas {
public:
    Canvas(int width, int height, Color background);
    int width() const { return width_; }
    int height() const { return height_; }
    // Bytes R, G, B, A per pixel, row after row.
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }
    Color pixel(int x, int y) const;

    // Coordinates in pixels, fractions allowed; edges are anti-aliased.
    void fillRect(double x, double y, double w, double h, Color c);
    void fillRoundRect(double x, double y, double w, double h, double radius, Color c);
    void fillCircle(double cx, double cy, double radius, Color c);
    void ring(double cx, double cy, double radius, double thickness, Color c);
    // Angles in radians, counter-clockwise from the right (y upwards on screen), from a0 to a1.
    void arc(double cx, double cy, double radius, double thickness, double a0, double a1, Color c);
    void line(double x0, double y0, double x1, double y1, double thickness, Color c);
    // One pixel, covering it by `coverage` (0 to 1).
    void blend(int x, int y, Color c, double coverage);

    // Text from the embedded font at `size` pixels; y is the baseline. Answers the advance width.
    double text(double x, double y, const std::string& s, double size, Color c, Align align = Align::Left);
    static double textWidth(const std::string& s, double size);

private:
    // Covers every pixel of the box by what `distance` (signed, in pixels, negative inside) gives.
    // `inside`, for a row's pixel centres' y, answers a span of x that lies wholly inside the
    // shape (empty where lo > hi): opaque pixels there are written without asking `distance`.
    template <class Distance, class Inside>
    void shape(double x0, double y0, double x1, double y1, Color c, Distance distance, Inside inside);
    template <class Distance>
    void shape(double x0, double y0, double x1, double y1, Color c, Distance distance) {
        shape(x0, y0, x1, y1, c, distance, [](double) { return std::pair{1.0, 0.0}; });
    }

    int width_, height_;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace editor
