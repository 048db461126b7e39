#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/ErrorSink.h"
#include "common/ReadOutcome.h"
#include "geometry/Geometry.h"

namespace vellumar::geometry {

// Line files (.con, .lin, .pol) hold, per line, a header with the line's integer id, one "x y"
// record per point and a record "END"; a second "END" closes the file. Records are text lines of
// at most 63 characters, ended by LF or CR LF. The companion value file (same base name, extension
// "val") holds one "id value ..." record per line; it is optional when reading.

enum class [[nodiscard]] LineFileStatus{
    Ok = 0,
    CannotOpen,        // the line file could not be read (missing, not a regular file, unreadable)
    CannotReadValues,  // the value file exists but could not be read
    NoEndRecord,       // no "END" record at all
    RecordTooLong,     // a record of the line or value file exceeds 63 characters
    BadHeader,         // a line header that is not an integer
    BadPoint,          // a point record that is not two finite numbers
    BadValueRecord,    // a value record that does not start with an integer id and a number
    Cancelled,         // the user cancelled through the progress sink
};

// The outcome of reading a line file: its status and, for a failure, the line at fault and
// whether it is a line of the value file rather than of the line file.
using LineFileRead = ReadOutcome<LineFileStatus>;

inline constexpr std::size_t kMaxRecordLength = 63;

// The value file path of a line file: the path is cut after its last "." (searching back from the
// end, stopping at a slash, a backslash or the start), "." is appended when there is none, then
// "val".
std::string valueFileName(std::string_view lineFilePath);

// Parses a line file and its optional value file held in memory. On success cover receives the
// lines (file name and snap step untouched); on failure cover is left unchanged. Reading stops at
// the final "END"; a file cut short of it, or of its last line's own "END", keeps the lines it
// holds; consecutive duplicate points are stored once; a line's value is the first value listed for
// its id in the value file, 0 when absent. progress hears of every line (polyline) read.
LineFileRead parseLineFile(std::string_view lineBytes, std::optional<std::string_view> valueBytes,
                           Cover& cover, ErrorSink* progress = nullptr);

// Reads path and its value file. A missing value file leaves every value 0 (valuesMissing, when
// given, tells so); one that exists but cannot be read fails the load. On success the cover's file
// name is path. progress as for parseLineFile. Files or lines too large for the memory the
// program may use throw std::bad_alloc, the cover left as it was.
LineFileRead readLineFile(const std::string& path, Cover& cover, bool* valuesMissing = nullptr,
                          ErrorSink* progress = nullptr);

// The bytes of the line file and of the value file of cover (CR LF breaks, 12 significant digits).
// The value file has "id value 1" per line, plus the orientation flag (1 for a positive signed
// area, else 0) when cover.writeOrientationFlags is set.
std::string formatLineFile(const Cover& cover);
std::string formatValueFile(const Cover& cover);

// Saves both files together through the safe save (common/SafeSave.h), the value file renamed
// first and the line file last; on failure both old files stay as they were. A path whose value
// file would be the path itself (".val") is refused. Returns false on failure; files that do not
// fit in memory throw std::bad_alloc, the old files left as they were and nothing left behind.
[[nodiscard]] bool writeLineFile(const std::string& path, const Cover& cover);

// Removes from cover the lines its line file would not give back, which at 12 significant digits
// collapse: read back with repeated points stored once, a ring (rings set) needs three distinct
// points and an area, and a line of distinct points must keep two. Returns how many were removed.
std::size_t dropCollapsedLines(Cover& cover, bool rings);

// The closure rule of polygons on load: every line has at least 2 points and its first point
// exactly equals its last (NaN never equal). True for an empty cover.
bool allLinesClosed(const Cover& cover);

}  // namespace vellumar::geometry
