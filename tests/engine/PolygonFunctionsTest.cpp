#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "../geometry/TestShapes.h"
#include "../grid/GridTestSupport.h"
#include "EvaluationHelpers.h"
#include "engine/LinePacking.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

using geometry::test::squareRing;
using testing::dataOf;

geometry::Line ring(std::vector<geometry::Point> points, double value = 0.0) {
  return geometry::test::tagged(geometry::Line(std::move(points)), 0, value);
}

// A calculator holding a 5 x 5 map over [0, 4]^2 whose node (i, j) holds 10 i + j, polygons with
// holes and vertices on nodes, data and lines.
class PolygonFunctions : public testing::CalculatorTest {
 protected:
  void SetUp() override {
    put("G1", testing::gridOperand(grid::testing::makeGrid(
                  5, 5, 0, 4, 0, 4, [](double x, double y) { return 10.0 * x + y; })));
    // Square 0.5..3.5 with the hole 1.5..2.5: nodes 1..3 on each axis but (2, 2) are inside.
    putRings("P1", {squareRing(1.5, 1.5, 2.5, 2.5), squareRing(0.5, 0.5, 3.5, 3.5)});
    // Square with its vertices and edges on nodes.
    putRings("Pnodes", {squareRing(1, 1, 3, 3)});
    putRings("Pnone", {squareRing(0.2, 0.2, 0.4, 0.4)});
    putRings("Pcorner", {squareRing(-1, -1, 2, 2)});
    putRings("Popen", {ring({{0, 0}, {1, 0}, {1, 1}})});
    // Rows: inside, missing inside, in the hole, outside, on the rectangle of P1, inside.
    put("D1", dataOf({5, -9999, 7, 9, 11, 13}, {1, 1.2, 2, 4, 0.5, 3}, {1, 1.2, 2, 4, 2, 3.2}));
    put("Dnoxy", dataOf({1, 2}));
    put("Dempty", Operand::data(std::make_shared<const data::DATA>()));
    // Lines: one across P1 below the hole (value 4), one through the hole (value 6), one outside
    // with a vertex at a corner of P1's rectangle (value -3), one crossing P1 without a vertex
    // inside (value -5).
    putRings("C1",
             {ring({{0, 1}, {2, 1}, {4, 1}}, 4), ring({{0, 2}, {4, 2}}, 6),
              ring({{3.5, 3.5}, {4, 4}}, -3), ring({{0, 3}, {4, 3}}, -5)},
             Kind::Lines);
  }
};

TEST_F(PolygonFunctions, AreaAndLengthWholeAndInsideAPolygon) {
  // The square with a hole has area 3.75, its rings given the wrong way round.
  putRings("Psq", {squareRing(0, 0, 2, 2), squareRing(0.5, 0.5, 1, 1, true)});
  EXPECT_DOUBLE_EQ(number("Area(Psq)"), 3.75);
  // The data counts its rows with a value; lines need not be closed to be measured. Inside a
  // polygon: the rows strictly inside with a value, (1, 1) and (3, 3.2), not those in the hole,
  // on the rectangle's edge or outside; of the lines 3 below the hole, 2 through it and 3 along
  // y = 3; of the map's outline the two sides from (0, 0) to (0, 2) and (2, 0). P1's rings are 12
  // and 4 long, and 1.5 + 1.5 of the outer ring and 0.5 + 0.5 of the hole lie inside Pcorner.
  const testing::NumberCase measures[] = {
      {"Area(G1)", 16},   {"Len(G1)", 16},        {"Len(D1)", 5},     {"Len(P1)", 16},
      {"Len(Popen)", 2},  {"Len(D1, P1)", 2},     {"Len(C1, P1)", 8}, {"Len(G1, Pcorner)", 4},
      {"Len(G1, P1)", 0}, {"Len(P1, Pcorner)", 4}};
  EXPECT_DOUBLE_EQ(number("Len(C1)"), 4 + 4 + std::sqrt(0.5) + 4);
  for (const auto& c : measures) EXPECT_DOUBLE_EQ(number(c.display), c.value) << c.display;
  expectMessages({{"Area(D1)", "Area: недопустимый тип аргумента 1"},
                  {"Area(Popen)", "Area: недопустимое значение аргумента 1"},
                  {"Len(5)", "Len: недопустимый тип аргумента 1"},
                  {"Len(Dnoxy, P1)", "Len: не указаны столбцы координат для аргумента 1"},
                  {"Len(D1, Popen)", "Len: недопустимое значение аргумента 2"},
                  {"Len(D1, G1)", "Len: недопустимый тип аргумента 2"},
                  {"Len(1, P1)", "Len: недопустимый тип аргумента 1"}});
}

TEST_F(PolygonFunctions, InsideAndOutsideFlags) {
  // Nodes column by column (x = 0 ... 4, y = 0 ... 4 within each); the square on nodes: vertices
  // and the bottom and right edges are inside, the left and top edges outside, and the
  // rectangle's bounds count here.
  const std::vector<double> inside = {0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1,
                                      0, 0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(values("IO_P(G1, Pnodes)"), inside);
  ASSERT_EQ(calc_.result().kind(), Kind::Data);
  std::vector<double> xs, ys;  // the nodes' coordinates, column by column
  for (int row = 0; row < 25; ++row) xs.push_back(row / 5), ys.push_back(row % 5);
  const data::DATA& rows = calc_.result().points();
  EXPECT_EQ(std::vector<double>(rows.x().begin(), rows.x().end()), xs);
  EXPECT_EQ(std::vector<double>(rows.y().begin(), rows.y().end()), ys);
  std::vector<double> outside;
  for (const double v : inside) outside.push_back(1 - v);
  EXPECT_EQ(values("Out(G1, Pnodes)"), outside);
  EXPECT_EQ(values("In(G1, Pnodes)"), inside);

  // Data rows and vertices keep their coordinates. The row on the left edge passes the
  // rectangle test here, but a left edge is outside its ring.
  EXPECT_EQ(values("IO_P(D1, P1)"), (std::vector<double>{1, 1, 0, 0, 0, 1}));
  EXPECT_EQ(calc_.result().points().x()[4], 0.5);
  EXPECT_EQ(values("Out(C1, P1)"), (std::vector<double>{1, 0, 1, 1, 1, 0, 1, 1, 1}));
  EXPECT_EQ(failure("IO_P(Dnoxy, P1)"), "IO_P: не указаны столбцы координат для аргумента 1");
  EXPECT_EQ(failure("Out(G1, Popen)"), "Out: недопустимое значение аргумента 2");
  EXPECT_EQ(failure("In(G1, 2)"), "In: недопустимый тип аргумента 2");
}

TEST_F(PolygonFunctions, MasksKeepWhatLiesInsideOrOutside) {
  const Operand inOperand = result("In_P(G1, P1)");
  const grid::Grid& in = *inOperand.gridValue();
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 5; ++i) {
      const bool kept = i >= 1 && i <= 3 && j >= 1 && j <= 3 && !(i == 2 && j == 2);
      EXPECT_EQ(in.node(i, j), kept ? 10.0 * i + j : 0.0) << i << ' ' << j;
    }
  }
  EXPECT_EQ(grid::testing::zRangeOf(in), std::pair(0.0, 33.0));  // the zeros count in the range
  const Operand outOperand = result("Out_P(G1, P1)");
  const grid::Grid& out = *outOperand.gridValue();
  EXPECT_EQ(std::tuple(out.node(2, 2), out.node(1, 1), out.zmax), std::tuple(22.0, 0.0, 44.0));
  // A node on a vertex of the polygon is on its rectangle, so never kept by In_P.
  EXPECT_EQ(result("In_P(G1, Pnodes)").gridValue()->zmax, 22.0);

  EXPECT_EQ(values("In_P(D1, P1)"), (std::vector<double>{5, -9999, 13}));
  const auto x = calc_.result().points().x();
  EXPECT_EQ(std::vector<double>(x.begin(), x.end()), (std::vector<double>{1, 1.2, 3}));
  EXPECT_EQ(values("Out_P(D1, P1)"), (std::vector<double>{7, 9, 11}));
  EXPECT_EQ(failure("In_P(D1, Pnone)"), "In_P: вне полигона или прямоугольника аргумент 1");
  EXPECT_EQ(failure("Out_P(Dnoxy, P1)"), "Out_P: не указаны столбцы координат для аргумента 1");

  // Lines are cut at the boundary.
  EXPECT_EQ(result("In_P(C1, P1)").kind(), Kind::Lines);
  EXPECT_DOUBLE_EQ(number("Len(In_P(C1, P1))"), 8.0);
  EXPECT_DOUBLE_EQ(number("Len(Out_P(C1, P1))"), 12 + std::sqrt(0.5) - 8.0);
  EXPECT_EQ(failure("In_P(G1, Popen)"), "In_P: недопустимое значение аргумента 2");
  EXPECT_EQ(failure("In_P(3, P1)"), "In_P: недопустимый тип аргумента 1");

  // Polygons: the intersection ([0.5, 2]^2 without the hole's corner) and the difference.
  EXPECT_EQ(result("In_P(Pcorner, P1)").kind(), Kind::Polygon);
  EXPECT_DOUBLE_EQ(number("Area(In_P(Pcorner, P1))"), 2.25 - 0.25);
  EXPECT_DOUBLE_EQ(number("Area(Out_P(Pcorner, P1))"), 9.0 - 2.0);
  EXPECT_EQ(failure("In_P(Popen, P1)"), "In_P: недопустимое значение аргумента 1");
}

// Only the middle node is strictly inside the square on nodes; a missing value takes no part.
// Each line counts once, with its value, when one of its vertices is inside: the line along
// y = 3 crosses P1 without a vertex inside and the corner vertex lies on the rectangle.
TEST_F(PolygonFunctions, ExtremaAndSumsOverAPolygon) {
  const testing::NumberCase cases[] = {
      {"MIN(G1, P1)", 11},    {"MAX(G1, P1)", 33},       {"MAX(G1, Pnodes)", 22},
      {"MIN(D1, P1)", 5},     {"MAX(D1, P1)", 13},       {"MIN(C1, P1)", 4},
      {"MAX(C1, P1)", 4},     {"MIN(P1, Pcorner)", 0},   {"Sum(D1, P1)", 5 + 13},
      {"Sum(Dempty, P1)", 0}, {"Sum(Dempty, Pnone)", 0}, {"Sum(D1, Pnone)", 0}};
  for (const auto& c : cases) EXPECT_EQ(number(c.display), c.value) << c.display;
  expectMessages({{"MAX(G1, Pnone)", "MAX: вне полигона или прямоугольника аргумент 1"},
                  {"MIN(Dempty, P1)", "MIN: пустая колонка аргумента 1"},
                  {"MAX(Dnoxy, P1)", "MAX: не указаны столбцы координат для аргумента 1"},
                  {"MIN(D1, Pnone)", "MIN: вне полигона или прямоугольника аргумент 1"},
                  {"MIN(C1, Pnone)", "MIN: вне полигона или прямоугольника аргумент 1"},
                  {"Sum(Dnoxy, P1)", "Sum: не указаны столбцы координат для аргумента 1"},
                  {"Sum(Dempty, Popen)", "Sum: недопустимое значение аргумента 2"},
                  {"Sum(G1, P1)", "Sum: недопустимый тип аргумента 1"}});
}

TEST_F(PolygonFunctions, CoordinatesBeyondTheRangeAreRefusedBeforeAnyWork) {
  const auto map = [](int n, double low, double high) {
    return testing::gridOperand(grid::testing::makeGrid(
        n, n, low, high, low, high, [](double x, double) { return x > 0 ? 10.0 : 0.0; }));
  };
  // At 1e20 a ring's area passes the bound of the innermost-ring rule and would select nothing;
  // at 1e155 the integral's products overflow; steps of 1e-20 square to less than the
  // derivatives can divide by.
  putRings("Pfar", {squareRing(-1e20, -1e20, 1e20, 1e20)});
  put("Gfar", map(4, -1e155, 1e155));
  put("Gfine", map(5, 0, 4e-20));
  putRings("Cfar", {ring({{-1e300, 2}, {1e300, 2}})}, Kind::Lines);
  testing::expectArgumentFailures(
      calc_, testing::kValue, 2,
      {"MAX(G1, Pfar)", "IO_P(D1, Pfar)", "Sum(D1, Pfar)", "Mean(G1, Pfar)", "C_Gxy_D(D1, Gfine)"});
  testing::expectArgumentFailures(
      calc_, testing::kValue, 1,
      {"Len(Cfar, P1)", "In_P(Cfar, P1)", "Integral(Gfar, G_P(Gfar))", "Trace(Gfar, 7, 1, 1)",
       "Area(Gfar)", "Dxx(Gfine)", "Spec(Gfine, 6)"});
  // At the bound the selection still works: the 3 x 3 inner nodes of a map over +-1e18.
  putRings("Pedge", {squareRing(-0.75e18, -0.75e18, 0.75e18, 0.75e18)});
  put("Gedge", map(5, -1e18, 1e18));
  EXPECT_EQ(number("Sum(IO_P(Gedge, Pedge))"), 9.0);
  // What only compares or copies coordinates takes them as they are.
  put("Dfar", dataOf({1, 2}, {1e300, 1}, {1e300, 1}));
  EXPECT_EQ(number("Sum(IO_P(Dfar, P1))"), 1.0);
  EXPECT_EQ(number("MAX(Gfar * 2)"), 20.0);
  EXPECT_EQ(number("MAX(G_D(Gfine))"), 10.0);
}

}  // namespace
}  // namespace vellumar::engine
