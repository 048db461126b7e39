#include "ui/DisplayText.h"

#include "common/FileIo.h"
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
  const std::string utf8 = toUtf8(fileBytes);
  std::string text;
  text.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
    text += utf8[i];
  }
  return text;
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
