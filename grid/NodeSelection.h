#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "grid/Grid.h"
#include "grid/Lattice.h"

namespace vellumar::grid {

// Grid operations over a selection of nodes (the nodes a polygon selects, say). A selection holds
// one flag per node in node order (index j * nx + i); a node takes part when its flag is set.

// Node coordinates as the polygon functions place them: x_i = left + i * hx and y_j = bottom +
// j * hy, without the clamping to the far edge of Grid::nodeXs.
std::vector<double> latticeXs(const Grid& grid);
std::vector<double> latticeYs(const Grid& grid);

// Whether node k takes part in the selection: it is selected and not blank (a blank node has no
// value to take part with). Every operation below asks here.
inline bool takesPart(const Grid& grid, std::size_t k, std::span<const std::uint8_t> selected) {
  return selected[k] != 0 && !isBlank(grid.nodes()[k]);
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

// The nodes of the lattice (latticeXs, latticeYs) that may lie in [left, right] x [bottom, top]:
// every node inside, and at most one column or row beside it on each side.
NodeWindow nodesWithin(const Grid& grid, double left, double right, double bottom, double top);
// selectedExtremum over the nodes of a window, selected holding one flag per node of it, row by
// row from its bottom row.
NodeExtremum selectedExtremum(const Grid& grid, const NodeWindow& window,
                              std::span<const std::uint8_t> selected, bool largest);

// A copy of the grid (rectangle and mode) keeping the nodes that are selected (keepSelected) or
// those that are not (!keepSelected) and setting every other node to 0.0; blank nodes stay blank
// either way. zmin and zmax become the range of all valid result nodes, zeros included, scanned
// from kMinMaxStart and -kMinMaxStart.
Grid keepNodes(const Grid& grid, std::span<const std::uint8_t> selected, bool keepSelected);

}  // namespace vellumar::grid
