#pragma once

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <optional>
#include <vector>

#include "engine/Operand.h"
#include "ui/mapview/Choropleth.h"
#include "ui/mapview/ColorClasses.h"
#include "ui/mapview/MapLayout.h"

namespace vellumar::grid {
class Grid;
}

namespace vellumar::ui::mapview {

// The colour raster of a grid over the plot rectangle: each pixel inside the grid's extents takes
// the class colour of the grid's surface value at the pixel's world point; pixels beyond the
// extents, and where the grid is blank, stay white (the background).
QImage renderGridRaster(const grid::Grid& grid, const MapLayout& layout,
                        const ColorClasses& classes);

// The legend right of a grid view's plot: one box per class, highest at the top, and the bounds
// of the classes (the maximum included) at the box edges, thinned when the boxes are lower than
// a line of text.
struct LegendLayout {
  struct Box {
    int x, y, width, height;
    std::uint32_t color;
  };
  std::vector<Box> boxes;
  std::vector<PlacedText> labels;
};
// The width the legend needs right of the plot, gap included.
int legendWidth(const ColorClasses& classes, const TextMetrics& text);
LegendLayout legendLayout(const MapLayout& layout, const ColorClasses& classes,
                          const TextMetrics& text);

// Paints the parts of a map view, in the order the view paints them.
class MapPainter {
 public:
  MapPainter(QPainter& painter, const MapLayout& layout) : painter_(painter), layout_(layout) {}

  void raster(const QImage& image);
  void legend(const LegendLayout& legend);
  // Every point inside the plot as a black dot with a red outline.
  void dataPoints(const data::DATA& points);
  // Every line as a blue polyline.
  void lines(const engine::Operand& lines);
  // The rings filled with the even-odd rule (holes white, islands in holes filled) and outlined,
  // so adjacent polygons stay distinct; clipped to the plot.
  void polygon(const engine::Operand& polygon);
  // Each record filled with the colour of its value's class (white where it has none) and
  // outlined, clipped to the plot.
  void choropleth(const Choropleth& map, const ColorClasses& classes);
  // Whites the four margins around the plot, clipping what was drawn beyond it.
  void margins();
  // The frame, the ticks of both axes and their labels.
  void frameAndAxes(const std::vector<PlacedText>& labels);
  // A ring and cross hair on a picked point.
  void marker(double x, double y);
  // The status line at the bottom of the client area.
  void statusLine(const QString& text);

 private:
  QPointF pixel(double x, double y) const;
  // Appends the pixel of a world point to a ring, unless it repeats the last one.
  void addVertex(QPolygonF& ring, double x, double y) const;
  void fillAndOutline(const QPainterPath& path, const QColor& fill);
  void text(const PlacedText& placed);

  QPainter& painter_;
  const MapLayout& layout_;
};

}  // namespace vellumar::ui::mapview
