#include "engine/ResultSaver.h"

#include "common/CFormat.h"
#include "common/SafeSave.h"
#include "data/DataFileWriter.h"
#include "data/DataMessages.h"
#include "data/Shapefile.h"
#include "data/ShapefileMessages.h"
#include "engine/EngineMessages.h"
#include "engine/LinePacking.h"
#include "formats/CoordinateSystem.h"
#include "formats/FormatMessages.h"
#include "formats/VectorFile.h"
#include "geometry/GeometryMessages.h"
#include "geometry/LineFile.h"
#include "geometry/PolygonCheck.h"
#include "grid/DsaaFile.h"
#include "grid/GridMessages.h"

namespace vellumar::engine {
namespace {

// The 0-based coordinate columns of a data result's table: X and Y, or none (-1).
int coordinateColumn(const data::DATA& points, int column) {
  return points.hasCoordinates() ? column : -1;
}

// Writes a data result as a point shapefile; a result without coordinates keeps its values in
// records without shapes.
data::SaveStatus saveDataShapefile(const data::DATA& points, const std::string& path,
                                   Language language, const std::string& projection) {
  data::ShapefileConverter converter(language);
  converter.setProjection(projection);
  return converter.TableToPointShapefile(path, data::tableOfResult(points),
                                         coordinateColumn(points, 0),
                                         coordinateColumn(points, 1)) == data::ShapeStatus::Done
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

// Leaves out of the cover of a line file the rings (the lines) that its 12 significant digits
// would collapse, since they would not load back, and says how many went: never in silence.
std::string dropCollapsed(geometry::Cover& cover, bool polygon, Language language) {
  const std::size_t dropped = geometry::dropCollapsedLines(cover, polygon);
  if (dropped == 0) return {};
  const MessageText& notice =
      polygon ? geometry::text::kDroppedRings : geometry::text::kDroppedLines;
  return cformat(notice.in(language), dropped);
}

// The attribute row of each of count rings' records, found by the ids (idOf(i) of ring i) the
// rings have before a save numbers them afresh.
template <class IdOf>
data::SavedAttributes savedAttributes(const Operand& result, std::size_t count, IdOf idOf) {
  data::SavedAttributes saved;
  saved.table = result.attributes().get();
  if (saved.table == nullptr) return saved;
  saved.ringRows.reserve(count);
  for (std::size_t i = 0; i < count; ++i) saved.ringRows.push_back(saved.table->row(idOf(i)));
  return saved;
}

data::SavedAttributes savedAttributes(const Operand& result, const geometry::Cover& cover) {
  return savedAttributes(result, cover.size(), [&](std::size_t i) { return cover[i].id; });
}

// Writes a lines result as a line shapefile straight from its flat points, as the cover of its
// lines would be written: that cover would hold every point a second time. False when its tables
// disagree (see holdsPackedLines), or when the save failed.
bool saveFlatShapefile(const Operand& result, const std::string& path, Language language,
                       const std::string& projection) {
  data::FlatLines lines;
  const auto& parts = result.parts();
  if (!parts.empty()) {
    if (!holdsPackedLines(result)) return false;
    const data::DATA& points = result.points();
    lines = {points.x(), points.y(), points.values(), parts};
  }
  const auto& ids = result.ids();
  const bool withIds = ids.size() == parts.size();
  const data::SavedAttributes saved = savedAttributes(result, parts.size(), [&](std::size_t i) {
    return withIds ? ids[i] : static_cast<std::int32_t>(i + 1);
  });
  data::ShapefileConverter converter(language);
  converter.setProjection(projection);
  return converter.FlatLinesToShapefile(path, lines, &saved) == data::ShapeStatus::Done;
}

// Lines are numbered 1, 2, ..., which keeps each line's value findable in the value file.
// Polygon rings are numbered by feature: rings of one id and value share their number, so rings
// of distinct ids are numbered as lines are.
void numberForSave(geometry::Cover& cover, bool polygon) {
  if (polygon) {
    geometry::numberLineGroups(cover, 1);
    return;
  }
  for (std::size_t i = 0; i < cover.size(); ++i)
    cover.line(i).id = static_cast<std::int32_t>(i + 1);
}

}  // namespace

FileStatus ResultSaver::save(const Operand& result, const std::string& path) {
  switch (result.kind()) {
    case Kind::Number:
      return FileStatus::success(messages_.text(text::kNumberInTextField));
    case Kind::Grid:
      return saveGrid(result, path);
    case Kind::Lines:
      return saveLines(result, path, FileKind::Lines);
    case Kind::Polygon:
      return saveLines(result, path, FileKind::Polygon);
    case Kind::Data:
      return saveData(result, path);
  }
  return FileStatus::failure(messages_.text(data::text::kSaveFailed));
}

FileStatus ResultSaver::saveGrid(const Operand& result, const std::string& path) {
  const grid::Grid& grid = *result.gridValue();
  if (formats::writesRaster(path)) {
    // GDAL's drivers seek in the file they write, and may write a .prj beside it.
    if (writesInPlace(path)) return messages_.needsFiles(grid::text::kSaveFailed);
    FileStatus written =
        libraryWrite(formats::writeRaster(grid, path, rasterOptions_, messages_.fileProgress()),
                     grid::text::kSaveFailed);
    if (!written.ok) return written;
  } else if (!grid::writeDsaa(grid, path, messages_.fileProgress())) {
    if (messages_.cancelledInSink()) return messages_.cancelled();
    return FileStatus::failure(messages_.text(grid::text::kSaveFailed));
  }
  files_.refresh(FileKind::Grid, path, result);
  return FileStatus::success();
}

FileStatus ResultSaver::saveLines(const Operand& result, const std::string& path, FileKind kind) {
  const MessageText& saveMessage = kind == FileKind::Polygon ? geometry::text::kSavePolygonFailed
                                                             : geometry::text::kSaveLinesFailed;
  const FileStatus failed = FileStatus::failure(messages_.text(saveMessage));
  // A line file goes with its value file, a shapefile is three files, and OGR's drivers seek.
  if (writesInPlace(path)) return messages_.needsFiles(saveMessage);
  const bool shapefile = data::isShapefilePath(path);
  const bool vector = !shapefile && formats::writesVector(path);
  const bool lineFile = !shapefile && !vector;
  // The value file of "x.val" would be x.val itself.
  if (lineFile && geometry::valueFileName(path) == path) {
    return FileStatus::failure(messages_.text(geometry::text::kSaveToValueFile));
  }
  const bool polygon = kind == FileKind::Polygon;
  FileStatus saved = failed;
  if (shapefile && !polygon) {
    if (saveFlatShapefile(result, path, messages_.language(), shapefileProjection(result))) {
      saved = FileStatus::success();
    }
  } else {
    saved = saveThroughCover(result, path, polygon, lineFile, saveMessage);
  }
  if (saved.ok) files_.refresh(kind, path, result);
  return saved;
}

FileStatus ResultSaver::saveThroughCover(const Operand& result, const std::string& path,
                                         bool polygon, bool lineFile,
                                         const MessageText& saveMessage) const {
  geometry::Cover cover;
  // A result without lines (isolines of a flat map, say) is saved as an empty file.
  const bool empty = result.parts().empty();
  if (!empty && !unpackOperand(result, cover)) {
    return FileStatus::failure(messages_.text(saveMessage));
  }
  const std::string notice = lineFile ? dropCollapsed(cover, polygon, messages_.language()) : "";
  const data::SavedAttributes attributes = savedAttributes(result, cover);
  numberForSave(cover, polygon);
  geometry::Region region;
  const geometry::Cover& rings =
      polygon && !lineFile ? orientedRings(cover, region, data::isShapefilePath(path)) : cover;
  FileStatus written = writeRings(result, rings, attributes, polygon, path, saveMessage);
  return written.ok ? FileStatus::success(notice) : written;
}

FileStatus ResultSaver::writeRings(const Operand& result, const geometry::Cover& rings,
                                   const data::SavedAttributes& attributes, bool polygon,
                                   const std::string& path, const MessageText& saveMessage) const {
  if (data::isShapefilePath(path)) {
    return saveCoverShapefile(rings, path, polygon, messages_.language(),
                              shapefileProjection(result), &attributes)
               ? FileStatus::success()
               : FileStatus::failure(messages_.text(saveMessage));
  }
  if (formats::writesVector(path)) {
    return libraryWrite(formats::writeVectorLines(path, rings, polygon, &attributes,
                                                  savedSystem(result), messages_.fileProgress()),
                        saveMessage);
  }
  if (geometry::writeLineFile(path, rings)) return FileStatus::success();
  return FileStatus::failure(messages_.text(saveMessage));
}

FileStatus ResultSaver::saveData(const Operand& result, const std::string& path) {
  files_.assertNoEvaluation();
  const bool shapefile = data::isShapefilePath(path);
  data::SaveStatus status = data::SaveStatus::Ok;
  if (DataSlot* slot = slots_.loaded(path)) {
    // A layer's table is no text file that a column could be appended to.
    if (!shapefile && formats::readsAsVector(path)) {
      return FileStatus::failure(messages_.text(data::text::kLoadedLayer));
    }
    status = shapefile ? data::SaveStatus::LoadedShapefile
                       : data::appendResultColumn(slot->table, result.points(), slot->xy);
  } else if (shapefile) {
    if (writesInPlace(path)) return messages_.needsFiles(data::text::kSaveFailed);
    status =
        saveDataShapefile(result.points(), path, messages_.language(), shapefileProjection(result));
  } else if (formats::writesVector(path)) {
    return saveVectorData(result, path);
  } else {
    status = data::saveDataFile(path, result.points());
  }
  if (const MessageText* message = data::saveMessage(status)) {
    return FileStatus::failure(messages_.text(*message));
  }
  return FileStatus::success();
}

FileStatus ResultSaver::saveVectorData(const Operand& result, const std::string& path) const {
  if (writesInPlace(path)) return messages_.needsFiles(data::text::kSaveFailed);
  const data::DATA& points = result.points();
  const int x = coordinateColumn(points, 0);
  if (x < 0 && !formats::holdsFeaturesWithoutGeometry(path)) {
    return FileStatus::failure(std::string(messages_.text(data::text::kSaveFailed)) + "\n" +
                               messages_.text(formats::text::kNoFeaturesWithoutGeometry));
  }
  return libraryWrite(
      formats::writeVectorTable(path, data::tableOfResult(points), x, coordinateColumn(points, 1),
                                savedSystem(result), messages_.fileProgress()),
      data::text::kSaveFailed);
}

FileStatus ResultSaver::libraryWrite(const formats::RasterWrite& written,
                                     const MessageText& saveMessage) const {
  if (written.status == formats::RasterWriteStatus::Cancelled) return messages_.cancelled();
  if (written) return FileStatus::success();
  std::string message = messages_.text(saveMessage);
  if (!written.libraryError.empty()) message += "\n" + written.libraryError;
  return FileStatus::failure(std::move(message));
}

std::string ResultSaver::savedSystem(const Operand& result) const {
  const std::string& system = result.coordinateSystem();
  return system.empty() ? files_.sessionProjection() : system;
}

std::string ResultSaver::shapefileProjection(const Operand& result) const {
  const std::string& system = result.coordinateSystem();
  if (system.empty()) return files_.sessionProjection();
  if (system == files_.firstProjection()) return system;
  std::string esri = formats::esriWkt(system);
  return esri.empty() ? system : esri;
}

}  // namespace vellumar::engine
