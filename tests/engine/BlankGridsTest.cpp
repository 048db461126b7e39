#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "EvaluationHelpers.h"
#include "engine/EngineMessages.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

using testing::evaluate;
using testing::numberOf;

// A calculator holding Gb, a 5 x 5 grid over [0, 4]^2 (z = 10x + y) with blank nodes (0, 0),
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
    put("Gb", Operand::grid(std::make_shared<const grid::Grid>(std::move(grid))));
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

TEST(BlankGridMessages, TheAreaMessageIsComposedByTheEngine) {
  EXPECT_STREQ(kernelMessage(sink_code::kGridBlankArea, Language::Russian),
               "область содержит пустые узлы грида");
  EXPECT_STREQ(kernelMessage(sink_code::kGridBlankArea, Language::English),
               "the area contains blank grid nodes");
}

}  // namespace
}  // namespace vellumar::engine
