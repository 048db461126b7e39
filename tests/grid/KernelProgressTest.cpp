// Progress and cancel of the long grid kernels: each reports rows done against the total of its
// stage, a cancel stops it at the next row or block with no result, and a run that is not
// cancelled gives exactly the result of a run without progress, on one thread and on several. One
// kernel per loop of its own: the operations that share a loop share its reports.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "../common/TestSupport.h"
#include "GridTestSupport.h"
#include "common/ErrorSink.h"
#include "common/Parallel.h"
#include "grid/Derivatives.h"
#include "grid/GridArithmetic.h"
#include "grid/GridConstruction.h"
#include "grid/Sampling.h"
#include "grid/Surface.h"

namespace vellumar::grid {
namespace {

using testing::makeGrid, testing::wavy;

// Records every report as the shared observer does (cancelling at report number cancelAt, 0:
// never), and checks that each lies within the total of its stage.
class RecordingObserver final : public vellumar::testing::RecordingObserver {
 public:
  using vellumar::testing::RecordingObserver::RecordingObserver;
  bool step(std::int64_t done) override {
    EXPECT_LE(done, lastTotal());
    return vellumar::testing::RecordingObserver::step(done);
  }
  std::int64_t lastTotal() const { return starts.back().second; }
};

// A sink whose progress is open with the observer, as the engine opens it around a kernel.
struct ProgressRun {
  explicit ProgressRun(int cancelAt = 0) : observer(cancelAt), sink(&observer) {
    sink.progressStart("Расчет грида...", 0);
  }
  RecordingObserver observer;
  ErrorSink sink;
};

// 400 x 300 nodes: several reports per stage.
Grid wavyGrid(int nx = 400, int ny = 300) {
  return makeGrid(nx, ny, 0.0, 40.0, 0.0, 30.0, wavy);
}

// One kernel run three ways: without progress, with progress to the end, cancelled at the first
// report. The kernel gets a fresh copy of its operands each time, so no coefficients carry over.
void checkKernel(const std::string& what, const std::function<Grid(ErrorSink*)>& kernel) {
  SCOPED_TRACE(what);
  const Grid plain = kernel(nullptr);
  ASSERT_TRUE(plain.hasNodes());

  ProgressRun full;
  const Grid reported = kernel(&full.sink);
  EXPECT_FALSE(full.sink.failed());
  EXPECT_EQ(std::tuple(testing::countsOf(reported), testing::zRangeOf(reported), reported.mode()),
            std::tuple(testing::countsOf(plain), testing::zRangeOf(plain), plain.mode()));
  EXPECT_TRUE(testing::nodesOf(reported) == testing::nodesOf(plain));
  // The caption stays that of the operation; each stage shows a total.
  ASSERT_FALSE(full.observer.steps.empty() || full.observer.starts.empty());
  for (const auto& [caption, total] : full.observer.starts) EXPECT_EQ(caption, "Расчет грида...");
  EXPECT_GT(full.observer.lastTotal(), 0);

  // On one thread and on several: blocks on other threads may have done the rest by the time the
  // calling thread makes its first report, but the cancel still holds.
  for (const unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(threads);
    parallel::setThreadLimit(threads);
    ProgressRun cancelled(1);
    const Grid stopped = kernel(&cancelled.sink);
    parallel::setThreadLimit(0);
    EXPECT_EQ(cancelled.sink.code(), sink_code::kCancelled);
    EXPECT_FALSE(stopped.hasNodes());
    // It stopped at the first report: nothing asked after it, short of the total on one thread.
    ASSERT_EQ(cancelled.observer.steps.size(), 1u);
    EXPECT_LE(cancelled.observer.steps[0], cancelled.observer.lastTotal() - (threads == 1));
  }
}

// The same for a kernel that reports to a sink it is handed, given a fresh one when run without
// progress.
void checkKernel(const std::string& what, const std::function<Grid(ErrorSink&)>& kernel) {
  checkKernel(what, [&](ErrorSink* p) {
    ErrorSink own;
    return kernel(p != nullptr ? *p : own);
  });
}

TEST(KernelProgress, ResamplingNodeAndDerivativeKernelsReportAndStop) {
  const Grid g = wavyGrid();
  const Grid coarse = makeGrid(301, 201, 0.0, 40.0, 0.0, 30.0, wavy);
  const Grid shifted = makeGrid(400, 300, 5.0, 45.0, 3.0, 33.0, wavy);
  checkKernel("Dense", [&](ErrorSink* p) { return *dense(Grid(g), 1.5, p); });
  checkKernel("G + G", [&](ErrorSink& s) { return combine(g, g, BinaryOp::Add, s); });
  checkKernel("G + resampled G",
              [&](ErrorSink& s) { return combine(Grid(coarse), g, BinaryOp::Subtract, s); });
  checkKernel("G + G on the intersection",
              [&](ErrorSink& s) { return combine(Grid(shifted), Grid(g), BinaryOp::Multiply, s); });
  // G + N scales and shifts (as G * N and -G do), N / G divides, max(G, N) maps (as comparisons).
  for (const BinaryOp op : {BinaryOp::Add, BinaryOp::Divide, BinaryOp::Max}) {
    checkKernel("G op N",
                [&](ErrorSink& s) { return combine(g, 3.0, op, op == BinaryOp::Divide, s); });
  }
  // Abs reads the surface at the nodes (as Lg does before it scales), Not maps.
  for (const UnaryFn fn : {UnaryFn::Abs, UnaryFn::Not}) {
    checkKernel("fn(G)", [&](ErrorSink& s) {
      ErrorSink quiet;  // the shift is not the kernel under test
      return apply(combine(g, 100.0, BinaryOp::Add, false, quiet), fn, 1.0, s);
    });
  }
  checkKernel("Cut", [&](ErrorSink& s) { return cutByNodes(g, 2, 399, 1, 300, s); });
  checkKernel("Merge", [&](ErrorSink& s) { return merge(Grid(g), Grid(shifted), -1.0, s); });
  checkKernel("Merge of equal rectangles",
              [&](ErrorSink& s) { return merge(Grid(g), Grid(coarse), -1.0, s); });

  // Derivative maps: 1100 x 1000 nodes run in two bands. Every code of a mode runs in that mode's
  // one loop.
  const Grid large = makeGrid(1100, 1000, 0.0, 110.0, 0.0, 100.0, wavy);
  Grid bilinear = wavyGrid();
  bilinear.setMode(Interpolation::Bilinear);
  checkKernel("spline derivative", [&](ErrorSink* p) { return derivativeGrid(Grid(large), 9, p); });
  checkKernel("bilinear derivative", [&](ErrorSink* p) { return derivativeGrid(bilinear, 3, p); });
}

TEST(KernelProgress, SplineSolveCancelKeepsNothing) {
  Grid g = wavyGrid();
  Grid withBlanks = g;
  for (int j = 40; j < 90; ++j) {
    for (int i = 100; i < 180; ++i) withBlanks.setNode(i, j, kBlankValue);
  }
  // A blank in the last node only: the strips of the other columns finish their solve before
  // the last strip finds it.
  Grid lastBlank = g;
  lastBlank.setNode(399, 299, kBlankValue);
  for (Grid* grid : {&g, &withBlanks, &lastBlank}) {
    parallel::setThreadLimit(1);
    const NodeVector expected = computeSplineCoefficients(grid->nodes(), grid->nx(), grid->ny());
    parallel::setThreadLimit(2);
    EXPECT_TRUE(computeSplineCoefficients(grid->nodes(), grid->nx(), grid->ny()) == expected);
    parallel::setThreadLimit(0);

    ProgressRun cancelled(2);
    EXPECT_FALSE(grid->prepareSurface(&cancelled.sink) || grid->hasCoefficients());
    EXPECT_EQ(cancelled.observer.steps.size(), 2u);
    EXPECT_LT(cancelled.observer.steps.back(), cancelled.observer.lastTotal());

    ProgressRun full;
    EXPECT_TRUE(grid->prepareSurface(&full.sink));
    ASSERT_TRUE(grid->hasCoefficients());
    // Four passes over the padded rows, reported up to the whole total.
    const std::int64_t slots = std::int64_t{grid->nx() + 2} * (grid->ny() + 2);
    EXPECT_EQ(full.observer.lastTotal(), 4 * slots);
    EXPECT_GT(full.observer.steps.back(), 3 * slots);
    ASSERT_TRUE(*grid->splineCoefficients() == expected);
    // A grid that already has its coefficients does not solve again.
    ProgressRun again(1);
    EXPECT_TRUE(grid->prepareSurface(&again.sink) && again.observer.steps.empty());
  }
  // ... and its surface is the one around the blank: the valid nodes beside it are reproduced,
  // its cell is blank.
  for (const int i : {0, 200, 397, 398}) {
    EXPECT_NEAR(lastBlank.value(lastBlank.nodeX(i), lastBlank.nodeY(298)), lastBlank.node(i, 298),
                1e-9);
  }
  EXPECT_TRUE(isBlank(lastBlank.value(lastBlank.nodeX(398) + 0.05, lastBlank.nodeY(298) + 0.05)));
}

TEST(KernelProgress, SamplingAtPointsReportsAndStops) {
  const Grid g = wavyGrid();
  std::vector<double> xs(200000), ys(xs.size());
  for (std::size_t k = 0; k < xs.size(); ++k)
    xs[k] = 0.0002 * static_cast<double>(k), ys[k] = 30.0 - 0.00015 * static_cast<double>(k);
  for (const SampledQuantity q : {SampledQuantity::Value, SampledQuantity::XY}) {
    const std::vector<double> plain = sampleAtPoints(Grid(g), q, xs, ys, -9999.0);
    ProgressRun full;
    EXPECT_EQ(sampleAtPoints(Grid(g), q, xs, ys, -9999.0, &full.sink), plain);
    EXPECT_FALSE(full.observer.steps.empty());
    // The copies share the spline the plain run solved: the cancel meets the sampling loop.
    ProgressRun cancelled(1);
    EXPECT_TRUE(sampleAtPoints(Grid(g), q, xs, ys, -9999.0, &cancelled.sink).empty());
    EXPECT_EQ(cancelled.observer.lastTotal(), static_cast<std::int64_t>(xs.size()));
  }
  ProgressRun cancelled(1);
  EXPECT_TRUE(gridToPoints(g, -9999.0, &cancelled.sink).values.empty());
  EXPECT_EQ(cancelled.observer.steps.size(), 1u);
}

TEST(KernelProgress, GridWithNumberWritesOverTheNodesHandedIn) {
  // A grid handed over is the result's storage: G * 2 + 1 needs one node array, the copy.
  const Grid g = wavyGrid(50, 40);
  ErrorSink sink;
  Grid scaled = combine(g, 2.0, BinaryOp::Multiply, false, sink);
  const double* storage = scaled.nodes().data();
  EXPECT_NE(storage, g.nodes().data());
  const Grid shifted = combine(std::move(scaled), 1.0, BinaryOp::Add, false, sink);
  EXPECT_EQ(shifted.nodes().data(), storage);
  // Every node written over holds 2G + 1; the operand handed as a copy is unchanged.
  std::vector<double> expected(g.nodes().begin(), g.nodes().end());
  for (double& v : expected) v = v * 2.0 + 1.0;
  EXPECT_EQ(std::vector<double>(shifted.nodes().begin(), shifted.nodes().end()), expected);
  EXPECT_EQ(g.node(7, 9), wavy(g.nodeX(7), g.nodeY(9)));
}

}  // namespace
}  // namespace vellumar::grid
