#include "engine/FileMessages.h"

#include "common/CFormat.h"
#include "common/FileIo.h"
#include "data/DataMessages.h"
#include "data/ShapefileMessages.h"
#include "engine/EngineMessages.h"
#include "formats/FormatMessages.h"

namespace vellumar::engine {

bool isMissing(const std::string& path) {
  return checkRegularFile(path) == FileError::Missing;
}

FileStatus FileMessages::fileFault(const MessageText& message, const std::string& file,
                                   const std::string& reason) const {
  std::string composed = text(message) + cformat(text(formats::text::kInFile), file.c_str());
  if (!reason.empty()) composed += "\n" + reason;
  return FileStatus::failure(std::move(composed));
}

FileStatus FileMessages::cannotOpen(const std::string& path) const {
  return FileStatus::failure(cformat(text(data::text::kCannotOpen), path.c_str()));
}

FileStatus FileMessages::alreadyLoaded() const {
  return FileStatus::failure(text(data::text::kAlreadyLoaded));
}

FileStatus FileMessages::cancelled() const {
  return FileStatus::failure(text(text::kCancelled));
}

FileStatus FileMessages::outOfMemory() const {
  return FileStatus::failure(text(text::kOutOfMemory));
}

FileStatus FileMessages::needsFiles(const MessageText& saveMessage) const {
  return FileStatus::failure(std::string(text(saveMessage)) + "\n" + text(text::kFormatNeedsFiles));
}

std::string FileMessages::placed(const char* message, const MessageText& place,
                                 std::int64_t number) const {
  std::string placedText = message;
  if (number > 0) placedText += cformat(text(place), static_cast<long long>(number));
  return placedText;
}

std::string FileMessages::nameList(const std::vector<std::string>& names) const {
  if (names.empty()) return text(data::text::kNoFields);
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list;
}

FileStatus FileMessages::vectorFault(const formats::VectorRead& read,
                                     const MessageText& formatMessage, const std::string& path,
                                     const std::string& valueField) const {
  const std::string file = formats::splitLayerPath(path).file;
  std::string reason;
  switch (read.status) {
    case formats::VectorStatus::Ok:
    case formats::VectorStatus::Cancelled:
      return cancelled();
    case formats::VectorStatus::CannotOpen:
      if (isMissing(file)) return cannotOpen(path);
      break;
    case formats::VectorStatus::UnknownField:
      return FileStatus::failure(cformat(text(formats::text::kUnknownLayerField),
                                         read.layer.c_str(), valueField.c_str(),
                                         nameList(read.fields).c_str()));
    case formats::VectorStatus::NotVector:
      reason = read.libraryError;
      break;
    case formats::VectorStatus::NoSuchLayer:
      reason = read.layers.empty() ? text(formats::text::kNoLayers)
                                   : cformat(text(formats::text::kNoSuchLayer), read.layer.c_str(),
                                             nameList(read.layers).c_str());
      break;
    case formats::VectorStatus::WrongGeometry:
      reason = cformat(text(formats::text::kWrongGeometry), static_cast<long long>(read.feature),
                       read.layer.c_str(), read.geometryName.c_str());
      break;
  }
  return fileFault(formatMessage, file, reason);
}

FileStatus FileMessages::vectorRead(const formats::VectorRead& read) const {
  return FileStatus::success(read.droppedZOrM ? text(data::text::kZOrMeasureDropped) : "");
}

}  // namespace vellumar::engine
