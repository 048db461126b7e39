#pragma once

#include <optional>

#include "common/Pointwise.h"
#include "engine/Builtins.h"

namespace vellumar::grid {
class Grid;
}
namespace vellumar::isolines {
struct TracedLines;
}

namespace vellumar::engine::functions {

// Handlers of the built-in functions, one file per family. Each receives its evaluated
// arguments, whose kinds the call has already checked against the function's form.

// Pointwise functions (Sqrt ... ArcTg, Not; min, max, And, Or and the comparisons).
template <UnaryFn fn>
Operand unary(S_Calculator& calc, Arguments& args);
template <BinaryOp op>
Operand binary(S_Calculator& calc, Arguments& args);
// min and max: when one argument is a polygon or lines, the other must be a number.
bool lineWithNumberOnly(S_Calculator& calc, const Arguments& args);

// Choice and reduction (IF, MIN, MAX, Sum, Mul_SP).
Operand choose(S_Calculator& calc, Arguments& args);
void checkChoiceCondition(S_Calculator& calc, const Arguments& args);
Operand minimum(S_Calculator& calc, Arguments& args);
Operand maximum(S_Calculator& calc, Arguments& args);
Operand sum(S_Calculator& calc, Arguments& args);
Operand multiplyKeepingSign(S_Calculator& calc, Arguments& args);
bool multiplicationPair(S_Calculator& calc, const Arguments& args);

// Argument checks of the grid functions made while their arguments are read.
void checkSpecNumber(S_Calculator& calc, const Arguments& args);
void checkRandomGridArguments(S_Calculator& calc, const Arguments& args);
ListStep randomGridListStep(const Arguments& args);
// Merge accepts two grids only; any other pair is an invalid combination.
bool twoGrids(S_Calculator& calc, const Arguments& args);

// Isolines of a map (Trace with levels, step and densification).
Operand traceIsolines(S_Calculator& calc, Arguments& args);
// The levels to trace and the densification of the tracing lattice.
struct TraceLevels {
  double lowest = 0.0;
  double highest = 0.0;
  double step = 1.0;
  double densification = 1.0;
  // The value blank parts of the surface take for tracing, when they are not to stop the lines.
  std::optional<double> blankFill;
};
// Traces the isolines of the map through the tracing driver, showing progress through the sink.
// False when the statement fails: the lattice does not fit in memory, the trace failed on its own
// (message 12) or the user cancelled; a map without such isolines gives true and no lines.
bool traceMap(S_Calculator& calc, const grid::Grid& map, const TraceLevels& levels,
              isolines::TracedLines& lines);

// Grid to polygon: G_P (the map's rectangle through its border nodes; a polygon unchanged) and
// Trace with four arguments (the region above or below a level).
Operand gridOutline(S_Calculator& calc, Arguments& args);
Operand traceRegion(S_Calculator& calc, Arguments& args);

// Grid construction and reshaping (EG, XG, YG, RG, Dense, Cut, Merge).
Operand onesGrid(S_Calculator& calc, Arguments& args);
Operand xCoordinateGrid(S_Calculator& calc, Arguments& args);
Operand yCoordinateGrid(S_Calculator& calc, Arguments& args);
Operand randomGrid(S_Calculator& calc, Arguments& args);
Operand denseGrid(S_Calculator& calc, Arguments& args);
Operand cutGrid(S_Calculator& calc, Arguments& args);
Operand mergeGrids(S_Calculator& calc, Arguments& args);

// Derivatives and sampling: Dx ... Dyy (codes 1 ... 5), Spec, the C_G_D family (quantity 0 the
// surface value, 1 ... 5 the derivatives) and G_D.
template <int code>
Operand derivative(S_Calculator& calc, Arguments& args);
Operand specialGrid(S_Calculator& calc, Arguments& args);
template <int quantity>
Operand sampleGrid(S_Calculator& calc, Arguments& args);
Operand gridToData(S_Calculator& calc, Arguments& args);

// Polygon predicates, masks and measures: Area, Len (one and two arguments), IO_P and In (flags
// 1 inside), Out (flags 1 outside), In_P, Out_P, the polygon forms of MIN, MAX and Sum, and C_D.
Operand area(S_Calculator& calc, Arguments& args);
Operand length(S_Calculator& calc, Arguments& args);
// IO_P and In (insideIsOne), Out.
template <bool insideIsOne>
Operand insideFlags(S_Calculator& calc, Arguments& args);
// In_P (inside), Out_P.
template <bool inside>
Operand keepPart(S_Calculator& calc, Arguments& args);
// MIN (largest false) and MAX over a polygon.
template <bool largest>
Operand extremumInPolygon(S_Calculator& calc, Arguments& args);
Operand sumInPolygon(S_Calculator& calc, Arguments& args);
Operand pointsToData(S_Calculator& calc, Arguments& args);

// The integral of a map's surface over a polygon (Integral).
Operand integral(S_Calculator& calc, Arguments& args);
// The mean of a map's surface over the part of a polygon where it has values (Mean).
Operand mean(S_Calculator& calc, Arguments& args);

// The coordinates of grids, lines and polygons that the computations with coordinates accept:
// within +-1e18, grid steps of at least 1e-18 (see CoordinateRange.cpp); data rows always pass.
bool coordinatesInRange(const Operand& x);
// The same, recording the argument-value message for the operand's position when it fails.
bool checkCoordinates(S_Calculator& calc, const Operand& x);
// The form check of the functions that compute with their arguments' coordinates.
bool checkArgumentCoordinates(S_Calculator& calc, const Arguments& args);

}  // namespace vellumar::engine::functions
