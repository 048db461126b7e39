#include "data/DataFileWriter.h"

#include <charconv>
#include <cmath>
#include <new>
#include <vector>

#include "common/CFormat.h"
#include "common/FileIo.h"
#include "common/SafeSave.h"
#include "data/DelimitedText.h"

namespace vellumar::data {
namespace {

using detail::FieldSplitter;
using detail::LineCursor;

bool sameNumber(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

std::string_view digits12(double value, char (&buffer)[32]) {
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 11);
  return std::string_view(buffer, result.ptr - buffer);
}

bool sameTo12Digits(double a, double b) {
  char first[32];
  char second[32];
  return digits12(a, first) == digits12(b, second);
}

// Saves bytes at path; written, when given, receives the new file's stamp.
SaveStatus writeFile(const std::string& path, const std::string& bytes,
                     FileStamp* written = nullptr) {
  SaveFile file(path);
  if (!file.open()) {
    return file.error() == SaveError::CannotCreate ? SaveStatus::BufferFailed
                                                   : SaveStatus::SaveFailed;
  }
  if (!file.write(bytes) || !file.commit()) return SaveStatus::SaveFailed;
  if (written != nullptr) *written = makeStamp(bytes, file.modifiedNs());
  return SaveStatus::Ok;
}

bool sameCoordinates(const M_Data& table, const DATA& result, const CoordinateColumns& xy) {
  if (!validCoordinateColumns(xy, table.columnCount())) return false;
  const auto xs = result.x();
  const auto ys = result.y();
  for (int row = 0; row < table.rowCount(); ++row) {
    if (xs[row] != table.NumericValue(row, xy.x - 1) ||
        ys[row] != table.NumericValue(row, xy.y - 1)) {
      return false;
    }
  }
  return true;
}

// True when the first `columns` columns of a and b hold the same kinds of cells and values.
bool sameCells(const M_Data& a, const M_Data& b, int columns) {
  if (a.rowCount() != b.rowCount() || a.columnCount() < columns || b.columnCount() < columns) {
    return false;
  }
  for (int j = 0; j < columns; ++j) {
    if (a.isNumericColumn(j) != b.isNumericColumn(j)) return false;
    for (int row = 0; row < a.rowCount(); ++row) {
      const bool same = a.isNumericColumn(j)
                            ? sameNumber(a.NumericValue(row, j), b.NumericValue(row, j))
                            : a.CellText(row, j) == b.CellText(row, j);
      if (!same) return false;
    }
  }
  return true;
}

// Builds the appended file: each line keeps its text, any fields it lacks are filled in, and the
// new value follows the last field (before a trailing run of delimiters, which the reader cuts).
class ColumnAppender {
 public:
  ColumnAppender(const M_Data& table, std::string_view original)
      : table_(table),
        original_(original),
        splitter_(table.options().delimiter, table.options().mergeDelimiters),
        separator_(1, table.options().delimiter == 0 ? ' ' : table.options().delimiter) {}

  // The new file's bytes; expected receives the value each row's new cell must read back as.
  bool build(const DATA& result, std::string& out, std::vector<double>& expected) {
    out.reserve(original_.size() + original_.size() / 4 + 64);
    expected.reserve(result.count());
    LineCursor cursor(original_);
    std::string_view line;
    if (table_.options().hasHeader) {
      if (!cursor.next(line)) return false;
      appendLine(out, line, true, "Zres");
    }
    for (double value : result.values()) {
      if (!cursor.next(line)) return false;
      const std::string text = formatDataValue(value);
      expected.push_back(cstrtod(text.c_str(), nullptr));
      appendLine(out, line, false, text);
    }
    return !cursor.next(line) && !cursor.bad();
  }

 private:
  // Number of fields of a line; beyond receives the text of the first field past the table's
  // columns (only a header can have such fields, and the reader ignores them).
  int fieldCount(const char* begin, const char* end, const char*& beyond) const {
    int count = 0;
    unsigned seen = 0;
    splitter_.split(begin, end, [&](int index, const char* text, const char* from, const char* e) {
      if (index == table_.columnCount()) beyond = text;
      ++count;
      return splitter_.findDelimiter(from, e, seen);
    });
    return count;
  }

  // What stands for a cell a short line lacks: the missing-cell value for numbers (which is what
  // the empty cell read as), nothing for text; for a header, the column's number when merged
  // delimiters cannot express an empty name.
  std::string filler(int column, bool header) const {
    if (header) {
      return table_.options().mergeDelimiters ? std::to_string(column + 1) : std::string();
    }
    if (table_.isNumericColumn(column)) return formatDataValue(table_.missingCellValue());
    return {};
  }

  void appendLine(std::string& out, std::string_view line, bool header, const std::string& last) {
    const char* begin = line.data();
    const char* end = begin + line.size();
    const char* content = splitter_.contentEnd(begin, end);
    const char* beyond = nullptr;
    const int fields = content == begin ? 0 : fieldCount(begin, end, beyond);
    if (beyond != nullptr) {  // the new name goes right after the names of the columns
      out.append(begin, beyond);
      out += last;
      out += separator_;
      out.append(beyond, end);
      out += "\r\n";
      return;
    }
    out.append(begin, content);
    bool first = content == begin;
    auto add = [&](const std::string& token) {
      if (!first) out += separator_;
      out += token;
      first = false;
    };
    for (int column = fields; column < table_.columnCount(); ++column) {
      add(filler(column, header));
    }
    add(last);
    out.append(content, end);
    out += "\r\n";
  }

  const M_Data& table_;
  std::string_view original_;
  FieldSplitter splitter_;
  std::string separator_;
};

// True when the re-read table is the old one plus a last column "Zres" holding expected.
bool appendedCorrectly(const M_Data& old, const M_Data& fresh,
                       const std::vector<double>& expected) {
  const int columns = old.columnCount();
  if (fresh.columnCount() != columns + 1 || !sameCells(old, fresh, columns)) return false;
  if (old.options().hasHeader) {
    if (fresh.columnName(columns) != "Zres") return false;
    for (int j = 0; j < columns; ++j) {
      if (!old.columnName(j).empty() && old.columnName(j) != fresh.columnName(j)) return false;
    }
  }
  if (!fresh.isNumericColumn(columns)) return false;
  for (int row = 0; row < fresh.rowCount(); ++row) {
    if (!sameNumber(fresh.NumericValue(row, columns), expected[row])) return false;
  }
  return true;
}

// Appends under an exclusive lock on the data file, and only to the file the table was read
// from: two appends at once would otherwise both read the same file and one column be lost.
SaveStatus appendToFile(M_Data& table, const DATA& result) {
  FileLock lock;
  if (lock.lock(table.path()) != FileError::None) return SaveStatus::SaveFailed;
  std::string bytes;
  FileStamp stamp;
  if (lock.read(bytes, stamp) != FileError::None) return SaveStatus::SaveFailed;
  if (!table.fileStamp().known || !(stamp == table.fileStamp())) return SaveStatus::DataChanged;
  std::string out;
  std::vector<double> expected;
  std::string converted;
  const std::string_view text = detail::dataText(bytes, converted);
  if (!ColumnAppender(table, text).build(result, out, expected)) return SaveStatus::SaveFailed;
  M_Data fresh;
  fresh.setOptions(table.options());
  fresh.setMissingCellValue(table.missingCellValue());
  fresh.setDefaultDecimals(table.defaultDecimals());
  if (fresh.ReadBytes(out) != ReadStatus::Ok || !appendedCorrectly(table, fresh, expected)) {
    return SaveStatus::SaveFailed;
  }
  FileStamp written;
  const SaveStatus status = writeFile(table.path(), out, &written);
  if (status != SaveStatus::Ok) return status;
  for (int j = 0; j < table.columnCount(); ++j) {
    fresh.setColumnDecimals(j, table.columnDecimals(j));
  }
  for (int row = 0; row < table.rowCount(); ++row) fresh.setRowMark(row, table.rowMark(row));
  fresh.setPath(table.path());
  fresh.setFileStamp(written);
  table = std::move(fresh);
  return SaveStatus::Ok;
}

}  // namespace

bool isShapefilePath(std::string_view path) {
  return path.find(".shp") != std::string_view::npos || path.find(".SHP") != std::string_view::npos;
}

std::string formatDataValue(double value) {
  std::string text = cformat("%lf", value);
  if (sameTo12Digits(cstrtod(text.c_str(), nullptr), value)) return text;
  return cformat("%.12g", value);
}

std::string dataFileBytes(const DATA& result) {
  std::string out = result.hasCoordinates() ? "X Y Z\r\n" : "Z\r\n";
  const auto values = result.values();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (result.hasCoordinates()) {
      out += formatDataValue(result.x()[i]);
      out += ' ';
      out += formatDataValue(result.y()[i]);
      out += ' ';
    }
    out += formatDataValue(values[i]);
    out += "\r\n";
  }
  return out;
}

SaveStatus saveDataFile(const std::string& path, const DATA& result) {
  try {
    return writeFile(path, dataFileBytes(result));
  } catch (const std::bad_alloc&) {
    return SaveStatus::OutOfMemory;
  }
}

SaveStatus appendResultColumn(M_Data& table, const DATA& result, const CoordinateColumns& xy) {
  if (isShapefilePath(table.path())) return SaveStatus::LoadedShapefile;
  if (result.count() != static_cast<std::size_t>(table.rowCount())) {
    return SaveStatus::SizeMismatch;
  }
  if (result.hasCoordinates() && xy.present && !sameCoordinates(table, result, xy)) {
    return SaveStatus::CoordinateMismatch;
  }
  try {
    return appendToFile(table, result);
  } catch (const std::bad_alloc&) {
    return SaveStatus::OutOfMemory;
  }
}

}  // namespace vellumar::data
