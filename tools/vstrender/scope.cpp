#include "tools/vstrender/scope.h"

#include "tools/vstrender/png_file.h"

namespace vstrender {

namespace {

using namespace editor::palette;

constexpr int kPlot = 512;          // the scope's diameter in pixels
constexpr int kMargin = 56;         // around each plot, for its labels
constexpr int kPanel = kPlot + 2 * kMargin;
constexpr int kLineHeight = 16;     // of a title line
constexpr int kMeter = 76;          // the correlation meter and its ticks, under each plot

void drawPanel(editor::Canvas& canvas, int left, int top, const ScopePanel& panel, bool logarithmic) {
    const Scope& s = *panel.scope;
    const double rim = editor::rimDb(s.peakRadius());
    editor::ScopeStyle style;
    style.logarithmic = logarithmic;
    editor::drawScope(canvas, left + kMargin, top + kMargin, kPlot, s, rim, style);
    canvas.text(left + 8, top + 16, panel.caption, 13, kText);
    const std::string peaks = "PEAK L " + editor::dbText(editor::toDb(s.peakLeft())) + " R " +
                              editor::dbText(editor::toDb(s.peakRight())) + " DBFS  RIM " + editor::dbText(rim) +
                              " DBFS" + (logarithmic ? " LOG" : "");
    canvas.text(left + 8, top + 34, peaks, 11, kDim);
    if (s.overloads() > 0)
        canvas.text(left + kPanel - 8, top + 16,
                    "OVER 0 DBFS: " + std::to_string(static_cast<unsigned long long>(s.overloads())) + " SAMPLES", 12,
                    kOver, editor::Align::Right);
    editor::drawCorrelation(canvas, left + kMargin, top + 2 * kMargin + kPlot, kPlot, s.correlation(), style);
}

}  // namespace

bool writeScopePicture(const std::string& path, const std::vector<std::string>& title,
                       const std::vector<ScopePanel>& panels, bool logarithmic, std::string& error) {
    const int titleHeight = 12 + static_cast<int>(title.size()) * kLineHeight;
    editor::Canvas canvas(static_cast<int>(panels.size()) * kPanel, titleHeight + kPanel + kMeter, kBackground);
    for (std::size_t i = 0; i < title.size(); ++i)
        canvas.text(10, 20 + static_cast<int>(i) * kLineHeight, title[i], i == 0 ? 13 : 11, i == 0 ? kText : kDim);
    for (std::size_t p = 0; p < panels.size(); ++p)
        drawPanel(canvas, static_cast<int>(p) * kPanel, titleHeight, panels[p], logarithmic);
    return writePng(path, canvas.width(), canvas.height(), canvas.pixels(), error, /*alpha=*/false);
}

}  // namespace vstrender
