#include <gtest/gtest.h>

#include <cmath>

#include "TestShapes.h"
#include "geometry/PointInPolygon.h"
#include "geometry/PolygonCheck.h"

namespace vellumar::geometry {
namespace {

using test::coverOf;
using test::polyline;
using test::squareRing;

double enclosedArea(const Region& region) {
  double sum = 0.0;
  for (const Line& ring : region.lines()) sum -= ring.signedArea();
  return sum;
}

TEST(PolygonCheck, NestedRingsAreOrientedByDepthWhateverTheirDirection) {
  for (int directions = 0; directions < 8; ++directions) {
    Line outer = squareRing(0, 0, 10, 10, directions & 1);
    outer.id = 1;
    outer.value = 100;
    Line hole = squareRing(2, 2, 8, 8, directions & 2);
    hole.id = 2;
    Line island = squareRing(4, 4, 6, 6, directions & 4);
    island.id = 3;
    Region region;
    region.inverted = true;
    ASSERT_TRUE(buildRegion(coverOf({hole, island, outer}), region)) << directions;
    ASSERT_EQ(region.size(), 3u);
    EXPECT_FALSE(region.inverted);
    // Order, ids and values are kept.
    EXPECT_EQ(region[0].id, 2);
    EXPECT_EQ(region[1].id, 3);
    EXPECT_EQ(region[2].id, 1);
    EXPECT_EQ(region[2].value, 100);
    EXPECT_GT(region[0].signedArea(), 0);  // hole counter-clockwise
    EXPECT_LT(region[1].signedArea(), 0);  // island clockwise
    EXPECT_LT(region[2].signedArea(), 0);  // outer clockwise
    for (const Line& ring : region.lines()) EXPECT_TRUE(ring.isClosed());
    EXPECT_DOUBLE_EQ(enclosedArea(region), 100 - 36 + 4);
    EXPECT_EQ(region.rect().right, 10);
    // The cached areas agree with the points after reversal.
    Line fresh(std::vector<Point>(region[0].points().begin(), region[0].points().end()));
    EXPECT_EQ(fresh.signedArea(), region[0].signedArea());
  }

  // A square with a square hole encloses 3.75 in every direction.
  for (int directions = 0; directions < 4; ++directions) {
    Region region;
    ASSERT_TRUE(buildRegion(coverOf({squareRing(0, 0, 2, 2, directions & 1),
                                     squareRing(0.5, 0.5, 1, 1, directions & 2)}),
                            region));
    EXPECT_DOUBLE_EQ(enclosedArea(region), 3.75);
  }

  // Side by side rings are all outer boundaries.
  Region twins;
  ASSERT_TRUE(buildRegion(coverOf({squareRing(0, 0, 1, 1), squareRing(3, 0, 4, 1)}), twins));
  EXPECT_LT(twins[0].signedArea(), 0);
  EXPECT_LT(twins[1].signedArea(), 0);
  EXPECT_TRUE(insideInnermost(twins, 0.5, 0.5));
  EXPECT_TRUE(insideInnermost(twins, 3.5, 0.5));
}

TEST(PolygonCheck, RejectsWhatIsNotAPolygon) {
  Region region;
  region.appendLine(squareRing(50, 50, 51, 51));
  EXPECT_FALSE(buildRegion(Cover{}, region));
  EXPECT_FALSE(buildRegion(coverOf({polyline({{0, 0}, {1, 0}, {1, 1}})}), region));
  EXPECT_FALSE(buildRegion(coverOf({polyline({{0, 0}})}), region));
  EXPECT_FALSE(buildRegion(
      coverOf({polyline({{0, 0}, {1, 0}, {1, 1}, {std::nextafter(0.0, 1.0), 0}})}), region));
  EXPECT_FALSE(buildRegion(coverOf({squareRing(0, 0, 2, 2), squareRing(1, 1, 3, 3)}), region));
  EXPECT_FALSE(buildRegion(coverOf({squareRing(0, 0, 4, 4), squareRing(0, 1, 1, 2)}), region));
  EXPECT_FALSE(buildRegion(coverOf({polyline({{0, 0}, {2, 2}, {2, 0}, {0, 2}, {0, 0}})}), region));
  EXPECT_FALSE(buildRegion(coverOf({polyline({{0, 0}, {1, 0}, {NAN, 1}, {0, 0}})}), region));
  EXPECT_FALSE(buildRegion(coverOf({polyline({{0, 0}, {1, 0}, {1, INFINITY}, {0, 0}})}), region));
  // Failures leave the region as it was.
  ASSERT_EQ(region.size(), 1u);
  EXPECT_EQ(region[0][0].x, 50);

  // A ring that touches itself at a vertex is accepted and oriented as one boundary.
  ASSERT_TRUE(buildRegion(
      coverOf({polyline({{0, 0}, {2, 0}, {1, 1}, {2, 2}, {0, 2}, {1, 1}, {0, 0}})}), region));
  EXPECT_DOUBLE_EQ(region[0].signedArea(), -2.0);

  // Without the check the cover is taken as it is, but never an empty one.
  const Cover open = coverOf({polyline({{0, 0}, {1, 0}, {1, 1}})});
  ASSERT_TRUE(buildRegion(open, region, false));
  EXPECT_FALSE(region[0].isClosed());
  EXPECT_FALSE(buildRegion(Cover{}, region, false));
}

TEST(PolygonCheck, RingsMayTouchAtIsolatedPoints) {
  // Corner on corner; each ring starts at the shared corner, which lies on the other ring.
  Region region;
  ASSERT_TRUE(buildRegion(
      coverOf({squareRing(0, 0, 2, 2), Line({{2, 2}, {3, 2}, {3, 3}, {2, 3}, {2, 2}})}), region));
  EXPECT_LT(region[0].signedArea(), 0);
  EXPECT_LT(region[1].signedArea(), 0);
  EXPECT_TRUE(insideInnermost(region, 2.5, 2.5));
  EXPECT_FALSE(insideInnermost(region, 2.5, 1.5));

  // A hole touching its boundary at the boundary's corner, another on an edge, and an island
  // touching its hole, given in every direction.
  for (int directions = 0; directions < 8; ++directions) {
    Line cornerHole({{0, 0}, {2, 1}, {1, 2}, {0, 0}});
    Line edgeHole({{10, 5}, {7, 4}, {7, 6}, {10, 5}});
    Line island({{7, 5}, {8, 4.5}, {8, 5.5}, {7, 5}});
    if (directions & 1) cornerHole.reverse();
    if (directions & 2) edgeHole.reverse();
    if (directions & 4) island.reverse();
    ASSERT_TRUE(
        buildRegion(coverOf({cornerHole, squareRing(0, 0, 10, 10), edgeHole, island}), region))
        << directions;
    EXPECT_GT(region[0].signedArea(), 0) << directions;  // holes counter-clockwise
    EXPECT_LT(region[1].signedArea(), 0) << directions;
    EXPECT_GT(region[2].signedArea(), 0) << directions;
    EXPECT_LT(region[3].signedArea(), 0) << directions;  // the island clockwise
    EXPECT_FALSE(insideInnermost(region, 1, 1));
    EXPECT_FALSE(insideInnermost(region, 7.5, 4.2));
    EXPECT_TRUE(insideInnermost(region, 7.5, 5));
    EXPECT_TRUE(insideInnermost(region, 5, 5));
  }

  // A corner of one ring on the edge of another, from outside.
  EXPECT_TRUE(buildRegion(coverOf({squareRing(0, 0, 4, 4), Line({{4, 2}, {6, 1}, {6, 3}, {4, 2}})}),
                          region));
  EXPECT_LT(region[1].signedArea(), 0);
}

TEST(PolygonCheck, RingsMayNotCrossOrShareAStretch) {
  Region region;
  const Line square = squareRing(0, 0, 2, 2);
  // Crossing only through vertices: along the square's diagonal from corner to corner.
  EXPECT_FALSE(buildRegion(coverOf({square, Line({{2, 2}, {0, 0}, {-1, 3}, {2, 2}})}), region));
  // Through a corner from outside into the square, leaving across an edge.
  EXPECT_FALSE(buildRegion(coverOf({square, Line({{2, 2}, {1, 1.5}, {3, 5}, {2, 2}})}), region));
  // A shared edge, a shared part of an edge, the same ring twice, a ring inside along an edge.
  EXPECT_FALSE(buildRegion(coverOf({square, squareRing(2, 0, 3, 2)}), region));
  EXPECT_FALSE(buildRegion(coverOf({square, squareRing(2, 1, 3, 3)}), region));
  EXPECT_FALSE(buildRegion(coverOf({square, square}), region));
  EXPECT_FALSE(buildRegion(coverOf({square, squareRing(0, 0.5, 1, 1.5)}), region));
  // Touching corner to corner but along the same direction: a shared stretch of zero width.
  EXPECT_FALSE(buildRegion(coverOf({square, Line({{2, 2}, {2, 1}, {3, 1}, {2, 2}})}), region));
}

TEST(PolygonCheck, CrossingsAnywhereAlongLongRingsAreFound) {
  std::vector<Point> p;
  const int n = 5000;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    const double r = 1000 + 30 * std::sin(17 * a);
    p.push_back({r * std::cos(a), r * std::sin(a)});
  }
  p.push_back(p.front());
  Cover cover = coverOf({Line(p), squareRing(-10, -10, 10, 10)});
  Region region;
  ASSERT_TRUE(buildRegion(cover, region));
  EXPECT_LT(region[0].signedArea(), 0);
  EXPECT_GT(region[1].signedArea(), 0);

  // Pull one vertex across the ring's far side: the ring now crosses itself.
  p[1234] = {-p[1234].x * 0.99, -p[1234].y * 0.99};
  EXPECT_FALSE(buildRegion(coverOf({Line(p)}), region));
  // A small ring straddling the boundary crosses it.
  const Point& v = p[3000];
  cover.appendLine(squareRing(v.x - 5, v.y - 5, v.x + 5, v.y + 5));
  EXPECT_FALSE(buildRegion(cover, region));
}

}  // namespace
}  // namespace vellumar::geometry
