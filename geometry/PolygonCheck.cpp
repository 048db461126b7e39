#include "geometry/PolygonCheck.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

#include "geometry/Crossings.h"
#include "geometry/PointInPolygon.h"
#include "geometry/SegmentGrid.h"

namespace vellumar::geometry {
namespace {

std::atomic<std::uint64_t> gRingNestingCalls{0};

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

// Whether, sorted, the votes come in pairs: every ring voted for exactly twice.
bool votedInPairs(std::vector<std::size_t>& votes) {
  std::sort(votes.begin(), votes.end());
  for (std::size_t v = 0; v < votes.size(); v += 2) {
    if (v + 1 == votes.size() || votes[v + 1] != votes[v] ||
        (v + 2 < votes.size() && votes[v + 2] == votes[v])) {
      return false;
    }
  }
  return true;
}

// Ranks the rings by |signed area|, ties in cover order; the areas are read once, not in every
// comparison.
std::vector<std::size_t> rankByArea(const Cover& rings) {
  const std::size_t n = rings.size();
  std::vector<std::size_t> rank(n);
  std::vector<double> areas(n);
  for (std::size_t i = 0; i < n; ++i) areas[i] = std::fabs(rings[i].signedArea());
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return areas[a] < areas[b]; });
  for (std::size_t i = 0; i < n; ++i) rank[order[i]] = i;
  return rank;
}

// The nesting being found, with the two questions every way of pairing the rings asks.
struct NestingSearch {
  const Cover& rings;
  std::vector<std::size_t> rank;
  RingNesting nesting;
  std::vector<Point> points;  // the test points of the ring being placed

  // Ring j, ranked above ring i, holds it.
  void holds(std::size_t j, std::size_t i) {
    ++nesting.depth[i];
    std::ptrdiff_t& parent = nesting.parent[i];
    if (parent < 0 || rank[j] < rank[static_cast<std::size_t>(parent)]) {
      parent = static_cast<std::ptrdiff_t>(j);
    }
  }

  // Whether most of the test points lie in ring j and its rectangle.
  bool mostInside(std::size_t j) const {
    const Line& ring = rings[j];
    std::size_t count = 0;
    for (const Point& p : points) {
      if (ring.rect().contains(p.x, p.y) && insideRing(ring, p.x, p.y)) ++count;
    }
    return 2 * count > points.size();
  }
};

// Of few rings, every pair is tested.
void nestEveryPair(NestingSearch& search) {
  const std::size_t n = search.rings.size();
  for (std::size_t i = 0; i < n; ++i) {
    testPoints(search.rings[i], search.points);
    for (std::size_t j = 0; j < n; ++j) {
      if (search.rank[j] > search.rank[i] && search.mostInside(j)) search.holds(j, i);
    }
  }
}

// The rings of many split by size: small ones by their boxes in a grid, the rest listed
// (ascending) and gathered in one cover.
struct RingsBySize {
  SegmentGrid smallBoxes;
  std::vector<std::size_t> largeRings;
  Cover large;
};

// Sorts the rings into small and large; a ring of too many edges or without a finite box is large.
void splitBySize(const Cover& rings, RingsBySize& split) {
  constexpr std::size_t kSmallRing = 256;  // edges
  split.smallBoxes.reserve(rings.size());
  for (std::size_t j = 0; j < rings.size(); ++j) {
    const Rect& box = rings[j].rect();
    const bool finite = std::isfinite(box.left) && std::isfinite(box.right) &&
                        std::isfinite(box.bottom) && std::isfinite(box.top);
    if (rings[j].size() <= kSmallRing + 1 && box.defined && finite) {
      split.smallBoxes.addBox(box, j);
    } else {
      split.largeRings.push_back(j);
      split.large.appendLine(rings[j]);
    }
  }
  split.smallBoxes.build();
}

// Small rings in small rings: only the pairs whose boxes overlap are tested.
void nestSmallInSmall(NestingSearch& search, const SegmentGrid& smallBoxes) {
  smallBoxes.forEachOverlappingPair([&](const SegmentRef& a, const SegmentRef& b) {
    auto i = static_cast<std::size_t>(a.line);
    auto j = static_cast<std::size_t>(b.line);
    if (search.rank[i] > search.rank[j]) std::swap(i, j);
    testPoints(search.rings[i], search.points);
    if (search.mostInside(j)) search.holds(j, i);
    return true;
  });
}

// Counts the sorted votes of each ring: one that most of the test points voted for holds ring i.
void holdByMajority(NestingSearch& search, std::vector<std::size_t>& votes, std::size_t i) {
  std::sort(votes.begin(), votes.end());
  for (std::size_t v = 0; v < votes.size();) {
    const std::size_t j = votes[v];
    std::size_t count = 0;
    for (; v < votes.size() && votes[v] == j; ++v) ++count;
    if (2 * count > search.points.size()) search.holds(j, i);
  }
}

// Every ring in the large rings, asked through one prepared polygon of theirs, and a large ring
// also in the small rings, through the grid of their boxes.
void nestInLarge(NestingSearch& search, const RingsBySize& split) {
  const Cover& rings = search.rings;
  const std::vector<std::size_t>& rank = search.rank;
  const PreparedPolygon prepared(split.large);
  std::size_t nextLarge = 0;  // largeRings is ascending
  std::vector<std::size_t> containing;
  std::vector<std::size_t> votes;
  for (std::size_t i = 0; i < rings.size(); ++i) {
    const bool isLarge = nextLarge < split.largeRings.size() && split.largeRings[nextLarge] == i;
    if (isLarge) ++nextLarge;
    testPoints(rings[i], search.points);
    votes.clear();
    for (std::size_t k = 0; k < search.points.size(); ++k) {
      const Point& p = search.points[k];
      // Of three points, the third decides only for a ring that holds one of the first two: when
      // every ring that voted holds both, it cannot change the outcome and is not asked.
      if (k == 2 && votedInPairs(votes)) break;
      // Each ring ranked above i that holds the point in itself and its rectangle votes once.
      auto vote = [&](std::size_t j) {
        if (rank[j] > rank[i] && rings[j].rect().contains(p.x, p.y)) votes.push_back(j);
      };
      prepared.containingRings(p.x, p.y, containing);
      for (const std::size_t k : containing) vote(split.largeRings[k]);
      if (isLarge) {
        split.smallBoxes.forEachNear(p.x, p.y, 0.0, [&](const SegmentRef& box) {
          const auto j = static_cast<std::size_t>(box.line);
          if (insideRing(rings[j], p.x, p.y)) vote(j);
        });
      }
    }
    holdByMajority(search, votes, i);
  }
}

}  // namespace

std::uint64_t detail::ringNestingCalls() {
  return gRingNestingCalls.load(std::memory_order_relaxed);
}

RingNesting ringNesting(const Cover& rings) {
  gRingNestingCalls.fetch_add(1, std::memory_order_relaxed);
  const std::size_t n = rings.size();
  NestingSearch search{
      rings, rankByArea(rings), {std::vector<int>(n, 0), std::vector<std::ptrdiff_t>(n, -1)}, {}};
  constexpr std::size_t kFewRings = 64;
  if (n <= kFewRings) {
    nestEveryPair(search);
    return search.nesting;
  }

  // Of many rings, the small ones are paired through a grid of their boxes: a ring's test points
  // lie in its box, and ring i counts as lying in ring j only where they lie in j's box too, so
  // only pairs whose boxes overlap need testing, a few per ring. The large rings, which a point may
  // lie in wherever it is, are asked through one prepared polygon of theirs, and a large ring's
  // points through the grid of small boxes. Every part stays near linear in the number of rings.
  RingsBySize split{SegmentGrid(rings.rect(), SegmentGrid::crossingSearchCells(16 * n)), {}, {}};
  splitBySize(rings, split);
  nestSmallInSmall(search, split.smallBoxes);
  if (!split.largeRings.empty()) nestInLarge(search, split);
  return search.nesting;
}

RingNesting regionNesting(const Region& region) {
  if (region.nesting.depth.size() == region.size() &&
      region.nesting.parent.size() == region.size()) {
    return region.nesting;
  }
  return ringNesting(region);
}

bool buildRegion(Cover cover, Region& region, bool check) {
  if (cover.empty()) return false;
  Region result;
  static_cast<Cover&>(result) = std::move(cover);
  if (check) {
    if (!ringsValid(result)) return false;
    result.recomputeRects();
    if (linesCrossOrOverlap(result)) return false;
    result.nesting = ringNesting(result);
    for (std::size_t i = 0; i < result.size(); ++i) {
      Line& ring = result.line(i);
      const bool even = result.nesting.depth[i] % 2 == 0;
      if (ring.signedArea() > 0.0 && even) ring.reverse();
      if (ring.signedArea() < 0.0 && !even) ring.reverse();
    }
  }
  region = std::move(result);
  return true;
}

}  // namespace vellumar::geometry
