#include "geometry/GeosSupport.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace vellumar::geometry::detail {
namespace {

// GEOS 3.11 has one process-wide interrupt callback. It runs on the thread that checks for
// interrupts, so a thread-local pointer tells it which call's sink to ask; requesting the interrupt
// from inside the callback makes that same check throw at once.
thread_local ErrorSink* tActiveSink = nullptr;
thread_local std::int64_t tInterruptChecks = 0;
// GEOS checks very often (every few hundred operations); the sink is asked every this many checks.
constexpr std::int64_t kChecksPerPoll = 1024;
GEOSInterruptCallback* previousCallback = nullptr;

void onInterruptCheck() {
  if (previousCallback != nullptr) previousCallback();
  ErrorSink* sink = tActiveSink;
  if (sink == nullptr || ++tInterruptChecks % kChecksPerPoll != 0) return;
  if (!sink->progressStep(tInterruptChecks / kChecksPerPoll)) GEOS_interruptRequest();
}

// A GEOS ring as a line running clockwise (outer) or counter-clockwise; false when it is not a
// closed ring of at least 4 finite points.
bool readRing(GEOSContextHandle_t handle, const GEOSGeometry* ring, bool outer, Line& line) {
  const GEOSCoordSequence* sequence = GEOSGeom_getCoordSeq_r(handle, ring);
  unsigned int size = 0;
  if (sequence == nullptr || GEOSCoordSeq_getSize_r(handle, sequence, &size) == 0) return false;
  std::vector<double> xy(2 * static_cast<std::size_t>(size));
  if (size > 0 && GEOSCoordSeq_copyToBuffer_r(handle, sequence, xy.data(), 0, 0) == 0) {
    return false;
  }
  std::vector<Point> points(size);
  for (std::size_t i = 0; i < size; ++i) {
    points[i] = Point{xy[2 * i], xy[2 * i + 1], 0};
    if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y)) return false;
  }
  line.assign(std::move(points));
  if (line.size() < 4 || !line.isClosed()) return false;
  if ((line.signedArea() > 0.0) == outer) line.reverse();
  return true;
}

}  // namespace

InterruptScope::InterruptScope(ErrorSink* sink) : saved_(tActiveSink) {
  static const bool installed = [] {
    previousCallback = GEOS_interruptRegisterCallback(&onInterruptCheck);
    return true;
  }();
  (void)installed;
  tActiveSink = sink;
  tInterruptChecks = 0;
}

InterruptScope::~InterruptScope() {
  tActiveSink = saved_;
}

bool cancelled(const ErrorSink* sink) {
  return sink != nullptr && sink->code() == sink_code::kCancelled;
}

GEOSGeometry* linearRing(GEOSContextHandle_t handle, const Line& ring) {
  std::vector<double> xy;
  xy.reserve(2 * ring.size());
  for (const Point& p : ring.points()) {
    xy.push_back(p.x);
    xy.push_back(p.y);
  }
  GEOSCoordSequence* sequence = GEOSCoordSeq_copyFromBuffer_r(
      handle, xy.data(), static_cast<unsigned int>(ring.size()), 0, 0);
  return sequence == nullptr ? nullptr : GEOSGeom_createLinearRing_r(handle, sequence);
}

GeometryPtr toGeos(GEOSContextHandle_t handle, const Cover& rings, const RingNesting& nesting) {
  const GeometryDeleter deleter{handle};
  const std::size_t n = rings.size();
  std::vector<std::vector<std::size_t>> holes(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (nesting.depth[i] % 2 == 0 || rings[i].empty()) continue;
    const std::ptrdiff_t parent = nesting.parent[i];
    if (parent < 0 || nesting.depth[static_cast<std::size_t>(parent)] % 2 != 0) {
      return GeometryPtr(nullptr, deleter);
    }
    holes[static_cast<std::size_t>(parent)].push_back(i);
  }
  std::vector<GeometryPtr> polygons;
  for (std::size_t i = 0; i < n; ++i) {
    if (nesting.depth[i] % 2 != 0 || rings[i].empty()) continue;
    GeometryPtr shell(linearRing(handle, rings[i]), deleter);
    if (!shell) return GeometryPtr(nullptr, deleter);
    std::vector<GeometryPtr> holeRings;
    for (const std::size_t h : holes[i]) {
      holeRings.emplace_back(linearRing(handle, rings[h]), deleter);
      if (!holeRings.back()) return GeometryPtr(nullptr, deleter);
    }
    std::vector<GEOSGeometry*> raw;
    for (GeometryPtr& hole : holeRings) raw.push_back(hole.release());
    GEOSGeometry* polygon = GEOSGeom_createPolygon_r(handle, shell.release(), raw.data(),
                                                     static_cast<unsigned int>(raw.size()));
    if (polygon == nullptr) return GeometryPtr(nullptr, deleter);
    polygons.emplace_back(polygon, deleter);
  }
  std::vector<GEOSGeometry*> raw;
  for (GeometryPtr& polygon : polygons) raw.push_back(polygon.release());
  return GeometryPtr(GEOSGeom_createCollection_r(handle, GEOS_MULTIPOLYGON, raw.data(),
                                                 static_cast<unsigned int>(raw.size())),
                     deleter);
}

bool readPolygons(GEOSContextHandle_t handle, const GEOSGeometry* geometry, Region& region) {
  const int type = GEOSGeomTypeId_r(handle, geometry);
  if (type == GEOS_MULTIPOLYGON || type == GEOS_GEOMETRYCOLLECTION) {
    const int parts = GEOSGetNumGeometries_r(handle, geometry);
    if (parts < 0) return false;
    for (int i = 0; i < parts; ++i) {
      if (!readPolygons(handle, GEOSGetGeometryN_r(handle, geometry, i), region)) return false;
    }
    return true;
  }
  if (type != GEOS_POLYGON) return type >= 0;
  if (GEOSisEmpty_r(handle, geometry) == 1) return true;
  Line ring;
  if (!readRing(handle, GEOSGetExteriorRing_r(handle, geometry), true, ring)) return false;
  region.appendLine(std::move(ring));
  const int holes = GEOSGetNumInteriorRings_r(handle, geometry);
  if (holes < 0) return false;
  for (int h = 0; h < holes; ++h) {
    Line hole;
    if (!readRing(handle, GEOSGetInteriorRingN_r(handle, geometry, h), false, hole)) return false;
    region.appendLine(std::move(hole));
  }
  return true;
}

}  // namespace vellumar::geometry::detail
