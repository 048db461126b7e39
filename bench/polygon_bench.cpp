// Polygon masks, reductions and the integral over a polygon, evaluated through the calculator as
// a user's statement is: a 4000 x 4000 map, a polygon of 10,000 vertices with holes, and a table
// of 1,000,000 points. Targets: In_P, MIN and MAX of the map at most 0.2 s each, Integral at most
// 0.3 s, Sum, Len and In_P of the table at most 0.3 s each.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "geometry/PolygonCheck.h"
#include "grid/Grid.h"

namespace {

using namespace vellumar;
using engine::Operand;
using engine::S_Calculator;

constexpr int kNodes = 4000;
constexpr double kSide = 4000.0;

// A closed wavy ring of n vertices around (cx, cy).
geometry::Line wavyRing(int n, double cx, double cy, double radius, std::mt19937& rng) {
  std::uniform_real_distribution<double> noise(-0.002, 0.002);
  std::vector<geometry::Point> p;
  for (int i = 0; i < n; ++i) {
    const double a = -2.0 * M_PI * i / n;
    const double r = radius * (1.0 + 0.03 * std::sin(17 * a) + noise(rng));
    p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  p.push_back(p.front());
  return geometry::Line(std::move(p));
}

// 6,000 vertices of outer boundary and 20 holes of 200 vertices each.
geometry::Cover polygon() {
  std::mt19937 rng(3);
  geometry::Cover cover;
  cover.appendLine(wavyRing(6000, 2000, 2000, 1800, rng));
  for (int k = 0; k < 20; ++k) {
    const double a = 2.0 * M_PI * k / 20;
    const double r = k % 2 == 0 ? 700.0 : 1200.0;
    cover.appendLine(wavyRing(200, 2000 + r * std::cos(a), 2000 + r * std::sin(a), 90, rng));
  }
  return cover;
}

class Fixture {
 public:
  Fixture() {
    grid::Grid map(kNodes, kNodes);
    map.right = kSide;
    map.top = kSide;
    map.rectangleFlag = 1;
    std::span<double> nodes = map.mutableNodes();
    for (int j = 0; j < kNodes; ++j) {
      for (int i = 0; i < kNodes; ++i) {
        nodes[static_cast<std::size_t>(j) * kNodes + i] =
            100.0 + 30.0 * std::sin(0.003 * i) * std::cos(0.002 * j) + 0.01 * i;
      }
    }
    map.splineCoefficients();  // as a loaded map has them
    put("G1", Operand::grid(std::make_shared<const grid::Grid>(std::move(map))));
    put("P1", engine::packCover(polygon(), engine::Kind::Polygon));
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> coordinate(0.0, kSide);
    std::vector<double> values(1'000'000), xs(values.size()), ys(values.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
      xs[k] = coordinate(rng);
      ys[k] = coordinate(rng);
      values[k] = static_cast<double>(k % 1000);
    }
    put("D1", Operand::data(std::make_shared<const data::DATA>(std::move(values), std::move(xs),
                                                               std::move(ys))));
  }

  bool evaluate(const std::string& text) {
    ErrorSink sink;
    calc_.attachErrorSink(&sink);
    std::string display = text;
    const bool ok = calc_.run(display);
    calc_.attachErrorSink(nullptr);
    return ok;
  }

 private:
  void put(const std::string& name, Operand value) {
    calc_.registry().findOrCreate(name).value = std::move(value);
  }
  S_Calculator calc_;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void run(benchmark::State& state, const char* statement) {
  Fixture& f = fixture();
  for (auto _ : state) {
    if (!f.evaluate(statement)) state.SkipWithError("evaluation failed");
  }
}

// The part every function pays: the polygon's rings read and checked (Area does nothing more).
void BM_PolygonCheck(benchmark::State& state) {
  run(state, "Area(P1)");
}
void BM_MaskGrid(benchmark::State& state) {
  run(state, "In_P(G1, P1)");
}
void BM_MinimumOfGrid(benchmark::State& state) {
  run(state, "MIN(G1, P1)");
}
void BM_MaximumOfGrid(benchmark::State& state) {
  run(state, "MAX(G1, P1)");
}
void BM_Integral(benchmark::State& state) {
  run(state, "Integral(G1, P1)");
}
void BM_SumOfPoints(benchmark::State& state) {
  run(state, "Sum(D1, P1)");
}
void BM_CountOfPoints(benchmark::State& state) {
  run(state, "Len(D1, P1)");
}
void BM_MaskPoints(benchmark::State& state) {
  run(state, "In_P(D1, P1)");
}

BENCHMARK(BM_PolygonCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinimumOfGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaximumOfGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Integral)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SumOfPoints)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountOfPoints)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskPoints)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
