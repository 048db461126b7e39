#pragma once

#include <cstddef>
#include <vector>

#include "geometry/Geometry.h"

namespace vellumar::geometry {

// Rings of a polygon cover grouped into records: the outer rings (negative area) of one id form a
// record, in the order of their first ring, and each is followed by the holes (positive area) it
// takes, all as cover indices. A hole goes to the outer ring that holds its first point, one of its
// own id first, else the smallest (the boundary right around it), else the first in cover order.
// Rings of zero area and holes inside no outer ring belong to no record. The polygon exports write
// one feature per record.
std::vector<std::vector<std::size_t>> polygonRecords(const Cover& cover);

}  // namespace vellumar::geometry
