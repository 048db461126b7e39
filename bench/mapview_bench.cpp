// Repainting the map view. Each view draws its picture once per view and zoom and repaints from
// it: the target is a repaint in at most 50 ms after the first draw, for a 1,000,000-vertex
// isoline result and for a 4000 x 4000 grid. The first draws (a new size every iteration) are
// measured alongside.
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

// Isolines of a relief: 1000 closed wavy rings of 1000 vertices each, nested like contours.
engine::Operand isolines(int lines, int vertices) {
  geometry::Cover cover;
  for (int k = 0; k < lines; ++k) {
    std::vector<geometry::Point> points;
    const double radius = 10.0 + k;
    for (int v = 0; v < vertices; ++v) {
      const double angle = 2 * M_PI * v / (vertices - 1);
      const double r = radius * (1 + 0.05 * std::sin(7 * angle + k * 0.1));
      points.push_back({r * std::cos(angle), r * std::sin(angle), 0});
    }
    geometry::Line line(std::move(points));
    line.value = k;  // the isoline's level
    cover.appendLine(std::move(line));
  }
  return engine::packCover(cover, engine::Kind::Lines);
}

void repaint(ui::mapview::CRVWnd& view) {
  view.repaint();
  benchmark::DoNotOptimize(view.grab());
}

void BM_RepaintIsolineView(benchmark::State& state) {
  ui::mapview::CRVWnd view(isolines(1000, 1000), -9999, Language::Russian);
  view.picture();  // the first draw
  for (auto _ : state) repaint(view);
}
BENCHMARK(BM_RepaintIsolineView)->Unit(benchmark::kMillisecond);

void BM_RepaintGridView(benchmark::State& state) {
  ui::mapview::CRVWnd view(reliefGrid(4000), -9999, Language::Russian);
  view.picture();
  for (auto _ : state) repaint(view);
}
BENCHMARK(BM_RepaintGridView)->Unit(benchmark::kMillisecond);

// A first draw on every iteration: alternating sizes force a new layout and picture.
template <typename Make>
void firstDraws(benchmark::State& state, Make make) {
  ui::mapview::CRVWnd view(make(), -9999, Language::Russian);
  int width = 500;
  for (auto _ : state) {
    width = width == 500 ? 499 : 500;
    view.resize(width, 500);
    benchmark::DoNotOptimize(view.picture());
  }
}

void BM_FirstDrawIsolineView(benchmark::State& state) {
  firstDraws(state, [] { return isolines(1000, 1000); });
}
BENCHMARK(BM_FirstDrawIsolineView)->Unit(benchmark::kMillisecond);

void BM_FirstDrawGridView(benchmark::State& state) {
  firstDraws(state, [] { return reliefGrid(4000); });
}
BENCHMARK(BM_FirstDrawGridView)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
