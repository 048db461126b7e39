#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vellumar::ui {

// World rectangle shown by the map view.
struct WorldBounds {
  double xmin = 0.0;
  double xmax = 0.0;
  double ymin = 0.0;
  double ymax = 0.0;
  bool empty = true;

  // Widens an axis whose minimum equals its maximum by 0.1 on each side.
  void widenDegenerateAxes();
};

// A zoom rectangle as dragged: two corners in world units, in any order.
struct ZoomRect {
  double x1, y1, x2, y2;
};

// The bounds of the top zoom rectangle (each axis from its smaller to its larger corner), widened
// where degenerate.
WorldBounds zoomedBounds(const ZoomRect& zoom);

// Label scale of an axis range r: starting from 1e-5, multiplied by 10 while it is below r. The
// tick step is a tenth of it.
double labelScale(double range);
// The printf format of the axis labels of range r: "%.6lf" for tiny ranges, else one decimal more
// than the remaining count of the scale search.
std::string labelFormat(double range);
std::string formatLabel(double value, double range);

// Ticks strictly inside (min, max) at the multiples of the step, from the first one above min.
std::vector<double> tickPositions(double min, double max, double step);

// Rounds to the nearest pixel, halves upward.
int nearestPixel(double value);

// The plot rectangle inside the client area and the mapping between world and pixels. The plot
// keeps the aspect ratio of the world bounds.
struct MapLayout {
  bool drawable = false;  // false when the client area is narrower or lower than 21 pixels
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  WorldBounds world;

  int column(double x) const;
  int row(double y) const;
  // World coordinates of a pixel position (the inverse of column and row, without rounding).
  double worldX(double pixelX) const;
  double worldY(double pixelY) const;
  bool insidePlot(double pixelX, double pixelY) const;
};

// What the layout needs of the window's font.
struct TextMetrics {
  int height = 0;
  std::function<int(const std::string&)> width;
};

// Lays out the plot for a client area of clientWidth x clientHeight. For a grid view
// gridLargestValue holds the grid's largest value (the legend needs room for its label).
MapLayout computeLayout(int clientWidth, int clientHeight, const WorldBounds& world,
                        const TextMetrics& text, const double* gridLargestValue);

}  // namespace vellumar::ui
