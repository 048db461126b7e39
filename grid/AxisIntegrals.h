#pragma once

#include <cstdint>
#include <span>

#include "common/ErrorSink.h"
#include "grid/Grid.h"

namespace vellumar::grid {

// Integrals of a grid's surface along the axes:
//   F(x, y) = integral of z(s, y) ds from the left edge to x,
//   G(x, y) = integral of z(x, t) dt from the bottom edge to y,
// exact for the surface of either mode: the cubic B-spline pieces are integrated in closed form
// (the integrated basis weights (1 - (1 - s)^4)/24, (16s - 8s^3 + 3s^4)/24,
// (4s + 6s^2 + 4s^3 - 3s^4)/24 and s^4/24 for the partial cell, 1/24, 11/24, 11/24, 1/24 for a
// whole one), the bilinear cells likewise (s - s^2/2 and s^2/2, whole cells 1/2 and 1/2).
//
// Many points are evaluated together. The whole cells between the edge and a point's cell are
// prefix sums of the cell integrals, per coefficient row for F and per coefficient column for G,
// which follow from running sums of the coefficients themselves (see Basis::tail). One sweep
// over the rows the points need serves all points, so each point costs the same whatever the
// grid's size, and no array of the grid's size is allocated.
//
// Points outside the rectangle are taken at the nearest point of its edge. A grid whose surface
// is 0 everywhere (no nodes, or fewer than two nodes along an axis) gives 0.
// A lattice column and row from which the integrals along the axes may be taken instead of the
// edges (see AxisIntegrals::evaluate).
struct LatticeOrigin {
  int column = 0;
  int row = 0;
};

class AxisIntegrals {
 public:
  explicit AxisIntegrals(const Grid& grid);

  // False when the surface is 0 everywhere (every integral is 0).
  bool usable() const { return usable_; }
  // Rows one evaluate() sweeps at most, the unit of its progress.
  std::int64_t sweepRows() const;

  using Origin = LatticeOrigin;
  // The origin of the cell that holds (x, y), clamped onto the rectangle: left of and below every
  // point of a region whose lower left corner that is.
  Origin originBelow(double x, double y) const;

  // alongX[k] = F(xs[k], ys[k]) and alongY[k] = G(xs[k], ys[k]); all spans of equal length.
  // With an origin other than the edges', F is taken from the origin's column line and G from its
  // row line: they then differ from the definitions by a function of y alone (of x alone), whose
  // line integral around a closed ring vanishes, and the sweep covers only the part of the grid
  // between the origin and the points instead of the whole way from the edges. The origin must
  // lie left of and below every point, and stay the same for every batch of one ring integral.
  // Reports progressDone plus the rows swept through progress and returns false when the user
  // cancels (the results are then incomplete).
  bool evaluate(std::span<const double> xs, std::span<const double> ys, std::span<double> alongX,
                std::span<double> alongY, Origin from = {}, ErrorSink* progress = nullptr,
                std::int64_t progressDone = 0) const;

 private:
  const Grid& grid_;
  bool usable_ = false;
  bool spline_ = true;
  const double* data_ = nullptr;  // spline coefficients or, bilinear, the nodes
  std::size_t stride_ = 0;        // values per data row
  int cellsX_ = 0;                // cells per axis
  int cellsY_ = 0;
};

}  // namespace vellumar::grid
