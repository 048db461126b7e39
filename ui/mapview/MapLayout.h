#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vellumar::ui::mapview {

// World rectangle shown by the map view.
struct WorldBounds {
  double xmin = 0.0;
  double xmax = 0.0;
  double ymin = 0.0;
  double ymax = 0.0;
  bool empty = true;

  // Widens an axis whose minimum equals its maximum by 0.1 on each side.
  void widenDegenerateAxes();
  bool contains(double x, double y) const {
    return x >= xmin && x <= xmax && y >= ymin && y <= ymax;
  }
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

// What the layout needs of the window's font.
struct TextMetrics {
  int height = 0;
  std::function<int(const std::string&)> width;
};

// A text placed in the window: its top-left corner and size in pixels.
struct PlacedText {
  std::string text;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool overlaps(const PlacedText& other, int gap) const;
};

// The plot rectangle inside the client area and the mapping between world and pixels. The plot
// takes the whole client area but for the axis labels, the legend (grid views) and the status
// line at the bottom. World units have the same size in pixels along both axes: the shown world
// extends the requested bounds on the shorter axis, centred, and by a few pixels on every side
// where points on the bounds must be drawn whole.
struct MapLayout {
  bool drawable = false;  // false when the client area is narrower or lower than 21 pixels
  int clientWidth = 0;
  int clientHeight = 0;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int statusTop = 0;  // the status line runs from here to the bottom of the client area
  WorldBounds world;  // what the plot shows

  int column(double x) const;
  int row(double y) const;
  // World coordinates of a pixel position (the inverse of column and row, without rounding).
  double worldX(double pixelX) const;
  double worldY(double pixelY) const;
  bool insidePlot(double pixelX, double pixelY) const;
  // World units per pixel.
  double pixelSize() const { return (world.xmax - world.xmin) / width; }
};

// Room the plot leaves around itself.
struct LayoutNeeds {
  int legendWidth = 0;  // the legend's width right of the plot (grid views), gap included
  int padding = 0;      // pixels between the requested bounds and the plot's edges
};

// Lays out the plot for a client area of clientWidth x clientHeight showing at least the
// requested world bounds.
MapLayout computeLayout(int clientWidth, int clientHeight, const WorldBounds& requested,
                        const TextMetrics& text, const LayoutNeeds& needs);

// The labels of both axes: the end labels (xmin and xmax under the plot's left and right edges,
// ymin and ymax beside its bottom and top) and those tick labels that fit between them. Tick
// labels are thinned to every 2nd, 5th, 10th, ... tick until none overlaps another or an end
// label; every label lies inside the client area.
std::vector<PlacedText> axisLabels(const MapLayout& layout, const TextMetrics& text);
// The ticks of both axes: x ticks along the bottom and top edges, y ticks along the sides.
std::vector<double> xTicks(const MapLayout& layout);
std::vector<double> yTicks(const MapLayout& layout);

// Printf-style formats of a reading: enough significant digits (at least 6) to tell apart values
// that differ by resolution, for values up to magnitude.
int significantDigits(double magnitude, double resolution);
std::string formatReading(double value, int digits);

}  // namespace vellumar::ui::mapview
