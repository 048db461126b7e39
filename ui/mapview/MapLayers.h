#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Language.h"
#include "engine/Operand.h"
#include "ui/mapview/Choropleth.h"
#include "ui/mapview/ColorClasses.h"

namespace vellumar::engine {
class Registry;
}

namespace vellumar::ui::mapview {

// One operand the map view can draw, with how the user chose to draw it.
struct MapLayer {
  int id = 0;  // stable across reordering, for the layer list's items
  std::string name;
  engine::Operand value;
  bool visible = false;
  // Polygons: filled (translucent over whatever is drawn beneath) or outlines only.
  bool filled = false;
  // Data: each point in the colour of its value's class rather than the plain black dot.
  bool byValue = false;
  // Polygons whose records carry values, drawn as a choropleth; found when the layer is first
  // shown, since a layer of many records takes a while to split into them.
  std::optional<Choropleth> choropleth;
  // Lines whose lines carry at least two different values (isolines): the classes of their
  // levels, which colour and label them; found with the choropleth.
  std::optional<ColorClasses> levels;
  bool recordsRead = false;
};

// The layers of a view, top first: the order the layer list shows and the reverse of the order
// they are drawn in (a grid, of which at most one is visible, is always drawn first).
using MapLayers = std::vector<MapLayer>;

// A layer for a value; a visible one has its choropleth found at once.
MapLayer makeLayer(int id, std::string name, engine::Operand value, bool visible,
                   double missingValue);
// Finds the layer's choropleth or line levels unless that was done before.
void readRecords(MapLayer& layer, double missingValue);

// The layers of a view opened on shown: every named operand of the registry the view can draw, in
// the registry's order, the one named shownName visible. A shown value without a name (the
// current result) comes first under the name "результат". Data are coloured by value; the shown
// polygon is filled, as the view has always drawn a single operand, the others start as outlines.
MapLayers registryLayers(const engine::Registry& registry, const engine::Operand& shown,
                         std::string_view shownName, double missingValue, Language language);

// What the view can draw: no numbers, no data without coordinates.
bool canDraw(const engine::Operand& value);

// The index of the layer with that id, if any.
std::optional<std::size_t> layerIndex(const MapLayers& layers, int id);

// The index of the visible grid layer, if any.
std::optional<std::size_t> visibleGrid(const MapLayers& layers);

// Makes the layer at index visible or hidden. A grid made visible hides every other grid, so
// that one raster lies under the rest.
void setLayerVisible(MapLayers& layers, std::size_t index, bool visible);

// The unit of a coordinate system's axes as its WKT names it ("metre", "degree"): the last UNIT
// of the text, which in WKT 1 and WKT 2 alike is that of the system's own axes; empty when it
// names none.
std::string coordinateUnit(std::string_view wkt);

}  // namespace vellumar::ui::mapview
