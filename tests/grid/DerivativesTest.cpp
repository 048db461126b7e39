#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "GridTestSupport.h"
#include "grid/Derivatives.h"
#include "grid/Sampling.h"

namespace vellumar::grid {
namespace {

using testing::makeGrid;
using testing::wavy;

constexpr Derivative kAll[] = {Derivative::X, Derivative::Y, Derivative::XX, Derivative::XY,
                               Derivative::YY};

// Every node of the derivative grid of code, compared with expected(x, y).
template <class F>
void expectNodes(const Grid& grid, int code, double tolerance, F expected) {
  const Grid result = derivativeGrid(grid, code);
  ASSERT_TRUE(result.sameLattice(grid));
  testing::forEachNode(grid, [&](int i, int j, double x, double y) {
    EXPECT_NEAR(result.node(i, j), expected(x, y), tolerance)
        << "code " << code << " node " << i << "," << j;
  });
}

// The slope of a plane, and its z-range, are checked with blanks in both modes elsewhere.
TEST(GridDerivatives, LinearAndPlanarGrids) {
  const Grid xs = makeGrid(9, 7, 100, 180, -3, 3, [](double x, double) { return x; });
  expectNodes(xs, 1, 1e-8, [](double, double) { return 1.0; });
  for (int code : {2, 3, 4, 5}) expectNodes(xs, code, 1e-8, [](double, double) { return 0.0; });

  const Grid plane =
      makeGrid(12, 10, 0, 11, 0, 18, [](double x, double y) { return 3 * x + 4 * y; });
  expectNodes(plane, 8, 1e-7, [](double, double) { return std::atan(5.0) * 180 / M_PI; });
  expectNodes(plane, 22, 1e-10, [](double, double) { return 0.0; });
  expectNodes(plane, 7, 1e-10, [](double, double) { return 0.0; });
  expectNodes(plane, 9, 1e-9, [](double, double) { return 5.0 / std::sqrt(26.0); });

  // Aspect of planes facing the four directions.
  const auto aspectOf = [](double a, double b) {
    const Grid g = makeGrid(5, 5, 0, 4, 0, 4, [=](double x, double y) { return a * x + b * y; });
    return derivativeGrid(g, 10).node(2, 2);
  };
  EXPECT_NEAR(aspectOf(1, 0), 270.0, 1e-6);
  EXPECT_NEAR(aspectOf(-1, 0), 90.0, 1e-6);
  EXPECT_NEAR(aspectOf(0, 1), 180.0, 1e-6);
  EXPECT_NEAR(aspectOf(0, -1), 0.0, 1e-6);
}

TEST(GridDerivatives, DegenerateSlopesGiveIeeeValues) {
  const Grid flat = makeGrid(5, 4, 0, 4, 0, 3, [](double, double) { return 7.0; });
  for (int code : {10, 13, 14, 15, 16, 17}) {
    const Grid result = derivativeGrid(flat, code);
    ASSERT_EQ(result.nodeCount(), 20u) << code;
    for (const double v : result.nodes()) EXPECT_TRUE(std::isnan(v)) << code;
  }
  for (int code : {6, 11, 12, 22}) {
    EXPECT_EQ(testing::nodesOf(derivativeGrid(flat, code)), std::vector<double>(20, 0.0)) << code;
  }
}

TEST(GridDerivatives, PointDerivativesMatchFiniteDifferencesOfTheSurface) {
  const Grid grid = makeGrid(15, 12, 0, 14, 0, 22, wavy);
  const double h = 1e-4;
  const auto value = [&](double x, double y) { return grid.value(x, y); };
  for (const auto& [x, y] : {std::pair{3.3, 7.1}, {8.0, 10.0}, {1.7, 19.9}, {12.25, 2.5}}) {
    const double dx = (value(x + h, y) - value(x - h, y)) / (2 * h);
    const double dy = (value(x, y + h) - value(x, y - h)) / (2 * h);
    const double g = 1e-3;
    const double dxx = (value(x + g, y) - 2 * value(x, y) + value(x - g, y)) / (g * g);
    const double dyy = (value(x, y + g) - 2 * value(x, y) + value(x, y - g)) / (g * g);
    const double dxy =
        (value(x + g, y + g) - value(x + g, y - g) - value(x - g, y + g) + value(x - g, y - g)) /
        (4 * g * g);
    EXPECT_NEAR(derivativeAt(grid, Derivative::X, x, y), dx, 1e-6);
    EXPECT_NEAR(derivativeAt(grid, Derivative::Y, x, y), dy, 1e-6);
    EXPECT_NEAR(derivativeAt(grid, Derivative::XX, x, y), dxx, 1e-4);
    EXPECT_NEAR(derivativeAt(grid, Derivative::YY, x, y), dyy, 1e-4);
    EXPECT_NEAR(derivativeAt(grid, Derivative::XY, x, y), dxy, 1e-4);
  }
  // A surface the natural spline reproduces exactly: z = xy + 2x - y.
  const Grid product =
      makeGrid(7, 9, -3, 3, 0, 16, [](double x, double y) { return x * y + 2 * x - y; });
  for (const auto& [x, y] : {std::pair{-2.2, 3.3}, {0.5, 15.1}, {2.75, 8.0}}) {
    EXPECT_NEAR(derivativeAt(product, Derivative::X, x, y), y + 2.0, 1e-9);
    EXPECT_NEAR(derivativeAt(product, Derivative::Y, x, y), x - 1.0, 1e-9);
    EXPECT_NEAR(derivativeAt(product, Derivative::XX, x, y), 0.0, 1e-9);
    EXPECT_NEAR(derivativeAt(product, Derivative::YY, x, y), 0.0, 1e-9);
    EXPECT_NEAR(derivativeAt(product, Derivative::XY, x, y), 1.0, 1e-9);
  }
  // The spline follows the smooth function it was sampled from.
  EXPECT_NEAR(derivativeAt(grid, Derivative::X, 7.0, 11.0),
              0.7 * std::cos(4.9) * std::cos(4.4) + 1.1, 0.05);
  // Outside the rectangle, and without a surface, the derivatives are 0.
  EXPECT_EQ(derivativeAt(grid, Derivative::X, -0.1, 5), 0.0);
  EXPECT_EQ(derivativeAt(grid, Derivative::YY, 5, 22.5), 0.0);
  const Grid column = makeGrid(1, 5, 0, 0, 0, 4, [](double, double y) { return y; });
  EXPECT_EQ(derivativeAt(column, Derivative::Y, 0, 2), 0.0);
  EXPECT_EQ(derivativeGrid(column, 2).node(0, 2), 0.0);
}

TEST(GridDerivatives, DerivativeGridsAgreeWithPointDerivativesAtTheNodes) {
  Grid grid = makeGrid(9, 11, -5, 3, 10, 30, wavy);
  for (const Interpolation mode : {Interpolation::Spline, Interpolation::Bilinear}) {
    grid.setMode(mode);
    for (const Derivative d : kAll) {
      const int code = static_cast<int>(d);
      expectNodes(grid, code, 1e-9,
                  [&](double x, double y) { return derivativeAt(grid, d, x, y); });
      EXPECT_EQ(derivativeGrid(grid, code).mode(), mode);
    }
  }
}

TEST(GridDerivatives, LargeGridsAreComputedInBandsWithoutSeams) {
  const Grid grid = makeGrid(1030, 1030, 0, 1029, 0, 1029, [](double x, double y) {
    return std::sin(0.01 * x) * std::cos(0.013 * y) * 100;
  });
  const Grid slope = derivativeGrid(grid, 2);
  for (const int j : {0, 514, 515, 516, 1029}) {
    for (const int i : {0, 7, 1029}) {
      EXPECT_NEAR(slope.node(i, j), derivativeAt(grid, Derivative::Y, i, j), 1e-9) << i << "," << j;
    }
  }
  EXPECT_EQ(slope.zmin, *std::min_element(slope.nodes().begin(), slope.nodes().end()));
  EXPECT_EQ(slope.zmax, *std::max_element(slope.nodes().begin(), slope.nodes().end()));
}

TEST(GridDerivatives, BilinearGridsUseTheDerivativesOfTheirCells) {
  // z = x*y on unit steps, plus a bump at node (2, 1).
  Grid grid = makeGrid(4, 3, 0, 3, 0, 4,
                       [](double x, double y) { return x * y + (x == 2 && y == 2 ? 6.0 : 0.0); });
  grid.setMode(Interpolation::Bilinear);
  const Grid dx = derivativeGrid(grid, 1);
  EXPECT_DOUBLE_EQ(dx.node(0, 1), 2.0);         // forward difference (0 -> 2) / 1
  EXPECT_DOUBLE_EQ(dx.node(1, 1), 8.0);         // (2 + 6 - 2) / 1
  EXPECT_DOUBLE_EQ(dx.node(3, 1), 6.0 - 10.0);  // last column: backward difference
  const Grid dxx = derivativeGrid(grid, 3);
  EXPECT_DOUBLE_EQ(dxx.node(1, 1), 8.0 - 2.0);  // difference of the neighbouring slopes
  EXPECT_DOUBLE_EQ(dxx.node(0, 1), 2.0);        // the side outside counts 0
  const Grid dxy = derivativeGrid(grid, 4);
  EXPECT_DOUBLE_EQ(dxy.node(0, 0), 1.0);  // cell (0, 0): (2 - 0 - 0 + 0) / (1 * 2)
  // Inside a cell the bilinear surface is linear along each axis, so differences are exact.
  // Cell x 1..2, y 2..4 with corners 2, 10 (the bump) below and 4, 8 above; at (1.25, 2.5):
  // d/dx = 0.75 * (10 - 2) + 0.25 * (8 - 4), d/dy = (0.75 * (4 - 2) + 0.25 * (8 - 10)) / 2.
  EXPECT_NEAR(derivativeAt(grid, Derivative::X, 1.25, 2.5), 7.0, 1e-12);
  EXPECT_NEAR(derivativeAt(grid, Derivative::Y, 1.25, 2.5), 0.5, 1e-12);
  // A point within rounding of a node takes that node's derivative.
  EXPECT_DOUBLE_EQ(derivativeAt(grid, Derivative::X, 1.0 - 1e-12, 2.0), dx.node(1, 1));
}

TEST(GridDerivatives, CurvaturesSatisfyTheirIdentities) {
  const Grid grid = makeGrid(14, 13, 0, 13, 0, 12, [](double x, double y) {
    return 3 * std::sin(0.4 * x) * std::cos(0.3 * y) + 0.5 * x - 0.2 * y;
  });
  const auto node = [&](int n) { return derivativeGrid(grid, n + 5); };
  const Grid mean = node(6), minimal = node(15), maximal = node(16), gauss = node(17);
  const Grid horizontal = node(9), vertical = node(11), difference = node(8);
  const Grid unsphericity = node(7), horizontalExcess = node(13), verticalExcess = node(14);
  for (std::size_t k = 0; k < grid.nodeCount(); ++k) {
    const double h = mean.nodes()[k];
    EXPECT_NEAR(minimal.nodes()[k] * maximal.nodes()[k], gauss.nodes()[k], 1e-9);
    EXPECT_NEAR(minimal.nodes()[k] + maximal.nodes()[k], 2 * h, 1e-9);
    EXPECT_NEAR((horizontal.nodes()[k] + vertical.nodes()[k]) / 2, h, 1e-9);
    EXPECT_NEAR(difference.nodes()[k], (vertical.nodes()[k] - horizontal.nodes()[k]) / 2, 1e-9);
    EXPECT_NEAR(horizontalExcess.nodes()[k], horizontal.nodes()[k] - minimal.nodes()[k], 1e-9);
    EXPECT_NEAR(verticalExcess.nodes()[k], vertical.nodes()[k] - minimal.nodes()[k], 1e-9);
    EXPECT_GE(unsphericity.nodes()[k], 0.0);
  }
}

// The derivatives sampled at points are derivativeAt's (checked above on the same surface); here
// the values, and points outside the rectangle or on a grid without a surface.
TEST(GridSampling, PointsOutsideKeepTheMissingValue) {
  const Grid grid =
      makeGrid(6, 6, 0, 5, 0, 5, [](double x, double y) { return x * y + 2 * x - y; });
  const std::vector<double> xs = {1.5, -1, 2.25, 5, 9};
  const std::vector<double> ys = {2.5, 1, 4.75, 5, 1};
  const auto values = sampleAtPoints(grid, SampledQuantity::Value, xs, ys, -9999);
  ASSERT_EQ(values.size(), 5u);
  EXPECT_NEAR(values[0], 1.5 * 2.5 + 3.0 - 2.5, 1e-8);
  EXPECT_EQ(values[1], -9999.0);
  EXPECT_NEAR(values[2], 2.25 * 4.75 + 4.5 - 4.75, 1e-8);
  EXPECT_NEAR(values[3], 30.0, 1e-8);
  EXPECT_EQ(values[4], -9999.0);
  EXPECT_NEAR(sampleAtPoints(grid, SampledQuantity::XY, xs, ys, -1)[2], 1.0, 1e-8);
  const Grid row = makeGrid(5, 1, 0, 4, 0, 0, wavy);
  EXPECT_EQ(sampleAtPoints(row, SampledQuantity::Value, xs, ys, -5),
            std::vector<double>(xs.size(), -5.0));
}

TEST(GridSampling, GridPointsAreListedColumnByColumn) {
  const Grid grid = makeGrid(3, 2, 10, 30, 0, 5, [](double x, double y) { return x + y; });
  const GridPoints points = gridToPoints(grid);
  ASSERT_EQ(points.values.size(), 6u);
  EXPECT_EQ(points.x, (std::vector<double>{10, 10, 20, 20, 30, 30}));
  EXPECT_EQ(points.y, (std::vector<double>{0, 5, 0, 5, 0, 5}));
  EXPECT_EQ(points.values, (std::vector<double>{10, 15, 20, 25, 30, 35}));
  EXPECT_TRUE(gridToPoints(Grid()).values.empty());
  // A grid without nodes gives no points whatever its counts.
  const GridPoints none = gridToPoints(Grid(2000000000, 0));
  EXPECT_TRUE(none.values.empty());
  EXPECT_TRUE(none.x.empty());
}

}  // namespace
}  // namespace vellumar::grid
