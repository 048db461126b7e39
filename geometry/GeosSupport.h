#pragma once

#include <geos_c.h>

#include <memory>

#include "common/ErrorSink.h"
#include "geometry/Geometry.h"
#include "geometry/PolygonCheck.h"

// What the files of this folder that call GEOS share: a context per call, owning pointers to
// GEOS geometries, the route of GEOS's interrupt checks to the user's cancel, and the conversion
// of regions to GEOS polygons and back. Only this folder includes it.
namespace vellumar::geometry::detail {

// A reentrant GEOS context for one call.
class GeosContext {
 public:
  GeosContext() : handle_(GEOS_init_r()) {}
  ~GeosContext() {
    if (handle_ != nullptr) GEOS_finish_r(handle_);
  }
  GeosContext(const GeosContext&) = delete;
  GeosContext& operator=(const GeosContext&) = delete;
  GEOSContextHandle_t get() const { return handle_; }

 private:
  GEOSContextHandle_t handle_;
};

struct GeometryDeleter {
  GEOSContextHandle_t handle;
  void operator()(GEOSGeometry* geometry) const { GEOSGeom_destroy_r(handle, geometry); }
};
using GeometryPtr = std::unique_ptr<GEOSGeometry, GeometryDeleter>;

// Routes the interrupt checks of GEOS on this thread to sink while it lives: a cancel asked for
// through the sink's progress makes the GEOS call under way fail at its next check.
class InterruptScope {
 public:
  explicit InterruptScope(ErrorSink* sink);
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  ErrorSink* saved_;
};

// Whether the sink holds the user's cancel.
bool cancelled(const ErrorSink* sink);

// The ring as a GEOS linear ring; null when GEOS refuses it.
GEOSGeometry* linearRing(GEOSContextHandle_t handle, const Line& ring);

// The rings as a GEOS multipolygon: each ring of even depth is an outer boundary with the rings
// whose parent it is as holes. Emptied rings and the holes of emptied boundaries are left out.
// Null when the nesting is not that of a region or GEOS fails.
GeometryPtr toGeos(GEOSContextHandle_t handle, const Cover& rings, const RingNesting& nesting);

// Appends the rings of every polygon in geometry (a polygon, multipolygon or collection; parts of
// lower dimension are left out) to region: outer boundaries clockwise, holes counter-clockwise.
// False when a ring is not a closed ring of at least 4 finite points or GEOS fails.
bool readPolygons(GEOSContextHandle_t handle, const GEOSGeometry* geometry, Region& region);

}  // namespace vellumar::geometry::detail
