#pragma once

#include <limits>

namespace vellumar::grid {

// Blank (no-data) nodes. Real grids have holes: an elevation model is blank outside a border, a
// bathymetry blank on land. The DSAA format marks such a node with the blanking value 1.70141e38,
// and every reader of the format treats any value at or above it as blank; a NaN (for example the
// aspect of a flat node) has no value either. Every kernel that reads nodes asks this one test,
// and every kernel that makes a blank node writes kBlankValue, which files keep as "1.70141e+38".
//
// Infinities are numbers, not blanks: +inf stays an ordinary (if useless) value, as -inf does.
inline constexpr double kBlankValue = 1.70141e38;

inline constexpr bool isBlank(double v) {
  return !(v < kBlankValue) && v != std::numeric_limits<double>::infinity();
}

}  // namespace vellumar::grid
