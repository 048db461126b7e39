#include "ui/mapview/LineLabels.h"

#include <QLineF>
#include <QTransform>

#include <algorithm>
#include <cmath>

#include "common/CFormat.h"

namespace vellumar::ui::mapview {
namespace {

// The point at distance s along a polyline whose cumulative vertex distances are given.
QPointF pointAlong(const QPolygonF& line, const std::vector<double>& along, double s) {
  if (s <= 0) return line.front();
  const auto end = std::lower_bound(along.begin() + 1, along.end(), s);
  if (end == along.end()) return line.back();
  const auto k = static_cast<std::size_t>(end - along.begin());
  const double piece = along[k] - along[k - 1];
  const double t = piece > 0 ? (s - along[k - 1]) / piece : 0.0;
  const QPointF a = line[static_cast<qsizetype>(k - 1)];
  const QPointF b = line[static_cast<qsizetype>(k)];
  return a + (b - a) * t;
}

}  // namespace

bool LineLabelPlacer::free(const QRectF& box) const {
  if (!area_.contains(box)) return false;
  const QRectF kept = box.adjusted(-kGap, -kGap, kGap, kGap);
  for (const LineLabel& label : labels_) {
    if (label.box.intersects(kept)) return false;
  }
  return true;
}

void LineLabelPlacer::place(const QPolygonF& line, const std::string& text, std::uint32_t color) {
  if (line.size() < 2) return;
  std::vector<double> along(static_cast<std::size_t>(line.size()), 0.0);
  for (qsizetype k = 1; k < line.size(); ++k) {
    along[static_cast<std::size_t>(k)] =
        along[static_cast<std::size_t>(k - 1)] + QLineF(line[k - 1], line[k]).length();
  }
  const double total = along.back();
  const double width = text_.width(text) + 2.0;
  const double height = text_.height;
  if (total < width * 1.5) return;
  const double first = total < kSpacing ? total / 2 : kSpacing / 2;
  for (double s = first; s + width / 2 <= total; s += kSpacing) {
    if (s < width / 2) continue;
    const QPointF from = pointAlong(line, along, s - width / 2);
    const QPointF to = pointAlong(line, along, s + width / 2);
    // Where the line bends sharply under the text, the text would leave it.
    if (QLineF(from, to).length() < 0.85 * width) continue;
    double angle = std::atan2(to.y() - from.y(), to.x() - from.x()) * 180.0 / M_PI;
    if (angle > 90) angle -= 180;
    if (angle < -90) angle += 180;
    const QPointF centre = pointAlong(line, along, s);
    QTransform turn;
    turn.translate(centre.x(), centre.y());
    turn.rotate(angle);
    const QRectF box = turn.mapRect(QRectF(-width / 2, -height / 2, width, height));
    if (!free(box)) continue;
    labels_.push_back({text, centre, angle, box, color});
  }
}

std::string levelLabel(double value) {
  return cformat("%.6g", value);
}

}  // namespace vellumar::ui::mapview
