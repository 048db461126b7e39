#pragma once

// Shared pieces of single-point and row-wise surface evaluation, so both give identical values.

#include <cstddef>

#include "grid/Grid.h"

namespace vellumar::grid::detail {

// The surface exists only over a lattice with at least two nodes and a nonzero step per axis.
inline bool surfaceUsable(const Grid& grid) {
  return grid.hasNodes() && grid.stepX() != 0.0 && grid.stepY() != 0.0;
}

// Cell index along an axis of n nodes for the position u in step units; the last cell owns the
// far edge. s receives the offset inside the cell.
inline int cellOf(double u, int n, double& s) {
  if (!(u >= 0.0)) u = 0.0;  // only non-finite extents get here
  const int i = u >= static_cast<double>(n - 1) ? n - 2 : static_cast<int>(u);
  s = u - i;
  return i;
}

// The cell the surface at (u, v) (node units) is read from, and the offsets in it: the cell that
// cellOf chooses, or, when that one has a blank corner and the point lies on its left or bottom
// edge, a neighbour holding the point that has none. So the valid area is closed: its edges and
// its nodes belong to it, and a valid block reads like the block cut out as its own grid, whose
// last cells own its far edges. False when every cell holding the point has a blank corner.
inline bool surfaceCell(const Grid& grid, double u, double v, int& i, int& j, double& s,
                        double& t) {
  i = cellOf(u, grid.nx(), s);
  j = cellOf(v, grid.ny(), t);
  if (!grid.hasBlanks() || !grid.cellIsBlank(i, j)) return true;
  const bool onLeft = s == 0.0 && i > 0;
  const bool onBottom = t == 0.0 && j > 0;
  if (onLeft && !grid.cellIsBlank(i - 1, j)) {
    --i, s = 1.0;
    return true;
  }
  if (onBottom && !grid.cellIsBlank(i, j - 1)) {
    --j, t = 1.0;
    return true;
  }
  if (onLeft && onBottom && !grid.cellIsBlank(i - 1, j - 1)) {
    --i, --j, s = 1.0, t = 1.0;
    return true;
  }
  return false;
}

inline void splineWeights(double s, double w[4]) {
  const double s2 = s * s;
  const double s3 = s2 * s;
  w[0] = (1.0 - s) * (1.0 - s) * (1.0 - s) / 6.0;
  w[1] = (4.0 - 6.0 * s2 + 3.0 * s3) / 6.0;
  w[2] = (1.0 + 3.0 * s + 3.0 * s2 - 3.0 * s3) / 6.0;
  w[3] = s3 / 6.0;
}

// The spline surface at offsets (s, t) in cell (i, j) of the padded coefficients of a grid whose
// coefficient rows are stride long.
inline double splineAt(const double* coefficients, std::size_t stride, int i, int j, double s,
                       double t) {
  double ws[4];
  double wt[4];
  splineWeights(s, ws);
  splineWeights(t, wt);
  const double* r0 = coefficients + static_cast<std::size_t>(j) * stride + i;
  double sums[4];
  for (std::size_t a = 0; a < 4; ++a) {
    sums[a] = ((wt[0] * r0[a] + wt[1] * r0[a + stride]) + wt[2] * r0[a + 2 * stride]) +
              wt[3] * r0[a + 3 * stride];
  }
  return ((ws[0] * sums[0] + ws[1] * sums[1]) + ws[2] * sums[2]) + ws[3] * sums[3];
}

inline double bilinearOffset(double distance, int cell, double step) {
  return (distance - cell * step) / step;
}

// Bilinear interpolant of the cell whose lower corners start at low and upper corners at high.
inline double bilinear(const double* low, const double* high, double s, double t) {
  const double f00 = low[0];
  const double f10 = low[1];
  const double f01 = high[0];
  const double f11 = high[1];
  return f00 + (f10 - f00) * s + (f01 - f00) * t + (f11 - f10 - f01 + f00) * s * t;
}

}  // namespace vellumar::grid::detail
