#pragma once

#include <cstdint>

#include "geometry/Geometry.h"

namespace vellumar::geometry {

// Builds a region from a cover (the polygon check). Fails on an empty cover. With check off the
// cover is taken as it is. Otherwise every line must be a closed ring of at least 2 points with
// finite coordinates, no two rings may cross or share a stretch of boundary and no ring may cross
// itself (see linesCrossOrOverlap); rings may touch at isolated points, as the parts of a map
// that meet at a corner do. Then each ring's nesting depth is taken from ringNesting, and rings
// are reversed where needed so that even depths run clockwise (negative area) and odd depths
// (holes) counter-clockwise; the region keeps that nesting (Region::nesting), which the reversal
// leaves true. Rings keep their order, ids and values. On failure region is left
// unchanged. The cover is taken by value: a caller done with its cover moves it in, and the
// region takes over its rings without a copy.
[[nodiscard]] bool buildRegion(Cover cover, Region& region, bool check = true);

// The nesting of the rings of a cover (see RingNesting). Ring i lies in ring j when most of the
// middles of i's first three edges lie in j by the single-ring rule and in j's rectangle; for
// rings that do not touch this is the same as asking for any one point of i.
RingNesting ringNesting(const Cover& rings);

// The nesting of a region's rings: the one its check kept when it covers every ring, else found
// afresh by ringNesting. The set operations and the conversion to GEOS ask here, so that a region
// that passed the check has its nesting found once, by the check.
RingNesting regionNesting(const Region& region);

namespace detail {
// How many times ringNesting has run in this process, for tests that count the work done.
std::uint64_t ringNestingCalls();
}  // namespace detail

}  // namespace vellumar::geometry
