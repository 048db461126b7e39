#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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
  // The index of the field of that name, compared without regard to case as DBF readers do;
  // -1 when there is none.
  std::ptrdiff_t findField(std::string_view name) const;
};

// The index of the field of that name among fields, compared as AttributeTable::findField does;
// -1 when there is none.
std::ptrdiff_t findField(std::span<const AttributeField> fields, std::string_view name);

// The attributes a line or polygon export writes with its records: the layer's table, and for each
// line of the cover the row of the record it came from (null for a line of no record).
struct SavedAttributes {
  const AttributeTable* table = nullptr;
  std::vector<const std::vector<std::string>*> ringRows;
};

// The name itself when no field of the table (may be null) has it, else the first of name_1,
// name_2, ... that none has.
std::string unusedFieldName(const AttributeTable* table, const std::string& name);

// The fields a line or polygon export writes after the layer's own: "Atribute" (the value), "ID"
// and "NAME", each as it is, or with the first suffix "_1", "_2", ... that no field of the layer
// (may be null) has.
std::vector<std::string> ownFieldNames(const AttributeTable* layer);

// The fields of two tables side by side, for a layer whose records come from either: every field
// of first, then each field of second, which joins a field of first of the same name and type
// (widened to hold both) or is added under a name unused by then.
struct MergedFields {
  std::vector<AttributeField> fields;
  std::vector<std::size_t> columnOfFirst;   // the merged column of each field of first
  std::vector<std::size_t> columnOfSecond;  // the merged column of each field of second
};
MergedFields mergeFields(const AttributeTable* first, const AttributeTable* second);

}  // namespace vellumar::data
