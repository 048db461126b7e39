#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "../grid/GridTestSupport.h"
#include "EvaluationHelpers.h"
#include "engine/EngineMessages.h"
#include "engine/LinePacking.h"
#include "geometry/Geometry.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

using testing::dataOf;
using testing::evaluate;
using testing::gridOperand;

// A calculator holding a 5 x 5 grid G1 over [0, 4]^2 (z = x + 2y), a grid Gfar beside it, and data
// with and without coordinates.
class GridFunctions : public testing::CalculatorTest {
 protected:
  void SetUp() override {
    put("G1", gridOf(0, 0, [](double x, double y) { return x + 2 * y; }));
    put("Gfar", gridOf(10, 0, [](double, double) { return 50.0; }));
    put("D1", dataOf({0, 0, 0}, {1, 9, 2.5}, {1, 1, 4}));
    put("Dnoxy", dataOf({1, 2}));
  }

  // A 5 x 5 grid over [left, left + 4] x [bottom, bottom + 4].
  template <class F>
  static Operand gridOf(double left, double bottom, F f) {
    return gridOperand(grid::testing::makeGrid(5, 5, left, left + 4, bottom, bottom + 4, f));
  }

  // The grid of a display that must give one; an empty grid otherwise.
  grid::Grid gridResult(const std::string& display) {
    const Operand value = result(display);
    return value.gridValue() != nullptr ? *value.gridValue() : grid::Grid();
  }

  // Gb, a 5 x 5 grid over [0, 4]^2 (z = 10x + y) with blank nodes (0, 0), (4, 4) (the largest)
  // and (2, 2), Gl the same in bilinear mode, and data Db with points in valid and in blank cells:
  // (3.5, 0.5) lies in a valid cell, (0.5, 0.5) and (2.5, 1.5) in cells with a blank corner.
  void putBlankGrid() {
    grid::Grid grid = *gridOf(0, 0, [](double x, double y) { return 10 * x + y; }).gridValue();
    grid.setNode(0, 0, grid::kBlankValue);
    grid.setNode(4, 4, std::nan(""));
    grid.setNode(2, 2, 2e38);
    grid::Grid bilinear = grid;
    bilinear.setMode(grid::Interpolation::Bilinear);
    put("Gb", gridOperand(std::move(grid)));
    put("Gl", gridOperand(std::move(bilinear)));
    put("Db", dataOf({1, 1, 1}, {3.5, 0.5, 2.5}, {0.5, 0.5, 1.5}));
  }
  // The polygon of the rectangle [x0, x1] x [y0, y1] as Pr.
  void putRectangle(double x0, double y0, double x1, double y1) {
    putRings("Pr", {geometry::test::squareRing(x0, y0, x1, y1, true)});
  }
};

TEST_F(GridFunctions, GridsBeyondTheNodeLimitFailInsteadOfExhaustingMemory) {
  grid::setMostNodes(10000);
  EXPECT_TRUE(evaluate(calc_, "EG(0, 99, 0, 99, 1, 1)").ok);  // exactly 10000 nodes
  EXPECT_FALSE(evaluate(calc_, "EG(0, 100, 0, 99, 1, 1)").ok);
  EXPECT_FALSE(evaluate(calc_, "Dense(EG(0, 99, 0, 99, 1, 1), 2)").ok);
  grid::setMostNodes(0);
  EXPECT_TRUE(evaluate(calc_, "Dense(EG(0, 99, 0, 99, 1, 1), 2)").ok);
  // Unless set, the limit is the nodes whose values the usable memory holds, from 2^28 (beyond the
  // memory, the memory claim refuses with its own message) to 2^31 - 1.
  for (const auto& [limit, nodes] :
       {std::pair{"80000", double(1 << 28)}, {"4G", double(1 << 29)}, {"64G", 2147483647.0}}) {
    setenv("VELLUMAR_MEMORY_LIMIT", limit, 1);
    EXPECT_EQ(grid::mostNodes(), nodes) << limit;
  }
  unsetenv("VELLUMAR_MEMORY_LIMIT");
}

// Each check names its function and argument: the X extent is checked before the kinds of later
// arguments; random grids check their law and its parameters.
TEST_F(GridFunctions, ArgumentChecksNameTheFunctionAndTheArgument) {
  put("Gsunk",
      gridOf(0, 0, [](double x, double y) { return x == 1 && y == 1 ? -INFINITY : x + y; }));
  put("Dinf", dataOf({1, INFINITY}, {0, 1}, {0, 1}));
  using testing::expectArgumentFailures;
  using testing::kType;
  using testing::kValue;
  expectArgumentFailures(calc_, kValue, 2,
                         {"EG(5, 5, 0, 1, 1, 1)", "EG(5, 5, 0, 1, G1, 1)",
                          "RG(0, 0, 0, 10, 1, 1, 1, 0, 1)", "Dense(G1, 0)"});
  expectArgumentFailures(calc_, kValue, 3, {"RG(G1, 8, -1, 10, 5)"});
  expectArgumentFailures(calc_, kValue, 4, {"XG(0, 1, 3, 1, 1, 1)", "RG(G1, 2, 0, 0)"});
  expectArgumentFailures(calc_, kValue, 5, {"YG(0, 1, 0, 1, 0, 1)"});
  expectArgumentFailures(calc_, kValue, 6, {"EG(0, 1, 0, 1, 1, -1)"});
  expectArgumentFailures(calc_, kValue, 7, {"RG(0, 10, 0, 10, 1, 1, 9, 0, 1)"});
  expectArgumentFailures(calc_, kValue, 10, {"RG(0, 10, 0, 10, 1, 1, 8, 0, 10, 10)"});
  expectArgumentFailures(calc_, kType, 1,
                         {"XG(D1)", "RG(D1, 1, 0, 1)", "Dxy(D1)", "C_Gx_D(G1, G1)", "G_D(5)",
                          "G_P(5)", "G_P(D1)", "G_P(Trace(G1, 2, 6, 2, 1))"});
  expectArgumentFailures(calc_, kType, 2,
                         {"EG(0, D1, 0, 1, 1, 1)", "Dense(G1, EG(G1))", "C_Gx_D(D1, D1)"});
  expectArgumentFailures(calc_, kType, 3, {"RG(G1, 1, G1, 1)", "Cut(G1, 1, D1, 1, 3)"});
  expectArgumentFailures(calc_, kType, 5, {"EG(0, 1, 0, 1, G1, 1)"});
  expectMessage(": недопустимое значение аргумента!",
                {"Cut(G1, 3, 3, 1, 3)", "Cut(G1, 5, 9, 5, 9, 0)"});
  expectMessages({
      {"EG(0, 1e300, 0, 1e300, 1, 1)", "EG: ошибка исполнения функции!"},
      {"Merge(G1, 1)", "Merge: неверное сочетание аргументов!"},
      {"C_G_D(Dnoxy, G1)", "C_G_D: не указаны столбцы координат для аргумента 1"},
  });
  // Reductions to numbers that are not finite fail.
  expectArgumentFailures(calc_, kValue, 1, {"MIN(Gsunk)", "Sum(Dinf) + 1"});
  EXPECT_EQ(number("MAX(Gsunk)"), 8.0);
}

// Constructions, derivatives (of linear grids: exact slopes), Dense, Cut and Merge as the
// evaluator passes their arguments; the gap of a merge holds mergeC.
TEST_F(GridFunctions, ConstructionsDerivativesAndMerges) {
  const std::string plane = "(3 * XG(0, 10, 0, 8, 1, 1) + 4 * YG(0, 10, 0, 8, 1, 1))";
  const struct {
    std::string display;
    double value, tolerance;
  } cases[] = {{"MIN(EG(G1)) + MAX(EG(G1))", 2, 0},
               {"MAX(XG(G1) - YG(G1))", 4, 0},
               {"MIN(YG(0, 1, -3, 3, 0.5, 2))", -3, 0},
               {"MIN(Dx(XG(0, 10, 0, 5, 1, 1)))", 1, 1e-8},
               {"MAX(Dy(G1))", 2, 1e-8},
               {"MIN(Spec(" + plane + ", 1))", 5, 1e-8},
               {"MAX(Abs(Spec(" + plane + ", 17)))", 0, 1e-12},
               {"MAX(Abs(Spec(G1, 2.9) - Spec(G1, 2)))", 0, 0},
               {"MIN(Merge(G1, Gfar))", 0, 0},
               {"mergeC = -1; MIN(Merge(G1, Gfar))", -1, 0}};
  for (const auto& c : cases) EXPECT_NEAR(number(c.display), c.value, c.tolerance) << c.display;
  // The lattices and ranges of the kernels have tests of their own: here, that the arguments
  // reach them in order.
  const grid::Grid& uniform = gridResult("RG(0, 30, 0, 20, 1, 1, 1, 2, 3)");
  EXPECT_EQ(std::tuple(uniform.nx(), uniform.zmin >= 2.0, uniform.zmax <= 3.0),
            std::tuple(31, true, true));
  EXPECT_GE(number("MIN(RG(G1, 4, 2))"), 0.0);  // one parameter completes law 4
  EXPECT_LE(number("MAX(RG(G1, 8, 0, 10, 5))"), 10.0);
  EXPECT_EQ(gridResult("Dense(G1, 2)").nx(), 9);
  const grid::Grid& cut = gridResult("Cut(G1, 2, 4, 1, 3)");
  EXPECT_EQ(std::tuple(cut.nx(), cut.left, cut.node(0, 0)), std::tuple(3, 1.0, 1.0));
  EXPECT_EQ(gridResult("Cut(G1, 0.5, 2.5, 0.5, 2.5, 0)").nx(), 4);
  EXPECT_EQ(gridResult("Cut(G1, 0.5, 2.5, 0.5, 2.5, 1)").nx(), 2);
}

TEST_F(GridFunctions, SamplingAtPointsAndGridsAsData) {
  const auto sampled = values("C_G_D(D1, G1)");
  ASSERT_EQ(sampled.size(), 3u);
  EXPECT_NEAR(sampled[0], 3.0, 1e-9);
  EXPECT_EQ(sampled[1], -9999.0);  // outside: outC
  EXPECT_NEAR(sampled[2], 10.5, 1e-9);
  EXPECT_EQ(values("outC = -5; C_G_D(D1, G1)")[1], -5.0);
  EXPECT_NEAR(values("C_Gy_D(D1, G1)")[2], 2.0, 1e-8);
  EXPECT_NEAR(values("C_Gxx_D(D1, G1)")[0], 0.0, 1e-8);
  EXPECT_EQ(calc_.result().points().x()[1], 9.0);
  EXPECT_EQ(values("G_D(Cut(G1, 1, 3, 1, 2))"), (std::vector<double>{0, 2, 1, 3, 2, 4}));
  EXPECT_EQ(calc_.result().points().y()[1], 1.0);
  EXPECT_EQ(values("G_D(D1)"), (std::vector<double>{0, 0, 0}));
}

// A data operand reads a grid's surface as missing where it is blank, and G_D gives the missing
// value at blank nodes.
TEST_F(GridFunctions, BlankNodesGiveTheMissingValueAndAreSkippedOrRefusedOverPolygons) {
  putBlankGrid();
  const auto sums = values("outC = -5; Db + Gb");
  ASSERT_EQ(sums.size(), 3u);
  EXPECT_NEAR(sums[0], 36.5, 1e-9);
  EXPECT_EQ(std::pair(sums[1], sums[2]), std::pair(-5.0, -5.0));
  const auto nodes = values("G_D(Gb)");
  ASSERT_EQ(nodes.size(), 25u);
  EXPECT_EQ(std::tuple(nodes[0], nodes[5], nodes[12]), std::tuple(-5.0, 10.0, -5.0));

  // Polygon functions skip blank nodes, and the integral refuses them.
  // The row y = 2 through the blank node (2, 2): 12, blank, 32 (and 2, 42 outside).
  putRectangle(0.5, 1.5, 3.5, 2.5);
  EXPECT_EQ(std::pair(number("MAX(Gb, Pr)"), number("MIN(Gb, Pr)")), std::pair(32.0, 12.0));
  const grid::Grid& inside = gridResult("In_P(Gb, Pr)");
  // (0, 0) lies outside, and stays blank.
  EXPECT_TRUE(grid::isBlank(inside.node(2, 2)) && grid::isBlank(inside.node(0, 0)));
  EXPECT_EQ(grid::testing::nodesAt(inside, {{1, 2}, {1, 1}}), (std::vector<double>{12, 0}));
  EXPECT_EQ(grid::testing::zRangeOf(inside), std::pair(0.0, 32.0));
  // Only the blank node is selected: nothing takes part.
  putRectangle(1.5, 1.5, 2.5, 2.5);
  EXPECT_FALSE(evaluate(calc_, "MAX(Gb, Pr)").ok);

  // z = 10x + y is a plane, which both surfaces reproduce in the valid cells: the integral is the
  // area times z at the centroid. The cells [2, 4] x [0, 1] have no blank corner.
  for (const char* mode : {"Gb", "Gl"}) {
    putRectangle(2.6, 0.1, 3.9, 0.9);
    EXPECT_NEAR(number(std::string("Integral(") + mode + ", Pr)"), 1.3 * 0.8 * 33.0, 1e-9) << mode;
    // Touching a blank cell along its edge covers none of it.
    putRectangle(2.5, 0.2, 3.5, 1.0);
    EXPECT_NEAR(number(std::string("Integral(") + mode + ", Pr)"), 0.8 * 30.6, 1e-9) << mode;
    // Reaching into the cell [2, 3] x [1, 2], whose corner (2, 2) is blank, fails.
    putRectangle(2.5, 0.5, 3.5, 1.01);
    EXPECT_EQ(failure(std::string("Integral(") + mode + ", Pr)"),
              ": область содержит пустые узлы грида");
  }
  calc_.setLanguage(Language::English);
  EXPECT_EQ(failure("Integral(Gb, Pr)"), ": the area contains blank grid nodes");
}

}  // namespace
}  // namespace vellumar::engine
