#include <algorithm>
#include <random>

#include "TestShapes.h"
#include "geometry/PointInPolygon.h"

namespace vellumar::geometry {
namespace {

using namespace test;

// Outer 0..10 clockwise, hole 2..8 counter-clockwise, island 4..6 clockwise.
Region nestedRegion() {
  return regionOf({squareRing(4, 4, 6, 6), squareRing(0, 0, 10, 10), squareRing(2, 2, 8, 8)});
}

using XY = std::pair<double, double>;

TEST(PointInRing, VerticesInsideAndHalfOpenEdges) {
  const Line ring = squareRing(0, 0, 2, 2, true);
  for (const Point& v : ring.points()) EXPECT_TRUE(insideRing(ring, v.x, v.y)) << v.x << v.y;
  // On the bottom edge lower ends belong to the edges; on the top edge no edge counts; on the
  // right edge the crossing at x counts; on the left edge both side edges count.
  const std::tuple<double, double, bool> probes[] = {{1, 1, true},  {1, 0, true},  {1, 2, false},
                                                     {2, 1, true},  {0, 1, false}, {3, 1, false},
                                                     {-1, 1, false}};
  for (const auto& [x, y, inside] : probes)
    EXPECT_EQ(insideRing(ring, x, y), inside) << x << "," << y;

  const Line triangle = polyline({{0, 0}, {4, 0}, {0, 4}, {0, 0}});
  EXPECT_TRUE(insideRing(triangle, 1, 1));
  EXPECT_FALSE(insideRing(triangle, 3, 3));
  EXPECT_TRUE(insideRing(triangle, 2, 2));  // on the slanted edge, crossing at x
  EXPECT_FALSE(insideRing(polyline({{0, 0}, {4, 0}, {0, 4}}), 1, 1));  // not closed
  EXPECT_FALSE(insideRing(polyline({{0, 0}}), 0, 0));
  // The rectangle test is inclusive and only excludes.
  EXPECT_TRUE(insideRing(triangle, 0, 0, true));
  EXPECT_FALSE(insideRing(triangle, 3, 3, true));
}

TEST(PointInPolygon, InnermostRingDecides) {
  const Region region = nestedRegion();
  // Vertex, edge and hole cases are checked through the point selection; here the hole's left edge
  // (the outer ring's only) is inside, its right edge outside.
  EXPECT_TRUE(insideInnermost(region, 2, 5));
  EXPECT_FALSE(insideInnermost(region, 8, 5));
  EXPECT_FALSE(insideInnermost(Cover{}, 0, 0));

  // A counter-clockwise lone ring is a hole with nothing around it.
  EXPECT_FALSE(insideInnermost(coverOf({squareRing(0, 0, 1, 1)}), 0.5, 0.5));
  // Rings too large for the starting bound never count.
  EXPECT_FALSE(insideInnermost(coverOf({squareRing(0, 0, 2e19, 1e19, true)}), 1, 1));
}

TEST(PointInPolygon, EvenOddOverAllRings) {
  const Region region = nestedRegion();
  for (const bool rectTest : {false, true}) {
    // Any vertex (2, 2) is inside. Within 0.0001 of the bottom or top the ray runs upward: the
    // bottom edge is outside, unlike under the ring rule, and the top edge is inside.
    for (const auto& [x, y] : {XY{1, 1}, {5, 5}, {2, 2}, {5, 10}, {5, 0.00005}}) {
      EXPECT_TRUE(insideEvenOdd(region, x, y, rectTest)) << x << "," << y;
    }
    for (const auto& [x, y] : {XY{3, 3}, {12, 5}, {5, 0}}) {
      EXPECT_FALSE(insideEvenOdd(region, x, y, rectTest)) << x << "," << y;
    }
  }
  EXPECT_TRUE(insideEvenOdd(region, 1, 9.99995, true));
  EXPECT_FALSE(insideEvenOdd(region, 1, 10.00005, false));
  EXPECT_TRUE(insideEvenOdd(region, 10, 5, false));

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
  q.push_back({NAN, 1});
  q.push_back({1, NAN});
  return q;
}

Cover starRegion(std::mt19937& rng, int vertices, double cx, double cy, double radius) {
  std::uniform_real_distribution<double> wobble(0.6, 1.0);
  std::vector<Point> p;
  for (int i = 0; i < vertices; ++i) {
    const double a = -2 * M_PI * i / vertices;
    const double rr = radius * wobble(rng);
    p.push_back({std::round(cx + rr * std::cos(a)), std::round(cy + rr * std::sin(a))});
    if (p.size() > 1 && samePosition(p.back(), p[p.size() - 2])) p.pop_back();
  }
  p.push_back(p.front());
  return coverOf({Line(std::move(p))});
}

// Expects the prepared index to give, point by point, the containing rings that insideRing gives,
// and in batch the flags the single-point rules give.
void expectPreparedAgrees(const Cover& region, const std::vector<Point>& queries) {
  const PreparedPolygon prepared(region);
  std::vector<double> xs, ys;
  std::vector<std::uint8_t> innermost, evenOdd[2], batch(queries.size());
  std::vector<std::size_t> rings;
  for (const Point& p : queries) {
    xs.push_back(p.x);
    ys.push_back(p.y);
    innermost.push_back(insideInnermost(region, p.x, p.y));
    for (const bool rectTest : {false, true}) {
      evenOdd[rectTest].push_back(insideEvenOdd(region, p.x, p.y, rectTest));
    }
    prepared.containingRings(p.x, p.y, rings);
    std::vector<std::size_t> expected;
    for (std::size_t r = 0; r < region.size(); ++r) {
      if (insideRing(region[r], p.x, p.y)) expected.push_back(r);
    }
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

  // A wobbly ring with integer vertices, plus a hole and an island inside it.
  const Region region = regionOf({starRegion(rng, 300, 0, 0, 200)[0],
                                  starRegion(rng, 100, 0, 0, 80)[0], squareRing(-10, -10, 10, 10)});
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

}  // namespace
}  // namespace vellumar::geometry
