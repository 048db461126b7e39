// Statistics of polygon layers as users hold them: coverages of districts that share borders.
// The coverages are Voronoi diagrams of random points (built by GEOS), clipped to a square:
//  - the area of a layer of 470 districts, which takes the union of its records (target: 50 ms);
//  - the mean, minimum and maximum of a 4000 x 4000 map over each of 3000 districts, evaluated
//    record by record as vellumar-calc --each does (target: 2 s end to end with the GeoTIFF
//    read, which formats_bench measures).
#include <benchmark/benchmark.h>
#include <geos_c.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "engine/Calculator.h"
#include "engine/LayerRecords.h"
#include "engine/LinePacking.h"
#include "grid/Grid.h"

namespace {

using vellumar::engine::Operand;
using vellumar::engine::S_Calculator;
namespace geometry = vellumar::geometry;
namespace grid = vellumar::grid;

constexpr double kLeft = 500000.0;
constexpr double kBottom = 5500000.0;
constexpr double kSide = 40000.0;

// The Voronoi cells of n random points in the square, each its own record (id 1, 2, ...).
geometry::Cover voronoiCoverage(int n) {
  GEOSContextHandle_t handle = GEOS_init_r();
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0.0, kSide);
  std::vector<GEOSGeometry*> points;
  for (int k = 0; k < n; ++k) {
    points.push_back(GEOSGeom_createPointFromXY_r(handle, kLeft + u(rng), kBottom + u(rng)));
  }
  GEOSGeometry* sites = GEOSGeom_createCollection_r(handle, GEOS_MULTIPOINT, points.data(),
                                                    static_cast<unsigned int>(points.size()));
  GEOSGeometry* square =
      GEOSGeom_createRectangle_r(handle, kLeft, kBottom, kLeft + kSide, kBottom + kSide);
  GEOSGeometry* cells = GEOSVoronoiDiagram_r(handle, sites, square, 0.0, 0);
  geometry::Cover cover;
  for (int k = 0; k < GEOSGetNumGeometries_r(handle, cells); ++k) {
    GEOSGeometry* clipped =
        GEOSIntersection_r(handle, GEOSGetGeometryN_r(handle, cells, k), square);
    if (clipped != nullptr && GEOSGeomTypeId_r(handle, clipped) == GEOS_POLYGON) {
      const GEOSCoordSequence* ring =
          GEOSGeom_getCoordSeq_r(handle, GEOSGetExteriorRing_r(handle, clipped));
      unsigned int size = 0;
      GEOSCoordSeq_getSize_r(handle, ring, &size);
      std::vector<double> xy(2 * size);
      GEOSCoordSeq_copyToBuffer_r(handle, ring, xy.data(), 0, 0);
      std::vector<geometry::Point> vertices;
      for (unsigned int v = 0; v < size; ++v) vertices.push_back({xy[2 * v], xy[2 * v + 1]});
      geometry::Line line(std::move(vertices));
      line.id = static_cast<std::int32_t>(cover.size() + 1);
      cover.appendLine(std::move(line));
    }
    if (clipped != nullptr) GEOSGeom_destroy_r(handle, clipped);
  }
  GEOSGeom_destroy_r(handle, cells);
  GEOSGeom_destroy_r(handle, square);
  GEOSGeom_destroy_r(handle, sites);
  GEOS_finish_r(handle);
  return cover;
}

// A 4000 x 4000 map of 10 m cells over the square.
std::shared_ptr<const grid::Grid> largeMap() {
  return std::make_shared<const grid::Grid>(vellumar::bench::wavyGrid(4000, kLeft, kBottom, kSide));
}

using vellumar::bench::evaluate;

void BM_AreaOfCoverage470(benchmark::State& state) {
  S_Calculator calc;
  const geometry::Cover districts = voronoiCoverage(470);
  calc.registry().findOrCreate("P1").value.assign(
      vellumar::engine::packCover(districts, vellumar::engine::Kind::Polygon, true));
  for (auto _ : state) {
    if (!evaluate(calc, "Area(P1)") ||
        std::fabs(calc.result().numberValue() - kSide * kSide) > 1e-6 * kSide * kSide) {
      state.SkipWithError("wrong area");
    }
  }
}
BENCHMARK(BM_AreaOfCoverage470)->Unit(benchmark::kMillisecond);

// text evaluated for each of 3000 districts in turn, P1 standing for the district.
void perDistrict(benchmark::State& state, const std::string& text) {
  S_Calculator calc;
  calc.registry().findOrCreate("G1").value.assign(Operand::grid(largeMap()));
  const Operand layer =
      vellumar::engine::packCover(voronoiCoverage(3000), vellumar::engine::Kind::Polygon, true);
  calc.registry().findOrCreate("P1").value.assign(layer);
  const std::vector<vellumar::engine::LayerRecord> records = vellumar::engine::layerRecords(layer);
  // The spline coefficients are computed once, on the first use of the map.
  evaluate(calc, "Mean(G1, P1)");
  for (auto _ : state) {
    int failed = 0;
    for (const vellumar::engine::LayerRecord& record : records) {
      calc.registry().find("P1")->value.assign(record.operand);
      failed += evaluate(calc, text) && calc.result().isNumber() ? 0 : 1;
    }
    if (failed > 0) state.SkipWithError("a district failed");
  }
  state.counters["districts"] = static_cast<double>(records.size());
}

void BM_MeanPerDistrict3000(benchmark::State& state) {
  perDistrict(state, "Mean(G1, P1)");
}
BENCHMARK(BM_MeanPerDistrict3000)->Unit(benchmark::kMillisecond);

void BM_MinimumPerDistrict3000(benchmark::State& state) {
  perDistrict(state, "MIN(G1, P1)");
}
BENCHMARK(BM_MinimumPerDistrict3000)->Unit(benchmark::kMillisecond);

void BM_MaximumPerDistrict3000(benchmark::State& state) {
  perDistrict(state, "MAX(G1, P1)");
}
BENCHMARK(BM_MaximumPerDistrict3000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
