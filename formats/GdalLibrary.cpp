#include "formats/GdalLibrary.h"

#include <dlfcn.h>

#include <atomic>
#include <cctype>
#include <mutex>

namespace vellumar::formats::detail {
namespace {

constexpr GIntBig kBlockCacheBytes = GIntBig(64) << 20;

void CPL_STDCALL captureError(CPLErr kind, CPLErrorNum, const char* message) {
  auto* capture = static_cast<ErrorCapture*>(gdal().CPLGetErrorHandlerUserData());
  if (capture != nullptr) capture->note(kind == CE_Failure || kind == CE_Fatal, message);
}

// The table and why it could not be filled, written once under loadGdal's once_flag.
GdalApi loaded;
std::string loadError;

// Opens the GDAL library the program was built against and finds every function of the table.
// The library stays loaded until the program ends.
bool fillTable() {
  void* library = dlopen(VELLUMAR_GDAL_LIBRARY, RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    loadError = why != nullptr ? why : VELLUMAR_GDAL_LIBRARY;
    return false;
  }
  GdalApi table;
  bool complete = true;
#define VELLUMAR_GDAL_FIND(name)                                              \
  table.name = reinterpret_cast<decltype(table.name)>(dlsym(library, #name)); \
  if (table.name == nullptr && complete) {                                    \
    loadError = std::string(VELLUMAR_GDAL_LIBRARY) + ": no " #name;           \
    complete = false;                                                         \
  }
  VELLUMAR_GDAL_FUNCTIONS(VELLUMAR_GDAL_FIND)
#undef VELLUMAR_GDAL_FIND
  if (complete) loaded = table;
  return complete;
}

}  // namespace

bool loadGdal() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = fillTable(); });
  return ok;
}

const std::string& gdalLoadError() {
  return loadError;
}

const GdalApi& gdal() {
  return loaded;
}

bool ensureRegistered() {
  if (!loadGdal()) return false;
  static std::once_flag once;
  std::call_once(once, [] {
    gdal().GDALAllRegister();
    if (gdal().CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr)
      gdal().GDALSetCacheMax64(kBlockCacheBytes);
  });
  return true;
}

void SpatialReferenceDeleter::operator()(OGRSpatialReferenceH srs) const {
  gdal().OSRDestroySpatialReference(srs);
}

ErrorCapture::ErrorCapture() {
  gdal().CPLPushErrorHandlerEx(captureError, this);
}

ErrorCapture::~ErrorCapture() {
  gdal().CPLPopErrorHandler();
}

void ErrorCapture::note(bool failure, const char* message) {
  if (!failure || message == nullptr) return;
  failed_ = true;
  message_ = message;
}

void DatasetCloser::operator()(void* dataset) const {
  if (dataset != nullptr) gdal().GDALClose(dataset);
}

SpatialReference spatialReference(const std::string& wkt) {
  if (wkt.empty() || !ensureRegistered()) return nullptr;
  ErrorCapture quiet;
  SpatialReference srs(gdal().OSRNewSpatialReference(nullptr));
  if (!srs) return nullptr;
  gdal().OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
  if (gdal().OSRSetFromUserInput(srs.get(), wkt.c_str()) != OGRERR_NONE) return nullptr;
  return srs;
}

std::string lowerExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  std::string extension(path.substr(dot));
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

MemoryFile::MemoryFile(std::string_view bytes, std::string_view extension) {
  static std::atomic<unsigned> counter{0};
  name_ = "/vsimem/vellumar-" + std::to_string(counter++) + std::string(extension);
  // GDAL reads the bytes where they are; they outlive the file, which the destructor unlinks.
  VSILFILE* file = gdal().VSIFileFromMemBuffer(
      name_.c_str(), reinterpret_cast<GByte*>(const_cast<char*>(bytes.data())), bytes.size(),
      FALSE);
  made_ = file != nullptr;
  if (file != nullptr) gdal().VSIFCloseL(file);
}

MemoryFile::~MemoryFile() {
  if (made_) gdal().VSIUnlink(name_.c_str());
}

ThreadOption::ThreadOption(const char* key, const char* value) : key_(key) {
  if (const char* old = gdal().CPLGetThreadLocalConfigOption(key, nullptr)) {
    old_ = old;
    hadOld_ = true;
  }
  gdal().CPLSetThreadLocalConfigOption(key, value);
}

ThreadOption::~ThreadOption() {
  gdal().CPLSetThreadLocalConfigOption(key_, hadOld_ ? old_.c_str() : nullptr);
}

}  // namespace vellumar::formats::detail
