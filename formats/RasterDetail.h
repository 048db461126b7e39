#pragma once

#include "formats/GdalApi.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/CoordinateSystem.h"
#include "formats/GdalLibrary.h"
#include "formats/RasterFile.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"

// What the whole-raster reads and writes and the window-by-window ones share: the lattice of a
// geotransform, the no-data rules and the creation options. Only this folder includes it.
namespace vellumar::formats::detail {

// Whether a value of the given type can hold v exactly.
bool typeHolds(GDALDataType type, double v);
// The value a band of the type hands back for a no-data value it holds: Float32 bands give the
// float nearest to it, every other type the value itself.
double asRead(GDALDataType type, double v);

// The rectangle of the node lattice of an nx x ny raster, and whether its rows run from the top.
struct RasterLattice {
  double left = 0.0, right = 0.0, bottom = 0.0, top = 0.0;
  bool topRowFirst = true;
};
// The lattice of a geotransform whose pixels are axis-parallel and run east; false otherwise.
bool latticeOf(const double (&gt)[6], int nx, int ny, RasterLattice& lattice);

// Turns the band's no-data value, NaN and the infinities into blank nodes; the z-range of the
// rest.
grid::Range blankNoData(std::span<double> nodes, bool hasNoData, double noData);
// The band's no-data value when it has one its type can hold; notes one it cannot.
std::optional<double> bandNoData(GDALRasterBandH band, RasterRead& result);

// A band of an open raster as a grid reads it: the lattice of its pixel centres, whether GDAL's
// rows run from the top, the coordinate system and no-data value, and that value as the band
// hands it back.
struct BandLayout {
  GDALRasterBandH band = nullptr;
  int nx = 0;
  int ny = 0;
  grid::Lattice lattice;
  bool topRowFirst = true;
  grid::Georeference georeference;
  std::optional<double> readNoData;

  // A grid over lattice (the band's, or a window's) holding nodes read from the band, bottom row
  // first, with the no-data value, NaN and the infinities made blank.
  grid::Grid gridOf(const grid::Lattice& over, grid::NodeVector nodes) const;
};
// Describes band (1-based) of the dataset, with the band's type and the notices in result; false
// with result's status set when it is no grid (several grids, no such band, a rotated lattice).
bool describeBand(GDALDatasetH dataset, int bandNumber, BandLayout& layout, RasterRead& result);

RasterRead failure(RasterStatus status);
// The same with the message GDAL gave for it.
RasterRead failure(RasterStatus status, const ErrorCapture& errors);
// The outcome of a read when GDAL itself could not be loaded.
RasterRead libraryMissing();
Dataset openRaster(const char* name);

// A NULL-terminated list of KEY=VALUE texts, as GDAL takes options.
class OptionList {
 public:
  explicit OptionList(const std::vector<std::string>& options) : texts_(options) {}
  bool has(std::string_view key) const;
  void add(std::string option) { texts_.push_back(std::move(option)); }
  char** get();

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};
OptionList creationOptions(const char* driver, const RasterWriteOptions& options);

// The value blank nodes are written as in a file of the type: the grid's own no-data value when
// the type holds it.
double noDataFor(const std::optional<double>& own, GDALDataType type);
// The type of the written values; GDT_Unknown for a name GDAL does not know.
GDALDataType writtenType(const RasterWriteOptions& options);

// Copies count rows of nx nodes, from row top of a bottom-first node array downwards, into out in
// GDAL's order (top row first), with blank nodes as noData; true when any node was blank.
bool toGdalRows(const double* nodes, int nx, int top, int count, double noData, double* out);

// Gives the dataset the lattice as its geotransform, and the coordinate system when asked.
void placeOnLattice(GDALDatasetH dataset, const grid::Lattice& lattice,
                    const grid::Georeference& georeference, bool withSystem);

}  // namespace vellumar::formats::detail
