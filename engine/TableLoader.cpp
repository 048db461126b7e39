#include "engine/TableLoader.h"

#include "common/CFormat.h"
#include "data/DataFileWriter.h"
#include "data/DataMessages.h"
#include "data/Shapefile.h"
#include "engine/EngineMessages.h"
#include "formats/VectorFile.h"

namespace vellumar::engine {
namespace {

// The shapefile reader's status as the data file reader's.
data::ReadStatus readStatusOf(data::ShapeStatus status) {
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

}  // namespace

FileStatus TableLoader::read(const std::string& path, const data::ReadOptions& options,
                             data::M_Data& table, std::string* system) const {
  table.setOptions(options);
  if (formats::readsAsVector(path)) return readLayer(path, table, system);
  // The place of a fault is a data file's line or a shapefile's record.
  const bool shapefile = data::isShapefilePath(path);
  const data::DataRead read =
      shapefile ? readShapefile(path, table) : table.ReadFile(path, messages_.fileProgress());
  if (read.status == data::ReadStatus::Cancelled) return messages_.cancelled();
  if (const MessageText* message = data::readMessage(read.status)) {
    return FileStatus::failure(
        messages_.placed(cformat(messages_.text(*message), path.c_str()).c_str(),
                         shapefile ? text::kAtRecord : text::kAtLine, read.place.line));
  }
  return FileStatus::success();
}

FileStatus TableLoader::readLayer(const std::string& path, data::M_Data& table,
                                  std::string* system) const {
  formats::VectorContent content;
  const formats::VectorRead read =
      formats::readVector(path, formats::VectorLoad::Table, {}, content, messages_.fileProgress());
  if (!read) return messages_.vectorFault(read, data::text::kBadFormat, path, {});
  table = std::move(content.table);
  table.setPath(path);
  if (system != nullptr) *system = read.coordinateSystem;
  return messages_.vectorRead(read);
}

data::DataRead TableLoader::readShapefile(const std::string& path, data::M_Data& table) const {
  data::ShapefileConverter converter(messages_.language());
  converter.setProgress(messages_.fileProgress());
  const data::ShapeStatus status = converter.ShapefileToTable(path, table);
  return {readStatusOf(status), {converter.faultRecord()}};
}

}  // namespace vellumar::engine
