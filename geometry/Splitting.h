#pragma once

#include <cstddef>
#include <vector>

#include "geometry/Geometry.h"

namespace vellumar::geometry {

// Splits the lines of cover at crossing points that lie on them (line and segment indices refer
// to cover as it is). The points are sorted by sortCrossings and applied from the last to the
// first, so earlier indices stay valid. A point on segment k of line L:
// - changes nothing when k is out of range or the point equals L's first or last point;
// - otherwise cuts L into points 0..k (+ the point) and (the point +) k+1..n-1, reusing a vertex
//   the point falls on exactly;
// - both parts are cleaned at both ends (points within 1e-6 in x and y of their neighbour towards
//   the end are removed) and get their rectangles recomputed;
// - the first part replaces L in place, the second is appended at the end of the cover; both keep
//   L's id, value and visited flag.
void splitAtCrossings(Cover& cover, std::vector<CrPoint> crossings);

// Splits the lines at the region's boundary and keeps the pieces inside the region (keep) or
// outside it (!keep). A piece's test point is the middle of its segment for a 2-point piece,
// otherwise its vertex floor(n/2); inside by the even-odd rule with the rectangle test. Pieces of
// fewer than 2 points stay. An empty region leaves the lines unchanged. The region's rectangles
// are used as they are (a region built by the polygon check or a set operation has them current);
// the lines' are recomputed.
void clip(const Region& region, Cover& lines, bool keep);

// The point of segment a-b nearest to (x, y), its parameter t in [0, 1] along a-b (b exactly at
// t = 1) and its distance; a segment of zero length is the point a.
struct SegmentNearest {
  Point point;
  double t = 0.0;
  double distance = 0.0;
};
SegmentNearest nearestOnSegment(const Point& a, const Point& b, double x, double y);

// The point of a cover nearest to (x, y): distance -1 for an empty cover; otherwise the smallest
// distance to any segment (the first line on ties), the nearest point and that line's index. A
// line of one point counts as that point; a cover whose lines have no points gives distance -1.
struct NearestPoint {
  double distance = -1.0;
  Point point;
  std::size_t line = 0;
};
NearestPoint nearestOnCover(const Cover& cover, double x, double y);

}  // namespace vellumar::geometry
