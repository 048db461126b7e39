#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "data/DataColumnChoice.h"
#include "data/M_Data.h"
#include "engine/FileMessages.h"
#include "engine/LoadedFiles.h"

namespace vellumar::engine {

// One loaded data file: its table and the coordinate columns chosen for its operands. A closed
// slot keeps its place with the path "emptyPath" and is reused by the next load.
struct DataSlot {
  std::string path;
  data::M_Data table;
  data::CoordinateColumns xy{true, 1, 2};
  std::string coordinateSystem;      // of the layer the table came from; empty for text files
  std::string coordinateSystemName;  // its short name for lists
};

inline constexpr std::string_view kEmptySlotPath = "emptyPath";

// The loaded data files, numbered 1, 2, ... by slot, and their columns registered as operands
// "D<slot>_<column>". A shapefile's .prj is noted for the session's projection.
class DataSlots {
 public:
  DataSlots(LoadedFiles& files, const FileMessages& messages)
      : files_(files), messages_(messages) {}

  // Stores a table read from path in the first free slot (or a new one) and returns its
  // number. A layer's table takes its columns named X and Y as coordinates; other tables take
  // columns 1 and 2. system is the layer's coordinate system (a shapefile's comes from its .prj).
  int store(const std::string& path, data::M_Data table, std::string system);
  // Registers column (1-based) of a slot with the slot's coordinate columns, as a number when
  // the table has one row and no coordinates are chosen.
  FileStatus registerColumn(int number, int column, std::string* name);
  DataSlot& slot(int number) { return slots_[static_cast<std::size_t>(number - 1)]; }
  int count() const { return static_cast<int>(slots_.size()); }
  // The slot a path is loaded in, or null.
  DataSlot* loaded(const std::string& path);
  // Frees a slot; its operands stay registered.
  void close(int number);

 private:
  LoadedFiles& files_;
  const FileMessages& messages_;
  std::vector<DataSlot> slots_;
};

}  // namespace vellumar::engine
