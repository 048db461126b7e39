#pragma once

#include <memory>
#include <string>

#include "formats/RasterFile.h"
#include "formats/RasterWindows.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"

namespace vellumar::tiles {

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

  const grid::Lattice& lattice() const { return lattice_; }
  const grid::Georeference& georeference() const;
  // Reads the window's nodes; on failure the status says why, with GDAL's words when it gave any.
  formats::RasterRead read(const grid::NodeWindow& window, grid::Grid& part) const;

 private:
  enum class Form { Raster, Whole, Cut, Resampled };
  // An input of the form over the lattice that reads its windows from the source.
  static TileInput derived(Form form, const TileInput& source, const grid::Lattice& lattice);
  formats::RasterRead readResampled(const grid::NodeWindow& window, grid::Grid& part) const;

  Form form_ = Form::Whole;
  std::shared_ptr<const formats::RasterWindowReader> reader_;
  std::shared_ptr<const grid::Grid> grid_;
  std::shared_ptr<const TileInput> source_;
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
