#include <map>

#include "TestShapes.h"
#include "geometry/LayerRegion.h"
#include "geometry/PointInPolygon.h"

namespace vellumar::geometry {
namespace {

using namespace test;

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
  for (int k = 0; k < 9; ++k) {
    if (k != 4) rings.push_back(square(k % 3, k / 3, k % 3 + 1, k / 3 + 1, k + 1));
  }
  // District 5 is the middle square with a hole the lake, district 10, fills.
  rings.push_back(square(1, 1, 2, 2, 5));
  rings.push_back(tagged(squareRing(1.25, 1.25, 1.75, 1.75, true), 5, 50.0));
  rings.push_back(square(1.25, 1.25, 1.75, 1.75, 10));
  // District 11: a square beside the block meeting it at (3, 3), and one far away.
  rings.push_back(square(3, 3, 4, 4, 11));
  rings.push_back(square(6, 0, 7, 1, 11));
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

TEST(LayerRegion, BordersThatMeetWithinRoundingOrAtVerticesOfOneSideOnly) {
  // District 1's top side has no vertex where districts 2 and 3 meet on it; district 4's left
  // side runs 1e-12 from district 1's right side.
  const Cover layer = coverOf({
      square(0, 0, 2, 1, 1),
      square(0, 1, 1, 2, 2),
      square(1, 1, 2, 2, 3),
      tagged(Line({{2 + 1e-12, 0}, {3, 0}, {3, 1}, {2 - 1e-12, 1}, {2 + 1e-12, 0}}), 4),
  });
  Region region;
  ASSERT_EQ(buildLayerRegion(layer, region).status, LayerStatus::Done);
  expectUnionOfRecords(layer, region);
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

TEST(LayerRegion, LayersThatPassTheCheckKeepTheirRings) {
  // Apart or nested rings are a region as the polygon check builds it, ids and order kept.
  const Cover apart =
      coverOf({square(0, 0, 1, 1, 1), square(3, 0, 4, 1, 2), square(0.25, 0.25, 0.75, 0.75, 3)});
  Region region;
  ASSERT_EQ(buildLayerRegion(apart, region).status, LayerStatus::Done);
  EXPECT_EQ(idsOf(region), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(orientationsOf(region), (std::vector{-1, -1, 1}));  // a hole in the first
}

}  // namespace
}  // namespace vellumar::geometry
