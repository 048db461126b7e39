// Speed of the raster reader and writer on the format users hold most: a 4000 × 4000 Float64
// GeoTIFF, tiled as GDAL writes it by default, read into a grid and written from one, and the same
// written with DEFLATE compression; and of the vector layer reader and writer on a GeoPackage of
// 100,000 polygons of 50 vertices. The files live in a temporary folder.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "formats/RasterFile.h"
#include "formats/VectorFile.h"
#include "grid/Grid.h"

namespace {

using vellumar::grid::Grid;

constexpr int kSide = 4000;

Grid makeGrid(int n) {
  return vellumar::bench::wavyGrid(n, 500000.0, 5500000.0, 10.0 * (n - 1));
}

std::string temporaryFile(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("vellumar-formats-bench-" + name)).string();
}

std::int64_t gridBytes(int n) {
  return static_cast<std::int64_t>(n) * n * static_cast<std::int64_t>(sizeof(double));
}

void BM_ReadGeoTiff4000(benchmark::State& state) {
  const std::string path = temporaryFile("read.tif");
  if (!vellumar::formats::writeRaster(makeGrid(kSide), path)) state.SkipWithError("not written");
  for (auto _ : state) {
    Grid grid;
    benchmark::DoNotOptimize(vellumar::formats::readRaster(path, 1, grid));
  }
  state.SetBytesProcessed(state.iterations() * gridBytes(kSide));
  std::filesystem::remove(path);
}
BENCHMARK(BM_ReadGeoTiff4000)->Unit(benchmark::kMillisecond);

void writeBenchmark(benchmark::State& state, const vellumar::formats::RasterWriteOptions& options,
                    const std::string& name) {
  const Grid grid = makeGrid(kSide);
  const std::string path = temporaryFile(name);
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellumar::formats::writeRaster(grid, path, options));
  }
  state.SetBytesProcessed(state.iterations() * gridBytes(kSide));
  state.counters["file_mb"] = static_cast<double>(std::filesystem::file_size(path)) / 1048576.0;
  std::filesystem::remove(path);
}

void BM_WriteGeoTiff4000(benchmark::State& state) {
  writeBenchmark(state, {}, "write.tif");
}
BENCHMARK(BM_WriteGeoTiff4000)->Unit(benchmark::kMillisecond);

void BM_WriteGeoTiffDeflate4000(benchmark::State& state) {
  vellumar::formats::RasterWriteOptions options;
  options.creationOptions = {"COMPRESS=DEFLATE", "PREDICTOR=3"};
  writeBenchmark(state, options, "deflate.tif");
}
BENCHMARK(BM_WriteGeoTiffDeflate4000)->Unit(benchmark::kMillisecond);

constexpr int kPolygons = 100000;
constexpr int kVertices = 50;

// Wavy rings of 50 vertices, 40 m across, on a 100 m lattice: one record each.
vellumar::geometry::Cover districts() {
  vellumar::geometry::Cover cover;
  const int side = static_cast<int>(std::ceil(std::sqrt(kPolygons)));
  for (int k = 0; k < kPolygons; ++k) {
    std::vector<vellumar::geometry::Point> points;
    for (int i = 0; i < kVertices; ++i) {
      const double a = i + 1 < kVertices ? -2 * std::numbers::pi * i / (kVertices - 1) : 0.0;
      const double r = 40 + 5 * std::sin(7 * a + k);
      points.push_back({500000 + 100.0 * (k % side) + r * std::cos(a),
                        4000000 + 100.0 * (k / side) + r * std::sin(a), 0});
    }
    vellumar::geometry::Line ring(std::move(points));
    ring.id = k + 1;
    cover.appendLine(std::move(ring));
  }
  return cover;
}

void BM_ReadGeoPackage100kPolygons(benchmark::State& state) {
  const std::string path = temporaryFile("read.gpkg");
  if (!vellumar::formats::writeVectorLines(path, districts(), true, nullptr, {}))
    state.SkipWithError("not written");
  for (auto _ : state) {
    vellumar::formats::VectorContent content;
    benchmark::DoNotOptimize(
        vellumar::formats::readVector(path, vellumar::formats::VectorLoad::Polygons, {}, content));
  }
  state.SetItemsProcessed(state.iterations() * kPolygons);
  std::filesystem::remove(path);
}
BENCHMARK(BM_ReadGeoPackage100kPolygons)->Unit(benchmark::kMillisecond);

void BM_WriteGeoPackage100kPolygons(benchmark::State& state) {
  const vellumar::geometry::Cover cover = districts();
  const std::string path = temporaryFile("write.gpkg");
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellumar::formats::writeVectorLines(path, cover, true, nullptr, {}));
  }
  state.SetItemsProcessed(state.iterations() * kPolygons);
  std::filesystem::remove(path);
}
BENCHMARK(BM_WriteGeoPackage100kPolygons)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
