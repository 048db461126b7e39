#pragma once

#include <span>
#include <vector>

#include "grid/Grid.h"

namespace vellumar::grid {

// The uniform cubic B-spline and its first and second derivatives as functions of the offset d of
// a point from a knot, in step units; all three are 0 for |d| >= 2.
double bspline(double d);
double bsplineD1(double d);
double bsplineD2(double d);

// Natural bicubic-spline coefficients of an nx x ny node array (X fastest, bottom row first), in
// the padded row-by-row layout of Grid::splineCoefficients().
NodeVector computeSplineCoefficients(std::span<const double> nodes, int nx, int ny);

// Evaluates a grid's surface at the points (xs[k], y) for a fixed list of X positions, one row
// (one y) at a time, giving exactly Grid::value(xs[k], y). Cell indices and weights along X are
// computed once, and per row the four coefficient rows are combined once per column, so a
// lattice of points costs a few operations per point and no allocation per row.
class SurfaceSampler {
 public:
  SurfaceSampler(const Grid& grid, std::span<const double> xs);
  // out must hold xs.size() values.
  void sampleRow(double y, double* out);

 private:
  struct Column {
    int cell;     // cell index along X, or -1 when the point lies outside
    double w[4];  // spline weights, or w[0] = s' in bilinear mode
  };

  void sampleSplineRow(double y, double* out);
  void sampleBilinearRow(double y, double* out);

  const Grid& grid_;
  const double* coefficients_ = nullptr;
  bool usable_ = false;
  std::vector<Column> columns_;
  int cellLow_ = 0;           // smallest cell index any point uses
  int cellHigh_ = 0;          // largest cell index any point uses
  std::vector<double> sums_;  // per coefficient column: the row weights applied
};

// Surface values of the grid at every (xs[k], ys[r]), row by row: out[r*xs.size() + k].
NodeVector sampleLattice(const Grid& grid, std::span<const double> xs, std::span<const double> ys);

}  // namespace vellumar::grid
