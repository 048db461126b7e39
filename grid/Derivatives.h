#pragma once

#include <cmath>

#include "common/ErrorSink.h"
#include "grid/Grid.h"

namespace vellumar::grid {

// Partial derivatives of a grid's surface, at points and as whole grids, and the seventeen
// morphometric functions built from them.
//
// Spline mode: the derivatives of the natural bicubic spline. Bilinear mode: the derivatives of
// the bilinear interpolant, cell by cell. At a point on a cell edge the first derivative across
// it is taken in the cell that owns the point for the surface value (the cell starting there; the
// last cell for the far edge), and the second derivatives along an axis are the difference of the
// first derivatives half a step to either side over the step, a side outside the grid counting 0.
// A point within 1e-9 step of a node counts as on it. Derivative grids in bilinear mode hold
// exactly the point derivatives at their nodes. A grid with fewer than two nodes along an axis has
// no surface: its derivatives are 0 everywhere.

enum class Derivative { X = 1, Y = 2, XX = 3, XY = 4, YY = 5 };

// Derivative codes of derivative grids: 1 ... 5 are Dx ... Dyy, 5 + n is special function n.
inline constexpr int kFirstSpecialCode = 6;
inline constexpr int kLastDerivativeCode = 22;
// The special functions Spec(G, n) computes: n = 1 ... kSpecialCount.
inline constexpr int kSpecialCount = kLastDerivativeCode - kFirstSpecialCode + 1;

// Whether n (truncated towards zero) numbers a special function.
inline bool isSpecialNumber(double n) {
  const double whole = std::trunc(n);
  return whole >= 1.0 && whole <= kSpecialCount;
}

// The five local derivatives at a point: p = dz/dx, q = dz/dy, r = d2z/dx2, s = d2z/dxdy,
// t = d2z/dy2.
struct LocalDerivatives {
  double p = 0.0;
  double q = 0.0;
  double r = 0.0;
  double s = 0.0;
  double t = 0.0;
};

// The derivative of the surface at (x, y); 0 outside the closed rectangle and for grids with
// fewer than two nodes along an axis; kBlankValue where it would read a cell with a blank corner.
double derivativeAt(const Grid& grid, Derivative derivative, double x, double y);

// A grid of derivative code 1 ... 22 at every node, with the grid's lattice, rectangle and mode;
// z-range the smallest and largest result (blanks left out). A node with a blank node in its 3 x 3
// stencil is blank, and so is a node whose function is NaN. Spline mode takes the derivatives of
// the spline exactly at the nodes from the 3 x 3 coefficients around each node (the pads serve the
// edge nodes); a derivative whose change over a step is below 1e-9 of the largest node magnitude
// (the rounding of the spline solve) is taken as 0, so flat and planar areas get exact zeros.
// progress (may be null) hears of the spline solve and the rows done; a cancel gives a grid
// without nodes.
Grid derivativeGrid(const Grid& grid, int code, ErrorSink* progress = nullptr);

}  // namespace vellumar::grid
