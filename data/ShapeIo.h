#pragma once

#include <shapefil.h>

#include <memory>
#include <string>

namespace vellumar::data::detail {

// File access for shapelib: each file is held whole in memory while open (read when opened,
// written back when closed after a change), numbers are parsed under the C locale, library
// complaints are kept off the terminal, and a file that could not be written back is remembered
// until the next resetWriteFailure() on this thread.
SAHooks* shapeHooks();
void resetWriteFailure();
bool writeFailed();

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

// The .shp, .shx and .dbf of one export. They are created under temporary names beside the
// targets (the target path without its extension, plus a unique suffix) and renamed into place by
// commit(); until then, and whenever the object is destroyed uncommitted, the targets are
// untouched and the temporary files are removed.
class ExportFiles {
 public:
  explicit ExportFiles(const std::string& path);
  ~ExportFiles();
  ExportFiles(const ExportFiles&) = delete;
  ExportFiles& operator=(const ExportFiles&) = delete;

  // The path to give SHPCreate, DBFCreate and DBFOpen for the temporary files.
  const std::string& temporaryPath() const { return temporaryShp_; }
  // Renames the three temporary files over the targets; false when a rename fails, and then the
  // earlier target files are back in place.
  bool commit();

 private:
  std::string target(int file) const;
  std::string temporary(int file) const;
  std::string backup(int file) const;
  void removeTemporaries() const;

  std::string targetBase_;
  std::string temporaryBase_;
  std::string temporaryShp_;
  bool upperCase_ = false;
  bool committed_ = false;
};

}  // namespace vellumar::data::detail
