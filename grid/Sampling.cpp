#include "grid/Sampling.h"

#include <algorithm>

#include "grid/Derivatives.h"
#include "grid/SurfaceKernel.h"

namespace vellumar::grid {

std::vector<double> sampleAtPoints(const Grid& grid, SampledQuantity quantity,
                                   std::span<const double> xs, std::span<const double> ys,
                                   double missing) {
  const std::size_t count = std::min(xs.size(), ys.size());
  std::vector<double> out(count, missing);
  if (!detail::surfaceUsable(grid)) return out;
  const auto inside = [&grid](double x, double y) {
    return x >= grid.left && x <= grid.right && y >= grid.bottom && y <= grid.top;
  };
  if (quantity == SampledQuantity::Value) {
    for (std::size_t k = 0; k < count; ++k) {
      if (inside(xs[k], ys[k])) out[k] = grid.value(xs[k], ys[k]);
    }
  } else {
    const Derivative derivative = static_cast<Derivative>(quantity);
    for (std::size_t k = 0; k < count; ++k) {
      if (inside(xs[k], ys[k])) out[k] = derivativeAt(grid, derivative, xs[k], ys[k]);
    }
  }
  // A point whose surface is blank has no value.
  if (grid.hasBlanks()) {
    for (double& v : out) v = isBlank(v) ? missing : v;
  }
  return out;
}

GridPoints gridToPoints(const Grid& grid, double missing) {
  GridPoints points;
  const std::size_t count = grid.nodeCount();
  // A grid without nodes may still carry a large count on one axis: nothing is sized from it.
  if (count == 0) return points;
  points.values.reserve(count);
  points.x.reserve(count);
  points.y.reserve(count);
  const std::vector<double> xs = grid.nodeXs();
  const std::vector<double> ys = grid.nodeYs();
  for (int i = 0; i < grid.nx(); ++i) {
    for (int j = 0; j < grid.ny(); ++j) {
      const double v = grid.node(i, j);
      points.values.push_back(isBlank(v) ? missing : v);
      points.x.push_back(xs[i]);
      points.y.push_back(ys[j]);
    }
  }
  return points;
}

}  // namespace vellumar::grid
