#include "data/DataFileWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <optional>
#include <vector>

#include "common/CFormat.h"
#include "common/FileIo.h"
#include "common/Parallel.h"
#include "common/SafeSave.h"
#include "common/TextEncoding.h"
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

// Builds the appended file: each line keeps its text and its line end, any fields it lacks are
// filled in, and the new value follows its last field (before a trailing run of delimiters that
// the reader does not count as fields).
class ColumnAppender {
 public:
  ColumnAppender(const M_Data& table, std::string_view original, std::string_view lineEnd)
      : table_(table),
        original_(original),
        lineEnd_(lineEnd),
        splitter_(table.options().delimiter, table.options().mergeDelimiters),
        separator_(1, table.options().delimiter == 0 ? ' ' : table.options().delimiter) {}

  // The new file's bytes; expected receives the value each row's new cell must read back as.
  // False when a line cannot be written so that it reads back with its old cells.
  bool build(const DATA& result, std::string& out, std::vector<double>& expected) {
    out.reserve(original_.size() + original_.size() / 4 + 64);
    expected.reserve(result.count());
    LineCursor cursor(original_);
    std::string_view line;
    if (table_.options().hasHeader) {
      if (!cursor.next(line)) return false;
      named_ = fieldsOf(line, 0).count;
      if (!appendLine(out, line, true, "Zres")) return false;
    }
    for (double value : result.values()) {
      if (!cursor.next(line)) return false;
      const std::string text = formatDataValue(value);
      expected.push_back(cstrtod(text.c_str(), nullptr));
      if (!appendLine(out, line, false, text)) return false;
    }
    return !cursor.next(line) && !cursor.bad();
  }

 private:
  // The fields of a line as the reader splits it: their number, the end of the last one, and the
  // text of the first field past the table's columns (only a header can have such fields, and
  // the reader ignores them). count is -1 when the reader would refuse the line.
  struct Fields {
    int count = 0;
    const char* last = nullptr;
    const char* beyond = nullptr;
  };

  Fields fieldsOf(std::string_view line, int named) const {
    Fields fields{0, line.data(), nullptr};
    unsigned seen = 0;
    const bool ok = splitter_.split(
        line.data(), line.data() + line.size(),
        [&](int index, const char* text, const char* from, const char* end) {
          bool quoted = false;
          const char* fieldEnd = splitter_.fieldEnd(from, end, seen, quoted);
          if (index == table_.columnCount()) fields.beyond = text;
          ++fields.count;
          if (fieldEnd != nullptr) fields.last = fieldEnd;
          return fieldEnd;
        },
        named);
    if (!ok) fields.count = -1;
    return fields;
  }

  // What stands for a cell a short line lacks, so that it reads back as the cell the reader gave
  // it: the missing-cell value for numbers; for text an empty field where delimiters separate
  // each field, else a blank that is no delimiter (it reads as empty text); for a header, the
  // column's number where an empty name cannot be written. Nothing when no text can stand for an
  // empty text cell (merged tabs and spaces).
  std::optional<std::string> filler(int column, bool header, bool first) const {
    const bool merge = table_.options().mergeDelimiters;
    if (header) return (merge || first) ? std::to_string(column + 1) : std::string();
    if (table_.isNumericColumn(column)) return formatDataValue(table_.missingCellValue());
    if (!merge && !first) return std::string();
    for (const char* blank : {" ", "\t"}) {
      if (!splitter_.isDelimiter(*blank)) return std::string(blank);
    }
    return std::nullopt;
  }

  bool appendLine(std::string& out, std::string_view line, bool header, const std::string& last) {
    const char* begin = line.data();
    const char* end = begin + line.size();
    // A line of delimiters only has no fields to keep: every cell is filled in.
    const Fields fields = splitter_.contentEnd(begin, end) == begin
                              ? Fields{0, begin, nullptr}
                              : fieldsOf(line, header ? 0 : named_);
    if (fields.count < 0) return false;
    if (fields.beyond != nullptr) {  // the new name goes right after the names of the columns
      out.append(begin, fields.beyond);
      out += last;
      out += separator_;
      out.append(fields.beyond, end);
      out += lineEnd_;
      return true;
    }
    out.append(begin, fields.last);
    bool first = fields.count == 0;
    auto add = [&](const std::string& token) {
      if (!first) out += separator_;
      out += token;
      first = false;
    };
    for (int column = fields.count; column < table_.columnCount(); ++column) {
      const std::optional<std::string> token = filler(column, header, first);
      if (!token) return false;
      add(*token);
    }
    add(last);
    out.append(fields.last, end);
    out += lineEnd_;
    return true;
  }

  const M_Data& table_;
  std::string_view original_;
  std::string_view lineEnd_;
  FieldSplitter splitter_;
  std::string separator_;
  int named_ = 0;  // fields the header names
};

// The line end of a data file, which an appended file keeps: LF, CR LF, or CR for a file with
// CR-only line ends; CR LF, as new files get, for a file of one line without a line end.
std::string_view lineEndOf(std::string_view bytes) {
  const std::size_t lf = bytes.find('\n');
  if (lf == std::string_view::npos) {
    return bytes.find('\r') == std::string_view::npos ? "\r\n" : "\r";
  }
  return lf > 0 && bytes[lf - 1] == '\r' ? "\r\n" : "\n";
}

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
  // A byte order mark stays in front, out of the first field, as the reader leaves it.
  const std::string_view body = withoutByteOrderMark(bytes);
  std::string out(bytes.data(), bytes.size() - body.size());
  std::vector<double> expected;
  std::string converted;
  const std::string_view text = detail::dataText(body, converted);
  if (!ColumnAppender(table, text, lineEndOf(bytes)).build(result, out, expected)) {
    return SaveStatus::SaveFailed;
  }
  M_Data fresh;
  fresh.setOptions(table.options());
  fresh.setMissingCellValue(table.missingCellValue());
  fresh.setDefaultDecimals(table.defaultDecimals());
  if (!fresh.ReadBytes(out) || !appendedCorrectly(table, fresh, expected)) {
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

// The longest text of a value: "%lf" of the largest double has 309 digits before the point.
constexpr std::size_t kDataValueChars = 320;

// "%lf" when its six decimals read back as the value to 12 significant digits, else "%.12g";
// to_chars with a precision writes printf's bytes, several times faster and without the locale.
char* writeDataValue(char* out, double value) {
  char* const end = out + kDataValueChars;
  char* const fixed = std::to_chars(out, end, value, std::chars_format::fixed, 6).ptr;
  double read = 0.0;
  if (std::from_chars(out, fixed, read).ec == std::errc() && sameTo12Digits(read, value)) {
    return fixed;
  }
  return std::to_chars(out, end, value, std::chars_format::general, 12).ptr;
}

// Rows of a new data file are formatted in blocks of this many, on several threads.
constexpr std::size_t kRowsPerBlock = 16384;

}  // namespace

bool isShapefilePath(std::string_view path) {
  return path.find(".shp") != std::string_view::npos || path.find(".SHP") != std::string_view::npos;
}

std::string formatDataValue(double value) {
  char text[kDataValueChars];
  return std::string(text, writeDataValue(text, value));
}

std::string dataFileBytes(const DATA& result) {
  const bool located = result.hasCoordinates();
  const auto values = result.values();
  const std::size_t blocks = (values.size() + kRowsPerBlock - 1) / kRowsPerBlock;
  std::vector<std::string> texts(blocks);
  parallel::forEachBlock(
      blocks,
      [&](std::size_t begin, std::size_t end) {
        char line[3 * kDataValueChars + 4];
        for (std::size_t b = begin; b < end; ++b) {
          const std::size_t last = std::min(values.size(), (b + 1) * kRowsPerBlock);
          for (std::size_t i = b * kRowsPerBlock; i < last; ++i) {
            char* p = line;
            if (located) {
              p = writeDataValue(p, result.x()[i]);
              *p++ = ' ';
              p = writeDataValue(p, result.y()[i]);
              *p++ = ' ';
            }
            p = writeDataValue(p, values[i]);
            *p++ = '\r';
            *p++ = '\n';
            texts[b].append(line, p);
          }
        }
      },
      parallel::kCostlyItems);
  std::string out = located ? "X Y Z\r\n" : "Z\r\n";
  std::size_t size = out.size();
  for (const std::string& text : texts) size += text.size();
  out.reserve(size);
  for (std::string& text : texts) {
    out += text;
    std::string().swap(text);
  }
  return out;
}

SaveStatus saveDataFile(const std::string& path, const DATA& result) {
  return writeFile(path, dataFileBytes(result));
}

SaveStatus appendResultColumn(M_Data& table, const DATA& result, const CoordinateColumns& xy) {
  if (isShapefilePath(table.path())) return SaveStatus::LoadedShapefile;
  if (result.count() != static_cast<std::size_t>(table.rowCount())) {
    return SaveStatus::SizeMismatch;
  }
  if (result.hasCoordinates() && xy.present && !sameCoordinates(table, result, xy)) {
    return SaveStatus::CoordinateMismatch;
  }
  return appendToFile(table, result);
}

}  // namespace vellumar::data
