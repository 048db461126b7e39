// Speed of the shapefile conversions on a polyline shapefile of 100,000 records holding 1,000,000
// vertices (target: reading it into a cover and writing it back within 0.5 s each), plus a
// polygon export with holes and a point table round trip.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "data/Shapefile.h"

using namespace vellumar;
using geometry::Cover;
using geometry::Line;
using geometry::Point;

namespace {

const std::string& folder() {
  static const std::string path = [] {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("vellumar-shapefile-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return dir.string();
  }();
  return path;
}

// 100,000 polylines of 10 vertices each, with values and ids.
const Cover& bigLines() {
  static const Cover cover = [] {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> step(-5.0, 5.0);
    Cover c;
    c.reserve(100000);
    for (int i = 0; i < 100000; ++i) {
      std::vector<Point> points(10);
      double x = (i % 1000) * 100.0;
      double y = (i / 1000) * 100.0;
      for (Point& p : points) {
        p = {x, y, 0};
        x += step(rng);
        y += step(rng);
      }
      Line line(std::move(points));
      line.value = i * 0.5;
      line.id = i + 1;
      c.appendLine(std::move(line));
    }
    return c;
  }();
  return cover;
}

std::string bigLinesFile() {
  static const std::string path = [] {
    const std::string p = folder() + "/lines.shp";
    data::ShapefileConverter converter;
    if (converter.CoverToShapefile(p, bigLines(), data::shape_type::kArc) !=
        data::ShapeStatus::Done) {
      std::abort();
    }
    return p;
  }();
  return path;
}

void BM_WriteLineShapefile(benchmark::State& state) {
  const Cover& cover = bigLines();
  const std::string path = folder() + "/written.shp";
  for (auto _ : state) {
    data::ShapefileConverter converter;
    if (converter.CoverToShapefile(path, cover, data::shape_type::kArc) !=
        data::ShapeStatus::Done) {
      state.SkipWithError("export failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(cover.pointCount()));
}
BENCHMARK(BM_WriteLineShapefile)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadLineShapefile(benchmark::State& state) {
  const std::string path = bigLinesFile();
  std::size_t points = 0;
  for (auto _ : state) {
    Cover cover;
    data::ShapefileConverter converter;
    if (converter.ReadShapeLines(path, cover, "Atribute", "", "") != data::ShapeStatus::Done) {
      state.SkipWithError("read failed");
    }
    points = cover.pointCount();
    benchmark::DoNotOptimize(cover);
  }
  if (points != 1000000) state.SkipWithError("wrong vertex count");
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points));
}
BENCHMARK(BM_ReadLineShapefile)->Unit(benchmark::kMillisecond)->Iterations(3);

// 10,000 square outer rings, each with one hole, written as polygons.
void BM_WritePolygonShapefileWithHoles(benchmark::State& state) {
  Cover cover;
  for (int i = 0; i < 10000; ++i) {
    const double x = (i % 100) * 20.0;
    const double y = (i / 100) * 20.0;
    cover.appendLine(Line({{x, y}, {x, y + 10}, {x + 10, y + 10}, {x + 10, y}, {x, y}}));
    cover.appendLine(
        Line({{x + 2, y + 2}, {x + 4, y + 2}, {x + 4, y + 4}, {x + 2, y + 4}, {x + 2, y + 2}}));
  }
  const std::string path = folder() + "/polygons.shp";
  for (auto _ : state) {
    data::ShapefileConverter converter;
    if (converter.CoverToShapefile(path, cover, data::shape_type::kPolygon) !=
        data::ShapeStatus::Done) {
      state.SkipWithError("export failed");
    }
  }
}
BENCHMARK(BM_WritePolygonShapefileWithHoles)->Unit(benchmark::kMillisecond)->Iterations(3);

// 100,000 points with values written and read back as a table.
void BM_PointTableRoundTrip(benchmark::State& state) {
  std::vector<double> xs, ys, zs;
  for (int i = 0; i < 100000; ++i) {
    xs.push_back(i * 1.5);
    ys.push_back(i * -0.5);
    zs.push_back(std::sin(i * 0.001));
  }
  const data::M_Data table = data::tableOfResult(data::DATA(zs, xs, ys));
  const std::string path = folder() + "/points.shp";
  for (auto _ : state) {
    data::ShapefileConverter converter;
    data::M_Data back;
    if (converter.TableToPointShapefile(path, table, 0, 1) != data::ShapeStatus::Done ||
        converter.ShapefileToTable(path, back) != data::ShapeStatus::Done) {
      state.SkipWithError("round trip failed");
    }
  }
}
BENCHMARK(BM_PointTableRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(folder());
  return 0;
}
