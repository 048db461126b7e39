#include "grid/Lattice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vellumar::grid {

NodeWindow NodeWindow::widened(int margin, int latticeNx, int latticeNy) const {
  const int left = std::max(0, i0 - margin);
  const int bottom = std::max(0, j0 - margin);
  const int right = std::min(latticeNx, i0 + nx + margin);
  const int top = std::min(latticeNy, j0 + ny + margin);
  return {left, bottom, right - left, top - bottom};
}

Lattice Lattice::of(const Grid& grid) {
  return {grid.nx(), grid.ny(), grid.left, grid.right, grid.bottom, grid.top};
}

double Lattice::nodeX(int i) const {
  return std::min(left + i * stepX(), right);
}

double Lattice::nodeY(int j) const {
  return std::min(bottom + j * stepY(), top);
}

std::vector<double> Lattice::nodeXs() const {
  return nodeCoordinates(left, right, nx);
}

std::vector<double> Lattice::nodeYs() const {
  return nodeCoordinates(bottom, top, ny);
}

Lattice Lattice::window(const NodeWindow& window) const {
  return {window.nx,        window.ny,
          nodeX(window.i0), nodeX(window.i0 + window.nx - 1),
          nodeY(window.j0), nodeY(window.j0 + window.ny - 1)};
}

bool Lattice::sameNodes(const Lattice& other) const {
  if (nx != other.nx || ny != other.ny) return false;
  const double hx = std::min(std::abs(stepX()), std::abs(other.stepX()));
  const double hy = std::min(std::abs(stepY()), std::abs(other.stepY()));
  // Two extents of an axis with the given step lie within rounding of each other.
  const auto near = [](double a, double b, double step) {
    return a == b || std::abs(a - b) < 1e-9 * std::abs(step);
  };
  return near(left, other.left, hx) && near(right, other.right, hx) &&
         near(bottom, other.bottom, hy) && near(top, other.top, hy);
}

namespace {

// The nodes a grid over the lattice holds: none when a count is below 1.
std::size_t heldNodes(const Lattice& lattice) {
  return lattice.nx >= 1 && lattice.ny >= 1 ? lattice.nodeCount() : 0;
}

}  // namespace

Grid Lattice::holding(NodeVector values, const Range& range, const Georeference& georeference,
                      Interpolation mode) const {
  Grid grid;
  grid.rectangleFlag = left != right && bottom != top ? 1u : 0u;
  grid.left = left;
  grid.right = right;
  grid.bottom = bottom;
  grid.top = top;
  grid.zmin = range.min;
  grid.zmax = range.max;
  grid.georeference = georeference;
  grid.mode_ = mode;
  grid.nx_ = nx;
  grid.ny_ = ny;
  grid.nodes_ = std::move(values);
  grid.nodes_.resize(heldNodes(*this), 0.0);
  return grid;
}

Grid Lattice::holding(NodeVector values, const Georeference& georeference,
                      Interpolation mode) const {
  values.resize(heldNodes(*this), 0.0);
  const Range range = rangeOf(values);
  return holding(std::move(values), range, georeference, mode);
}

Grid cutWindow(const Grid& grid, const NodeWindow& window) {
  NodeVector values(window.nodeCount());
  const std::span<const double> nodes = grid.nodes();
  for (int r = 0; r < window.ny; ++r) {
    const std::size_t from = static_cast<std::size_t>(window.j0 + r) * grid.nx() + window.i0;
    std::memcpy(values.data() + static_cast<std::size_t>(r) * window.nx, nodes.data() + from,
                sizeof(double) * window.nx);
  }
  Grid part =
      Lattice::of(grid).window(window).holding(std::move(values), grid.georeference, grid.mode());
  part.name = grid.name;
  return part;
}

}  // namespace vellumar::grid
