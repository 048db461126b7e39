#pragma once

#include <functional>

#include "grid/Grid.h"

namespace vellumar::grid::testing {

// A grid over [left, right] x [bottom, top] whose nodes hold f at the node coordinates.
inline Grid makeGrid(int nx, int ny, double left, double right, double bottom, double top,
                     const std::function<double(double, double)>& f) {
  Grid rectangle;
  rectangle.left = left;
  rectangle.right = right;
  rectangle.bottom = bottom;
  rectangle.top = top;
  rectangle.rectangleFlag = 1;
  Grid grid(nx, ny, rectangle);
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) grid.setNode(i, j, f(grid.nodeX(i), grid.nodeY(j)));
  }
  return grid;
}

// A smooth, non-polynomial test surface.
inline double wavy(double x, double y) {
  return std::sin(0.7 * x) * std::cos(0.4 * y) + 0.1 * x * y;
}

}  // namespace vellumar::grid::testing
