#include "ui/mapview/Choropleth.h"

#include <algorithm>
#include <cmath>

#include "engine/LayerRecords.h"
#include "geometry/PointInPolygon.h"

namespace vellumar::ui::mapview {
namespace {

// The first non-empty text attribute of a record's row.
std::string firstText(const data::AttributeTable* table, std::int32_t id) {
  const std::vector<std::string>* row = table != nullptr ? table->row(id) : nullptr;
  if (row == nullptr) return {};
  for (std::size_t j = 0; j < table->fields.size() && j < row->size(); ++j) {
    if (table->fields[j].type == 'C') return (*row)[j];
  }
  return {};
}

}  // namespace

std::optional<Choropleth> Choropleth::of(const engine::Operand& polygon, double missingValue) {
  if (polygon.kind() != engine::Kind::Polygon || !polygon.points().hasCoordinates()) return {};
  Choropleth map;
  for (engine::RecordRings& rings : engine::layerRecordRings(polygon)) {
    if (rings.rings.empty()) continue;
    Record record;
    record.number = rings.number;
    record.rings = std::move(rings.rings);
    const double value = record.rings[0].value;
    if (std::isfinite(value) && value != missingValue) {
      record.value = value;
      map.values_.push_back(value);
    }
    record.label = firstText(polygon.attributes().get(), record.rings[0].id);
    map.records_.push_back(std::move(record));
  }
  if (map.values_.empty()) return {};
  const auto [low, high] = std::minmax_element(map.values_.begin(), map.values_.end());
  map.minimum_ = *low;
  map.maximum_ = *high;
  if (!(map.maximum_ > map.minimum_)) return {};
  return map;
}

const Choropleth::Record* Choropleth::recordAt(double x, double y) const {
  for (const Record& record : records_) {
    if (record.rings.rect().contains(x, y) && geometry::insideEvenOdd(record.rings, x, y, true)) {
      return &record;
    }
  }
  return nullptr;
}

}  // namespace vellumar::ui::mapview
