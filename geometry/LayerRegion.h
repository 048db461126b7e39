#pragma once

#include <cstdint>
#include <vector>

#include "common/ErrorSink.h"
#include "geometry/Geometry.h"

namespace vellumar::geometry {

// Outcome of building the region of a polygon layer.
enum class LayerStatus {
  Done,       // region holds the layer's region
  Invalid,    // a ring or a record fails the polygon check
  Overlap,    // the interiors of two records overlap (LayerRegion::first and second)
  Cancelled,  // the user cancelled through the sink's progress hook
};

struct [[nodiscard]] LayerRegion {
  LayerStatus status = LayerStatus::Invalid;
  // The ids of two records whose interiors overlap, the smaller first (Overlap only).
  std::int32_t first = 0;
  std::int32_t second = 0;
};

// The records of a layer: the rings of each id, in the order of their first ring.
std::vector<Cover> recordsOf(const Cover& cover);

// Builds the region of a polygon layer, whose rings that share an id form one record (the parts
// of a shapefile record, the rings of one id in a polygon file), as the union of its records.
//
// A cover that passes the polygon check on its own is that region, as buildRegion makes it (its
// rings keep their ids and values). Otherwise the records may share stretches of boundary and
// touch, as the districts of a map do: each record must pass the polygon check alone, and no two
// records may overlap (an overlap of less than 1e-9 of the smaller record's area is taken as the
// rounding of a shared border). The region is then their union, which GEOS builds as the union of
// a coverage (and, where the borders match only within rounding, as a general union); its rings
// take the id and value of the record ring their first edge lies on.
//
// progress (may be null) is polled for cancel while GEOS works.
LayerRegion buildLayerRegion(const Cover& cover, Region& region, ErrorSink* progress = nullptr);

}  // namespace vellumar::geometry
