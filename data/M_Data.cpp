#include "data/M_Data.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "common/CFormat.h"
#include "common/TextEncoding.h"

namespace vellumar::data {
namespace {

const std::string kEmptyText;
const std::vector<double> kNoNumbers;

// strtod reading of a text cell: the leading number, the missing-cell value for empty text.
double numberOfText(const std::string& text, double missingCell) {
  if (text.empty()) return missingCell;
  return cstrtod(text.c_str(), nullptr);
}

}  // namespace

std::string M_Data::formatCell(double value, int decimals) {
  const double magnitude = std::fabs(value);
  if (value != 0.0 && (magnitude < 1e-6 || magnitude > 1e12)) return cformat("%11.4E", value);
  std::string text = cformat("%lf", value);
  if (decimals >= 0) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos) return text;  // inf or nan
    const int width = static_cast<int>(point) + (decimals > 0 ? decimals + 1 : 0);
    return cformat("%*.*lf", width, decimals, value);
  }
  if (text.find('.') == std::string::npos) return text;
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

bool M_Data::validCell(int row, int column) const {
  return row >= 0 && row < rows_ && column >= 0 && column < columnCount();
}

const std::string& M_Data::columnName(int column) const {
  if (column < 0 || column >= columnCount()) return kEmptyText;
  return columns_[column].name;
}

void M_Data::setColumnName(int column, std::string name) {
  if (column >= 0 && column < columnCount()) columns_[column].name = std::move(name);
}

int M_Data::columnWidth(int column) const {
  return column >= 0 && column < columnCount() ? columns_[column].width : 0;
}

int M_Data::columnDecimals(int column) const {
  return column >= 0 && column < columnCount() ? columns_[column].decimals : -1;
}

void M_Data::setColumnDecimals(int column, int decimals) {
  if (column >= 0 && column < columnCount()) columns_[column].decimals = decimals;
}

int M_Data::rowMark(int row) const {
  return row >= 0 && row < rows_ ? rowMarks_[row] : 0;
}

void M_Data::setRowMark(int row, int mark) {
  if (row >= 0 && row < rows_) rowMarks_[row] = mark;
}

double M_Data::NumericValue(int row, int column) const {
  if (!validCell(row, column)) return missingCell_;
  const Column& c = columns_[column];
  return c.width == 0 ? c.numbers[row] : numberOfText(c.texts[row], missingCell_);
}

std::string M_Data::CellText(int row, int column) const {
  if (!validCell(row, column)) return {};
  const Column& c = columns_[column];
  return c.width == 0 ? formatCell(c.numbers[row], c.decimals) : c.texts[row];
}

const std::vector<double>& M_Data::numericColumn(int column) const {
  if (column < 0 || column >= columnCount() || columns_[column].width != 0) return kNoNumbers;
  return columns_[column].numbers;
}

std::string M_Data::textOfNumber(double value, int width) const {
  if (value == missingCell_) return {};
  std::string text = cformat("%lf", value);
  text.resize(cutUtf8(text, static_cast<std::size_t>(width - 1)).size());
  return text;
}

void M_Data::SetNumeric(int row, int column, double value) {
  if (!validCell(row, column)) return;
  Column& c = columns_[column];
  if (c.width == 0) {
    c.numbers[row] = value;
  } else {
    c.texts[row] = textOfNumber(value, c.width);
  }
}

void M_Data::SetText(int row, int column, std::string_view text) {
  if (!validCell(row, column)) return;
  Column& c = columns_[column];
  if (c.width == 0) {
    double value = 0.0;
    c.numbers[row] = parseWholeDouble(text, value) ? value : missingCell_;
    return;
  }
  if (text.size() + 1 > static_cast<std::size_t>(c.width)) {
    if (text.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) return;
    c.width = static_cast<int>(text.size()) + 1;
  }
  c.texts[row].assign(text);
}

void M_Data::SetColumnWidth(int column, int width) {
  if (column < 0 || column >= columnCount() || width < 0) return;
  Column& c = columns_[column];
  if (width == c.width) return;
  if (width == 0) {
    c.numbers.resize(c.texts.size());
    for (std::size_t r = 0; r < c.texts.size(); ++r) {
      c.numbers[r] = numberOfText(c.texts[r], missingCell_);
    }
    c.texts = {};
  } else if (c.width == 0) {
    c.texts.resize(c.numbers.size());
    for (std::size_t r = 0; r < c.numbers.size(); ++r) {
      c.texts[r] = textOfNumber(c.numbers[r], width);
    }
    c.numbers = {};
  } else {
    for (std::string& text : c.texts) {
      text.resize(cutUtf8(text, static_cast<std::size_t>(width - 1)).size());
    }
  }
  c.width = width;
}

M_Data::Column M_Data::makeColumn(int width, std::string name) const {
  Column c;
  c.name = std::move(name);
  c.width = width > 0 ? width : 0;
  c.decimals = -1;
  if (c.width == 0) {
    c.numbers.assign(static_cast<std::size_t>(rows_), missingCell_);
  } else {
    c.texts.resize(static_cast<std::size_t>(rows_));
  }
  return c;
}

void M_Data::Allocate(int rows, int columns, const std::vector<int>& widths) {
  Clear();
  if (rows < 0 || columns < 0) return;
  rows_ = rows;
  rowMarks_.assign(static_cast<std::size_t>(rows), 0);
  columns_.reserve(static_cast<std::size_t>(columns));
  for (int j = 0; j < columns; ++j) {
    const int width = j < static_cast<int>(widths.size()) ? widths[j] : 0;
    columns_.push_back(makeColumn(width, std::to_string(j + 1)));
  }
}

void M_Data::InsertColumn(int index, int width, bool numbered) {
  const bool inside = index >= 0 && index < columnCount();
  const int position = inside ? index : columnCount();
  std::string name = numbered ? std::to_string(index + 1 - rowNumberOffset_) : " ";
  columns_.insert(columns_.begin() + position, makeColumn(width, std::move(name)));
}

void M_Data::CopyFrom(const M_Data& other) {
  if (this == &other) return;
  const double missing = missingCell_;
  *this = other;
  missingCell_ = missing;
}

void M_Data::Clear() {
  rows_ = 0;
  columns_.clear();
  rowMarks_.clear();
}

void M_Data::forgetContents() {
  Clear();
  path_.clear();
  stamp_ = {};
}

}  // namespace vellumar::data
