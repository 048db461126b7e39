#include "geometry/LayerRegion.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <new>
#include <utility>
#include <vector>

#include "common/MemoryGuard.h"
#include "geometry/GeosSupport.h"
#include "geometry/PolygonCheck.h"
#include "geometry/SegmentGrid.h"
#include "geometry/SetOperations.h"

namespace vellumar::geometry {
namespace {

using detail::GeometryDeleter;
using detail::GeometryPtr;

// Overlaps below this share of the smaller record's area are the rounding of a shared border.
constexpr double kOverlapShare = 1e-9;

// A record of a layer: the region of the rings of one id, and its area.
struct Record {
  std::int32_t id = 0;
  Region region;
  double area = 0.0;
};

double regionArea(const Region& region) {
  double total = 0.0;
  for (const Line& ring : region.lines()) total -= ring.signedArea();
  return total;
}

double geosArea(GEOSContextHandle_t handle, const GEOSGeometry* geometry) {
  double area = 0.0;
  return GEOSArea_r(handle, geometry, &area) == 1 ? area : -1.0;
}

// The records' polygons, each a GEOS multipolygon; empty when GEOS refuses one.
std::vector<GeometryPtr> recordPolygons(GEOSContextHandle_t handle,
                                        const std::vector<Record>& records) {
  std::vector<GeometryPtr> polygons;
  polygons.reserve(records.size());
  for (const Record& record : records) {
    polygons.push_back(detail::toGeos(handle, record.region, regionNesting(record.region)));
    if (!polygons.back()) return {};
  }
  return polygons;
}

// The polygons of every record in one collection, which owns copies of them.
GeometryPtr collectionOf(GEOSContextHandle_t handle, const std::vector<GeometryPtr>& records) {
  std::vector<GEOSGeometry*> parts;
  for (const GeometryPtr& record : records) {
    const int count = GEOSGetNumGeometries_r(handle, record.get());
    for (int k = 0; k < count; ++k) {
      parts.push_back(GEOSGeom_clone_r(handle, GEOSGetGeometryN_r(handle, record.get(), k)));
    }
  }
  return GeometryPtr(GEOSGeom_createCollection_r(handle, GEOS_MULTIPOLYGON, parts.data(),
                                                 static_cast<unsigned int>(parts.size())),
                     GeometryDeleter{handle});
}

// The union of the records: the union of a coverage where it holds (valid, and of the records'
// total area), else GEOS's general union.
GeometryPtr unionOf(GEOSContextHandle_t handle, const GEOSGeometry* all, double total) {
  GeometryPtr merged(GEOSCoverageUnion_r(handle, all), GeometryDeleter{handle});
  if (merged && GEOSisValid_r(handle, merged.get()) == 1 &&
      std::fabs(geosArea(handle, merged.get()) - total) <= kOverlapShare * total) {
    return merged;
  }
  return GeometryPtr(GEOSUnaryUnion_r(handle, all), GeometryDeleter{handle});
}

// Two records whose interiors overlap by more than the rounding of a shared border: the pairs
// whose rectangles overlap are measured, in record order. {-1, -1} when there is none.
std::pair<std::ptrdiff_t, std::ptrdiff_t> overlappingPair(
    GEOSContextHandle_t handle, const std::vector<Record>& records,
    const std::vector<GeometryPtr>& polygons) {
  Rect all;
  for (const Record& record : records) all.unite(record.region.rect());
  SegmentGrid grid(all, SegmentGrid::crossingSearchCells(2 * records.size()));
  for (std::size_t k = 0; k < records.size(); ++k) grid.addBox(records[k].region.rect(), k);
  grid.build();
  std::pair<std::ptrdiff_t, std::ptrdiff_t> found{-1, -1};
  grid.forEachOverlappingPair([&](const SegmentRef& a, const SegmentRef& b) {
    const auto i = static_cast<std::size_t>(std::min(a.line, b.line));
    const auto j = static_cast<std::size_t>(std::max(a.line, b.line));
    if (GEOSRelatePattern_r(handle, polygons[i].get(), polygons[j].get(), "T********") != 1) {
      return true;
    }
    const GeometryPtr common(GEOSIntersection_r(handle, polygons[i].get(), polygons[j].get()),
                             GeometryDeleter{handle});
    const double smaller = std::min(records[i].area, records[j].area);
    if (!common || geosArea(handle, common.get()) <= kOverlapShare * smaller) return true;
    const auto pair =
        std::make_pair(static_cast<std::ptrdiff_t>(i), static_cast<std::ptrdiff_t>(j));
    if (found.first < 0 || pair < found) found = pair;
    return true;
  });
  return found;
}

// The records of the cover, each checked alone; false when one fails the check.
bool checkedRecords(const Cover& cover, std::vector<Record>& records) {
  for (Cover& rings : recordsOf(cover)) {
    Record record;
    record.id = rings[0].id;
    if (!buildRegion(std::move(rings), record.region)) return false;
    record.area = regionArea(record.region);
    records.push_back(std::move(record));
  }
  return true;
}

LayerRegion unionOfRecords(const Cover& cover, Region& region, ErrorSink* progress) {
  std::vector<Record> records;
  if (!checkedRecords(cover, records) || records.size() < 2) return {};
  const detail::InterruptScope interrupts(progress);
  const detail::GeosContext context;
  const GEOSContextHandle_t handle = context.get();
  if (handle == nullptr) return {};
  const std::vector<GeometryPtr> polygons = recordPolygons(handle, records);
  if (polygons.empty()) return {};
  double total = 0.0;
  for (const Record& record : records) total += record.area;
  const GeometryPtr all = collectionOf(handle, polygons);
  GeometryPtr merged = all ? unionOf(handle, all.get(), total) : GeometryPtr(nullptr, {handle});
  if (detail::cancelled(progress)) return {LayerStatus::Cancelled};
  if (!merged) return {};
  if (total - geosArea(handle, merged.get()) > kOverlapShare * total) {
    const auto [i, j] = overlappingPair(handle, records, polygons);
    if (detail::cancelled(progress)) return {LayerStatus::Cancelled};
    if (i >= 0) {
      const std::int32_t a = records[static_cast<std::size_t>(i)].id;
      const std::int32_t b = records[static_cast<std::size_t>(j)].id;
      return {LayerStatus::Overlap, std::min(a, b), std::max(a, b)};
    }
  }
  Region united;
  if (!detail::readPolygons(handle, merged.get(), united)) return {};
  assignRingAttributes(united, cover, Cover(), roundingScale(cover.rect()));
  Region checked;
  if (!buildRegion(std::move(united), checked)) return {};
  region = std::move(checked);
  return {LayerStatus::Done};
}

}  // namespace

std::vector<Cover> recordsOf(const Cover& cover) {
  std::vector<Cover> groups;
  std::map<std::int32_t, std::size_t> index;
  for (const Line& ring : cover.lines()) {
    const auto [at, fresh] = index.try_emplace(ring.id, groups.size());
    if (fresh) groups.emplace_back();
    groups[at->second].appendLine(ring);
  }
  return groups;
}

LayerRegion buildLayerRegion(const Cover& cover, Region& region, ErrorSink* progress) {
  if (buildRegion(cover, region)) return {LayerStatus::Done};
  const LayerRegion united = unionOfRecords(cover, region, progress);
  // GEOS answers a refused allocation with a null geometry, which is no fault of the layer.
  if (united.status != LayerStatus::Done) memory::throwIfRefused();
  return united;
}

}  // namespace vellumar::geometry
