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
  const char* authority = detail::gdal().OSRGetAuthorityName(srs, nullptr);
  const char* code = detail::gdal().OSRGetAuthorityCode(srs, nullptr);
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
  OGRSpatialReferenceH* matches = detail::gdal().OSRFindMatches(srs, nullptr, &count, &confidence);
  std::string name;
  if (count > 0 && confidence[0] >= kLeastConfidence) name = authorityName(matches[0]);
  detail::gdal().OSRFreeSRSArray(matches);
  detail::gdal().VSIFree(confidence);
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
    if (const char* own = detail::gdal().OSRGetName(srs.get())) name = own;
  }
  return name;
}

namespace {

// Answers of GDAL about texts of systems, kept for a bounded number of questions: the same few
// spellings meet again and again (every operation of an evaluation per record asks).
template <class Key>
class Answers {
 public:
  template <class Ask>
  bool get(const Key& key, Ask&& ask) {
    {
      const std::lock_guard lock(mutex_);
      if (const auto found = known_.find(key); found != known_.end()) return found->second;
    }
    const bool answer = ask();
    const std::lock_guard lock(mutex_);
    if (known_.size() >= kMostAnswers) known_.clear();
    known_.emplace(key, answer);
    return answer;
  }

 private:
  static constexpr std::size_t kMostAnswers = 64;
  std::mutex mutex_;
  std::map<Key, bool> known_;
};

}  // namespace

bool sameCoordinateSystem(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty() || a == b) return true;
  static Answers<std::pair<std::string, std::string>> answers;
  return answers.get(a < b ? std::pair(a, b) : std::pair(b, a), [&] {
    const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
    const SpatialReference first = fromWkt(a);
    const SpatialReference second = fromWkt(b);
    // A system GDAL cannot read is equal only to the very same text.
    return first && second && detail::gdal().OSRIsSame(first.get(), second.get()) != 0;
  });
}

bool isGeographic(const std::string& wkt) {
  if (wkt.empty()) return false;
  static Answers<std::string> answers;
  return answers.get(wkt, [&] {
    const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
    const SpatialReference srs = fromWkt(wkt);
    return srs && detail::gdal().OSRIsGeographic(srs.get()) != 0;
  });
}

std::string esriWkt(const std::string& wkt) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  const SpatialReference srs = fromWkt(wkt);
  if (!srs) return {};
  const char* const options[] = {"FORMAT=WKT1_ESRI", nullptr};
  char* text = nullptr;
  std::string esri;
  if (detail::gdal().OSRExportToWktEx(srs.get(), &text, options) == OGRERR_NONE && text != nullptr)
    esri = text;
  detail::gdal().VSIFree(text);
  return esri;
}

}  // namespace vellumar::formats
