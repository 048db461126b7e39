#pragma once

#include <cstddef>
#include <vector>

#include "geometry/Geometry.h"

namespace vellumar::geometry {

// Builds a region from a cover (the polygon check). Fails on an empty cover. With check off the
// cover is taken as it is. Otherwise every line must be a closed ring of at least 2 points with
// finite coordinates, no two rings may cross or share a stretch of boundary and no ring may cross
// itself (see linesCrossOrOverlap); rings may touch at isolated points, as the parts of a map
// that meet at a corner do. Then each ring's nesting depth is taken from ringNesting, and rings
// are reversed where needed so that even depths run clockwise (negative area) and odd depths
// (holes) counter-clockwise. Rings keep their order, ids and values. On failure region is left
// unchanged. The cover is taken by value: a caller done with its cover moves it in, and the
// region takes over its rings without a copy.
[[nodiscard]] bool buildRegion(Cover cover, Region& region, bool check = true);

// How the closed, non-crossing rings of a cover nest: depth[i] counts the larger rings (by
// |signed area|, ties in cover order) that contain ring i, parent[i] is the smallest of them (-1
// when there is none). Ring i lies in ring j when most of the middles of i's first three edges
// lie in j by the single-ring rule and in j's rectangle; for rings that do not touch this is the
// same as asking for any one point of i. In a region, even depths are outer boundaries and islands,
// odd depths holes, and a hole's parent is the boundary it lies in.
struct RingNesting {
  std::vector<int> depth;
  std::vector<std::ptrdiff_t> parent;
};
RingNesting ringNesting(const Cover& rings);

}  // namespace vellumar::geometry
