// Speed of the grid kernels users wait for: DSAA files, the spline solve, and grid arithmetic on
// equal and on resampled lattices. Data are made in memory and in a temporary folder.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "common/ErrorSink.h"
#include "grid/Derivatives.h"
#include "grid/DsaaFile.h"
#include "grid/GridArithmetic.h"
#include "grid/GridConstruction.h"
#include "grid/Surface.h"

namespace {

using vellumar::grid::Grid;

Grid makeGrid(int n, double phase) {
  Grid rectangle;
  rectangle.right = 1000.0;
  rectangle.top = 1000.0;
  rectangle.rectangleFlag = 1;
  vellumar::grid::NodeVector values(static_cast<std::size_t>(n) * n);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      values[static_cast<std::size_t>(j) * n + i] =
          1000.0 * std::sin(0.013 * i + phase) * std::cos(0.017 * j) + 0.37 * i - 0.11 * j;
    }
  }
  return Grid(n, n, rectangle, std::move(values));
}

std::string temporaryFile(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("vellumar-grid-bench-" + name)).string();
}

void BM_ReadDsaa2000(benchmark::State& state) {
  const std::string path = temporaryFile("read.grd");
  if (!vellumar::grid::writeDsaa(makeGrid(2000, 0.0), path)) state.SkipWithError("not written");
  for (auto _ : state) {
    Grid grid;
    benchmark::DoNotOptimize(vellumar::grid::readDsaa(path, grid));
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(std::filesystem::file_size(path)));
  std::filesystem::remove(path);
}
BENCHMARK(BM_ReadDsaa2000)->Unit(benchmark::kMillisecond);

void BM_WriteDsaa2000(benchmark::State& state) {
  const Grid grid = makeGrid(2000, 0.0);
  const std::string path = temporaryFile("write.grd");
  for (auto _ : state) benchmark::DoNotOptimize(vellumar::grid::writeDsaa(grid, path));
  std::filesystem::remove(path);
}
BENCHMARK(BM_WriteDsaa2000)->Unit(benchmark::kMillisecond);

void BM_SplineCoefficients4000(benchmark::State& state) {
  const Grid grid = makeGrid(4000, 0.0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        vellumar::grid::computeSplineCoefficients(grid.nodes(), grid.nx(), grid.ny()));
  }
}
BENCHMARK(BM_SplineCoefficients4000)->Unit(benchmark::kMillisecond);

void BM_AddEqualLattices4000(benchmark::State& state) {
  const Grid a = makeGrid(4000, 0.0);
  const Grid b = makeGrid(4000, 1.0);
  vellumar::ErrorSink sink;
  for (auto _ : state) {
    benchmark::DoNotOptimize(combine(a, b, vellumar::BinaryOp::Add, sink));
  }
}
BENCHMARK(BM_AddEqualLattices4000)->Unit(benchmark::kMillisecond);

// The coarser grid is resampled through its spline; its coefficients are computed inside the
// timing, as for a freshly loaded grid.
void BM_AddResampled2000And2999(benchmark::State& state) {
  const Grid a = makeGrid(2000, 0.0);
  const Grid b = makeGrid(2999, 1.0);
  vellumar::ErrorSink sink;
  for (auto _ : state) {
    state.PauseTiming();
    Grid fresh = a;
    fresh.dropCoefficients();
    state.ResumeTiming();
    benchmark::DoNotOptimize(combine(fresh, b, vellumar::BinaryOp::Add, sink));
  }
}
BENCHMARK(BM_AddResampled2000And2999)->Unit(benchmark::kMillisecond);

// G * 2 and Sqrt(G): a node-wise kernel with a number and a function of the nodes.
void BM_ScaleGrid4000(benchmark::State& state) {
  const Grid a = makeGrid(4000, 0.0);
  vellumar::ErrorSink sink;
  for (auto _ : state) {
    benchmark::DoNotOptimize(combine(a, 2.0, vellumar::BinaryOp::Multiply, false, sink));
  }
}
BENCHMARK(BM_ScaleGrid4000)->Unit(benchmark::kMillisecond);

void BM_AbsGrid4000(benchmark::State& state) {
  const Grid a = makeGrid(4000, 0.0);
  vellumar::ErrorSink sink;
  for (auto _ : state) {
    benchmark::DoNotOptimize(apply(a, vellumar::UnaryFn::Abs, 1.0, sink));
  }
}
BENCHMARK(BM_AbsGrid4000)->Unit(benchmark::kMillisecond);

// Dense(G, 2) of a 2000 x 2000 grid whose coefficients are known: the resampling alone.
void BM_Dense2000(benchmark::State& state) {
  const Grid a = makeGrid(2000, 0.0);
  a.splineCoefficients();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellumar::grid::dense(a, 2.0));
  }
}
BENCHMARK(BM_Dense2000)->Unit(benchmark::kMillisecond);

// Dxx of a 4000 x 4000 grid whose coefficients are known.
void BM_DerivativeXX4000(benchmark::State& state) {
  const Grid a = makeGrid(4000, 0.0);
  a.splineCoefficients();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellumar::grid::derivativeGrid(a, 3));
  }
}
BENCHMARK(BM_DerivativeXX4000)->Unit(benchmark::kMillisecond);

// Spec(G, 1) of a 4000 x 4000 grid whose coefficients are known: the first special map.
void BM_Spec1_4000(benchmark::State& state) {
  const Grid a = makeGrid(4000, 0.0);
  a.splineCoefficients();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellumar::grid::derivativeGrid(a, vellumar::grid::kFirstSpecialCode));
  }
}
BENCHMARK(BM_Spec1_4000)->Unit(benchmark::kMillisecond);

// Dense(G, 1.5) of a 4000 x 4000 grid whose coefficients are known: resampling through the
// surface onto a lattice 1.5 times finer (6000 x 6000 nodes).
void BM_Dense1_5Of4000(benchmark::State& state) {
  const Grid a = makeGrid(4000, 0.0);
  a.splineCoefficients();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellumar::grid::dense(a, 1.5));
  }
}
BENCHMARK(BM_Dense1_5Of4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
