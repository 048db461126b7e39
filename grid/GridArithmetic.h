#pragma once

#include <optional>

#include "common/ErrorSink.h"
#include "common/Pointwise.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"

namespace vellumar::grid {

// The value a zero divisor gives in grid-by-grid division, and in a number divided by a grid.
inline constexpr double kGridDivisionByZeroValue = 3.4e38;
inline constexpr double kNumberDivisionByZeroValue = 3.4028234663852886e38;
// Start values of MIN and MAX, returned for a grid without nodes.
inline constexpr double kMinMaxStart = 9.999999680285692e37;

// Pointwise kernels over grids. Operands are never changed; each call builds a new grid (name
// empty). A result node is blank (kBlankValue) wherever an operand node, or the surface read at it,
// is blank; no blank ever turns into a number, and no blank node is a domain failure. z-ranges
// leave blanks out. Failures record a code on the sink (201 lattices differ where they must be
// equal, 202 division by zero inside a function, 203 a node outside a function's domain) and return
// a partial result the caller must discard. The kernels report their progress through the sink
// once per row or block of nodes; a cancel there gives a grid without nodes.
//
// Two grids: Add, Subtract, Multiply, Divide, MultiplySignKeeping, Min and Max are computed on the
// common lattice (equal rectangles or the same lattice: the grid with fewer columns resampled to
// the other's counts; different rectangles: a lattice over the intersection read through both
// surfaces), bilinear when either operand is. And, Or and the comparisons need equal lattices and
// give bilinear 0/1 grids. Wherever a kernel reads a grid's surface at its own nodes it takes the
// node values, which the surface reproduces exactly up to the rounding of the spline solve.
Grid combine(const Grid& a, const Grid& b, BinaryOp op, ErrorSink& sink);

// The lattice combine's arithmetic lays two grids over, and which of them it reads through its
// surface at that lattice's nodes instead of taking its own node values.
struct CommonLattice {
  Lattice lattice;
  bool firstResampled = false;
  bool secondResampled = false;
};

// The common lattice of grids over lattices a and b, both with nodes, as combine's arithmetic
// finds it: equal rectangles (or the same lattice within rounding) give the lattice of the grid
// with more columns, b's when both have as many, and the other grid is resampled unless its counts
// are the same; different rectangles give a lattice over the intersection (the first rectangle
// when they are disjoint) with the finer steps, trimmed to near-square cells, and resample both.
// Nullopt when that lattice has no nodes; code 201 is recorded on the sink when it would be too
// large to build. The evaluation by tiles plans its inputs with the same function.
std::optional<CommonLattice> commonLattice(const Lattice& a, const Lattice& b, ErrorSink& sink);

// A grid and a number; numberOnLeft tells the written order (N - G, N / G, Great(N, G), ...).
// The result is written over the nodes of the grid handed in: pass a copy, or hand over a grid
// nobody else holds (a temporary) with std::move to build the result without a new node array.
Grid combine(Grid grid, double number, BinaryOp op, bool numberOnLeft, ErrorSink& sink);

// A pointwise function of the node values; the walk stops at the first failing node in column
// order (i outer, j inner), whose value and those after it stay unchanged.
// angleFactor is 1 for radians and kDegreesFactor for degrees.
Grid apply(const Grid& grid, UnaryFn fn, double angleFactor, ErrorSink& sink);

// The grid scaled by -1, z-range (-zmax, -zmin) of its nodes; written over the nodes handed in,
// as combine with a number is. progress (may be null) may cancel it.
Grid negate(Grid grid, ErrorSink* progress = nullptr);

// Smallest and largest stored node value, blanks left out; kMinMaxStart (-kMinMaxStart) for a grid
// without nodes or with blank nodes only.
double minimum(const Grid& grid);
double maximum(const Grid& grid);

// The grid's lattice, rectangle and mode with every node set to value; z-range (value, value).
Grid filled(const Grid& grid, double value);

}  // namespace vellumar::grid
