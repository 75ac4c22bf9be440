#include "editor/canvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace editor {

namespace {

// Whether a point lies a pixel or more outside the annulus from `inner` to `outer` about a
// centre: its coverage is then nothing, which the square of its distance tells without the hypot
// (most pixels of a round shape's box are such).
bool clearOf(double dx, double dy, double inner, double outer) {
    const double square = dx * dx + dy * dy;
    return square >= (outer + 1) * (outer + 1) || (inner > 1 && square <= (inner - 1) * (inner - 1));
}

}  // namespace

Canvas::Canvas(int width, int height, Color background)
    : width_(std::max(width, 1)), height_(std::max(height, 1)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4) {
    for (std::size_t i = 0; i < pixels_.size(); i += 4) {
        pixels_[i] = background.r, pixels_[i + 1] = background.g, pixels_[i + 2] = background.b;
        pixels_[i + 3] = background.a;
    }
}

Color Canvas::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {0, 0, 0, 0};
    const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) * 4;
    return {pixels_[i], pixels_[i + 1], pixels_[i + 2], pixels_[i + 3]};
}

void Canvas::blend(int x, int y, Color c, double coverage) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || !(coverage > 0)) return;
    std::uint8_t* p = &pixels_[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) * 4];
    if (coverage >= 1.0 && c.a == 255) {  // what the mix below gives, without its rounding
        p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 255;
        return;
    }
    const double alpha = std::min(coverage, 1.0) * c.a / 255.0;
    auto mix = [alpha](std::uint8_t under, std::uint8_t over) {
        return static_cast<std::uint8_t>(std::lround(under + (over - under) * alpha));
    };
    p[0] = mix(p[0], c.r), p[1] = mix(p[1], c.g), p[2] = mix(p[2], c.b);
    p[3] = static_cast<std::uint8_t>(std::lround(p[3] + (255 - p[3]) * alpha));
}

template <class Distance, class Inside>
void Canvas::shape(double x0, double y0, double x1, double y1, Color c, Distance distance, Inside inside) {
    const int left = std::max(0, static_cast<int>(std::floor(x0)) - 1);
    const int top = std::max(0, static_cast<int>(std::floor(y0)) - 1);
    const int right = std::min(width_ - 1, static_cast<int>(std::ceil(x1)) + 1);
    const int bottom = std::min(height_ - 1, static_cast<int>(std::ceil(y1)) + 1);
    for (int y = top; y <= bottom; ++y) {
        // The span a pixel in from what `inside` answers, so that rounding cannot matter there;
        // only an opaque colour covers a pixel wholly.
        const auto [lo, hi] = inside(y + 0.5);
        const bool solid = c.a == 255 && lo + 1 <= hi - 1;
        const int from = solid ? std::max(left, static_cast<int>(std::ceil(lo + 0.5))) : right + 1;
        const int to = solid ? std::min(right, static_cast<int>(std::floor(hi - 1.5))) : right;
        std::uint8_t* row = &pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) * 4];
        for (int x = left; x <= right; ++x) {
            if (x >= from && x <= to) {
                std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
                p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 255;
                continue;
            }
            // A pixel's coverage from the distance of its centre to the edge.
            const double d = distance(x + 0.5, y + 0.5);
            blend(x, y, c, std::clamp(0.5 - d, 0.0, 1.0));
        }
    }
}

void Canvas::fillRect(double x, double y, double w, double h, Color c) { fillRoundRect(x, y, w, h, 0.0, c); }

void Canvas::fillRoundRect(double x, double y, double w, double h, double radius, Color c) {
    const double cx = x + w / 2, cy = y + h / 2, hx = w / 2 - radius, hy = h / 2 - radius;
    // Inside where both offsets from the straight part are within min(0, radius - 1/2).
    const double reach = std::min(0.0, radius - 0.5);
    shape(
        x, y, x + w, y + h, c,
        [=](double px, double py) {
            const double qx = std::fabs(px - cx) - hx, qy = std::fabs(py - cy) - hy;
            // hypot of a point on an axis is exact, so most pixels need none
            const double outside = qx <= 0.0 ? std::max(qy, 0.0) : qy <= 0.0 ? qx : std::hypot(qx, qy);
            return outside + std::min(std::max(qx, qy), 0.0) - radius;
        },
        [=](double py) {
            if (std::fabs(py - cy) - hy > reach - 1) return std::pair{1.0, 0.0};
            return std::pair{cx - hx - reach, cx + hx + reach};
        });
}

void Canvas::fillCircle(double cx, double cy, double radius, Color c) {
    shape(
        cx - radius, cy - radius, cx + radius, cy + radius, c,
        [=](double px, double py) {
            const double dx = px - cx, dy = py - cy;
            if (clearOf(dx, dy, 0.0, radius)) return 1.0;        // a pixel or more outside
            if (clearOf(dx, dy, radius, INFINITY)) return -1.0;  // a pixel or more inside: covered
            return std::hypot(dx, dy) - radius;
        },
        [=](double py) {  // within radius - 1 of the centre
            const double dy = py - cy, inner = radius - 1;
            if (inner <= 0 || std::fabs(dy) >= inner) return std::pair{1.0, 0.0};
            const double half = std::sqrt(inner * inner - dy * dy);
            return std::pair{cx - half, cx + half};
        });
}

void Canvas::ring(double cx, double cy, double radius, double thickness, Color c) {
    const double outer = radius + thickness / 2;
    shape(cx - outer, cy - outer, cx + outer, cy + outer, c,
          [=](double px, double py) {
              if (clearOf(px - cx, py - cy, radius - thickness / 2, outer)) return 1.0;
              return std::fabs(std::hypot(px - cx, py - cy) - radius) - thickness / 2;
          });
}

void Canvas::arc(double cx, double cy, double radius, double thickness, double a0, double a1, Color c) {
    if (a1 < a0) std::swap(a0, a1);
    const double outer = radius + thickness / 2;
    // The ends are round: the distance to the nearer end point where the angle is outside.
    const double e0x = cx + radius * std::cos(a0), e0y = cy - radius * std::sin(a0);
    const double e1x = cx + radius * std::cos(a1), e1y = cy - radius * std::sin(a1);
    shape(cx - outer, cy - outer, cx + outer, cy + outer, c, [=](double px, double py) {
        // the round ends lie within the ring's width too
        if (clearOf(px - cx, py - cy, radius - thickness / 2, outer)) return 1.0;
        double angle = std::atan2(cy - py, px - cx);
        while (angle < a0) angle += 2 * std::numbers::pi;
        if (angle <= a1) return std::fabs(std::hypot(px - cx, py - cy) - radius) - thickness / 2;
        return std::min(std::hypot(px - e0x, py - e0y), std::hypot(px - e1x, py - e1y)) - thickness / 2;
    });
}

void Canvas::line(double x0, double y0, double x1, double y1, double thickness, Color c) {
    const double dx = x1 - x0, dy = y1 - y0, length2 = dx * dx + dy * dy, half = thickness / 2;
    shape(std::min(x0, x1) - half, std::min(y0, y1) - half, std::max(x0, x1) + half, std::max(y0, y1) + half, c,
          [=](double px, double py) {
              const double t = length2 > 0 ? std::clamp(((px - x0) * dx + (py - y0) * dy) / length2, 0.0, 1.0) : 0.0;
              return std::hypot(px - (x0 + t * dx), py - (y0 + t * dy)) - half;
          });
}

}  // namespace editor
