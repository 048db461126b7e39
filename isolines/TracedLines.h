#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/Geometry.h"

namespace vellumar::isolines {

// Traced isoline pieces stored flat: the points of all pieces one after the other (x and y in two
// arrays) and, for each piece, its number of points and its level. A trace of hundreds of
// thousands of pieces therefore costs four arrays rather than one heap object per piece, and the
// coordinate arrays can be handed on (moved) to an operand without copying.
struct TracedLines {
  std::vector<double> x;
  std::vector<double> y;
  std::vector<std::int32_t> counts;
  std::vector<double> levels;
  // The points placed exactly on a lattice node (a level equal to node values, or within rounding
  // of them), in increasing order: only there can lines meet or retrace each other's stretches.
  std::vector<std::size_t> nodePoints;

  std::size_t size() const { return counts.size(); }
  bool empty() const { return counts.empty(); }
  std::size_t pointCount() const { return x.size(); }
  // Empties all arrays and gives their memory back.
  void clear();
  // Appends the pieces as lines (value = level) to cover; points on nodes are marked nodeMark,
  // the others 0.
  void appendTo(geometry::Cover& cover, std::int32_t nodeMark = 0) const;
};

}  // namespace vellumar::isolines
