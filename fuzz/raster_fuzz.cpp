// Feeds arbitrary bytes to the raster reader as an in-memory file. The first byte picks the name's
// extension, which steers the drivers that look at it; the rest is the file. A grid that loads is
// also evaluated through its surface at a few points, inside and outside its rectangle.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>

#include "formats/RasterFile.h"

namespace {

constexpr std::array<std::string_view, 6> kExtensions = {".tif", ".asc", ".img", ".grd", ".nc", ""};

// Left out: virtual rasters name other files, which a fuzzer would read from the machine it runs
// on; and libnetcdf allocates the lengths a damaged header claims (gigabytes) before it checks
// them against the file, which libFuzzer reports as running out of memory in that library.
// A header may claim a raster of gigabytes; the reader then asks for that much before the first
// row fails to read, which is sound for a program but which libFuzzer reports as running out of
// memory. A limit of 1 GB makes such claims fail at once, as they would on a smaller machine.
const bool kSkipped =
    setenv("GDAL_SKIP", "VRT netCDF", 1) == 0 && setenv("VELLUMAR_MEMORY_LIMIT", "1G", 1) == 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || !kSkipped) return 0;
  const std::string_view extension = kExtensions[data[0] % kExtensions.size()];
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  vellumar::grid::Grid grid;
  // A raster too large for the memory limit is refused with std::bad_alloc, as the program's
  // guards expect of every reader.
  try {
    if (!vellumar::formats::readRasterBytes(bytes, extension, 1, grid)) return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
  const double xs[] = {grid.left, grid.right, (grid.left + grid.right) / 2, grid.left - 1.0};
  const double ys[] = {grid.bottom, grid.top, (grid.bottom + grid.top) / 3, grid.top + 1.0};
  double sum = 0.0;
  for (const double x : xs) {
    for (const double y : ys) sum += grid.value(x, y);
  }
  volatile double keep = sum;  // keeps the evaluations from being optimised away
  (void)keep;
  return 0;
}
