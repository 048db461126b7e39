// Feeds arbitrary bytes to the shapefile conversions. The input holds the .shp length and the .shx
// length (4 bytes each, little-endian, clamped to what follows), then the .shp, the .shx and the
// rest as the .dbf; the three files are written to a private folder and read by every
// conversion. Lines that load are saved as a shapefile again and must read back unchanged.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "data/Shapefile.h"

using namespace vellumar;

namespace {

// A private folder for the files of one input, removed when the program ends. The name lives in
// a plain array, so it is still there when the exit handler runs.
char gFolder[] = "/tmp/vellumar-shapefile-fuzz-XXXXXX";

void removeFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(gFolder, ignored);
}

std::string folder() {
  static const bool made = [] {
    if (mkdtemp(gFolder) == nullptr) std::abort();
    std::atexit(removeFolder);
    return true;
  }();
  (void)made;
  return gFolder;
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

std::uint32_t take32(std::string_view& bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4 && !bytes.empty(); ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0])) << (8 * i);
    bytes.remove_prefix(1);
  }
  return value;
}

std::string_view takeBytes(std::string_view& bytes, std::uint32_t length) {
  const std::string_view part = bytes.substr(0, length);
  bytes.remove_prefix(part.size());
  return part;
}

void checkLineRoundTrip(const geometry::Cover& cover) {
  if (cover.pointCount() > 5000) return;
  const std::string copy = folder() + "/copy.shp";
  data::ShapefileConverter converter;
  geometry::Cover back;
  if (converter.CoverToShapefile(copy, cover, data::shape_type::kArc) != data::ShapeStatus::Done ||
      converter.ReadShapeLines(copy, back, "Atribute", "ID", "NAME") != data::ShapeStatus::Done ||
      back.size() != cover.size()) {
    std::abort();
  }
  // Every point comes back where it was, NaN as NaN.
  const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
  const auto samePoint = [&](geometry::Point a, geometry::Point b) {
    return same(a.x, b.x) && same(a.y, b.y);
  };
  for (std::size_t i = 0; i < cover.size(); ++i) {
    if (!std::ranges::equal(back[i].points(), cover[i].points(), samePoint)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::uint32_t shpLength = take32(bytes);
  const std::uint32_t shxLength = take32(bytes);
  const std::string path = folder() + "/input.shp";
  writeFile(path, takeBytes(bytes, shpLength));
  writeFile(folder() + "/input.shx", takeBytes(bytes, shxLength));
  writeFile(folder() + "/input.dbf", bytes);

  std::vector<std::string> fields;
  data::ListDbfFields(path, fields);
  data::ShapefileConverter converter;
  data::M_Data table;
  converter.ReadDbf(path, table);
  geometry::Cover cover;
  std::vector<std::string> names;
  const data::ShapeStatus lines =
      converter.ReadShapeLines(path, cover, fields.empty() ? "" : fields[0], "", "name", &names);
  if (lines == data::ShapeStatus::Done && names.size() != cover.size()) std::abort();
  const data::ShapeStatus tabled = converter.ShapefileToTable(path, table);
  if (tabled == data::ShapeStatus::Done && table.path() != path) std::abort();
  if (lines == data::ShapeStatus::Done) checkLineRoundTrip(cover);
  return 0;
}
