// Feeds arbitrary bytes to the line-file reader: the bytes before the first NUL are the line file,
// those after it (when there is one) the value file. Whatever loads is also saved and reloaded,
// checked as a polygon, and queried through the prepared index, which must agree with the
// single-point rules.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "geometry/Crossings.h"
#include "geometry/LineFile.h"
#include "geometry/PointInPolygon.h"
#include "geometry/PolygonCheck.h"

using namespace vellumar::geometry;

namespace {

void checkQueries(const Cover& cover) {
  const PreparedPolygon prepared(cover);
  int queries = 0;
  for (const Line& line : cover.lines()) {
    for (const Point& p : line.points()) {
      if (++queries > 200) return;
      for (const double dx : {0.0, 0.5}) {
        const double x = p.x + dx;
        if (prepared.insideInnermost(x, p.y) != insideInnermost(cover, x, p.y)) std::abort();
        if (prepared.insideEvenOdd(x, p.y, true) != insideEvenOdd(cover, x, p.y, true))
          std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = bytes.find('\0');
  std::optional<std::string_view> values;
  if (nul != std::string_view::npos) values = bytes.substr(nul + 1);
  Cover cover;
  if (!parseLineFile(bytes.substr(0, nul), values, cover)) return 0;

  Cover again;
  if (!parseLineFile(formatLineFile(cover), formatValueFile(cover), again) ||
      again.size() != cover.size()) {
    std::abort();
  }

  if (cover.pointCount() > 2000) return 0;
  findSelfCrossings(cover);
  Region region;
  if (buildRegion(cover, region)) checkQueries(region);
  checkQueries(cover);
  return 0;
}
