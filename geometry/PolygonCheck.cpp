#include "geometry/PolygonCheck.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "geometry/Crossings.h"
#include "geometry/PointInPolygon.h"

namespace vellumar::geometry {
namespace {

// Closed rings of at least 2 points with finite coordinates (a NaN or infinite vertex has no
// place in an area); caches every ring's signed area.
bool ringsValid(const Cover& cover) {
  for (const Line& ring : cover.lines()) {
    if (ring.size() < 2 || !ring.isClosed()) return false;
    for (const Point& p : ring.points()) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    }
    ring.signedArea();
  }
  return true;
}

// Depth of each ring: the rings of larger |area| (later in ascending order of |area|, ties kept in
// cover order) whose rectangle and whose interior by the single-ring rule hold its first point.
std::vector<int> nestingDepths(const Cover& cover) {
  const std::size_t n = cover.size();
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::fabs(cover[a].signedArea()) < std::fabs(cover[b].signedArea());
  });
  std::vector<std::size_t> rank(n);
  for (std::size_t i = 0; i < n; ++i) rank[order[i]] = i;

  const PreparedPolygon prepared(cover);
  std::vector<int> depth(n, 0);
  std::vector<std::size_t> containing;
  for (std::size_t i = 0; i < n; ++i) {
    const Point& first = cover[i].front();
    prepared.containingRings(first.x, first.y, containing);
    for (const std::size_t j : containing) {
      if (rank[j] > rank[i] && cover[j].rect().contains(first.x, first.y)) ++depth[i];
    }
  }
  return depth;
}

}  // namespace

bool buildRegion(const Cover& cover, Region& region, bool check) {
  if (cover.empty()) return false;
  Region result;
  static_cast<Cover&>(result) = cover;
  if (check) {
    if (!ringsValid(result)) return false;
    result.recomputeRects();
    if (hasSelfCrossing(result)) return false;
    const std::vector<int> depth = nestingDepths(result);
    for (std::size_t i = 0; i < result.size(); ++i) {
      Line& ring = result.line(i);
      const bool even = depth[i] % 2 == 0;
      if (ring.signedArea() > 0.0 && even) ring.reverse();
      if (ring.signedArea() < 0.0 && !even) ring.reverse();
    }
  }
  region = std::move(result);
  return true;
}

}  // namespace vellumar::geometry
