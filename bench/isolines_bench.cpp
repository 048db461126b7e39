// Speed and memory of isoline tracing: Trace(G1, L0, L1, 5, N4) on a noisy 2000 x 2000 relief with
// 45 levels, through the evaluator (lattice, tracing and packing of the lines result), at N4 = 1
// and at N4 = 4 (a 7997 x 7997 lattice); and the region above one level, Trace(G1, N1, 1, 1),
// beside the isolines of that single level, Trace(G1, N1, N1, 1, 1). Peak resident memory of the
// process is reported as the peak_rss_mb counter (the dense case runs last, so its figure is its
// own peak).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"
#include "grid/Grid.h"
#include "isolines/Trace.h"

namespace {

using vellumar::engine::Operand;
using vellumar::engine::S_Calculator;
using vellumar::grid::Grid;

// Hills and valleys of some 300 m relief over 20 km, with +-4 m of uncorrelated noise per node.
std::shared_ptr<const Grid> noisyRelief() {
  constexpr int n = 2000;
  Grid rectangle;
  rectangle.right = 20000.0;
  rectangle.top = 20000.0;
  rectangle.rectangleFlag = 1;
  vellumar::grid::NodeVector values(static_cast<std::size_t>(n) * n);
  std::mt19937 random(20240611);
  std::uniform_real_distribution<double> noise(-4.0, 4.0);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      values[static_cast<std::size_t>(j) * n + i] =
          120.0 * std::sin(0.004 * i) * std::cos(0.005 * j) + 40.0 * std::sin(0.021 * (i + j)) +
          0.03 * i + noise(random);
    }
  }
  auto grid = std::make_shared<Grid>(n, n, rectangle, std::move(values));
  grid->splineCoefficients();  // as after loading a grid file
  return grid;
}

double peakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void traceRelief(benchmark::State& state, const char* expression, double densification) {
  static const std::shared_ptr<const Grid> relief = noisyRelief();
  S_Calculator calc;
  calc.registry().findOrCreate("G1").value = Operand::grid(relief);
  double points = 0;
  double lines = 0;
  for (auto _ : state) {
    vellumar::ErrorSink sink;
    calc.attachErrorSink(&sink);
    std::string text = expression;
    if (!calc.run(text)) state.SkipWithError(text.c_str());
    points = static_cast<double>(calc.result().points().count());
    lines = static_cast<double>(calc.result().parts().size());
    calc.attachErrorSink(nullptr);
  }
  state.counters["lines"] = lines;
  state.counters["points"] = points;
  state.counters["peak_rss_mb"] = peakResidentMegabytes();
  const Grid& map = *relief;
  state.counters["lattice_nx"] =
      vellumar::isolines::planLattice(map.left, map.right, map.bottom, map.top,
                                      vellumar::isolines::cellSizeParameter(map, densification))
          .nx;
}

void BM_Trace2000Levels45(benchmark::State& state) {
  traceRelief(state, "Trace(G1, -110, 110, 5, 1)", 1);
}
BENCHMARK(BM_Trace2000Levels45)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One level through the middle of the relief, where its isolines are longest.
void BM_Trace2000OneLevel(benchmark::State& state) {
  traceRelief(state, "Trace(G1, 20, 20, 1, 1)", 1);
}
BENCHMARK(BM_Trace2000OneLevel)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_TraceRegion2000(benchmark::State& state) {
  traceRelief(state, "Trace(G1, 20, 1, 1)", 1);
}
BENCHMARK(BM_TraceRegion2000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Trace2000Levels45Dense4(benchmark::State& state) {
  traceRelief(state, "Trace(G1, -110, 110, 5, 4)", 4);
}
BENCHMARK(BM_Trace2000Levels45Dense4)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
