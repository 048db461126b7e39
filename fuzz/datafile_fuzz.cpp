// Fuzzes the delimited data reader: the first byte chooses the delimiter, merging and header, the
// rest is the file. Every cell of a table that was read is then looked at.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "data/M_Data.h"

namespace {

constexpr char kDelimiters[] = {' ', '\t', 0, ',', ';', '|', '-', '.'};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t choice = data[0];
  vellumar::data::M_Data table;
  table.setOptions({kDelimiters[choice & 7], (choice & 8) != 0, (choice & 16) != 0});
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  bool read = false;
  try {
    read = table.ReadBytes(bytes).status == vellumar::data::ReadStatus::Ok;
  } catch (const std::bad_alloc&) {
    // A table too large for the memory limit is refused, the table left as it was: empty.
  }
  // A table that was read has rows and columns; a refused one is left empty.
  const bool filled = table.rowCount() > 0 && table.columnCount() > 0;
  const bool empty = table.rowCount() == 0 && table.columnCount() == 0;
  if (read ? !filled : !empty) __builtin_trap();
  if (!read) return 0;
  std::size_t total = 0;
  for (int column = 0; column < table.columnCount(); ++column) {
    total += table.columnName(column).size();
    for (int row = 0; row < table.rowCount(); ++row) {
      total += table.CellText(row, column).size();
      const double value = table.NumericValue(row, column);
      total += value == value ? 1 : 0;
    }
  }
  return total == 0 ? 0 : 0;
}
