#pragma once

#include <string>
#include <string_view>

namespace vellumar::ui {

// The display holds line breaks as single LF characters; files hold CR LF for each of them, so
// that a display written to a file and read back is the same text.

// Every LF becomes CR LF (a CR already standing before an LF is kept as the pair's CR).
std::string toFileLineBreaks(std::string_view displayText);
// Every CR LF pair becomes LF; the bytes are read as UTF-8, or as CP1251 when not valid UTF-8; a
// leading byte order mark is dropped.
std::string toDisplayLineBreaks(std::string_view fileBytes);

// Writes a display file (".ctb"): the display text alone, through a temporary file so a failed
// save leaves the old file intact. False on failure.
bool writeDisplayFile(const std::string& path, std::string_view displayText);
// Reads a display file into display text; false when it cannot be read.
bool readDisplayFile(const std::string& path, std::string& displayText);

}  // namespace vellumar::ui
