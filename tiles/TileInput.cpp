#include "tiles/TileInput.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "engine/Calculator.h"
#include "grid/GridConstruction.h"
#include "grid/SurfaceKernel.h"
#include "tiles/TileMessages.h"
#include "tiles/TiledEvaluation.h"

namespace vellumar::tiles {

namespace {

// The nodes of a lattice axis of count nodes over [low, high] whose coordinates reach
// [from, to], widened by the halo and clipped to the axis: first node and count.
std::pair<int, int> coveringNodes(double from, double to, double low, double high, int count) {
  if (count < 2 || !(high > low)) return {0, count};
  const double step = (high - low) / (count - 1);
  const double first = std::floor((from - low) / step) - kHaloNodes;
  const double last = std::ceil((to - low) / step) + kHaloNodes;
  const int begin = static_cast<int>(std::clamp(first, 0.0, double(count - 1)));
  const int end = static_cast<int>(std::clamp(last, double(begin), double(count - 1)));
  return {begin, end - begin + 1};
}

// The surface of part, the source's nodes from node (i0, j0) of the source's lattice on, at the
// nodes of a lattice, row by row. Each point is located in the whole lattice's step units, as
// the surface of the whole grid locates it, and only then moved to the window by whole nodes,
// which is exact; so a point on a cell's edge falls in the very cell, and passes a blank cell
// beside it by the very rule (detail::surfaceCell), that the whole grid's surface takes, and a
// node is blank exactly where it is blank there. As SurfaceSampler does, the cells and weights
// along X are found once, and each row combines the coefficient rows once per column. Points
// outside the source's rectangle read 0, as the whole grid's sampler gives them.
class WindowSurface {
 public:
  WindowSurface(const grid::Grid& part, const grid::Lattice& whole, int i0, int j0,
                std::span<const double> xs)
      : part_(part), whole_(whole), j0_(j0) {
    if (!grid::detail::surfaceUsable(part) || whole.stepX() == 0.0 || whole.stepY() == 0.0) {
      return;
    }
    spline_ = part.mode() == grid::Interpolation::Spline;
    if (spline_) coefficients_ = part.splineCoefficients()->data();
    blanks_ = part.hasBlanks();
    columns_.reserve(xs.size());
    for (const double x : xs) {
      Column column;
      if (x >= whole.left && x <= whole.right) {
        column.u = (x - whole.left) / whole.stepX() - i0;
        column.cell = grid::detail::cellOf(column.u, part.nx(), column.s);
        grid::detail::splineWeights(column.s, column.w);
      }
      columns_.push_back(column);
    }
    sums_.resize(static_cast<std::size_t>(part.nx()) + 2);
  }

  void sampleRow(double y, double* out) {
    std::fill(out, out + columns_.size(), 0.0);
    if (columns_.empty() || !(y >= whole_.bottom && y <= whole_.top)) return;
    const double v = (y - whole_.bottom) / whole_.stepY() - j0_;
    double t = 0.0;
    const int j = grid::detail::cellOf(v, part_.ny(), t);
    const std::size_t nx = static_cast<std::size_t>(part_.nx());
    double wt[4];
    grid::detail::splineWeights(t, wt);
    if (spline_) {
      const std::size_t stride = nx + 2;
      const double* r0 = coefficients_ + static_cast<std::size_t>(j) * stride;
      for (std::size_t c = 0; c < stride; ++c) {
        sums_[c] = ((wt[0] * r0[c] + wt[1] * r0[c + stride]) + wt[2] * r0[c + 2 * stride]) +
                   wt[3] * r0[c + 3 * stride];
      }
    }
    for (std::size_t k = 0; k < columns_.size(); ++k) {
      const Column& column = columns_[k];
      if (column.cell < 0) continue;
      if (blanks_ && part_.cellIsBlank(column.cell, j)) {
        out[k] = nearBlanks(column.u, v);
      } else if (spline_) {
        const double* sum = sums_.data() + column.cell;
        out[k] = ((column.w[0] * sum[0] + column.w[1] * sum[1]) + column.w[2] * sum[2]) +
                 column.w[3] * sum[3];
      } else {
        const double* low = part_.nodes().data() + static_cast<std::size_t>(j) * nx + column.cell;
        out[k] = grid::detail::bilinear(low, low + nx, column.s, t);
      }
    }
  }

 private:
  struct Column {
    double u = 0.0;    // in steps from the window's first node
    int cell = -1;     // -1: outside the rectangle
    double s = 0.0;    // the offset in the cell
    double w[4] = {};  // spline weights of s
  };

  // A point in a cell with a blank corner: a valid neighbour's value when it lies on their
  // common edge, blank otherwise.
  double nearBlanks(double u, double v) const {
    int i = 0;
    int j = 0;
    double s = 0.0;
    double t = 0.0;
    if (!grid::detail::surfaceCell(part_, u, v, i, j, s, t)) return grid::kBlankValue;
    const std::size_t nx = static_cast<std::size_t>(part_.nx());
    if (!spline_) {
      const double* low = part_.nodes().data() + static_cast<std::size_t>(j) * nx + i;
      return grid::detail::bilinear(low, low + nx, s, t);
    }
    double ws[4];
    double wt[4];
    grid::detail::splineWeights(s, ws);
    grid::detail::splineWeights(t, wt);
    const std::size_t stride = nx + 2;
    const double* r0 = coefficients_ + static_cast<std::size_t>(j) * stride + i;
    double sums[4];
    for (std::size_t a = 0; a < 4; ++a) {
      sums[a] = ((wt[0] * r0[a] + wt[1] * r0[a + stride]) + wt[2] * r0[a + 2 * stride]) +
                wt[3] * r0[a + 3 * stride];
    }
    return ((ws[0] * sums[0] + ws[1] * sums[1]) + ws[2] * sums[2]) + ws[3] * sums[3];
  }

  const grid::Grid& part_;
  const grid::Lattice& whole_;
  int j0_;
  bool spline_ = false;
  bool blanks_ = false;
  const double* coefficients_ = nullptr;
  std::vector<Column> columns_;
  std::vector<double> sums_;
};

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
  const auto [i0, nx] = coveringNodes(nodes.left, nodes.right, from.left, from.right, from.nx);
  const auto [j0, ny] = coveringNodes(nodes.bottom, nodes.top, from.bottom, from.top, from.ny);
  grid::Grid source;
  if (WindowRead read = source_->read({i0, j0, nx, ny}, source); !read) return read;
  std::vector<double> xs(static_cast<std::size_t>(window.nx));
  for (int i = 0; i < window.nx; ++i) xs[i] = lattice_.nodeX(window.i0 + i);
  WindowSurface surface(source, from, i0, j0, xs);
  grid::NodeVector values(window.nodeCount());
  for (int j = 0; j < window.ny; ++j) {
    surface.sampleRow(lattice_.nodeY(window.j0 + j),
                      values.data() + static_cast<std::size_t>(j) * window.nx);
  }
  const grid::Range range = grid::rangeOf(values);
  part = grid::gridOn(nodes, source, std::move(values), range,
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
