#include "tiles/TileInput.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "engine/Calculator.h"
#include "grid/GridConstruction.h"
#include "grid/Surface.h"
#include "tiles/TileMessages.h"
#include "tiles/TiledEvaluation.h"

namespace vellumar::tiles {

namespace {

// The nodes of a lattice axis of count nodes from low on, step apart, whose coordinates reach
// [from, to], widened by the halo and clipped to the axis: first node and count.
std::pair<int, int> coveringNodes(double from, double to, double low, double step, int count) {
  if (count < 2 || !(step > 0.0)) return {0, count};
  const double first = std::floor((from - low) / step) - kHaloNodes;
  const double last = std::ceil((to - low) / step) + kHaloNodes;
  const int begin = static_cast<int>(std::clamp(first, 0.0, double(count - 1)));
  const int end = static_cast<int>(std::clamp(last, double(begin), double(count - 1)));
  return {begin, end - begin + 1};
}

// Puts the grid's nodes over the lattice's rectangle, which has as many nodes.
void placeOn(const grid::Lattice& lattice, grid::Grid& grid) {
  grid.left = lattice.left;
  grid.right = lattice.right;
  grid.bottom = lattice.bottom;
  grid.top = lattice.top;
}

}  // namespace

struct TileInput::Expression {
  const engine::S_Calculator& calc;
  std::string text;
  std::vector<NamedInput> inputs;
};

TileInput TileInput::ofRaster(std::shared_ptr<const formats::RasterWindowReader> reader) {
  TileInput input;
  input.form_ = Form::Raster;
  input.lattice_ = reader->lattice();
  input.reader_ = std::move(reader);
  return input;
}

TileInput TileInput::ofGrid(std::shared_ptr<const grid::Grid> grid) {
  TileInput input;
  input.form_ = Form::Whole;
  input.lattice_ = grid::Lattice::of(*grid);
  input.grid_ = std::move(grid);
  return input;
}

TileInput TileInput::derived(Form form, const TileInput& source, const grid::Lattice& lattice) {
  TileInput input;
  input.form_ = form;
  input.source_ = std::make_shared<const TileInput>(source);
  input.lattice_ = lattice;
  return input;
}

TileInput TileInput::cut(const TileInput& source, const grid::NodeWindow& nodes) {
  TileInput input = derived(Form::Cut, source, grid::cutLattice(source.lattice(), nodes));
  input.cut_ = nodes;
  return input;
}

TileInput TileInput::resampled(const TileInput& source, const grid::Lattice& lattice) {
  return derived(Form::Resampled, source, lattice);
}

TileInput TileInput::surfaceOn(const TileInput& source, const grid::Lattice& lattice) {
  TileInput input = derived(Form::Resampled, source, lattice);
  input.sourceMode_ = true;
  return input;
}

TileInput TileInput::evaluated(const engine::S_Calculator& calc, std::string text,
                               std::vector<NamedInput> inputs, const grid::Lattice& lattice) {
  TileInput input;
  input.form_ = Form::Evaluated;
  input.lattice_ = lattice;
  input.expression_ =
      std::make_shared<const Expression>(Expression{calc, std::move(text), std::move(inputs)});
  return input;
}

const grid::Georeference& TileInput::georeference() const {
  switch (form_) {
    case Form::Raster:
      return reader_->georeference();
    case Form::Whole:
      return grid_->georeference;
    case Form::Evaluated:
      return expression_->inputs.front().source.georeference();
    case Form::Cut:
    case Form::Resampled:
      break;
  }
  return source_->georeference();
}

WindowRead TileInput::read(const grid::NodeWindow& window, grid::Grid& part) const {
  switch (form_) {
    case Form::Raster:
      return {reader_->read(window, part), {}, {}};
    case Form::Whole:
      part = grid::cutWindow(*grid_, window);
      return {};
    case Form::Evaluated:
      return readEvaluated(window, part);
    case Form::Cut: {
      WindowRead read =
          source_->read({window.i0 + cut_.i0, window.j0 + cut_.j0, window.nx, window.ny}, part);
      // Over the cut grid's own rectangle, counted in whole steps as Cut counts it.
      if (read) placeOn(lattice_.window(window), part);
      return read;
    }
    case Form::Resampled:
      break;
  }
  return readResampled(window, part);
}

// The source's window around the window's nodes, with the halo, stands for the source's surface
// there: its spline differs from the whole grid's by less than the halo's bound.
WindowRead TileInput::readResampled(const grid::NodeWindow& window, grid::Grid& part) const {
  const grid::Lattice nodes = lattice_.window(window);
  const grid::Lattice& from = source_->lattice();
  const auto [i0, nx] = coveringNodes(nodes.left, nodes.right, from.left, from.stepX(), from.nx);
  const auto [j0, ny] = coveringNodes(nodes.bottom, nodes.top, from.bottom, from.stepY(), from.ny);
  grid::Grid source;
  if (WindowRead read = source_->read({i0, j0, nx, ny}, source); !read) return read;
  std::vector<double> xs(static_cast<std::size_t>(window.nx));
  for (int i = 0; i < window.nx; ++i) xs[i] = lattice_.nodeX(window.i0 + i);
  // Located in the whole source's steps, so that the nodes fall in the whole grid's cells.
  grid::SurfaceSampler surface(source, xs, grid::SurfaceFrame{from, i0, j0});
  grid::NodeVector values(window.nodeCount());
  for (int j = 0; j < window.ny; ++j) {
    surface.sampleRow(lattice_.nodeY(window.j0 + j),
                      values.data() + static_cast<std::size_t>(j) * window.nx);
  }
  part = nodes.holding(std::move(values), source.georeference,
                       sourceMode_ ? source.mode() : grid::Interpolation::Spline);
  return {};
}

// The window of the expression's result, evaluated over a window wider by the halo, as a tile
// evaluates its text: near the wider window's edges the derivatives, Spec and the surfaces read
// differ from the whole grid's, within the halo's bound at the window's own nodes.
WindowRead TileInput::readEvaluated(const grid::NodeWindow& window, grid::Grid& part) const {
  const grid::NodeWindow wider = window.widened(kHaloNodes, lattice_.nx, lattice_.ny);
  engine::S_Calculator calc(expression_->calc);
  for (const NamedInput& input : expression_->inputs) {
    auto grid = std::make_shared<grid::Grid>();
    if (WindowRead read = input.source.read(wider, *grid); !read) return read;
    calc.registry().findOrCreate(input.name).value = engine::Operand::grid(std::move(grid));
  }
  const engine::TextEvaluation evaluation = engine::evaluateText(calc, expression_->text);
  if (!evaluation.ok) return {{}, evaluation.message, evaluation.detail};
  const grid::Grid* result = calc.result().gridValue();
  if (calc.result().kind() != engine::Kind::Grid || result == nullptr ||
      !grid::Lattice::of(*result).sameNodes(lattice_.window(wider))) {
    return {{}, text::kResultNotGrid.in(calc.language()), {}};
  }
  part =
      grid::cutWindow(*result, {window.i0 - wider.i0, window.j0 - wider.j0, window.nx, window.ny});
  return {};
}

}  // namespace vellumar::tiles
