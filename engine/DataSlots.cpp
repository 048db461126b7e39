#include "engine/DataSlots.h"

#include <algorithm>
#include <memory>

#include "common/CFormat.h"
#include "data/DataFileWriter.h"
#include "data/DataMessages.h"
#include "data/Shapefile.h"
#include "engine/LayerPaths.h"
#include "formats/CoordinateSystem.h"

namespace vellumar::engine {
namespace {

// Layer tables carry their coordinates in columns named X and Y, wherever they stand (point
// layers put them first; the tables of line and polygon shapefiles have them where the DBF has
// them).
data::CoordinateColumns defaultCoordinates(const std::string& path, const data::M_Data& table) {
  data::CoordinateColumns xy{true, 1, 2};
  if (!isLayerPath(path)) return xy;
  int x = 0;
  int y = 0;
  for (int c = table.columnCount(); c >= 1; --c) {
    const std::string& name = table.columnName(c - 1);
    if (name == "X" || name == "x") x = c;
    if (name == "Y" || name == "y") y = c;
  }
  if (x > 0 && y > 0) xy = {true, x, y};
  return xy;
}

}  // namespace

int DataSlots::store(const std::string& path, data::M_Data table, std::string system) {
  files_.assertNoEvaluation();
  auto free = std::find_if(slots_.begin(), slots_.end(),
                           [](const DataSlot& s) { return s.path == kEmptySlotPath; });
  if (free == slots_.end()) free = slots_.insert(slots_.end(), DataSlot{});
  if (data::isShapefilePath(path)) {
    files_.noteProjection(path);
    if (!data::ReadProjection(path, system)) system.clear();
  }
  const data::CoordinateColumns xy = defaultCoordinates(path, table);
  std::string name = formats::shortName(system);
  *free = DataSlot{path, std::move(table), xy, std::move(system), std::move(name)};
  return static_cast<int>(free - slots_.begin()) + 1;
}

FileStatus DataSlots::registerColumn(int number, int column, std::string* name) {
  const DataSlot& source = slot(number);
  data::ColumnOperand chosen;
  const data::ChoiceStatus status = data::chooseColumn(source.table, column, source.xy, chosen);
  if (const MessageText* message = data::choiceMessage(status)) {
    return FileStatus::failure(messages_.text(*message));
  }
  const std::string operandName = cformat("D%d_%d", number, column);
  Operand operand = chosen.isNumber
                        ? Operand::number(chosen.number)
                        : Operand::data(std::make_shared<const data::DATA>(std::move(chosen.data)));
  operand.setCoordinateSystem(source.coordinateSystem, source.coordinateSystemName);
  files_.registerOperand(operandName, {}, std::move(operand));
  if (name != nullptr) *name = operandName;
  return FileStatus::success();
}

DataSlot* DataSlots::loaded(const std::string& path) {
  for (DataSlot& loadedSlot : slots_) {
    if (loadedSlot.path == path) return &loadedSlot;
  }
  return nullptr;
}

void DataSlots::close(int number) {
  files_.assertNoEvaluation();
  DataSlot closed;
  closed.path = kEmptySlotPath;
  slot(number) = std::move(closed);
}

}  // namespace vellumar::engine
