#include "engine/CoordinateSystems.h"

#include <algorithm>

#include "engine/EngineMessages.h"
#include "formats/CoordinateSystem.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

// The first grid among operands that has a coordinate system; null when none has.
const grid::Grid* firstPlacedGrid(OperandRefs operands) {
  for (const Operand* operand : operands) {
    const grid::Grid* grid = operand->gridValue();
    if (grid != nullptr && grid->georeference.hasCoordinateSystem()) return grid;
  }
  return nullptr;
}

// The first operand of any kind that has a coordinate system; null when none has.
const Operand* firstPlaced(OperandRefs operands) {
  for (const Operand* operand : operands) {
    if (!operand->coordinateSystem().empty()) return operand;
  }
  return nullptr;
}

}  // namespace

bool checkCoordinateSystems(S_Calculator& calc, OperandRefs operands) {
  const Operand* first = firstPlaced(operands);
  if (first == nullptr) return true;
  for (const Operand* operand : operands) {
    if (operand == first || operand->coordinateSystem().empty()) continue;
    if (!formats::sameCoordinateSystem(first->coordinateSystem(), operand->coordinateSystem())) {
      const bool grids = first->kind() == Kind::Grid && operand->kind() == Kind::Grid;
      const MessageText& message =
          grids ? text::kCoordinateSystemsDiffer : text::kOperandSystemsDiffer;
      calc.sink().record(sink_code::kMessage,
                         calc.contextName() + ": " + message.in(calc.language()));
      return false;
    }
  }
  return true;
}

bool inDegrees(OperandRefs operands) {
  return std::any_of(operands.begin(), operands.end(), [](const Operand* operand) {
    return formats::isGeographic(operand->coordinateSystem());
  });
}

std::optional<grid::Georeference> resultGeoreference(OperandRefs operands) {
  if (const grid::Grid* first = firstPlacedGrid(operands)) return first->georeference;
  if (const Operand* first = firstPlaced(operands)) {
    grid::Georeference placed;
    placed.wkt = first->coordinateSystem();
    placed.shortName = first->coordinateSystemName();
    return placed;
  }
  return std::nullopt;
}

void carryGeoreference(Operand& result, const std::optional<grid::Georeference>& georeference) {
  if (!georeference || result.isNumber()) return;
  if (result.kind() != Kind::Grid) {
    if (result.coordinateSystem().empty()) {
      result.setCoordinateSystem(georeference->wkt, georeference->shortName);
    }
    return;
  }
  if (result.gridValue() != nullptr) result.adoptGeoreference(*georeference);
}

}  // namespace vellumar::engine
