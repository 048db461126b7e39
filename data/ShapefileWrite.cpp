#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <string_view>

#include "common/CFormat.h"
#include "common/MemoryGuard.h"
#include "common/TextEncoding.h"
#include "data/DataFileWriter.h"
#include "data/ShapeIo.h"
#include "data/Shapefile.h"
#include "data/ShapefileMessages.h"
#include "geometry/PolygonRecords.h"

namespace vellumar::data {
namespace {

using detail::DbfFile;
using detail::ExportFiles;
using detail::ShapeObject;
using detail::ShpFile;

constexpr int kNumberWidth = 16;
constexpr int kNameWidth = 16;
constexpr int kAttributeDecimals = 12;
// The widest character field a DBF holds.
constexpr int kMaxTextWidth = 254;

// A number in a numeric field of the given width: fixed with the field's decimals when it fits,
// else with fewer decimals, else in exponent form, so that no digit before the point is lost.
std::string numberField(double value, int width, int decimals) {
  for (int d = decimals; d >= 0; --d) {
    std::string text = cformat("%*.*f", width, d, value);
    if (static_cast<int>(text.size()) <= width) return text;
  }
  for (int d = width - 7; d >= 0; --d) {
    std::string text = cformat("%*.*E", width, d, value);
    if (static_cast<int>(text.size()) <= width) return text;
  }
  return std::string(static_cast<std::size_t>(width), ' ');
}

// The shapefile and DBF of one export, written in memory. Every write result is collected in ok;
// finish() closes the files and saves them over the targets only when all went well.
struct ExportWriter {
  ExportWriter(const std::string& path, std::string projection)
      : files(path, std::move(projection)) {}

  // The targets are checked and their temporary files created first, so that a target that
  // cannot be saved is refused before anything is built.
  bool createShp(int type) {
    if (!files.open()) return false;
    shp.reset(SHPCreateLL(files.memoryPath().c_str(), type, detail::shapeHooks()));
    return shp != nullptr;
  }
  bool createDbf() {
    dbf.reset(DBFCreateLL(files.memoryPath().c_str(), "LDID/87", detail::shapeHooks()));
    return dbf != nullptr;
  }
  bool reopenDbf() {
    dbf.reset();
    dbf = detail::openDbf(files.memoryPath(), "r+b");
    return dbf != nullptr;
  }
  void addField(const std::string& name, DBFFieldType type, int width, int decimals) {
    ok = ok && DBFAddField(dbf.get(), name.c_str(), type, width, decimals) >= 0;
  }
  void writeShape(SHPObject* created) {
    const ShapeObject shape(created);
    ok = ok && shape && SHPWriteObject(shp.get(), -1, shape.get()) >= 0;
  }
  // The record of the vertices at x and y, in the parts that partStarts begins; none is a null
  // shape. shapelib's SHPCreateObject would copy the coordinates without checking its
  // allocations (a crash when memory runs out), so the shape is described over these arrays
  // instead; Z and M read as zeros.
  void writeParts(int type, const double* x, const double* y, int vertices) {
    if (vertices == 0) {
      writeShape(SHPCreateSimpleObject(SHPT_NULL, 0, nullptr, nullptr, nullptr));
      return;
    }
    zeros.assign(static_cast<std::size_t>(vertices), 0.0);
    partTypes.assign(partStarts.size(), SHPP_RING);
    SHPObject shape{};
    shape.nSHPType = type;
    shape.nShapeId = -1;
    shape.nParts = static_cast<int>(partStarts.size());
    shape.panPartStart = partStarts.data();
    shape.panPartType = partTypes.data();
    shape.nVertices = vertices;
    shape.padfX = const_cast<double*>(x);
    shape.padfY = const_cast<double*>(y);
    shape.padfZ = zeros.data();
    shape.padfM = zeros.data();
    SHPComputeExtents(&shape);
    ok = ok && SHPWriteObject(shp.get(), -1, &shape) >= 0;
  }
  void writePoint(bool present, double x, double y) {
    writeShape(present ? SHPCreateSimpleObject(SHPT_POINT, 1, &x, &y, nullptr)
                       : SHPCreateSimpleObject(SHPT_NULL, 0, nullptr, nullptr, nullptr));
  }
  // Text of at most width bytes (the caller's field width).
  void writeText(int record, int field, std::string_view text, int width) {
    const std::string cut(cutUtf8(text, static_cast<std::size_t>(width)));
    ok = ok && DBFWriteStringAttribute(dbf.get(), record, field, cut.c_str()) != 0;
  }
  // Numbers are formatted here, under the C locale, and stored as they are.
  void writeNumberText(int record, int field, const std::string& text) {
    ok = ok &&
         DBFWriteAttributeDirectly(dbf.get(), record, field, const_cast<char*>(text.c_str())) != 0;
  }
  bool finish() {
    shp.reset();
    dbf.reset();
    // The hooks cannot pass a refused allocation through shapelib: a write failed for it.
    if (!ok) memory::throwIfRefused();
    return ok && files.commit();
  }

  ExportFiles files;
  ShpFile shp;
  DbfFile dbf;
  bool ok = true;
  std::vector<double> xs;
  std::vector<double> ys;
  std::vector<int> partStarts;
  std::vector<double> zeros;
  std::vector<int> partTypes;
};

// Writes the layer's attribute row of a record into its first fields, each value as the file it
// came from held it; a record without a row, or an empty value, is null.
void writeAttributeRow(ExportWriter& writer, int record, const AttributeTable& layer,
                       const std::vector<std::string>* row) {
  for (std::size_t j = 0; j < layer.fields.size() && writer.ok; ++j) {
    const int field = static_cast<int>(j);
    const AttributeField& declared = layer.fields[j];
    const std::string* text = row != nullptr && j < row->size() ? &(*row)[j] : nullptr;
    if (text == nullptr || text->empty()) {
      writer.ok = DBFWriteNULLAttribute(writer.dbf.get(), record, field) != 0;
    } else if (declared.type == 'C') {
      writer.writeText(record, field, *text, declared.width);
    } else if (declared.type == 'L') {
      writer.ok = DBFWriteLogicalAttribute(writer.dbf.get(), record, field, (*text)[0]) != 0;
    } else {
      writer.writeNumberText(record, field, *text);
    }
  }
}

// Writes the DBF record of a line or polygon record: the saved attributes' row of the record's
// first ring, then its value, id and name.
void writeRecordFields(ExportWriter& writer, std::size_t ring, double value, int id,
                       std::string_view name, const SavedAttributes* saved) {
  const int record = DBFGetRecordCount(writer.dbf.get());
  int own = 0;  // the first of Atribute, ID and NAME
  if (saved != nullptr && saved->table != nullptr) {
    writeAttributeRow(writer, record, *saved->table,
                      ring < saved->ringRows.size() ? saved->ringRows[ring] : nullptr);
    own = static_cast<int>(saved->table->fields.size());
  }
  writer.writeNumberText(record, own, numberField(value, kNumberWidth, kAttributeDecimals));
  writer.writeNumberText(record, own + 1, cformat("%*d", kNumberWidth, id));
  writer.writeText(record, own + 2, name, kNameWidth);
}

// Writes one shape of the given lines as parts, with the DBF record of the first line.
void writeLineRecord(ExportWriter& writer, int type, const geometry::Cover& cover,
                     const std::vector<std::size_t>& rings, std::string_view name,
                     const SavedAttributes* saved) {
  writer.xs.clear();
  writer.ys.clear();
  writer.partStarts.clear();
  for (std::size_t r : rings) {
    writer.partStarts.push_back(static_cast<int>(writer.xs.size()));
    for (const geometry::Point& p : cover[r].points()) {
      writer.xs.push_back(p.x);
      writer.ys.push_back(p.y);
    }
  }
  writer.writeParts(type, writer.xs.data(), writer.ys.data(), static_cast<int>(writer.xs.size()));
  const geometry::Line& head = cover[rings.front()];
  writeRecordFields(writer, rings.front(), head.value, head.id, name, saved);
}

// Creates the files of a line or polygon export and declares its fields: the saved layer's
// first, then Atribute, ID and NAME. The message of what failed, or null.
const MessageText* startLineExport(ExportWriter& writer, int shapeType,
                                   const AttributeTable* layer) {
  if (!writer.createShp(shapeType)) return &text::kShpOpenFailed;
  if (!writer.createDbf()) return &text::kDbfOpenFailed;
  if (layer != nullptr) {
    for (const AttributeField& field : layer->fields) {
      writer.ok = writer.ok && DBFAddNativeFieldType(writer.dbf.get(), field.name.c_str(),
                                                     field.type, field.width, field.decimals) >= 0;
    }
  }
  const std::vector<std::string> own = ownFieldNames(layer);
  writer.addField(own[0], FTDouble, kNumberWidth, kAttributeDecimals);
  writer.addField(own[1], FTInteger, kNumberWidth, 0);
  writer.addField(own[2], FTString, kNameWidth, 0);
  return nullptr;
}

// A number rounded to 12 significant digits in fixed notation, without trailing zeros ("-0.0015",
// "123000", "0"); empty when it is not finite.
std::string fixedText(double value) {
  if (!std::isfinite(value)) return {};
  const std::string scientific = cformat("%.11e", value);  // "-1.23456789012e+20"
  const bool negative = scientific.front() == '-';
  const std::size_t e = scientific.find('e');
  std::string digits;
  for (std::size_t k = negative ? 1 : 0; k < e; ++k) {
    if (scientific[k] != '.') digits += scientific[k];
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits == "0") return "0";
  // The count of digits before the point.
  const int point = std::stoi(scientific.substr(e + 1)) + 1;
  std::string text = negative ? "-" : "";
  if (point <= 0) {
    text += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    text += digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
  } else {
    text += digits.substr(0, point) + "." + digits.substr(point);
  }
  return text;
}

// A numeric column as the texts of a DBF numeric field ("N") of its width and decimals: every value
// with 12 significant digits, in fixed notation with the column's decimals, right-aligned; a value
// that is not finite is blank (a null). A column whose fixed form would be wider than
// kMaxNumberWidth is written in exponent form.
struct NumberField {
  std::vector<std::string> texts;
  int width = 1;
  int decimals = 0;
};

constexpr int kMaxNumberWidth = 40;

NumberField numericColumnField(const M_Data& table, int column) {
  NumberField field;
  int integerWidth = 1;
  for (int row = 0; row < table.rowCount(); ++row) {
    std::string text = fixedText(table.NumericValue(row, column));
    const std::size_t point = text.find('.');
    const int whole = static_cast<int>(point == std::string::npos ? text.size() : point);
    integerWidth = std::max(integerWidth, whole);
    if (point != std::string::npos) {
      field.decimals = std::max(field.decimals, static_cast<int>(text.size() - point - 1));
    }
    field.texts.push_back(std::move(text));
  }
  field.width = integerWidth + (field.decimals > 0 ? field.decimals + 1 : 0);
  if (field.width > kMaxNumberWidth) {
    field.decimals = 11;
    field.width = 19;  // "-1.23456789012E+300"
    for (int row = 0; row < table.rowCount(); ++row) {
      const double value = table.NumericValue(row, column);
      field.texts[row] = std::isfinite(value) ? cformat("%.11E", value) : std::string();
    }
  } else {
    for (std::string& text : field.texts) {
      if (text.empty() || field.decimals == 0) continue;
      std::size_t point = text.find('.');
      if (point == std::string::npos) {
        point = text.size();
        text += '.';
      }
      text.append(static_cast<std::size_t>(field.decimals) - (text.size() - point - 1), '0');
    }
  }
  for (std::string& text : field.texts) {
    text.insert(0, static_cast<std::size_t>(field.width) - text.size(), ' ');
  }
  return field;
}

// The most bytes the .shp of a cover's lines takes, each line a record of one part (a polygon
// record joins rings, and takes less): the file header, and per record its header, the shape's
// type, box and counts, its part start, and then the points.
std::size_t shapeBytesOf(std::size_t lines, std::size_t points) {
  constexpr std::size_t kFileHeader = 100;
  constexpr std::size_t kRecord = 8 + 44 + 4;
  constexpr std::size_t kPoint = 16;
  return kFileHeader + lines * kRecord + points * kPoint;
}

// A DBF field name for a column: its name cut to the DBF's 10 bytes, or "Z<column>" when blank.
std::string fieldName(const M_Data& table, int column) {
  std::string_view name = table.columnName(column);
  if (name.find_first_not_of(' ') == std::string_view::npos) return cformat("Z%d", column);
  return std::string(cutUtf8(name, XBASE_FLDNAME_LEN_WRITE));
}

}  // namespace

ShapeStatus ShapefileConverter::CoverToShapefile(const std::string& path,
                                                 const geometry::Cover& cover, int shapeType,
                                                 std::span<const std::string> names,
                                                 const SavedAttributes* saved) {
  if (shapeType != shape_type::kArc && shapeType != shape_type::kPolygon) {
    note(text::kNotLineType);
    return ShapeStatus::WrongType;
  }
  ExportWriter writer(path, projection_);
  writer.files.expectShapeBytes(shapeBytesOf(cover.size(), cover.pointCount()));
  if (const MessageText* failed =
          startLineExport(writer, shapeType, saved != nullptr ? saved->table : nullptr)) {
    note(*failed);
    return ShapeStatus::FileFailed;
  }
  auto nameOf = [&](std::size_t line) {
    return line < names.size() ? std::string_view(names[line]) : std::string_view();
  };
  if (shapeType == shape_type::kArc) {
    std::vector<std::size_t> single(1);
    for (std::size_t i = 0; i < cover.size() && writer.ok; ++i) {
      single[0] = i;
      writeLineRecord(writer, shapeType, cover, single, nameOf(i), saved);
    }
  } else {
    for (const std::vector<std::size_t>& rings : geometry::polygonRecords(cover)) {
      if (!writer.ok) break;
      writeLineRecord(writer, shapeType, cover, rings, nameOf(rings.front()), saved);
    }
  }
  return finished(writer.finish());
}

ShapeStatus ShapefileConverter::FlatLinesToShapefile(const std::string& path,
                                                     const FlatLines& lines,
                                                     const SavedAttributes* saved) {
  ExportWriter writer(path, projection_);
  writer.files.expectShapeBytes(shapeBytesOf(lines.counts.size(), lines.x.size()));
  if (const MessageText* failed =
          startLineExport(writer, shape_type::kArc, saved != nullptr ? saved->table : nullptr)) {
    note(*failed);
    return ShapeStatus::FileFailed;
  }
  writer.partStarts.assign(1, 0);
  std::size_t first = 0;
  for (std::size_t k = 0; k < lines.counts.size() && writer.ok; ++k) {
    const int count = lines.counts[k];
    // The points are read where they lie, without a copy.
    writer.writeParts(shape_type::kArc, lines.x.data() + first, lines.y.data() + first, count);
    const double value = count > 0 ? lines.values[first] : 0.0;
    writeRecordFields(writer, k, value, static_cast<int>(k + 1), {}, saved);
    first += static_cast<std::size_t>(count);
  }
  return finished(writer.finish());
}

ShapeStatus ShapefileConverter::TableToPointShapefile(const std::string& path, const M_Data& table,
                                                      int xColumn, int yColumn) {
  ExportWriter writer(path, projection_);
  if (!writer.createShp(SHPT_POINT)) {
    note(text::kShpCreateFailed);
    return ShapeStatus::FileFailed;
  }
  if (!writer.createDbf()) {
    note(text::kDbfCreateFailed);
    return ShapeStatus::FileFailed;
  }
  std::vector<int> fields;
  for (int j = table.rowNumberOffset() == 1 ? 1 : 0; j < table.columnCount(); ++j) {
    if (j != xColumn && j != yColumn) fields.push_back(j);
  }
  // Numeric columns become numeric fields, so that other programs sort and style by them; text
  // columns text fields, with one running width over them, so no later text field is narrower
  // than an earlier one.
  std::vector<NumberField> numbers(fields.size());
  std::vector<int> widths;
  int longest = 0;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const int j = fields[f];
    if (table.isNumericColumn(j)) {
      numbers[f] = numericColumnField(table, j);
      widths.push_back(numbers[f].width);
      writer.addField(fieldName(table, j), FTDouble, numbers[f].width, numbers[f].decimals);
      continue;
    }
    for (int row = 0; row < table.rowCount(); ++row) {
      longest = std::max(longest, static_cast<int>(table.CellText(row, j).size()));
    }
    widths.push_back(std::min(longest + 1, kMaxTextWidth));
    writer.addField(fieldName(table, j), FTString, widths.back(), 0);
  }
  if (!writer.reopenDbf()) {
    note(text::kDbfReopenFailed);
    return ShapeStatus::FileFailed;
  }
  const bool located = xColumn >= 0 && yColumn >= 0;
  for (int row = 0; row < table.rowCount() && writer.ok; ++row) {
    for (std::size_t f = 0; f < fields.size(); ++f) {
      const int field = static_cast<int>(f);
      if (table.isNumericColumn(fields[f])) {
        writer.writeNumberText(row, field, numbers[f].texts[row]);
      } else {
        writer.writeText(row, field, table.CellText(row, fields[f]), widths[f]);
      }
    }
    writer.writePoint(located, located ? table.NumericValue(row, xColumn) : 0.0,
                      located ? table.NumericValue(row, yColumn) : 0.0);
  }
  return finished(writer.finish());
}

ShapeStatus ShapefileConverter::finished(bool written) {
  if (!written) {
    note(text::kWriteFailed);
    return ShapeStatus::FileFailed;
  }
  return ShapeStatus::Done;
}

M_Data tableOfResult(const DATA& result) {
  M_Data table;
  const bool located = result.hasCoordinates();
  const int rows = static_cast<int>(result.count());
  table.Allocate(rows, located ? 3 : 1);
  int column = 0;
  auto add = [&](const char* name, std::span<const double> values) {
    table.setColumnName(column, name);
    for (int row = 0; row < rows; ++row) table.SetNumeric(row, column, values[row]);
    ++column;
  };
  if (located) {
    add("X", result.x());
    add("Y", result.y());
  }
  add("Z", result.values());
  return table;
}

}  // namespace vellumar::data
