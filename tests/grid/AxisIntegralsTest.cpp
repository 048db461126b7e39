#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "../common/TestSupport.h"
#include "GridTestSupport.h"
#include "grid/AxisIntegrals.h"

namespace vellumar::grid {
namespace {

using testing::latticeIntegral;
using testing::makeGrid;
using testing::wavy;

double referenceAlongX(const Grid& g, double x, double y) {
  x = std::clamp(x, g.left, g.right);
  y = std::clamp(y, g.bottom, g.top);
  return latticeIntegral([&](double s) { return g.value(s, y); }, g.left, x, g.left, g.stepX());
}

double referenceAlongY(const Grid& g, double x, double y) {
  x = std::clamp(x, g.left, g.right);
  y = std::clamp(y, g.bottom, g.top);
  return latticeIntegral([&](double t) { return g.value(x, t); }, g.bottom, y, g.bottom, g.stepY());
}

// Random points, the lattice nodes, points on the far edges and points outside.
void testPoints(const Grid& g, std::vector<double>& xs, std::vector<double>& ys) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> ux(g.left, g.right), uy(g.bottom, g.top);
  for (int k = 0; k < 300; ++k) {
    xs.push_back(ux(rng));
    ys.push_back(uy(rng));
  }
  for (int i = 0; i < g.nx(); i += 2) {
    for (int j = 0; j < g.ny(); j += 3) {
      xs.push_back(g.nodeX(i));
      ys.push_back(g.nodeY(j));
    }
  }
  for (const auto& [x, y] : {std::pair{g.right, g.top},
                             {g.right, g.bottom},
                             {g.left, g.top},
                             {g.left - 1.0, 0.5 * (g.bottom + g.top)},
                             {g.right + 3.0, g.top + 2.0}}) {
    xs.push_back(x);
    ys.push_back(y);
  }
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
    EXPECT_NEAR(f[k], referenceAlongX(g, xs[k], ys[k]), 1e-12 * scale) << xs[k] << ' ' << ys[k];
    EXPECT_NEAR(gy[k], referenceAlongY(g, xs[k], ys[k]), 1e-12 * scale) << xs[k] << ' ' << ys[k];
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

TEST(AxisIntegrals, ZeroWhereTheSurfaceIsZeroEverywhere) {
  const Grid line = makeGrid(1, 5, 0, 0, 0, 4, [](double, double) { return 3.0; });
  const Grid inverted = makeGrid(3, 3, 2, 0, 0, 2, [](double, double) { return 3.0; });
  for (const Grid* g : {&line, &inverted}) {
    const AxisIntegrals integrals(*g);
    EXPECT_FALSE(integrals.usable());
    std::vector<double> x = {1.0}, f = {5.0}, gy = {5.0};
    EXPECT_TRUE(integrals.evaluate(x, x, f, gy));
    EXPECT_EQ(f[0], 0.0);
    EXPECT_EQ(gy[0], 0.0);
  }
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

TEST(AxisIntegrals, StopsWhenCancelled) {
  const Grid g = makeGrid(30, 30, 0, 1, 0, 1, wavy);
  vellumar::testing::RecordingObserver observer(1);  // cancels at the first step
  ErrorSink sink(&observer);
  sink.progressStart("integrating", AxisIntegrals(g).sweepRows());
  std::vector<double> x = {0.5}, f(1), gy(1);
  EXPECT_FALSE(AxisIntegrals(g).evaluate(x, x, f, gy, {}, &sink));
  EXPECT_EQ(sink.code(), sink_code::kCancelled);
}

}  // namespace
}  // namespace vellumar::grid
