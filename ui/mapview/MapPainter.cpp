#include "ui/mapview/MapPainter.h"

#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>

#include "engine/LinePacking.h"
#include "grid/Grid.h"
#include "grid/Surface.h"

namespace vellumar::ui::mapview {
namespace {

constexpr int kFrameOverhang = 7;
constexpr int kTickLength = 4;
constexpr int kDotRadius = 5;
constexpr int kMarkerRadius = 9;
constexpr int kLegendGap = 30;
constexpr int kBoxWidth = 20;
constexpr int kLegendLabelGap = 8;
constexpr int kLegendRightMargin = 6;
const QColor kOutline(140, 60, 20);
// Where a grid is blank the view shows its background.
constexpr QRgb kBackground = 0xFFFFFFFFu;

QColor rgb(std::uint32_t color) {
  return QColor((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF);
}

}  // namespace

QImage renderGridRaster(const grid::Grid& grid, const MapLayout& layout,
                        const ColorClasses& classes) {
  QImage image(layout.width, layout.height, QImage::Format_RGB32);
  image.fill(Qt::white);
  // Only the columns and rows over the grid are sampled.
  std::vector<double> xs;
  int firstColumn = -1;
  for (int c = 0; c < layout.width; ++c) {
    const double x = layout.worldX(layout.left + c);
    if (x < grid.left || x > grid.right) continue;
    if (firstColumn < 0) firstColumn = c;
    xs.push_back(x);
  }
  if (xs.empty()) return image;
  std::array<QRgb, ColorClasses::kCount> colors{};
  for (int k = 0; k < classes.classCount(); ++k) colors[k] = 0xFF000000u | classes.color(k);
  grid::SurfaceSampler sampler(grid, xs);
  std::vector<double> values(xs.size());
  for (int r = 0; r < layout.height; ++r) {
    const double y = layout.worldY(layout.top + r);
    if (y < grid.bottom || y > grid.top) continue;
    sampler.sampleRow(y, values.data());
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(r)) + firstColumn;
    for (std::size_t c = 0; c < values.size(); ++c) {
      line[c] = grid::isBlank(values[c]) ? kBackground : colors[classes.classOf(values[c])];
    }
  }
  return image;
}

int legendWidth(const ColorClasses& classes, const TextMetrics& text) {
  int widest = 0;
  for (const std::string& label : classes.boundLabels())
    widest = std::max(widest, text.width(label));
  return kLegendGap + kBoxWidth + kLegendLabelGap + widest + kLegendRightMargin;
}

LegendLayout legendLayout(const MapLayout& layout, const ColorClasses& classes,
                          const TextMetrics& text) {
  LegendLayout legend;
  if (!layout.drawable) return legend;
  const int boxHeight = layout.height / ColorClasses::kCount;
  const int boxLeft = layout.left + layout.width + kLegendGap;
  const int count = classes.classCount();
  for (int k = 0; k < count; ++k) {
    legend.boxes.push_back({boxLeft, layout.top + (ColorClasses::kCount - 1 - k) * boxHeight,
                            kBoxWidth, boxHeight, classes.color(k)});
  }
  // Bound i stands at the lower edge of box i; the maximum at the upper edge of the last box.
  const std::vector<std::string> texts = classes.boundLabels();
  const auto place = [&](int bound) {
    PlacedText label{texts[static_cast<std::size_t>(bound)], boxLeft + kBoxWidth + kLegendLabelGap,
                     0, 0, text.height};
    label.width = text.width(label.text);
    const int edge = layout.top + (ColorClasses::kCount - bound) * boxHeight;
    label.y = std::clamp(edge - text.height / 2, 0, std::max(0, layout.statusTop - text.height));
    return label;
  };
  const PlacedText maximum = place(count);
  for (int bound = 0; bound < count; ++bound) {
    PlacedText label = place(bound);
    if (label.overlaps(maximum, 0)) continue;
    if (!legend.labels.empty() && label.overlaps(legend.labels.back(), 0)) continue;
    legend.labels.push_back(std::move(label));
  }
  legend.labels.push_back(maximum);
  return legend;
}

QPointF MapPainter::pixel(double x, double y) const {
  return QPointF(layout_.column(x), layout_.row(y));
}

void MapPainter::text(const PlacedText& placed) {
  painter_.drawText(QRect(placed.x, placed.y, placed.width, placed.height),
                    Qt::AlignCenter | Qt::TextDontClip, QString::fromStdString(placed.text));
}

void MapPainter::raster(const QImage& image) {
  painter_.drawImage(QPoint(layout_.left, layout_.top), image);
}

void MapPainter::legend(const LegendLayout& legend) {
  painter_.setPen(Qt::black);
  for (const LegendLayout::Box& box : legend.boxes) {
    const QRect rect(box.x, box.y, box.width, box.height);
    painter_.fillRect(rect, rgb(box.color));
    painter_.drawRect(rect);
  }
  for (const PlacedText& label : legend.labels) text(label);
}

void MapPainter::dataPoints(const data::DATA& points) {
  if (!points.hasCoordinates()) return;
  painter_.setPen(QColor(255, 0, 0));
  painter_.setBrush(Qt::black);
  const auto xs = points.x();
  const auto ys = points.y();
  for (std::size_t i = 0; i < points.count(); ++i) {
    if (!layout_.world.contains(xs[i], ys[i])) continue;
    painter_.drawEllipse(pixel(xs[i], ys[i]), kDotRadius, kDotRadius);
  }
  painter_.setBrush(Qt::NoBrush);
}

void MapPainter::lines(const engine::Operand& lines) {
  painter_.setPen(QPen(QColor(0, 0, 255), 1));
  if (!lines.points().hasCoordinates()) return;
  const auto xs = lines.points().x();
  const auto ys = lines.points().y();
  QPolygonF polyline;
  engine::forEachPackedPart(lines, [&](engine::PackedPart part) {
    polyline.clear();
    for (std::size_t k = part.first; k < part.first + part.count; ++k) {
      const QPointF p = pixel(xs[k], ys[k]);
      // Consecutive vertices on the same pixel draw nothing new.
      if (polyline.isEmpty() || polyline.back() != p) polyline.append(p);
    }
    if (polyline.size() == 1) polyline.append(polyline.front());
    painter_.drawPolyline(polyline);
  });
}

void MapPainter::polygon(const engine::Operand& polygon) {
  if (!polygon.points().hasCoordinates()) return;
  const auto xs = polygon.points().x();
  const auto ys = polygon.points().y();
  QPainterPath path;
  path.setFillRule(Qt::OddEvenFill);
  engine::forEachPackedPart(polygon, [&](engine::PackedPart part) {
    QPolygonF ring;
    for (std::size_t k = part.first; k < part.first + part.count; ++k)
      addVertex(ring, xs[k], ys[k]);
    path.addPolygon(ring);
  });
  fillAndOutline(path, QColor(250, 150, 100));
}

void MapPainter::choropleth(const Choropleth& map, const ColorClasses& classes) {
  for (const Choropleth::Record& record : map.records()) {
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    for (const geometry::Line& line : record.rings.lines()) {
      QPolygonF ring;
      for (const geometry::Point& p : line.points()) addVertex(ring, p.x, p.y);
      path.addPolygon(ring);
    }
    // A record without a value is left in the background colour, as a blank node is.
    fillAndOutline(path, record.value ? rgb(classes.color(classes.classOf(*record.value)))
                                      : QColor(Qt::white));
  }
}

void MapPainter::addVertex(QPolygonF& ring, double x, double y) const {
  const QPointF p = pixel(x, y);
  if (ring.isEmpty() || ring.back() != p) ring.append(p);
}

void MapPainter::fillAndOutline(const QPainterPath& path, const QColor& fill) {
  painter_.save();
  painter_.setClipRect(QRect(layout_.left, layout_.top, layout_.width + 1, layout_.height + 1));
  painter_.fillPath(path, fill);
  painter_.strokePath(path, QPen(kOutline, 1));
  painter_.restore();
}

void MapPainter::margins() {
  const int right = layout_.left + layout_.width + 1;
  const int bottom = layout_.top + layout_.height + 1;
  const int w = layout_.clientWidth;
  const int h = layout_.clientHeight;
  painter_.fillRect(0, 0, w, layout_.top, Qt::white);
  painter_.fillRect(0, bottom, w, h - bottom, Qt::white);
  painter_.fillRect(0, 0, layout_.left, h, Qt::white);
  painter_.fillRect(right, 0, w - right, h, Qt::white);
}

void MapPainter::frameAndAxes(const std::vector<PlacedText>& labels) {
  const int left = layout_.left;
  const int top = layout_.top;
  const int right = left + layout_.width;
  const int bottom = top + layout_.height;
  painter_.setPen(Qt::black);
  painter_.drawLine(left - kFrameOverhang, top, right + kFrameOverhang, top);
  painter_.drawLine(left - kFrameOverhang, bottom, right + kFrameOverhang, bottom);
  painter_.drawLine(left, top - kFrameOverhang, left, bottom + kFrameOverhang);
  painter_.drawLine(right, top - kFrameOverhang, right, bottom + kFrameOverhang);
  for (const double x : xTicks(layout_)) {
    const int column = layout_.column(x);
    painter_.drawLine(column, top, column, top + kTickLength);
    painter_.drawLine(column, bottom - kTickLength, column, bottom);
  }
  for (const double y : yTicks(layout_)) {
    const int row = layout_.row(y);
    painter_.drawLine(left, row, left + kTickLength, row);
    painter_.drawLine(right - kTickLength, row, right, row);
  }
  for (const PlacedText& label : labels) text(label);
}

void MapPainter::marker(double x, double y) {
  const QPointF at = pixel(x, y);
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing);
  painter_.setBrush(Qt::NoBrush);
  painter_.setPen(QPen(Qt::white, 4));
  painter_.drawEllipse(at, kMarkerRadius, kMarkerRadius);
  painter_.setPen(QPen(QColor(0, 160, 255), 2));
  painter_.drawEllipse(at, kMarkerRadius, kMarkerRadius);
  painter_.drawLine(at + QPointF(-kMarkerRadius - 5, 0), at + QPointF(-kMarkerRadius + 3, 0));
  painter_.drawLine(at + QPointF(kMarkerRadius - 3, 0), at + QPointF(kMarkerRadius + 5, 0));
  painter_.drawLine(at + QPointF(0, -kMarkerRadius - 5), at + QPointF(0, -kMarkerRadius + 3));
  painter_.drawLine(at + QPointF(0, kMarkerRadius - 3), at + QPointF(0, kMarkerRadius + 5));
  painter_.restore();
}

void MapPainter::statusLine(const QString& line) {
  const QRect strip(0, layout_.statusTop, layout_.clientWidth,
                    layout_.clientHeight - layout_.statusTop);
  painter_.fillRect(strip, QColor(240, 240, 240));
  painter_.setPen(QColor(180, 180, 180));
  painter_.drawLine(strip.topLeft(), strip.topRight());
  painter_.setPen(Qt::black);
  painter_.drawText(strip.adjusted(6, 0, -6, 0), Qt::AlignLeft | Qt::AlignVCenter, line);
}

}  // namespace vellumar::ui::mapview
