#include <algorithm>
#include <limits>
#include <random>

#include "../common/TestSupport.h"
#include "TestShapes.h"
#include "geometry/PointInPolygon.h"
#include "geometry/PolygonSelection.h"

namespace vellumar::geometry {
namespace {

using namespace test;

// Outer 0..10 clockwise, hole 2..8 counter-clockwise, island 4..6 clockwise.
Region nestedRegion() {
  return regionOf({squareRing(4, 4, 6, 6), squareRing(0, 0, 10, 10), squareRing(2, 2, 8, 8)});
}

// A point and whether it is inside.
using Probe = std::tuple<double, double, bool>;
constexpr RectBounds kBounds[] = {RectBounds::Excluded, RectBounds::Included};

TEST(PointInRing, VerticesInsideAndHalfOpenEdges) {
  const Line ring = squareRing(0, 0, 2, 2, true);
  for (const Point& v : ring.points()) EXPECT_TRUE(insideRing(ring, v.x, v.y)) << v.x << v.y;
  // On the bottom edge lower ends belong to the edges; on the top edge no edge counts; on the
  // right edge the crossing at x counts; on the left edge both side edges count.
  const Probe probes[] = {{1, 1, true},  {1, 0, true},  {1, 2, false}, {2, 1, true},
                          {0, 1, false}, {3, 1, false}, {-1, 1, false}};
  for (const auto& [x, y, inside] : probes)
    EXPECT_EQ(insideRing(ring, x, y), inside) << x << "," << y;

  const Line triangle = polyline({{0, 0}, {4, 0}, {0, 4}, {0, 0}});
  EXPECT_EQ(std::pair(insideRing(triangle, 1, 1), insideRing(triangle, 3, 3)),
            std::pair(true, false));
  EXPECT_TRUE(insideRing(triangle, 2, 2));  // on the slanted edge, crossing at x
  EXPECT_FALSE(insideRing(polyline({{0, 0}, {4, 0}, {0, 4}}), 1, 1));  // not closed
  // The rectangle test is inclusive and only excludes.
  EXPECT_TRUE(insideRing(triangle, 0, 0, true) && !insideRing(triangle, 3, 3, true));
}

TEST(PointInPolygon, InnermostRingDecidesOrEveryRingCountsByTheEvenOddRule) {
  const Region region = nestedRegion();
  // Vertex, edge and hole cases are checked through the point selection; here the hole's left edge
  // (the outer ring's only) is inside, its right edge outside.
  EXPECT_EQ(std::tuple(insideInnermost(region, 2, 5), insideInnermost(region, 8, 5),
                       insideInnermost(Cover{}, 0, 0)),
            std::tuple(true, false, false));

  // A counter-clockwise lone ring is a hole with nothing around it.
  EXPECT_FALSE(insideInnermost(coverOf({squareRing(0, 0, 1, 1)}), 0.5, 0.5));
  // Rings too large for the starting bound never count.
  EXPECT_FALSE(insideInnermost(coverOf({squareRing(0, 0, 2e19, 1e19, true)}), 1, 1));

  // By the even-odd rule any vertex (2, 2) is inside. Within 0.0001 of the bottom or top the ray
  // runs upward: the bottom edge is outside, unlike under the ring rule, and the top edge is
  // inside.
  const Probe probes[] = {{1, 1, true},       {5, 5, true},  {2, 2, true},        {5, 10, true},
                          {5, 0.00005, true}, {10, 5, true}, {1, 9.99995, true},  {3, 3, false},
                          {12, 5, false},     {5, 0, false}, {1, 10.00005, false}};
  for (const bool rectTest : {false, true})
    for (const auto& [x, y, inside] : probes)
      EXPECT_EQ(insideEvenOdd(region, x, y, rectTest), inside) << x << "," << y;

  // Rings whose rectangle misses the point are skipped with the rectangle test on.
  Cover stale = coverOf({squareRing(0, 0, 4, 4), squareRing(10, 0, 14, 4)});
  stale.line(1).setPoint(0, Point{10, 0.5});        // no longer closed
  EXPECT_FALSE(insideEvenOdd(stale, 1, 1, false));  // an open ring: nothing is inside
  EXPECT_FALSE(insideEvenOdd(Cover{}, 0, 0, false));
}

// Random query points plus every vertex, edge midpoints, exact edge points and points at the
// rectangle's bottom and top, for the prepared index to agree with the single-point rules.
std::vector<Point> queryPoints(const Cover& region, std::mt19937& rng) {
  std::vector<Point> q;
  const Rect& r = region.rect();
  std::uniform_real_distribution<double> ux(r.left - 1, r.right + 1), uy(r.bottom - 1, r.top + 1);
  for (int i = 0; i < 3000; ++i) q.push_back({ux(rng), uy(rng)});
  for (int i = 0; i < 400; ++i) q.push_back({std::round(ux(rng)), std::round(uy(rng))});
  for (const Line& ring : region.lines()) {
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
      q.push_back(ring[i]);
      q.push_back({(ring[i].x + ring[i + 1].x) / 2, (ring[i].y + ring[i + 1].y) / 2});
      q.push_back({ring[i].x, (ring[i].y + ring[i + 1].y) / 2});
      q.push_back({ux(rng), ring[i].y});
    }
  }
  for (int i = 0; i < 200; ++i) {
    q.push_back({ux(rng), r.bottom + (i % 3) * 0.00004});
    q.push_back({ux(rng), r.top - (i % 3) * 0.00004});
  }
  q.insert(q.end(), {{NAN, 1}, {1, NAN}});
  return q;
}

std::vector<double> axis(double low, double step, int count) {
  std::vector<double> v;
  for (int i = 0; i < count; ++i) v.push_back(low + i * step);
  return v;
}

// A star-shaped ring of n vertices around (cx, cy) with radii in [low, high], each vertex moved
// onto the lattice: onto a node, or onto a grid line (one coordinate on the lattice).
Line latticeStar(std::mt19937& rng, double cx, double cy, double low, double high, int n,
                 const std::vector<double>& xs, const std::vector<double>& ys, double step) {
  std::uniform_real_distribution<double> radius(low, high);
  std::uniform_int_distribution<int> how(0, 2);
  auto nearest = [&](const std::vector<double>& v, double c) {
    const auto k = std::clamp<long>(std::lround((c - v[0]) / step), 0, long(v.size()) - 1);
    return v[static_cast<std::size_t>(k)];
  };
  std::vector<Point> p;
  for (int k = 0; k < n; ++k) {
    const double a = 2 * M_PI * k / n, r = radius(rng);
    const int mode = how(rng);
    const double x = mode == 1 ? cx + r * std::cos(a) : nearest(xs, cx + r * std::cos(a));
    const double y = mode == 2 ? cy + r * std::sin(a) : nearest(ys, cy + r * std::sin(a));
    if (p.empty() || p.back().x != x || p.back().y != y) p.push_back({x, y});
  }
  p.push_back(p.front());
  return Line(std::move(p));
}

// Expects the prepared index to give, point by point, the containing rings that insideRing gives,
// and in batch the flags the single-point rules give.
void expectPreparedAgrees(const Cover& region, const std::vector<Point>& queries) {
  const PreparedPolygon prepared(region);
  std::vector<double> xs, ys;
  std::vector<std::uint8_t> innermost, evenOdd[2], batch(queries.size());
  std::vector<std::size_t> rings;
  for (const Point& p : queries) {
    xs.push_back(p.x), ys.push_back(p.y);
    innermost.push_back(insideInnermost(region, p.x, p.y));
    evenOdd[0].push_back(insideEvenOdd(region, p.x, p.y, false));
    evenOdd[1].push_back(insideEvenOdd(region, p.x, p.y, true));
    prepared.containingRings(p.x, p.y, rings);
    std::vector<std::size_t> expected;
    for (std::size_t r = 0; r < region.size(); ++r)
      if (insideRing(region[r], p.x, p.y)) expected.push_back(r);
    ASSERT_EQ(rings, expected) << p.x << " " << p.y;
  }
  prepared.insideInnermost(xs, ys, batch);
  EXPECT_EQ(batch, innermost);
  EXPECT_GT(std::count(innermost.begin(), innermost.end(), 1), 0);
  for (const bool rectTest : {false, true}) {
    prepared.insideEvenOdd(xs, ys, rectTest, batch);
    EXPECT_EQ(batch, evenOdd[rectTest]) << "rectangle test " << rectTest;
  }
}

TEST(PreparedPolygon, AgreesWithTheSinglePointRules) {
  std::mt19937 rng(11);
  expectPreparedAgrees(nestedRegion(), queryPoints(nestedRegion(), rng));

  // A wobbly ring with vertices on integer lattice lines, plus a hole and an island inside it.
  const std::vector<double> integers = axis(-200, 1, 401);
  const Region region = regionOf({latticeStar(rng, 0, 0, 120, 200, 300, integers, integers, 1),
                                  latticeStar(rng, 0, 0, 48, 80, 100, integers, integers, 1),
                                  squareRing(-10, -10, 10, 10)});
  expectPreparedAgrees(region, queryPoints(region, rng));

  // Many small rings of both directions, one of them listed twice (equal areas).
  Cover many;
  for (int i = 0; i < 30; ++i)
    many.appendLine(squareRing(i * 3, i % 5, i * 3 + 2, i % 5 + 2, i % 2));
  many.appendLine(squareRing(0, 0, 2, 2, true));
  expectPreparedAgrees(many, queryPoints(many, rng));

  // An open ring makes the even-odd rule answer outside everywhere.
  Cover open = many;
  open.appendLine(polyline({{0, 0}, {1, 1}}));
  expectPreparedAgrees(open, queryPoints(open, rng));
}

// The selection rule point by point, from the single-point rules: the reference every batch and
// scanline result is held against.
bool reference(const Cover& region, double x, double y, RectBounds bounds) {
  return inRect(region.rect(), x, y, bounds) && insideInnermost(region, x, y);
}

// Expects the lattice mask to equal the reference at every node; returns the selected count.
int expectLatticeMatches(const Cover& region, const std::vector<double>& xs,
                         const std::vector<double>& ys, RectBounds bounds) {
  std::vector<std::uint8_t> mask(xs.size() * ys.size(), 7), expected;
  EXPECT_TRUE(selectLattice(region, xs, ys, bounds, mask));
  for (const double y : ys)
    for (const double x : xs) expected.push_back(reference(region, x, y, bounds));
  EXPECT_EQ(mask, expected);
  return static_cast<int>(std::count(expected.begin(), expected.end(), 1));
}

TEST(LatticeSelection, EqualsTheInnermostRuleOnLatticeAlignedPolygons) {
  std::mt19937 rng(11);
  // Steps that are not binary fractions, so node coordinates carry rounding, as real grids do.
  const double step = 0.3;
  const std::vector<double> xs = axis(-1.0, step, 41);
  const std::vector<double> ys = axis(-2.0, step, 37);
  int built = 0, selected = 0;
  for (int attempt = 0; attempt < 400 && built < 60; ++attempt) {
    // An outer ring, a hole inside it, an island in the hole, and a second outer ring.
    const Cover cover = coverOf({latticeStar(rng, 5.0, 3.0, 3.5, 5.5, 24, xs, ys, step),
                                 latticeStar(rng, 5.0, 3.0, 1.6, 2.8, 14, xs, ys, step),
                                 latticeStar(rng, 5.0, 3.0, 0.3, 1.0, 7, xs, ys, step),
                                 latticeStar(rng, 5.0, 9.1, 0.6, 1.2, 9, xs, ys, step)});
    Region region;
    if (!buildRegion(cover, region)) continue;
    ++built;
    for (const RectBounds bounds : kBounds)
      selected += expectLatticeMatches(region, xs, ys, bounds);
  }
  EXPECT_GE(built, 30);
  EXPECT_GT(selected, 1000);
}

TEST(LatticeSelection, EqualsTheRuleOnAnyCoverAndAxesInAnyOrder) {
  std::mt19937 rng(5);
  std::vector<double> xs = axis(0.0, 0.5, 13);
  std::vector<double> ys = axis(0.0, 0.5, 13);
  // The rule holds for any lines, valid polygon or not: crossing rings and an open line.
  // Kept inside the lattice, so that rows and columns outside the cover's rectangle are met too.
  const Cover crossing = coverOf({polyline({{1, 1}, {5, 5}, {5, 1}, {1, 5}, {1, 1}}),
                                  squareRing(2, 2, 4, 4), polyline({{1, 3}, {5, 3.5}})});
  for (const RectBounds bounds : kBounds) expectLatticeMatches(crossing, xs, ys, bounds);
  // Reversed and shuffled coordinates and NaN nodes give the same flags per node.
  const Region region = regionOf({squareRing(0, 0, 6, 6), squareRing(2, 2, 4, 4)});
  std::reverse(xs.begin(), xs.end());
  std::shuffle(ys.begin(), ys.end(), rng);
  xs[3] = std::numeric_limits<double>::quiet_NaN();
  ys[5] = std::numeric_limits<double>::quiet_NaN();
  for (const RectBounds bounds : kBounds)
    EXPECT_GT(expectLatticeMatches(region, xs, ys, bounds), 0);
}

TEST(PolygonSelection, VerticesHolesIslandsAndTheRectangleBounds) {
  // Outer 0..10 clockwise, hole 2..8, island 4..6 (given in any direction).
  const Region region = regionOf(
      {squareRing(0, 0, 10, 10, true), squareRing(2, 2, 8, 8, true), squareRing(4, 4, 6, 6)});
  const PointSelection strict(region, RectBounds::Excluded);
  const PointSelection inclusive(region, RectBounds::Included);
  // A vertex of a hole is outside; a vertex of the island inside; inside the hole outside. On
  // the region's rectangle nothing is selected strictly, even on a vertex of the outer ring.
  const struct {
    double x, y;
    bool strict, inclusive;
  } cases[] = {
      {2, 2, false, false},    {8, 8, false, false}, {4, 6, true, true},  {5, 5, true, true},
      {3, 3, false, false},    {1, 1, true, true},   {0, 0, false, true}, {10, 10, false, true},
      {0, 5, false, false},    {5, 0, false, true},  // the bottom edge belongs to the ring
      {5, 10, false, false},                         // the top edge does not
      {10.5, 5, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(strict.selected(c.x, c.y), c.strict) << c.x << ' ' << c.y;
    EXPECT_EQ(inclusive.selected(c.x, c.y), c.inclusive) << c.x << ' ' << c.y;
  }

  // The batch form gives the same answers as single points.
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> half(-2, 22);
  std::vector<double> xs(3000), ys(3000);
  for (std::vector<double>* v : {&xs, &ys})
    std::ranges::generate(*v, [&] { return half(rng) * 0.5; });
  for (const RectBounds bounds : kBounds) {
    std::vector<std::uint8_t> flags(xs.size()), expected;
    ASSERT_TRUE(PointSelection(region, bounds).select(xs, ys, flags));
    for (std::size_t k = 0; k < xs.size(); ++k)
      expected.push_back(reference(region, xs[k], ys[k], bounds));
    EXPECT_EQ(flags, expected);
  }
  // An empty region selects nothing.
  std::vector<std::uint8_t> none(4, 1);
  EXPECT_TRUE(selectLattice(Cover{}, axis(0, 1, 2), axis(0, 1, 2), RectBounds::Included, none) &&
              none == std::vector<std::uint8_t>(4, 0));
}

TEST(PolygonSelection, StopsWhenCancelled) {
  const Region region = regionOf({squareRing(0, 0, 10, 10)});
  const std::vector<double> xs = axis(0, 0.1, 101);
  vellumar::testing::RecordingObserver observer(1), pointsObserver(1);
  ErrorSink sink(&observer);
  sink.progressStart("rows", 101);
  std::vector<std::uint8_t> mask(xs.size() * xs.size());
  EXPECT_FALSE(selectLattice(region, xs, xs, RectBounds::Excluded, mask, &sink));
  EXPECT_EQ(sink.code(), sink_code::kCancelled);

  ErrorSink points(&pointsObserver);
  points.progressStart("points", 100000);
  std::vector<double> many(100000, 5.0);
  std::vector<std::uint8_t> flags(many.size());
  EXPECT_FALSE(PointSelection(region, RectBounds::Excluded).select(many, many, flags, &points));
  EXPECT_EQ(points.code(), sink_code::kCancelled);
}

}  // namespace
}  // namespace vellumar::geometry
