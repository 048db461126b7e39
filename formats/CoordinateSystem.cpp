#include "formats/CoordinateSystem.h"

#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include <memory>

#include "common/MemoryGuard.h"
#include "formats/GdalLibrary.h"

namespace vellumar::formats {
namespace {

using detail::SpatialReference;

SpatialReference fromWkt(const std::string& wkt) {
  return detail::spatialReference(wkt);
}

std::string authorityName(OGRSpatialReferenceH srs) {
  const char* authority = OSRGetAuthorityName(srs, nullptr);
  const char* code = OSRGetAuthorityCode(srs, nullptr);
  if (authority == nullptr || code == nullptr) return {};
  return std::string(authority) + ":" + code;
}

// The authority code of the system GDAL finds to match (an ESRI .prj names none), when it is
// sure enough of it.
std::string identifiedName(OGRSpatialReferenceH srs) {
  constexpr int kLeastConfidence = 90;
  detail::ErrorCapture quiet;
  int count = 0;
  int* confidence = nullptr;
  OGRSpatialReferenceH* matches = OSRFindMatches(srs, nullptr, &count, &confidence);
  std::string name;
  if (count > 0 && confidence[0] >= kLeastConfidence) name = authorityName(matches[0]);
  OSRFreeSRSArray(matches);
  CPLFree(confidence);
  return name;
}

}  // namespace

std::string shortName(const std::string& wkt) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  const SpatialReference srs = fromWkt(wkt);
  if (!srs) return {};
  std::string name = authorityName(srs.get());
  if (name.empty()) name = identifiedName(srs.get());
  if (name.empty()) {
    if (const char* own = OSRGetName(srs.get())) name = own;
  }
  return name;
}

bool sameCoordinateSystem(const std::string& a, const std::string& b) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  if (a.empty() || b.empty() || a == b) return true;
  const SpatialReference first = fromWkt(a);
  const SpatialReference second = fromWkt(b);
  // A system GDAL cannot read is equal only to the very same text.
  if (!first || !second) return false;
  return OSRIsSame(first.get(), second.get()) != 0;
}

std::string esriWkt(const std::string& wkt) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  const SpatialReference srs = fromWkt(wkt);
  if (!srs) return {};
  const char* const options[] = {"FORMAT=WKT1_ESRI", nullptr};
  char* text = nullptr;
  std::string esri;
  if (OSRExportToWktEx(srs.get(), &text, options) == OGRERR_NONE && text != nullptr) esri = text;
  CPLFree(text);
  return esri;
}

}  // namespace vellumar::formats
