// Speed of the grid kernels on a 4000 x 4000 grid with 30 % blank nodes in irregular patches, each
// beside the same kernel on the same grid without blanks (blanks:0): grid addition, the spline
// solve and the slope map Spec(G, 1), spline solve included. Blanks may cost at most half as much
// again. blanks:1 has patches up to a few hundred nodes across (lakes, bays, a ragged border: some
// 5 runs of valid nodes per row and column); blanks:2 breaks them four times finer (some 20 runs
// per row and column, patches tens of nodes across), where the cost of the runs' ends shows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "common/ErrorSink.h"
#include "grid/Derivatives.h"
#include "grid/GridArithmetic.h"
#include "grid/Surface.h"

namespace {

using vellumar::grid::Grid;

constexpr int kSize = 4000;

Grid makeGrid(double phase) {
  Grid rectangle;
  rectangle.right = 40000.0;
  rectangle.top = 40000.0;
  rectangle.rectangleFlag = 1;
  vellumar::grid::NodeVector values(static_cast<std::size_t>(kSize) * kSize);
  for (int j = 0; j < kSize; ++j) {
    for (int i = 0; i < kSize; ++i) {
      values[static_cast<std::size_t>(j) * kSize + i] =
          1000.0 * std::sin(0.013 * i + phase) * std::cos(0.017 * j) + 0.37 * i - 0.11 * j;
    }
  }
  return Grid(kSize, kSize, rectangle, std::move(values));
}

// The grid with 30 % of its nodes blank: where a smooth random field (a sum of waves whose
// frequencies are drawn up to highest) is lowest, which gives irregular patches of every shape.
Grid withBlankPatches(Grid grid, unsigned seed, double highest) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> frequency(highest / 10.0, highest);
  std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
  struct Wave {
    double fx, fy, phase;
  };
  std::vector<Wave> waves(12);
  for (Wave& w : waves) {
    const double f = frequency(random);
    const double a = angle(random);
    w = {f * std::cos(a), f * std::sin(a), angle(random)};
  }
  std::vector<double> field(grid.nodeCount());
  for (int j = 0; j < kSize; ++j) {
    for (int i = 0; i < kSize; ++i) {
      double v = 0.0;
      for (const Wave& w : waves) v += std::sin(w.fx * i + w.fy * j + w.phase);
      field[static_cast<std::size_t>(j) * kSize + i] = v;
    }
  }
  std::vector<double> sorted = field;
  const auto cut = sorted.begin() + static_cast<std::ptrdiff_t>(0.3 * sorted.size());
  std::nth_element(sorted.begin(), cut, sorted.end());
  const double threshold = *cut;
  auto nodes = grid.mutableNodes();
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    if (field[k] < threshold) nodes[k] = vellumar::grid::kBlankValue;
  }
  return grid;
}

constexpr double kPatches = 0.015;
constexpr double kFragments = 0.06;

// Operand 0 or 1 of the benchmarks, without blanks (blanks 0), in patches (1) or in fragments (2);
// each made once.
const Grid& operand(int which, std::int64_t blanks) {
  static const Grid full[2] = {makeGrid(0.0), makeGrid(1.0)};
  if (blanks == 0) return full[which];
  static const Grid patches[2] = {withBlankPatches(full[0], 1, kPatches),
                                  withBlankPatches(full[1], 2, kPatches)};
  static const Grid fragments[2] = {withBlankPatches(full[0], 1, kFragments),
                                    withBlankPatches(full[1], 2, kFragments)};
  return blanks == 1 ? patches[which] : fragments[which];
}

void BM_Add4000(benchmark::State& state) {
  const Grid& a = operand(0, state.range(0));
  const Grid& b = operand(1, state.range(0));
  vellumar::ErrorSink sink;
  for (auto _ : state) benchmark::DoNotOptimize(combine(a, b, vellumar::BinaryOp::Add, sink));
}
BENCHMARK(BM_Add4000)->ArgName("blanks")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_SplineSolve4000(benchmark::State& state) {
  const Grid& grid = operand(0, state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        vellumar::grid::computeSplineCoefficients(grid.nodes(), grid.nx(), grid.ny()));
  }
}
BENCHMARK(BM_SplineSolve4000)->ArgName("blanks")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Spec(G, 1) of a grid whose spline is not solved yet.
void BM_Slope4000(benchmark::State& state) {
  const Grid& source = operand(0, state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    Grid grid = source;
    grid.dropCoefficients();
    state.ResumeTiming();
    benchmark::DoNotOptimize(
        vellumar::grid::derivativeGrid(grid, vellumar::grid::kFirstSpecialCode));
  }
}
BENCHMARK(BM_Slope4000)->ArgName("blanks")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
