// Feeds arbitrary bytes to the value-file reader beside a fixed line file, and checks that every
// loaded value survives saving and reloading to 12 significant digits.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "geometry/LineFile.h"

using namespace vellumar::geometry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr std::string_view kLines =
      "1\n0 0\n1 0\n1 1\n0 0\nEND\n2\n5 5\n6 6\nEND\n-3\nEND\n0\n2 2\nEND\nEND\n";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Cover cover;
  if (!parseLineFile(kLines, bytes, cover)) return 0;
  if (cover.size() != 4) std::abort();
  Cover again;
  if (!parseLineFile(formatLineFile(cover), formatValueFile(cover), again)) std::abort();
  for (std::size_t i = 0; i < cover.size(); ++i) {
    const double a = cover[i].value;
    const double b = again[i].value;
    if (std::isnan(a) != std::isnan(b)) std::abort();
    if (!std::isnan(a) && std::fabs(a - b) > 1e-11 * std::fabs(a)) std::abort();
  }
  return 0;
}
