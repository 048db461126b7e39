#include "formats/VectorFile.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <type_traits>

#include "common/CFormat.h"
#include "common/MemoryGuard.h"
#include "common/SafeSave.h"
#include "data/DataFileWriter.h"
#include "formats/GdalLibrary.h"
#include "geometry/PolygonRecords.h"

namespace vellumar::formats {
namespace {

using detail::Dataset;
using detail::lowerExtension;

struct FeatureDestroyer {
  void operator()(OGRFeatureH feature) const { detail::gdal().OGR_F_Destroy(feature); }
};
using Feature = std::unique_ptr<std::remove_pointer_t<OGRFeatureH>, FeatureDestroyer>;
struct GeometryDestroyer {
  void operator()(OGRGeometryH geometry) const { detail::gdal().OGR_G_DestroyGeometry(geometry); }
};
using Geometry = std::unique_ptr<std::remove_pointer_t<OGRGeometryH>, GeometryDestroyer>;

// Features between two progress reports.
constexpr std::int64_t kFeaturesPerReport = 1024;
// The widest text field a DBF holds, which a layer saved as a shapefile then gets.
constexpr int kMaxTextWidth = 254;

// The extensions of the program's own text formats (data tables, line, polygon and value
// files), which are never asked of GDAL: a load of one then costs no driver registration.
bool isOwnTextExtension(std::string_view extension) {
  for (std::string_view own : {".dat", ".csv", ".con", ".lin", ".pol", ".val"}) {
    if (extension == own) return true;
  }
  return false;
}

bool isReadExtension(std::string_view extension) {
  for (std::string_view known : {".gpkg", ".geojson", ".json", ".fgb", ".kml", ".gml"}) {
    if (extension == known) return true;
  }
  return false;
}

// The OGR driver that writes the extension; null for one that is not written through OGR.
const char* writingDriver(std::string_view extension) {
  if (extension == ".gpkg") return "GPKG";
  if (extension == ".geojson" || extension == ".json") return "GeoJSON";
  if (extension == ".fgb") return "FlatGeobuf";
  return nullptr;
}

bool isRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Runs a call into GDAL with the memory guard suspended: GDAL's C code cannot pass a refusal
// through, so only the allocations of our own between such calls are checked.
template <class Call>
auto unguarded(Call&& call) {
  const memory::Unguarded suspended;
  return call();
}

Dataset openVector(const std::string& name) {
  return unguarded([&] {
    return Dataset(detail::gdal().GDALOpenEx(
        name.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr, nullptr,
        nullptr));
  });
}

std::vector<std::string> layerNames(GDALDatasetH dataset) {
  std::vector<std::string> names;
  const int count = detail::gdal().GDALDatasetGetLayerCount(dataset);
  for (int i = 0; i < count; ++i) {
    if (OGRLayerH layer = detail::gdal().GDALDatasetGetLayer(dataset, i))
      names.emplace_back(detail::gdal().OGR_L_GetName(layer));
  }
  return names;
}

std::vector<std::string> fieldNames(OGRFeatureDefnH definition) {
  std::vector<std::string> names;
  for (int j = 0; j < detail::gdal().OGR_FD_GetFieldCount(definition); ++j)
    names.emplace_back(
        detail::gdal().OGR_Fld_GetNameRef(detail::gdal().OGR_FD_GetFieldDefn(definition, j)));
  return names;
}

// The layer a read names, its first when it names none; null with the read's status set when the
// file has no such layer (or none at all).
OGRLayerH chooseLayer(GDALDatasetH dataset, const std::string& name, VectorRead& read) {
  OGRLayerH layer = name.empty() ? detail::gdal().GDALDatasetGetLayer(dataset, 0)
                                 : detail::gdal().GDALDatasetGetLayerByName(dataset, name.c_str());
  if (layer == nullptr) {
    read.status = name.empty() ? VectorStatus::NotVector : VectorStatus::NoSuchLayer;
    read.layer = name;
    read.layers = layerNames(dataset);
    return nullptr;
  }
  read.layer = detail::gdal().OGR_L_GetName(layer);
  return layer;
}

std::string layerSystem(OGRLayerH layer) {
  OGRSpatialReferenceH srs = detail::gdal().OGR_L_GetSpatialRef(layer);
  if (srs == nullptr) return {};
  char* text = nullptr;
  std::string wkt;
  if (detail::gdal().OSRExportToWkt(srs, &text) == OGRERR_NONE && text != nullptr) wkt = text;
  detail::gdal().VSIFree(text);
  return wkt;
}

bool isBoolean(OGRFieldDefnH field) {
  return detail::gdal().OGR_Fld_GetSubType(field) == OFSTBoolean;
}

// A field as a DBF would declare it, so that a layer read here saves as a shapefile too.
data::AttributeField declaredField(OGRFieldDefnH field) {
  data::AttributeField declared;
  declared.name = detail::gdal().OGR_Fld_GetNameRef(field);
  const int width = detail::gdal().OGR_Fld_GetWidth(field);
  switch (detail::gdal().OGR_Fld_GetType(field)) {
    case OFTInteger:
    case OFTInteger64:
      declared.type = isBoolean(field) ? 'L' : 'N';
      declared.width = isBoolean(field) ? 1 : (width > 0 ? width : 20);
      break;
    case OFTReal: {
      const int precision = detail::gdal().OGR_Fld_GetPrecision(field);
      declared.type = 'N';
      declared.width = width > 0 ? width : 24;
      declared.decimals = width > 0 ? precision : 15;
      break;
    }
    case OFTDate:
      declared.type = 'D';
      declared.width = 8;
      break;
    default:
      declared.type = 'C';
      declared.width = std::min(width, kMaxTextWidth);  // 0: the longest value decides
      break;
  }
  return declared;
}

// A value's text as the table keeps it: reals in the fewest digits that read back as the same
// double, dates in the DBF's YYYYMMDD, logicals as T or F, every other value as OGR writes it;
// empty for a null value.
std::string fieldText(OGRFeatureH feature, int index, const data::AttributeField& declared,
                      bool real) {
  if (!detail::gdal().OGR_F_IsFieldSetAndNotNull(feature, index)) return {};
  if (real) {
    char text[32];
    const double value = detail::gdal().OGR_F_GetFieldAsDouble(feature, index);
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
  }
  if (declared.type == 'L')
    return detail::gdal().OGR_F_GetFieldAsInteger(feature, index) != 0 ? "T" : "F";
  if (declared.type == 'D') {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, zone = 0;
    float second = 0;
    detail::gdal().OGR_F_GetFieldAsDateTimeEx(feature, index, &year, &month, &day, &hour, &minute,
                                              &second, &zone);
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
    return text;
  }
  return detail::gdal().OGR_F_GetFieldAsString(feature, index);
}

// The number a text holds, read whole in any locale; 0 for none.
double numberOf(std::string_view text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  if (std::from_chars(text.data(), end, value).ptr != end) return 0.0;
  return value;
}

// Reads a layer feature by feature: its attributes, and the lines, rings or points of each.
class LayerReader {
 public:
  LayerReader(OGRLayerH layer, VectorLoad load, VectorRead& read, ErrorSink* progress)
      : layer_(layer), load_(load), read_(read), progress_(progress) {}

  // Finds the value field; false with the read's status set when the layer has none of its name.
  bool chooseValueField(const std::string& valueField);
  // Reads every feature; false with the read's status set on failure.
  bool readFeatures(const detail::ErrorCapture& errors);
  void fillLines(VectorContent& content);
  void fillTable(data::M_Data& table) const;

 private:
  bool readFeature(OGRFeatureH feature);
  bool readGeometry(OGRGeometryH geometry, bool part);
  void addLine(OGRGeometryH curve, bool ring, bool outer);
  void addPoint(OGRGeometryH point);
  bool wrongGeometry(OGRGeometryH geometry);

  OGRLayerH layer_;
  VectorLoad load_;
  VectorRead& read_;
  ErrorSink* progress_;
  std::vector<data::AttributeField> fields_;
  std::vector<bool> widthFromValues_;  // text fields without a declared width
  std::vector<bool> realFields_;       // fields of OGR's real type
  int valueIndex_ = -1;
  std::int64_t feature_ = 0;  // 1-based number of the feature being read
  double value_ = 0.0;        // its value
  std::vector<std::vector<std::string>> rows_;
  geometry::Cover cover_;
  struct TablePoint {
    double x;
    double y;
    std::size_t row;
  };
  std::vector<TablePoint> points_;
  bool anyPoint_ = false;
};

bool LayerReader::chooseValueField(const std::string& valueField) {
  OGRFeatureDefnH definition = detail::gdal().OGR_L_GetLayerDefn(layer_);
  for (int j = 0; j < detail::gdal().OGR_FD_GetFieldCount(definition); ++j) {
    fields_.push_back(declaredField(detail::gdal().OGR_FD_GetFieldDefn(definition, j)));
    widthFromValues_.push_back(fields_.back().type == 'C' && fields_.back().width == 0);
    realFields_.push_back(detail::gdal().OGR_Fld_GetType(
                              detail::gdal().OGR_FD_GetFieldDefn(definition, j)) == OFTReal);
  }
  if (valueField.empty()) return true;
  valueIndex_ = static_cast<int>(data::findField(fields_, valueField));
  if (valueIndex_ >= 0) return true;
  read_.status = VectorStatus::UnknownField;
  read_.fields = fieldNames(definition);
  return false;
}

bool LayerReader::readFeatures(const detail::ErrorCapture& errors) {
  unguarded([&] { detail::gdal().OGR_L_ResetReading(layer_); });
  const std::int64_t total =
      unguarded([&] { return detail::gdal().OGR_L_GetFeatureCount(layer_, FALSE); });
  ProgressPacer features = ProgressPacer::opening(progress_, total, kFeaturesPerReport);
  for (;;) {
    const Feature feature(unguarded([&] { return detail::gdal().OGR_L_GetNextFeature(layer_); }));
    if (!feature) break;
    ++feature_;
    if (!readFeature(feature.get())) return false;
    if (!features.advance(feature_)) {
      read_.status = VectorStatus::Cancelled;
      return false;
    }
  }
  if (errors.failed()) {
    read_.status = VectorStatus::NotVector;
    read_.libraryError = errors.message();
    return false;
  }
  return true;
}

bool LayerReader::readFeature(OGRFeatureH feature) {
  std::vector<std::string>& row = rows_.emplace_back();
  row.reserve(fields_.size());
  for (std::size_t j = 0; j < fields_.size(); ++j) {
    row.push_back(unguarded(
        [&] { return fieldText(feature, static_cast<int>(j), fields_[j], realFields_[j]); }));
    if (widthFromValues_[j]) {
      const int bytes = static_cast<int>(std::min<std::size_t>(row.back().size(), kMaxTextWidth));
      fields_[j].width = std::max({fields_[j].width, bytes, 1});
    }
  }
  value_ = valueIndex_ >= 0 ? numberOf(row[static_cast<std::size_t>(valueIndex_)]) : 0.0;
  OGRGeometryH geometry = detail::gdal().OGR_F_GetGeometryRef(feature);
  if (geometry == nullptr || detail::gdal().OGR_G_IsEmpty(geometry)) {
    if (load_ == VectorLoad::Table) points_.push_back({NAN, NAN, rows_.size() - 1});
    return true;
  }
  // Arcs and curved rings are read as the lines OGR approximates them by.
  Geometry linear;
  if (detail::gdal().OGR_G_HasCurveGeometry(geometry, FALSE)) {
    linear.reset(
        unguarded([&] { return detail::gdal().OGR_G_GetLinearGeometry(geometry, 0, nullptr); }));
    if (!linear) return wrongGeometry(geometry);
    geometry = linear.get();
  }
  return readGeometry(geometry, false);
}

bool LayerReader::readGeometry(OGRGeometryH geometry, bool part) {
  if (detail::gdal().OGR_G_Is3D(geometry) || detail::gdal().OGR_G_IsMeasured(geometry))
    read_.droppedZOrM = true;
  const OGRwkbGeometryType type =
      detail::gdal().OGR_GT_Flatten(detail::gdal().OGR_G_GetGeometryType(geometry));
  const bool table = load_ == VectorLoad::Table;
  switch (type) {
    case wkbPoint:
      if (!table) return wrongGeometry(geometry);
      addPoint(geometry);
      return true;
    case wkbLineString:
      if (load_ != VectorLoad::Lines) return wrongGeometry(geometry);
      addLine(geometry, false, false);
      return true;
    case wkbPolygon:
      if (table) return wrongGeometry(geometry);
      for (int r = 0; r < detail::gdal().OGR_G_GetGeometryCount(geometry); ++r)
        addLine(detail::gdal().OGR_G_GetGeometryRef(geometry, r), true, r == 0);
      return true;
    case wkbMultiPoint:
    case wkbMultiLineString:
    case wkbMultiPolygon:
      if (part) return wrongGeometry(geometry);
      for (int g = 0; g < detail::gdal().OGR_G_GetGeometryCount(geometry); ++g) {
        if (!readGeometry(detail::gdal().OGR_G_GetGeometryRef(geometry, g), true)) return false;
      }
      return true;
    default:
      return wrongGeometry(geometry);
  }
}

bool LayerReader::wrongGeometry(OGRGeometryH geometry) {
  read_.status = VectorStatus::WrongGeometry;
  read_.feature = feature_;
  read_.geometryName = unguarded([&] {
    return std::string(
        detail::gdal().OGRGeometryTypeToName(detail::gdal().OGR_G_GetGeometryType(geometry)));
  });
  return false;
}

void LayerReader::addLine(OGRGeometryH curve, bool ring, bool outer) {
  const int count = detail::gdal().OGR_G_GetPointCount(curve);
  if (count <= 0) return;
  // OGR writes the coordinates straight into the points, a stride apart.
  std::vector<geometry::Point> points(static_cast<std::size_t>(count) + (ring ? 1 : 0));
  detail::gdal().OGR_G_GetPoints(curve, &points[0].x, sizeof(geometry::Point), &points[0].y,
                                 sizeof(geometry::Point), nullptr, 0);
  // A ring is closed, as the polygon model wants, even where the file left it open.
  if (ring) {
    if (count > 1 && !geometry::samePosition(points.front(), points[points.size() - 2])) {
      points.back() = points.front();
    } else {
      points.pop_back();
    }
  }
  geometry::Line line(std::move(points));
  // Outer rings clockwise (negative area), holes counter-clockwise.
  if (ring && (outer ? line.signedArea() > 0.0 : line.signedArea() < 0.0)) line.reverse();
  line.id = static_cast<std::int32_t>(feature_);
  line.value = value_;
  cover_.appendLine(std::move(line));
}

void LayerReader::addPoint(OGRGeometryH point) {
  anyPoint_ = true;
  points_.push_back(
      {detail::gdal().OGR_G_GetX(point, 0), detail::gdal().OGR_G_GetY(point, 0), rows_.size() - 1});
}

void LayerReader::fillLines(VectorContent& content) {
  content.cover = std::move(cover_);
  content.attributes.fields = std::move(fields_);
  content.attributes.rows = std::move(rows_);
}

void LayerReader::fillTable(data::M_Data& table) const {
  // Values saved without coordinates come back without coordinates.
  const int front = anyPoint_ ? 2 : 0;
  std::vector<int> widths(static_cast<std::size_t>(front), 0);
  for (std::size_t j = 0; j < fields_.size(); ++j) {
    int width = 0;
    if (fields_[j].type == 'C' || fields_[j].type == 'L' || fields_[j].type == 'D') {
      for (const std::vector<std::string>& row : rows_)
        width = std::max(width, static_cast<int>(row[j].size()));
      ++width;
    }
    widths.push_back(width);
  }
  const int rows = static_cast<int>(points_.size());
  table.Allocate(rows, static_cast<int>(widths.size()), widths);
  const double missing = table.missingCellValue();
  if (anyPoint_) {
    table.setColumnName(0, "X");
    table.setColumnName(1, "Y");
  }
  for (std::size_t j = 0; j < fields_.size(); ++j)
    table.setColumnName(front + static_cast<int>(j), fields_[j].name);
  for (int i = 0; i < rows; ++i) {
    const TablePoint& point = points_[static_cast<std::size_t>(i)];
    if (anyPoint_) {
      table.SetNumeric(i, 0, std::isnan(point.x) ? missing : point.x);
      table.SetNumeric(i, 1, std::isnan(point.y) ? missing : point.y);
    }
    const std::vector<std::string>& row = rows_[point.row];
    for (std::size_t j = 0; j < fields_.size(); ++j) {
      const int column = front + static_cast<int>(j);
      if (table.isNumericColumn(column)) {
        table.SetNumeric(i, column, row[j].empty() ? missing : numberOf(row[j]));
      } else {
        table.SetText(i, column, row[j]);
      }
    }
  }
}

VectorRead failure(VectorStatus status, const detail::ErrorCapture& errors) {
  VectorRead read;
  read.status = status;
  read.libraryError = errors.message();
  return read;
}

// The outcomes of a read and of a write when GDAL itself could not be loaded.
VectorRead libraryMissing() {
  VectorRead read;
  read.status = VectorStatus::NotVector;
  read.libraryError = detail::gdalLoadError();
  return read;
}

VectorWrite writeLibraryMissing() {
  VectorWrite result;
  result.status = RasterWriteStatus::Failed;
  result.libraryError = detail::gdalLoadError();
  return result;
}

// Reads the named layer (the first when layer is empty) of an open dataset.
VectorRead readDataset(GDALDatasetH dataset, const std::string& layerName, VectorLoad load,
                       const std::string& valueField, VectorContent& content, ErrorSink* progress,
                       const detail::ErrorCapture& errors) {
  VectorRead read;
  OGRLayerH layer = unguarded([&] { return chooseLayer(dataset, layerName, read); });
  if (layer == nullptr) {
    read.libraryError = errors.message();
    return read;
  }
  read.coordinateSystem = unguarded([&] { return layerSystem(layer); });
  LayerReader reader(layer, load, read, progress);
  if (!reader.chooseValueField(load == VectorLoad::Table ? std::string() : valueField) ||
      !reader.readFeatures(errors)) {
    return read;
  }
  if (load == VectorLoad::Table) {
    // Built aside, so that a failure leaves the table as it was.
    data::M_Data table;
    reader.fillTable(table);
    content.table = std::move(table);
  } else {
    reader.fillLines(content);
  }
  return read;
}

}  // namespace

LayerPath splitLayerPath(const std::string& path) {
  const std::size_t colon = path.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == path.size() || isRegularFile(path))
    return {path, {}};
  std::string file = path.substr(0, colon);
  if (!isRegularFile(file)) return {path, {}};
  return {std::move(file), path.substr(colon + 1)};
}

bool readsAsVector(const std::string& path) {
  const LayerPath named = splitLayerPath(path);
  if (data::isShapefilePath(named.file)) return false;
  const std::string extension = lowerExtension(named.file);
  if (isReadExtension(extension)) return true;
  if (isOwnTextExtension(extension) || !isRegularFile(named.file)) return false;
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  if (!detail::ensureRegistered()) return false;
  detail::ErrorCapture quiet;
  GDALDriverH driver =
      detail::gdal().GDALIdentifyDriverEx(named.file.c_str(), GDAL_OF_VECTOR, nullptr, nullptr);
  if (driver == nullptr) return false;
  const std::string_view name = detail::gdal().GDALGetDriverShortName(driver);
  // Delimited text and shapefile parts have readers of their own.
  return name != "CSV" && name != "ESRI Shapefile";
}

namespace {

// The vector file of a path, opened for a look at its layers without a word from GDAL; null when
// it is no file OGR opens.
Dataset openQuietly(const LayerPath& named) {
  if (!isRegularFile(named.file) || !detail::ensureRegistered()) return nullptr;
  const detail::ErrorCapture quiet;
  return openVector(named.file);
}

}  // namespace

std::vector<std::string> vectorLayers(const std::string& path) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  const Dataset dataset = openQuietly(splitLayerPath(path));
  return dataset ? layerNames(dataset.get()) : std::vector<std::string>();
}

std::vector<std::string> vectorFields(const std::string& path) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  const LayerPath named = splitLayerPath(path);
  const Dataset dataset = openQuietly(named);
  if (!dataset) return {};
  VectorRead read;
  OGRLayerH layer = chooseLayer(dataset.get(), named.layer, read);
  return layer != nullptr ? fieldNames(detail::gdal().OGR_L_GetLayerDefn(layer))
                          : std::vector<std::string>();
}

bool vectorLayerOpens(const std::string& path) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  const LayerPath named = splitLayerPath(path);
  const Dataset dataset = openQuietly(named);
  VectorRead read;
  return dataset && chooseLayer(dataset.get(), named.layer, read) != nullptr;
}

VectorRead readVector(const std::string& path, VectorLoad load, const std::string& valueField,
                      VectorContent& content, ErrorSink* progress) {
  const LayerPath named = splitLayerPath(path);
  struct stat info {};
  const bool exists = stat(named.file.c_str(), &info) == 0;
  if (!detail::ensureRegistered()) return libraryMissing();
  detail::ErrorCapture errors;
  if (!exists || !S_ISREG(info.st_mode)) return failure(VectorStatus::CannotOpen, errors);
  const Dataset dataset = openVector(named.file);
  if (!dataset) return failure(VectorStatus::NotVector, errors);
  return readDataset(dataset.get(), named.layer, load, valueField, content, progress, errors);
}

VectorRead readVectorBytes(std::string_view bytes, std::string_view extension, VectorLoad load,
                           VectorContent& content) {
  if (!detail::ensureRegistered()) return libraryMissing();
  detail::ErrorCapture errors;
  const detail::MemoryFile file(bytes, extension);
  if (!file) return failure(VectorStatus::CannotOpen, errors);
  const Dataset dataset = openVector(file.name());
  if (!dataset) return failure(VectorStatus::NotVector, errors);
  return readDataset(dataset.get(), {}, load, {}, content, nullptr, errors);
}

bool writesVector(const std::string& path) {
  return writingDriver(lowerExtension(path)) != nullptr;
}

bool holdsFeaturesWithoutGeometry(const std::string& path) {
  return lowerExtension(path) != ".fgb";
}

namespace {

// One layer written to a temporary file beside its target through the safe save: the driver
// creates the file, the features go in one transaction, and commit() puts it in the target's
// place. Destroyed uncommitted, it leaves the target as it was and nothing beside it. progress
// hears of the features written, of total.
class LayerWriter {
 public:
  LayerWriter(const std::string& path, VectorWrite& result, ErrorSink* progress, std::int64_t total)
      : path_(path),
        file_(path, lowerExtension(path)),
        result_(result),
        progress_(ProgressPacer::opening(progress, total, kFeaturesPerReport)) {}

  // Creates the file and its layer; false with the result set on failure.
  bool create(OGRwkbGeometryType type, const std::string& wkt);
  // Adds a field to the layer; its index, -1 on failure.
  int addField(const std::string& name, OGRFieldType type, int width, bool boolean = false);
  OGRFeatureDefnH definition() const { return detail::gdal().OGR_L_GetLayerDefn(layer_); }
  // Writes the next feature, taking its geometry (may be null), and reports the features
  // written; false with the result set when the write fails or a stop is asked for.
  bool write(OGRFeatureH feature, OGRGeometryH geometry);
  bool commit();
  // Ends the write with status, unless it has already failed; false.
  bool fail(RasterWriteStatus status);

 private:
  std::string path_;
  SaveFile file_;
  VectorWrite& result_;
  ProgressPacer progress_;
  std::int64_t written_ = 0;
  detail::ErrorCapture errors_;
  Dataset dataset_;
  OGRLayerH layer_ = nullptr;
};

bool LayerWriter::fail(RasterWriteStatus status) {
  if (result_.status == RasterWriteStatus::Ok)
    result_.status = status;  // the first failure says why
  if (result_.libraryError.empty()) result_.libraryError = errors_.message();
  return false;
}

bool LayerWriter::create(OGRwkbGeometryType type, const std::string& wkt) {
  GDALDriverH driver = detail::gdal().GDALGetDriverByName(writingDriver(lowerExtension(path_)));
  if (driver == nullptr) return fail(RasterWriteStatus::Failed);
  if (!file_.open() || !file_.vacateForLibrary()) {
    result_.saveError = file_.error();
    return fail(RasterWriteStatus::Refused);
  }
  dataset_.reset(detail::gdal().GDALCreate(driver, file_.temporaryPath().c_str(), 0, 0, 0,
                                           GDT_Unknown, nullptr));
  if (!dataset_) return fail(RasterWriteStatus::Failed);
  const detail::SpatialReference srs = detail::spatialReference(wkt);
  std::string name = path_.substr(path_.rfind('/') + 1);
  name = name.substr(0, name.rfind('.'));
  // GeoJSON keeps every bit of a coordinate; FlatGeobuf keeps the features in their order, which
  // its spatial index would change.
  const std::string_view driverName = detail::gdal().GDALGetDriverShortName(driver);
  const char* const jsonOptions[] = {"SIGNIFICANT_FIGURES=17", nullptr};
  const char* const flatOptions[] = {"SPATIAL_INDEX=NO", nullptr};
  const char* const* options = driverName == "GeoJSON"      ? jsonOptions
                               : driverName == "FlatGeobuf" ? flatOptions
                                                            : nullptr;
  layer_ =
      detail::gdal().GDALDatasetCreateLayer(dataset_.get(), name.empty() ? "layer" : name.c_str(),
                                            srs.get(), type, const_cast<char**>(options));
  if (layer_ == nullptr) return fail(RasterWriteStatus::Failed);
  detail::gdal().GDALDatasetStartTransaction(dataset_.get(), FALSE);
  return true;
}

int LayerWriter::addField(const std::string& name, OGRFieldType type, int width, bool boolean) {
  OGRFieldDefnH field = detail::gdal().OGR_Fld_Create(name.c_str(), type);
  if (boolean) detail::gdal().OGR_Fld_SetSubType(field, OFSTBoolean);
  // Only text keeps its width: a number's DBF width and decimals would pad every value.
  if (type == OFTString) detail::gdal().OGR_Fld_SetWidth(field, width);
  const bool added = detail::gdal().OGR_L_CreateField(layer_, field, TRUE) == OGRERR_NONE;
  detail::gdal().OGR_Fld_Destroy(field);
  return added ? detail::gdal().OGR_FD_GetFieldCount(definition()) - 1 : -1;
}

bool LayerWriter::write(OGRFeatureH feature, OGRGeometryH geometry) {
  if (geometry != nullptr) detail::gdal().OGR_F_SetGeometryDirectly(feature, geometry);
  if (detail::gdal().OGR_L_CreateFeature(layer_, feature) != OGRERR_NONE)
    return fail(RasterWriteStatus::Failed);
  ++written_;
  if (!progress_.advance(written_)) return fail(RasterWriteStatus::Cancelled);
  return true;
}

bool LayerWriter::commit() {
  const bool committed =
      detail::gdal().GDALDatasetCommitTransaction(dataset_.get()) != OGRERR_FAILURE;
  dataset_.reset();  // closing writes what the driver holds back (FlatGeobuf writes it all then)
  if (!committed || errors_.failed()) return fail(RasterWriteStatus::Failed);
  if (!file_.adoptLibraryWrite() || !file_.commit()) {
    result_.saveError = file_.error();
    return fail(RasterWriteStatus::Failed);
  }
  return true;
}

// The OGR type of a field read from a DBF or a vector layer.
OGRFieldType ogrType(const data::AttributeField& field) {
  switch (field.type) {
    case 'N':
    case 'F':
      if (field.decimals > 0) return OFTReal;
      return field.width > 9 ? OFTInteger64 : OFTInteger;
    case 'L':
      return OFTInteger;
    case 'D':
      return OFTDate;
    default:
      return OFTString;
  }
}

// Sets a saved value, as its field's table holds it, on a feature.
void setSavedValue(OGRFeatureH feature, int index, const data::AttributeField& field,
                   const std::string& text) {
  if (text.empty()) {
    detail::gdal().OGR_F_SetFieldNull(feature, index);
  } else if (field.type == 'L') {
    detail::gdal().OGR_F_SetFieldInteger(
        feature, index, std::string_view("TtYy").find(text[0]) != std::string_view::npos);
  } else if (field.type == 'D' && text.size() == 8) {
    const std::string dashed = text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6);
    detail::gdal().OGR_F_SetFieldString(feature, index, dashed.c_str());
  } else {
    detail::gdal().OGR_F_SetFieldString(feature, index, text.c_str());
  }
}

OGRGeometryH ringOf(const geometry::Line& line, OGRwkbGeometryType type) {
  OGRGeometryH ring = detail::gdal().OGR_G_CreateGeometry(type);
  const std::span<const geometry::Point> points = line.points();
  if (points.empty()) return ring;
  // OGR reads the coordinates straight from the points, a stride apart.
  auto* first = const_cast<geometry::Point*>(points.data());
  detail::gdal().OGR_G_SetPoints(ring, static_cast<int>(points.size()), &first->x,
                                 sizeof(geometry::Point), &first->y, sizeof(geometry::Point),
                                 nullptr, 0);
  return ring;
}

// The polygon, or multipolygon, of one record: each outer ring followed by its holes.
OGRGeometryH polygonOf(const geometry::Cover& cover, const std::vector<std::size_t>& rings) {
  std::vector<OGRGeometryH> polygons;
  for (std::size_t r : rings) {
    if (cover[r].signedArea() < 0.0)
      polygons.push_back(detail::gdal().OGR_G_CreateGeometry(wkbPolygon));
    detail::gdal().OGR_G_AddGeometryDirectly(polygons.back(), ringOf(cover[r], wkbLinearRing));
  }
  if (polygons.size() == 1) return polygons.front();
  OGRGeometryH multi = detail::gdal().OGR_G_CreateGeometry(wkbMultiPolygon);
  for (OGRGeometryH polygon : polygons) detail::gdal().OGR_G_AddGeometryDirectly(multi, polygon);
  return multi;
}

// The fields of a cover's export: the saved layer's, then Atribute and ID; their indices.
struct CoverFields {
  std::vector<int> saved;
  int value = -1;
  int id = -1;
};

bool addCoverFields(LayerWriter& writer, const data::SavedAttributes* saved, CoverFields& fields) {
  const data::AttributeTable* table = saved != nullptr ? saved->table : nullptr;
  if (table != nullptr) {
    for (const data::AttributeField& field : table->fields) {
      fields.saved.push_back(
          writer.addField(field.name, ogrType(field), field.width, field.type == 'L'));
      if (fields.saved.back() < 0) return false;
    }
  }
  const std::vector<std::string> own = data::ownFieldNames(table);
  fields.value = writer.addField(own[0], OFTReal, 0);
  fields.id = writer.addField(own[1], OFTInteger, 0);
  return fields.value >= 0 && fields.id >= 0;
}

bool writeCoverFeature(LayerWriter& writer, const CoverFields& fields,
                       const data::SavedAttributes* saved, const geometry::Line& head,
                       std::size_t headIndex, OGRGeometryH geometry) {
  const Feature feature(detail::gdal().OGR_F_Create(writer.definition()));
  if (saved != nullptr && saved->table != nullptr && headIndex < saved->ringRows.size()) {
    if (const std::vector<std::string>* row = saved->ringRows[headIndex]) {
      for (std::size_t j = 0; j < fields.saved.size() && j < row->size(); ++j)
        setSavedValue(feature.get(), fields.saved[j], saved->table->fields[j], (*row)[j]);
    }
  }
  detail::gdal().OGR_F_SetFieldDouble(feature.get(), fields.value, head.value);
  detail::gdal().OGR_F_SetFieldInteger(feature.get(), fields.id, head.id);
  return writer.write(feature.get(), geometry);
}

// Whether some record has several outer rings: the layer is then one of multipolygons.
bool anyMultipolygon(const geometry::Cover& cover,
                     const std::vector<std::vector<std::size_t>>& records) {
  return std::any_of(records.begin(), records.end(), [&](const std::vector<std::size_t>& rings) {
    return std::count_if(rings.begin(), rings.end(),
                         [&](std::size_t r) { return cover[r].signedArea() < 0.0; }) > 1;
  });
}

// Adds a field for every column of a table but the coordinates; the pairs of column and field.
bool addTableFields(LayerWriter& writer, const data::M_Data& table, int xColumn, int yColumn,
                    std::vector<std::pair<int, int>>& columns) {
  for (int c = table.rowNumberOffset() == 1 ? 1 : 0; c < table.columnCount(); ++c) {
    if (c == xColumn || c == yColumn) continue;
    const std::string& name = table.columnName(c);
    const bool blank = name.find_first_not_of(' ') == std::string::npos;
    const bool numeric = table.isNumericColumn(c);
    const int field =
        writer.addField(blank ? cformat("Z%d", c) : name, numeric ? OFTReal : OFTString,
                        numeric ? 0 : table.columnWidth(c));
    if (field < 0) return writer.fail(RasterWriteStatus::Failed);
    columns.emplace_back(c, field);
  }
  return true;
}

// Sets the fields of one table row on a feature; values that are not finite are null.
void setRowFields(OGRFeatureH feature, const data::M_Data& table, int row,
                  const std::vector<std::pair<int, int>>& columns) {
  for (const auto& [c, field] : columns) {
    if (!table.isNumericColumn(c)) {
      detail::gdal().OGR_F_SetFieldString(feature, field, table.CellText(row, c).c_str());
    } else if (const double v = table.NumericValue(row, c); std::isfinite(v)) {
      detail::gdal().OGR_F_SetFieldDouble(feature, field, v);
    } else {
      detail::gdal().OGR_F_SetFieldNull(feature, field);
    }
  }
}

}  // namespace

VectorWrite writeVectorLines(const std::string& path, const geometry::Cover& cover, bool polygons,
                             const data::SavedAttributes* saved, const std::string& wkt,
                             ErrorSink* progress) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  VectorWrite result;
  if (!detail::ensureRegistered()) return writeLibraryMissing();
  std::vector<std::vector<std::size_t>> records;
  if (polygons) {
    records = geometry::polygonRecords(cover);
  } else {
    for (std::size_t i = 0; i < cover.size(); ++i) records.push_back({i});
  }
  const bool multi = polygons && anyMultipolygon(cover, records);
  const OGRwkbGeometryType type = polygons ? (multi ? wkbMultiPolygon : wkbPolygon) : wkbLineString;
  LayerWriter writer(path, result, progress, static_cast<std::int64_t>(records.size()));
  CoverFields fields;
  if (!writer.create(type, wkt) || !addCoverFields(writer, saved, fields)) {
    writer.fail(RasterWriteStatus::Failed);
    return result;
  }
  for (const std::vector<std::size_t>& rings : records) {
    OGRGeometryH geometry =
        polygons ? polygonOf(cover, rings) : ringOf(cover[rings.front()], wkbLineString);
    if (multi &&
        detail::gdal().OGR_GT_Flatten(detail::gdal().OGR_G_GetGeometryType(geometry)) == wkbPolygon)
      geometry = detail::gdal().OGR_G_ForceToMultiPolygon(geometry);
    if (!writeCoverFeature(writer, fields, saved, cover[rings.front()], rings.front(), geometry)) {
      return result;
    }
  }
  writer.commit();
  return result;
}

VectorWrite writeVectorTable(const std::string& path, const data::M_Data& table, int xColumn,
                             int yColumn, const std::string& wkt, ErrorSink* progress) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  VectorWrite result;
  if (!detail::ensureRegistered()) return writeLibraryMissing();
  const bool located = xColumn >= 0 && yColumn >= 0;
  if (!located && !holdsFeaturesWithoutGeometry(path)) {
    result.status = RasterWriteStatus::Failed;
    return result;
  }
  const int rows = table.rowCount();
  LayerWriter writer(path, result, progress, rows);
  std::vector<std::pair<int, int>> columns;
  // A point layer even without positions: its features then have no geometry (FlatGeobuf writes
  // no layer of no geometry type).
  if (!writer.create(wkbPoint, wkt) || !addTableFields(writer, table, xColumn, yColumn, columns)) {
    writer.fail(RasterWriteStatus::Failed);
    return result;
  }
  for (int i = 0; i < rows; ++i) {
    const Feature feature(detail::gdal().OGR_F_Create(writer.definition()));
    setRowFields(feature.get(), table, i, columns);
    OGRGeometryH point = nullptr;
    if (located) {
      point = detail::gdal().OGR_G_CreateGeometry(wkbPoint);
      detail::gdal().OGR_G_SetPoint_2D(point, 0, table.NumericValue(i, xColumn),
                                       table.NumericValue(i, yColumn));
    }
    if (!writer.write(feature.get(), point)) return result;
  }
  writer.commit();
  return result;
}

}  // namespace vellumar::formats
