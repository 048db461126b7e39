#pragma once

#include <QPointF>
#include <QPolygonF>
#include <QRectF>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/mapview/MapLayout.h"

namespace vellumar::ui::mapview {

// A value written along a line: centred on a point of the line, turned along it and kept upright.
struct LineLabel {
  std::string text;
  QPointF centre;
  double angle = 0.0;  // degrees, clockwise on the screen, within [-90, 90]
  QRectF box;          // the screen rectangle the turned text covers, which no other label enters
  std::uint32_t color = 0;  // 0xRRGGBB, the line's
};

// Places the labels of isolines as contour maps print them: along each line at regular
// distances (a line shorter than the distance once, at its middle), only where the line runs
// straight enough under the text, inside the area, and never over a label placed before.
class LineLabelPlacer {
 public:
  static constexpr double kSpacing = 220.0;  // pixels of line between labels on one line
  static constexpr double kGap = 3.0;        // pixels kept free around every label

  LineLabelPlacer(const QRectF& area, TextMetrics text) : area_(area), text_(std::move(text)) {}

  // Labels a polyline in pixel coordinates with text wherever there is room.
  void place(const QPolygonF& line, const std::string& text, std::uint32_t color = 0);
  const std::vector<LineLabel>& labels() const { return labels_; }

 private:
  bool free(const QRectF& box) const;

  QRectF area_;
  TextMetrics text_;
  std::vector<LineLabel> labels_;
};

// The label of a level: its value with up to six significant digits, no trailing zeros.
std::string levelLabel(double value);

}  // namespace vellumar::ui::mapview
