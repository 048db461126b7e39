#include "engine/Operand.h"

#include <cassert>

#include "engine/CheckedRegion.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

const data::DATA& emptyData() {
  static const data::DATA empty;
  return empty;
}

const std::vector<std::int32_t>& emptyParts() {
  static const std::vector<std::int32_t> empty;
  return empty;
}

}  // namespace

Operand Operand::number(double value) {
  Operand result;
  result.number_ = value;
  return result;
}

Operand Operand::grid(GridPtr grid) {
  Operand result;
  result.kind_ = Kind::Grid;
  result.grid_ = std::move(grid);
  return result;
}

Operand Operand::newGrid(grid::Grid value) {
  Operand result = grid(std::make_shared<grid::Grid>(std::move(value)));
  result.gridIsNew_ = true;
  return result;
}

grid::Grid Operand::takeGrid() {
  // use_count() is exact here: every holder of a temporary's grid lives on the evaluating thread.
  grid::Grid taken = gridIsNew_ && grid_.use_count() == 1
                         ? std::move(const_cast<grid::Grid&>(*grid_))
                         : grid::Grid(*grid_);
  grid_.reset();
  gridIsNew_ = false;
  return taken;
}

void Operand::adoptGeoreference(const grid::Georeference& georeference) {
  if (!gridIsNew_ || grid_.use_count() != 1 || grid_->georeference.hasCoordinateSystem()) return;
  const_cast<grid::Grid&>(*grid_).georeference = georeference;
}

const std::string& Operand::coordinateSystem() const {
  static const std::string none;
  if (grid_) return grid_->georeference.wkt;
  return system_ ? system_->wkt : none;
}

const std::string& Operand::coordinateSystemName() const {
  static const std::string none;
  if (grid_) return grid_->georeference.shortName;
  return system_ ? system_->shortName : none;
}

void Operand::setCoordinateSystem(std::string wkt, std::string shortName) {
  if (kind_ == Kind::Number || kind_ == Kind::Grid) return;
  system_ =
      wkt.empty()
          ? nullptr
          : std::make_shared<const Placement>(Placement{std::move(wkt), std::move(shortName)});
}

data::DATA Operand::takePoints() {
  // A copy shares the columns; dropping this operand's hold then leaves the copy their only
  // holder when this operand was.
  data::DATA taken = points();
  points_.reset();
  checked_.reset();  // the contents may now change: their check no longer holds
  return taken;
}

Operand Operand::data(DataPtr points) {
  Operand result;
  result.kind_ = Kind::Data;
  result.points_ = std::move(points);
  return result;
}

Operand Operand::lines(Kind kind, DataPtr points, PartsPtr parts, PartsPtr ids,
                       AttributesPtr attributes) {
  Operand result;
  result.kind_ = kind;
  result.points_ = std::move(points);
  result.parts_ = std::move(parts);
  result.ids_ = std::move(ids);
  result.attributes_ = result.ids_ ? std::move(attributes) : nullptr;
  result.checked_ = std::make_shared<CheckedRegion>();
  return result;
}

const data::DATA& Operand::points() const {
  return points_ ? *points_ : emptyData();
}

const std::vector<std::int32_t>& Operand::parts() const {
  return parts_ ? *parts_ : emptyParts();
}

const std::vector<std::int32_t>& Operand::ids() const {
  return ids_ ? *ids_ : emptyParts();
}

void Operand::assign(const Operand& source) {
  // Only the contents of the new kind are taken; those of the old kind are released, so a value
  // never shows (or keeps in memory) a grid or a table that belongs to an earlier value.
  kind_ = source.kind_;
  number_ = kind_ == Kind::Number ? source.number_ : 0.0;
  grid_ = kind_ == Kind::Grid ? source.grid_ : nullptr;
  gridIsNew_ = kind_ == Kind::Grid && source.gridIsNew_;
  const bool hasPoints = kind_ == Kind::Data || isLineKind();
  points_ = hasPoints ? source.points_ : nullptr;
  parts_ = isLineKind() ? source.parts_ : nullptr;
  ids_ = isLineKind() ? source.ids_ : nullptr;
  attributes_ = isLineKind() ? source.attributes_ : nullptr;
  checked_ = isLineKind() ? source.checked_ : nullptr;
  system_ = hasPoints ? source.system_ : nullptr;
}

void Operand::setKind(Kind kind) {
  // Polygons and lines share their contents; no other change of kind keeps a meaning.
  assert(kind == kind_ || (isLineKind() && (kind == Kind::Polygon || kind == Kind::Lines)));
  kind_ = kind;
}

}  // namespace vellumar::engine
