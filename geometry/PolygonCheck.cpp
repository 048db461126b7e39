#include "geometry/PolygonCheck.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <vector>

#include "geometry/Crossings.h"
#include "geometry/PointInPolygon.h"
#include "geometry/SegmentGrid.h"

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

// Points that tell whether a ring lies inside another: the middles of its first three edges (of
// fewer when it has fewer). Rings may touch at isolated points, so any one point, even a vertex,
// may lie on the other ring; a middle does so only where the other ring touches it exactly there,
// and the majority of three decides.
void testPoints(const Line& ring, std::vector<Point>& points) {
  points.clear();
  for (std::size_t k = 0; k + 1 < ring.size() && points.size() < 3; ++k) {
    points.push_back(
        Point{(ring[k].x + ring[k + 1].x) / 2.0, (ring[k].y + ring[k + 1].y) / 2.0, 0});
  }
  if (points.empty() && !ring.empty()) points.push_back(ring.front());
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

  // Few rings are tested one by one. Of many, a small ring is tested only where its box holds
  // the point (found through a grid of the boxes), and the large ones, which a point of a small
  // ring may lie in wherever it is, through one prepared polygon of theirs. Both costs stay near
  // constant per point, so the nesting of many small rings is linear.
  constexpr std::size_t kFewRings = 64;
  constexpr std::size_t kSmallRing = 256;  // edges
  std::optional<SegmentGrid> smallBoxes;
  std::optional<PreparedPolygon> prepared;
  std::vector<std::size_t> largeRings;
  if (n > kFewRings) {
    smallBoxes.emplace(rings.rect(), SegmentGrid::crossingSearchCells(16 * n));
    Cover large;
    for (std::size_t j = 0; j < n; ++j) {
      const Rect box = rings[j].rect();
      const bool finite = std::isfinite(box.left) && std::isfinite(box.right) &&
                          std::isfinite(box.bottom) && std::isfinite(box.top);
      if (rings[j].size() <= kSmallRing + 1 && box.defined && finite) {
        smallBoxes->addBox(box, j);
      } else {
        largeRings.push_back(j);
        large.appendLine(rings[j]);
      }
    }
    smallBoxes->build();
    if (!largeRings.empty()) prepared.emplace(large);
  }
  std::vector<std::size_t> largeContaining;
  auto containingRings = [&](const Point& p, std::vector<std::size_t>& containing) {
    containing.clear();
    if (!smallBoxes) {
      for (std::size_t j = 0; j < n; ++j) {
        if (insideRing(rings[j], p.x, p.y)) containing.push_back(j);
      }
      return;
    }
    smallBoxes->forEachNear(p.x, p.y, 0.0, [&](const SegmentRef& box) {
      const auto j = static_cast<std::size_t>(box.line);
      if (insideRing(rings[j], p.x, p.y)) containing.push_back(j);
    });
    if (prepared) {
      prepared->containingRings(p.x, p.y, largeContaining);
      for (const std::size_t k : largeContaining) containing.push_back(largeRings[k]);
    }
  };

  RingNesting nesting{std::vector<int>(n, 0), std::vector<std::ptrdiff_t>(n, -1)};
  std::vector<std::size_t> containing;
  std::vector<std::size_t> votes;
  std::vector<Point> points;
  for (std::size_t i = 0; i < n; ++i) {
    testPoints(rings[i], points);
    votes.clear();
    for (const Point& p : points) {
      containingRings(p, containing);
      for (const std::size_t j : containing) {
        if (rank[j] > rank[i] && rings[j].rect().contains(p.x, p.y)) votes.push_back(j);
      }
    }
    std::sort(votes.begin(), votes.end());
    std::ptrdiff_t& parent = nesting.parent[i];
    for (std::size_t v = 0; v < votes.size();) {
      const std::size_t j = votes[v];
      std::size_t count = 0;
      for (; v < votes.size() && votes[v] == j; ++v) ++count;
      if (2 * count <= points.size()) continue;
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
    if (linesCrossOrOverlap(result)) return false;
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
