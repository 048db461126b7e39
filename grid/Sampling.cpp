#include "grid/Sampling.h"

#include <algorithm>

#include "common/Parallel.h"
#include "grid/Derivatives.h"
#include "grid/SurfaceKernel.h"

namespace vellumar::grid {

std::vector<double> sampleAtPoints(const Grid& grid, SampledQuantity quantity,
                                   std::span<const double> xs, std::span<const double> ys,
                                   double missing, ErrorSink* progress) {
  const std::size_t count = std::min(xs.size(), ys.size());
  std::vector<double> out(count, missing);
  if (!detail::surfaceUsable(grid)) return out;
  if (!grid.prepareSurface(progress)) return {};
  const auto inside = [&grid](double x, double y) {
    return x >= grid.left && x <= grid.right && y >= grid.bottom && y <= grid.top;
  };
  ProgressPacer pacer(progress, static_cast<std::int64_t>(count));
  bool done = false;
  if (quantity == SampledQuantity::Value) {
    done = parallel::forEachBlock(count, pacer, [&](std::size_t begin, std::size_t end) {
      for (std::size_t k = begin; k < end; ++k) {
        if (inside(xs[k], ys[k])) out[k] = grid.value(xs[k], ys[k]);
      }
    });
  } else {
    const Derivative derivative = static_cast<Derivative>(quantity);
    done = parallel::forEachBlock(count, pacer, [&](std::size_t begin, std::size_t end) {
      for (std::size_t k = begin; k < end; ++k) {
        if (inside(xs[k], ys[k])) out[k] = derivativeAt(grid, derivative, xs[k], ys[k]);
      }
    });
  }
  if (!done) return {};
  // A point whose surface is blank has no value.
  if (grid.hasBlanks()) {
    for (double& v : out) v = isBlank(v) ? missing : v;
  }
  return out;
}

GridPoints gridToPoints(const Grid& grid, double missing, ErrorSink* progress) {
  GridPoints points;
  const std::size_t count = grid.nodeCount();
  // A grid without nodes may still carry a large count on one axis: nothing is sized from it.
  if (count == 0) return points;
  points.values.reserve(count);
  points.x.reserve(count);
  points.y.reserve(count);
  const std::vector<double> xs = grid.nodeXs();
  const std::vector<double> ys = grid.nodeYs();
  ProgressPacer pacer(progress, static_cast<std::int64_t>(count));
  for (int i = 0; i < grid.nx(); ++i) {
    for (int j = 0; j < grid.ny(); ++j) {
      const double v = grid.node(i, j);
      points.values.push_back(isBlank(v) ? missing : v);
      points.x.push_back(xs[i]);
      points.y.push_back(ys[j]);
    }
    if (!pacer.advance(static_cast<std::int64_t>(points.values.size()))) return GridPoints();
  }
  return points;
}

}  // namespace vellumar::grid
