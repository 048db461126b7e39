// Speed of the polygon check, the line-file reader and writer, and the batch point-in-polygon
// rules on generated data.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

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

void BM_PolygonCheckOneLargeRing(benchmark::State& state) {
  std::mt19937 rng(1);
  Cover cover;
  cover.appendLine(wavyRing(100000, 0, 0, 10000, false, rng));
  for (auto _ : state) {
    Region region;
    if (!buildRegion(cover, region)) state.SkipWithError("rejected");
    benchmark::DoNotOptimize(region);
  }
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
  for (auto _ : state) {
    Region region;
    if (!buildRegion(cover, region)) state.SkipWithError("rejected");
    benchmark::DoNotOptimize(region);
  }
}
BENCHMARK(BM_PolygonCheckThousandRings)->Unit(benchmark::kMillisecond)->MinTime(0.5);

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
    if (readLineFile(path, cover) != LineFileStatus::Ok || cover.pointCount() != 1000000) {
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
    buildRegion(cover, region);
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
  buildRegion(rings, region);
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

}  // namespace

BENCHMARK_MAIN();
