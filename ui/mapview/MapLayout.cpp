#include "ui/mapview/MapLayout.h"

#include <algorithm>
#include <cmath>

#include "common/CFormat.h"

namespace vellumar::ui {

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

MapLayout computeLayout(int clientWidth, int clientHeight, const WorldBounds& world,
                        const TextMetrics& text, const double* gridLargestValue) {
  MapLayout layout;
  layout.world = world;
  if (clientWidth < 21 || clientHeight < 21 || world.empty) return layout;
  const double xRange = world.xmax - world.xmin;
  const double yRange = world.ymax - world.ymin;
  layout.top = text.height / 2 + 10;
  layout.left = text.width(formatLabel(world.ymax, yRange)) + 20;
  int available = 0;
  if (gridLargestValue != nullptr) {
    available = clientWidth - layout.left - text.width(cformat("%.2lf", *gridLargestValue)) - 70;
  } else {
    available = clientWidth - layout.left - text.width(formatLabel(world.xmax, xRange)) / 2 - 10;
  }
  const int availableHeight = clientHeight - 2 * text.height - 36 - layout.top;
  if (available < 1 || availableHeight < 1) return layout;
  const double k = yRange / xRange;
  if (static_cast<double>(available) / availableHeight * k > 1) {
    layout.width = nearestPixel(availableHeight / k);
    layout.height = availableHeight;
  } else {
    layout.width = available;
    layout.height = nearestPixel(available * k);
  }
  layout.drawable = layout.width > 0 && layout.height > 0;
  return layout;
}

}  // namespace vellumar::ui
