#include "ui/mapview/MapPainter.h"

#include <QPainterPath>
#include <QPolygonF>

#include "common/CFormat.h"
#include "grid/Grid.h"
#include "grid/Surface.h"

namespace vellumar::ui {
namespace {

constexpr int kFrameOverhang = 7;
constexpr int kTickLength = 4;
constexpr int kDotRadius = 5;
// Where a grid is blank the view shows its background.
constexpr QRgb kBackground = 0xFFFFFFFFu;

QColor rgb(std::uint32_t color) {
  return QColor((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF);
}

}  // namespace

QImage renderGridRaster(const grid::Grid& grid, const MapLayout& layout,
                        const ColorClasses& classes) {
  QImage image(layout.width, layout.height, QImage::Format_RGB32);
  std::vector<double> xs(static_cast<std::size_t>(layout.width));
  for (int c = 0; c < layout.width; ++c) xs[c] = layout.worldX(layout.left + c);
  std::array<QRgb, ColorClasses::kCount> colors{};
  for (int k = 0; k < classes.classCount(); ++k) colors[k] = 0xFF000000u | classes.color(k);
  grid::SurfaceSampler sampler(grid, xs);
  std::vector<double> values(xs.size());
  for (int r = 0; r < layout.height; ++r) {
    sampler.sampleRow(layout.worldY(layout.top + r), values.data());
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(r));
    for (int c = 0; c < layout.width; ++c) {
      line[c] = grid::isBlank(values[c]) ? kBackground : colors[classes.classOf(values[c])];
    }
  }
  return image;
}

QPointF MapPainter::pixel(double x, double y) const {
  return QPointF(layout_.column(x), layout_.row(y));
}

void MapPainter::raster(const QImage& image) {
  painter_.drawImage(QPoint(layout_.left, layout_.top), image);
}

void MapPainter::legend(const ColorClasses& classes) {
  const int boxHeight = layout_.height / ColorClasses::kCount;
  const int boxLeft = layout_.left + layout_.width + 30;
  const QFontMetrics metrics = painter_.fontMetrics();
  for (int k = 0; k < classes.classCount(); ++k) {
    const int top = layout_.top + (ColorClasses::kCount - 1 - k) * boxHeight;
    const QRect box(boxLeft, top, 20, boxHeight);
    painter_.fillRect(box, rgb(classes.color(k)));
    painter_.setPen(Qt::black);
    painter_.drawRect(box);
    const QString label = QString::fromStdString(cformat("%.2lf", classes.lowerBound(k)));
    painter_.drawText(boxLeft + 30, top + boxHeight / 2 + metrics.ascent() / 2, label);
  }
}

void MapPainter::dataPoints(const data::DATA& points) {
  if (!points.hasCoordinates()) return;
  painter_.setPen(QColor(255, 0, 0));
  painter_.setBrush(Qt::black);
  const auto xs = points.x();
  const auto ys = points.y();
  const WorldBounds& world = layout_.world;
  for (std::size_t i = 0; i < points.count(); ++i) {
    if (xs[i] < world.xmin || xs[i] > world.xmax || ys[i] < world.ymin || ys[i] > world.ymax) {
      continue;
    }
    painter_.drawEllipse(pixel(xs[i], ys[i]), kDotRadius, kDotRadius);
  }
  painter_.setBrush(Qt::NoBrush);
}

void MapPainter::lines(const engine::Operand& lines) {
  painter_.setPen(QPen(QColor(0, 0, 255), 1));
  const auto xs = lines.points().x();
  const auto ys = lines.points().y();
  std::size_t next = 0;
  QPolygonF polyline;
  for (const std::int32_t count : lines.parts()) {
    polyline.clear();
    for (std::int32_t k = 0; k < count && next < xs.size(); ++k, ++next) {
      const QPointF p = pixel(xs[next], ys[next]);
      // Consecutive vertices on the same pixel draw nothing new.
      if (polyline.isEmpty() || polyline.back() != p) polyline.append(p);
    }
    if (polyline.size() == 1) polyline.append(polyline.front());
    painter_.drawPolyline(polyline);
  }
}

void MapPainter::polygon(const engine::Operand& polygon) {
  const auto xs = polygon.points().x();
  const auto ys = polygon.points().y();
  QPainterPath path;
  path.setFillRule(Qt::OddEvenFill);
  std::size_t next = 0;
  for (const std::int32_t count : polygon.parts()) {
    QPolygonF ring;
    for (std::int32_t k = 0; k < count && next < xs.size(); ++k, ++next) {
      ring.append(pixel(xs[next], ys[next]));
    }
    path.addPolygon(ring);
  }
  painter_.save();
  painter_.setClipRect(QRect(layout_.left, layout_.top, layout_.width + 1, layout_.height + 1));
  painter_.fillPath(path, QColor(250, 150, 100));
  painter_.restore();
}

void MapPainter::margins(int clientWidth, int clientHeight) {
  const int right = layout_.left + layout_.width + 1;
  const int bottom = layout_.top + layout_.height + 1;
  painter_.fillRect(0, 0, clientWidth, layout_.top, Qt::white);
  painter_.fillRect(0, bottom, clientWidth, clientHeight - bottom, Qt::white);
  painter_.fillRect(0, 0, layout_.left, clientHeight, Qt::white);
  painter_.fillRect(right, 0, clientWidth - right, clientHeight, Qt::white);
}

void MapPainter::frameAndAxes() {
  const int left = layout_.left;
  const int top = layout_.top;
  const int right = left + layout_.width;
  const int bottom = top + layout_.height;
  painter_.setPen(Qt::black);
  painter_.drawLine(left - kFrameOverhang, top, right + kFrameOverhang, top);
  painter_.drawLine(left - kFrameOverhang, bottom, right + kFrameOverhang, bottom);
  painter_.drawLine(left, top - kFrameOverhang, left, bottom + kFrameOverhang);
  painter_.drawLine(right, top - kFrameOverhang, right, bottom + kFrameOverhang);

  const WorldBounds& world = layout_.world;
  const QFontMetrics metrics = painter_.fontMetrics();
  const double xRange = world.xmax - world.xmin;
  const double yRange = world.ymax - world.ymin;
  auto text = [](const std::string& s) { return QString::fromStdString(s); };
  const int labelRow = bottom + kFrameOverhang + metrics.ascent() + 4;
  const QString xminLabel = text(formatLabel(world.xmin, xRange));
  const QString xmaxLabel = text(formatLabel(world.xmax, xRange));
  const QRect xminRect(left - metrics.horizontalAdvance(xminLabel) / 2, labelRow - metrics.ascent(),
                       metrics.horizontalAdvance(xminLabel), metrics.height());
  const QRect xmaxRect(right - metrics.horizontalAdvance(xmaxLabel) / 2,
                       labelRow - metrics.ascent(), metrics.horizontalAdvance(xmaxLabel),
                       metrics.height());
  painter_.drawText(xminRect.left(), labelRow, xminLabel);
  painter_.drawText(xmaxRect.left(), labelRow, xmaxLabel);
  const QString yminLabel = text(formatLabel(world.ymin, yRange));
  const QString ymaxLabel = text(formatLabel(world.ymax, yRange));
  const auto yLabelAt = [&](const QString& label, int row) {
    return QRect(left - 10 - metrics.horizontalAdvance(label), row - metrics.height() / 2,
                 metrics.horizontalAdvance(label), metrics.height());
  };
  const QRect yminRect = yLabelAt(yminLabel, bottom);
  const QRect ymaxRect = yLabelAt(ymaxLabel, top);
  painter_.drawText(yminRect, Qt::AlignRight | Qt::AlignVCenter, yminLabel);
  painter_.drawText(ymaxRect, Qt::AlignRight | Qt::AlignVCenter, ymaxLabel);

  for (const double x : tickPositions(world.xmin, world.xmax, labelScale(xRange) / 10)) {
    const int column = layout_.column(x);
    painter_.drawLine(column, top, column, top + kTickLength);
    painter_.drawLine(column, bottom - kTickLength, column, bottom);
    const QString label = text(formatLabel(x, xRange));
    const QRect rect(column - metrics.horizontalAdvance(label) / 2, labelRow - metrics.ascent(),
                     metrics.horizontalAdvance(label), metrics.height());
    if (!rect.intersects(xminRect) && !rect.intersects(xmaxRect)) {
      painter_.drawText(rect.left(), labelRow, label);
    }
  }
  for (const double y : tickPositions(world.ymin, world.ymax, labelScale(yRange) / 10)) {
    const int row = layout_.row(y);
    painter_.drawLine(left, row, left + kTickLength, row);
    painter_.drawLine(right - kTickLength, row, right, row);
    const QString label = text(formatLabel(y, yRange));
    const QRect rect = yLabelAt(label, row);
    if (!rect.intersects(yminRect) && !rect.intersects(ymaxRect)) {
      painter_.drawText(rect, Qt::AlignRight | Qt::AlignVCenter, label);
    }
  }
}

}  // namespace vellumar::ui
