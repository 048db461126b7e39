// Speed of the polygon check, the line-file reader and writer, the batch point-in-polygon rules,
// clipping, and the polygon operators against GEOS called directly on the same input (the only
// place outside geometry/ that sees GEOS: it is the baseline being measured against).
#include <benchmark/benchmark.h>
#include <geos_c.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "geometry/LineFile.h"
#include "geometry/PointInPolygon.h"
#include "geometry/PolygonCheck.h"
#include "geometry/Splitting.h"

using namespace vellumar::geometry;

namespace {

// A closed wavy ring of n vertices around (cx, cy), clockwise when clockwise is set.
Line wavyRing(int n, double cx, double cy, double radius, bool clockwise, std::mt19937& rng) {
  std::uniform_real_distribution<double> noise(-0.002, 0.002);
  std::vector<Point> p;
  p.reserve(n + 1);
  for (int i = 0; i < n; ++i) {
    const double a = (clockwise ? -2.0 : 2.0) * M_PI * i / n;
    const double r = radius * (1.0 + 0.03 * std::sin(17 * a) + noise(rng));
    p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  p.push_back(p.front());
  return Line(std::move(p));
}

// The polygon check of a cover handed over to it, as the evaluator hands over the cover it unpacked
// from an operand: the copy for each iteration is made outside the timing.
void checkHandedOver(benchmark::State& state, const Cover& cover) {
  for (auto _ : state) {
    state.PauseTiming();
    Cover input = cover;
    state.ResumeTiming();
    Region region;
    if (!buildRegion(std::move(input), region)) state.SkipWithError("rejected");
    benchmark::DoNotOptimize(region);
  }
}

void BM_PolygonCheckOneLargeRing(benchmark::State& state) {
  std::mt19937 rng(1);
  Cover cover;
  cover.appendLine(wavyRing(100000, 0, 0, 10000, false, rng));
  checkHandedOver(state, cover);
}
BENCHMARK(BM_PolygonCheckOneLargeRing)->Unit(benchmark::kMillisecond)->MinTime(0.5);

void BM_PolygonCheckThousandRings(benchmark::State& state) {
  std::mt19937 rng(2);
  Cover cover;
  // 500 outer rings, each with a hole, on a 25 x 20 lattice.
  for (int i = 0; i < 500; ++i) {
    const double cx = (i % 25) * 100.0, cy = (i / 25) * 100.0;
    cover.appendLine(wavyRing(100, cx, cy, 40, i % 2, rng));
    cover.appendLine(wavyRing(100, cx, cy, 20, i % 3, rng));
  }
  checkHandedOver(state, cover);
}
BENCHMARK(BM_PolygonCheckThousandRings)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// Many small rings, as a parcel map has: state.range(0) rings of 12 vertices on a square lattice,
// every other cell an outer ring with a hole in it, the others single rings. The nesting step asks
// which rings contain a point of each ring, so its cost per ring must not grow with their number.
void BM_PolygonCheckManySmallRings(benchmark::State& state) {
  std::mt19937 rng(5);
  const auto rings = static_cast<int>(state.range(0));
  const int side = static_cast<int>(std::ceil(std::sqrt(rings * 2.0 / 3.0)));
  Cover cover;
  for (int cell = 0; cover.size() < static_cast<std::size_t>(rings); ++cell) {
    const double cx = (cell % side) * 10.0, cy = (cell / side) * 10.0;
    cover.appendLine(wavyRing(12, cx, cy, 4, cell % 2, rng));
    if (cell % 2 == 0 && cover.size() < static_cast<std::size_t>(rings)) {
      cover.appendLine(wavyRing(12, cx, cy, 2, cell % 4 == 0, rng));
    }
  }
  checkHandedOver(state, cover);
  state.counters["rings"] = static_cast<double>(cover.size());
}
BENCHMARK(BM_PolygonCheckManySmallRings)->Arg(80000)->Arg(320000)->Unit(benchmark::kMillisecond);

Cover millionPoints() {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> coord(100000.0, 900000.0);
  Cover cover;
  for (int l = 0; l < 1000; ++l) {
    std::vector<Point> p(1000);
    for (Point& q : p) q = {coord(rng), coord(rng)};
    Line line(std::move(p));
    line.id = l;
    line.value = l * 0.5;
    cover.appendLine(std::move(line));
  }
  return cover;
}

std::string benchPath() {
  return "/tmp/vellumar-geometry-bench-" + std::to_string(getpid()) + ".con";
}

void BM_WriteLineFileMillionPoints(benchmark::State& state) {
  const Cover cover = millionPoints();
  const std::string path = benchPath();
  for (auto _ : state) {
    if (!writeLineFile(path, cover)) state.SkipWithError("write failed");
  }
  std::remove(path.c_str());
  std::remove(valueFileName(path).c_str());
}
BENCHMARK(BM_WriteLineFileMillionPoints)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadLineFileMillionPoints(benchmark::State& state) {
  const std::string path = benchPath();
  if (!writeLineFile(path, millionPoints())) state.SkipWithError("write failed");
  for (auto _ : state) {
    Cover cover;
    if (!readLineFile(path, cover) || cover.pointCount() != 1000000) {
      state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(cover);
  }
  std::remove(path.c_str());
  std::remove(valueFileName(path).c_str());
}
BENCHMARK(BM_ReadLineFileMillionPoints)->Unit(benchmark::kMillisecond)->Iterations(3);

// A 10,000-vertex polygon (outer ring with a hole) and a million points over its rectangle; the
// time includes preparing the index.
struct PointQueries {
  Region region;
  std::vector<double> xs, ys;
  std::vector<std::uint8_t> inside;

  PointQueries() {
    std::mt19937 rng(4);
    Cover cover;
    cover.appendLine(wavyRing(8000, 0, 0, 1000, true, rng));
    cover.appendLine(wavyRing(2000, 0, 0, 400, false, rng));
    if (!buildRegion(cover, region)) std::abort();
    std::uniform_real_distribution<double> coord(-1100, 1100);
    for (int i = 0; i < 1000000; ++i) {
      xs.push_back(coord(rng));
      ys.push_back(coord(rng));
    }
    inside.resize(xs.size());
  }
};

void BM_InnermostRuleMillionPoints(benchmark::State& state) {
  PointQueries q;
  for (auto _ : state) {
    const PreparedPolygon prepared(q.region);
    prepared.insideInnermost(q.xs, q.ys, q.inside);
    benchmark::DoNotOptimize(q.inside.data());
  }
}
BENCHMARK(BM_InnermostRuleMillionPoints)->Unit(benchmark::kMillisecond)->MinTime(0.5);

void BM_EvenOddRuleMillionPoints(benchmark::State& state) {
  PointQueries q;
  for (auto _ : state) {
    const PreparedPolygon prepared(q.region);
    prepared.insideEvenOdd(q.xs, q.ys, true, q.inside);
    benchmark::DoNotOptimize(q.inside.data());
  }
}
BENCHMARK(BM_EvenOddRuleMillionPoints)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// A million line vertices in 1,000 isoline-like wavy lines across a 10,000-vertex polygon (an
// outer ring with a hole), clipped to its inside; the time includes copying the lines.
void BM_ClipMillionLineVertices(benchmark::State& state) {
  std::mt19937 rng(5);
  Cover rings;
  rings.appendLine(wavyRing(8000, 0, 0, 1000, true, rng));
  rings.appendLine(wavyRing(2000, 0, 0, 400, false, rng));
  Region region;
  if (!buildRegion(rings, region)) std::abort();
  Cover lines;
  for (int l = 0; l < 1000; ++l) {
    const double y0 = -1100 + 2.2 * l;
    std::vector<Point> p(1000);
    for (int i = 0; i < 1000; ++i) {
      const double x = -1100 + 2.2 * i;
      p[i] = {x, y0 + 20 * std::sin(x / 50 + l)};
    }
    lines.appendLine(Line(std::move(p)));
  }
  std::size_t pieces = 0;
  for (auto _ : state) {
    Cover clipped = lines;
    clip(region, clipped, true);
    pieces = clipped.size();
    benchmark::DoNotOptimize(clipped);
  }
  state.counters["pieces"] = static_cast<double>(pieces);
}
BENCHMARK(BM_ClipMillionLineVertices)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// ---- Polygon operators against bare GEOS ----

// A star of n vertices around (cx, cy): radius 1000 with uniform random radial noise of the given
// fraction, plus `waves` smooth bulges of 30 % (0 for none).
Line starRing(int n, double cx, double cy, double noise, double waves, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-noise, noise);
  std::vector<Point> p;
  p.reserve(n + 1);
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    const double r = 1000 * (1 + (waves > 0 ? 0.3 * std::sin(waves * a) : 0.0) + u(rng));
    p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  p.push_back(p.front());
  return Line(std::move(p));
}

struct OperandPair {
  Line a, b;
};

// Two 10,000-vertex stars with 6 % radial noise, offset so that they overlap in thousands of
// pieces (about 2,500 result rings).
OperandPair jaggedPair() {
  return {starRing(10000, 0, 0, 0.06, 0, 1), starRing(10000, 150, 80, 0.06, 0, 2)};
}

// Two smooth 100,000-vertex polygons with seven bulges each.
OperandPair smoothPair() {
  return {starRing(100000, 0, 0, 0, 7, 1), starRing(100000, 150, 80, 0, 7, 2)};
}

const char* operatorText(std::int64_t op) {
  return op == 1 ? "P1 + P2" : op == 2 ? "P1 * P2" : "P1 - P2";
}

// The operator as the calculator runs it: unpacking both operands, the polygon check, snapping
// within the km tolerance, the overlay and packing the result.
void runOperator(benchmark::State& state, const OperandPair& pair) {
  using namespace vellumar;
  engine::S_Calculator calc;
  Cover a, b;
  a.appendLine(pair.a);
  b.appendLine(pair.b);
  calc.registry().findOrCreate("P1").value = engine::packCover(a, engine::Kind::Polygon);
  calc.registry().findOrCreate("P2").value = engine::packCover(b, engine::Kind::Polygon);
  std::size_t rings = 0;
  for (auto _ : state) {
    ErrorSink sink;
    calc.attachErrorSink(&sink);
    std::string text = operatorText(state.range(0));
    if (!calc.run(text)) state.SkipWithError(text.c_str());
    rings = calc.result().parts().size();
  }
  state.counters["rings"] = static_cast<double>(rings);
}

GEOSGeometry* geosPolygon(GEOSContextHandle_t handle, const Line& ring) {
  std::vector<double> xy;
  for (const Point& p : ring.points()) {
    xy.push_back(p.x);
    xy.push_back(p.y);
  }
  GEOSCoordSequence* sequence =
      GEOSCoordSeq_copyFromBuffer_r(handle, xy.data(), static_cast<unsigned>(ring.size()), 0, 0);
  return GEOSGeom_createPolygon_r(handle, GEOSGeom_createLinearRing_r(handle, sequence), nullptr,
                                  0);
}

// The same overlay with GEOS alone, on geometries built before the timing starts.
void runBareGeos(benchmark::State& state, const OperandPair& pair) {
  GEOSContextHandle_t handle = GEOS_init_r();
  GEOSGeometry* a = geosPolygon(handle, pair.a);
  GEOSGeometry* b = geosPolygon(handle, pair.b);
  int parts = 0;
  for (auto _ : state) {
    GEOSGeometry* result = state.range(0) == 1   ? GEOSUnion_r(handle, a, b)
                           : state.range(0) == 2 ? GEOSIntersection_r(handle, a, b)
                                                 : GEOSDifference_r(handle, a, b);
    if (result == nullptr) state.SkipWithError("GEOS failed");
    parts = GEOSGetNumGeometries_r(handle, result);
    GEOSGeom_destroy_r(handle, result);
  }
  state.counters["parts"] = parts;
  GEOSGeom_destroy_r(handle, a);
  GEOSGeom_destroy_r(handle, b);
  GEOS_finish_r(handle);
}

void BM_JaggedPairBareGeos(benchmark::State& state) {
  runBareGeos(state, jaggedPair());
}
void BM_JaggedPairOperator(benchmark::State& state) {
  runOperator(state, jaggedPair());
}
void BM_SmoothPairBareGeos(benchmark::State& state) {
  runBareGeos(state, smoothPair());
}
void BM_SmoothPairOperator(benchmark::State& state) {
  runOperator(state, smoothPair());
}
// Argument: 1 union, 2 intersection, 3 difference.
BENCHMARK(BM_JaggedPairBareGeos)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_JaggedPairOperator)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_SmoothPairBareGeos)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_SmoothPairOperator)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->MinTime(1);

}  // namespace

BENCHMARK_MAIN();
