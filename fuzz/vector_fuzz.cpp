// Feeds arbitrary bytes to the vector layer reader as an in-memory file. The first byte picks the
// name's extension, which steers the drivers that look at it, and what the layer is read as; the
// rest is the file. Layers that load have their lines measured, as an evaluation would.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/VectorFile.h"

namespace {

constexpr std::array<std::string_view, 6> kExtensions = {".geojson", ".gpkg", ".fgb",
                                                         ".kml",     ".gml",  ""};
constexpr std::array<vellumar::formats::VectorLoad, 3> kLoads = {
    vellumar::formats::VectorLoad::Lines, vellumar::formats::VectorLoad::Polygons,
    vellumar::formats::VectorLoad::Table};

// Left out: virtual formats that name other files, which a fuzzer would read from the machine it
// runs on; and GDAL's NAS reader (the German cadastre's GML), which leaks the coordinate system
// of a damaged file inside GDAL (GDAL 3.6), which the leak checker would report as ours. A header
// may claim a layer of gigabytes; a limit of 1 GB makes such claims fail at once, as they would
// on a smaller machine.
const bool kSkipped =
    setenv("GDAL_SKIP", "VRT OGR_VRT NAS", 1) == 0 && setenv("VELLUMAR_MEMORY_LIMIT", "1G", 1) == 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || !kSkipped) return 0;
  const std::string_view extension = kExtensions[data[0] % kExtensions.size()];
  const vellumar::formats::VectorLoad load = kLoads[(data[0] / kExtensions.size()) % kLoads.size()];
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  vellumar::formats::VectorContent content;
  if (!vellumar::formats::readVectorBytes(bytes, extension, load, content)) return 0;
  double sum = content.table.rowCount();
  for (const vellumar::geometry::Line& line : content.cover.lines())
    sum += line.length() + line.signedArea();
  volatile double keep = sum;  // keeps the measures from being optimised away
  (void)keep;
  return 0;
}
