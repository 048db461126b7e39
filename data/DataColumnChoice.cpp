#include "data/DataColumnChoice.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "common/CFormat.h"
#include "common/Memory.h"

namespace vellumar::data {
namespace {

// atof of the text truncated toward zero; 0 for what is no column number at all.
int columnNumber(std::string_view text) {
  const std::string copy(text);
  const double value = std::trunc(cstrtod(copy.c_str(), nullptr));
  return value >= -1e9 && value <= 1e9 ? static_cast<int>(value) : 0;
}

std::vector<double> columnValues(const M_Data& table, int column) {
  const std::vector<double>& numbers = table.numericColumn(column);
  if (!numbers.empty()) return numbers;
  std::vector<double> values(static_cast<std::size_t>(table.rowCount()));
  for (int row = 0; row < table.rowCount(); ++row) values[row] = table.NumericValue(row, column);
  return values;
}

}  // namespace

CoordinateColumns coordinateColumnsFromText(std::string_view x, std::string_view y) {
  CoordinateColumns xy;
  if (x.empty() || y.empty()) return xy;
  xy.x = columnNumber(x);
  xy.y = columnNumber(y);
  xy.present = xy.x != -1;
  return xy;
}

bool validCoordinateColumns(const CoordinateColumns& xy, int columnCount) {
  if (!xy.present) return true;
  return xy.x >= 1 && xy.x <= columnCount && xy.y >= 1 && xy.y <= columnCount && xy.x != xy.y;
}

ChoiceStatus chooseColumn(const M_Data& table, int column, const CoordinateColumns& xy,
                          ColumnOperand& out) {
  if (table.rowCount() == 0 || column < 1 || column > table.columnCount()) {
    return ChoiceStatus::NoData;
  }
  if (!validCoordinateColumns(xy, table.columnCount())) return ChoiceStatus::BadCoordinateColumns;
  out = ColumnOperand{};
  if (table.rowCount() == 1 && !xy.present) {
    out.isNumber = true;
    out.number = table.NumericValue(0, column - 1);
    return ChoiceStatus::Ok;
  }
  // The copy is claimed from the memory the program may use, as the table's columns were when it
  // was read, so a column that cannot fit is refused at once rather than half-way.
  const std::uint64_t columns = xy.present ? 3 : 1;
  if (!memory::fits(columns * static_cast<std::uint64_t>(table.rowCount()) * sizeof(double))) {
    return ChoiceStatus::OutOfMemory;
  }
  std::vector<double> values = columnValues(table, column - 1);
  if (!xy.present) {
    out.data = DATA(std::move(values));
  } else {
    out.data =
        DATA(std::move(values), columnValues(table, xy.x - 1), columnValues(table, xy.y - 1));
  }
  return ChoiceStatus::Ok;
}

}  // namespace vellumar::data
