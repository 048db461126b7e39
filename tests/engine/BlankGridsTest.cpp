#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "EvaluationHelpers.h"
#include "engine/EngineMessages.h"
#include "engine/LinePacking.h"
#include "geometry/Geometry.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

using testing::evaluate;
using testing::numberOf;

// A calculator holding Gb, a 5 x 5 grid (and Gl, the same in bilinear mode) over [0, 4]^2 (z = 10x + y) with blank nodes (0, 0),
// (4, 4) (the largest) and (2, 2), and data D1 with points in valid and in blank cells.
class BlankGrids : public ::testing::Test {
 protected:
  void SetUp() override {
    grid::Grid rectangle;
    rectangle.right = 4, rectangle.top = 4, rectangle.rectangleFlag = 1;
    grid::Grid grid(5, 5, rectangle);
    for (int j = 0; j < 5; ++j) {
      for (int i = 0; i < 5; ++i) grid.setNode(i, j, 10.0 * i + j);
    }
    grid.setNode(0, 0, grid::kBlankValue);
    grid.setNode(4, 4, std::nan(""));
    grid.setNode(2, 2, 2e38);
    grid::Grid bilinear = grid;
    bilinear.setMode(grid::Interpolation::Bilinear);
    put("Gb", Operand::grid(std::make_shared<const grid::Grid>(std::move(grid))));
    put("Gl", Operand::grid(std::make_shared<const grid::Grid>(std::move(bilinear))));
    // (3.5, 0.5) lies in a valid cell, (0.5, 0.5) and (2.5, 1.5) in cells with a blank corner.
    put("D1", Operand::data(std::make_shared<const data::DATA>(
                  std::vector<double>{1, 1, 1}, std::vector<double>{3.5, 0.5, 2.5},
                  std::vector<double>{0.5, 0.5, 1.5})));
  }

  void put(const std::string& name, Operand value) {
    calc_.registry().findOrCreate(name).value = std::move(value);
  }

  const grid::Grid& gridResult(const std::string& display) {
    const auto outcome = evaluate(calc_, display);
    EXPECT_TRUE(outcome.ok) << display << " -> " << outcome.text;
    static const grid::Grid empty;
    const grid::Grid* grid = calc_.result().gridValue();
    return grid != nullptr ? *grid : empty;
  }

  std::vector<double> values(const std::string& display) {
    const auto outcome = evaluate(calc_, display);
    EXPECT_TRUE(outcome.ok) << display << " -> " << outcome.text;
    if (!outcome.ok) return {};
    const auto span = calc_.result().points().values();
    return {span.begin(), span.end()};
  }

  S_Calculator calc_;
};

TEST_F(BlankGrids, MinMaxAndNodeWiseResultsKeepThemOut) {
  EXPECT_EQ(numberOf(calc_, "MAX(Gb)"), 43.0);
  EXPECT_EQ(numberOf(calc_, "MIN(Gb)"), 1.0);
  EXPECT_DOUBLE_EQ(numberOf(calc_, "MAX(Gb * 0.3048)"), 43.0 * 0.3048);
  EXPECT_EQ(numberOf(calc_, "MAX(Gb - Gb)"), 0.0);
  // A blank is no value outside a function's domain.
  EXPECT_NEAR(numberOf(calc_, "MAX(ArcSin(Gb / 100))"), std::asin(0.43), 1e-12);
  const grid::Grid& feet = gridResult("-Gb * 0.3048 + 1");
  EXPECT_TRUE(grid::isBlank(feet.node(0, 0)));
  EXPECT_TRUE(grid::isBlank(feet.node(4, 4)));
  EXPECT_TRUE(grid::isBlank(feet.node(2, 2)));
  EXPECT_DOUBLE_EQ(feet.node(1, 0), -(10.0 * 0.3048 + 1.0));  // the minus takes the sum
  const grid::Grid& compared = gridResult("Great(Gb, 20)");
  EXPECT_TRUE(grid::isBlank(compared.node(2, 2)));
  EXPECT_EQ(compared.node(3, 0), 1.0);
  // A grid of other nodes over it reads its surface: blank where the surface is.
  const grid::Grid& resampled = gridResult("Gb + EG(0, 4, 0, 4, 0.5, 0.5)");
  EXPECT_EQ(resampled.nx(), 9);
  EXPECT_TRUE(grid::isBlank(resampled.node(0, 0)));
  EXPECT_FALSE(grid::isBlank(resampled.node(7, 1)));
  // Constructions never make blanks.
  EXPECT_EQ(numberOf(calc_, "MIN(EG(Gb)) + MAX(EG(Gb))"), 2.0);
  EXPECT_EQ(numberOf(calc_, "MAX(XG(Gb))"), 4.0);
}

TEST_F(BlankGrids, SamplingGivesTheMissingValue) {
  const auto sampled = values("C_G_D(D1, Gb)");
  ASSERT_EQ(sampled.size(), 3u);
  EXPECT_NEAR(sampled[0], 35.5, 1e-9);
  EXPECT_EQ(sampled[1], -9999.0);
  EXPECT_EQ(sampled[2], -9999.0);
  EXPECT_EQ(values("outC = -5; C_Gx_D(D1, Gb)")[2], -5.0);
  // Data with a grid: missing where the surface is blank.
  const auto sums = values("D1 + Gb");
  EXPECT_NEAR(sums[0], 36.5, 1e-9);
  EXPECT_EQ(sums[1], -5.0);
  const auto nodes = values("G_D(Gb)");
  ASSERT_EQ(nodes.size(), 25u);
  EXPECT_EQ(nodes[0], -5.0);   // node (0, 0)
  EXPECT_EQ(nodes[12], -5.0);  // node (2, 2)
  EXPECT_EQ(nodes[24], -5.0);  // node (4, 4)
  EXPECT_EQ(nodes[5], 10.0);   // node (1, 0)
}

TEST_F(BlankGrids, DerivativesAreBlankAroundThem) {
  const grid::Grid& dx = gridResult("Dx(Gb)");
  EXPECT_TRUE(grid::isBlank(dx.node(1, 1)));  // next to (0, 0) and to (2, 2)
  EXPECT_TRUE(grid::isBlank(dx.node(3, 3)));
  EXPECT_FALSE(grid::isBlank(dx.node(4, 0)));
  EXPECT_NEAR(dx.node(4, 0), 10.0, 1e-8);
  EXPECT_NEAR(numberOf(calc_, "MAX(Spec(Gb, 1))"), std::sqrt(101.0), 1e-8);
}

// Gb with the polygon of the rectangle [x0, x1] x [y0, y1] as Pr.
void putRectangle(S_Calculator& calc, double x0, double y0, double x1, double y1) {
  geometry::Cover cover;
  cover.appendLine(geometry::Line({{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}}));
  calc.registry().findOrCreate("Pr").value = packCover(cover, Kind::Polygon);
}

TEST_F(BlankGrids, PolygonFunctionsSkipThemAndIntegralRefusesAreasOverThem) {
  // The row y = 2 through the blank node (2, 2): 12, blank, 32 (and 2, 42 outside).
  putRectangle(calc_, 0.5, 1.5, 3.5, 2.5);
  EXPECT_EQ(numberOf(calc_, "MAX(Gb, Pr)"), 32.0);
  EXPECT_EQ(numberOf(calc_, "MIN(Gb, Pr)"), 12.0);
  const grid::Grid& inside = gridResult("In_P(Gb, Pr)");
  EXPECT_TRUE(grid::isBlank(inside.node(2, 2)));
  EXPECT_TRUE(grid::isBlank(inside.node(0, 0)));  // outside, and still blank
  EXPECT_EQ(inside.node(1, 2), 12.0);
  EXPECT_EQ(inside.node(1, 1), 0.0);
  EXPECT_EQ(inside.zmax, 32.0);
  EXPECT_EQ(inside.zmin, 0.0);
  // Only the blank node is selected: nothing takes part.
  putRectangle(calc_, 1.5, 1.5, 2.5, 2.5);
  EXPECT_FALSE(evaluate(calc_, "MAX(Gb, Pr)").ok);

  // z = 10x + y is a plane, which both surfaces reproduce in the valid cells: the integral is the
  // area times z at the centroid. The cells [2, 4] x [0, 1] have no blank corner.
  for (const char* mode : {"Gb", "Gl"}) {
    putRectangle(calc_, 2.6, 0.1, 3.9, 0.9);
    EXPECT_NEAR(numberOf(calc_, std::string("Integral(") + mode + ", Pr)"), 1.3 * 0.8 * 33.0,
                1e-9)
        << mode;
    // Touching a blank cell along its edge covers none of it.
    putRectangle(calc_, 2.5, 0.2, 3.5, 1.0);
    EXPECT_NEAR(numberOf(calc_, std::string("Integral(") + mode + ", Pr)"), 0.8 * 30.6, 1e-9)
        << mode;
    // Reaching into the cell [2, 3] x [1, 2], whose corner (2, 2) is blank, fails.
    putRectangle(calc_, 2.5, 0.5, 3.5, 1.01);
    const auto outcome = evaluate(calc_, std::string("Integral(") + mode + ", Pr)");
    EXPECT_FALSE(outcome.ok) << mode;
    EXPECT_EQ(outcome.text, ": область содержит пустые узлы грида") << mode;
  }
}

TEST(BlankGridMessages, TheAreaMessageIsComposedByTheEngine) {
  EXPECT_STREQ(kernelMessage(sink_code::kGridBlankArea, Language::Russian),
               "область содержит пустые узлы грида");
  EXPECT_STREQ(kernelMessage(sink_code::kGridBlankArea, Language::English),
               "the area contains blank grid nodes");
}

}  // namespace
}  // namespace vellumar::engine
