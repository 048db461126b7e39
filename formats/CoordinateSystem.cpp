#include "formats/CoordinateSystem.h"

#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include <map>
#include <memory>
#include <mutex>
#include <utility>

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
  // The same two spellings meet again and again (every operation of an evaluation per record
  // compares its operands): GDAL's answer is kept, for a bounded number of pairs.
  static std::mutex mutex;
  static std::map<std::pair<std::string, std::string>, bool> known;
  constexpr std::size_t kMostPairs = 64;
  std::pair<std::string, std::string> key = a < b ? std::pair(a, b) : std::pair(b, a);
  {
    const std::lock_guard lock(mutex);
    if (const auto found = known.find(key); found != known.end()) return found->second;
  }
  const SpatialReference first = fromWkt(a);
  const SpatialReference second = fromWkt(b);
  // A system GDAL cannot read is equal only to the very same text.
  const bool same = first && second && OSRIsSame(first.get(), second.get()) != 0;
  const std::lock_guard lock(mutex);
  if (known.size() >= kMostPairs) known.clear();
  known.emplace(std::move(key), same);
  return same;
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
