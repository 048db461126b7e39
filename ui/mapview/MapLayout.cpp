#include "ui/mapview/MapLayout.h"

#include <algorithm>
#include <cmath>

#include "common/CFormat.h"

namespace vellumar::ui::mapview {

void WorldBounds::widenDegenerateAxes() {
  if (xmin == xmax) {
    xmin -= 0.1;
    xmax += 0.1;
  }
  if (ymin == ymax) {
    ymin -= 0.1;
    ymax += 0.1;
  }
}

WorldBounds zoomedBounds(const ZoomRect& zoom) {
  WorldBounds bounds{std::min(zoom.x1, zoom.x2), std::max(zoom.x1, zoom.x2),
                     std::min(zoom.y1, zoom.y2), std::max(zoom.y1, zoom.y2), false};
  bounds.widenDegenerateAxes();
  return bounds;
}

namespace {

struct ScaleSearch {
  double scale = 1e-5;
  int count = 6;
};

ScaleSearch searchScale(double range) {
  ScaleSearch search;
  // Bounded so that an infinite or NaN range cannot loop for ever.
  for (int guard = 0; search.scale < range && guard < 400; ++guard) {
    search.scale *= 10;
    search.count = std::max(0, search.count - 1);
  }
  return search;
}

}  // namespace

double labelScale(double range) {
  return searchScale(range).scale;
}

std::string labelFormat(double range) {
  const ScaleSearch search = searchScale(range);
  const int decimals = search.count == 6 ? 6 : std::min(search.count + 1, 6);
  return "%." + std::to_string(decimals) + "lf";
}

std::string formatLabel(double value, double range) {
  return cformat(labelFormat(range).c_str(), value);
}

std::vector<double> tickPositions(double min, double max, double step) {
  std::vector<double> ticks;
  if (!(step > 0) || !(max > min)) return ticks;
  for (double k = std::floor(min / step) + 1; k * step < max && ticks.size() < 1000; ++k) {
    ticks.push_back(k * step);
  }
  return ticks;
}

int nearestPixel(double value) {
  return static_cast<int>(std::floor(value + 0.5));
}

int MapLayout::column(double x) const {
  return left + nearestPixel((x - world.xmin) * width / (world.xmax - world.xmin));
}

int MapLayout::row(double y) const {
  return top + height - nearestPixel((y - world.ymin) * height / (world.ymax - world.ymin));
}

double MapLayout::worldX(double pixelX) const {
  return world.xmin + (pixelX - left) * (world.xmax - world.xmin) / width;
}

double MapLayout::worldY(double pixelY) const {
  return world.ymin + (top + height - pixelY) * (world.ymax - world.ymin) / height;
}

bool MapLayout::insidePlot(double pixelX, double pixelY) const {
  return pixelX >= left && pixelX <= left + width && pixelY >= top && pixelY <= top + height;
}

bool PlacedText::overlaps(const PlacedText& other, int gap) const {
  return x < other.x + other.width + gap && other.x < x + width + gap &&
         y < other.y + other.height && other.y < y + height;
}

namespace {

constexpr int kFrameOverhang = 7;
constexpr int kLabelGap = 4;    // between the frame's overhang and the x labels
constexpr int kYLabelGap = 10;  // between the y labels and the plot
constexpr int kStatusPadding = 6;

// The requested bounds grown to a plot of width x height pixels: equal world units per pixel
// along both axes, centred, and padding pixels beyond the bounds on every side.
WorldBounds fitted(const WorldBounds& requested, int width, int height, int padding) {
  const double innerWidth = std::max(1, width - 2 * padding);
  const double innerHeight = std::max(1, height - 2 * padding);
  const double scale = std::max((requested.xmax - requested.xmin) / innerWidth,
                                (requested.ymax - requested.ymin) / innerHeight);
  const double cx = requested.xmin + (requested.xmax - requested.xmin) / 2;
  const double cy = requested.ymin + (requested.ymax - requested.ymin) / 2;
  return {cx - scale * width / 2, cx + scale * width / 2, cy - scale * height / 2,
          cy + scale * height / 2, false};
}

int clampTo(int value, int low, int high) {
  return std::max(low, std::min(value, high));
}

// Tick labels of one axis, thinned until no two overlap and none overlaps an end label.
std::vector<PlacedText> thinnedTicks(const std::vector<double>& ticks, double step,
                                     const std::function<PlacedText(double)>& place,
                                     const PlacedText& low, const PlacedText& high, int gap) {
  for (long long stride = 1;; stride *= 10) {
    for (const long long factor : {1LL, 2LL, 5LL}) {
      const long long every = stride * factor;
      std::vector<PlacedText> kept;
      bool fits = true;
      for (const double tick : ticks) {
        if (std::llround(tick / step) % every != 0) continue;
        PlacedText label = place(tick);
        if (label.overlaps(low, gap) || label.overlaps(high, gap)) continue;
        if (!kept.empty() && label.overlaps(kept.back(), gap)) {
          fits = false;
          break;
        }
        kept.push_back(std::move(label));
      }
      if (fits || kept.size() <= 1) return kept;
    }
  }
}

}  // namespace

MapLayout computeLayout(int clientWidth, int clientHeight, const WorldBounds& requested,
                        const TextMetrics& text, const LayoutNeeds& needs) {
  MapLayout layout;
  layout.clientWidth = clientWidth;
  layout.clientHeight = clientHeight;
  layout.world = requested;
  if (clientWidth < 21 || clientHeight < 21 || requested.empty) return layout;
  layout.statusTop = clientHeight - text.height - kStatusPadding;
  layout.top = text.height / 2 + kStatusPadding;
  const int belowPlot = kFrameOverhang + kLabelGap + text.height + kLabelGap;
  WorldBounds world = requested;
  // The margins depend on the labels of the shown world, which depends on the margins: the
  // second pass settles it.
  for (int pass = 0; pass < 2; ++pass) {
    const double xRange = world.xmax - world.xmin;
    const double yRange = world.ymax - world.ymin;
    const int yLabels = std::max(text.width(formatLabel(world.ymin, yRange)),
                                 text.width(formatLabel(world.ymax, yRange)));
    const int xLabelHalf = text.width(formatLabel(world.xmax, xRange)) / 2;
    layout.left = yLabels + kYLabelGap + kLabelGap;
    const int right = clientWidth - std::max(needs.legendWidth, xLabelHalf + kLabelGap);
    layout.width = right - layout.left;
    layout.height = layout.statusTop - belowPlot - layout.top;
    if (layout.width < 1 || layout.height < 1) return layout;
    world = fitted(requested, layout.width, layout.height, needs.padding);
  }
  layout.world = world;
  layout.drawable = true;
  return layout;
}

std::vector<double> xTicks(const MapLayout& layout) {
  const WorldBounds& w = layout.world;
  return tickPositions(w.xmin, w.xmax, labelScale(w.xmax - w.xmin) / 10);
}

std::vector<double> yTicks(const MapLayout& layout) {
  const WorldBounds& w = layout.world;
  return tickPositions(w.ymin, w.ymax, labelScale(w.ymax - w.ymin) / 10);
}

std::vector<PlacedText> axisLabels(const MapLayout& layout, const TextMetrics& text) {
  std::vector<PlacedText> labels;
  if (!layout.drawable) return labels;
  const WorldBounds& world = layout.world;
  const double xRange = world.xmax - world.xmin;
  const double yRange = world.ymax - world.ymin;
  const int labelTop = layout.top + layout.height + kFrameOverhang + kLabelGap;
  const auto xLabel = [&](double x) {
    PlacedText label{formatLabel(x, xRange), 0, labelTop, 0, text.height};
    label.width = text.width(label.text);
    label.x = clampTo(layout.column(x) - label.width / 2, 0, layout.clientWidth - label.width);
    return label;
  };
  const auto yLabel = [&](double y) {
    PlacedText label{formatLabel(y, yRange), 0, 0, 0, text.height};
    label.width = text.width(label.text);
    label.x = std::max(0, layout.left - kYLabelGap - label.width);
    label.y = clampTo(layout.row(y) - text.height / 2, 0, layout.statusTop - text.height);
    return label;
  };
  const PlacedText xmin = xLabel(world.xmin);
  const PlacedText xmax = xLabel(world.xmax);
  const PlacedText ymin = yLabel(world.ymin);
  const PlacedText ymax = yLabel(world.ymax);
  labels = {xmin, xmax, ymin, ymax};
  for (PlacedText& label : thinnedTicks(xTicks(layout), labelScale(xRange) / 10, xLabel, xmin, xmax,
                                        text.height / 2 + 2)) {
    labels.push_back(std::move(label));
  }
  for (PlacedText& label :
       thinnedTicks(yTicks(layout), labelScale(yRange) / 10, yLabel, ymin, ymax, 1)) {
    labels.push_back(std::move(label));
  }
  return labels;
}

int significantDigits(double magnitude, double resolution) {
  constexpr int kFewest = 6;
  constexpr int kMost = 15;
  if (!(magnitude > 0) || !(resolution > 0) || !std::isfinite(magnitude / resolution)) {
    return kFewest;
  }
  const int digits = static_cast<int>(std::ceil(std::log10(magnitude / resolution))) + 1;
  return std::clamp(digits, kFewest, kMost);
}

std::string formatReading(double value, int digits) {
  return cformat("%.*g", digits, value);
}

}  // namespace vellumar::ui::mapview
