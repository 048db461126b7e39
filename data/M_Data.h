#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/ErrorSink.h"
#include "common/FileIo.h"
#include "common/ReadOutcome.h"

namespace vellumar::data {

// How a delimited data file is split into fields.
struct ReadOptions {
  // Field delimiter; the value 0 means "tab or space". A CR, LF or zero byte is refused.
  char delimiter = ' ';
  // A run of adjacent delimiters separates exactly one pair of fields.
  bool mergeDelimiters = true;
  // The first line holds the column names.
  bool hasHeader = false;
};

enum class [[nodiscard]] ReadStatus{
    Ok,
    CannotOpen,     // the file cannot be opened or read, or is not a regular file
    InvalidFormat,  // not a data file: zero or control bytes, mixed line ends, no rows, ...
    Cancelled,      // the user cancelled through the progress sink
};

// The outcome of a read: its status and, for an InvalidFormat read, the line at fault.
using DataRead = ReadOutcome<ReadStatus>;

// A rectangular table of numeric and text columns, read from a delimited text file or built by
// the conversions. Rows and columns are counted from 0 in every accessor. A numeric column
// (width 0) stores one double per row; a text column of width w > 0 stores one UTF-8 text per
// row of at most w - 1 bytes. Accessors never fail: a cell out of range reads as the
// missing-cell value (numbers) or empty text, and writes out of range are ignored.
//
// ReadFile/ReadBytes parse with the table's options; on success they replace the whole table,
// on failure the table is left empty (options and the missing-cell value are kept). A table too
// large for the memory the program may use throws std::bad_alloc, the table left as it was.
class M_Data {
 public:
  M_Data() = default;
  virtual ~M_Data() = default;
  M_Data(const M_Data&) = default;
  M_Data& operator=(const M_Data&) = default;
  M_Data(M_Data&&) noexcept = default;
  M_Data& operator=(M_Data&&) noexcept = default;

  // --- reading ---
  const ReadOptions& options() const { return options_; }
  void setOptions(const ReadOptions& options) { options_ = options; }
  // progress hears of the rows read. An InvalidFormat read names its line at fault (0 when no
  // one line is at fault, as for a file without rows).
  DataRead ReadFile(const std::string& path, ErrorSink* progress = nullptr);
  // Parses the bytes of a whole file; the path of the table is left empty.
  DataRead ReadBytes(std::string_view bytes, ErrorSink* progress = nullptr);

  // --- shape ---
  int rowCount() const { return rows_; }
  int columnCount() const { return static_cast<int>(columns_.size()); }
  const std::string& path() const { return path_; }
  void setPath(std::string path) { path_ = std::move(path); }
  // What the file held when the table was read from it (not known for a table built otherwise):
  // a column appended to the file later checks that the file is still the same.
  const FileStamp& fileStamp() const { return stamp_; }
  void setFileStamp(const FileStamp& stamp) { stamp_ = stamp; }
  const std::string& columnName(int column) const;
  void setColumnName(int column, std::string name);
  // 0 for a numeric column, else the text width (longest text + 1).
  int columnWidth(int column) const;
  bool isNumericColumn(int column) const { return columnWidth(column) == 0; }
  // Decimals shown by CellText for a numeric column; -1 = not set.
  int columnDecimals(int column) const;
  void setColumnDecimals(int column, int decimals);
  int defaultDecimals() const { return defaultDecimals_; }
  void setDefaultDecimals(int decimals) { defaultDecimals_ = decimals; }
  double missingCellValue() const { return missingCell_; }
  void setMissingCellValue(double value) { missingCell_ = value; }
  int rowNumberOffset() const { return rowNumberOffset_; }
  void setRowNumberOffset(int offset) { rowNumberOffset_ = offset; }
  int rowMark(int row) const;
  void setRowMark(int row, int mark);

  // --- cells ---
  double NumericValue(int row, int column) const;
  std::string CellText(int row, int column) const;
  void SetNumeric(int row, int column, double value);
  void SetText(int row, int column, std::string_view text);
  // Converts the column's storage: 0 makes it numeric, w > 0 a text column of width w.
  void SetColumnWidth(int column, int width);
  // The numeric column's values (empty span for a text column).
  const std::vector<double>& numericColumn(int column) const;

  // --- building ---
  // Empties the table and creates rows x columns cells; widths (when given, one per column)
  // make text columns. Names are "1", "2", ...; numeric cells hold the missing-cell value.
  void Allocate(int rows, int columns, const std::vector<int>& widths = {});
  // Adds a column before index (appended when index is out of range), named " " or, when
  // numbered, index + 1 - rowNumberOffset.
  void InsertColumn(int index, int width, bool numbered);
  // Deep copy of everything but the missing-cell value.
  void CopyFrom(const M_Data& other);
  void Clear();

  // Text of a number by the cell text rule (decimals < 0: shortest "%lf" form).
  static std::string formatCell(double value, int decimals);

 private:
  struct Column {
    std::string name;
    int width = 0;  // 0 = numeric
    int decimals = -1;
    std::vector<double> numbers;     // numeric column: one value per row
    std::vector<std::string> texts;  // text column: one text per row
  };
  friend class DataParser;

  bool validCell(int row, int column) const;
  // Clear() and forgets the file the table was read from.
  void forgetContents();
  Column makeColumn(int width, std::string name) const;
  std::string textOfNumber(double value, int width) const;

  std::string path_;
  FileStamp stamp_;
  int rows_ = 0;
  std::vector<Column> columns_;
  std::vector<int> rowMarks_;
  int defaultDecimals_ = -1;
  ReadOptions options_;
  double missingCell_ = 0.0;
  int rowNumberOffset_ = 0;
};

}  // namespace vellumar::data
