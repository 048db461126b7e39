#include <algorithm>
#include <map>
#include <random>

#include "TestShapes.h"
#include "geometry/GridOutline.h"
#include "geometry/LayerRegion.h"
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
  return std::ranges::all_of(region.lines(), [](const Line& ring) {
    return std::ranges::all_of(ring.points(), [](Point p) { return kFrame.contains(p.x, p.y); });
  });
}

TEST(GridOutline, OutlinesRunClockwiseAndCellRegionsCoverExactlyTheChosenCells) {
  // The outline runs clockwise through every border node.
  const Line ring = latticeOutline(rectOf(1, 2, 5, 6), 3, 3);
  EXPECT_EQ(coordinates(ring),
            (Points{{1, 2}, {1, 4}, {1, 6}, {3, 6}, {5, 6}, {5, 4}, {5, 2}, {3, 2}, {1, 2}}));
  EXPECT_EQ(ring.signedArea(), -16.0);
  // 2 (nx + ny) - 3 points on an uneven lattice.
  EXPECT_EQ(latticeOutline(rectOf(0, 0, 1, 1), 7, 4).size(), 19u);

  // Cells chosen at random (about half, so that corners where only two diagonal cells meet, holes
  // and islands all occur), and a few fixed patterns: the region passes the polygon check as it is
  // (same orientation, so it needed none), its area is the chosen cells' area, a cell's centre lies
  // in it exactly when the cell was chosen.
  const Rect rect = rectOf(-3, 1, 9, 7);
  const int nx = 13, ny = 7;  // cells 1 x 1
  std::mt19937 random(12345);
  // The first masks choose nothing, everything, a checkerboard and all cells but one (a hole);
  // 200 random ones follow.
  for (int m = 0; m < 204; ++m) {
    std::vector<std::uint8_t> cells(72);
    for (int k = 0; k < 72; ++k) {
      const int fixed[] = {0, 1, (k % 12 + k / 12) % 2, k != 2 * 12 + 5};
      cells[k] = static_cast<std::uint8_t>(m < 4 ? fixed[m] : static_cast<int>(random() & 1u));
    }
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
      for (int i = 0; i < nx - 1; ++i)
        EXPECT_EQ(insideEvenOdd(region, -2.5 + i, 1.5 + j, false), cells[j * 12 + i] != 0)
            << m << " cell " << i << ", " << j;
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
  EXPECT_TRUE(closeLevelRegion(Cover(), kFrame, 1.0, true, none) && none.empty());
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
  EXPECT_TRUE(!closeLevelRegion(sharing, kFrame, 1.0, true, region) && region.empty());
  // Two open isolines that cross cannot both have the region on their right everywhere, and an
  // isoline outside the map leaves no piece to start a ring with.
  const Cover crossed = coverOf({polyline({{10, 2}, {0, 8}}), polyline({{0, 2}, {10, 8}})});
  EXPECT_FALSE(closeLevelRegion(crossed, kFrame, 1.0, false, region));
  const Cover outside = coverOf({polyline({{-0.5, 2}, {-0.5, 8}})});
  EXPECT_TRUE(!closeLevelRegion(outside, kFrame, 1.0, true, region) && region.empty());
}

// A square record of the given id.
Line square(double x0, double y0, double x1, double y1, std::int32_t id) {
  return tagged(squareRing(x0, y0, x1, y1), id, 10.0 * id);
}

// The layer's region must be the union of its records: a point off every boundary lies in the
// region exactly when it lies in one of the records (each record's rings by the even-odd rule),
// and the region's area is the records' total.
void expectUnionOfRecords(const Cover& layer, const Region& region) {
  std::map<std::int32_t, Cover> records;
  for (const Line& ring : layer.lines()) records[ring.id].appendLine(ring);
  double total = 0.0;
  for (const auto& [id, rings] : records) {
    Region alone;
    ASSERT_TRUE(buildRegion(rings, alone)) << id;
    total += enclosedArea(alone);
  }
  EXPECT_NEAR(enclosedArea(region), total, 1e-9 * total);
  const Rect& r = layer.rect();
  for (double y = r.bottom - 0.5 + 0.0137; y < r.top + 0.5; y += 0.173) {
    for (double x = r.left - 0.5 + 0.0291; x < r.right + 0.5; x += 0.161) {
      bool inRecord = false;
      for (const auto& [id, rings] : records) inRecord |= insideEvenOdd(rings, x, y, false);
      ASSERT_EQ(insideEvenOdd(region, x, y, false), inRecord) << x << "," << y;
    }
  }
}

TEST(LayerRegion, CoveragesOfSharedBordersAreTheUnionOfTheirRecords) {
  // A 3 x 3 block of districts: shared sides, corners where four meet, a district with a hole
  // that another district fills exactly, and one of two parts, one of which touches the block
  // at a corner only.
  std::vector<Line> rings;
  for (int k = 0; k < 9; ++k)
    if (k != 4) rings.push_back(square(k % 3, k / 3, k % 3 + 1, k / 3 + 1, k + 1));
  // District 5 is the middle square with a hole the lake, district 10, fills. District 11: a
  // square beside the block meeting it at (3, 3), and one far away.
  rings.insert(
      rings.end(),
      {square(1, 1, 2, 2, 5), tagged(squareRing(1.25, 1.25, 1.75, 1.75, true), 5, 50.0),
       square(1.25, 1.25, 1.75, 1.75, 10), square(3, 3, 4, 4, 11), square(6, 0, 7, 1, 11)});
  const Cover block = coverOf(rings);
  Region region;
  const LayerRegion built = buildLayerRegion(block, region);
  ASSERT_EQ(built.status, LayerStatus::Done);
  expectUnionOfRecords(block, region);
  // The block is one ring now (the lake filled its hole); the far square another; the corner
  // square a third. Each keeps the id and value of a record whose border it follows.
  EXPECT_EQ(region.size(), 3u);
  for (const Line& ring : region.lines()) {
    EXPECT_LT(ring.signedArea(), 0.0);  // outer boundaries run clockwise
    EXPECT_EQ(ring.value, 10.0 * ring.id);
  }
}

TEST(LayerRegion, BordersMeetWithinRoundingOrAtVerticesOfOneSideOnlyAndApartRingsAreKept) {
  // District 1's top side has no vertex where districts 2 and 3 meet on it; district 4's left
  // side runs 1e-12 from district 1's right side.
  const Cover layer =
      coverOf({square(0, 0, 2, 1, 1), square(0, 1, 1, 2, 2), square(1, 1, 2, 2, 3),
               tagged(Line({{2 + 1e-12, 0}, {3, 0}, {3, 1}, {2 - 1e-12, 1}, {2 + 1e-12, 0}}), 4)});
  Region region;
  ASSERT_EQ(buildLayerRegion(layer, region).status, LayerStatus::Done);
  expectUnionOfRecords(layer, region);

  // Apart or nested rings are a region as the polygon check builds it, ids and order kept.
  const Cover apart =
      coverOf({square(0, 0, 1, 1, 1), square(3, 0, 4, 1, 2), square(0.25, 0.25, 0.75, 0.75, 3)});
  ASSERT_EQ(buildLayerRegion(apart, region).status, LayerStatus::Done);
  EXPECT_EQ(idsOf(region), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(orientationsOf(region), (std::vector{-1, -1, 1}));  // a hole in the first
}

TEST(LayerRegion, OverlapsAndBrokenRecordsAreRefused) {
  // Districts 2 and 4 overlap by a quarter of a square; the smaller numbers come first.
  Region region;
  const Cover overlapping = coverOf({square(0, 0, 1, 1, 4), square(1, 0, 2, 1, 3),
                                     square(0.5, 0.5, 1, 1.5, 2), square(2, 0, 3, 1, 1)});
  const LayerRegion refused = buildLayerRegion(overlapping, region);
  EXPECT_EQ(std::tuple(refused.status, refused.first, refused.second),
            std::tuple(LayerStatus::Overlap, 2, 4));
  EXPECT_TRUE(region.empty());

  // A record that crosses itself fails as it always did, beside a neighbour or alone.
  const Line bowTie = tagged(Line({{0, 0}, {1, 1}, {1, 0}, {0, 1}, {0, 0}}), 1);
  EXPECT_EQ(buildLayerRegion(coverOf({bowTie, square(1, 0, 2, 1, 2)}), region).status,
            LayerStatus::Invalid);
  // Two rings of one record that share a side are still refused: sharing is for records.
  EXPECT_EQ(
      buildLayerRegion(coverOf({square(0, 0, 1, 1, 1), square(1, 0, 2, 1, 1)}), region).status,
      LayerStatus::Invalid);
  EXPECT_TRUE(region.empty());
}

}  // namespace
}  // namespace vellumar::geometry
