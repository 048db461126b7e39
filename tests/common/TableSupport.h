#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "data/M_Data.h"

namespace vellumar::testing {

// A table's column names.
inline std::vector<std::string> columnNames(const data::M_Data& table) {
  std::vector<std::string> names;
  for (int c = 0; c < table.columnCount(); ++c) names.push_back(table.columnName(c));
  return names;
}

// Every cell of a table, row by row, as the table shows them.
inline std::vector<std::vector<std::string>> cellTexts(const data::M_Data& table) {
  std::vector<std::vector<std::string>> cells(static_cast<std::size_t>(table.rowCount()));
  for (int r = 0; r < table.rowCount(); ++r) {
    for (int c = 0; c < table.columnCount(); ++c) cells[r].push_back(table.CellText(r, c));
  }
  return cells;
}

}  // namespace vellumar::testing
