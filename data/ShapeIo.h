#pragma once

#include <shapefil.h>

#include <memory>
#include <string>

#include "common/SafeSave.h"

namespace vellumar::data::detail {

// File access for shapelib: each file is held whole in memory while open, numbers are parsed
// under the C locale and library complaints are kept off the terminal. Files on disk are only
// read (regular files only); what shapelib writes stays in memory files of the export that
// created them (ExportFiles), which saves them to disk.
SAHooks* shapeHooks();

struct ShpCloser {
  void operator()(SHPInfo* handle) const { SHPClose(handle); }
};
struct DbfCloser {
  void operator()(DBFInfo* handle) const { DBFClose(handle); }
};
struct ShapeDestroyer {
  void operator()(SHPObject* shape) const { SHPDestroyObject(shape); }
};
using ShpFile = std::unique_ptr<SHPInfo, ShpCloser>;
using DbfFile = std::unique_ptr<DBFInfo, DbfCloser>;
using ShapeObject = std::unique_ptr<SHPObject, ShapeDestroyer>;

// Opens the .shp/.shx pair of path read-only; null when either cannot be opened.
ShpFile openShp(const std::string& path);
// Opens the .dbf beside path ("rb" or "r+b"); null on failure.
DbfFile openDbf(const std::string& path, const char* mode);

// True when the shape read from a file can be walked safely: non-negative counts, coordinate
// arrays present for its vertices, part starts non-decreasing and within the vertex count.
bool wellFormed(const SHPObject& shape);

// The projection file beside the shapefile path (its base name with ".prj", else ".PRJ"): true
// with its bytes when there is one that can be read.
[[nodiscard]] bool readProjection(const std::string& path, std::string& bytes);

// The .shp, .shx and .dbf of one export, with a .prj when a projection is given. shapelib creates
// and writes the first three in memory under memoryPath(); commit() saves them all together
// through the safe save, renaming the .shx first and the .shp last. Until then, and whenever the
// object is destroyed uncommitted, the targets are untouched and nothing is left behind.
class ExportFiles {
 public:
  explicit ExportFiles(const std::string& path, std::string projection = {});
  ~ExportFiles();
  ExportFiles(const ExportFiles&) = delete;
  ExportFiles& operator=(const ExportFiles&) = delete;

  // Checks the three targets and creates their temporary files; false when a target is refused
  // (not a regular file, not writable) or no temporary file can be created.
  [[nodiscard]] bool open();
  // The path to give SHPCreate, DBFCreate and DBFOpen.
  const std::string& memoryPath() const { return memoryBase_; }
  // The size the .shp is expected to reach, which its memory file then takes at once when it
  // first grows instead of doubling its way there; a file that grows beyond it doubles from it.
  void expectShapeBytes(std::size_t bytes);
  // Saves the three files over the targets; false when a file is missing or cannot be saved.
  [[nodiscard]] bool commit();

 private:
  std::string memoryBase_;
  SaveSet files_;
  SaveFile* targets_[3] = {};  // by file: .shp, .shx, .dbf
  SaveFile* projectionTarget_ = nullptr;
  std::string projection_;
};

}  // namespace vellumar::data::detail
