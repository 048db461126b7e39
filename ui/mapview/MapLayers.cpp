#include "ui/mapview/MapLayers.h"

#include "engine/Registry.h"
#include "ui/mapview/MapViewMessages.h"

namespace vellumar::ui::mapview {
namespace {

// What the view can draw: no numbers, no data without coordinates.
bool drawable(const engine::Operand& value) {
  if (value.isNumber()) return false;
  return value.kind() != engine::Kind::Data || value.points().hasCoordinates();
}

}  // namespace

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
    if (!drawable(entry->value)) continue;
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
