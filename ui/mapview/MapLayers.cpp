#include "ui/mapview/MapLayers.h"

#include <algorithm>
#include <cmath>

#include "engine/LinePacking.h"
#include "engine/Registry.h"
#include "ui/mapview/MapViewMessages.h"

namespace vellumar::ui::mapview {
namespace {

// The level classes of a lines operand whose lines carry at least two different values
// (isolines); none for lines of one value, which carry no levels.
std::optional<ColorClasses> lineLevels(const engine::Operand& lines, double missingValue) {
  const auto values = lines.points().values();
  std::optional<double> low;
  std::optional<double> high;
  engine::forEachPackedPart(lines, [&](engine::PackedPart part) {
    if (part.count == 0) return;
    const double v = values[part.first];
    if (v == missingValue || !std::isfinite(v)) return;
    low = std::min(low.value_or(v), v);
    high = std::max(high.value_or(v), v);
  });
  if (!low || !(*high > *low)) return std::nullopt;
  return ColorClasses(*low, *high);
}

}  // namespace

bool canDraw(const engine::Operand& value) {
  if (value.isNumber()) return false;
  return value.kind() != engine::Kind::Data || value.points().hasCoordinates();
}

std::optional<std::size_t> layerIndex(const MapLayers& layers, int id) {
  for (std::size_t i = 0; i < layers.size(); ++i) {
    if (layers[i].id == id) return i;
  }
  return std::nullopt;
}

MapLayer makeLayer(int id, std::string name, engine::Operand value, bool visible,
                   double missingValue) {
  MapLayer layer;
  layer.id = id;
  layer.name = std::move(name);
  layer.visible = visible;
  layer.value = std::move(value);
  if (visible) readRecords(layer, missingValue);
  return layer;
}

void readRecords(MapLayer& layer, double missingValue) {
  if (layer.recordsRead) return;
  layer.choropleth = Choropleth::of(layer.value, missingValue);
  if (layer.value.kind() == engine::Kind::Lines)
    layer.levels = lineLevels(layer.value, missingValue);
  layer.recordsRead = true;
}

MapLayers registryLayers(const engine::Registry& registry, const engine::Operand& shown,
                         std::string_view shownName, double missingValue, Language language) {
  MapLayers layers;
  int id = 0;
  const auto shownStyle = [](MapLayer& layer) {
    layer.filled = true;
    layer.byValue = true;
  };
  if (shownName.empty() || registry.find(shownName) == nullptr) {
    layers.push_back(makeLayer(id++, text::kResultLayer.in(language), shown, true, missingValue));
    shownStyle(layers.back());
  }
  for (const auto& entry : registry.entries()) {
    if (!canDraw(entry->value)) continue;
    const bool isShown = !shownName.empty() && entry->name == shownName;
    // The shown entry is the copy the view was opened with, not a later value of the name.
    layers.push_back(
        makeLayer(id++, entry->name, isShown ? shown : entry->value, isShown, missingValue));
    layers.back().byValue = true;
    if (isShown) shownStyle(layers.back());
  }
  return layers;
}

std::optional<std::size_t> visibleGrid(const MapLayers& layers) {
  for (std::size_t i = 0; i < layers.size(); ++i) {
    if (layers[i].visible && layers[i].value.kind() == engine::Kind::Grid) return i;
  }
  return std::nullopt;
}

void setLayerVisible(MapLayers& layers, std::size_t index, bool visible) {
  if (index >= layers.size()) return;
  if (visible && layers[index].value.kind() == engine::Kind::Grid) {
    for (MapLayer& other : layers) {
      if (other.value.kind() == engine::Kind::Grid) other.visible = false;
    }
  }
  layers[index].visible = visible;
}

std::string coordinateUnit(std::string_view wkt) {
  constexpr std::string_view kUnit = "UNIT[\"";
  const std::size_t at = wkt.rfind(kUnit);
  if (at == std::string_view::npos) return {};
  const std::size_t from = at + kUnit.size();
  const std::size_t to = wkt.find('"', from);
  if (to == std::string_view::npos) return {};
  return std::string(wkt.substr(from, to - from));
}

}  // namespace vellumar::ui::mapview
