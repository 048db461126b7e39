#include <algorithm>
#include <iterator>
#include <limits>
#include <random>

#include "TestShapes.h"
#include "geometry/Bins.h"
#include "geometry/Crossings.h"

namespace vellumar::geometry {
namespace {

using namespace test;

// Whether a crossing was found, whether it lies inside both segments, and where, with its mark.
std::tuple<bool, bool, double, double, int> crossingOf(Point a, Point b, Point c, Point d) {
  const SegmentCrossing x = intersectSegments(a, b, c, d);
  return {x.found, x.interior, x.point.x, x.point.y, x.point.mark};
}
using Found = std::tuple<bool, bool, double, double, int>;

TEST(SegmentIntersection, CrossingTouchingParallelSegmentsAndSnapSteps) {
  EXPECT_EQ(crossingOf({0, 0}, {2, 2}, {0, 2}, {2, 0}), Found(true, true, 1, 1, 0));
  // A T-junction: the crossing is the end of the shorter segment exactly, also with the segments
  // swapped and reversed.
  EXPECT_EQ(crossingOf({0, 0}, {4, 2}, {1, 0.5}, {1, 3}), Found(true, false, 1, 0.5, 1));
  EXPECT_EQ(crossingOf({1, 3}, {1, 0.5}, {0, 0}, {4, 2}), Found(true, false, 1, 0.5, 1));
  // Segments meeting end to end touch.
  EXPECT_EQ(crossingOf({0, 0}, {1, 0}, {1, 0}, {2, 1}), Found(true, false, 1, 0, 1));
  // Along the longer segment the end is not snapped: the point stays where it was computed,
  // along the first (shorter) segment, at its start.
  EXPECT_EQ(crossingOf({0, 0}, {0.5, 0.5}, {-3, 1}, {3, -1}), Found(true, false, 0, 0, 1));

  EXPECT_FALSE(intersectSegments({0, 0}, {1, 1}, {2, 0}, {3, -5}).found);  // boxes apart
  EXPECT_FALSE(
      intersectSegments({0, 0}, {2, 2}, {2, 0}, {1.5, 1}).found);  // boxes overlap, lines miss
  // Parallel and degenerate segments never cross.
  EXPECT_FALSE(intersectSegments({0, 0}, {2, 0}, {1, 0}, {3, 0}).found);  // overlapping
  EXPECT_FALSE(intersectSegments({0, 0}, {2, 0}, {2, 0}, {4, 0}).found);  // collinear, touching
  EXPECT_FALSE(intersectSegments({0, 0}, {1e6, 1e-7}, {0, 0}, {1e6, 0}).found);  // |tan| = 1e-13
  EXPECT_TRUE(intersectSegments({0, 0}, {1e6, 1e-5}, {0, 0}, {1e6, 0}).found);   // |tan| = 1e-11
  EXPECT_FALSE(intersectSegments({1, 1}, {1, 1}, {0, 0}, {2, 2}).found);         // zero length
  EXPECT_FALSE(intersectSegments({NAN, 0}, {1, 1}, {0, 1}, {1, 0}).found);
  EXPECT_TRUE(intersectSegments({0, 0}, {2, 0}, {1, -1}, {1, 1}).found);  // perpendicular: dot = 0

  // Snapping rounds to the nearest multiple of the step.
  EXPECT_DOUBLE_EQ(snapToStep(2.26, 0.1), 2.3);
  EXPECT_DOUBLE_EQ(snapToStep(2.24, 0.1), 2.2);
  EXPECT_DOUBLE_EQ(snapToStep(7.0, 0.25), 7.0);
  EXPECT_DOUBLE_EQ(snapToStep(7.9, 0.25), 8.0);
  EXPECT_DOUBLE_EQ(snapToStep(-2.26, 0.1), -2.2);  // fraction rounds toward +inf
}

// Each crossing's line, segment, point and mark, sorted unless asked otherwise.
using Key = std::tuple<int, int, double, double, int>;
std::vector<Key> keys(const std::vector<CrPoint>& points, bool sorted = true) {
  std::vector<Key> k;
  for (const CrPoint& p : points) k.emplace_back(p.line, p.segment, p.x, p.y, p.mark);
  if (sorted) std::sort(k.begin(), k.end());
  return k;
}

TEST(CrossingSearch, SortedAlongEachSegment) {
  const Cover a = coverOf({polyline({{0, 0}, {10, 0}})});
  const Cover b = coverOf({polyline({{7, -1}, {7, 1}, {2, 1}, {2, -1}, {5, -1}, {5, 1}})});
  std::vector<CrPoint> onA, onB;
  findCrossings(a, b, onA, onB);
  EXPECT_EQ(keys(onA, false),
            (std::vector<Key>{{0, 0, 2, 0, 0}, {0, 0, 5, 0, 0}, {0, 0, 7, 0, 0}}));
  EXPECT_EQ(keys(onB, false),
            (std::vector<Key>{{0, 0, 7, 0, 0}, {0, 2, 2, 0, 0}, {0, 4, 5, 0, 0}}));

  findCrossings(a, coverOf({squareRing(5, 5, 6, 6)}), onA, onB);
  EXPECT_TRUE(onA.empty() && onB.empty());
  findCrossings(Cover{}, b, onA, onB);
  EXPECT_TRUE(onA.empty());
}

Cover randomLines(std::mt19937& rng, int lines, int points, double extent) {
  std::uniform_real_distribution<double> coord(0, extent);
  std::uniform_real_distribution<double> step(-extent / 10, extent / 10);
  Cover cover;
  for (int l = 0; l < lines; ++l) {
    std::vector<Point> p{{coord(rng), coord(rng)}};
    for (int i = 1; i < points; ++i) p.push_back({p.back().x + step(rng), p.back().y + step(rng)});
    // Some points land exactly on the grid of integers so that touching cases occur.
    if (l % 3 == 0)
      for (Point& q : p) q = {std::round(q.x), std::round(q.y)};
    cover.appendLine(Line(std::move(p)));
  }
  return cover;
}

// The crossings found by comparing every pair of segments: between the covers a and b, or, with
// a the same cover as b, between different lines and strictly between segments of one line that
// share no vertex.
void bruteCrossings(const Cover& a, const Cover& b, std::vector<CrPoint>& onA,
                    std::vector<CrPoint>& onB) {
  const bool one = &a == &b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t j = one ? i : 0; j < b.size(); ++j) {
      for (std::size_t k = 0; k + 1 < a[i].size(); ++k) {
        for (std::size_t m = (one && i == j ? k + 2 : 0); m + 1 < b[j].size(); ++m) {
          const SegmentCrossing x = intersectSegments(a[i][k], a[i][k + 1], b[j][m], b[j][m + 1]);
          if (!x.found || (one && i == j && !x.interior)) continue;
          onA.push_back({x.point, int(i), int(k)});
          onB.push_back({x.point, int(j), int(m)});
        }
      }
    }
  }
}

TEST(CrossingSearch, IndexFindsWhatComparingEveryPairFinds) {
  std::mt19937 rng(7);
  for (int round = 0; round < 6; ++round) {
    const Cover a = randomLines(rng, 12, 40, 30);
    const Cover b = randomLines(rng, 15, 50, 30);
    std::vector<CrPoint> onA, onB, bruteA, bruteB;
    findCrossings(a, b, onA, onB);
    bruteCrossings(a, b, bruteA, bruteB);
    EXPECT_GT(bruteA.size(), 10u);
    EXPECT_EQ(std::pair(keys(onA), keys(onB)), std::pair(keys(bruteA), keys(bruteB)));

    // Within one cover: both sides of each crossing are listed.
    Cover both = a;
    for (const Line& line : b.lines()) both.appendLine(line);
    std::vector<CrPoint> brute, other;
    bruteCrossings(both, both, brute, other);
    brute.insert(brute.end(), other.begin(), other.end());
    EXPECT_EQ(keys(findSelfCrossings(both)), keys(brute));
    EXPECT_EQ(hasSelfCrossing(both), !brute.empty());
  }
}

TEST(CrossingSearch, RingsOfOneCover) {
  // Neighbouring segments share vertices; a simple ring does not cross itself.
  EXPECT_TRUE(findSelfCrossings(coverOf({squareRing(0, 0, 1, 1)})).empty());
  // A ring touching itself at a vertex (two triangles joined at (1, 1)) is not a crossing.
  const Line bowl = polyline({{0, 0}, {2, 0}, {1, 1}, {2, 2}, {0, 2}, {1, 1}, {0, 0}});
  EXPECT_FALSE(hasSelfCrossing(coverOf({bowl})));
  // A figure eight is.
  const Line eight = polyline({{0, 0}, {2, 2}, {2, 0}, {0, 2}, {0, 0}});
  const std::vector<CrPoint> own = findSelfCrossings(coverOf({eight}));
  ASSERT_EQ(own.size(), 2u);
  EXPECT_EQ(std::tuple(own[0].segment, own[1].segment, own[0].x), std::tuple(0, 2, 1.0));
  // Two rings touching at one vertex.
  const std::vector<CrPoint> touch =
      findSelfCrossings(coverOf({squareRing(0, 0, 1, 1), squareRing(1, 1, 2, 2)}));
  ASSERT_FALSE(touch.empty());
  EXPECT_EQ(std::pair(touch[0].mark, touch[0].x), std::pair(1, 1.0));
  // Two rings sharing an edge touch at its ends.
  EXPECT_TRUE(hasSelfCrossing(coverOf({squareRing(0, 0, 1, 1), squareRing(1, 0, 2, 1)})));

  // Crossing points are rounded to the snap step.
  Cover crossing = coverOf({polyline({{0, 0}, {3, 1}}), polyline({{1, -1}, {1, 2}})});
  EXPECT_NEAR(findSelfCrossings(crossing)[0].y, 1.0 / 3.0, 1e-15);
  crossing.snapStep = 0.5;
  const std::vector<CrPoint> snapped = findSelfCrossings(crossing);
  ASSERT_EQ(snapped.size(), 2u);
  EXPECT_EQ(std::tuple(snapped[0].y, snapped[1].y, snapped[1].line), std::tuple(0.5, 0.5, 1));
}

TEST(CrossingSearch, PolygonCheckFindsWhatComparingEveryPairFinds) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(0, 1);
  int crossed = 0, clean = 0;
  for (int round = 0; round < 60; ++round) {
    Cover cover;
    const int rings = 1 + static_cast<int>(unit(rng) * 70);
    for (int r = 0; r < rings; ++r) {
      const int n = 3 + static_cast<int>(unit(rng) * 58);
      const double cx = unit(rng) * 300, cy = unit(rng) * 300, radius = 1 + unit(rng) * 5;
      Line ring = starRing(n, cx, cy, [&](double) { return radius * (0.3 + 0.7 * unit(rng)); });
      // Every third cover has a ring with a vertex pulled far sideways, which mostly crosses.
      if (round % 3 == 0 && r == 0)
        ring.setPoint(n / 2, Point{ring[n / 2].x + 50 * (unit(rng) - 0.5), cy});
      cover.appendLine(std::move(ring));
    }
    // Segments next to each other in a ring share a vertex, never an interior point, so the
    // pairwise search of one cover gives the check's rule.
    std::vector<CrPoint> onA, onB;
    bruteCrossings(cover, cover, onA, onB);
    const bool brute = !onA.empty();
    EXPECT_EQ(linesCrossOrOverlap(cover), brute) << round;
    ++(brute ? crossed : clean);
  }
  EXPECT_GT(crossed, 10);
  EXPECT_GT(clean, 10);
}

TEST(Bins, BinOfIsMonotoneAndClamped) {
  const AxisBins bins = AxisBins::over(-2.0, 8.0, 5);  // bins of width 2
  // The upper end belongs to the last bin; outside, infinite and NaN values land in a border
  // bin instead of outside the table.
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {-2.0, -0.5, 0.0, 5.9, 8.0, -1e300, -inf, 1e300, inf, NAN};
  const int expected[] = {0, 0, 1, 3, 4, 0, 0, 4, 4, 0};
  for (std::size_t k = 0; k < std::size(values); ++k)
    EXPECT_EQ(bins.binOf(values[k]), expected[k]) << values[k];
  // One bin takes everything.
  EXPECT_EQ(AxisBins{}.binOf(123.0), 0);
}

TEST(Bins, CoarsenedCountHalvesUntilTheEntriesFitAndAsksLastForTheOneReturned) {
  // The count asked for, the entries allowed, the count returned and the counts tried; never
  // below one bin, even when nothing fits.
  const std::tuple<int, std::size_t, int, std::vector<int>> cases[] = {
      {100, 300, 25, {100, 50, 25}}, {6, 0, 1, {6, 3, 1}}, {0, 0, 1, {1}}};
  for (const auto& [count, allowed, result, tried] : cases) {
    std::vector<int> asked;
    // Entries grow with the count: 10 per bin.
    auto entries = [&](int bins) {
      asked.push_back(bins);
      return static_cast<std::size_t>(bins) * 10;
    };
    EXPECT_EQ(coarsenedBinCount(count, allowed, entries), result);
    EXPECT_EQ(asked, tried);
  }
}

TEST(Bins, ListsHoldEachBinsItemsInFilingOrder) {
  // Items spanning bin ranges, as a long edge is listed in every bin it passes.
  const std::vector<std::pair<int, int>> spans = {{0, 2}, {1, 1}, {3, 3}, {1, 3}, {2, 2}};
  BinLists<int> lists;
  lists.build(5, [&](auto&& file) {
    for (std::size_t i = 0; i < spans.size(); ++i)
      for (int b = spans[i].first; b <= spans[i].second; ++b)
        file(static_cast<std::size_t>(b), static_cast<int>(i));
  });
  std::vector<std::vector<int>> bins;
  for (std::size_t b = 0; b < 5; ++b) bins.emplace_back(lists.in(b).begin(), lists.in(b).end());
  EXPECT_EQ(bins, (std::vector<std::vector<int>>{{0}, {0, 1, 3}, {0, 3, 4}, {2, 3}, {}}));
  // An index built over no items has empty bins.
  BinLists<int> empty;
  empty.build(3, [](auto&&) {});
  EXPECT_TRUE(empty.in(2).empty());
}

}  // namespace
}  // namespace vellumar::geometry
