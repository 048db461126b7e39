#pragma once

#include <cstdint>
#include <string>

#include "data/M_Data.h"
#include "engine/FileMessages.h"

namespace vellumar::engine {

// Reads data files into tables: delimited text files with the reader's options, the tables of
// shapefiles, and the points of vector layers as a table of X, Y and the attribute columns. A
// failure names the file and, when known, the line or record at fault.
class TableLoader {
 public:
  explicit TableLoader(const FileMessages& messages) : messages_(messages) {}

  // system, when given, receives a vector layer's coordinate system.
  FileStatus read(const std::string& path, const data::ReadOptions& options, data::M_Data& table,
                  std::string* system) const;

 private:
  FileStatus readLayer(const std::string& path, data::M_Data& table, std::string* system) const;
  // A shapefile as a table, with the outcome of the data file reader; the place of a damaged
  // file's fault is its 1-based record (0 when unknown).
  data::DataRead readShapefile(const std::string& path, data::M_Data& table) const;

  const FileMessages& messages_;
};

}  // namespace vellumar::engine
