#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "grid/Grid.h"

namespace vellumar::grid {

// Grid operations over a selection of nodes (the nodes a polygon selects, say). A selection holds
// one flag per node in node order (index j * nx + i); a node takes part when its flag is set.

// Node coordinates as the polygon functions place them: x_i = left + i * hx and y_j = bottom +
// j * hy, without the clamping to the far edge of Grid::nodeXs.
std::vector<double> latticeXs(const Grid& grid);
std::vector<double> latticeYs(const Grid& grid);

// Whether node k takes part in the selection. Every operation below asks here, so a rule that
// leaves further nodes out has one place to go.
inline bool takesPart(const Grid&, std::size_t k, std::span<const std::uint8_t> selected) {
  return selected[k] != 0;
}

// Smallest (largest) value among the nodes that take part: the running value starts from
// kMinMaxStart (-kMinMaxStart) and is replaced only by a strictly smaller (larger) one. found is
// false when no node takes part.
struct NodeExtremum {
  bool found = false;
  double value = 0.0;
};
NodeExtremum selectedExtremum(const Grid& grid, std::span<const std::uint8_t> selected,
                              bool largest);

// A copy of the grid (rectangle and mode) keeping the nodes that take part (keepSelected) or
// those that do not (!keepSelected) and setting every other node to 0.0. zmin and zmax become the
// range of all result nodes, zeros included, scanned from kMinMaxStart and -kMinMaxStart.
Grid keepNodes(const Grid& grid, std::span<const std::uint8_t> selected, bool keepSelected);

}  // namespace vellumar::grid
