#include <algorithm>
#include <climits>
#include <cstddef>
#include <string_view>

#include "common/CFormat.h"
#include "common/TextEncoding.h"
#include "data/ShapeIo.h"
#include "data/Shapefile.h"
#include "data/ShapefileMessages.h"

namespace vellumar::data {
namespace {

using detail::DbfFile;
using detail::openDbf;
using detail::openShp;
using detail::ShapeObject;
using detail::ShpFile;

bool isLineType(int type) {
  return type == 3 || type == 5 || type == 13 || type == 15 || type == 23 || type == 25;
}
bool hasZOrMeasure(int type) {
  return type == 13 || type == 15 || type == 23 || type == 25;
}
bool isPointType(int type) {
  return type == 1 || type == 11 || type == 21;
}
bool isMultipointType(int type) {
  return type == 8 || type == 18 || type == 28;
}

bool wholeNumberOrEmpty(const std::string& text) {
  double value = 0.0;
  return text.empty() || parseWholeDouble(text, value);
}

// DBF readers take field names without regard to case (of the Latin letters, the only ones the
// format's names were meant to hold).
bool sameFieldName(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// Index of the column named name (see sameFieldName); -1 when there is none (or name is empty).
int findColumn(const M_Data& table, const std::string& name) {
  if (name.empty()) return -1;
  for (int j = 0; j < table.columnCount(); ++j) {
    if (sameFieldName(table.columnName(j), name)) return j;
  }
  return -1;
}

// The names of the table's columns from first on, separated by ", ".
std::string columnList(const M_Data& table, int first) {
  std::string list;
  for (int j = first; j < table.columnCount(); ++j) {
    if (!list.empty()) list += ", ";
    list += table.columnName(j);
  }
  return list;
}

// One DBF field while its records are read.
struct DbfColumn {
  std::string name;
  int width = 0;  // text width; 0 for a numeric field
  std::vector<double> numbers;
  std::vector<std::string> texts;
};

// Reads every record of dbf; false when a record cannot be read (failed then tells its 0-based
// index, or -1). The columns grow with the records actually read, so an absurd record count in
// the header allocates nothing.
bool readDbfColumns(DBFInfo* dbf, std::vector<DbfColumn>& columns, int& records, int& failed) {
  failed = -1;
  const int fields = DBFGetFieldCount(dbf);
  records = DBFGetRecordCount(dbf);
  if (fields < 0 || records < 0) return false;
  columns.assign(static_cast<std::size_t>(fields), {});
  for (int j = 0; j < fields; ++j) {
    char name[XBASE_FLDNAME_LEN_READ + 8] = {};
    int width = 0;
    int decimals = 0;
    const DBFFieldType type = DBFGetFieldInfo(dbf, j, name, &width, &decimals);
    columns[j].name = name;
    columns[j].width = type == FTString ? (width > 0 ? width : 1) : 0;
  }
  for (int i = 0; i < records; ++i) {
    failed = i;
    if (DBFReadTuple(dbf, i) == nullptr) return false;
    for (int j = 0; j < fields; ++j) {
      DbfColumn& column = columns[j];
      if (column.width == 0) {
        column.numbers.push_back(DBFReadDoubleAttribute(dbf, i, j));
        continue;
      }
      const char* text = DBFReadStringAttribute(dbf, i, j);
      if (text == nullptr) return false;
      column.texts.emplace_back(trimSpaces(text));
    }
  }
  failed = -1;
  return true;
}

// Every field and record of dbf as the file holds them: the fields' declarations and each value's
// text (a null value empty); false when a record cannot be read (failed then tells its 0-based
// index). Rows grow with the records read, so an absurd record count allocates nothing.
bool readRecordAttributes(DBFInfo* dbf, AttributeTable& table, int& failed) {
  const int fields = DBFGetFieldCount(dbf);
  const int records = DBFGetRecordCount(dbf);
  if (fields < 0 || records < 0) return false;
  table.fields.assign(static_cast<std::size_t>(fields), {});
  for (int j = 0; j < fields; ++j) {
    char name[XBASE_FLDNAME_LEN_READ + 8] = {};
    AttributeField& field = table.fields[static_cast<std::size_t>(j)];
    DBFGetFieldInfo(dbf, j, name, &field.width, &field.decimals);
    field.name = name;
    field.type = DBFGetNativeFieldType(dbf, j);
  }
  table.rows.clear();
  for (int i = 0; i < records; ++i) {
    failed = i;
    if (DBFReadTuple(dbf, i) == nullptr) return false;
    std::vector<std::string>& row = table.rows.emplace_back();
    row.reserve(static_cast<std::size_t>(fields));
    for (int j = 0; j < fields; ++j) {
      const char* text = DBFIsAttributeNULL(dbf, i, j) ? "" : DBFReadStringAttribute(dbf, i, j);
      if (text == nullptr) return false;
      row.emplace_back(trimSpaces(text));
    }
  }
  failed = -1;
  return true;
}

void fillTable(std::vector<DbfColumn>& columns, int records, M_Data& table) {
  std::vector<int> widths;
  for (const DbfColumn& column : columns) widths.push_back(column.width);
  table.Allocate(records, static_cast<int>(columns.size()), widths);
  for (int j = 0; j < static_cast<int>(columns.size()); ++j) {
    DbfColumn& column = columns[j];
    table.setColumnName(j, std::move(column.name));
    bool allNumbers = true;
    for (int i = 0; i < records; ++i) {
      if (column.width == 0) {
        table.SetNumeric(i, j, column.numbers[i]);
      } else {
        table.SetText(i, j, column.texts[i]);
        allNumbers = allNumbers && wholeNumberOrEmpty(column.texts[i]);
      }
    }
    if (column.width != 0 && allNumbers) table.SetColumnWidth(j, 0);
  }
}

// A numeric column of a table being built, with one value per row.
struct ValueColumn {
  const char* name;
  std::vector<double> values;
};

// Inserts the columns before the existing ones, in order.
void insertColumnsInFront(M_Data& table, const std::vector<ValueColumn>& columns) {
  for (int k = 0; k < static_cast<int>(columns.size()); ++k) {
    table.InsertColumn(k, 0, false);
    table.setColumnName(k, columns[k].name);
    for (int row = 0; row < table.rowCount(); ++row) {
      table.SetNumeric(row, k, columns[k].values[row]);
    }
  }
}

// A table of rowRecord.size() rows: the value columns, then the columns of attributes with the
// cells of each row's record.
void buildRowTable(const std::vector<ValueColumn>& front, const M_Data& attributes,
                   const std::vector<int>& rowRecord, M_Data& table) {
  const int rows = static_cast<int>(rowRecord.size());
  const int first = static_cast<int>(front.size());
  std::vector<int> widths(front.size(), 0);
  for (int j = 0; j < attributes.columnCount(); ++j) widths.push_back(attributes.columnWidth(j));
  table.Allocate(rows, first + attributes.columnCount(), widths);
  for (int k = 0; k < first; ++k) {
    table.setColumnName(k, front[k].name);
    for (int row = 0; row < rows; ++row) table.SetNumeric(row, k, front[k].values[row]);
  }
  for (int j = 0; j < attributes.columnCount(); ++j) {
    const int column = first + j;
    table.setColumnName(column, attributes.columnName(j));
    const bool numeric = attributes.isNumericColumn(j);
    for (int row = 0; row < rows; ++row) {
      if (numeric) {
        table.SetNumeric(row, column, attributes.NumericValue(rowRecord[row], j));
      } else {
        table.SetText(row, column, attributes.CellText(rowRecord[row], j));
      }
    }
  }
}

// Opens the shapes of a table conversion after its DBF was read into attributes; checks that
// both hold the same number of records (a DBF without fields takes the shapes' count).
ShapeStatus openShapes(const std::string& path, M_Data& attributes, ShpFile& shp, int& records) {
  shp = openShp(path);
  if (!shp) return ShapeStatus::FileFailed;
  SHPGetInfo(shp.get(), &records, nullptr, nullptr, nullptr);
  if (attributes.columnCount() == 0) attributes.Allocate(records, 0);
  return attributes.rowCount() == records ? ShapeStatus::Done : ShapeStatus::Invalid;
}

// The log text of a table conversion whose shapes could not be opened.
const MessageText& openFailureText(ShapeStatus status) {
  return status == ShapeStatus::FileFailed ? text::kShpOpenFailed : text::kInvalidShapefile;
}

double valueAt(const double* values, int index) {
  return values != nullptr ? values[index] : 0.0;
}

// The coordinate columns a table of points puts before its attributes, a row per point: X and Y,
// then Z and the measure where the shape type holds them.
class PointColumns {
 public:
  PointColumns(bool z, bool measure) : z_(z), measure_(measure) {
    if (z) columns_.push_back({"Z", {}});
    if (measure) columns_.push_back({"Measure", {}});
  }
  // A row of vertex v of shape.
  void add(const SHPObject& shape, int v) {
    add(shape.padfX[v], shape.padfY[v], valueAt(shape.padfZ, v), valueAt(shape.padfM, v));
  }
  // A row of missing values, for a record without a point.
  void addMissing(double missing) { add(missing, missing, missing, missing); }
  const std::vector<ValueColumn>& columns() const { return columns_; }

 private:
  void add(double x, double y, double z, double measure) {
    columns_[0].values.push_back(x);
    columns_[1].values.push_back(y);
    if (z_) columns_[2].values.push_back(z);
    if (measure_) columns_.back().values.push_back(measure);
  }

  std::vector<ValueColumn> columns_{{"X", {}}, {"Y", {}}};
  bool z_;
  bool measure_;
};

// Appends the parts of a line record, those with points, as lines of the given id and value,
// and their Z values and measures to z and measures where given. Returns how many it appended.
std::size_t appendParts(const SHPObject& shape, int id, double value,
                        std::vector<geometry::Line>& lines, std::vector<double>* z,
                        std::vector<double>* measures) {
  const int parts = shape.nParts > 0 ? shape.nParts : 1;
  std::size_t appended = 0;
  for (int k = 0; k < parts; ++k) {
    const int begin = shape.nParts > 0 ? shape.panPartStart[k] : 0;
    const int end = k + 1 < shape.nParts ? shape.panPartStart[k + 1] : shape.nVertices;
    if (end <= begin) continue;
    std::vector<geometry::Point> points(static_cast<std::size_t>(end - begin));
    for (int v = begin; v < end; ++v) {
      points[v - begin].x = shape.padfX[v];
      points[v - begin].y = shape.padfY[v];
      if (z != nullptr) z->push_back(valueAt(shape.padfZ, v));
      if (measures != nullptr) measures->push_back(valueAt(shape.padfM, v));
    }
    geometry::Line& line = lines.emplace_back(std::move(points));
    line.id = id;
    line.value = value;
    ++appended;
  }
  return appended;
}

}  // namespace

void ShapefileConverter::note(const MessageText& message) {
  noteText(message.in(language_));
}

void ShapefileConverter::noteText(std::string text) {
  if (!log_.empty()) log_ += "\r\n";
  log_ += text;
  lastNote_ = std::move(text);
}

ShapeStatus ShapefileConverter::invalidRecord(int index) {
  faultRecord_ = index + 1;
  note(text::kInvalidShapefile);
  return ShapeStatus::Invalid;
}

bool ListDbfFields(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  const DbfFile dbf = openDbf(path, "rb");
  if (!dbf) return false;
  const int fields = DBFGetFieldCount(dbf.get());
  for (int j = 0; j < fields; ++j) {
    char name[XBASE_FLDNAME_LEN_READ + 8] = {};
    DBFGetFieldInfo(dbf.get(), j, name, nullptr, nullptr);
    names.emplace_back(name);
  }
  return true;
}

bool ReadProjection(const std::string& path, std::string& bytes) {
  return detail::readProjection(path, bytes);
}

bool ShapefileConverter::ReadDbf(const std::string& path, M_Data& table) {
  return readAttributes(path, table) == ShapeStatus::Done;
}

ShapeStatus ShapefileConverter::readAttributes(const std::string& path, M_Data& table) {
  const DbfFile dbf = openDbf(path, "rb");
  if (!dbf) {
    note(text::kDbfOpenFailed);
    return ShapeStatus::FileFailed;
  }
  std::vector<DbfColumn> columns;
  int records = 0;
  int failed = -1;
  faultRecord_ = 0;
  if (!readDbfColumns(dbf.get(), columns, records, failed)) {
    if (failed >= 0) return invalidRecord(failed);
    note(text::kInvalidShapefile);
    return ShapeStatus::Invalid;
  }
  M_Data read;
  read.setMissingCellValue(table.missingCellValue());
  fillTable(columns, records, read);
  table = std::move(read);
  return ShapeStatus::Done;
}

ShapeStatus ShapefileConverter::readLayerAttributes(const std::string& path) {
  const DbfFile dbf = openDbf(path, "rb");
  if (!dbf) {
    note(text::kDbfOpenFailed);
    return ShapeStatus::FileFailed;
  }
  AttributeTable table;
  int failed = -1;
  if (!readRecordAttributes(dbf.get(), table, failed)) {
    if (failed >= 0) return invalidRecord(failed);
    note(text::kInvalidShapefile);
    return ShapeStatus::Invalid;
  }
  recordAttributes_ = std::move(table);
  return ShapeStatus::Done;
}

ShapeStatus ShapefileConverter::readLineAttributes(const std::string& path, int records,
                                                   const std::string& valueField,
                                                   M_Data& attributes, int& valueColumn) {
  if (const ShapeStatus status = readAttributes(path, attributes); status != ShapeStatus::Done) {
    return status;
  }
  // A DBF without fields holds no records worth matching; its rows are the shapes.
  if (attributes.columnCount() == 0) attributes.Allocate(records, 0);
  if (attributes.rowCount() != records) {
    note(text::kInvalidShapefile);
    return ShapeStatus::Invalid;
  }
  if (const ShapeStatus status = readLayerAttributes(path); status != ShapeStatus::Done) {
    return status;
  }
  attributes.InsertColumn(0, 0, false);
  attributes.setColumnName(0, "IRec");
  valueColumn = findColumn(attributes, valueField);
  if (!valueField.empty() && valueColumn < 0) {
    // A misspelt field would silently give every line the value 0.
    const std::string fields = columnList(attributes, 1);
    noteText(cformat(text::kUnknownField.in(language_), valueField.c_str(),
                     fields.empty() ? text::kNoFields.in(language_) : fields.c_str()));
    return ShapeStatus::UnknownField;
  }
  return ShapeStatus::Done;
}

ShapeStatus ShapefileConverter::ReadShapeLines(const std::string& path, geometry::Cover& cover,
                                               const std::string& valueField,
                                               const std::string& idField,
                                               const std::string& nameField,
                                               std::vector<std::string>* names) {
  measures_.clear();
  zValues_.clear();
  const ShpFile shp = openShp(path);
  if (!shp) {
    note(text::kShpOpenFailed);
    return ShapeStatus::FileFailed;
  }
  int records = 0;
  int type = 0;
  SHPGetInfo(shp.get(), &records, &type, nullptr, nullptr);
  if (!isLineType(type)) {
    note(text::kNotLineType);
    return ShapeStatus::WrongType;
  }
  if (hasZOrMeasure(type)) note(text::kZOrMeasureDropped);
  M_Data attributes;
  int valueColumn = -1;
  if (const ShapeStatus status =
          readLineAttributes(path, records, valueField, attributes, valueColumn);
      status != ShapeStatus::Done) {
    return status;
  }
  const int nameColumn = findColumn(attributes, nameField);
  (void)findColumn(attributes, idField);

  std::vector<geometry::Line> lines;
  std::vector<std::string> lineNames;
  recordStarts_.clear();
  recordStarts_.reserve(static_cast<std::size_t>(records));
  std::vector<double>* z = type == 13 || type == 15 ? &zValues_ : nullptr;
  std::vector<double>* measures = hasZOrMeasure(type) ? &measures_ : nullptr;
  ProgressPacer shapes = ProgressPacer::opening(progress_, records);
  for (int i = 0; i < records; ++i) {
    recordStarts_.push_back(static_cast<std::int32_t>(cover.size() + lines.size()));
    attributes.SetNumeric(i, 0, i + 1.0);
    const ShapeObject shape(SHPReadObject(shp.get(), i));
    if (!shape || !detail::wellFormed(*shape)) return invalidRecord(i);
    if (!shapes.advance(i + 1)) return ShapeStatus::Cancelled;
    const double value = valueColumn >= 0 ? attributes.NumericValue(i, valueColumn) : 0.0;
    const std::size_t added = appendParts(*shape, i + 1, value, lines, z, measures);
    if (names != nullptr) {
      const std::string name = nameColumn >= 0 ? attributes.CellText(i, nameColumn) : std::string();
      lineNames.insert(lineNames.end(), added, name);
    }
  }
  cover.reserve(cover.size() + lines.size());
  for (geometry::Line& line : lines) cover.appendLine(std::move(line));
  if (names != nullptr) {
    for (std::string& name : lineNames) names->push_back(std::move(name));
  }
  attributes_ = std::move(attributes);
  return ShapeStatus::Done;
}

ShapeStatus ShapefileConverter::ShapefileToTable(const std::string& path, M_Data& table) {
  int type = 0;
  {
    const ShpFile shp = openShp(path);
    if (!shp) {
      note(text::kShpOpenFailed);
      return ShapeStatus::FileFailed;
    }
    SHPGetInfo(shp.get(), nullptr, &type, nullptr, nullptr);
  }
  M_Data result;
  result.setMissingCellValue(table.missingCellValue());
  ShapeStatus status = ShapeStatus::WrongType;
  if (isPointType(type)) {
    status = pointTable(path, type, result);
  } else if (isMultipointType(type)) {
    status = multipointTable(path, type, result);
  } else if (isLineType(type)) {
    status = lineTable(path, type, result);
  } else {
    note(text::kNotConvertible);
  }
  if (status != ShapeStatus::Done) return status;
  result.setPath(path);
  table = std::move(result);
  return status;
}

ShapeStatus ShapefileConverter::pointTable(const std::string& path, int type, M_Data& table) {
  if (const ShapeStatus status = readAttributes(path, table); status != ShapeStatus::Done) {
    return status;
  }
  ShpFile shp;
  int records = 0;
  if (const ShapeStatus status = openShapes(path, table, shp, records);
      status != ShapeStatus::Done) {
    note(openFailureText(status));
    return status;
  }
  const double missing = table.missingCellValue();
  PointColumns front(type == 11, type == 11 || type == 21);
  bool anyPoint = false;
  ProgressPacer shapes = ProgressPacer::opening(progress_, records);
  for (int i = 0; i < records; ++i) {
    const ShapeObject shape(SHPReadObject(shp.get(), i));
    if (!shape || !detail::wellFormed(*shape)) return invalidRecord(i);
    if (!shapes.advance(i + 1)) return ShapeStatus::Cancelled;
    const bool present = shape->nVertices > 0;
    anyPoint = anyPoint || present;
    if (present) {
      front.add(*shape, 0);
    } else {
      front.addMissing(missing);
    }
  }
  // Values saved without coordinates come back without coordinates.
  if (!anyPoint && records > 0) return ShapeStatus::Done;
  insertColumnsInFront(table, front.columns());
  return ShapeStatus::Done;
}

ShapeStatus ShapefileConverter::multipointTable(const std::string& path, int type, M_Data& table) {
  M_Data attributes;
  if (const ShapeStatus status = readAttributes(path, attributes); status != ShapeStatus::Done) {
    return status;
  }
  ShpFile shp;
  int records = 0;
  if (const ShapeStatus status = openShapes(path, attributes, shp, records);
      status != ShapeStatus::Done) {
    note(openFailureText(status));
    return status;
  }
  PointColumns front(type == 18, type == 18 || type == 28);
  std::vector<int> rowRecord;
  ProgressPacer shapes = ProgressPacer::opening(progress_, records);
  for (int i = 0; i < records; ++i) {
    const ShapeObject shape(SHPReadObject(shp.get(), i));
    if (!shape || !detail::wellFormed(*shape) ||
        rowRecord.size() + static_cast<std::size_t>(shape->nVertices) > INT_MAX) {
      return invalidRecord(i);
    }
    if (!shapes.advance(i + 1)) return ShapeStatus::Cancelled;
    for (int v = 0; v < shape->nVertices; ++v) {
      rowRecord.push_back(i);
      front.add(*shape, v);
    }
  }
  buildRowTable(front.columns(), attributes, rowRecord, table);
  attributes_ = std::move(attributes);
  return ShapeStatus::Done;
}

ShapeStatus ShapefileConverter::lineTable(const std::string& path, int type, M_Data& table) {
  geometry::Cover cover;
  // The table takes every field; no field gives the lines values here.
  const ShapeStatus status = ReadShapeLines(path, cover, {}, {}, {});
  if (status != ShapeStatus::Done) return status;
  if (cover.pointCount() > INT_MAX) {
    note(text::kInvalidShapefile);
    return ShapeStatus::Invalid;
  }
  std::vector<ValueColumn> front{{"nLn", {}}, {"X", {}}, {"Y", {}}};
  std::vector<int> rowRecord;
  std::size_t record = 0;
  for (std::size_t l = 0; l < cover.size(); ++l) {
    // The line's record: the last one whose first line is not after it.
    while (record + 1 < recordStarts_.size() &&
           static_cast<std::size_t>(recordStarts_[record + 1]) <= l) {
      ++record;
    }
    for (const geometry::Point& p : cover[l].points()) {
      front[0].values.push_back(static_cast<double>(l + 1));
      front[1].values.push_back(p.x);
      front[2].values.push_back(p.y);
      rowRecord.push_back(static_cast<int>(record));
    }
  }
  if (hasZOrMeasure(type)) front.push_back({"M", measures_});
  buildRowTable(front, attributes_, rowRecord, table);
  return ShapeStatus::Done;
}

}  // namespace vellumar::data
