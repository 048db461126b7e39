#include "geometry/GridOutline.h"

namespace vellumar::geometry {
namespace {

// Node k of count nodes spaced evenly from low to high; the last one is high exactly.
double along(double low, double high, int k, int count) {
  if (k >= count - 1) return high;
  return low + k * ((high - low) / (count - 1));
}

}  // namespace

Line latticeOutline(const Rect& rect, int nx, int ny) {
  nx = nx < 2 ? 2 : nx;
  ny = ny < 2 ? 2 : ny;
  Line ring;
  ring.reserve(static_cast<std::size_t>(2 * (nx + ny) - 3));
  for (int j = 0; j < ny - 1; ++j) ring.append(Point{rect.left, along(rect.bottom, rect.top, j, ny)});
  for (int i = 0; i < nx - 1; ++i) ring.append(Point{along(rect.left, rect.right, i, nx), rect.top});
  for (int j = 0; j < ny - 1; ++j) ring.append(Point{rect.right, along(rect.top, rect.bottom, j, ny)});
  for (int i = 0; i < nx - 1; ++i) ring.append(Point{along(rect.right, rect.left, i, nx), rect.bottom});
  ring.append(Point{rect.left, rect.bottom});
  return ring;
}

}  // namespace vellumar::geometry
