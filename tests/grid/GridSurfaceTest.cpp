#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "../common/TestSupport.h"
#include "GridTestSupport.h"
#include "grid/AxisIntegrals.h"
#include "grid/Derivatives.h"
#include "grid/Grid.h"
#include "grid/Sampling.h"

namespace vellumar::grid {
namespace {

using ::testing::DoubleEq, ::testing::DoubleNear, ::testing::Pointwise;
using testing::latticeIntegral, testing::makeGrid, testing::nodesAt, testing::wavy;
using V = std::vector<double>;

// Natural cubic spline through equally spaced data, solved for the second derivatives M_k.
double naturalSpline(const std::vector<double>& f, double h, double x) {
  const int n = static_cast<int>(f.size());
  std::vector<double> diag(n, 4.0), rhs(n, 0.0), m(n, 0.0);
  for (int k = 1; k < n - 1; ++k) rhs[k] = 6.0 * (f[k + 1] - 2 * f[k] + f[k - 1]) / (h * h);
  for (int k = 2; k < n - 1; ++k) {  // Thomas algorithm on rows 1 .. n-2
    const double w = 1.0 / diag[k - 1];
    diag[k] -= w;
    rhs[k] -= w * rhs[k - 1];
  }
  for (int k = n - 2; k >= 1; --k) m[k] = (rhs[k] - (k + 1 < n - 1 ? m[k + 1] : 0.0)) / diag[k];
  const int k = std::min(static_cast<int>(x / h), n - 2);
  const double a = (k + 1) * h - x;
  const double b = x - k * h;
  return m[k] * a * a * a / (6 * h) + m[k + 1] * b * b * b / (6 * h) +
         (f[k] - m[k] * h * h / 6) * a / h + (f[k + 1] - m[k + 1] * h * h / 6) * b / h;
}

// Along each axis the surface is the natural cubic spline through the nodes: C2 across the cell
// edges, with zero curvature at both ends.
TEST(GridSurface, MatchesTheNaturalCubicSplineAlongEachAxisAndIsZeroOutsideOrWithoutOne) {
  const std::vector<double> data = {1.0, 4.0, -2.0, 0.5, 3.0,  3.0, -1.0,
                                    8.0, 2.0, 0.0,  5.0, -4.0, 1.0, 2.0};
  const int n = static_cast<int>(data.size());
  const auto at = [&](double t) { return data[static_cast<int>(std::lround(t))]; };
  const Grid alongX =
      makeGrid(n, 2, 0.0, n - 1.0, 0.0, 1.0, [&](double x, double) { return at(x); });
  // Along Y with steps of a half, so that the step enters the curvatures.
  const Grid alongY =
      makeGrid(2, n, 0.0, 1.0, 0.0, 0.5 * (n - 1), [&](double, double y) { return at(2 * y); });
  for (double t = 0.0; t <= n - 1.0; t += 0.173) {
    EXPECT_NEAR(alongX.value(t, 0.25), naturalSpline(data, 1.0, t), 1e-8) << t;
    EXPECT_NEAR(alongY.value(0.6, t / 2), naturalSpline(data, 0.5, t / 2), 1e-8) << t;
  }

  // Small and degenerate grids, and points outside.
  const Grid square =
      makeGrid(2, 2, 0.0, 2.0, 0.0, 4.0, [](double x, double y) { return x * y + x; });
  // Nodes 0, 2 (bottom) and 0, 10 (top): a 2 x 2 spline is the bilinear interpolant.
  for (double x : {0.0, 0.3, 1.0, 1.7, 2.0}) {
    for (double y : {0.0, 1.1, 2.5, 4.0})
      EXPECT_NEAR(square.value(x, y), 2 * (x / 2) + 8 * (x / 2) * (y / 4), 1e-12);
  }
  // A single column or row, and no nodes, have no surface.
  const Grid column = makeGrid(1, 5, 3.0, 3.0, 0.0, 4.0, [](double, double y) { return y + 1; });
  const Grid row = makeGrid(5, 1, 0.0, 4.0, 0.0, 1.0, [](double x, double) { return x + 1; });
  EXPECT_EQ(std::tuple(column.value(3.0, 2.0), row.value(2.0, 0.0), Grid().value(0.0, 0.0)),
            std::tuple(0.0, 0.0, 0.0));
  // A rounding past an edge is outside, and so is NaN (points farther out are checked with the
  // blanks).
  const Grid grid = makeGrid(5, 4, 1.0, 9.0, -2.0, 4.0, wavy);
  for (const auto& [x, y] :
       {std::pair{9.0 + 1e-12, 0.0}, {1.0 - 1e-12, 0.0}, {3.0, 4.0 + 1e-12}, {NAN, 0.0}}) {
    EXPECT_EQ(grid.value(x, y), 0.0) << x << "," << y;
  }
}

TEST(GridSurface, ThreadsEvaluatingOneGridSolveItsSplineOnce) {
  Grid grid = makeGrid(61, 47, -3.0, 5.0, 10.0, 13.0, wavy);
  const Grid copyBeforeSolve = grid;
  EXPECT_FALSE(grid.hasCoefficients());
  constexpr int kThreads = 4;
  std::vector<const NodeVector*> solved(kThreads, nullptr);
  std::vector<int> misses(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread walks the nodes in its own order, so they meet the unsolved grid together.
      for (int j = t % grid.ny(); j < grid.ny() + t % grid.ny(); ++j) {
        const int r = j % grid.ny();
        for (int i = 0; i < grid.nx(); ++i)
          misses[t] += std::abs(grid.value(grid.nodeX(i), grid.nodeY(r)) - grid.node(i, r)) > 1e-9;
      }
      solved[t] = grid.splineCoefficients();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(misses, std::vector<int>(kThreads, 0));
  EXPECT_EQ(solved, std::vector<const NodeVector*>(kThreads, solved[0]));
  // The copy taken before holds the same nodes, so it shares the one solve.
  EXPECT_TRUE(copyBeforeSolve.hasCoefficients());
  EXPECT_EQ(copyBeforeSolve.splineCoefficients(), solved[0]);

  // Changing a copy's nodes gives it a surface of its own and leaves the shared one alone.
  Grid changed = grid;
  changed.setNode(30, 20, 1000.0);
  EXPECT_FALSE(changed.hasCoefficients());
  EXPECT_NEAR(changed.value(changed.nodeX(30), changed.nodeY(20)), 1000.0, 1e-6);
  EXPECT_NE(changed.splineCoefficients(), solved[0]);
  EXPECT_NEAR(grid.value(grid.nodeX(30), grid.nodeY(20)), grid.node(30, 20), 1e-9);
}

TEST(GridSurface, BilinearModeNodeChangesZRangeAndResample) {
  Grid grid = makeGrid(5, 5, 0.0, 4.0, 0.0, 4.0, [](double x, double y) { return x - 2 * y; });
  grid.setNode(1, 1, 7.0);
  grid.setMode(Interpolation::Bilinear);
  EXPECT_DOUBLE_EQ(grid.value(0.5, 0.5), (0.0 + 1.0 - 2.0 + 7.0) / 4);
  EXPECT_DOUBLE_EQ(grid.value(4.0, 4.0), -4.0);
  // A change through the node array is seen by the spline surface (a change through setNode, and
  // copies, are checked with the threads above).
  grid.setMode(Interpolation::Spline);
  EXPECT_NEAR(grid.value(1.0, 1.0), 7.0, 1e-9);
  grid.mutableNodes()[6] = -1.0;
  EXPECT_NEAR(grid.value(1.0, 1.0), -1.0, 1e-9);

  grid.zmin = grid.zmax = 123.0;
  grid.recomputeZRange();
  EXPECT_THAT(V({grid.zmin, grid.zmax}), Pointwise(DoubleNear(1e-9), V{-8.0, 4.0}));
  Grid empty;
  empty.recomputeZRange();
  EXPECT_EQ(testing::zRangeOf(empty), std::pair(kZRangeStart, -kZRangeStart));

  ASSERT_TRUE(grid.resample(9, 3));
  EXPECT_EQ(testing::countsOf(grid), std::pair(9, 3));
  EXPECT_THAT(nodesAt(grid, {{1, 1}, {8, 2}}),
              Pointwise(DoubleNear(1e-9), V{0.5 - 4.0, 4.0 - 8.0}));
  EXPECT_EQ(testing::zRangeOf(grid), testing::nodeRangeOf(grid));
  EXPECT_FALSE(grid.resample(0, 3));
}

// ---- derivatives and sampling ----

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
TEST(GridDerivatives, LinearPlanarAndFlatGridsGiveTheirSlopesOrIeeeValues) {
  const Grid xs = makeGrid(9, 7, 100, 180, -3, 3, [](double x, double) { return x; });
  expectNodes(xs, 1, 1e-8, [](double, double) { return 1.0; });
  for (int code : {2, 3, 4, 5}) expectNodes(xs, code, 1e-8, [](double, double) { return 0.0; });

  const Grid plane =
      makeGrid(12, 10, 0, 11, 0, 18, [](double x, double y) { return 3 * x + 4 * y; });
  expectNodes(plane, 8, 1e-7, [](double, double) { return std::atan(5.0) * 180 / M_PI; });
  for (int code : {22, 7}) expectNodes(plane, code, 1e-10, [](double, double) { return 0.0; });
  expectNodes(plane, 9, 1e-9, [](double, double) { return 5.0 / std::sqrt(26.0); });

  // Aspect of planes facing the four directions.
  for (const auto& [a, b, aspect] :
       {std::tuple{1.0, 0.0, 270.0}, {-1.0, 0.0, 90.0}, {0.0, 1.0, 180.0}, {0.0, -1.0, 0.0}}) {
    const Grid g =
        makeGrid(5, 5, 0, 4, 0, 4, [a = a, b = b](double x, double y) { return a * x + b * y; });
    EXPECT_NEAR(derivativeGrid(g, 10).node(2, 2), aspect, 1e-6) << a << "," << b;
  }

  // A flat grid, a degenerate slope, gives IEEE values: NaN for some quantities, 0 for the others.
  const Grid flat = makeGrid(5, 4, 0, 4, 0, 3, [](double, double) { return 7.0; });
  for (int code : {10, 13, 14, 15, 16, 17}) {
    EXPECT_THAT(testing::nodesOf(derivativeGrid(flat, code)),
                ::testing::AllOf(::testing::SizeIs(20), ::testing::Each(::testing::IsNan())))
        << code;
  }
  for (int code : {6, 11, 12, 22})
    EXPECT_EQ(testing::nodesOf(derivativeGrid(flat, code)), std::vector<double>(20, 0.0)) << code;
}

TEST(GridDerivatives, PointDerivativesMatchFiniteDifferencesOfTheSurface) {
  const Grid grid = makeGrid(15, 12, 0, 14, 0, 22, wavy);
  const double h = 1e-4;
  const auto value = [&](double x, double y) { return grid.value(x, y); };
  for (const auto& [x, y] : {std::pair{3.3, 7.1}, {8.0, 10.0}, {1.7, 19.9}, {12.25, 2.5}}) {
    const double g = 1e-3;
    const double differences[] = {
        // X, Y, XX, XY, YY, in the order of kAll
        (value(x + h, y) - value(x - h, y)) / (2 * h),
        (value(x, y + h) - value(x, y - h)) / (2 * h),
        (value(x + g, y) - 2 * value(x, y) + value(x - g, y)) / (g * g),
        (value(x + g, y + g) - value(x + g, y - g) - value(x - g, y + g) + value(x - g, y - g)) /
            (4 * g * g),
        (value(x, y + g) - 2 * value(x, y) + value(x, y - g)) / (g * g)};
    for (std::size_t d = 0; d < 5; ++d)
      EXPECT_NEAR(derivativeAt(grid, kAll[d], x, y), differences[d], d < 2 ? 1e-6 : 1e-4) << d;
  }
  // A surface the natural spline reproduces exactly: z = xy + 2x - y.
  const Grid product =
      makeGrid(7, 9, -3, 3, 0, 16, [](double x, double y) { return x * y + 2 * x - y; });
  for (const auto& [x, y] : {std::pair{-2.2, 3.3}, {0.5, 15.1}, {2.75, 8.0}}) {
    const double exact[] = {y + 2.0, x - 1.0, 0.0, 1.0, 0.0};
    for (std::size_t d = 0; d < 5; ++d)
      EXPECT_NEAR(derivativeAt(product, kAll[d], x, y), exact[d], 1e-9) << d;
  }
  // Outside the rectangle, and without a surface, the derivatives are 0.
  EXPECT_EQ(derivativeAt(grid, Derivative::X, -0.1, 5), 0.0);
  EXPECT_EQ(derivativeAt(grid, Derivative::YY, 5, 22.5), 0.0);
  const Grid column = makeGrid(1, 5, 0, 0, 0, 4, [](double, double y) { return y; });
  EXPECT_EQ(derivativeAt(column, Derivative::Y, 0, 2), 0.0);
  EXPECT_EQ(derivativeGrid(column, 2).node(0, 2), 0.0);
}

// In both modes, and on a grid large enough to be computed in bands, without seams between them.
TEST(GridDerivatives, DerivativeGridsAgreeWithPointDerivativesAtTheNodesAndHaveNoSeams) {
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
  const Grid huge = makeGrid(1030, 1030, 0, 1029, 0, 1029, [](double x, double y) {
    return std::sin(0.01 * x) * std::cos(0.013 * y) * 100;
  });
  const Grid slope = derivativeGrid(huge, 2);
  for (const int j : {0, 514, 515, 516, 1029}) {
    for (const int i : {0, 7, 1029})
      EXPECT_NEAR(slope.node(i, j), derivativeAt(huge, Derivative::Y, i, j), 1e-9) << i << "," << j;
  }
  EXPECT_EQ(testing::zRangeOf(slope), testing::nodeRangeOf(slope));
}

TEST(GridDerivatives, BilinearGridsUseTheDerivativesOfTheirCells) {
  // z = x*y on unit steps, plus a bump at node (2, 1).
  Grid grid = makeGrid(4, 3, 0, 3, 0, 4,
                       [](double x, double y) { return x * y + (x == 2 && y == 2 ? 6.0 : 0.0); });
  grid.setMode(Interpolation::Bilinear);
  // d/dx at (0, 1), (1, 1), (3, 1): the forward difference (0 -> 2) / 1, (2 + 6 - 2) / 1, and in
  // the last column the backward difference.
  const Grid dx = derivativeGrid(grid, 1);
  EXPECT_THAT(nodesAt(dx, {{0, 1}, {1, 1}, {3, 1}}),
              Pointwise(DoubleEq(), V{2.0, 8.0, 6.0 - 10.0}));
  // d2/dx2 at (1, 1): the difference of the neighbouring slopes; at (0, 1) the side outside
  // counts 0. d2/dxdy at (0, 0), of cell (0, 0): (2 - 0 - 0 + 0) / (1 * 2).
  EXPECT_THAT(nodesAt(derivativeGrid(grid, 3), {{1, 1}, {0, 1}}),
              Pointwise(DoubleEq(), V{8.0 - 2.0, 2.0}));
  EXPECT_DOUBLE_EQ(derivativeGrid(grid, 4).node(0, 0), 1.0);
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
TEST(GridSampling, PointsOutsideKeepTheMissingValueAndGridPointsGoColumnByColumn) {
  const Grid grid =
      makeGrid(6, 6, 0, 5, 0, 5, [](double x, double y) { return x * y + 2 * x - y; });
  const std::vector<double> xs = {1.5, -1, 2.25, 5, 9};
  const std::vector<double> ys = {2.5, 1, 4.75, 5, 1};
  // On the rectangle's corner: inside (points outside, with blanks, are checked with the blanks).
  // On a grid without a surface every point is missing.
  const auto values = sampleAtPoints(grid, SampledQuantity::Value, xs, ys, -9999);
  ASSERT_EQ(values.size(), 5u);
  EXPECT_NEAR(values[3], 30.0, 1e-8);
  EXPECT_NEAR(sampleAtPoints(grid, SampledQuantity::XY, xs, ys, -1)[2], 1.0, 1e-8);
  EXPECT_EQ(sampleAtPoints(makeGrid(5, 1, 0, 4, 0, 0, wavy), SampledQuantity::Value, xs, ys, -5),
            std::vector<double>(xs.size(), -5.0));
  // Grid points are listed column by column.
  const GridPoints points =
      gridToPoints(makeGrid(3, 2, 10, 30, 0, 5, [](double x, double y) { return x + y; }));
  EXPECT_EQ(std::tuple(points.x, points.y, points.values),
            std::tuple(V{10, 10, 20, 20, 30, 30}, V{0, 5, 0, 5, 0, 5}, V{10, 15, 20, 25, 30, 35}));
  // A grid without nodes gives no points whatever its counts.
  const GridPoints none = gridToPoints(Grid(2000000000, 0));
  EXPECT_TRUE(none.values.empty() && none.x.empty());
}

// ---- integrals along the axes ----

// The integral of the surface from the left edge to x along the row of y, or from the bottom edge
// to y along the column of x, with the point clamped into the rectangle.
double referenceAlong(bool alongX, const Grid& g, double x, double y) {
  x = std::clamp(x, g.left, g.right);
  y = std::clamp(y, g.bottom, g.top);
  if (alongX)
    return latticeIntegral([&](double s) { return g.value(s, y); }, g.left, x, g.left, g.stepX());
  return latticeIntegral([&](double t) { return g.value(x, t); }, g.bottom, y, g.bottom, g.stepY());
}

// Random points, the lattice nodes, points on the far edges and points outside.
void testPoints(const Grid& g, std::vector<double>& xs, std::vector<double>& ys) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> ux(g.left, g.right), uy(g.bottom, g.top);
  for (int k = 0; k < 300; ++k) xs.push_back(ux(rng)), ys.push_back(uy(rng));
  for (int i = 0; i < g.nx(); i += 2) {
    for (int j = 0; j < g.ny(); j += 3) xs.push_back(g.nodeX(i)), ys.push_back(g.nodeY(j));
  }
  xs.insert(xs.end(), {g.right, g.right, g.left, g.left - 1.0, g.right + 3.0});
  ys.insert(ys.end(), {g.top, g.bottom, g.top, 0.5 * (g.bottom + g.top), g.top + 2.0});
}

void expectExact(const Grid& g) {
  std::vector<double> xs, ys;
  testPoints(g, xs, ys);
  std::vector<double> f(xs.size()), gy(xs.size());
  const AxisIntegrals integrals(g);
  ASSERT_TRUE(integrals.usable());
  ASSERT_TRUE(integrals.evaluate(xs, ys, f, gy));
  double scale = 0.0;
  for (const double v : g.nodes()) scale = std::max(scale, std::fabs(v));
  scale *= std::max(g.right - g.left, g.top - g.bottom);
  for (std::size_t k = 0; k < xs.size(); ++k) {
    SCOPED_TRACE(std::to_string(xs[k]) + " " + std::to_string(ys[k]));
    EXPECT_NEAR(f[k], referenceAlong(true, g, xs[k], ys[k]), 1e-12 * scale);
    EXPECT_NEAR(gy[k], referenceAlong(false, g, xs[k], ys[k]), 1e-12 * scale);
  }
  // One point alone gets the value it gets among many.
  double f1 = 0.0, g1 = 0.0;
  ASSERT_TRUE(integrals.evaluate(std::span(xs).subspan(7, 1), std::span(ys).subspan(7, 1),
                                 std::span(&f1, 1), std::span(&g1, 1)));
  EXPECT_DOUBLE_EQ(f1, f[7]);
  EXPECT_DOUBLE_EQ(g1, gy[7]);
}

TEST(AxisIntegrals, ExactForTheSplineAndTheBilinearSurface) {
  Grid spline = makeGrid(23, 17, -3.0, 8.0, 1.0, 5.8, wavy);
  expectExact(spline);
  Grid bilinear = spline;
  bilinear.setMode(Interpolation::Bilinear);
  expectExact(bilinear);
  // Two nodes per axis (one cell), and long thin lattices.
  expectExact(makeGrid(2, 2, 0, 1, 0, 1, [](double x, double y) { return 1 + x - 2 * y; }));
  expectExact(makeGrid(3, 40, 0, 0.2, -10, 30, wavy));
  expectExact(makeGrid(60, 2, -10, 30, 0, 0.2, wavy));
}

TEST(AxisIntegrals, ZeroWhereTheSurfaceIsZeroEverywhereAndStopWhenCancelled) {
  const Grid line = makeGrid(1, 5, 0, 0, 0, 4, [](double, double) { return 3.0; });
  const Grid inverted = makeGrid(3, 3, 2, 0, 0, 2, [](double, double) { return 3.0; });
  for (const Grid* g : {&line, &inverted}) {
    const AxisIntegrals integrals(*g);
    EXPECT_FALSE(integrals.usable());
    std::vector<double> x = {1.0}, f = {5.0}, gy = {5.0};
    EXPECT_TRUE(integrals.evaluate(x, x, f, gy));
    EXPECT_EQ(std::pair(f[0], gy[0]), std::pair(0.0, 0.0));
  }
  // A cancel stops the sweeps.
  const Grid g = makeGrid(30, 30, 0, 1, 0, 1, wavy);
  vellumar::testing::RecordingObserver observer(1);  // cancels at the first step
  ErrorSink sink(&observer);
  sink.progressStart("integrating", AxisIntegrals(g).sweepRows());
  std::vector<double> x = {0.5}, f(1), gy(1);
  EXPECT_FALSE(AxisIntegrals(g).evaluate(x, x, f, gy, {}, &sink));
  EXPECT_EQ(sink.code(), sink_code::kCancelled);
}

TEST(AxisIntegrals, FromAnOriginTheyLackAFunctionOfTheOtherAxisAlone) {
  // F taken from the origin's column differs from F taken from the left edge by the integral
  // from the edge to that column, which depends on y alone: the same for every point of a row.
  // Likewise G, by a function of x alone.
  for (const bool bilinear : {false, true}) {
    Grid g = makeGrid(31, 27, 0, 3, 0, 2, wavy);
    if (bilinear) g.setMode(Interpolation::Bilinear);
    const AxisIntegrals integrals(g);
    const AxisIntegrals::Origin origin = integrals.originBelow(1.23, 0.81);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> ux(1.23, 3.0), uy(0.81, 2.0);
    for (int round = 0; round < 20; ++round) {
      const double y = uy(rng);
      const double x = ux(rng);
      // Two points of one row, and two of one column.
      const std::vector<double> xs = {ux(rng), ux(rng), x, x};
      const std::vector<double> ys = {y, y, uy(rng), uy(rng)};
      std::vector<double> edgeF(4), edgeG(4), localF(4), localG(4);
      ASSERT_TRUE(integrals.evaluate(xs, ys, edgeF, edgeG));
      ASSERT_TRUE(integrals.evaluate(xs, ys, localF, localG, origin));
      EXPECT_NEAR(edgeF[0] - localF[0], edgeF[1] - localF[1], 1e-12) << bilinear;
      EXPECT_NEAR(edgeG[2] - localG[2], edgeG[3] - localG[3], 1e-12) << bilinear;
      // The origin lies inside the map: the lacking parts are not all zero.
      EXPECT_GT(std::fabs(edgeF[0] - localF[0]), 1e-3);
    }
  }
}

}  // namespace
}  // namespace vellumar::grid
