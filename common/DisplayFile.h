#pragma once

#include <string>
#include <string_view>

#include "common/FileIo.h"

namespace vellumar {

// Display files (".ctb") and the input history hold the display's text with CR LF line breaks;
// the display holds single LF characters. The window and vellumar-calc read and write them only
// through these functions, so both faces see the same text in the same file.

// Every LF becomes CR LF (a CR already standing before an LF is kept as the pair's CR).
std::string toFileLineBreaks(std::string_view displayText);
// Every CR LF pair becomes LF; the bytes are read as UTF-8, or as CP1251 when not valid UTF-8; a
// leading byte order mark is dropped.
std::string toDisplayLineBreaks(std::string_view fileBytes);

// Writes a display file: the display text alone, through a temporary file so a failed save
// leaves the old file intact. False on failure.
[[nodiscard]] bool writeDisplayFile(const std::string& path, std::string_view displayText);
// Reads a display file into display text (left as it was on failure). A file larger than the
// memory the program may use throws std::bad_alloc.
FileError readDisplayFile(const std::string& path, std::string& displayText);

}  // namespace vellumar
