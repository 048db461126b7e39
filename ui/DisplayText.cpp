#include "ui/DisplayText.h"

#include "common/FileIo.h"
#include "common/SafeSave.h"
#include "common/TextEncoding.h"

namespace vellumar::ui {

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

bool readDisplayFile(const std::string& path, std::string& displayText) {
  const std::optional<std::string> bytes = readWholeFile(path);
  if (!bytes) return false;
  displayText = toDisplayLineBreaks(*bytes);
  return true;
}

}  // namespace vellumar::ui
