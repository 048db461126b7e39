#include <random>
#include <thread>

#include "TestShapes.h"

namespace vellumar::geometry {
namespace {

using namespace test;

TEST(GeometryModel, RectanglesUniteDefinedOnesAndFollowTheirLinesPoints) {
  Rect a;
  a.unite(rectOf(1, 2, 1, 2));
  EXPECT_TRUE(a.defined);
  EXPECT_EQ(sidesOf(a), (std::array<double, 4>{1, 1, 2, 2}));
  a.unite(Rect{});
  EXPECT_EQ(sidesOf(a), (std::array<double, 4>{1, 1, 2, 2}));
  a.unite(rectOf(-3, 5, -3, 5));
  EXPECT_EQ(sidesOf(a), (std::array<double, 4>{-3, 1, 2, 5}));
  EXPECT_EQ(std::tuple(a.contains(-3, 2), a.contains(-3.1, 2), Rect{}.contains(0, 0)),
            std::tuple(true, false, false));

  // A line's rectangle follows its appends, removals and insertions.
  Line line = polyline({{0, 0}, {1, 0}});
  line.length();
  line.append(polyline({{1, 0}, {1, 5}, {-2, 5}}));  // joint (1, 0) not doubled
  ASSERT_EQ(line.size(), 4u);
  EXPECT_EQ(line.cachedLength(), -1.0);
  EXPECT_EQ(sidesOf(line.rect()), (std::array<double, 4>{-2, 1, 0, 5}));
  line.append(polyline({{7, 7}, {8, 8}}));  // not at the joint: all points kept
  EXPECT_EQ(line.size(), 6u);

  line.removePoint(5);
  line.removePoint(4);
  EXPECT_EQ(sidesOf(line.rect()), (std::array<double, 4>{-2, 1, 0, 5}));
  line.removePoint(3);  // (-2, 5) held two bounds
  EXPECT_EQ(sidesOf(line.rect()), (std::array<double, 4>{0, 1, 0, 5}));
  line.insert(0, Point{0.5, -1});
  EXPECT_EQ(sidesOf(line.rect()), (std::array<double, 4>{0, 1, -1, 5}));
  EXPECT_EQ(line[0].x, 0.5);
}

TEST(GeometryModel, AreaLengthAndTheirCaches) {
  Line ring = squareRing(0, 0, 2, 3);
  EXPECT_TRUE(ring.isClosed());
  EXPECT_EQ(ring.cachedLength(), -1.0);
  EXPECT_DOUBLE_EQ(ring.length(), 10.0);
  EXPECT_DOUBLE_EQ(ring.signedArea(), 6.0);
  ring.reverse();
  EXPECT_TRUE(ring.areaCached());
  EXPECT_DOUBLE_EQ(ring.signedArea(), -6.0);
  EXPECT_DOUBLE_EQ(ring.cachedLength(), 10.0);

  ring.setPoint(2, Point{2, 4});  // (2,3) -> (2,4) after reversal is the point at index 2
  EXPECT_EQ(std::tuple(ring.areaCached(), ring.cachedLength(), ring.rect().top),
            std::tuple(false, -1.0, 4.0));

  Line open = polyline({{0, 0}, {3, 4}, {3, 0}});
  EXPECT_TRUE(!open.isClosed() && open.signedArea() == 0.0);
  EXPECT_FALSE(open.areaCached());
  EXPECT_DOUBLE_EQ(open.length(), 9.0);
}

TEST(GeometryModel, AreasFarFromTheOriginKeepTheirDigits) {
  // A district-sized ring in UTM metres: the products of raw coordinates are near 1e12 and
  // cancel to an area near 1e7. The reference is the shoelace sum, in long double, of the
  // vertices' exact offsets from a corner of the map.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> jitter(-400.0, 400.0);
  for (int round = 0; round < 20; ++round) {
    std::vector<Point> points;
    for (int k = 0; k < 60; ++k) {
      const double a = 2 * M_PI * k / 60;
      points.push_back({654321.123 + (2000 + jitter(rng)) * std::cos(a),
                        5123456.789 + (1500 + jitter(rng)) * std::sin(a)});
    }
    points.push_back(points.front());
    long double twice = 0.0L;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
      const long double x0 = points[i].x - 650000.0, y0 = points[i].y - 5120000.0;
      const long double x1 = points[i + 1].x - 650000.0, y1 = points[i + 1].y - 5120000.0;
      twice += x0 * y1 - x1 * y0;
    }
    const auto expected = static_cast<double>(twice / 2);
    EXPECT_NEAR(Line(std::move(points)).signedArea(), expected, 1e-13 * expected) << round;
  }
}

TEST(GeometryModel, ThreadsMeasuringOneLineAgree) {
  // Threads meeting one ring's empty caches all get what a lone measurement of its points gets.
  const Line ring = starRing(4000, 0, 0, [](double a) { return 1000 + std::sin(7 * a); });
  const Line alone(std::vector<Point>(ring.points().begin(), ring.points().end()));
  std::vector<double> lengths(4), areas(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      lengths[t] = ring.length();
      areas[t] = ring.signedArea();
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(lengths, std::vector<double>(4, alone.length()));
  EXPECT_EQ(areas, std::vector<double>(4, alone.signedArea()));
  // A copy keeps what is known; the original's caches are unaffected by the copy's change.
  Line copy = ring;
  EXPECT_TRUE(copy.areaCached());
  EXPECT_EQ(copy.cachedLength(), alone.length());
  copy.setPoint(1, Point{0.0, 0.0});
  EXPECT_FALSE(copy.areaCached());
  EXPECT_EQ(ring.cachedLength(), alone.length());
  EXPECT_LT(copy.signedArea(), alone.signedArea());
}

TEST(GeometryModel, CoverSortsRectanglesAndMarks) {
  Cover cover =
      coverOf({tagged(squareRing(0, 0, 1, 1), 3, 30), tagged(squareRing(-5, -5, 5, 5, true), 1, 10),
               tagged(polyline({{20, 20}, {21, 20}, {21, 22}}), 2, 20)});
  EXPECT_EQ(sidesOf(cover.rect()), (std::array<double, 4>{-5, 21, -5, 22}));
  EXPECT_EQ(cover.pointCount(), 13u);

  cover.sortAscending(1);
  EXPECT_EQ(idsOf(cover), (std::vector<std::int32_t>{1, 2, 3}));
  cover.sortDescending(3);  // |area| 100, 1, 0
  EXPECT_EQ(idsOf(cover), (std::vector<std::int32_t>{1, 3, 2}));
  cover.sortAscending(2);  // lengths 3, 4, 40
  EXPECT_EQ(idsOf(cover), (std::vector<std::int32_t>{2, 3, 1}));
  cover.sortDescending(5);
  EXPECT_EQ(cover[0].value, 30);
  cover.sortAscending(4);
  EXPECT_EQ(std::pair(cover[0].size(), cover[0].sortKey(9)), std::pair(std::size_t{3}, 0.0));

  cover.stampMark(7);
  for (const Line& line : cover.lines())
    for (const Point& p : line.points()) EXPECT_EQ(p.mark, 7);

  cover.line(0).setPoint(0, Point{100, 100});
  cover.recomputeRects();
  EXPECT_EQ(cover.rect().top, 100);
  cover.removeLine(0);
  EXPECT_EQ(cover.rect().top, 5);
  cover.clear();
  EXPECT_FALSE(cover.rect().defined);
}

}  // namespace
}  // namespace vellumar::geometry
