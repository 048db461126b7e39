#include "engine/LineLoader.h"

#include <memory>

#include "common/CFormat.h"
#include "data/DataFileWriter.h"
#include "data/DataMessages.h"
#include "data/Shapefile.h"
#include "engine/EngineMessages.h"
#include "engine/LinePacking.h"
#include "formats/CoordinateSystem.h"
#include "formats/VectorFile.h"
#include "geometry/GeometryMessages.h"
#include "geometry/LineFile.h"
#include "geometry/PolygonCheck.h"

namespace vellumar::engine {

FileStatus LineLoader::read(FileKind kind, const std::string& path, const std::string& valueField,
                            Operand& operand) const {
  if (formats::readsAsVector(path)) return readLayer(kind, path, valueField, operand);
  const bool polygon = kind == FileKind::Polygon;
  const bool shapefile = data::isShapefilePath(path);
  Lines lines;
  if (FileStatus status =
          shapefile ? readShapefile(path, valueField, lines) : readLineFile(path, lines);
      !status.ok) {
    return status;
  }
  if (!lines.read && isMissing(path)) return messages_.cannotOpen(path);
  if (!lines.read) {
    return FileStatus::failure(messages_.text(polygon ? geometry::text::kInvalidPolygonFile
                                                      : geometry::text::kInvalidLineFile) +
                               lines.fault);
  }
  // A polygon's rings keep their ids: rings of one id (one shapefile record, one id of a polygon
  // file) are saved together again.
  // A shapefile's lines and polygons carry the attribute row of each record, found by the ids of
  // their lines (the record numbers), so the parts of one record stay one record.
  const bool keepIds = polygon || lines.attributes != nullptr;
  if (FileStatus packed = pack(kind, lines.cover, keepIds, std::move(lines.attributes), operand);
      !packed.ok) {
    return packed;
  }
  if (std::string projection; shapefile && data::ReadProjection(path, projection)) {
    std::string name = formats::shortName(projection);
    operand.setCoordinateSystem(std::move(projection), std::move(name));
  }
  return FileStatus::success(std::move(lines.notice));
}

FileStatus LineLoader::readShapefile(const std::string& path, const std::string& valueField,
                                     Lines& lines) const {
  data::ShapefileConverter converter(messages_.language());
  converter.setProgress(messages_.fileProgress());
  const data::ShapeStatus status = converter.ReadShapeLines(path, lines.cover, valueField, {}, {});
  if (status == data::ShapeStatus::Cancelled) return messages_.cancelled();
  if (status == data::ShapeStatus::UnknownField) return FileStatus::failure(converter.lastNote());
  lines.read = status == data::ShapeStatus::Done;
  if (lines.read) {
    lines.attributes = std::make_shared<const data::AttributeTable>(converter.recordAttributes());
  }
  lines.fault = messages_.placed("", text::kAtRecord, converter.faultRecord());
  return FileStatus::success();
}

FileStatus LineLoader::readLineFile(const std::string& path, Lines& lines) const {
  bool valuesMissing = false;
  const geometry::LineFileRead read =
      geometry::readLineFile(path, lines.cover, &valuesMissing, messages_.fileProgress());
  if (read.status == geometry::LineFileStatus::Cancelled) return messages_.cancelled();
  lines.read = static_cast<bool>(read);
  const FaultPlace& where = read.place;
  lines.fault =
      messages_.placed("", where.inValueFile ? text::kAtValueFileLine : text::kAtLine, where.line);
  if (lines.read && valuesMissing) {
    lines.notice = cformat(messages_.text(geometry::text::kNoValueFile),
                           geometry::valueFileName(path).c_str());
  }
  return FileStatus::success();
}

FileStatus LineLoader::readLayer(FileKind kind, const std::string& path,
                                 const std::string& valueField, Operand& operand) const {
  const bool polygon = kind == FileKind::Polygon;
  formats::VectorContent content;
  const formats::VectorRead read = formats::readVector(
      path, polygon ? formats::VectorLoad::Polygons : formats::VectorLoad::Lines, valueField,
      content, messages_.fileProgress());
  if (!read) {
    return messages_.vectorFault(
        read, polygon ? geometry::text::kInvalidPolygonFile : geometry::text::kInvalidLineFile,
        path, valueField);
  }
  // Each line or ring keeps its feature as its record, with the feature's attributes.
  if (FileStatus packed = pack(
          kind, content.cover, true,
          std::make_shared<const data::AttributeTable>(std::move(content.attributes)), operand);
      !packed.ok) {
    return packed;
  }
  operand.setCoordinateSystem(read.coordinateSystem, formats::shortName(read.coordinateSystem));
  return messages_.vectorRead(read);
}

FileStatus LineLoader::pack(FileKind kind, const geometry::Cover& cover, bool keepIds,
                            Operand::AttributesPtr attributes, Operand& operand) const {
  if (kind == FileKind::Polygon && !geometry::allLinesClosed(cover)) {
    return FileStatus::failure(messages_.text(geometry::text::kPolygonNotClosed));
  }
  operand = packCover(cover, operandKind(kind), keepIds);
  if (attributes) {
    operand = Operand::lines(operand.kind(), operand.sharedPoints(), operand.sharedParts(),
                             operand.sharedIds(), std::move(attributes));
  }
  return FileStatus::success();
}

}  // namespace vellumar::engine
