#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/ErrorSink.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"

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

// Where a sampler locates its points: in the step units of a lattice the grid is a window of, the
// grid's first node at node (i0, j0) there. A point is located in the whole lattice's units and
// only then moved to the window by whole nodes, which is exact; so a point on a cell's edge falls
// in the very cell (and passes a blank cell beside it by the very rule, detail::surfaceCell) that
// the whole grid's surface takes, and a node is blank exactly where it is blank there.
struct SurfaceFrame {
  Lattice lattice;
  int i0 = 0;
  int j0 = 0;
};

// Evaluates a grid's surface at the points (xs[k], y) for a fixed list of X positions, one row
// (one y) at a time, giving exactly Grid::value(xs[k], y) in the grid's own frame. Cell indices and
// weights along X are computed once, and per row the four coefficient rows are combined once per
// column, so a lattice of points costs a few operations per point and no allocation per row. Points
// in cells with a blank corner get kBlankValue; points outside the frame's rectangle get 0.
class SurfaceSampler {
 public:
  // Points located in the grid's own lattice.
  SurfaceSampler(const Grid& grid, std::span<const double> xs);
  // Points located in the frame; in bilinear mode a cell is read at the offsets in it that
  // locating the point gave.
  SurfaceSampler(const Grid& grid, std::span<const double> xs, const SurfaceFrame& frame);
  // A copy samples rows on its own: blocks of rows run at once each take one.
  SurfaceSampler(const SurfaceSampler&) = default;
  // out must hold xs.size() values.
  void sampleRow(double y, double* out);

 private:
  SurfaceSampler(const Grid& grid, std::span<const double> xs, const SurfaceFrame& frame,
                 bool window);

  struct Column {
    int cell;         // cell index along X, or -1 when the point lies outside
    double w[4];      // spline weights, or w[0] = s' in bilinear mode
    bool onLeftEdge;  // the point lies on the left edge of its cell (not the first cell)
  };

  // The positions of x and y in the grid's nodes, located in the frame.
  double columnOf(double x) const { return (x - frame_.left) / frame_.stepX() - i0_; }
  double rowOf(double y) const { return (y - frame_.bottom) / frame_.stepY() - j0_; }
  // The bilinear offset along an axis of a point at distance from the frame's first node, at
  // offset s in the grid's cell: as Grid::value measures it in the grid's own frame, s in a
  // window's.
  double bilinearOffset(double distance, int cell, double s, double step) const;
  void sampleSplineRow(int j, double t, double* out);
  void sampleBilinearRow(int j, double t, double* out);
  // Sets the points of row j's cells that have a blank corner to kBlankValue, except points on
  // an edge they share with a valid cell (t: the offset of y in row j).
  void blankCells(int j, double y, double t, double* out);
  // The surface at (x, y), read from the cell detail::surfaceCell chooses.
  double pointValue(double x, double y) const;

  const Grid& grid_;
  Lattice frame_;  // the lattice that locates the points
  int i0_ = 0;     // the grid's first node in the frame
  int j0_ = 0;
  bool window_ = false;  // located in the frame of a grid this one is a window of

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
