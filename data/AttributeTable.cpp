#include "data/AttributeTable.h"

#include <algorithm>
#include <cctype>

namespace vellumar::data {
namespace {

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// The column field joins among the fields merged so far, adding it when none has its name and
// type; a joined field is widened to hold the values of both.
std::size_t joinField(AttributeTable& merged, const AttributeField& field) {
  const std::ptrdiff_t found = merged.findField(field.name);
  if (found >= 0) {
    AttributeField& kept = merged.fields[static_cast<std::size_t>(found)];
    if (kept.type == field.type) {
      kept.width = std::max(kept.width, field.width);
      kept.decimals = std::max(kept.decimals, field.decimals);
      return static_cast<std::size_t>(found);
    }
  }
  AttributeField added = field;
  added.name = unusedFieldName(&merged, field.name);
  merged.fields.push_back(std::move(added));
  return merged.fields.size() - 1;
}

}  // namespace

std::ptrdiff_t findField(std::span<const AttributeField> fields, std::string_view name) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (sameName(fields[i].name, name)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

std::ptrdiff_t AttributeTable::findField(std::string_view name) const {
  return data::findField(fields, name);
}

std::string unusedFieldName(const AttributeTable* table, const std::string& name) {
  if (table == nullptr) return name;
  std::string candidate = name;
  for (int suffix = 1; table->findField(candidate) >= 0; ++suffix)
    candidate = name + "_" + std::to_string(suffix);
  return candidate;
}

std::vector<std::string> ownFieldNames(const AttributeTable* layer) {
  std::vector<std::string> names;
  for (const char* base : {"Atribute", "ID", "NAME"}) names.push_back(unusedFieldName(layer, base));
  return names;
}

MergedFields mergeFields(const AttributeTable* first, const AttributeTable* second) {
  AttributeTable merged;
  MergedFields result;
  if (first != nullptr) {
    merged.fields = first->fields;
    for (std::size_t j = 0; j < first->fields.size(); ++j) result.columnOfFirst.push_back(j);
  }
  if (second != nullptr) {
    for (const AttributeField& field : second->fields)
      result.columnOfSecond.push_back(joinField(merged, field));
  }
  result.fields = std::move(merged.fields);
  return result;
}

}  // namespace vellumar::data
