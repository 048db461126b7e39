#pragma once

#include <vector>

#include "geometry/Geometry.h"

namespace vellumar::geometry::test {

// A closed axis-aligned square ring, counter-clockwise unless clockwise is set.
inline Line squareRing(double x0, double y0, double x1, double y1, bool clockwise = false) {
  std::vector<Point> p = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
  Line ring(std::move(p));
  if (clockwise) ring.reverse();
  return ring;
}

inline Line polyline(std::vector<Point> points) {
  return Line(std::move(points));
}

inline Cover coverOf(std::vector<Line> lines) {
  Cover cover;
  for (Line& line : lines) cover.appendLine(std::move(line));
  return cover;
}

}  // namespace vellumar::geometry::test
