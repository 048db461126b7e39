#pragma once

#include <cstdint>
#include <string>

#include "engine/FileMessages.h"
#include "engine/Operand.h"
#include "geometry/Geometry.h"

namespace vellumar::engine {

// Reads files of lines and polygons into line operands: the program's own line files (.con,
// .lin, .pol with their .val), shapefiles and the vector layers OGR reads, the last two with the
// attribute row of every record and the value of a chosen field. Polygons must have every ring
// closed. A line file without its value file loads with values 0 and a notice saying so.
class LineLoader {
 public:
  explicit LineLoader(const FileMessages& messages) : messages_(messages) {}

  // kind is Lines or Polygon.
  FileStatus read(FileKind kind, const std::string& path, const std::string& valueField,
                  Operand& operand) const;

 private:
  // What the reader of a line file or a shapefile made of it.
  struct Lines {
    geometry::Cover cover;
    Operand::AttributesPtr attributes;  // a shapefile's record rows
    bool read = false;                  // false: the file is no file of its format
    std::string fault;                  // where it is at fault, when the reader knows it
    std::string notice;                 // said on a successful load
  };

  // Each fills lines and fails only for what has a message of its own (cancel, out of memory,
  // an unknown value field).
  FileStatus readShapefile(const std::string& path, const std::string& valueField,
                           Lines& lines) const;
  FileStatus readLineFile(const std::string& path, Lines& lines) const;
  FileStatus readLayer(FileKind kind, const std::string& path, const std::string& valueField,
                       Operand& operand) const;
  // The operand of a cover read: its rings must be closed for a polygon; keepIds keeps the ids
  // of the lines, which find the record rows of attributes.
  FileStatus pack(FileKind kind, const geometry::Cover& cover, bool keepIds,
                  Operand::AttributesPtr attributes, Operand& operand) const;

  const FileMessages& messages_;
};

}  // namespace vellumar::engine
