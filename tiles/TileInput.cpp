#include "tiles/TileInput.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "grid/GridConstruction.h"
#include "grid/Surface.h"
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

// Puts the grid's nodes over the lattice's rectangle, which has as many nodes.
void placeOn(const grid::Lattice& lattice, grid::Grid& grid) {
  grid.left = lattice.left;
  grid.right = lattice.right;
  grid.bottom = lattice.bottom;
  grid.top = lattice.top;
}

}  // namespace

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

const grid::Georeference& TileInput::georeference() const {
  switch (form_) {
    case Form::Raster:
      return reader_->georeference();
    case Form::Whole:
      return grid_->georeference;
    case Form::Cut:
    case Form::Resampled:
      break;
  }
  return source_->georeference();
}

formats::RasterRead TileInput::read(const grid::NodeWindow& window, grid::Grid& part) const {
  switch (form_) {
    case Form::Raster:
      return reader_->read(window, part);
    case Form::Whole:
      part = grid::cutWindow(*grid_, window);
      return {};
    case Form::Cut: {
      formats::RasterRead read =
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
formats::RasterRead TileInput::readResampled(const grid::NodeWindow& window,
                                             grid::Grid& part) const {
  const grid::Lattice nodes = lattice_.window(window);
  const grid::Lattice& from = source_->lattice();
  const auto [i0, nx] = coveringNodes(nodes.left, nodes.right, from.left, from.right, from.nx);
  const auto [j0, ny] = coveringNodes(nodes.bottom, nodes.top, from.bottom, from.top, from.ny);
  grid::Grid source;
  if (formats::RasterRead read = source_->read({i0, j0, nx, ny}, source); !read) return read;
  std::vector<double> xs(static_cast<std::size_t>(window.nx));
  std::vector<double> ys(static_cast<std::size_t>(window.ny));
  for (int i = 0; i < window.nx; ++i) xs[i] = lattice_.nodeX(window.i0 + i);
  for (int j = 0; j < window.ny; ++j) ys[j] = lattice_.nodeY(window.j0 + j);
  grid::NodeVector values = grid::sampleLattice(source, xs, ys);
  const grid::Range range = grid::rangeOf(values);
  part = grid::gridOn(nodes, source, std::move(values), range);
  return {};
}

}  // namespace vellumar::tiles
