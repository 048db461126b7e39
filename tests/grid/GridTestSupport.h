#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "grid/Grid.h"

namespace vellumar::grid::testing {

// Calls f(i, j, x, y) for every node of the grid, row by row from the bottom.
template <class F>
void forEachNode(const Grid& grid, F f) {
  for (int j = 0; j < grid.ny(); ++j) {
    for (int i = 0; i < grid.nx(); ++i) f(i, j, grid.nodeX(i), grid.nodeY(j));
  }
}

// A grid over [left, right] x [bottom, top] whose nodes hold f at the node coordinates, set row
// by row from the bottom.
inline Grid makeGrid(int nx, int ny, double left, double right, double bottom, double top,
                     const std::function<double(double, double)>& f) {
  Grid rectangle;
  rectangle.left = left;
  rectangle.right = right;
  rectangle.bottom = bottom;
  rectangle.top = top;
  rectangle.rectangleFlag = 1;
  Grid grid(nx, ny, rectangle);
  forEachNode(grid, [&](int i, int j, double x, double y) { grid.setNode(i, j, f(x, y)); });
  return grid;
}

// A grid of nx x ny nodes over [0, 1] x [0, 1] holding one value.
inline Grid constantGrid(int nx, int ny, double value) {
  return makeGrid(nx, ny, 0.0, 1.0, 0.0, 1.0, [value](double, double) { return value; });
}

// The node counts, the extents and the z-range of a grid, each compared in one assertion.
inline std::pair<int, int> countsOf(const Grid& grid) {
  return {grid.nx(), grid.ny()};
}
inline std::array<double, 4> extentsOf(const Grid& grid) {
  return {grid.left, grid.right, grid.bottom, grid.top};
}
inline std::pair<double, double> zRangeOf(const Grid& grid) {
  return {grid.zmin, grid.zmax};
}
inline std::vector<double> nodesOf(const Grid& grid) {
  return {grid.nodes().begin(), grid.nodes().end()};
}
// The nodes at the given (i, j), in that order, to compare several in one assertion.
inline std::vector<double> nodesAt(const Grid& grid,
                                   std::initializer_list<std::pair<int, int>> places) {
  std::vector<double> values;
  for (const auto& [i, j] : places) values.push_back(grid.node(i, j));
  return values;
}
// The least and the greatest node, to compare with the z-range of a grid without blanks.
inline std::pair<double, double> nodeRangeOf(const Grid& grid) {
  const auto [low, high] = std::minmax_element(grid.nodes().begin(), grid.nodes().end());
  return {*low, *high};
}

// A smooth, non-polynomial test surface.
inline double wavy(double x, double y) {
  return std::sin(0.7 * x) * std::cos(0.4 * y) + 0.1 * x * y;
}

// Integral of f over [a, b] cut at the lattice lines low + k * step, each piece integrated by
// the three-point Gauss-Legendre rule (exact for cubics), so that a surface of the lattice (cubic
// or linear along a line within a cell) is integrated exactly.
template <class F>
double latticeIntegral(F f, double a, double b, double low, double step) {
  const double xi = std::sqrt(0.6);
  double total = 0.0;
  for (double from = a, c = low + step * std::ceil((a - low) / step); from < b; c += step) {
    if (c <= from) continue;
    const double h = 0.5 * (std::min(c, b) - from);
    const double m = from + h;
    total += h * (8.0 / 9.0 * f(m) + 5.0 / 9.0 * (f(m - xi * h) + f(m + xi * h)));
    from = std::min(c, b);
  }
  return total;
}

}  // namespace vellumar::grid::testing
