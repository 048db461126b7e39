#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "GridTestSupport.h"
#include "grid/Grid.h"
#include "grid/Surface.h"

namespace vellumar::grid {
namespace {

using testing::makeGrid;
using testing::wavy;

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
TEST(GridSurface, MatchesTheNaturalCubicSplineAlongEachAxis) {
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
}

TEST(GridSurface, SmallDegenerateGridsAndOutsidePoints) {
  const Grid square =
      makeGrid(2, 2, 0.0, 2.0, 0.0, 4.0, [](double x, double y) { return x * y + x; });
  // Nodes 0, 2 (bottom) and 0, 10 (top): a 2 x 2 spline is the bilinear interpolant.
  for (double x : {0.0, 0.3, 1.0, 1.7, 2.0}) {
    for (double y : {0.0, 1.1, 2.5, 4.0}) {
      EXPECT_NEAR(square.value(x, y), 2 * (x / 2) + 8 * (x / 2) * (y / 4), 1e-12);
    }
  }
  const Grid column = makeGrid(1, 5, 3.0, 3.0, 0.0, 4.0, [](double, double y) { return y + 1; });
  EXPECT_EQ(column.value(3.0, 2.0), 0.0);
  const Grid row = makeGrid(5, 1, 0.0, 4.0, 0.0, 1.0, [](double x, double) { return x + 1; });
  EXPECT_EQ(row.value(2.0, 0.0), 0.0);
  EXPECT_EQ(Grid().value(0.0, 0.0), 0.0);
  // A rounding past an edge is outside, and so is NaN.
  const Grid grid = makeGrid(5, 4, 1.0, 9.0, -2.0, 4.0, wavy);
  for (const auto& [x, y] : {std::pair{9.0 + 1e-12, 0.0},
                             {1.0 - 1e-12, 0.0},
                             {3.0, 4.0 + 1e-12},
                             {3.0, -2.5},
                             {NAN, 0.0}}) {
    EXPECT_EQ(grid.value(x, y), 0.0) << x << "," << y;
  }
}

TEST(GridSurface, BilinearModeAndNodeChanges) {
  Grid grid = makeGrid(3, 3, 0.0, 2.0, 0.0, 2.0, [](double x, double y) { return x * x + 3 * y; });
  const double splineMid = grid.value(0.5, 0.5);
  grid.setMode(Interpolation::Bilinear);
  EXPECT_DOUBLE_EQ(grid.value(0.5, 0.5), (0.0 + 1.0 + 3.0 + 4.0) / 4);
  EXPECT_NE(grid.value(0.5, 0.5), splineMid);
  EXPECT_DOUBLE_EQ(grid.value(2.0, 2.0), 10.0);

  // A change through the node array is seen by the spline surface (a change through setNode, and
  // copies, are checked with the threads below).
  grid.setMode(Interpolation::Spline);
  EXPECT_NEAR(grid.value(1.0, 1.0), 4.0, 1e-9);
  grid.mutableNodes()[0] = -7.0;
  EXPECT_NEAR(grid.value(0.0, 0.0), -7.0, 1e-9);
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
        const int row = j % grid.ny();
        for (int i = 0; i < grid.nx(); ++i) {
          if (std::abs(grid.value(grid.nodeX(i), grid.nodeY(row)) - grid.node(i, row)) > 1e-9) {
            ++misses[t];
          }
        }
      }
      solved[t] = grid.splineCoefficients();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(misses[t], 0) << t;
    EXPECT_EQ(solved[t], solved[0]) << t;
  }
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
  // So does a moved-to grid, and the moved-from one can be filled again.
  Grid moved = std::move(changed);
  EXPECT_NEAR(moved.value(moved.nodeX(30), moved.nodeY(20)), 1000.0, 1e-6);
  changed = makeGrid(3, 3, 0.0, 2.0, 0.0, 2.0, [](double x, double y) { return x + y; });
  EXPECT_NEAR(changed.value(1.5, 0.5), 2.0, 1e-9);
}

TEST(GridSurface, SamplerMatchesPointEvaluationExactly) {
  Grid grid = makeGrid(13, 9, -1.0, 5.0, 2.0, 6.0, wavy);
  const std::vector<double> xs = {-1.5, -1.0, -0.2, 0.0, 1.33, 2.5, 4.99, 5.0, 5.1, 3.0};
  for (Interpolation mode : {Interpolation::Spline, Interpolation::Bilinear}) {
    grid.setMode(mode);
    SurfaceSampler sampler(grid, xs);
    std::vector<double> row(xs.size());
    for (double y : {1.0, 2.0, 2.7, 5.5, 6.0, 6.5}) {
      sampler.sampleRow(y, row.data());
      for (std::size_t k = 0; k < xs.size(); ++k) EXPECT_EQ(row[k], grid.value(xs[k], y));
    }
  }
}

TEST(GridSurface, ZRangeAndResample) {
  Grid grid = makeGrid(5, 5, 0.0, 4.0, 0.0, 4.0, [](double x, double y) { return x - 2 * y; });
  grid.zmin = grid.zmax = 123.0;
  grid.recomputeZRange();
  EXPECT_NEAR(grid.zmin, -8.0, 1e-9);
  EXPECT_NEAR(grid.zmax, 4.0, 1e-9);
  Grid empty;
  empty.recomputeZRange();
  EXPECT_EQ(testing::zRangeOf(empty), std::pair(kZRangeStart, -kZRangeStart));

  ASSERT_TRUE(grid.resample(9, 3));
  EXPECT_EQ(testing::countsOf(grid), std::pair(9, 3));
  EXPECT_NEAR(grid.node(1, 1), 0.5 - 4.0, 1e-9);
  EXPECT_NEAR(grid.node(8, 2), 4.0 - 8.0, 1e-9);
  EXPECT_EQ(grid.zmin, *std::min_element(grid.nodes().begin(), grid.nodes().end()));
  EXPECT_EQ(grid.zmax, *std::max_element(grid.nodes().begin(), grid.nodes().end()));
  EXPECT_FALSE(grid.resample(0, 3));
}

}  // namespace
}  // namespace vellumar::grid
