#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ErrorSink.h"
#include "common/SafeSave.h"
#include "grid/Grid.h"

namespace vellumar::formats {

// Grids in the raster formats GDAL reads and writes: GeoTIFF and COG, ESRI ASCII, netCDF, ERDAS
// Imagine, VRT, the binary Golden Software grids, and every other raster GDAL opens.
//
// The lattice: grid nodes are pixel centres, as GDAL's own DSAA driver writes them. xmin is the
// geotransform's origin plus half a pixel and xmax = xmin + (nx - 1) * pixel width, likewise along
// Y; GDAL's top row becomes the grid's top row (grids keep their bottom row first). A raster
// without a geotransform gets the lattice 0 ... nx - 1 by 0 ... ny - 1.
//
// No-data: the band's no-data value and every NaN read as blank nodes (grid::kBlankValue); saving
// writes blank nodes as the grid's own no-data value when it has one that the written type holds,
// else as the DSAA blank value 1.70141e38 where the type holds that, else as the type's lowest
// value.

enum class [[nodiscard]] RasterStatus{
    Ok,
    CannotOpen,    // no such file, or not a regular file
    NotRaster,     // GDAL cannot read it as a raster, or it is damaged (libraryError says why)
    SeveralGrids,  // the file holds several grids (netCDF variables): subdatasets lists them
    NoSuchBand,    // the band asked for is not in the file
    Rotated,       // the geotransform rotates or shears the lattice, or runs west or both ways
    Cancelled,     // the user cancelled through the progress sink
};

// What a load may warn of while still succeeding.
enum class RasterNotice {
  NoGeotransform,   // the lattice is 0 ... nx - 1 by 0 ... ny - 1
  NoDataOutOfType,  // the band's no-data value cannot occur in its type and was ignored
};

struct [[nodiscard]] RasterRead {
  RasterStatus status = RasterStatus::Ok;
  std::string libraryError;              // GDAL's own words on a failure, when it gave any
  std::vector<std::string> subdatasets;  // the names to open, for SeveralGrids
  std::vector<RasterNotice> notices;
  double ignoredNoData = 0.0;  // the value NoDataOutOfType speaks of
  std::string bandType;        // GDAL's name of the band's type ("Byte", "Float32", ...)
  explicit operator bool() const { return status == RasterStatus::Ok; }
};

// Whether path is read by GDAL rather than as a DSAA text: not when the file starts with "DSAA";
// yes when its extension is one of the raster formats (.tif, .tiff, .asc, .nc, .img, .vrt) or
// GDAL recognises its content or name (a subdataset name such as NETCDF:"f.nc":z); no otherwise,
// so that any other text goes to the DSAA reader and gets its messages.
bool readsAsRaster(const std::string& path);

// Reads band (1-based) of the raster at path into grid, in spline mode, with its georeference
// (the coordinate system, the no-data value) and the name path. progress hears of the rows read,
// a block of rows at a time. On failure the grid is left unchanged; a grid (or one block of its
// file) too large for the memory the program may use throws std::bad_alloc.
RasterRead readRaster(const std::string& path, int band, grid::Grid& grid,
                      ErrorSink* progress = nullptr);

// The same for the bytes of a file, held in memory (for fuzzing and tests); extension, such as
// ".tif", helps GDAL to pick the driver.
RasterRead readRasterBytes(std::string_view bytes, std::string_view extension, int band,
                           grid::Grid& grid);

// The number of bands of the raster at path; 0 when it cannot be opened.
int bandCount(const std::string& path);

// How a grid is written to a raster: GDAL creation options as KEY=VALUE, the type of the written
// values by GDAL's name (empty for Float64, which keeps every node exactly), and the threads a
// compressing driver may use (0 for every core).
struct RasterWriteOptions {
  std::vector<std::string> creationOptions;
  std::string dataType;
  int threads = 0;
};

// Whether a save to path writes a raster (by its extension: .tif, .tiff, .asc, .nc, .img) rather
// than a DSAA text.
bool writesRaster(const std::string& path);
// Whether GDAL knows the type name ("Float32", "Int16", ...).
bool knownDataType(const std::string& name);

enum class [[nodiscard]] RasterWriteStatus{
    Ok,
    Refused,    // the target cannot be replaced (saveError says why)
    Failed,     // GDAL could not write the file (libraryError says why), or the grid has no nodes
    Cancelled,  // the user cancelled through the progress sink
};

struct [[nodiscard]] RasterWrite {
  RasterWriteStatus status = RasterWriteStatus::Ok;
  SaveError saveError = SaveError::None;
  std::string libraryError;
  explicit operator bool() const { return status == RasterWriteStatus::Ok; }
};

// Writes grid to path in the format of its extension with its coordinate system, its lattice as
// the geotransform, and its blanks as no-data, through the safe save: GDAL writes a temporary
// file beside the target, which then replaces it, so a failed, cancelled or killed save leaves
// the old file as it was. ESRI ASCII grids get their coordinate system in a .prj beside them,
// saved together with the grid. progress hears of the rows written.
RasterWrite writeRaster(const grid::Grid& grid, const std::string& path,
                        const RasterWriteOptions& options = {}, ErrorSink* progress = nullptr);

}  // namespace vellumar::formats
