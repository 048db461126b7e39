#pragma once

#include <string_view>

#include "data/DATA.h"
#include "data/M_Data.h"

namespace vellumar::data {

// The coordinate columns chosen in a data window, counted from 1; present is false when the
// operand gets no coordinates.
struct CoordinateColumns {
  bool present = false;
  int x = 0;
  int y = 0;
};

// Reads the texts of the window's X and Y edits: an empty edit, or an X that reads as -1, means
// no coordinates; otherwise each text is read as a number (its leading number, 0 when there is
// none) and truncated toward zero. The columns are not validated here.
CoordinateColumns coordinateColumnsFromText(std::string_view x, std::string_view y);

// True when present columns satisfy 1 <= X, Y <= columnCount and X != Y (absent ones always do).
bool validCoordinateColumns(const CoordinateColumns& xy, int columnCount);

enum class [[nodiscard]] ChoiceStatus{
    Ok,
    NoData,                // the table has no rows, or the column does not exist
    BadCoordinateColumns,  // X or Y out of 1..columns, or X == Y
    OutOfMemory,           // the operand's copy does not fit: refused before it is made
};

// The operand made from one column of a table: a number when the table has exactly one row and
// no coordinates are chosen, else a data column (with X and Y when chosen).
struct ColumnOperand {
  bool isNumber = false;
  double number = 0.0;
  DATA data;
};

// Builds the operand of column `column` (counted from 1) with the coordinate columns xy. The
// operand is an independent copy of the table's values; OutOfMemory when that copy does not fit
// in the memory the program may use (common/Memory.h).
ChoiceStatus chooseColumn(const M_Data& table, int column, const CoordinateColumns& xy,
                          ColumnOperand& out);

}  // namespace vellumar::data
