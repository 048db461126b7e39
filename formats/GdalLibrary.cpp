#include "formats/GdalLibrary.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

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
