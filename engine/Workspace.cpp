#include "engine/Workspace.h"

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

#include "common/CFormat.h"
#include "common/FileIo.h"
#include "common/MemoryGuard.h"
#include "common/SafeSave.h"
#include "data/DataFileWriter.h"
#include "data/DataMessages.h"
#include "data/Shapefile.h"
#include "data/ShapefileMessages.h"
#include "engine/EngineMessages.h"
#include "engine/LinePacking.h"
#include "engine/ResultText.h"
#include "formats/CoordinateSystem.h"
#include "formats/FormatMessages.h"
#include "geometry/GeometryMessages.h"
#include "geometry/LineFile.h"
#include "geometry/PolygonCheck.h"
#include "grid/DsaaFile.h"
#include "grid/GridMessages.h"

namespace vellumar::engine {
namespace {

Kind kindOf(FileKind kind) {
  switch (kind) {
    case FileKind::Grid:
      return Kind::Grid;
    case FileKind::Lines:
      return Kind::Lines;
    case FileKind::Polygon:
      return Kind::Polygon;
  }
  return Kind::Number;
}

// A path that names no file at all: its load failed for that, not for what the file holds.
bool isMissing(const std::string& path) {
  return checkRegularFile(path) == FileError::Missing;
}

// Writes a data result as a point shapefile; a result without coordinates keeps its values in
// records without shapes.
data::SaveStatus saveDataShapefile(const data::DATA& points, const std::string& path,
                                   Language language, const std::string& projection) {
  const int x = points.hasCoordinates() ? 0 : -1;
  const int y = points.hasCoordinates() ? 1 : -1;
  data::ShapefileConverter converter(language);
  converter.setProjection(projection);
  return converter.TableToPointShapefile(path, data::tableOfResult(points), x, y) ==
                 data::ShapeStatus::Done
             ? data::SaveStatus::Ok
             : data::SaveStatus::SaveFailed;
}

// The rings a polygon export writes. The exports tell outer rings from holes by orientation, so
// the rings are oriented by their nesting first, and a counter-clockwise outer ring is not taken
// for a hole; they keep their order, so the rows found for them still match. A shapefile's rings
// are checked first and written as they are when the check fails; a vector layer's are oriented
// by nesting alone, and the cover is taken over rather than copied.
const geometry::Cover& orientedRings(geometry::Cover& cover, geometry::Region& region,
                                     bool checked) {
  if (cover.empty()) return cover;
  if (checked) return geometry::buildRegion(cover, region) ? region : cover;
  // Unchecked, only an empty cover fails.
  (void)geometry::buildRegion(std::move(cover), region, false);
  return region;
}

bool saveCoverShapefile(const geometry::Cover& cover, const std::string& path, bool polygon,
                        Language language, const std::string& projection,
                        const data::SavedAttributes* saved) {
  data::ShapefileConverter converter(language);
  converter.setProjection(projection);
  const int type = polygon ? data::shape_type::kPolygon : data::shape_type::kArc;
  return converter.CoverToShapefile(path, cover, type, {}, saved) == data::ShapeStatus::Done;
}

// Names in a message: "a, b, c", or "none".
std::string nameList(const std::vector<std::string>& names, Language language) {
  if (names.empty()) return data::text::kNoFields.in(language);
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list;
}

// Leaves out of the cover of a line file the rings (the lines) that its 12 significant digits
// would collapse, since they would not load back, and says how many went: never in silence.
std::string dropCollapsed(geometry::Cover& cover, bool polygon, Language language) {
  const std::size_t dropped = geometry::dropCollapsedLines(cover, polygon);
  if (dropped == 0) return {};
  const MessageText& notice =
      polygon ? geometry::text::kDroppedRings : geometry::text::kDroppedLines;
  return cformat(notice.in(language), dropped);
}

// The attribute row of each ring's record, found by the ids the rings have before a save
// numbers them afresh.
data::SavedAttributes savedAttributes(const Operand& result, const geometry::Cover& cover) {
  data::SavedAttributes saved;
  saved.table = result.attributes().get();
  if (saved.table == nullptr) return saved;
  saved.ringRows.reserve(cover.size());
  for (const geometry::Line& ring : cover.lines())
    saved.ringRows.push_back(saved.table->row(ring.id));
  return saved;
}

// Layer tables carry their coordinates in columns named X and Y, wherever they stand (point
// layers put them first; the tables of line and polygon shapefiles have them where the DBF has
// them).
data::CoordinateColumns defaultCoordinates(const std::string& path, const data::M_Data& table) {
  data::CoordinateColumns xy{true, 1, 2};
  if (!Workspace::isLayerPath(path)) return xy;
  int x = 0;
  int y = 0;
  for (int c = table.columnCount(); c >= 1; --c) {
    const std::string& name = table.columnName(c - 1);
    if (name == "X" || name == "x") x = c;
    if (name == "Y" || name == "y") y = c;
  }
  if (x > 0 && y > 0) xy = {true, x, y};
  return xy;
}

}  // namespace

template <class Command>
FileStatus Workspace::guarded(Command&& command) const {
  FileStatus status = FileStatus::failure(text(text::kOutOfMemory));
  const memory::Guard guard;
  try {
    status = command();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  } catch (const std::system_error&) {
  }
  calc_.sink().progressClose();  // the progress of a file's rows, when one was shown
  return status;
}

RowProgress Workspace::fileProgress() const {
  // No caption of its own: the window keeps the caption of the load or save it shows.
  return calc_.sink().rowProgress({});
}

FileStatus Workspace::cancelled() const {
  return FileStatus::failure(text(text::kCancelled));
}

FileStatus Workspace::needsFiles(const MessageText& saveMessage) const {
  return FileStatus::failure(std::string(text(saveMessage)) + "\n" + text(text::kFormatNeedsFiles));
}

std::string Workspace::placed(const char* message, const MessageText& place,
                              std::int64_t number) const {
  std::string placedText = message;
  if (number > 0) placedText += cformat(text(place), static_cast<long long>(number));
  return placedText;
}

bool Workspace::isShapefilePath(std::string_view path) {
  return data::isShapefilePath(path);
}

bool Workspace::isLayerPath(const std::string& path) {
  return isShapefilePath(path) || formats::readsAsVector(path);
}

std::vector<std::string> Workspace::layerFields(const std::string& path) {
  std::vector<std::string> names;
  if (isShapefilePath(path)) {
    if (!data::ListDbfFields(path, names)) names.clear();
  } else if (formats::readsAsVector(path)) {
    names = formats::vectorFields(path);
  }
  return names;
}

std::string Workspace::operandName(FileKind kind, std::size_t number) {
  static constexpr char kLetters[] = {'G', 'C', 'P'};
  return kLetters[static_cast<int>(kind)] + std::to_string(number);
}

const std::vector<std::string>& Workspace::loadedPaths(FileKind kind) const {
  return paths_[static_cast<int>(kind)];
}

void Workspace::closeList(FileKind kind) {
  assertNoEvaluation();
  paths_[static_cast<int>(kind)].clear();
}

FileStatus Workspace::load(FileKind kind, const std::string& path, const std::string& valueField,
                           int band) {
  return guarded([&] {
    if (FileStatus loaded = checkNotLoaded(kind, path); !loaded.ok) return loaded;
    Operand operand;
    FileStatus status = read(kind, path, valueField, operand, band);
    if (status.ok) addLoaded(kind, path, std::move(operand));
    return status;
  });
}

FileStatus Workspace::checkNotLoaded(FileKind kind, const std::string& path) const {
  const std::vector<std::string>& paths = loadedPaths(kind);
  if (std::find(paths.begin(), paths.end(), path) != paths.end()) {
    return FileStatus::failure(text(data::text::kAlreadyLoaded));
  }
  return FileStatus::success();
}

void Workspace::addLoaded(FileKind kind, const std::string& path, Operand operand) {
  assertNoEvaluation();
  std::vector<std::string>& paths = paths_[static_cast<int>(kind)];
  paths.push_back(path);
  if (isShapefilePath(path)) noteProjection(path);
  registerOperand(operandName(kind, paths.size()), path, std::move(operand));
}

FileStatus Workspace::read(FileKind kind, const std::string& path, const std::string& valueField,
                           Operand& operand, int band) const {
  // The window calls read() on its own: the progress of the file's rows closes with it.
  struct ProgressCloser {
    ErrorSink& sink;
    ~ProgressCloser() { sink.progressClose(); }
  } closer{calc_.sink()};
  if (kind == FileKind::Grid) return readGrid(path, band, operand);
  if (formats::readsAsVector(path)) return readVectorLines(kind, path, valueField, operand);
  const bool polygon = kind == FileKind::Polygon;
  geometry::Cover cover;
  std::string notice;
  bool read = false;
  std::string fault;  // where the file is at fault, when the reader knows it
  Operand::AttributesPtr attributes;
  if (isShapefilePath(path)) {
    data::ShapefileConverter converter(calc_.language());
    converter.setProgress(fileProgress());
    const data::ShapeStatus status = converter.ReadShapeLines(path, cover, valueField, {}, {});
    if (status == data::ShapeStatus::Cancelled) return cancelled();
    if (status == data::ShapeStatus::UnknownField) return FileStatus::failure(converter.lastNote());
    read = status == data::ShapeStatus::Done;
    if (read)
      attributes = std::make_shared<const data::AttributeTable>(converter.recordAttributes());
    fault = placed("", text::kAtRecord, converter.faultRecord());
  } else {
    bool valuesMissing = false;
    geometry::LineFileFault where;
    const geometry::LineFileStatus status =
        geometry::readLineFile(path, cover, &valuesMissing, &where, fileProgress());
    if (status == geometry::LineFileStatus::OutOfMemory) {
      return FileStatus::failure(text(text::kOutOfMemory));
    }
    if (status == geometry::LineFileStatus::Cancelled) return cancelled();
    read = status == geometry::LineFileStatus::Ok;
    fault = placed("", where.inValueFile ? text::kAtValueFileLine : text::kAtLine, where.line);
    if (read && valuesMissing) {
      notice = cformat(text(geometry::text::kNoValueFile), geometry::valueFileName(path).c_str());
    }
  }
  if (!read && isMissing(path)) {
    return cannotOpen(path);
  }
  if (!read) {
    return FileStatus::failure(
        text(polygon ? geometry::text::kInvalidPolygonFile : geometry::text::kInvalidLineFile) +
        fault);
  }
  if (polygon && !geometry::allLinesClosed(cover)) {
    return FileStatus::failure(text(geometry::text::kPolygonNotClosed));
  }
  // A polygon's rings keep their ids: rings of one id (one shapefile record, one id of a polygon
  // file) are saved together again.
  // A shapefile's lines and polygons carry the attribute row of each record, found by the ids of
  // their lines (the record numbers), so the parts of one record stay one record.
  operand = packCover(cover, kindOf(kind), polygon || attributes != nullptr);
  if (attributes) {
    operand = Operand::lines(operand.kind(), operand.sharedPoints(), operand.sharedParts(),
                             operand.sharedIds(), std::move(attributes));
  }
  if (std::string projection; isShapefilePath(path) && data::ReadProjection(path, projection)) {
    std::string name = formats::shortName(projection);
    operand.setCoordinateSystem(std::move(projection), std::move(name));
  }
  return FileStatus::success(std::move(notice));
}

FileStatus Workspace::readVectorLines(FileKind kind, const std::string& path,
                                      const std::string& valueField, Operand& operand) const {
  const bool polygon = kind == FileKind::Polygon;
  formats::VectorContent content;
  const formats::VectorRead read = formats::readVector(
      path, polygon ? formats::VectorLoad::Polygons : formats::VectorLoad::Lines, valueField,
      content, fileProgress());
  if (!read) {
    return vectorFailure(
        read, polygon ? geometry::text::kInvalidPolygonFile : geometry::text::kInvalidLineFile,
        path, valueField);
  }
  if (polygon && !geometry::allLinesClosed(content.cover)) {
    return FileStatus::failure(text(geometry::text::kPolygonNotClosed));
  }
  // Each line or ring keeps its feature as its record, with the feature's attributes.
  const Operand packed = packCover(content.cover, kindOf(kind), true);
  operand =
      Operand::lines(packed.kind(), packed.sharedPoints(), packed.sharedParts(), packed.sharedIds(),
                     std::make_shared<const data::AttributeTable>(std::move(content.attributes)));
  operand.setCoordinateSystem(read.coordinateSystem, formats::shortName(read.coordinateSystem));
  return FileStatus::success(read.droppedZOrM ? text(data::text::kZOrMeasureDropped) : "");
}

FileStatus Workspace::vectorFailure(const formats::VectorRead& read,
                                    const MessageText& formatMessage, const std::string& path,
                                    const std::string& valueField) const {
  const std::string file = formats::splitLayerPath(path).file;
  const Language language = calc_.language();
  std::string reason;
  switch (read.status) {
    case formats::VectorStatus::Ok:
    case formats::VectorStatus::Cancelled:
      return cancelled();
    case formats::VectorStatus::CannotOpen:
      if (isMissing(file)) {
        return cannotOpen(path);
      }
      break;
    case formats::VectorStatus::UnknownField:
      return FileStatus::failure(cformat(text(formats::text::kUnknownLayerField),
                                         read.layer.c_str(), valueField.c_str(),
                                         nameList(read.fields, language).c_str()));
    case formats::VectorStatus::NotVector:
      reason = read.libraryError;
      break;
    case formats::VectorStatus::NoSuchLayer:
      reason = read.layers.empty() ? text(formats::text::kNoLayers)
                                   : cformat(text(formats::text::kNoSuchLayer), read.layer.c_str(),
                                             nameList(read.layers, language).c_str());
      break;
    case formats::VectorStatus::WrongGeometry:
      reason = cformat(text(formats::text::kWrongGeometry), static_cast<long long>(read.feature),
                       read.layer.c_str(), read.geometryName.c_str());
      break;
  }
  return fileFault(formatMessage, file, reason);
}

FileStatus Workspace::fileFault(const MessageText& message, const std::string& file,
                                const std::string& reason) const {
  std::string composed = text(message) + cformat(text(formats::text::kInFile), file.c_str());
  if (!reason.empty()) composed += "\n" + reason;
  return FileStatus::failure(std::move(composed));
}

FileStatus Workspace::cannotOpen(const std::string& path) const {
  return FileStatus::failure(cformat(text(data::text::kCannotOpen), path.c_str()));
}

FileStatus Workspace::readGrid(const std::string& path, int band, Operand& operand) const {
  auto grid = std::make_shared<grid::Grid>();
  if (formats::readsAsRaster(path)) {
    FileStatus status = readRasterGrid(path, band, *grid);
    if (status.ok) operand = Operand::grid(std::move(grid));
    return status;
  }
  const grid::DsaaRead read = grid::readDsaa(path, *grid, fileProgress());
  switch (read.status) {
    case grid::DsaaStatus::Ok:
      operand = Operand::grid(std::move(grid));
      return FileStatus::success();
    case grid::DsaaStatus::OutOfMemory:
      return FileStatus::failure(text(text::kOutOfMemory));
    case grid::DsaaStatus::Cancelled:
      return cancelled();
    case grid::DsaaStatus::CannotOpen:
      if (isMissing(path)) {
        return cannotOpen(path);
      }
      break;
    case grid::DsaaStatus::Invalid:
      break;
  }
  return FileStatus::failure(placed(text(grid::text::kInvalidGridFile), text::kAtLine, read.line));
}

FileStatus Workspace::readRasterGrid(const std::string& path, int band, grid::Grid& grid) const {
  const formats::RasterRead read = formats::readRaster(path, band, grid, fileProgress());
  return rasterStatus(read, path, band, grid.nx(), grid.ny());
}

FileStatus Workspace::openGridWindows(const std::string& path, int band,
                                      formats::RasterWindowReader& reader) const {
  const formats::RasterRead read = reader.open(path, band);
  return rasterStatus(read, path, band, reader.lattice().nx, reader.lattice().ny);
}

FileStatus Workspace::rasterStatus(const formats::RasterRead& read, const std::string& path,
                                   int band, int nx, int ny) const {
  const char* file = path.c_str();
  switch (read.status) {
    case formats::RasterStatus::Ok:
      break;
    case formats::RasterStatus::OutOfMemory:
      return FileStatus::failure(text(text::kOutOfMemory));
    case formats::RasterStatus::Cancelled:
      return cancelled();
    case formats::RasterStatus::NoSuchBand:
      return FileStatus::failure(cformat(text(formats::text::kNoSuchBand), file, band));
    case formats::RasterStatus::Rotated:
      return FileStatus::failure(cformat(text(formats::text::kRotated), file));
    case formats::RasterStatus::SeveralGrids:
      return fileFault(grid::text::kInvalidGridFile, path,
                       cformat(text(formats::text::kSeveralGrids),
                               nameList(read.subdatasets, calc_.language()).c_str()));
    case formats::RasterStatus::CannotOpen:
    case formats::RasterStatus::NotRaster:
      // The grid load message naming the file, and what GDAL said on a line of its own.
      return fileFault(grid::text::kInvalidGridFile, path, read.libraryError);
  }
  std::string notices;
  for (const formats::RasterNotice notice : read.notices) {
    if (!notices.empty()) notices += '\n';
    if (notice == formats::RasterNotice::NoGeotransform) {
      notices += cformat(text(formats::text::kNoGeotransform), file, nx - 1, ny - 1);
    } else {
      notices += cformat(text(formats::text::kNoDataOutOfType),
                         cformat("%.17g", read.ignoredNoData).c_str(), file, read.bandType.c_str());
    }
  }
  return FileStatus::success(std::move(notices));
}

int Workspace::gridBandCount(const std::string& path) {
  return formats::readsAsRaster(path) ? formats::bandCount(path) : 1;
}

FileStatus Workspace::saveGrid(const Operand& result, const std::string& path) {
  const grid::Grid& grid = *result.gridValue();
  if (formats::writesRaster(path)) {
    // GDAL's drivers seek in the file they write, and may write a .prj beside it.
    if (writesInPlace(path)) return needsFiles(grid::text::kSaveFailed);
    FileStatus written = libraryWrite(
        formats::writeRaster(grid, path, rasterOptions_, fileProgress()), grid::text::kSaveFailed);
    if (!written.ok) return written;
  } else if (!grid::writeDsaa(grid, path, fileProgress())) {
    if (calc_.sink().code() == sink_code::kCancelled) return cancelled();
    return FileStatus::failure(text(grid::text::kSaveFailed));
  }
  refreshLoaded(FileKind::Grid, path, result);
  return FileStatus::success();
}

void Workspace::registerOperand(const std::string& name, const std::string& path, Operand operand) {
  assertNoEvaluation();
  operand.setSourcePath(path);
  operand.setArgumentPosition(0);
  calc_.registry().findOrCreate(name).value = std::move(operand);
}

void Workspace::refreshLoaded(FileKind kind, const std::string& path, const Operand& result) {
  const std::vector<std::string>& paths = paths_[static_cast<int>(kind)];
  const auto found = std::find(paths.begin(), paths.end(), path);
  if (found == paths.end()) return;
  Operand refreshed = result;
  refreshed.setKind(kindOf(kind));
  registerOperand(operandName(kind, static_cast<std::size_t>(found - paths.begin()) + 1), path,
                  std::move(refreshed));
}

FileStatus Workspace::save(const Operand& result, const std::string& path) {
  return guarded([&] {
    switch (result.kind()) {
      case Kind::Number:
        return FileStatus::success(text(text::kNumberInTextField));
      case Kind::Grid:
        return saveGrid(result, path);
      case Kind::Lines:
        return saveLines(result, path, FileKind::Lines);
      case Kind::Polygon:
        return saveLines(result, path, FileKind::Polygon);
      case Kind::Data:
        return saveData(result, path);
    }
    return FileStatus::failure(text(data::text::kSaveFailed));
  });
}

void Workspace::noteProjection(const std::string& path) {
  std::string projection;
  if (!data::ReadProjection(path, projection) || projection.empty()) return;
  if (projection_.empty()) {
    projection_ = std::move(projection);
  } else if (projection != projection_) {
    projectionsDiffer_ = true;
  }
}

const std::string& Workspace::sessionProjection() const {
  static const std::string none;
  return projectionsDiffer_ ? none : projection_;
}

DataSlot* Workspace::loadedDataSlot(const std::string& path) {
  for (DataSlot& slot : dataSlots_) {
    if (slot.path == path) return &slot;
  }
  return nullptr;
}

data::ReadStatus Workspace::readShapefileTable(const std::string& path, data::M_Data& table,
                                               std::int64_t& faultRecord) const {
  data::ShapefileConverter converter(calc_.language());
  converter.setProgress(fileProgress());
  const data::ShapeStatus status = converter.ShapefileToTable(path, table);
  faultRecord = converter.faultRecord();
  switch (status) {
    case data::ShapeStatus::Done:
      return data::ReadStatus::Ok;
    case data::ShapeStatus::FileFailed:
      return data::ReadStatus::CannotOpen;
    case data::ShapeStatus::Cancelled:
      return data::ReadStatus::Cancelled;
    default:
      return data::ReadStatus::InvalidFormat;
  }
}

FileStatus Workspace::loadData(const std::string& path, const data::ReadOptions& options,
                               int& slot) {
  return guarded([&] {
    if (loadedDataSlot(path) != nullptr) {
      return FileStatus::failure(text(data::text::kAlreadyLoaded));
    }
    data::M_Data table;
    std::string system;
    FileStatus status = readDataTable(path, options, table, &system);
    if (status.ok) slot = storeDataTable(path, std::move(table), std::move(system));
    return status;
  });
}

FileStatus Workspace::readVectorTable(const std::string& path, data::M_Data& table,
                                      std::string* system) const {
  formats::VectorContent content;
  const formats::VectorRead read =
      formats::readVector(path, formats::VectorLoad::Table, {}, content, fileProgress());
  if (!read) return vectorFailure(read, data::text::kBadFormat, path, {});
  table = std::move(content.table);
  table.setPath(path);
  if (system != nullptr) *system = read.coordinateSystem;
  return FileStatus::success(read.droppedZOrM ? text(data::text::kZOrMeasureDropped) : "");
}

FileStatus Workspace::readDataTable(const std::string& path, const data::ReadOptions& options,
                                    data::M_Data& table, std::string* system) const {
  return guarded([&] {
    table.setOptions(options);
    if (formats::readsAsVector(path)) return readVectorTable(path, table, system);
    std::int64_t fault = 0;  // a data file's line or a shapefile's record
    const bool shapefile = isShapefilePath(path);
    const data::ReadStatus status = shapefile ? readShapefileTable(path, table, fault)
                                              : table.ReadFile(path, fileProgress(), &fault);
    if (status == data::ReadStatus::OutOfMemory) {
      return FileStatus::failure(text(text::kOutOfMemory));
    }
    if (status == data::ReadStatus::Cancelled) return cancelled();
    if (const MessageText* message = data::readMessage(status)) {
      return FileStatus::failure(placed(cformat(text(*message), path.c_str()).c_str(),
                                        shapefile ? text::kAtRecord : text::kAtLine, fault));
    }
    return FileStatus::success();
  });
}

int Workspace::storeDataTable(const std::string& path, data::M_Data table, std::string system) {
  assertNoEvaluation();
  auto free = std::find_if(dataSlots_.begin(), dataSlots_.end(),
                           [](const DataSlot& s) { return s.path == kEmptySlotPath; });
  if (free == dataSlots_.end()) free = dataSlots_.insert(dataSlots_.end(), DataSlot{});
  if (isShapefilePath(path)) {
    noteProjection(path);
    if (!data::ReadProjection(path, system)) system.clear();
  }
  const data::CoordinateColumns xy = defaultCoordinates(path, table);
  std::string name = formats::shortName(system);
  *free = DataSlot{path, std::move(table), xy, std::move(system), std::move(name)};
  return static_cast<int>(free - dataSlots_.begin()) + 1;
}

FileStatus Workspace::registerColumn(int slot, int column, std::string* name) {
  return guarded([&] {
    const DataSlot& source = dataSlot(slot);
    data::ColumnOperand chosen;
    const data::ChoiceStatus status = data::chooseColumn(source.table, column, source.xy, chosen);
    if (const MessageText* message = data::choiceMessage(status)) {
      return FileStatus::failure(text(*message));
    }
    const std::string operandName = cformat("D%d_%d", slot, column);
    Operand operand =
        chosen.isNumber ? Operand::number(chosen.number)
                        : Operand::data(std::make_shared<const data::DATA>(std::move(chosen.data)));
    operand.setCoordinateSystem(source.coordinateSystem, source.coordinateSystemName);
    registerOperand(operandName, {}, std::move(operand));
    if (name != nullptr) *name = operandName;
    return FileStatus::success();
  });
}

void Workspace::closeDataSlot(int slot) {
  assertNoEvaluation();
  DataSlot closed;
  closed.path = kEmptySlotPath;
  dataSlot(slot) = std::move(closed);
}

FileStatus Workspace::saveData(const Operand& result, const std::string& path) {
  assertNoEvaluation();
  data::SaveStatus status = data::SaveStatus::Ok;
  if (DataSlot* slot = loadedDataSlot(path)) {
    // A layer's table is no text file that a column could be appended to.
    if (!isShapefilePath(path) && formats::readsAsVector(path)) {
      return FileStatus::failure(text(data::text::kLoadedLayer));
    }
    status = isShapefilePath(path)
                 ? data::SaveStatus::LoadedShapefile
                 : data::appendResultColumn(slot->table, result.points(), slot->xy);
  } else if (isShapefilePath(path)) {
    if (writesInPlace(path)) return needsFiles(data::text::kSaveFailed);
    status =
        saveDataShapefile(result.points(), path, calc_.language(), shapefileProjection(result));
  } else if (formats::writesVector(path)) {
    return saveVectorData(result, path);
  } else {
    status = data::saveDataFile(path, result.points());
  }
  if (status == data::SaveStatus::OutOfMemory) {
    return FileStatus::failure(text(text::kOutOfMemory));
  }
  if (const MessageText* message = data::saveMessage(status)) {
    return FileStatus::failure(text(*message));
  }
  return FileStatus::success();
}

FileStatus Workspace::saveVectorData(const Operand& result, const std::string& path) const {
  if (writesInPlace(path)) return needsFiles(data::text::kSaveFailed);
  const data::DATA& points = result.points();
  const int x = points.hasCoordinates() ? 0 : -1;
  const int y = points.hasCoordinates() ? 1 : -1;
  if (x < 0 && !formats::holdsFeaturesWithoutGeometry(path)) {
    return FileStatus::failure(std::string(text(data::text::kSaveFailed)) + "\n" +
                               text(formats::text::kNoFeaturesWithoutGeometry));
  }
  return libraryWrite(formats::writeVectorTable(path, data::tableOfResult(points), x, y,
                                                savedSystem(result), fileProgress()),
                      data::text::kSaveFailed);
}

FileStatus Workspace::libraryWrite(const formats::RasterWrite& written,
                                   const MessageText& saveMessage) const {
  if (written.status == formats::RasterWriteStatus::Cancelled) return cancelled();
  if (written) return FileStatus::success();
  std::string message = text(saveMessage);
  if (!written.libraryError.empty()) message += "\n" + written.libraryError;
  return FileStatus::failure(std::move(message));
}

FileStatus Workspace::saveLines(const Operand& result, const std::string& path, FileKind kind) {
  const MessageText& saveMessage = kind == FileKind::Polygon ? geometry::text::kSavePolygonFailed
                                                             : geometry::text::kSaveLinesFailed;
  const FileStatus failed = FileStatus::failure(text(saveMessage));
  // A line file goes with its value file, a shapefile is three files, and OGR's drivers seek.
  if (writesInPlace(path)) return needsFiles(saveMessage);
  const bool shapefile = isShapefilePath(path);
  const bool vector = !shapefile && formats::writesVector(path);
  const bool lineFile = !shapefile && !vector;
  // The value file of "x.val" would be x.val itself.
  if (lineFile && geometry::valueFileName(path) == path) {
    return FileStatus::failure(text(geometry::text::kSaveToValueFile));
  }
  geometry::Cover cover;
  // A result without lines (isolines of a flat map, say) is saved as an empty file.
  const bool empty = result.parts().empty();
  if (!empty && !unpackOperand(result, cover)) return failed;
  const bool polygon = kind == FileKind::Polygon;
  const std::string notice = lineFile ? dropCollapsed(cover, polygon, calc_.language()) : "";
  const data::SavedAttributes attributes = savedAttributes(result, cover);
  // Lines are numbered 1, 2, ..., which keeps each line's value findable in the value file.
  // Polygon rings are numbered by feature: rings of one id and value share their number, so
  // rings of distinct ids are numbered as lines are.
  if (polygon) {
    geometry::numberLineGroups(cover, 1);
  } else {
    for (std::size_t i = 0; i < cover.size(); ++i)
      cover.line(i).id = static_cast<std::int32_t>(i + 1);
  }
  geometry::Region region;
  const geometry::Cover& rings =
      polygon && !lineFile ? orientedRings(cover, region, shapefile) : cover;
  if (vector) {
    FileStatus status = saveVectorLines(result, rings, attributes, polygon, path, saveMessage);
    if (!status.ok) return status;
  } else {
    bool outOfMemory = false;
    const bool saved = shapefile ? saveCoverShapefile(rings, path, polygon, calc_.language(),
                                                      shapefileProjection(result), &attributes)
                                 : geometry::writeLineFile(path, cover, &outOfMemory);
    if (outOfMemory) return FileStatus::failure(text(text::kOutOfMemory));
    if (!saved) return failed;
  }
  refreshLoaded(kind, path, result);
  return FileStatus::success(notice);
}

FileStatus Workspace::saveVectorLines(const Operand& result, const geometry::Cover& rings,
                                      const data::SavedAttributes& attributes, bool polygon,
                                      const std::string& path,
                                      const MessageText& saveMessage) const {
  return libraryWrite(formats::writeVectorLines(path, rings, polygon, &attributes,
                                                savedSystem(result), fileProgress()),
                      saveMessage);
}

std::string Workspace::savedSystem(const Operand& result) const {
  const std::string& system = result.coordinateSystem();
  return system.empty() ? sessionProjection() : system;
}

std::string Workspace::shapefileProjection(const Operand& result) const {
  const std::string& system = result.coordinateSystem();
  if (system.empty()) return sessionProjection();
  if (system == projection_) return system;
  std::string esri = formats::esriWkt(system);
  return esri.empty() ? system : esri;
}

}  // namespace vellumar::engine
