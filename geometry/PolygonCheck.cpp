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

}  // namespace

RingNesting ringNesting(const Cover& rings) {
  const std::size_t n = rings.size();
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::fabs(rings[a].signedArea()) < std::fabs(rings[b].signedArea());
  });
  std::vector<std::size_t> rank(n);
  for (std::size_t i = 0; i < n; ++i) rank[order[i]] = i;

  const PreparedPolygon prepared(rings);
  RingNesting nesting{std::vector<int>(n, 0), std::vector<std::ptrdiff_t>(n, -1)};
  std::vector<std::size_t> containing;
  for (std::size_t i = 0; i < n; ++i) {
    if (rings[i].empty()) continue;
    const Point& first = rings[i].front();
    prepared.containingRings(first.x, first.y, containing);
    std::ptrdiff_t& parent = nesting.parent[i];
    for (const std::size_t j : containing) {
      if (rank[j] <= rank[i] || !rings[j].rect().contains(first.x, first.y)) continue;
      ++nesting.depth[i];
      if (parent < 0 || rank[j] < rank[static_cast<std::size_t>(parent)]) {
        parent = static_cast<std::ptrdiff_t>(j);
      }
    }
  }
  return nesting;
}

bool buildRegion(const Cover& cover, Region& region, bool check) {
  if (cover.empty()) return false;
  Region result;
  static_cast<Cover&>(result) = cover;
  if (check) {
    if (!ringsValid(result)) return false;
    result.recomputeRects();
    if (hasSelfCrossing(result)) return false;
    const std::vector<int> depth = ringNesting(result).depth;
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
