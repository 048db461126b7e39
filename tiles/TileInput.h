#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/RasterFile.h"
#include "formats/RasterWindows.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"

namespace vellumar::engine {
class S_Calculator;
}

namespace vellumar::tiles {

struct NamedInput;

// What reading a window gave: the reader's status, with GDAL's words when it gave any, or the
// failure of the expression the window is evaluated of, in the calculator's words.
struct WindowRead {
  formats::RasterRead raster;
  std::string message;
  std::string detail;
  explicit operator bool() const { return raster && message.empty(); }
};

// An input grid of a tiled evaluation, read one window of nodes at a time: a raster read by
// windows, a grid held whole (a DSAA grid, which has no windowed reader), or what Cut or Dense
// make of another input, which reads that input's windows in turn.
class TileInput {
 public:
  static TileInput ofRaster(std::shared_ptr<const formats::RasterWindowReader> reader);
  static TileInput ofGrid(std::shared_ptr<const grid::Grid> grid);
  // The nodes of the window of the source, as Cut keeps them.
  static TileInput cut(const TileInput& source, const grid::NodeWindow& nodes);
  // The source's surface at the nodes of the lattice, which covers the source's rectangle, as
  // Dense resamples it: a grid in spline mode.
  static TileInput resampled(const TileInput& source, const grid::Lattice& lattice);
  // The source's surface at the nodes of the lattice, in the source's own mode, as the arithmetic
  // of two grids reads a grid on another lattice than its result's (grid::commonLattice).
  static TileInput surfaceOn(const TileInput& source, const grid::Lattice& lattice);
  // The grid an expression of inputs on the lattice gives there: each window is the text
  // evaluated by a copy of calc over the inputs' windows widened by the halo, of which the
  // window's own nodes are kept. calc must outlive the input.
  static TileInput evaluated(const engine::S_Calculator& calc, std::string text,
                             std::vector<NamedInput> inputs, const grid::Lattice& lattice);

  const grid::Lattice& lattice() const { return lattice_; }
  const grid::Georeference& georeference() const;
  // Reads the window's nodes; on failure says why.
  WindowRead read(const grid::NodeWindow& window, grid::Grid& part) const;

 private:
  enum class Form { Raster, Whole, Cut, Resampled, Evaluated };
  struct Expression;
  // An input of the form over the lattice that reads its windows from the source.
  static TileInput derived(Form form, const TileInput& source, const grid::Lattice& lattice);
  WindowRead readResampled(const grid::NodeWindow& window, grid::Grid& part) const;
  WindowRead readEvaluated(const grid::NodeWindow& window, grid::Grid& part) const;

  Form form_ = Form::Whole;
  std::shared_ptr<const formats::RasterWindowReader> reader_;
  std::shared_ptr<const grid::Grid> grid_;
  std::shared_ptr<const TileInput> source_;
  std::shared_ptr<const Expression> expression_;
  grid::NodeWindow cut_;
  grid::Lattice lattice_;
  bool sourceMode_ = false;  // a resampled window keeps the source's mode
};

// An input under the name the calculator knows it by: "G1", "G2", ... for the grids read. A call
// made an input has a name of its own, and messages give the call's text instead.
struct NamedInput {
  std::string name;
  TileInput source;
  std::string call;
  const std::string& label() const { return call.empty() ? name : call; }
};

}  // namespace vellumar::tiles
