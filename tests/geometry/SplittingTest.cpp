#include <random>

#include "TestShapes.h"
#include "geometry/PointInPolygon.h"
#include "geometry/Splitting.h"

namespace vellumar::geometry {
namespace {

using namespace test;

CrPoint crossing(double x, double y, int line, int segment) {
  return {{x, y, 0}, line, segment};
}

double totalLength(const Cover& cover) {
  double sum = 0.0;
  for (const Line& line : cover.lines()) sum += line.length();
  return sum;
}

TEST(SplitAtCrossings, CutsInsideSegmentsAndOnVerticesKeepingAttributes) {
  Line line = tagged(polyline({{0, 0}, {2, 0}, {2, 2}, {4, 2}}), 7, 2.5);
  line.visited = 1;
  Cover cover = coverOf({squareRing(10, 10, 11, 11), line});
  // Given out of order: one inside segment 0, one on vertex 2 (end of segment 1), one on vertex 2
  // again as the start of segment 2 (nothing left to cut there).
  splitAtCrossings(cover, {crossing(2, 2, 1, 2), crossing(1, 0, 1, 0), crossing(2, 2, 1, 1)});
  // Applied from the last crossing: the far piece is appended first.
  ASSERT_EQ(ringsOf(cover), (Rings{{0, 0, coordinates(squareRing(10, 10, 11, 11))},
                                   {7, 2.5, {{0, 0}, {1, 0}}},
                                   {7, 2.5, {{2, 2}, {4, 2}}},
                                   {7, 2.5, {{1, 0}, {2, 0}, {2, 2}}}}));
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(cover[i].visited, 1) << i;
  EXPECT_EQ(sidesOf(cover[1].rect()), (std::array<double, 4>{0, 1, 0, 0}));
  EXPECT_EQ(sidesOf(cover[3].rect()), (std::array<double, 4>{1, 2, 0, 2}));
  EXPECT_EQ(sidesOf(cover.rect()), (std::array<double, 4>{0, 11, 0, 11}));
}

TEST(SplitAtCrossings, IgnoresEndsAndIndicesOutOfRangeAndCleansNearEnds) {
  Cover cover = coverOf({polyline({{0, 0}, {1, 0}, {2, 0}})});
  splitAtCrossings(cover, {crossing(0, 0, 0, 0), crossing(2, 0, 0, 1), crossing(1, 0, 0, 2),
                           crossing(1, 0, 0, -1), crossing(1, 0, 3, 0), crossing(1, 0, -1, 0)});
  EXPECT_EQ(ringsOf(cover), (Rings{{0, 0, {{0, 0}, {1, 0}, {2, 0}}}}));

  // Vertices within 1e-6 of a cut are dropped; the cut point itself stays exact.
  cover = coverOf({polyline({{0, 0}, {1, 0}, {1 + 4e-7, 3e-7}, {1 + 8e-7, 0}, {3, 0}})});
  splitAtCrossings(cover, {crossing(1 + 2e-7, 1.5e-7, 0, 1)});
  EXPECT_EQ(ringsOf(cover),
            (Rings{{0, 0, {{0, 0}, {1 + 2e-7, 1.5e-7}}}, {0, 0, {{1 + 2e-7, 1.5e-7}, {3, 0}}}}));
  // A piece of two points stays whole, however short.
  cover = coverOf({polyline({{0, 0}, {1e-7, 0}, {5, 0}})});
  splitAtCrossings(cover, {crossing(5e-8, 0, 0, 0)});
  EXPECT_EQ(ringsOf(cover), (Rings{{0, 0, {{0, 0}, {5e-8, 0}}}, {0, 0, {{5e-8, 0}, {5, 0}}}}));
}

TEST(Clip, KeepsThePiecesInsideOrOutside) {
  // A square with a square hole; a horizontal line crossing it all.
  const Region region = regionOf({squareRing(0, 0, 10, 10), squareRing(3, 3, 7, 7)});
  const Line line = tagged(polyline({{-5, 5}, {15, 5}}), 4, 9);
  Cover inside = coverOf({line});
  clip(region, inside, true);
  // Pieces cut off a line follow the cover from its last cut to its first.
  EXPECT_EQ(ringsOf(inside), (Rings{{4, 9, {{7, 5}, {10, 5}}}, {4, 9, {{0, 5}, {3, 5}}}}));
  EXPECT_EQ(sidesOf(inside.rect()), (std::array<double, 4>{0, 10, 5, 5}));
  Cover outside = coverOf({line});
  clip(region, outside, false);
  ASSERT_EQ(outside.size(), 3u);
  EXPECT_EQ(totalLength(outside), 5 + 4 + 5);

  // An empty region changes nothing; a piece of one point stays either way.
  Cover untouched = coverOf({line, polyline({{5, 5}})});
  clip(Region{}, untouched, true);
  EXPECT_EQ(untouched.size(), 2u);
  clip(region, untouched, true);
  ASSERT_EQ(untouched.size(), 3u);
  EXPECT_EQ(untouched[0].size(), 1u);
}

TEST(Clip, InsideAndOutsideSplitRandomLinesExactly) {
  const Region region = regionOf({squareRing(0, 0, 10, 10), squareRing(2, 2, 5, 5),
                                  squareRing(6, 6, 9, 9), squareRing(7, 7, 8, 8)});
  std::mt19937 random(5);
  std::uniform_real_distribution<double> coordinate(-3, 13);
  for (int trial = 0; trial < 100; ++trial) {
    Cover lines;
    for (int l = 0; l < 5; ++l) {
      std::vector<Point> points(2 + random() % 8);
      for (Point& p : points) p = {coordinate(random), coordinate(random), 0};
      lines.appendLine(Line(points));
    }
    Cover kept = lines;
    Cover dropped = lines;
    clip(region, kept, true);
    clip(region, dropped, false);
    EXPECT_NEAR(totalLength(kept) + totalLength(dropped), totalLength(lines), 1e-9);
    // Every segment of a piece lies on one side of the boundary: its middle says which.
    for (const auto& [cover, inside] : {std::pair{&kept, true}, std::pair{&dropped, false}}) {
      for (const Line& piece : cover->lines()) {
        for (std::size_t i = 0; i + 1 < piece.size(); ++i) {
          const double x = (piece[i].x + piece[i + 1].x) / 2;
          const double y = (piece[i].y + piece[i + 1].y) / 2;
          EXPECT_EQ(insideEvenOdd(region, x, y, false), inside) << trial << " " << x << " " << y;
        }
      }
    }
  }
}

TEST(NearestOnCover, SmallestDistanceWithPointAndLine) {
  EXPECT_EQ(nearestOnCover(Cover{}, 1, 1).distance, -1.0);
  const Cover cover = coverOf({polyline({{0, 10}, {10, 10}}), polyline({{0, 0}, {10, 0}, {10, 5}}),
                               polyline({{20, 5}}), polyline({{0, -10}, {10, -10}})});
  const NearestPoint near = nearestOnCover(cover, 4, 3);
  EXPECT_EQ(std::pair(near.point.x, near.point.y), std::pair(4.0, 0.0));
  const struct {
    double x, y, distance;
    std::size_t line;
  } cases[] = {
      {4, 3, 3, 1},   {13, 9, std::hypot(3, 1), 0},  // beyond the end of segment (10,0)-(10,5)
      {21, 5, 1, 2},  {5, -5, 5, 1},  // equally far from lines 1 and 3: the first wins
      {10, 10, 0, 0},
  };
  for (const auto& c : cases) {
    const NearestPoint found = nearestOnCover(cover, c.x, c.y);
    EXPECT_DOUBLE_EQ(found.distance, c.distance) << c.x << "," << c.y;
    EXPECT_EQ(found.line, c.line) << c.x << "," << c.y;
  }
}

}  // namespace
}  // namespace vellumar::geometry
