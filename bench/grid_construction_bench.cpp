// Speed of the grid functions users wait for on large maps: derivative and morphometric maps of a
// 4000 x 4000 grid (the spline solve included), densifying, sampling at a million points and
// merging two large grids.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "common/ErrorSink.h"
#include "grid/Derivatives.h"
#include "grid/GridConstruction.h"
#include "grid/Sampling.h"

namespace {

using vellumar::grid::Grid;

Grid makeGrid(int n, double left, double bottom, double size) {
  return vellumar::bench::wavyGrid(n, left, bottom, size);
}

// Derivative code 1 ... 22 (Dx ... Dyy, then Spec 1 ... 17) of a 4000 x 4000 grid whose spline
// coefficients are not computed yet.
void BM_DerivativeGrid4000(benchmark::State& state) {
  static const Grid source = makeGrid(4000, 0.0, 0.0, 40000.0);
  const int code = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    Grid grid = source;
    grid.dropCoefficients();
    state.ResumeTiming();
    benchmark::DoNotOptimize(vellumar::grid::derivativeGrid(grid, code));
  }
}
BENCHMARK(BM_DerivativeGrid4000)
    ->DenseRange(1, vellumar::grid::kLastDerivativeCode)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

void BM_Dense2000Twice(benchmark::State& state) {
  const Grid source = makeGrid(2000, 0.0, 0.0, 20000.0);
  for (auto _ : state) {
    state.PauseTiming();
    Grid grid = source;
    grid.dropCoefficients();
    state.ResumeTiming();
    benchmark::DoNotOptimize(vellumar::grid::dense(grid, 2.0));
  }
}
BENCHMARK(BM_Dense2000Twice)->Unit(benchmark::kMillisecond);

// The surface value (range 0) or dz/dx (range 1) at a million points scattered over a 2000 x 2000
// grid, some of them outside it.
void BM_SampleMillionPoints(benchmark::State& state) {
  const Grid grid = makeGrid(2000, 0.0, 0.0, 20000.0);
  grid.splineCoefficients();
  std::mt19937 generator(7);
  std::uniform_real_distribution<double> coordinate(-500.0, 20500.0);
  std::vector<double> xs(1000000);
  std::vector<double> ys(1000000);
  for (std::size_t k = 0; k < xs.size(); ++k)
    xs[k] = coordinate(generator), ys[k] = coordinate(generator);
  const auto quantity = static_cast<vellumar::grid::SampledQuantity>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellumar::grid::sampleAtPoints(grid, quantity, xs, ys, -9999.0));
  }
}
BENCHMARK(BM_SampleMillionPoints)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Two 2000 x 2000 grids overlapping by half in X and a quarter in Y, on different steps.
void BM_MergeDifferentRectangles2000(benchmark::State& state) {
  const Grid first = makeGrid(2000, 0.0, 0.0, 19990.0);
  const Grid second = makeGrid(2000, 10000.0, 5000.0, 20990.0);
  for (auto _ : state) {
    state.PauseTiming();
    Grid a = first;
    Grid b = second;
    a.dropCoefficients();
    b.dropCoefficients();
    state.ResumeTiming();
    vellumar::ErrorSink sink;
    benchmark::DoNotOptimize(vellumar::grid::merge(a, b, 0.0, sink));
  }
}
BENCHMARK(BM_MergeDifferentRectangles2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
