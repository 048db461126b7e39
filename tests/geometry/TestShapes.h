#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <ranges>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/Geometry.h"
#include "geometry/PolygonCheck.h"

// The shapes and comparisons the geometry tests share. A test that includes this header has
// GoogleTest, the geometry model, the polygon check and the standard containers above.
namespace vellumar::geometry::test {

// A closed axis-aligned square ring, counter-clockwise unless clockwise is set.
inline Line squareRing(double x0, double y0, double x1, double y1, bool clockwise = false) {
  std::vector<Point> p = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
  Line ring(std::move(p));
  if (clockwise) ring.reverse();
  return ring;
}

// A closed ring of n vertices round (cx, cy), counter-clockwise from the angle 0: the vertex at
// the angle a lies radius(a) from the centre.
template <typename Radius>
Line starRing(int n, double cx, double cy, Radius radius) {
  std::vector<Point> points;
  for (int k = 0; k < n; ++k) {
    const double a = 2 * M_PI * k / n;
    const double r = radius(a);
    points.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  points.push_back(points.front());
  return Line(std::move(points));
}

// The rectangle from (left, bottom) to (right, top).
inline Rect rectOf(double left, double bottom, double right, double top) {
  Rect rect;
  rect.include(left, bottom);
  rect.include(right, top);
  return rect;
}

inline Line polyline(std::vector<Point> points) {
  return Line(std::move(points));
}

// The line with the id and value given.
inline Line tagged(Line line, std::int32_t id, double value = 0) {
  line.id = id;
  line.value = value;
  return line;
}

inline Cover coverOf(std::vector<Line> lines) {
  Cover cover;
  for (Line& line : lines) cover.appendLine(std::move(line));
  return cover;
}

// The area a region encloses: outer boundaries run clockwise (negative signed area), holes
// counter-clockwise.
inline double enclosedArea(const Cover& region) {
  double sum = 0.0;
  for (const Line& ring : region.lines()) sum -= ring.signedArea();
  return sum;
}

// The region the rings make; they must pass the polygon check.
inline Region regionOf(std::vector<Line> rings) {
  Region region;
  EXPECT_TRUE(buildRegion(coverOf(std::move(rings)), region));
  return region;
}

// A rectangle's left, right, bottom and top, compared in one assertion.
inline std::array<double, 4> sidesOf(const Rect& rect) {
  return {rect.left, rect.right, rect.bottom, rect.top};
}

// What f gives for each of the cover's lines, in cover order.
template <typename F>
auto eachLine(const Cover& cover, F f) {
  std::vector<std::invoke_result_t<F, const Line&>> out;
  for (const Line& line : cover.lines()) out.push_back(f(line));
  return out;
}
// The ids of the cover's lines.
inline std::vector<std::int32_t> idsOf(const Cover& cover) {
  return eachLine(cover, [](const Line& line) { return line.id; });
}
// The signed areas of the cover's lines.
inline std::vector<double> areasOf(const Cover& cover) {
  return eachLine(cover, [](const Line& line) { return line.signedArea(); });
}
// The signs of the cover's signed areas (-1 clockwise, 1 counter-clockwise, 0 for none).
inline std::vector<int> orientationsOf(const Cover& cover) {
  return eachLine(cover, [](const Line& l) { return (l.signedArea() > 0) - (l.signedArea() < 0); });
}

using Coords = std::vector<std::pair<double, double>>;

inline Coords coordinates(const Line& line) {
  auto pairs = line.points() | std::views::transform([](Point p) { return std::pair(p.x, p.y); });
  return Coords(pairs.begin(), pairs.end());
}

// Each line's id, value and points, in cover order, compared in one assertion.
using Rings = std::vector<std::tuple<std::int32_t, double, Coords>>;
inline Rings ringsOf(const Cover& cover) {
  return eachLine(cover, [](const Line& l) { return std::tuple(l.id, l.value, coordinates(l)); });
}

}  // namespace vellumar::geometry::test
