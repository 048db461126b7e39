#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Calculator.h"
#include "formats/RasterWindows.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"

namespace vellumar::tiles {

// Nodes read around every tile on each side. The surface is the natural spline of the whole grid,
// and a tile solves it over its window instead: the solve's boundary reaches into a run by a
// factor of about 0.268 (2 - sqrt 3) per node, so 24 nodes bring its influence below
// 0.268^24 < 2e-14 of the grid's values, well under the 1e-10 a tiled result keeps to.
inline constexpr int kHaloNodes = 24;

// An input grid of a tiled evaluation: a raster read one window at a time, or a grid held whole
// (a DSAA grid, which has no windowed reader).
class TileInput {
 public:
  static TileInput ofRaster(std::shared_ptr<const formats::RasterWindowReader> reader);
  static TileInput ofGrid(std::shared_ptr<const grid::Grid> grid);

  const grid::Lattice& lattice() const { return lattice_; }
  const grid::Georeference& georeference() const;
  // Reads the window's nodes; on failure the status says why, with GDAL's words when it gave any.
  formats::RasterRead read(const grid::NodeWindow& window, grid::Grid& part) const;

 private:
  std::shared_ptr<const formats::RasterWindowReader> reader_;
  std::shared_ptr<const grid::Grid> grid_;
  grid::Lattice lattice_;
};

// The output lattice cut into square tiles of size x size nodes, row of tiles after row from the
// bottom left; the last column and row of tiles take what is left.
class TilePlan {
 public:
  TilePlan(const grid::Lattice& lattice, int size);
  const grid::Lattice& lattice() const { return lattice_; }
  int count() const { return columns_ * rows_; }
  grid::NodeWindow tile(int index) const;

 private:
  grid::Lattice lattice_;
  int size_;
  int columns_;
  int rows_;
};

// What came of one tile: its nodes, or the failure's message (and its second line), with the
// exit status the command line gives it.
struct TileOutcome {
  bool ok = false;
  grid::Grid part;
  std::string message;
  std::string detail;
  int failure = 0;  // 1: the evaluation failed; 3: an input could not be read
};

// A display text evaluated tile by tile over grids that share one lattice: each tile's window of
// every input, widened by the halo, stands in for the input under its name, the text is evaluated
// over those windows by a copy of the calculator, and the tile's own nodes are kept of the
// result. What the text may use is what gives each node from the nodes near it: numbers, node-wise
// operators and functions, derivatives and Spec. Tiles are independent: any of them may be
// evaluated at any time on any thread or process, and gives the same nodes.
class TiledEvaluation {
 public:
  struct Input {
    std::string name;  // as the calculator knows the grid: "G1", "G2", ...
    TileInput source;
  };

  // calc holds the names and settings the text is evaluated with; it must outlive this.
  TiledEvaluation(const engine::S_Calculator& calc, std::vector<Input> inputs, int tileSize);

  // Why the text cannot be evaluated by tiles, in the calculator's language; empty when it can
  // (a text that is the MIN or MAX of a grid expression can when that expression can). Looks at
  // the text and the inputs only: nothing is read.
  std::string refusal(const std::string& text) const;
  // The tiles of the result; needs at least one input.
  const TilePlan& plan() const { return plan_; }
  const grid::Georeference& georeference() const;
  Language language() const { return calc_.language(); }

  // Evaluates the text over tile index of the plan.
  TileOutcome evaluate(const std::string& text, int index) const;

 private:
  std::string tokenRefusal(const std::string& text) const;

  const engine::S_Calculator& calc_;
  std::vector<Input> inputs_;
  TilePlan plan_;
};

// The smallest or largest node of a grid over all tiles: a text that is MIN(...) or MAX(...) of
// one grid expression as a whole. Each tile gives the extremum of its own nodes (blanks left
// out), and the run's is the extremum of those, the very value MIN and MAX give the whole grid.
class TiledExtremum {
 public:
  // The extremum a text asks for; nullopt for any other text (MIN(G1) + 1, MIN(G1, P1), ...).
  static std::optional<TiledExtremum> of(const std::string& text);
  const std::string& inner() const { return inner_; }
  bool largest() const { return largest_; }
  void add(const grid::Grid& part);
  void add(double value);
  double value() const { return value_; }

 private:
  TiledExtremum(bool largest, std::string inner);
  bool largest_;
  std::string inner_;
  double value_;
};

// Whether the built-in of that name gives each node from the nodes near it, so that it can be
// evaluated by tiles.
bool tileable(std::string_view function);

}  // namespace vellumar::tiles
