// Operands and pixel readings shared by the map view tests.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "engine/LinePacking.h"
#include "grid/Grid.h"
#include "ui/mapview/CRVWnd.h"
#include "ui/mapview/MapLayout.h"

// Colours in failure messages by their names, "#rrggbb".
inline void PrintTo(const QColor& colour, std::ostream* out) {
  *out << colour.name().toStdString();
}

namespace vellumar::ui::mapview::testing {

constexpr double kMissing = -9999;

// A grid of nx x ny nodes over [0, 10] x [0, 10].
inline engine::Operand gridOperand(int nx, int ny, std::vector<double> nodes,
                                   grid::Georeference georeference = {}) {
  grid::Grid prototype;
  prototype.left = 0, prototype.right = 10, prototype.bottom = 0, prototype.top = 10;
  prototype.georeference = std::move(georeference);
  return engine::Operand::grid(std::make_shared<const grid::Grid>(
      nx, ny, prototype, grid::NodeVector(nodes.begin(), nodes.end())));
}

// A 2 x 2 grid over [0, 10] x [0, 10] rising along X from low to high.
inline engine::Operand ramp(double low, double high, grid::Georeference georeference = {}) {
  return gridOperand(2, 2, {low, high, low, high}, std::move(georeference));
}

inline engine::Operand points(std::vector<double> z, std::vector<double> x, std::vector<double> y) {
  return engine::Operand::data(
      std::make_shared<const data::DATA>(std::move(z), std::move(x), std::move(y)));
}

using Vertices = std::vector<std::pair<double, double>>;

// Lines (or polygon rings, closed here) through the given vertices, each with its value.
inline engine::Operand linesOf(const std::vector<std::pair<double, Vertices>>& lines,
                               engine::Kind kind = engine::Kind::Lines) {
  geometry::Cover cover;
  for (const auto& [value, vertices] : lines) {
    std::vector<geometry::Point> line;
    for (const auto& [x, y] : vertices) line.push_back({x, y, 0});
    if (kind == engine::Kind::Polygon) line.push_back(line.front());
    geometry::Line made(std::move(line));
    made.value = value;
    cover.appendLine(std::move(made));
  }
  return engine::packCover(cover, kind);
}

inline QColor pixelAt(CRVWnd& view, double x, double y) {
  return view.picture().pixelColor(view.layout().column(x), view.layout().row(y));
}

// The colours at several points of the world, to compare in one go.
inline std::vector<QColor> pixelsAt(CRVWnd& view, const Vertices& points) {
  std::vector<QColor> colours;
  for (const auto& [x, y] : points) colours.push_back(pixelAt(view, x, y));
  return colours;
}

// Whether two colours differ by at most 2 in each channel.
inline bool near(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
         std::abs(a.blue() - b.blue()) <= 2;
}

// The number of dark pixels of an image inside a rectangle: text drawn there has some.
inline int darkPixels(const QImage& image, const QRect& rect) {
  int dark = 0;
  for (int x = rect.left(); x <= rect.right(); ++x)
    for (int y = rect.top(); y <= rect.bottom(); ++y) dark += qGray(image.pixel(x, y)) < 128;
  return dark;
}

// Every label lies inside the window and none overlaps another, but for the first `ends`, which
// may meet each other (the end labels of the axes, when the window leaves no room).
inline void expectInsideAndApart(const std::vector<PlacedText>& labels, const QRect& window,
                                 std::size_t ends = 0) {
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const PlacedText& a = labels[i];
    EXPECT_TRUE(window.contains(QRect(a.x, a.y, a.width, a.height))) << a.text;
    for (std::size_t j = std::max(i + 1, ends); j < labels.size(); ++j)
      EXPECT_FALSE(a.overlaps(labels[j], 0)) << a.text << " / " << labels[j].text;
  }
}

}  // namespace vellumar::ui::mapview::testing
