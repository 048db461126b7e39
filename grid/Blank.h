#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace vellumar::grid {

// Blank (no-data) nodes. Real grids have holes: an elevation model is blank outside a border, a
// bathymetry blank on land. The DSAA format marks such a node with the blanking value 1.70141e38,
// and every reader of the format treats any value at or above it as blank; a NaN (for example the
// aspect of a flat node) has no value either. Every kernel that reads nodes asks this one test,
// and every kernel that makes a blank node writes kBlankValue, which files keep as "1.70141e+38".
//
// Infinities are numbers, not blanks: +inf stays an ordinary (if useless) value, as -inf does.
inline constexpr double kBlankValue = 1.70141e38;

inline constexpr bool isBlank(double v) {
  return !(v < kBlankValue) && v != std::numeric_limits<double>::infinity();
}

// A cheaper first test for loops over many values: true for every blank, and for the few other
// values whose magnitude is at or near the blanking value (infinities among them). It compares
// the high 32 bits of |v|, which compiles to whole vectors of integer compares where isBlank
// gives a branch per value; a loop that finds a candidate then asks isBlank.
inline bool mayBeBlank(double v) {
  constexpr std::uint32_t kBlankHigh =
      static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(kBlankValue) >> 32);
  const auto high = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(v) >> 32);
  return (high & 0x7FFFFFFFu) >= kBlankHigh;
}

}  // namespace vellumar::grid
