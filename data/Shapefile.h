#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/ErrorSink.h"
#include "common/Language.h"
#include "data/AttributeTable.h"
#include "data/DATA.h"
#include "data/M_Data.h"
#include "geometry/Geometry.h"

namespace vellumar::data {

// Lines stored flat, as an expression's lines value holds them: the points of every line one
// after the other (x, y and the value of each point) and each line's count of points.
struct FlatLines {
  std::span<const double> x;
  std::span<const double> y;
  std::span<const double> values;
  std::span<const std::int32_t> counts;
};

// Outcome of a shapefile conversion.
enum class [[nodiscard]] ShapeStatus : int{
    Done = 0,
    FileFailed = 2,    // a file could not be opened, created, written or renamed into place
    WrongType = -1,    // the shape type does not suit the conversion
    Invalid = 3,       // a damaged file: unreadable records, counts that disagree, bad part starts
    UnknownField = 4,  // the DBF has no field of the name asked for
    Cancelled = 5,     // the user cancelled through the progress sink
};

// Shape type codes of the shapefile standard that the conversions accept.
namespace shape_type {
inline constexpr int kPoint = 1;
inline constexpr int kArc = 3;
inline constexpr int kPolygon = 5;
inline constexpr int kMultiPoint = 8;
inline constexpr int kPointZ = 11;
inline constexpr int kArcZ = 13;
inline constexpr int kPolygonZ = 15;
inline constexpr int kMultiPointZ = 18;
inline constexpr int kPointM = 21;
inline constexpr int kArcM = 23;
inline constexpr int kPolygonM = 25;
inline constexpr int kMultiPointM = 28;
}  // namespace shape_type

// The field names of the DBF beside a shapefile (path with its .shp extension), in field order.
// False, with names left empty, when the DBF cannot be opened. Fills the value-field choice.
bool ListDbfFields(const std::string& path, std::vector<std::string>& names);

// The projection (.prj) beside a shapefile (path with its .shp extension): true with its bytes
// when there is one that can be read.
bool ReadProjection(const std::string& path, std::string& bytes);

// Converts between shapefiles (a .shp/.shx pair with a .dbf of one attribute record per shape)
// and the calculator's covers and tables. One converter serves one load or save command: it
// collects a message log (texts in its language, separated by CR LF), and keeps what the last
// line reading found: the attribute table (an "IRec" column of 1-based record numbers before the
// DBF fields), the index of each record's first line, and the Z and M values of the vertices read
// (in reading order; Z only for ArcZ and PolygonZ, M for every Z or M type).
//
// Damaged files never crash a conversion: a record shapelib cannot read, a DBF whose record count
// differs from the shape count, or part starts outside a record's vertices give
// ShapeStatus::Invalid. Exports write every file beside its target and rename them into place
// only when all were written, so a failed export leaves the earlier files as they were.
class ShapefileConverter {
 public:
  explicit ShapefileConverter(Language language = Language::Russian) : language_(language) {}

  Language language() const { return language_; }
  void setLanguage(Language language) { language_ = language; }
  const std::string& log() const { return log_; }
  // The projection the exports write as a .prj beside their files, in the same save; none is
  // written while it is empty.
  void setProjection(std::string projection) { projection_ = std::move(projection); }
  // The last text added to the log: after a failed conversion, what went wrong.
  const std::string& lastNote() const { return lastNote_; }
  const M_Data& attributes() const { return attributes_; }
  // Every field and record of the DBF the last line reading read, as the file holds them.
  const AttributeTable& recordAttributes() const { return recordAttributes_; }
  const std::vector<std::int32_t>& recordStarts() const { return recordStarts_; }
  const std::vector<double>& zValues() const { return zValues_; }
  const std::vector<double>& measures() const { return measures_; }
  // The progress of the reads that follow: every record read is reported, and a cancel ends the
  // read with ShapeStatus::Cancelled, its target unchanged.
  void setProgress(ErrorSink* progress) { progress_ = progress; }
  // The 1-based record at fault of the last Invalid read, 0 when no one record is at fault.
  std::int64_t faultRecord() const { return faultRecord_; }

  // Fills table from the DBF beside path: one row per record, one column per field named after
  // it. String fields become text columns (cells trimmed of blanks) unless every cell reads whole
  // as a number (empty cells included); other fields are numeric. False when the DBF cannot be
  // opened or a record cannot be read; table is replaced only on success.
  bool ReadDbf(const std::string& path, M_Data& table);

  // Appends the lines of a line or polygon shapefile (types 3, 5 and their Z and M forms) to
  // cover, one line per part in record and part order (records and parts without vertices give
  // no line). Each line takes the id record + 1 (so the rings of one record share their id), the
  // numeric value of valueField in its record (0 for every line when valueField is empty) and,
  // when names is given, one name per line appended from nameField (empty when absent). Field
  // names are compared without regard to case, as DBF readers do. A valueField the DBF lacks gives
  // ShapeStatus::UnknownField, with a log line (lastNote) listing the DBF's fields. idField is
  // looked up only.
  ShapeStatus ReadShapeLines(const std::string& path, geometry::Cover& cover,
                             const std::string& valueField, const std::string& idField,
                             const std::string& nameField,
                             std::vector<std::string>* names = nullptr);

  // Reads any point, multipoint, line or polygon shapefile as a table (replaced only on success):
  //  - points: X, Y, [Z for PointZ], [Measure for PointZ and PointM], the DBF fields, one row per
  //    record; a file of null shapes only (the export of values without coordinates) has the DBF
  //    fields alone, and a null shape among points has missing X and Y;
  //  - multipoints: the same columns, one row per vertex repeating its record's attributes;
  //  - lines and polygons: nLn (1-based line number), X, Y, [M for the Z and M types], IRec and
  //    the DBF fields, one row per vertex of every line.
  // The table's path is set to path.
  ShapeStatus ShapefileToTable(const std::string& path, M_Data& table);

  // Writes table as a point shapefile: one point per row at the numeric values of the 0-based
  // columns xColumn and yColumn, and one field per other column (named after it, or "Z<j>" when
  // the name is blank): a numeric field ("N") for a numeric column, its values with 12
  // significant digits in fixed notation (exponent form when that would be wider than 40
  // characters; blank when not finite), a string field for a text column. With both columns -1
  // every record holds a null shape: the values are kept, no position is invented. When the
  // table's row-number offset is 1 its first column is left out.
  ShapeStatus TableToPointShapefile(const std::string& path, const M_Data& table, int xColumn,
                                    int yColumn);

  // Writes cover as a line (type 3) or polygon (type 5) shapefile with the fields "Atribute"
  // (value), "ID" (id) and "NAME" (names[i], or empty; cut to 16 bytes), each record taking them
  // from its first line. With saved attributes, every field of the layer comes first, each
  // record holding the row of its first line's record, values written as they were read; a
  // documented field whose name the layer has already takes the suffix "_1" ("_2", ...). Lines: one
  // single-part record per line. Polygons: the clockwise rings (negative area) of one id form one
  // record, in the order of their first ring; each is a part followed by its holes, in cover order.
  // A hole (counter-clockwise ring) belongs to a clockwise ring whose rectangle and ring hold its
  // first point strictly inside: one of its own id first, else the smallest. Rings of zero area and
  // holes inside no clockwise ring are not written. When a projection is set it is written as the
  // .prj of the set.
  ShapeStatus CoverToShapefile(const std::string& path, const geometry::Cover& cover, int shapeType,
                               std::span<const std::string> names = {},
                               const SavedAttributes* saved = nullptr);

  // Writes lines stored flat as a line shapefile, record for record as CoverToShapefile writes
  // the cover of the same lines (the same bytes), without building that cover: line k is a record
  // of its counts[k] points, following those of the lines before it, with "Atribute" the value of
  // its first point (0 for a line without points), "ID" k + 1, an empty "NAME", and the saved
  // attributes' row of ring k. The counts must fit the points.
  ShapeStatus FlatLinesToShapefile(const std::string& path, const FlatLines& lines,
                                   const SavedAttributes* saved = nullptr);

 private:
  void note(const MessageText& message);
  // Done when an export's files were written and saved, else notes the failure.
  ShapeStatus finished(bool written);
  void noteText(std::string text);
  // A read found record index (0-based) damaged: notes it and gives Invalid.
  ShapeStatus invalidRecord(int index);
  // ReadDbf with its outcome: FileFailed when the DBF cannot be opened, Invalid when a record
  // cannot be read.
  ShapeStatus readAttributes(const std::string& path, M_Data& table);
  // Fills recordAttributes_ from the DBF beside path, with the outcomes of readAttributes.
  ShapeStatus readLayerAttributes(const std::string& path);
  // The attributes of a line layer of records shapes, its record numbers in front as "IRec",
  // and the column of valueField in them (-1 for none); also fills recordAttributes_.
  ShapeStatus readLineAttributes(const std::string& path, int records,
                                 const std::string& valueField, M_Data& attributes,
                                 int& valueColumn);
  ShapeStatus pointTable(const std::string& path, int type, M_Data& table);
  ShapeStatus multipointTable(const std::string& path, int type, M_Data& table);
  ShapeStatus lineTable(const std::string& path, int type, M_Data& table);

  Language language_;
  std::string log_;
  std::string lastNote_;
  std::string projection_;
  M_Data attributes_;
  AttributeTable recordAttributes_;
  std::vector<std::int32_t> recordStarts_;
  std::vector<double> zValues_;
  std::vector<double> measures_;
  ErrorSink* progress_ = nullptr;
  std::int64_t faultRecord_ = 0;
};

// A data result as the table its shapefile export writes: numeric columns "X", "Y", "Z" when it
// has coordinates (X and Y are then columns 0 and 1), else the one column "Z".
M_Data tableOfResult(const DATA& result);

}  // namespace vellumar::data
