#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "../geometry/TestShapes.h"
#include "EvaluationHelpers.h"
#include "engine/LinePacking.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

using geometry::test::coverOf;
using geometry::test::tagged;
using testing::dataOf;

// A calculator holding operands of every kind, registered as the load commands would.
class KindOperations : public testing::CalculatorTest {
 protected:
  void SetUp() override {
    grid::Grid frame;
    frame.right = 2, frame.top = 2, frame.rectangleFlag = 1;
    put("G1", testing::gridOperand(grid::Grid(3, 3, frame, {1, 2, 3, 4, 5, 6, 7, 8, 9})),
        "/maps/g1.grd");
    put("D1", dataOf({1, -9999, 3}, {0, 1, 5}, {0, 1, 1}));
    put("Dnoxy", dataOf({1, 2, 3}));
    put("D4", dataOf({1, 2, 3, 4}));
    put("Dempty", Operand::data(std::make_shared<const data::DATA>()));
    put("P1", packCover(coverOf({square(0, 0, 2, 2.5), square(5, 5, 1, -1)}), Kind::Polygon));
    putRings("P2", {square(1, 1, 2, 7)});
    putRings("C1", {square(0, 0, 1, 4)}, Kind::Lines);
  }

  static geometry::Line square(double x, double y, double side, double value) {
    return tagged(geometry::test::squareRing(x, y, x + side, y + side), 0, value);
  }
};

// Pairs of kinds outside the operator table; division by the number zero comes before the pair
// check; data with grids need coordinates.
TEST_F(KindOperations, OperatorsCheckTheirOperands) {
  expectMessage("Сложение: неверное сочетание аргументов!", {"C1 + C1", "P1 + G1"});
  expectMessage(": деление на 0!", {"G1 / 0", "D1 / 0", "P1 / 0", "C1 / (1 - 1)", "1 / (D1 - 1)"});
  expectMessages({{"D1 - P1", "Вычитание: неверное сочетание аргументов!"},
                  {"P1 / P2", "Деление: неверное сочетание аргументов!"},
                  {"C1 ^ 2", "Умножение: неверное сочетание аргументов!"},
                  {"P1 ^ G1", ": неверное сочетание аргументов!"},
                  {"Mul_SP(P1, P2)", "Mul_SP: неверное сочетание аргументов!"},
                  {"Dnoxy + G1", "Сложение: не указаны столбцы координат для аргумента 1"},
                  {"G1 + Dnoxy", "Сложение: не указаны столбцы координат для аргумента 2"},
                  {"Mul_SP(G1, Dnoxy)", "Mul_SP: не указаны столбцы координат для аргумента 2"},
                  {"min(P1, G1)", "min: недопустимый тип аргумента 2"},
                  {"Dnoxy + D4", ": разная длина колонок!"},
                  {"Mul_SP(Dnoxy, D4)", "Mul_SP: разная длина колонок!"},
                  {"Ln(D1 - 1)", ": недопустимое значение аргумента!"},
                  {"MAX(Dempty)", "MAX: пустая колонка аргумента 1"}});
}

TEST_F(KindOperations, ComparisonsOfGridsOnDifferentLatticesFail) {
  // The 0/1 functions compare nodes and need one lattice; arithmetic resamples the coarser grid.
  put("A", result("EG(0, 10, 0, 10, 1, 1)"));
  put("B", result("EG(0, 10, 0, 10, 2, 2) * 3"));
  for (const char* display : {"And(A, B)", "Or(B, A)", "Equal(A, B)", "Great(A, B)",
                              "LessEqual(A, B)", "2 + Less(A, B)"}) {
    EXPECT_EQ(failure(display), ": не совпадают размеры гридов!") << display;
  }
  calc_.setLanguage(Language::English);
  EXPECT_EQ(failure("GreatEqual(A, B)"), ": grids sizes mismatch!");
  // The sum lies on A's lattice, so it compares with A.
  EXPECT_EQ(result("MIN(Great(A + B, A))").numberValue(), 1.0);
}

TEST_F(KindOperations, LinesAndPolygonsWithNumbersGiveLines) {
  const Operand sum = result("P1 + 5");
  EXPECT_EQ(std::pair(sum.kind(), sum.parts()),
            std::pair(Kind::Lines, std::vector<std::int32_t>{5, 5}));
  EXPECT_EQ(values("P1 + 5")[0], 7.5);
  EXPECT_EQ(values("10 - P1")[5], 11);
  EXPECT_EQ(values("-P1")[0], -2.5);
  EXPECT_EQ(calc_.result().kind(), Kind::Polygon);
  const Operand chosen = result("IF(1, P1, 0)");
  EXPECT_EQ(std::pair(chosen.kind(), chosen.points().count()), std::pair(Kind::Lines, 10ul));
  EXPECT_EQ(result("Sqrt(Abs(P1) * 2)").kind(), Kind::Lines);
  EXPECT_EQ(result("Abs(P1)").kind(), Kind::Polygon);
  EXPECT_EQ(number("MIN(max(P1, 0))"), 0);
}

// Data columns keep their missing elements and lengths; with grids, points inside take the
// surface value and points outside and missing ones are missing.
TEST_F(KindOperations, DataColumnsKeepMissingElementsAndTakeTheSurfaceAtTheirPoints) {
  const auto sum = values("D1 + G1");
  ASSERT_EQ(sum.size(), 3u);
  EXPECT_NEAR(sum[0], 2, 1e-12);
  EXPECT_EQ(std::pair(sum[1], sum[2]), std::pair(-9999.0, -9999.0));
  EXPECT_NEAR(values("G1 - D1")[0], 0, 1e-12);
  EXPECT_EQ(values("D1 * 2 + 1"), (std::vector<double>{3, -9999, 7}));
  EXPECT_EQ(values("-D1"), (std::vector<double>{-1, -9999, -3}));
  EXPECT_EQ(values("Sqrt(D1)")[1], -9999);
  // With outC = 3, 3 is the missing value.
  const testing::NumberCase sums[] = {
      {"Sum(D1)", 4},       {"MIN(D1) + MAX(D1)", 4},    {"MIN(G1) + MAX(G1)", 10},
      {"MAX(G1 * -1)", -1}, {"MIN(G1 / G1)", 1},         {"MIN(P1)", -1},
      {"MAX(P1)", 2.5},     {"outC = 3; Sum(D1)", -9998}};
  for (const auto& c : sums) EXPECT_EQ(number(c.display), c.value) << c.display;
}

TEST_F(KindOperations, AssigningANumberFillsTheContent) {
  EXPECT_EQ(number("x = G1; G1 = 3; MIN(G1) + MAX(G1)"), 6);
  EXPECT_EQ(calc_.registry().find("G1")->value.gridValue()->nx(), 3);
  EXPECT_EQ(number("MAX(x)"), 9);  // the earlier copy is independent
  EXPECT_EQ(values("D1 = 0"), (std::vector<double>{0, -9999, 0}));
  EXPECT_TRUE(calc_.registry().find("D1")->value.points().hasCoordinates());
  EXPECT_EQ(number("P1 = 4; MIN(P1) + MAX(P1)"), 8);
  EXPECT_EQ(calc_.registry().find("P1")->value.kind(), Kind::Polygon);
  EXPECT_EQ(number("G1 = P1 + 0; 1"), 1);
  // The name keeps its file through the change of kind.
  EXPECT_EQ(std::pair(calc_.registry().find("G1")->value.kind(),
                      calc_.registry().find("G1")->value.sourcePath()),
            std::pair(Kind::Lines, std::string("/maps/g1.grd")));
}

TEST(LinePacking, RingsRoundTripAndPartsThatDisagreeWithThePointsStayWithinThem) {
  const Operand packed =
      packCover(coverOf({tagged(geometry::Line({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}}), 0, 3),
                         tagged(geometry::test::squareRing(5, 5, 6, 6), 0, -2)}),
                Kind::Polygon);
  EXPECT_EQ(packed.points().count(), 9u);
  EXPECT_EQ(packed.parts(), (std::vector<std::int32_t>{4, 5}));
  geometry::Cover back;
  ASSERT_TRUE(unpackOperand(packed, back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(std::tuple(back[1].size(), back[1].value, back[0][2].x), std::tuple(5u, -2.0, 1.0));
  EXPECT_FALSE(unpackOperand(Operand::number(1), back));

  // Parts tables that disagree with their points (only a damaged operand has them) are walked
  // within the points and never unpacked.
  auto operand = [](std::vector<std::int32_t> parts) {
    auto points = std::make_shared<const data::DATA>(std::vector<double>{1, 2, 3, 4, 5},
                                                     std::vector<double>{0, 1, 2, 3, 4},
                                                     std::vector<double>{0, 0, 0, 0, 0});
    return Operand::lines(Kind::Lines, std::move(points),
                          std::make_shared<const std::vector<std::int32_t>>(std::move(parts)));
  };
  using Parts = std::vector<std::pair<std::size_t, std::size_t>>;
  // The parts walked, and whether the table fitted the points.
  auto walk = [](const Operand& x) {
    Parts seen;
    const bool fitted =
        forEachPackedPart(x, [&](PackedPart part) { seen.emplace_back(part.first, part.count); });
    return std::pair(seen, fitted);
  };
  EXPECT_EQ(walk(operand({2, 0, 3})), std::pair(Parts{{0, 2}, {2, 0}, {2, 3}}, true));
  EXPECT_EQ(walk(operand({2, -4, 2})), std::pair(Parts{{0, 2}, {2, 0}, {2, 2}}, false));
  EXPECT_EQ(walk(operand({4, 3, 1})), std::pair(Parts{{0, 4}, {4, 1}, {5, 0}}, false));
  EXPECT_EQ(walk(operand({})), std::pair(Parts{}, true));

  geometry::Cover cover;
  EXPECT_TRUE(unpackOperand(operand({3, 2}), cover));
  ASSERT_EQ(cover.size(), 2u);
  EXPECT_EQ(std::pair(cover[1].value, cover[1][1].x), std::pair(4.0, 4.0));
  EXPECT_FALSE(unpackOperand(operand({4, 3}), cover));
  EXPECT_TRUE(cover.empty());
  EXPECT_FALSE(unpackOperand(operand({-1, 5}), cover));
  EXPECT_TRUE(cover.empty());
}

}  // namespace
}  // namespace vellumar::engine
