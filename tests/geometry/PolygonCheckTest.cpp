#include "TestShapes.h"
#include "geometry/PointInPolygon.h"

namespace vellumar::geometry {
namespace {

using namespace test;

TEST(PolygonCheck, NestedRingsAreOrientedByDepthWhateverTheirDirection) {
  for (int directions = 0; directions < 8; ++directions) {
    const Line outer = tagged(squareRing(0, 0, 10, 10, directions & 1), 1, 100);
    const Line hole = tagged(squareRing(2, 2, 8, 8, directions & 2), 2);
    const Line island = tagged(squareRing(4, 4, 6, 6, directions & 4), 3);
    Region region;
    region.inverted = true;
    ASSERT_TRUE(buildRegion(coverOf({hole, island, outer}), region)) << directions;
    ASSERT_EQ(region.size(), 3u);
    EXPECT_FALSE(region.inverted);
    // Order, ids and values are kept; the hole runs counter-clockwise, the island and the outer
    // ring clockwise.
    EXPECT_EQ(idsOf(region), (std::vector<std::int32_t>{2, 3, 1}));
    EXPECT_EQ(region[2].value, 100);
    EXPECT_EQ(areasOf(region), (std::vector<double>{36, -4, -100}));
    for (const Line& ring : region.lines()) EXPECT_TRUE(ring.isClosed());
    EXPECT_EQ(region.rect().right, 10);
    // The cached areas agree with the points after reversal.
    Line fresh(std::vector<Point>(region[0].points().begin(), region[0].points().end()));
    EXPECT_EQ(fresh.signedArea(), region[0].signedArea());
  }

  // Side by side rings are all outer boundaries.
  const Region twins = regionOf({squareRing(0, 0, 1, 1), squareRing(3, 0, 4, 1)});
  EXPECT_EQ(orientationsOf(twins), (std::vector{-1, -1}));
  EXPECT_TRUE(insideInnermost(twins, 0.5, 0.5) && insideInnermost(twins, 3.5, 0.5));
}

// Rings whose boxes meet without one holding the other, in enough copies for the nesting step to
// pair rings through their boxes: chains of rings in rings, a diamond inscribed in a square (the
// same box, touching at four points), boxes that touch along an edge, a triangle whose box holds a
// square it does not hold, a ring of 300 edges between two small ones, and a diamond touching the
// edge of the ring around it at one point. Depth and parent are known by construction; the cover
// lists the rings in another order.
TEST(PolygonCheck, NestingThroughOverlappingBoxes) {
  struct Case {
    Line ring;
    int depth;
    std::ptrdiff_t parent;  // index in the cover, -1 for none
  };
  std::vector<Case> cases;
  auto add = [&](Line ring, int depth, std::ptrdiff_t parent) {
    cases.push_back({std::move(ring), depth, parent});
    return static_cast<std::ptrdiff_t>(cases.size()) - 1;
  };
  for (int cell = 0; cell < 12; ++cell) {
    const double x = cell * 100.0, y = (cell % 3) * 100.0;
    // The ring through the points moved by (x, y).
    const auto at = [x, y](std::vector<Point> points) {
      for (Point& p : points) p = {p.x + x, p.y + y};
      return polyline(std::move(points));
    };
    // Four squares, each in the one before.
    std::ptrdiff_t parent = -1;
    for (int depth = 0; depth < 4; ++depth) {
      const double d = 2.0 * depth;
      parent = add(squareRing(x + d, y + d, x + 20 - d, y + 20 - d, cell % 2), depth, parent);
    }
    add(at({{10, 4}, {10.5, 4.5}, {10, 5}, {9.5, 4.5}, {10, 4}}), 3, parent - 1);
    // A diamond with the square's box, and a square inside the diamond.
    const auto square = add(squareRing(x + 30, y, x + 40, y + 10), 0, -1);
    const auto diamond = add(at({{35, 0}, {40, 5}, {35, 10}, {30, 5}, {35, 0}}), 1, square);
    add(squareRing(x + 34, y + 4, x + 36, y + 6, true), 2, diamond);
    // Boxes touching along x = x + 54, and a triangle whose box holds a square outside it.
    add(at({{50, 0}, {54, 0}, {50, 4}, {50, 0}}), 0, -1);
    add(at({{54, 1}, {58, 1}, {58, 3}, {54, 1}}), 0, -1);
    add(at({{60, 0}, {70, 0}, {60, 10}, {60, 0}}), 0, -1);
    add(squareRing(x + 67, y + 7, x + 69, y + 9), 0, -1);
    // A square around a circle of 300 edges around a square.
    const auto around = add(squareRing(x + 75, y + 20, x + 99, y + 44), 0, -1);
    const auto large = add(starRing(300, x + 87, y + 32, [](double) { return 10.0; }), 1, around);
    add(squareRing(x + 85, y + 30, x + 89, y + 34), 2, large);
  }
  // Cover position k holds case k * 37 % n (37 and n share no factor), so that some parents come
  // before their children and some after.
  const std::size_t n = cases.size();
  std::vector<std::ptrdiff_t> position(n);
  Cover cover;
  for (std::size_t k = 0; k < n; ++k) {
    cover.appendLine(cases[k * 37 % n].ring);
    position[k * 37 % n] = static_cast<std::ptrdiff_t>(k);
  }
  ASSERT_GT(n, 64u);
  const RingNesting nesting = ringNesting(cover);
  Region region;
  ASSERT_TRUE(buildRegion(cover, region));
  ASSERT_EQ(std::pair(nesting.depth.size(), region.size()), std::pair(n, n));
  for (std::size_t k = 0; k < n; ++k) {
    const Case& c = cases[k * 37 % n];
    EXPECT_EQ(nesting.depth[k], c.depth) << k;
    EXPECT_EQ(nesting.parent[k], c.parent < 0 ? -1 : position[c.parent]) << k;
    EXPECT_EQ(region[k].signedArea() < 0, c.depth % 2 == 0) << k;
  }
}

// Whether the polygon check refuses the rings; a refusal leaves the region it fills as it was.
bool refused(std::vector<Line> rings) {
  Region region;
  region.appendLine(squareRing(50, 50, 51, 51));
  const bool built = buildRegion(coverOf(std::move(rings)), region);
  if (!built) {
    EXPECT_TRUE(region.size() == 1 && region[0][0].x == 50);
  }
  return !built;
}

TEST(PolygonCheck, RejectsWhatIsNotAPolygon) {
  EXPECT_TRUE(refused({}));
  EXPECT_TRUE(refused({polyline({{0, 0}})}));
  EXPECT_TRUE(refused({polyline({{0, 0}, {1, 0}, {1, 1}, {std::nextafter(0.0, 1.0), 0}})}));
  EXPECT_TRUE(refused({polyline({{0, 0}, {2, 2}, {2, 0}, {0, 2}, {0, 0}})}));
  EXPECT_TRUE(refused({polyline({{0, 0}, {1, 0}, {NAN, 1}, {0, 0}})}));
  EXPECT_TRUE(refused({polyline({{0, 0}, {1, 0}, {1, INFINITY}, {0, 0}})}));
  // Rings that cross, also only through vertices: along the square's diagonal from corner to
  // corner, or through a corner from outside into the square, leaving across an edge.
  const Line square = squareRing(0, 0, 2, 2);
  EXPECT_TRUE(refused({square, squareRing(1, 1, 3, 3)}));
  EXPECT_TRUE(refused({square, Line({{2, 2}, {0, 0}, {-1, 3}, {2, 2}})}));
  EXPECT_TRUE(refused({square, Line({{2, 2}, {1, 1.5}, {3, 5}, {2, 2}})}));
  // Rings that share a stretch: an edge, a part of an edge, the same ring twice, a ring inside
  // along an edge, and corner to corner along the same direction (a stretch of zero width).
  EXPECT_TRUE(refused({square, squareRing(2, 0, 3, 2)}));
  EXPECT_TRUE(refused({square, squareRing(2, 1, 3, 3)}));
  EXPECT_TRUE(refused({square, square}));
  EXPECT_TRUE(refused({square, squareRing(0, 0.5, 1, 1.5)}));
  EXPECT_TRUE(refused({squareRing(0, 0, 4, 4), squareRing(0, 1, 1, 2)}));
  EXPECT_TRUE(refused({square, Line({{2, 2}, {2, 1}, {3, 1}, {2, 2}})}));
  // A shared edge is shared up to rounding, as an overlay leaves it: with a vertex 5e-11 off the
  // edge, and with the whole edge that far beside it.
  EXPECT_TRUE(refused({square, Line({{2, 0}, {2 + 5e-11, 1}, {2, 2}, {3, 2}, {3, 0}, {2, 0}})}));
  EXPECT_TRUE(
      refused({square, Line({{2 + 5e-11, 0}, {2 + 5e-11, 2}, {3, 2}, {3, 0}, {2 + 5e-11, 0}})}));

  // A ring that touches itself at a vertex is accepted and oriented as one boundary.
  Region region = regionOf({polyline({{0, 0}, {2, 0}, {1, 1}, {2, 2}, {0, 2}, {1, 1}, {0, 0}})});
  EXPECT_EQ(areasOf(region), std::vector<double>{-2.0});

  // Without the check the cover is taken as it is, but never an empty one.
  const Cover open = coverOf({polyline({{0, 0}, {1, 0}, {1, 1}})});
  ASSERT_TRUE(buildRegion(open, region, false));
  EXPECT_FALSE(region[0].isClosed());
  EXPECT_FALSE(buildRegion(Cover{}, region, false));
}

TEST(PolygonCheck, RingsMayTouchAtIsolatedPoints) {
  // Corner on corner; each ring starts at the shared corner, which lies on the other ring.
  Region region =
      regionOf({squareRing(0, 0, 2, 2), Line({{2, 2}, {3, 2}, {3, 3}, {2, 3}, {2, 2}})});
  EXPECT_EQ(orientationsOf(region), (std::vector{-1, -1}));
  EXPECT_TRUE(insideInnermost(region, 2.5, 2.5) && !insideInnermost(region, 2.5, 1.5));

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
    // Holes counter-clockwise, the boundary and the island clockwise.
    EXPECT_EQ(orientationsOf(region), (std::vector{1, -1, 1, -1})) << directions;
    EXPECT_EQ((std::vector<bool>{insideInnermost(region, 1, 1), insideInnermost(region, 7.5, 4.2),
                                 insideInnermost(region, 7.5, 5), insideInnermost(region, 5, 5)}),
              (std::vector<bool>{false, false, true, true}));
  }

  // Rings that meet at a shared vertex through edges of rounded slopes, where the crossing of
  // the two edges' lines is computed a rounding inside both: a touch, not a crossing.
  EXPECT_TRUE(buildRegion(coverOf({Line({{5, 2}, {3.66666666667, 2.66666666667}, {6, 5}, {5, 2}}),
                                   Line({{2, 7}, {6, 5}, {2.11111111111, 6.55555555556}, {2, 7}})}),
                          region));

  // A corner of one ring on the edge of another, from outside.
  EXPECT_TRUE(buildRegion(coverOf({squareRing(0, 0, 4, 4), Line({{4, 2}, {6, 1}, {6, 3}, {4, 2}})}),
                          region));
  EXPECT_LT(region[1].signedArea(), 0);
}

TEST(PolygonCheck, CrossingsAnywhereAlongLongRingsAreFound) {
  const Line wavy = starRing(5000, 0, 0, [](double a) { return 1000 + 30 * std::sin(17 * a); });
  std::vector<Point> p(wavy.points().begin(), wavy.points().end());
  Cover cover = coverOf({wavy, squareRing(-10, -10, 10, 10)});
  Region region;
  ASSERT_TRUE(buildRegion(cover, region));
  EXPECT_EQ(orientationsOf(region), (std::vector{-1, 1}));

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
