#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumar::data {

// A field of a layer's attribute table, as a DBF declares it: its name, its type letter ('C' text,
// 'N' or 'F' number, 'L' logical, 'D' date), its width and its decimals.
struct AttributeField {
  std::string name;
  char type = 'C';
  int width = 0;
  int decimals = 0;
};

// The attributes of a layer's records, as their DBF holds them: one row per record, in record
// order, one text per field as written in the file (blanks trimmed; empty for a null value), so a
// save writes every value back as it was read.
struct AttributeTable {
  std::vector<AttributeField> fields;
  std::vector<std::vector<std::string>> rows;

  // The row of record (1-based); null when the table has no such record.
  const std::vector<std::string>* row(std::int64_t record) const {
    if (record < 1 || record > static_cast<std::int64_t>(rows.size())) return nullptr;
    return &rows[static_cast<std::size_t>(record - 1)];
  }
};

}  // namespace vellumar::data
