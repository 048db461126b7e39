#include "grid/NodeSelection.h"

#include <algorithm>
#include <cmath>
#include <utility>

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
  return selectedExtremum(grid, NodeWindow{0, 0, grid.nx(), grid.ny()}, selected, largest);
}

NodeWindow nodesWithin(const Grid& grid, double left, double right, double bottom, double top) {
  const auto span = [](double low, double high, double origin, double step, int count) {
    if (!(step > 0.0) || !(low <= high)) return std::pair{0, std::max(count, 0)};
    const double first = std::floor((low - origin) / step);
    const double last = std::ceil((high - origin) / step) + 1.0;
    const int begin = static_cast<int>(std::clamp(first, 0.0, static_cast<double>(count)));
    const int end = static_cast<int>(std::clamp(last, static_cast<double>(begin), double(count)));
    return std::pair{begin, end};
  };
  const auto [i0, i1] = span(left, right, grid.left, grid.stepX(), grid.nx());
  const auto [j0, j1] = span(bottom, top, grid.bottom, grid.stepY(), grid.ny());
  return {i0, j0, i1 - i0, j1 - j0};
}

NodeExtremum selectedExtremum(const Grid& grid, const NodeWindow& window,
                              std::span<const std::uint8_t> selected, bool largest) {
  NodeExtremum result{false, largest ? -kMinMaxStart : kMinMaxStart};
  const std::span<const double> nodes = grid.nodes();
  const auto nx = static_cast<std::size_t>(grid.nx());
  std::size_t flag = 0;
  for (int j = window.j0; j < window.j0 + window.ny; ++j) {
    for (int i = window.i0; i < window.i0 + window.nx; ++i, ++flag) {
      const double v = nodes[static_cast<std::size_t>(j) * nx + static_cast<std::size_t>(i)];
      if (selected[flag] == 0 || isBlank(v)) continue;
      result.found = true;
      if (largest ? v > result.value : v < result.value) result.value = v;
    }
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
  return Lattice::of(grid).holding(std::move(values), range, grid.georeference, grid.mode());
}

}  // namespace vellumar::grid
