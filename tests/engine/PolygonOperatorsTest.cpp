#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "../geometry/TestShapes.h"
#include "EvaluationHelpers.h"
#include "engine/LinePacking.h"
#include "geometry/PolygonCheck.h"

namespace vellumar::engine {
namespace {

using testing::evaluate;

geometry::Line square(double x0, double y0, double x1, double y1, double value = 0, int id = 0) {
  return geometry::test::tagged(geometry::test::squareRing(x0, y0, x1, y1), id, value);
}

class PolygonOperators : public testing::CalculatorTest {
 protected:
  void SetUp() override {
    // P1: two squares; P2 overlaps the first in a corner; P3, large, lies 0.5 beside P2's right
    // side.
    putRings("P1", {square(0, 0, 2, 2, 2.5), square(5, 5, 6, 6, -1)});
    putRings("P2", {square(1, 1, 3, 3, 7)});
    putRings("P3", {square(3.5, -10, 13.5, 13, 9)});
    putRings("Pcross", {square(0, 0, 2, 1), square(1, 0.5, 3, 3)});
    // Corners beyond the coordinate range, where the overlay's products overflow (from about
    // 1e103 GEOS loses rings without a word).
    const double h = 1e110;
    putRings("Phuge", {geometry::Line({{-h, -h}, {h, -h}, {0, h}, {-h, -h}})});
    putRings("Phuge2", {geometry::Line({{-h, h}, {0, -h}, {h, h}, {-h, h}})});
  }

  // The rings of a polygon result, which must pass the polygon check unchanged.
  geometry::Cover rings(const std::string& display) {
    const Operand& value = result(display);
    EXPECT_EQ(value.kind(), Kind::Polygon) << display;
    geometry::Cover cover;
    if (!value.parts().empty()) {
      EXPECT_TRUE(unpackOperand(value, cover)) << display;
    }
    return cover;
  }

  static double area(const geometry::Cover& cover) { return geometry::test::enclosedArea(cover); }
};

TEST_F(PolygonOperators, UnionIntersectionDifferenceAndPowers) {
  const geometry::Cover united = rings("P1 + P2");
  ASSERT_EQ(united.size(), 2u);
  // Largest first, clockwise; values travel with their rings.
  EXPECT_EQ(std::tuple(area(united), united[0].signedArea(), united[1].value),
            std::tuple(4 + 4 - 1 + 1, -7, -1));
  EXPECT_TRUE(united[0].value == 2.5 || united[0].value == 7);

  const geometry::Cover common = rings("P1 * P2"), rest = rings("P1 - P2");
  EXPECT_EQ(std::tuple(common.size(), area(common), rest.size(), area(rest)),
            std::tuple(1u, 1, 2u, 3 + 1));
  EXPECT_TRUE(result("P1 - P1").parts().empty());

  // A polygon to a whole power is its intersection with itself.
  for (const char* display : {"P1 ^ 2", "P1 ^ 3", "P1 ^ 100"})
    EXPECT_EQ(area(rings(display)), 5) << display;
  EXPECT_EQ(result("P1 ^ 1").parts(), result("P1").parts());
  // Results are polygons again and combine further.
  EXPECT_EQ(area(rings("(P1 + P2) - P2")), 4);
  EXPECT_EQ(area(rings("X = P1 * P2; X + P3")), 1 + 230);
}

TEST_F(PolygonOperators, RingsThatShareAnIdKeepItApartFromOtherFeatures) {
  // Pids: two squares of one feature (id 1) and one of another (id 2), as a shapefile's first two
  // records load; Pframe covers them all.
  putRings(
      "Pids",
      {square(10, 10, 11, 11, 3, 1), square(12, 10, 13, 11, 3, 1), square(14, 10, 15, 11, 4, 2)},
      Kind::Polygon, true);
  putRings("Pframe", {square(-20, -20, 40, 40, 1)});
  const std::vector<std::int32_t> ids{1, 1, 2};
  EXPECT_EQ(result("Pids").ids(), ids);
  EXPECT_TRUE(result("P1").ids().empty());  // packed without ids

  // The id of each result ring by its value.
  auto idsByValue = [&](const std::string& display) {
    std::map<double, std::set<std::int32_t>> found;
    const geometry::Cover cover = rings(display);
    for (const geometry::Line& ring : cover.lines()) found[ring.value].insert(ring.id);
    return found;
  };
  for (const char* display : {"Pids * Pframe", "Pframe * Pids", "Pids ^ 2", "Pids + Pids"}) {
    const auto found = idsByValue(display);
    ASSERT_EQ(found.size(), 2u) << display;
    ASSERT_EQ(found.at(3).size(), 1u) << display;  // both squares of id 1 keep one id
    ASSERT_EQ(found.at(4).size(), 1u) << display;
    EXPECT_NE(*found.at(3).begin(), *found.at(4).begin()) << display;
  }
  // Features of the two operands never share an id: P1's rings, numbered 1 and 2 when unpacked,
  // stay apart from each other and from the features of Pids.
  const auto united = idsByValue("Pids + P1");
  std::set<std::int32_t> all;
  for (const auto& [value, found] : united) {
    ASSERT_EQ(found.size(), 1u) << value;
    all.insert(*found.begin());
  }
  EXPECT_EQ(std::pair(united.size(), all.size()), std::pair(4ul, 4ul));
  // A ring cut in two keeps its feature's id in both pieces.
  putRings("Pcut", {square(12.4, 0, 12.6, 20)});
  ASSERT_EQ(rings("Pids - Pcut").size(), 4u);
  EXPECT_EQ(idsByValue("Pids - Pcut").at(3).size(), 1u);
  // Operations that keep the rings keep their ids.
  EXPECT_EQ(result("-Pids").ids(), ids);
  EXPECT_EQ(result("X = Pids; X").ids(), ids);
}

TEST_F(PolygonOperators, MessagesAndPositions) {
  // An empty result is no polygon to combine further.
  expectMessage("Умножение: недопустимое значение аргумента 1",
                {"Pcross * P1", "Pcross ^ 2", "Phuge * Phuge2"});
  expectMessage("Вычитание: недопустимое значение аргумента 2", {"P1 - Pcross", "P1 - Phuge2"});
  expectMessages({{"P1 + Pcross", "Сложение: недопустимое значение аргумента 2"},
                  {"(P1 - P1) + P2", "Сложение: недопустимое значение аргумента 1"},
                  {"In_P(P1, Phuge)", "In_P: недопустимое значение аргумента 2"}});
  calc_.setLanguage(Language::English);
  EXPECT_EQ(failure("Phuge + Phuge2"), "Summing: invalid value of argument 1");
  EXPECT_EQ(failure("P2 + Pcross"), "Summing: invalid value of argument 2");
}

TEST_F(PolygonOperators, EachOperandIsCheckedOnceAndItsNestingFoundOnlyInItsCheck) {
  putRings("S1", {testing::jaggedStar(400, 0, 0)});
  putRings("S2", {testing::jaggedStar(400, 150, 80)});
  testing::Recorder checks;
  const auto count = [&] {
    return std::count_if(checks.starts.begin(), checks.starts.end(),
                         [](const auto& s) { return s.first == "Объединение объектов слоя..."; });
  };
  ASSERT_TRUE(evaluate(calc_, "x = S1 * S2; y = S1 + S2; z = S1 - S2; 0", &checks).ok);
  EXPECT_EQ(count(), 2);
  // Copies of a value share its check; a result is checked once, when first used.
  ASSERT_TRUE(evaluate(calc_, "w = S1; Area(x) + Area(x) + Area(w) + Area(S2 * w)", &checks).ok);
  EXPECT_EQ(count(), 4);  // x, and the temporary S2 * w

  // Each polygon operand's nesting is found by its check and kept with the checked region, which
  // every later operator on the operand shares.
  // Pholed: a square of 16 with a hole of 4, which passes the check whole. Pdistricts: two
  // records sharing a border, each checked alone and then their union.
  putRings("Pholed", {square(0, 0, 4, 4), square(1, 1, 3, 3)});
  putRings("Pdistricts", {square(2, 0, 6, 2, 0, 1), square(2, 2, 6, 4, 0, 2)}, Kind::Polygon, true);
  const std::uint64_t before = geometry::detail::ringNestingCalls();
  result("x = Pholed * Pdistricts; y = Pholed + Pdistricts; z = Pholed - Pdistricts");
  EXPECT_EQ(geometry::detail::ringNestingCalls() - before, 1u + (2u + 1u));
  // The operators ran on the kept nesting: the hole stays a hole where Pdistricts leaves it.
  EXPECT_EQ(std::tuple(area(rings("x")), area(rings("y")), area(rings("z"))),
            std::tuple(8.0 - 2, 24.0 - 2, 8.0 - 2));
}

TEST_F(PolygonOperators, ACancelledOverlayGivesNoResult) {
  putRings("S1", {testing::jaggedStar(3000, 0, 0)});
  putRings("S2", {testing::jaggedStar(3000, 150, 80)});
  testing::Recorder observer(1);
  EXPECT_EQ(evaluate(calc_, "X = S1 * S2", &observer).text, "Вычисление прервано");
  ASSERT_FALSE(observer.starts.empty());
  EXPECT_EQ(observer.starts.back(),
            (std::pair<std::string, std::int64_t>{"Наложение полигонов...", 0}));
  EXPECT_GT(observer.closes, 0);
  EXPECT_TRUE(calc_.registry().find("X")->value.isNumber());  // nothing was stored
}

TEST_F(PolygonOperators, TheLengthUnitDecidesWhatCountsAsOneBoundary) {
  calc_.setLengthTolerance(0.001);  // km
  EXPECT_EQ(rings("P2 + P3").size(), 2u);
  calc_.setLengthTolerance(1.0);  // m: the 0.5 gap closes, P3 takes in P2's corners
  const geometry::Cover joined = rings("P2 + P3");
  ASSERT_EQ(joined.size(), 1u);
  EXPECT_GT(area(joined), 4 + 230);
  EXPECT_LT(area(joined), 4 + 230 + 0.5 * 23);
}

}  // namespace
}  // namespace vellumar::engine
