#include "engine/CoordinateSystems.h"

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

}  // namespace

bool checkCoordinateSystems(S_Calculator& calc, OperandRefs operands) {
  const grid::Grid* first = firstPlacedGrid(operands);
  if (first == nullptr) return true;
  for (const Operand* operand : operands) {
    const grid::Grid* grid = operand->gridValue();
    if (grid == nullptr || grid == first) continue;
    if (!formats::sameCoordinateSystem(first->georeference.wkt, grid->georeference.wkt)) {
      calc.sink().record(
          sink_code::kMessage,
          calc.contextName() + ": " + text::kCoordinateSystemsDiffer.in(calc.language()));
      return false;
    }
  }
  return true;
}

std::optional<grid::Georeference> resultGeoreference(OperandRefs operands) {
  if (const grid::Grid* first = firstPlacedGrid(operands)) return first->georeference;
  return std::nullopt;
}

void carryGeoreference(Operand& result, const std::optional<grid::Georeference>& georeference) {
  if (georeference && result.kind() == Kind::Grid && result.gridValue() != nullptr) {
    result.adoptGeoreference(*georeference);
  }
}

}  // namespace vellumar::engine
