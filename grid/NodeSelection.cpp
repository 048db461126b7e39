#include "grid/NodeSelection.h"

#include <algorithm>

#include "grid/GridArithmetic.h"

namespace vellumar::grid {

namespace {

std::vector<double> latticeAxis(double low, double step, int count) {
  std::vector<double> coordinates(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) coordinates[i] = low + i * step;
  return coordinates;
}

}  // namespace

std::vector<double> latticeXs(const Grid& grid) {
  return latticeAxis(grid.left, grid.stepX(), grid.nx());
}

std::vector<double> latticeYs(const Grid& grid) {
  return latticeAxis(grid.bottom, grid.stepY(), grid.ny());
}

NodeExtremum selectedExtremum(const Grid& grid, std::span<const std::uint8_t> selected,
                              bool largest) {
  NodeExtremum result{false, largest ? -kMinMaxStart : kMinMaxStart};
  const std::span<const double> nodes = grid.nodes();
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    if (!takesPart(grid, k, selected)) continue;
    result.found = true;
    const double v = nodes[k];
    if (largest ? v > result.value : v < result.value) result.value = v;
  }
  return result;
}

Grid keepNodes(const Grid& grid, std::span<const std::uint8_t> selected, bool keepSelected) {
  const std::span<const double> nodes = grid.nodes();
  NodeVector values(nodes.size());
  Range range{kMinMaxStart, -kMinMaxStart};
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    const bool blank = isBlank(nodes[k]);
    const double v = blank || (selected[k] != 0) == keepSelected ? nodes[k] : 0.0;
    values[k] = blank ? kBlankValue : v;
    range.add(v);
  }
  return resultGrid(grid.nx(), grid.ny(), grid, std::move(values), grid.mode(), range);
}

}  // namespace vellumar::grid
