#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/ErrorSink.h"
#include "grid/Grid.h"

namespace vellumar::grid {

// The uniform cubic B-spline and its first and second derivatives as functions of the offset d of
// a point from a knot, in step units; all three are 0 for |d| >= 2.
double bspline(double d);
double bsplineD1(double d);
double bsplineD2(double d);

// Natural bicubic-spline coefficients of an nx x ny node array (X fastest, bottom row first), in
// the padded row-by-row layout of Grid::splineCoefficients(). Around blank nodes every row and
// column run of valid nodes is solved on its own (Spline.cpp). blanks, when given, receives
// whether any node is blank. progress (may be null) hears of the rows solved and may cancel the
// solve, which then gives an empty array (and blanks tells nothing).
NodeVector computeSplineCoefficients(std::span<const double> nodes, int nx, int ny,
                                     bool* blanks = nullptr, ErrorSink* progress = nullptr);

// Evaluates a grid's surface at the points (xs[k], y) for a fixed list of X positions, one row
// (one y) at a time, giving exactly Grid::value(xs[k], y). Cell indices and weights along X are
// computed once, and per row the four coefficient rows are combined once per column, so a
// lattice of points costs a few operations per point and no allocation per row. Points in cells
// with a blank corner get kBlankValue.
class SurfaceSampler {
 public:
  SurfaceSampler(const Grid& grid, std::span<const double> xs);
  // A copy samples rows on its own: blocks of rows run at once each take one.
  SurfaceSampler(const SurfaceSampler&) = default;
  // out must hold xs.size() values.
  void sampleRow(double y, double* out);

 private:
  struct Column {
    int cell;         // cell index along X, or -1 when the point lies outside
    double w[4];      // spline weights, or w[0] = s' in bilinear mode
    bool onLeftEdge;  // the point lies on the left edge of its cell (not the first cell)
  };

  void sampleSplineRow(int j, double t, double* out);
  void sampleBilinearRow(int j, double t, double* out);
  // Sets the points of row j's cells that have a blank corner to kBlankValue, except points on
  // an edge they share with a valid cell (t: the offset of y in row j).
  void blankCells(int j, double y, double t, double* out);

  const Grid& grid_;
  const double* coefficients_ = nullptr;
  bool usable_ = false;
  // Shared between copies, which parallel blocks of rows make for the scratch below.
  std::shared_ptr<const std::vector<Column>> columns_;
  int cellLow_ = 0;           // smallest cell index any point uses
  int cellHigh_ = 0;          // largest cell index any point uses
  std::vector<double> sums_;  // per coefficient column: the row weights applied
  bool blanks_ = false;       // whether the grid has blank nodes
  std::shared_ptr<const std::vector<double>> xs_;  // the X positions, kept for grids with blanks
  int blankRow_ = -1;                              // the cell row blankCell_ describes
  std::vector<std::uint8_t> blankCell_;            // per cell of that row: a corner is blank
};

// Surface values of the grid at every (xs[k], ys[r]), row by row: out[r*xs.size() + k]. progress
// (may be null) hears of the spline solve and the rows done; a cancel gives an empty array.
NodeVector sampleLattice(const Grid& grid, std::span<const double> xs, std::span<const double> ys,
                         ErrorSink* progress = nullptr);

}  // namespace vellumar::grid
