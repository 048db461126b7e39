// Repainting the map view: a 500x500 view of a 4000x4000 grid (target 50 ms) and of lines with
// 1,000,000 vertices (target 200 ms).
#include <QApplication>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "engine/LinePacking.h"
#include "grid/Grid.h"
#include "ui/mapview/CRVWnd.h"

namespace {

using namespace vellumar;

engine::Operand reliefGrid(int n) {
  grid::Grid prototype;
  prototype.right = n - 1;
  prototype.top = n - 1;
  grid::NodeVector nodes(static_cast<std::size_t>(n) * n);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i)
      nodes[std::size_t(j) * n + i] = std::sin(i * 0.01) * std::cos(j * 0.013);
  }
  return engine::Operand::grid(
      std::make_shared<const grid::Grid>(n, n, prototype, std::move(nodes)));
}

engine::Operand manyLines(int lines, int vertices) {
  geometry::Cover cover;
  for (int k = 0; k < lines; ++k) {
    std::vector<geometry::Point> points;
    for (int v = 0; v < vertices; ++v) points.push_back({v * 0.37, k + std::sin(v * 0.05), 0});
    cover.appendLine(geometry::Line(std::move(points)));
  }
  return engine::packCover(cover, engine::Kind::Lines);
}

// A full repaint of a grid view: the colour raster of the plot and the painting of the window.
void BM_RepaintGridView(benchmark::State& state) {
  ui::CRVWnd view(reliefGrid(4000), -9999, Language::Russian);
  int width = 500;
  for (auto _ : state) {
    // Alternating sizes force a new layout, hence a new raster, on every repaint.
    width = width == 500 ? 499 : 500;
    view.resize(width, 500);
    benchmark::DoNotOptimize(view.picture());
  }
}
BENCHMARK(BM_RepaintGridView)->Unit(benchmark::kMillisecond);

void BM_RepaintLinesView(benchmark::State& state) {
  ui::CRVWnd view(manyLines(1000, 1000), -9999, Language::Russian);
  for (auto _ : state) benchmark::DoNotOptimize(view.picture());
}
BENCHMARK(BM_RepaintLinesView)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
