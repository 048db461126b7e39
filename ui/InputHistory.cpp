#include "ui/InputHistory.h"

#include <cstdio>

#include "common/DisplayFile.h"
#include "common/FileIo.h"
#include "ui/UiMessages.h"

namespace vellumar::ui {

InputHistory::InputHistory(std::string path, std::function<std::time_t()> clock)
    : path_(std::move(path)), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::time(nullptr); };
}

std::string InputHistory::sessionHeader(std::time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  char stamp[32] = {};
  asctime_r(&local, stamp);  // 24 characters and a line feed
  return "\n" + std::string(text::kSessionHeader.russian) + stamp + "\n";
}

void InputHistory::append(std::string_view displayText) {
  if (displayText.empty() || (headerWritten_ && displayText == lastEntry_)) return;
  std::FILE* file = std::fopen(path_.c_str(), "ab");
  if (file == nullptr) return;
  std::string record;
  if (!headerWritten_) record = sessionHeader(clock_());
  record.append(displayText);
  record += '\n';
  const std::string bytes = toFileLineBreaks(record);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) == 0 && written) {
    headerWritten_ = true;
    lastEntry_ = displayText;
  }
}

std::string InputHistory::windowText() const {
  const std::optional<std::string> bytes = readWholeFile(path_);
  if (!bytes) return {};
  std::string text = toDisplayLineBreaks(*bytes);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

void InputHistory::clear() {
  if (std::FILE* file = std::fopen(path_.c_str(), "wb")) std::fclose(file);
  headerWritten_ = false;
}

}  // namespace vellumar::ui
