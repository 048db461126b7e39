#pragma once

#include <string>

#include "data/AttributeTable.h"
#include "engine/DataSlots.h"
#include "engine/FileMessages.h"
#include "engine/LoadedFiles.h"
#include "formats/RasterFile.h"

namespace vellumar::engine {

// Saves results with the writer of their kind, chosen by the target's extension: grids as DSAA
// or through GDAL as rasters (with the raster options), lines and polygons as line files with
// their value file, shapefiles or vector layers, data as data files, point shapefiles or vector
// layers, or as a new column of a loaded data file. Shapefiles and layers get the result's
// coordinate system, else the session's projection. Saving over a loaded file of the same kind
// registers the result under that file's name.
class ResultSaver {
 public:
  ResultSaver(const FileMessages& messages, LoadedFiles& files, DataSlots& dataSlots)
      : messages_(messages), files_(files), slots_(dataSlots) {}

  FileStatus save(const Operand& result, const std::string& path);
  void setRasterOptions(formats::RasterWriteOptions options) {
    rasterOptions_ = std::move(options);
  }

 private:
  FileStatus saveGrid(const Operand& result, const std::string& path);
  FileStatus saveLines(const Operand& result, const std::string& path, FileKind kind);
  FileStatus saveData(const Operand& result, const std::string& path);
  // Saves a lines or polygon result through the cover of its lines: a polygon's rings oriented
  // and grouped by record, collapsed lines dropped from a line file (the notice says so).
  FileStatus saveThroughCover(const Operand& result, const std::string& path, bool polygon,
                              bool lineFile, const MessageText& saveMessage) const;
  // Writes rings (lines, or the oriented rings of a polygon) with the rows of their records in
  // the format of path: a shapefile, a vector layer or a line file.
  FileStatus writeRings(const Operand& result, const geometry::Cover& rings,
                        const data::SavedAttributes& attributes, bool polygon,
                        const std::string& path, const MessageText& saveMessage) const;
  FileStatus saveVectorData(const Operand& result, const std::string& path) const;
  // The outcome of a write through GDAL: the save message of the kind with GDAL's reason on a
  // second line, or the cancel.
  FileStatus libraryWrite(const formats::RasterWrite& written,
                          const MessageText& saveMessage) const;
  // The system a result is saved with: its own, else the session's shapefile projection.
  std::string savedSystem(const Operand& result) const;
  // The .prj text a shapefile result gets: the loaded .prj it came from as it was, else its
  // system in the ESRI spelling, else the session's projection.
  std::string shapefileProjection(const Operand& result) const;

  const FileMessages& messages_;
  LoadedFiles& files_;
  DataSlots& slots_;
  formats::RasterWriteOptions rasterOptions_;
};

}  // namespace vellumar::engine
