#include "ui/mapview/MapPainter.h"

#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

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
constexpr int kLineDarkening = 150;  // percent, as QColor::darker takes it
const QColor kOutline(140, 60, 20);
const QColor kPolygonFill(250, 150, 100);
constexpr int kTranslucentAlpha = 110;

// A polygon's fill colour as the fill asks for it: the colour itself, translucent, or none.
QColor fillColour(QColor colour, Fill fill) {
  if (fill == Fill::None) return Qt::transparent;
  if (fill == Fill::Translucent) colour.setAlpha(kTranslucentAlpha);
  return colour;
}
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

int legendWidth(const ColorClasses& classes, const TextMetrics& text,
                const std::vector<std::string>& notes) {
  int widest = 0;
  for (const std::string& label : classes.boundLabels())
    widest = std::max(widest, text.width(label));
  int width = kLegendGap + kBoxWidth + kLegendLabelGap + widest + kLegendRightMargin;
  // Notes start at the boxes' left edge.
  for (const std::string& note : notes)
    width = std::max(width, kLegendGap + text.width(note) + kLegendRightMargin);
  return width;
}

LegendLayout legendLayout(const MapLayout& layout, const ColorClasses& classes,
                          const TextMetrics& text, const std::vector<std::string>& notes) {
  LegendLayout legend;
  if (!layout.drawable) return legend;
  const int notesHeight =
      notes.empty() ? 0 : text.height / 2 + static_cast<int>(notes.size()) * text.height;
  const int boxHeight = std::max(1, (layout.height - notesHeight) / ColorClasses::kCount);
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
  int noteTop = layout.top + ColorClasses::kCount * boxHeight + text.height / 2;
  for (const std::string& note : notes) {
    legend.notes.push_back({note, boxLeft, noteTop, text.width(note), text.height});
    noteTop += text.height;
  }
  return legend;
}

QColor levelLineColor(const ColorClasses& levels, double value) {
  return rgb(levels.color(levels.classOf(value))).darker(kLineDarkening);
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
  for (const PlacedText& note : legend.notes) {
    painter_.drawText(QRect(note.x, note.y, note.width, note.height),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                      QString::fromStdString(note.text));
  }
}

void MapPainter::raster(const QImage& image, double scale) {
  if (scale == 1.0) return raster(image);
  painter_.drawImage(
      QRectF(layout_.left, layout_.top, image.width() / scale, image.height() / scale), image);
}

void MapPainter::dataPoints(const data::DATA& points, const ColorClasses* classes,
                            double missingValue) {
  if (!points.hasCoordinates()) return;
  painter_.setPen(classes != nullptr ? QColor(40, 40, 40) : QColor(255, 0, 0));
  painter_.setBrush(Qt::black);
  const auto xs = points.x();
  const auto ys = points.y();
  const auto zs = points.values();
  for (std::size_t i = 0; i < points.count(); ++i) {
    if (!layout_.world.contains(xs[i], ys[i])) continue;
    if (classes != nullptr) {
      if (zs[i] == missingValue || !std::isfinite(zs[i])) continue;
      painter_.setBrush(rgb(classes->color(classes->classOf(zs[i]))));
    }
    painter_.drawEllipse(pixel(xs[i], ys[i]), kDotRadius, kDotRadius);
  }
  painter_.setBrush(Qt::NoBrush);
}

void MapPainter::lines(const engine::Operand& lines, const ColorClasses* levels,
                       LineLabelPlacer* labels) {
  painter_.setPen(QPen(QColor(0, 0, 255), 1));
  if (!lines.points().hasCoordinates()) return;
  const auto xs = lines.points().x();
  const auto ys = lines.points().y();
  const auto zs = lines.points().values();
  QPolygonF polyline;
  engine::forEachPackedPart(lines, [&](engine::PackedPart part) {
    if (part.count == 0) return;
    const QColor colour = levels != nullptr ? levelLineColor(*levels, zs[part.first]) : QColor();
    if (levels != nullptr) painter_.setPen(QPen(colour, 1));
    polyline.clear();
    for (std::size_t k = part.first; k < part.first + part.count; ++k) {
      const QPointF p = pixel(xs[k], ys[k]);
      // Consecutive vertices on the same pixel draw nothing new.
      if (polyline.isEmpty() || polyline.back() != p) polyline.append(p);
    }
    if (polyline.size() == 1) polyline.append(polyline.front());
    painter_.drawPolyline(polyline);
    if (levels != nullptr && labels != nullptr) {
      labels->place(polyline, levelLabel(zs[part.first]), colour.rgb() & 0xFFFFFFu);
    }
  });
}

void MapPainter::lineLabels(const std::vector<LineLabel>& labels) {
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing);
  const QFontMetricsF metrics(painter_.font());
  for (const LineLabel& label : labels) {
    const QString text = QString::fromStdString(label.text);
    QPainterPath path;
    path.addText(-metrics.horizontalAdvance(text) / 2, metrics.ascent() - metrics.height() / 2,
                 painter_.font(), text);
    painter_.save();
    painter_.translate(label.centre);
    painter_.rotate(label.angle);
    painter_.strokePath(path, QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter_.fillPath(path, rgb(label.color));
    painter_.restore();
  }
  painter_.restore();
}

void MapPainter::polygon(const engine::Operand& polygon, Fill fill) {
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
  fillAndOutline(path, fillColour(kPolygonFill, fill));
}

void MapPainter::choropleth(const Choropleth& map, const ColorClasses& classes, Fill fill) {
  for (const Choropleth::Record& record : map.records()) {
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    for (const geometry::Line& line : record.rings.lines()) {
      QPolygonF ring;
      for (const geometry::Point& p : line.points()) addVertex(ring, p.x, p.y);
      path.addPolygon(ring);
    }
    // A record without a value is left in the background colour, as a blank node is; over
    // other layers it is left unfilled.
    if (record.value) {
      fillAndOutline(path, fillColour(rgb(classes.color(classes.classOf(*record.value))), fill));
    } else {
      fillAndOutline(path, fill == Fill::Opaque ? QColor(Qt::white) : QColor(Qt::transparent));
    }
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
