#pragma once

#include "formats/GdalApi.h"

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

// What every file of this folder needs from GDAL beyond its own calls: the drivers registered
// once, and GDAL's messages caught instead of printed. Only this folder includes it.
namespace vellumar::formats::detail {

// Loads GDAL and registers its drivers on first use, and bounds GDAL's block cache, so that a
// whole raster never sits in the cache beside the grid it was read into (unless the user set
// GDAL_CACHEMAX). False when GDAL could not be loaded (gdalLoadError() says why): no GDAL call
// may then be made.
[[nodiscard]] bool ensureRegistered();

// GDAL's errors on this thread while it lives: kept, not printed; message() gives the last
// failure's text, for the second line of a load or save message.
class ErrorCapture {
 public:
  ErrorCapture();
  ~ErrorCapture();
  ErrorCapture(const ErrorCapture&) = delete;
  ErrorCapture& operator=(const ErrorCapture&) = delete;

  const std::string& message() const { return message_; }
  bool failed() const { return failed_; }
  void note(bool failure, const char* message);

 private:
  std::string message_;
  bool failed_ = false;
};

// A dataset handle (GDALDatasetH is a void pointer) that closes it.
struct DatasetCloser {
  void operator()(void* dataset) const;
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

struct SpatialReferenceDeleter {
  void operator()(OGRSpatialReferenceH srs) const;
};
using SpatialReference =
    std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, SpatialReferenceDeleter>;

// The system of a WKT text (or of any text GDAL takes as a system: ESRI WKT, "EPSG:4326"), in
// the traditional x = easting, y = northing order; null for an empty or unreadable one.
SpatialReference spatialReference(const std::string& wkt);

// The extension of a path's file name in lower case with its dot (".tif"); empty when it has none.
std::string lowerExtension(std::string_view path);

// The bytes of a file held in memory, as a file GDAL opens by name(); the bytes must outlive it.
class MemoryFile {
 public:
  MemoryFile(std::string_view bytes, std::string_view extension);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  explicit operator bool() const { return made_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  bool made_ = false;
};

// Sets a GDAL configuration option for this thread while it lives, then restores it.
class ThreadOption {
 public:
  ThreadOption(const char* key, const char* value);
  ~ThreadOption();
  ThreadOption(const ThreadOption&) = delete;
  ThreadOption& operator=(const ThreadOption&) = delete;

 private:
  const char* key_;
  std::string old_;
  bool hadOld_ = false;
};

}  // namespace vellumar::formats::detail
