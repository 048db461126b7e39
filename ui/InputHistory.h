#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace vellumar::ui {

// The input history file: every display the user evaluates or resets is appended to it, preceded
// by a session header before the first entry of a run (and again after the history is cleared).
// An entry equal to the one appended just before it is not repeated, so a display evaluated and
// then reset is logged once. Line breaks are written as CR LF. A file that cannot be opened is
// skipped silently.
class InputHistory {
 public:
  // The clock gives the time of the session header (tests fix it).
  explicit InputHistory(std::string path, std::function<std::time_t()> clock = nullptr);

  const std::string& path() const { return path_; }
  // Appends one entry (the display text with LF line breaks); nothing for an empty text.
  void append(std::string_view displayText);
  // The text the history window shows: the file without the line break that ends its last
  // entry, with LF line breaks; empty when the file is missing.
  std::string windowText() const;
  // Truncates the file; the next entry gets a new session header.
  void clear();

  // The header written before the first entry of a session, with the time in asctime form.
  static std::string sessionHeader(std::time_t time);

 private:
  std::string path_;
  std::function<std::time_t()> clock_;
  bool headerWritten_ = false;
  std::string lastEntry_;  // the entry appended last in this session
};

}  // namespace vellumar::ui
