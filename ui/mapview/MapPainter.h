#pragma once

#include <QImage>
#include <QPainter>

#include "engine/Operand.h"
#include "ui/mapview/ColorClasses.h"
#include "ui/mapview/MapLayout.h"

namespace vellumar::grid {
class Grid;
}

namespace vellumar::ui {

// The colour raster of a grid over the plot rectangle: each pixel takes the class colour of the
// grid's surface value at the pixel's world point, or the white background where it is blank.
// Computed once per layout and reused while the pointer moves.
QImage renderGridRaster(const grid::Grid& grid, const MapLayout& layout,
                        const ColorClasses& classes);

// Paints the parts of a map view, in the order the view paints them.
class MapPainter {
 public:
  MapPainter(QPainter& painter, const MapLayout& layout) : painter_(painter), layout_(layout) {}

  void raster(const QImage& image);
  // The legend 30 pixels right of the plot: one box per class, highest at the top, each labelled
  // with its lower bound.
  void legend(const ColorClasses& classes);
  // Every point inside the plot as a black dot with a red outline.
  void dataPoints(const data::DATA& points);
  // Every line as a blue polyline.
  void lines(const engine::Operand& lines);
  // The rings filled with the even-odd rule (holes white, islands in holes filled), clipped to
  // the plot.
  void polygon(const engine::Operand& polygon);
  // Whites the four margins around the plot, clipping what was drawn beyond it.
  void margins(int clientWidth, int clientHeight);
  // The frame, the end labels and the ticks of both axes.
  void frameAndAxes();

 private:
  QPointF pixel(double x, double y) const;

  QPainter& painter_;
  const MapLayout& layout_;
};

}  // namespace vellumar::ui
