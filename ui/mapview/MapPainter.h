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
#include "ui/mapview/LineLabels.h"
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
// a line of text. Notes (the coordinate system, its unit, the count of points without a value)
// follow below the boxes, one a line, the boxes shortened to leave them room.
struct LegendLayout {
  struct Box {
    int x, y, width, height;
    std::uint32_t color;
  };
  std::vector<Box> boxes;
  std::vector<PlacedText> labels;
  std::vector<PlacedText> notes;
};
// The width the legend needs right of the plot, gap included.
int legendWidth(const ColorClasses& classes, const TextMetrics& text,
                const std::vector<std::string>& notes = {});
LegendLayout legendLayout(const MapLayout& layout, const ColorClasses& classes,
                          const TextMetrics& text, const std::vector<std::string>& notes = {});

// How a polygon's inside is painted: not at all, in a colour that lets what is beneath show
// through, or in the full colour (nothing is beneath).
enum class Fill { None, Translucent, Opaque };

// The colour of an isoline of a level class: the class colour darkened, so that a line stays
// visible over the raster of the same class.
QColor levelLineColor(const ColorClasses& levels, double value);

// Paints the parts of a map view, in the order the view paints them.
class MapPainter {
 public:
  MapPainter(QPainter& painter, const MapLayout& layout) : painter_(painter), layout_(layout) {}

  void raster(const QImage& image);
  // A raster rendered at a finer resolution, scaled into the plot.
  void raster(const QImage& image, double scale);
  void legend(const LegendLayout& legend);
  // Every point inside the plot as a black dot with a red outline; with classes, each point
  // filled with the colour of its value's class instead, and the points holding missingValue
  // (which have none) left out.
  void dataPoints(const data::DATA& points, const ColorClasses* classes = nullptr,
                  double missingValue = 0.0);
  // Every line as a blue polyline; with levels, each line in the colour of its value's class,
  // its value offered to labels for writing along it.
  void lines(const engine::Operand& lines, const ColorClasses* levels = nullptr,
             LineLabelPlacer* labels = nullptr);
  // The labels of isolines, each in a white halo so that it reads over any colour.
  void lineLabels(const std::vector<LineLabel>& labels);
  // The rings filled with the even-odd rule (holes white, islands in holes filled) and outlined,
  // so adjacent polygons stay distinct; clipped to the plot.
  void polygon(const engine::Operand& polygon, Fill fill = Fill::Opaque);
  // Each record filled with the colour of its value's class (white where it has none) and
  // outlined, clipped to the plot.
  void choropleth(const Choropleth& map, const ColorClasses& classes, Fill fill = Fill::Opaque);
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
