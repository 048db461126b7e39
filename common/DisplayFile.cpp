#include "common/DisplayFile.h"

#include <new>

#include "common/SafeSave.h"
#include "common/TextEncoding.h"

namespace vellumar {

std::string toFileLineBreaks(std::string_view displayText) {
  std::string bytes;
  bytes.reserve(displayText.size() + displayText.size() / 16);
  for (std::size_t i = 0; i < displayText.size(); ++i) {
    const char c = displayText[i];
    if (c == '\n' && (i == 0 || displayText[i - 1] != '\r')) bytes += '\r';
    bytes += c;
  }
  return bytes;
}

std::string toDisplayLineBreaks(std::string_view fileBytes) {
  return textOfFile(fileBytes);
}

bool writeDisplayFile(const std::string& path, std::string_view displayText) {
  return writeFileAtomically(path, toFileLineBreaks(displayText));
}

FileError readDisplayFile(const std::string& path, std::string& displayText) {
  std::string bytes;
  if (const FileError error = readFile(path, bytes); error != FileError::None) return error;
  displayText = toDisplayLineBreaks(bytes);
  return FileError::None;
}

}  // namespace vellumar
