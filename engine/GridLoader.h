#pragma once

#include <string>

#include "engine/FileMessages.h"
#include "engine/Operand.h"
#include "formats/RasterFile.h"
#include "formats/RasterWindows.h"

namespace vellumar::engine {

// Reads grid files into grid operands: DSAA text grids with their own reader, every other raster
// (GeoTIFF, ESRI ASCII, netCDF, ...) through GDAL by one band, whole or by windows. A failure
// gives the grid load message with where the file is at fault or why GDAL refused it; a raster
// read that succeeded may carry notices (no georeferencing, a no-data value out of the type).
class GridLoader {
 public:
  explicit GridLoader(const FileMessages& messages) : messages_(messages) {}

  // band is the raster band read (1 for the first); a DSAA grid has only that one.
  FileStatus read(const std::string& path, int band, Operand& operand) const;
  // Opens band of a raster grid file for reading by windows, with the read's messages.
  FileStatus openWindows(const std::string& path, int band,
                         formats::RasterWindowReader& reader) const;
  // The bands of a grid file: 1 for a DSAA grid, 0 for a raster GDAL cannot open.
  static int bandCount(const std::string& path);

 private:
  FileStatus readDsaa(const std::string& path, Operand& operand) const;
  // The outcome of a raster read or open of an nx x ny band: its message, or its notices.
  FileStatus rasterStatus(const formats::RasterRead& read, const std::string& path, int band,
                          int nx, int ny) const;
  std::string rasterNotices(const formats::RasterRead& read, const char* file, int nx,
                            int ny) const;

  const FileMessages& messages_;
};

}  // namespace vellumar::engine
