#include "geometry/LineFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <new>
#include <unordered_map>
#include <vector>

#include "common/CFormat.h"
#include "common/CommitJournal.h"
#include "common/FileIo.h"
#include "common/SafeSave.h"

namespace vellumar::geometry {
namespace {

// Walks the text lines of a buffer; a line ends at LF, and a CR before the LF is dropped. A last
// line without LF still counts when it is not empty.
class RecordCursor {
 public:
  explicit RecordCursor(std::string_view bytes) : bytes_(bytes) {}

  bool next(std::string_view& record) {
    if (pos_ >= bytes_.size()) return false;
    const std::size_t end = bytes_.find('\n', pos_);
    const std::size_t stop = end == std::string_view::npos ? bytes_.size() : end;
    record = bytes_.substr(pos_, stop - pos_);
    if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
    pos_ = stop + 1;
    ++line_;
    return true;
  }

  // The 1-based line of the last record read (0 before the first).
  std::int64_t line() const { return line_; }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
  std::int64_t line_ = 0;
};

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Splits off the next blank-separated token; false when only blanks remain.
bool nextToken(std::string_view& text, std::string_view& token) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  if (i == text.size()) return false;
  std::size_t j = i;
  while (j < text.size() && !isBlank(text[j])) ++j;
  token = text.substr(i, j - i);
  text.remove_prefix(j);
  return true;
}

bool onlyBlanks(std::string_view text) {
  std::string_view token;
  return !nextToken(text, token);
}

bool parseInt(std::string_view token, std::int32_t& value) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

bool parseHeader(std::string_view record, std::int32_t& id) {
  std::string_view token;
  return nextToken(record, token) && parseInt(token, id) && onlyBlanks(record);
}

bool parsePoint(std::string_view record, Point& p) {
  std::string_view xs, ys;
  return nextToken(record, xs) && nextToken(record, ys) && parseWholeDouble(xs, p.x) &&
         parseWholeDouble(ys, p.y) && std::isfinite(p.x) && std::isfinite(p.y) &&
         onlyBlanks(record);
}

using ValueTable = std::unordered_map<std::int32_t, double>;

// Collects the first value listed for every id; blank records are skipped.
// faultLine receives the line of a record at fault.
LineFileStatus parseValueFile(std::string_view bytes, ValueTable& values, std::int64_t& faultLine) {
  RecordCursor cursor(bytes);
  std::string_view record;
  while (cursor.next(record)) {
    faultLine = cursor.line();
    if (record.size() > kMaxRecordLength) return LineFileStatus::RecordTooLong;
    if (onlyBlanks(record)) continue;
    std::string_view idToken, valueToken;
    std::int32_t id = 0;
    double value = 0.0;
    if (!nextToken(record, idToken) || !nextToken(record, valueToken) || !parseInt(idToken, id) ||
        !parseWholeDouble(valueToken, value)) {
      return LineFileStatus::BadValueRecord;
    }
    values.try_emplace(id, value);
  }
  faultLine = 0;
  return LineFileStatus::Ok;
}

// First pass: every record within the length limit; returns the number of "END" records.
LineFileStatus countEndRecords(std::string_view bytes, std::size_t& ends, std::int64_t& faultLine) {
  ends = 0;
  RecordCursor cursor(bytes);
  std::string_view record;
  while (cursor.next(record)) {
    if (record.size() > kMaxRecordLength) {
      faultLine = cursor.line();
      return LineFileStatus::RecordTooLong;
    }
    if (record == "END") ++ends;
  }
  return ends == 0 ? LineFileStatus::NoEndRecord : LineFileStatus::Ok;
}

// Reads one line: its header, its points up to its "END".
LineFileStatus readOneLine(RecordCursor& cursor, Line& line) {
  std::string_view record;
  if (!cursor.next(record) || !parseHeader(record, line.id)) return LineFileStatus::BadHeader;
  std::vector<Point> points;
  while (cursor.next(record) && record != "END") {
    Point p;
    if (!parsePoint(record, p)) return LineFileStatus::BadPoint;
    if (!points.empty() && samePosition(points.back(), p)) continue;
    points.push_back(p);
  }
  line.assign(std::move(points));
  return LineFileStatus::Ok;
}

// True when the records left after the counted lines begin another line: the first one that is
// not blank is neither the final "END" nor missing. Blank records before it are skipped.
bool startsAnotherLine(RecordCursor& cursor) {
  RecordCursor ahead = cursor;
  std::string_view record;
  while (ahead.next(record)) {
    if (onlyBlanks(record)) {
      cursor = ahead;
      continue;
    }
    return record != "END";
  }
  return false;
}

void appendNumber(std::string& out, double value) {
  appendGeneral(out, value, 12);
}

// A coordinate as the file gives it back.
double asWritten(double value) {
  std::string text;
  appendNumber(text, value);
  double read = value;
  return parseWholeDouble(text, read) ? read : value;
}

// The points of a line as a read of its file gives them: printed, parsed, repeats stored once.
Line asRead(const Line& line) {
  std::vector<Point> points;
  for (const Point& p : line.points()) {
    const Point written{asWritten(p.x), asWritten(p.y)};
    if (points.empty() || !samePosition(points.back(), written)) points.push_back(written);
  }
  Line read;
  read.assign(std::move(points));
  return read;
}

// Whether the file would not give the line back: a ring needs three distinct points (four with
// its closing one) and an area; a line of distinct points must keep two.
bool collapses(const Line& line, bool ring) {
  const Line read = asRead(line);
  if (ring) return read.size() < 4 || read.signedArea() == 0.0;
  const auto points = line.points();
  const bool distinct = std::any_of(points.begin(), points.end(),
                                    [&](const Point& p) { return !samePosition(p, points[0]); });
  return distinct && read.size() < 2;
}

}  // namespace

std::string valueFileName(std::string_view lineFilePath) {
  std::size_t cut = lineFilePath.size();
  bool found = false;
  for (std::size_t i = lineFilePath.size(); i > 0; --i) {
    const char c = lineFilePath[i - 1];
    if (c == '/' || c == '\\') break;
    if (c == '.') {
      cut = i;
      found = true;
      break;
    }
  }
  std::string name(lineFilePath.substr(0, cut));
  if (!found) name += '.';
  name += "val";
  return name;
}

LineFileRead parseLineFile(std::string_view lineBytes, std::optional<std::string_view> valueBytes,
                           Cover& cover, ErrorSink* progress) {
  FaultPlace place;
  ValueTable values;
  if (valueBytes) {
    const LineFileStatus status = parseValueFile(*valueBytes, values, place.line);
    if (status != LineFileStatus::Ok) return {status, {place.line, true}};
  }
  std::size_t ends = 0;
  const LineFileStatus counted = countEndRecords(lineBytes, ends, place.line);
  if (counted != LineFileStatus::Ok) return {counted, place};

  Cover result;
  RecordCursor cursor(lineBytes);
  auto append = [&](Line& line) {
    if (const auto found = values.find(line.id); found != values.end()) line.value = found->second;
    result.appendLine(std::move(line));
  };
  // Each line read; a fault names the record it stopped at. Progress counts the lines ended by
  // "END" records (at least one).
  ProgressPacer lines = ProgressPacer::opening(
      progress, std::max<std::int64_t>(static_cast<std::int64_t>(ends) - 1, 1));
  const auto readLine = [&]() {
    Line line;
    const LineFileStatus status = readOneLine(cursor, line);
    if (status != LineFileStatus::Ok) {
      place.line = cursor.line();
      return status;
    }
    append(line);
    if (!lines.advance(static_cast<std::int64_t>(result.size()))) {
      return LineFileStatus::Cancelled;
    }
    return LineFileStatus::Ok;
  };
  for (std::size_t k = 0; k + 1 < ends; ++k) {
    if (const LineFileStatus status = readLine(); status != LineFileStatus::Ok) {
      return {status, place};
    }
  }
  // A file cut short of its final "END" (or of the last line's own "END") still holds whole lines
  // after the counted ones: they are read rather than dropped.
  while (startsAnotherLine(cursor)) {
    if (const LineFileStatus status = readLine(); status != LineFileStatus::Ok) {
      return {status, place};
    }
  }
  result.fileName = std::move(cover.fileName);
  result.snapStep = cover.snapStep;
  result.writeOrientationFlags = cover.writeOrientationFlags;
  cover = std::move(result);
  return {};
}

LineFileRead readLineFile(const std::string& path, Cover& cover, bool* valuesMissing,
                          ErrorSink* progress) {
  // A save of the pair that died half-way is rolled back before either file is read.
  recoverInterruptedSave(path);
  FileBytes lineBytes;
  if (readFile(path, lineBytes) != FileError::None) return {LineFileStatus::CannotOpen, {}};
  FileBytes valueBytes;
  const FileError valueError = readFile(valueFileName(path), valueBytes);
  if (valueError != FileError::None && valueError != FileError::Missing) {
    return {LineFileStatus::CannotReadValues, {0, true}};
  }
  std::optional<std::string_view> valueView;
  if (valueError == FileError::None) valueView = valueBytes.view();
  const LineFileRead read = parseLineFile(lineBytes.view(), valueView, cover, progress);
  if (!read) return read;
  cover.fileName = path;
  if (valuesMissing != nullptr) *valuesMissing = valueError == FileError::Missing;
  return read;
}

std::string formatLineFile(const Cover& cover) {
  std::string out;
  out.reserve(cover.pointCount() * 28 + cover.size() * 16 + 8);
  for (const Line& line : cover.lines()) {
    out += std::to_string(line.id);
    out += "\r\n";
    for (const Point& p : line.points()) {
      appendNumber(out, p.x);
      out += ' ';
      appendNumber(out, p.y);
      out += "\r\n";
    }
    out += "END\r\n";
  }
  out += "END\r\n";
  return out;
}

std::string formatValueFile(const Cover& cover) {
  std::string out;
  for (const Line& line : cover.lines()) {
    out += std::to_string(line.id);
    out += ' ';
    appendNumber(out, line.value);
    out += " 1";
    if (cover.writeOrientationFlags) out += line.signedArea() > 0.0 ? " 1" : " 0";
    out += "\r\n";
  }
  return out;
}

bool writeLineFile(const std::string& path, const Cover& cover) {
  // The line file is renamed last: a save cut short leaves the old lines with either values.
  SaveSet files;
  SaveFile& valueFile = files.add(valueFileName(path));
  SaveFile& lineFile = files.add(path);
  return files.open() && valueFile.write(formatValueFile(cover)) &&
         lineFile.write(formatLineFile(cover)) && files.commit();
}

std::size_t dropCollapsedLines(Cover& cover, bool rings) {
  const std::size_t before = cover.size();
  cover.removeLinesIf([rings](const Line& line) { return collapses(line, rings); });
  return before - cover.size();
}

bool allLinesClosed(const Cover& cover) {
  for (const Line& line : cover.lines()) {
    if (!line.isClosed()) return false;
  }
  return true;
}

}  // namespace vellumar::geometry
