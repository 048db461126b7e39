#include <algorithm>

#include "TestShapes.h"
#include "geometry/GridOutline.h"
#include "geometry/LevelRegion.h"
#include "geometry/PointInPolygon.h"

namespace vellumar::geometry {
namespace {

using namespace test;
using Points = test::Coords;
using Areas = std::vector<double>;

// Whether two closed rings run through the same vertices in the same order, from any start.
bool sameRing(const Line& ring, Points expected) {
  Points got = coordinates(ring);
  if (got.size() != expected.size() || got.size() < 2) return false;
  got.pop_back();
  expected.pop_back();
  for (std::size_t shift = 0; shift < got.size(); ++shift) {
    std::rotate(got.begin(), got.begin() + 1, got.end());
    if (got == expected) return true;
  }
  return false;
}

// The frame [0, 10] x [0, 10] the isolines below are closed on.
const Rect kFrame = rectOf(0, 0, 10, 10);

// The region above or below the level that the isolines close on the frame, which must close.
Region closed(const Cover& lines, bool above, double level = 1.0) {
  Region region;
  EXPECT_TRUE(closeLevelRegion(lines, kFrame, level, above, region));
  return region;
}

// Whether every vertex of the region lies in the frame.
bool insideFrame(const Region& region) {
  for (const Line& ring : region.lines()) {
    for (const Point& p : ring.points()) {
      if (!kFrame.contains(p.x, p.y)) return false;
    }
  }
  return true;
}

TEST(GridOutline, RunsClockwiseThroughEveryBorderNode) {
  const Line ring = latticeOutline(rectOf(1, 2, 5, 6), 3, 3);
  EXPECT_EQ(coordinates(ring),
            (Points{{1, 2}, {1, 4}, {1, 6}, {3, 6}, {5, 6}, {5, 4}, {5, 2}, {3, 2}, {1, 2}}));
  EXPECT_EQ(ring.signedArea(), -16.0);
  // 2 (nx + ny) - 3 points on an uneven lattice.
  EXPECT_EQ(latticeOutline(rectOf(0, 0, 1, 1), 7, 4).size(), 19u);
}

// Cells chosen at random (about half, so that corners where only two diagonal cells meet, holes
// and islands all occur), and a few fixed patterns: the region passes the polygon check as it is
// (same orientation, so it needed none), its area is the chosen cells' area, a cell's centre lies
// in it exactly when the cell was chosen.
TEST(GridOutline, CellRegionCoversExactlyTheChosenCells) {
  const Rect rect = rectOf(-3, 1, 9, 7);
  const int nx = 13, ny = 7;  // cells 1 x 1
  std::uint32_t seed = 12345;
  const auto random = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 16) & 1u;
  };
  std::vector<std::vector<std::uint8_t>> masks;
  masks.emplace_back(72, 0);  // nothing
  masks.emplace_back(72, 1);  // everything
  masks.emplace_back(72, 0);
  for (int k = 0; k < 72; ++k) masks.back()[k] = ((k % 12) + (k / 12)) % 2;  // checkerboard
  masks.emplace_back(72, 1);
  masks.back()[2 * 12 + 5] = 0;  // one hole
  for (int trial = 0; trial < 200; ++trial) {
    masks.emplace_back(72);
    for (auto& cell : masks.back()) cell = static_cast<std::uint8_t>(random());
  }
  for (std::size_t m = 0; m < masks.size(); ++m) {
    const std::vector<std::uint8_t>& cells = masks[m];
    const Region region = cellRegion(rect, nx, ny, cells);
    const auto chosen = static_cast<int>(std::count(cells.begin(), cells.end(), 1));
    EXPECT_DOUBLE_EQ(enclosedArea(region), chosen) << m;
    if (chosen == 0) {
      EXPECT_TRUE(region.empty());
      continue;
    }
    Region checked;
    ASSERT_TRUE(buildRegion(region, checked)) << m;
    EXPECT_EQ(areasOf(checked), areasOf(region)) << m;
    for (int j = 0; j < ny - 1; ++j) {
      for (int i = 0; i < nx - 1; ++i) {
        EXPECT_EQ(insideEvenOdd(region, -2.5 + i, 1.5 + j, false), cells[j * 12 + i] != 0)
            << m << " cell " << i << ", " << j;
      }
    }
  }
}

// A ridge along the band 4 < y < 6 of the frame [0, 10] x [0, 10]: the isoline south of the
// crest runs west and the one north of it runs east (higher values on their right).
Cover ridge() {
  return coverOf(
      {polyline({{10, 4}, {6, 4}, {3, 4}, {0, 4}}), polyline({{0, 6}, {5, 6}, {10, 6}})});
}

TEST(LevelRegion, RidgeAboveIsOneRingAndBelowTwo) {
  const Region above = closed(ridge(), true);
  // The two branches joined by the frame pieces between them, clockwise, no stub beyond the frame.
  ASSERT_EQ(areasOf(above), (Areas{-20}));
  EXPECT_TRUE(
      sameRing(above[0], {{10, 4}, {6, 4}, {3, 4}, {0, 4}, {0, 6}, {5, 6}, {10, 6}, {10, 4}}));
  EXPECT_EQ(above[0].value, 0.0);

  const Region below = closed(ridge(), false);
  ASSERT_EQ(areasOf(below), (Areas{-40, -40}));
  EXPECT_TRUE(insideFrame(below));
  // The southern band takes the frame's corners (0, 0) and (10, 0), the northern one the others.
  const bool southFirst = below[0].rect().bottom == 0.0;
  EXPECT_TRUE(sameRing(below[southFirst ? 0 : 1],
                       {{0, 4}, {3, 4}, {6, 4}, {10, 4}, {10, 0}, {0, 0}, {0, 4}}));
  EXPECT_TRUE(
      sameRing(below[southFirst ? 1 : 0], {{10, 6}, {5, 6}, {0, 6}, {0, 10}, {10, 10}, {10, 6}}));
}

TEST(LevelRegion, ClosedLinesTakeTheFrameOnlyWhenTheLargestRunsCounterClockwise) {
  // A summit: the isoline runs clockwise around it.
  const Cover summit = coverOf({squareRing(3, 3, 7, 7, true)});
  EXPECT_EQ(areasOf(closed(summit, true)), (Areas{-16}));

  // Below the level: the frame, listed first, with the summit as a hole.
  const Region below = closed(summit, false);
  ASSERT_EQ(areasOf(below), (Areas{-100, 16}));
  EXPECT_EQ(coordinates(below[0]), coordinates(latticeOutline(kFrame, 2, 2)));

  // A pit with a summit inside it: the largest ring decides, so the region above is the frame
  // with the pit as a hole and the summit as an island in it; the rings come smallest first after
  // the frame.
  const Cover pitAndSummit = coverOf({squareRing(4, 4, 6, 6, true), squareRing(2, 2, 8, 8, false)});
  EXPECT_EQ(areasOf(closed(pitAndSummit, true)), (Areas{-100, -4, 36}));

  // Nothing traced: an empty region, and that is no failure.
  Region none;
  none.appendLine(squareRing(0, 0, 1, 1));
  EXPECT_TRUE(closeLevelRegion(Cover(), kFrame, 1.0, true, none));
  EXPECT_TRUE(none.empty());
}

TEST(LevelRegion, IsolinesThroughCornersAndAlongTheBorderCloseOnTheFrame) {
  // A slope rising to the north-east whose isoline runs from the top-left corner to the
  // bottom-right corner: above it lies the triangle holding (10, 10).
  const Cover diagonal = coverOf({polyline({{0, 10}, {5, 5}, {10, 0}})});
  const Region above = closed(diagonal, true, 2.0);
  EXPECT_EQ(areasOf(above), (Areas{-50}));
  EXPECT_TRUE(insideFrame(above));
  EXPECT_EQ(areasOf(closed(diagonal, false, 2.0)), (Areas{-50}));

  // Two isolines leaving the frame at one border point give two identical stubs, which hold each
  // other's ends; they still stay out of the result. A valley narrowing to the point (5, 0) of
  // the southern side: its floor is one triangle.
  const Cover valley = coverOf({polyline({{3, 10}, {5, 0}}), polyline({{5, 0}, {7, 10}})});
  const Region floor = closed(valley, false);
  ASSERT_EQ(floor.size(), 1u);
  EXPECT_TRUE(sameRing(floor[0], {{5, 0}, {3, 10}, {7, 10}, {5, 0}}));
  // The ground on both sides of it is two parts touching at (5, 0).
  const Region sides = closed(valley, true);
  EXPECT_EQ(areasOf(sides), (Areas{-40, -40}));
  EXPECT_TRUE(insideFrame(sides));
}

TEST(LevelRegion, RingsThatFailThePolygonCheckFailTheRegion) {
  Region region;
  region.appendLine(squareRing(0, 0, 1, 1));
  // Two summits whose isolines run along one stretch the one way and the other are one summit
  // with that stretch on the level: the region is their union. A summit and a pit whose lines
  // run along a stretch the same way put the region on its one side twice, and fail.
  Cover joined = coverOf({squareRing(1, 1, 4, 4, true), squareRing(4, 1, 8, 4, true)});
  joined.stampMark(kOnNode);
  ASSERT_TRUE(closeLevelRegion(joined, kFrame, 1.0, true, region));
  EXPECT_EQ(areasOf(region), (Areas{-21}));
  const Cover sharing = coverOf({squareRing(1, 1, 4, 4, true), squareRing(4, 1, 8, 4)});
  EXPECT_FALSE(closeLevelRegion(sharing, kFrame, 1.0, true, region));
  EXPECT_TRUE(region.empty());
  // Two open isolines that cross cannot both have the region on their right everywhere, and an
  // isoline outside the map leaves no piece to start a ring with.
  const Cover crossed = coverOf({polyline({{10, 2}, {0, 8}}), polyline({{0, 2}, {10, 8}})});
  EXPECT_FALSE(closeLevelRegion(crossed, kFrame, 1.0, false, region));
  const Cover outside = coverOf({polyline({{-0.5, 2}, {-0.5, 8}})});
  EXPECT_FALSE(closeLevelRegion(outside, kFrame, 1.0, true, region));
  EXPECT_TRUE(region.empty());
}

}  // namespace
}  // namespace vellumar::geometry
