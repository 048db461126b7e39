#include "formats/GdalLibrary.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>

#include <atomic>
#include <cctype>
#include <mutex>

namespace vellumar::formats::detail {
namespace {

constexpr GIntBig kBlockCacheBytes = GIntBig(64) << 20;

void CPL_STDCALL captureError(CPLErr kind, CPLErrorNum, const char* message) {
  auto* capture = static_cast<ErrorCapture*>(CPLGetErrorHandlerUserData());
  if (capture != nullptr) capture->note(kind == CE_Failure || kind == CE_Fatal, message);
}

}  // namespace

void ensureRegistered() {
  static std::once_flag once;
  std::call_once(once, [] {
    GDALAllRegister();
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr)
      GDALSetCacheMax64(kBlockCacheBytes);
  });
}

ErrorCapture::ErrorCapture() {
  CPLPushErrorHandlerEx(captureError, this);
}

ErrorCapture::~ErrorCapture() {
  CPLPopErrorHandler();
}

void ErrorCapture::note(bool failure, const char* message) {
  if (!failure || message == nullptr) return;
  failed_ = true;
  message_ = message;
}

void DatasetCloser::operator()(void* dataset) const {
  if (dataset != nullptr) GDALClose(dataset);
}

SpatialReference spatialReference(const std::string& wkt) {
  if (wkt.empty()) return nullptr;
  ensureRegistered();
  ErrorCapture quiet;
  SpatialReference srs(OSRNewSpatialReference(nullptr));
  if (!srs) return nullptr;
  OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
  if (OSRSetFromUserInput(srs.get(), wkt.c_str()) != OGRERR_NONE) return nullptr;
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
  VSILFILE* file =
      VSIFileFromMemBuffer(name_.c_str(), reinterpret_cast<GByte*>(const_cast<char*>(bytes.data())),
                           bytes.size(), FALSE);
  made_ = file != nullptr;
  if (file != nullptr) VSIFCloseL(file);
}

MemoryFile::~MemoryFile() {
  if (made_) VSIUnlink(name_.c_str());
}

ThreadOption::ThreadOption(const char* key, const char* value) : key_(key) {
  if (const char* old = CPLGetThreadLocalConfigOption(key, nullptr)) {
    old_ = old;
    hadOld_ = true;
  }
  CPLSetThreadLocalConfigOption(key, value);
}

ThreadOption::~ThreadOption() {
  CPLSetThreadLocalConfigOption(key_, hadOld_ ? old_.c_str() : nullptr);
}

}  // namespace vellumar::formats::detail
