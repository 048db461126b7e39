#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Calculator.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"
#include "tiles/TileInput.h"

namespace vellumar::tiles {

// Nodes read around every tile on each side. The surface is the natural spline of the whole grid,
// and a tile solves it over its window instead: the solve's boundary reaches into a run by a
// factor of about 0.268 (2 - sqrt 3) per node, so 24 nodes bring its influence below
// 0.268^24 < 2e-14 of the grid's values, well under the 1e-10 a tiled result keeps to.
inline constexpr int kHaloNodes = 24;

// The output lattice cut into square tiles of size x size nodes, row of tiles after row from the
// bottom left; the last column and row of tiles take what is left.
class TilePlan {
 public:
  TilePlan() = default;
  TilePlan(const grid::Lattice& lattice, int size);
  const grid::Lattice& lattice() const { return lattice_; }
  int count() const { return columns_ * rows_; }
  grid::NodeWindow tile(int index) const;

 private:
  grid::Lattice lattice_;
  int size_ = 1;
  int columns_ = 0;
  int rows_ = 0;
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
// operators and functions, derivatives and Spec, and Cut and Dense of the grids read, which become
// inputs of their own (deriveInputs). Tiles are independent: any of them may be evaluated at any
// time on any thread or process, and gives the same nodes.
class TiledEvaluation {
 public:
  using Input = NamedInput;

  // calc holds the names and settings the text is evaluated with; it must outlive this. The tiles
  // cut the lattice of the first input the text names.
  TiledEvaluation(const engine::S_Calculator& calc, std::vector<Input> inputs, int tileSize,
                  const std::string& text);

  // Why the text cannot be evaluated by tiles, in the calculator's language; empty when it can.
  // Found from the text and the inputs' lattices: nothing is read.
  const std::string& refusal() const { return refusal_; }
  // The tiles of the result.
  const TilePlan& plan() const { return plan_; }
  const grid::Georeference& georeference() const;
  Language language() const { return calc_.language(); }

  // Evaluates the text over tile index of the plan.
  TileOutcome evaluate(int index) const;

 private:
  std::string findRefusal() const;
  std::string tokenRefusal() const;

  const engine::S_Calculator& calc_;
  std::string text_;
  std::vector<Input> inputs_;  // those the text names
  TilePlan plan_;
  std::string refusal_;
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
