#pragma once

#include <span>
#include <vector>

#include "common/ErrorSink.h"
#include "grid/Grid.h"

namespace vellumar::grid {

// Reading a grid's surface at arbitrary points, and listing a grid's nodes as points.

// What is read at each point: the surface value or one of its derivatives.
enum class SampledQuantity { Value = 0, X = 1, Y = 2, XX = 3, XY = 4, YY = 5 };

// The quantity at every point (xs[k], ys[k]) inside the grid's closed rectangle; missing for points
// outside it, for points where the surface is blank, and everywhere when the grid has fewer than
// two nodes along an axis. progress (may be null) hears of the spline solve and the points done;
// a cancel gives no values at all.
std::vector<double> sampleAtPoints(const Grid& grid, SampledQuantity quantity,
                                   std::span<const double> xs, std::span<const double> ys,
                                   double missing, ErrorSink* progress = nullptr);

// One point per node in column order (i outer, j inner): X and Y of the node and its value, or
// missing for a blank node (kBlankValue unless given). A cancel through progress gives no points.
struct GridPoints {
  std::vector<double> values;
  std::vector<double> x;
  std::vector<double> y;
};
GridPoints gridToPoints(const Grid& grid, double missing = kBlankValue,
                        ErrorSink* progress = nullptr);

}  // namespace vellumar::grid
