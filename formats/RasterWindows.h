#pragma once

#include <memory>
#include <string>

#include "formats/RasterFile.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"

namespace vellumar::formats {

// A band of a raster held open and read one window of nodes at a time, for grids too large to
// hold whole. The lattice and the no-data rules are those of readRaster: a window read here holds
// exactly the nodes a whole read would give for it, over the same coordinates.
class RasterWindowReader {
 public:
  RasterWindowReader();
  ~RasterWindowReader();
  RasterWindowReader(RasterWindowReader&&) noexcept;
  RasterWindowReader& operator=(RasterWindowReader&&) noexcept;

  // Opens band (1-based) of the raster at path; the status is readRaster's, and nothing is read.
  RasterRead open(const std::string& path, int band);
  const grid::Lattice& lattice() const { return lattice_; }
  // The coordinate system and the band's no-data value.
  const grid::Georeference& georeference() const { return georeference_; }
  const std::string& path() const { return path_; }

  // Reads the window's nodes into grid: a grid over the window's part of the lattice, named
  // after the file. On failure the grid is left unchanged.
  RasterRead read(const grid::NodeWindow& window, grid::Grid& grid) const;

 private:
  struct Band;
  std::unique_ptr<Band> band_;
  grid::Lattice lattice_;
  grid::Georeference georeference_;
  std::string path_;
};

// A GeoTIFF written one window of nodes at a time through the safe save: the file grows beside
// the target under a temporary name and replaces it only at commit(), so a failed or killed run
// leaves the old file as it was. Blank nodes are written as no-data, as writeRaster writes them.
class RasterTileWriter {
 public:
  RasterTileWriter();
  ~RasterTileWriter();
  RasterTileWriter(const RasterTileWriter&) = delete;
  RasterTileWriter& operator=(const RasterTileWriter&) = delete;

  // Whether path names a file this writer makes (a .tif or .tiff GeoTIFF).
  static bool writes(const std::string& path);

  // Starts the GeoTIFF of the lattice that is to replace path.
  RasterWrite create(const std::string& path, const grid::Lattice& lattice,
                     const grid::Georeference& georeference, const RasterWriteOptions& options);
  // Writes the part's nodes at the window of the lattice they belong to (equal counts).
  RasterWrite write(const grid::Grid& part, const grid::NodeWindow& where);
  // Finishes the file and puts it in the target's place.
  RasterWrite commit();

 private:
  struct File;
  std::unique_ptr<File> file_;
};

}  // namespace vellumar::formats
