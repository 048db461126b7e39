// Feeds arbitrary bytes to the DSAA grid reader; a grid that loads is also evaluated through its
// surface at a few points, inside and outside its rectangle, and on its edges.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "grid/DsaaFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vellumar::grid::Grid grid;
  // Nodes too many for the memory limit are refused with std::bad_alloc, as the program's guards
  // expect of every reader.
  try {
    if (!vellumar::grid::parseDsaa(std::string_view(reinterpret_cast<const char*>(data), size),
                                   grid)) {
      return 0;
    }
  } catch (const std::bad_alloc&) {
    return 0;
  }
  const double xs[] = {grid.left, grid.right, (grid.left + grid.right) / 2, grid.left - 1.0};
  const double ys[] = {grid.bottom, grid.top, (grid.bottom + grid.top) / 3, grid.top + 1.0};
  double sum = 0.0;
  for (const double x : xs) {
    for (const double y : ys) sum += grid.value(x, y);
  }
  grid.setMode(vellumar::grid::Interpolation::Bilinear);
  sum += grid.value(xs[2], ys[2]);
  volatile double keep = sum;  // keeps the evaluations from being optimised away
  (void)keep;
  return 0;
}
