// The range of coordinates that the computations with coordinates accept.
//
// Areas, the polygon check's cross products, the crossings of point selection and clipping, the
// integrals over polygons and the derivatives multiply two coordinate differences or two steps;
// GEOS's segment intersections even multiply three. Within +-1e18 every such product stays far
// from overflow, every ring's area stays below the bound from which the innermost-ring rule starts
// (kNoArea, about 1e38), and steps of at least 1e-18 keep the squared steps of the derivatives
// normal numbers. Beyond it the results would be wrong in silence (GEOS's overlay already loses
// whole rings near 1e103, the selection rule drops rings from about 1e19), so such operands are
// refused before any work starts. The bound lies far beyond any real coordinate system.

#include <cmath>
#include <span>

#include "engine/Calculator.h"
#include "engine/functions/Functions.h"
#include "geometry/PointInPolygon.h"
#include "grid/Grid.h"

namespace vellumar::engine::functions {

namespace {

inline constexpr double kMostCoordinate = 1e18;
inline constexpr double kLeastStep = 1e-18;
static_assert(4 * kMostCoordinate * kMostCoordinate < geometry::kNoArea);

bool coordinateInRange(double c) {
  return std::fabs(c) <= kMostCoordinate;  // false for NaN
}

bool allInRange(std::span<const double> coordinates) {
  for (const double c : coordinates) {
    if (!coordinateInRange(c)) return false;
  }
  return true;
}

// An axis of a grid: its extents in range and, with two nodes or more, its step not too small.
bool axisInRange(double low, double high, double step, int nodes) {
  return coordinateInRange(low) && coordinateInRange(high) &&
         (nodes < 2 || std::fabs(step) >= kLeastStep);
}

}  // namespace

bool coordinatesInRange(const Operand& x) {
  switch (x.kind()) {
    case Kind::Grid: {
      const grid::Grid& map = *x.gridValue();
      return axisInRange(map.left, map.right, map.stepX(), map.nx()) &&
             axisInRange(map.bottom, map.top, map.stepY(), map.ny());
    }
    case Kind::Polygon:
    case Kind::Lines:
      return allInRange(x.points().x()) && allInRange(x.points().y());
    default:
      // The rows of data are only compared with a polygon's rectangle before any product.
      return true;
  }
}

bool checkCoordinates(S_Calculator& calc, const Operand& x) {
  if (coordinatesInRange(x)) return true;
  calc.argumentError(ArgumentMessage::InvalidValue, x.argumentPosition());
  return false;
}

bool checkArgumentCoordinates(S_Calculator& calc, const Arguments& args) {
  for (const Operand& x : args) {
    if (!checkCoordinates(calc, x)) return false;
  }
  return true;
}

}  // namespace vellumar::engine::functions
