#include <sys/stat.h>
#include <unistd.h>
#include <new>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "../common/TestSupport.h"
#include "TestShapes.h"
#include "common/FileIo.h"
#include "common/SafeSave.h"
#include "geometry/LineFile.h"

namespace vellumar::geometry {
namespace {

namespace fs = std::filesystem;
using namespace test;

using LineFileDisk = vellumar::testing::FolderTest;

TEST(LineFileNames, ValueFileSitsBesideTheLineFile) {
  EXPECT_EQ(valueFileName("maps/field.con"), "maps/field.val");
  EXPECT_EQ(valueFileName("maps/field.tar.pol"), "maps/field.tar.val");
  EXPECT_EQ(valueFileName("maps.v2/field"), "maps.v2/field.val");
  EXPECT_EQ(valueFileName("C:\\maps.v2\\field"), "C:\\maps.v2\\field.val");
  EXPECT_EQ(valueFileName("field"), "field.val");
  EXPECT_EQ(valueFileName("field."), "field.val");
  EXPECT_EQ(valueFileName(""), ".val");
}

// A reading's status, the line at fault (-1: not checked) with the file it lies in, and when it
// succeeds the ids of the lines read, the points of the last one and the values read (when none
// are listed, every line's is 0). A failed reading leaves the cover it was given alone.
struct Reading {
  std::string lines;
  std::optional<std::string> values;
  LineFileStatus status;
  int faultLine = 0;
  bool inValueFile = false;
  std::vector<std::int32_t> ids = {};
  Coords last = {};
  std::vector<double> valuesRead = {};
};

TEST(LineFileReading, EndRecordsMalformedRecordsAndTheLineAtFault) {
  using enum LineFileStatus;
  const std::string good = "1\r\n0 0\r\n1 1\r\nEND\r\n";
  const std::string longPoint = "1 " + std::string(61, '0') + "2";  // 64 characters
  const std::string two = "1\n0 0\n1 1\nEND\n2\n5 5\n6 6\nEND\n";
  // Numbers as strtod reads them, in a record of the longest length allowed (63 characters).
  const std::string numbers = "-3\n1 " + std::string(60, '0') + "2\n\t+1.5  -0x1p2 \nEND\nEND";
  // Duplicate points are stored once, but the closing point stays.
  const std::string duplicates = "7\n0 0\n0 0\n2 0\n2 2\n2 2\n2.0 2e0\n0 0\nEND\nEND\n";
  const std::string valued = "5\n0 0\n1 0\nEND\n6\n0 1\n1 1\nEND\n9\n0 2\nEND\nEND\n";
  std::vector<Reading> readings = {
      {"END\r\n", {}, Ok},
      {"1\n0 0\n1 1\n", {}, NoEndRecord},
      // The last line is not followed by the final END, or is cut short of its own END: it is
      // kept all the same; blank lines make no line, and text after the final END is not read.
      {two, {}, Ok, 0, false, {1, 2}, {{5, 5}, {6, 6}}},
      {"1\r\n0 0\r\nEND\r\n2\r\n5 5\r\n6 6", {}, Ok, 0, false, {1, 2}, {{5, 5}, {6, 6}}},
      {"1\n0 0\nEND\n\n  \n", {}, Ok, 0, false, {1}, {{0, 0}}},
      // A line without points.
      {"1\r\n0 0\r\n1 1\r\nEND\r\n2\r\nEND\r\nEND\r\n", {}, Ok, 0, false, {1, 2}},
      {"4\n1 2\nEND\nEND\nwhatever\n", {}, Ok, 0, false, {4}, {{1, 2}}},
      {numbers, {}, Ok, 0, false, {-3}, {{1, 2}, {1.5, -4}}},
      {duplicates, {}, Ok, 0, false, {7}, {{0, 0}, {2, 0}, {2, 2}, {0, 0}}},
      // Faults in a line after the counted ones, in a file cut short of its final END.
      {"1\n0 0\nEND\n2\nfive 5\n", {}, BadPoint, 5},
      {"1\n0 0\nEND\nlabel\n5 5\n", {}, BadHeader, 4},
      // "END " is a point record, and not a valid one.
      {"1\n0 0\nEND \nEND\nEND\n", {}, BadPoint, 3},
      {"1\n" + longPoint + "\nEND\nEND\n", {}, RecordTooLong, 2},
      {"1\n0 0\nEND\nEND\n" + std::string(64, ' ') + "\n", {}, RecordTooLong, -1},
      {"1\n0 0\nEND\nEND\n", std::string(64, '1') + " 2\n", RecordTooLong, 1, true},
      {good + "END\r\n", "1 5 1\r\n\r\n2 x\r\n", BadValueRecord, 3, true},
      // A value comes from the first record of its id; an id not listed, or no value file, gives 0.
      {valued, "5 2.5\r\n\r\n6 -1e3 1 0\n5 7\n", Ok, 0, false, {5, 6, 9}, {{0, 2}}, {2.5, -1e3, 0}},
      {valued, "5\n", BadValueRecord, 1, true},
  };
  for (const char* point : {"abc def", "1", "1 2 3", "1 nan", "inf 0", "1,5 2", "0x", "1e999 0"})
    readings.push_back({std::string("1\n") + point + "\nEND\nEND\n", {}, BadPoint, 2});
  for (const char* header : {"one", "1.5", "", "99999999999", "END"})
    readings.push_back({std::string(header) + "\n0 0\nEND\nEND\nEND\n", {}, BadHeader, 1});
  for (const Reading& reading : readings) {
    SCOPED_TRACE(reading.lines + " | " + reading.values.value_or("<none>"));
    Cover cover = coverOf({tagged(squareRing(0, 0, 1, 1), 0, 3)});
    cover.fileName = "kept.pol";
    const std::optional<std::string_view> values = reading.values;
    const LineFileRead read = parseLineFile(reading.lines, values, cover);
    EXPECT_EQ(read.status, reading.status);
    if (reading.status == Ok) {
      EXPECT_EQ(idsOf(cover), reading.ids);
      EXPECT_EQ(cover.empty() ? Coords{} : coordinates(cover[cover.size() - 1]), reading.last);
      EXPECT_EQ(cover.rect().defined, !reading.ids.empty());
      EXPECT_EQ(
          eachLine(cover, [](const Line& line) { return line.value; }),
          reading.valuesRead.empty() ? std::vector<double>(cover.size()) : reading.valuesRead);
    } else {
      ASSERT_EQ(cover.size(), 1u);
      EXPECT_EQ(cover[0].size(), 5u);
    }
    EXPECT_EQ(cover.fileName, "kept.pol");
    if (reading.faultLine >= 0) {
      EXPECT_EQ(read.place.line, reading.faultLine);
      EXPECT_EQ(read.place.inValueFile, reading.inValueFile);
    }
  }
}

TEST(LineFileReading, ClosureRuleIsExact) {
  Line nearlyClosed = polyline({{0, 0}, {1, 0}, {1, 1}, {0, std::nextafter(0.0, 1.0)}});
  EXPECT_FALSE(allLinesClosed(coverOf({squareRing(0, 0, 1, 1), nearlyClosed})));
  EXPECT_FALSE(allLinesClosed(coverOf({polyline({{3, 3}})})));
  EXPECT_FALSE(allLinesClosed(coverOf({polyline({{NAN, 0}, {1, 1}, {NAN, 0}})})));
  EXPECT_TRUE(allLinesClosed(coverOf({polyline({{3, 3}, {3, 3}}), squareRing(0, 0, 1, 1)})));
  EXPECT_TRUE(allLinesClosed(Cover{}));
}

TEST(LineFileWriting, WhatTwelveDigitsCollapseIsDroppedAndTheRestReadsBack) {
  // A ring whose points print alike, and a sliver whose middle point prints on its base line.
  const Line tiny = squareRing(1000, 2000, 1000 + 1e-10, 2000 + 1e-10);
  const Line sliver = polyline({{1000, 2000}, {1001, 2000 + 2e-10}, {1002, 2000}, {1000, 2000}});
  const Line small = squareRing(1000, 2000, 1000 + 1e-7, 2000 + 1e-7);
  Cover rings = coverOf({tiny, squareRing(0, 0, 1, 1), sliver, small});
  EXPECT_EQ(dropCollapsedLines(rings, true), 2u);
  ASSERT_EQ(rings.size(), 2u);
  EXPECT_EQ(std::pair(rings[0][1].x, rings[1][1].x), std::pair(1.0, 1000 + 1e-7));
  Cover back;
  ASSERT_EQ(parseLineFile(formatLineFile(rings), std::nullopt, back).status, LineFileStatus::Ok);
  EXPECT_EQ(back.size(), 2u);
  EXPECT_TRUE(allLinesClosed(back));
  // Of lines only one that collapses to a point goes: a line of one point never had two, and
  // the sliver keeps three distinct points.
  Cover lines = coverOf({polyline({{1000, 2000}, {1000 + 1e-10, 2000}}), polyline({{3, 3}}), sliver,
                         polyline({{0, 0}, {1e-300, 0}})});
  EXPECT_EQ(dropCollapsedLines(lines, false), 1u);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 1u);
}

TEST_F(LineFileDisk, SaveAndReloadKeepsIdsValuesAndTwelveDigits) {
  const Cover original = coverOf(
      {tagged(squareRing(0.123456789012345, 1e-20, 123456.789012345, 2.5e15), 42, 3.14159265358979),
       tagged(polyline({{-1.5, 2}, {-0.1, 7}}), -7, -2e-30)});
  ASSERT_TRUE(writeLineFile(path("a.con"), original));

  EXPECT_EQ(fileText("a.val"), "42 3.14159265359 1\r\n-7 -2e-30 1\r\n");
  const std::string lines = fileText("a.con");
  EXPECT_EQ(lines,
            "42\r\n0.123456789012 1e-20\r\n123456.789012 1e-20\r\n123456.789012 2.5e+15\r\n"
            "0.123456789012 2.5e+15\r\n0.123456789012 1e-20\r\nEND\r\n"
            "-7\r\n-1.5 2\r\n-0.1 7\r\nEND\r\nEND\r\n");

  // Ids, and values and points as their 12 digits give them back.
  Cover loaded;
  ASSERT_EQ(readLineFile(path("a.con"), loaded).status, LineFileStatus::Ok);
  EXPECT_EQ(loaded.fileName, path("a.con"));
  const Line ring = squareRing(0.123456789012, 1e-20, 123456.789012, 2.5e15);
  EXPECT_EQ(ringsOf(loaded),
            (Rings{{42, 3.14159265359, coordinates(ring)}, {-7, -2e-30, {{-1.5, 2}, {-0.1, 7}}}}));

  // Saving what was loaded gives the same bytes again.
  ASSERT_TRUE(writeLineFile(path("b.con"), loaded));
  EXPECT_EQ(fileText("b.con"), lines);

  ASSERT_TRUE(writeLineFile(path("empty.pol"), Cover{}));
  EXPECT_EQ(fileText("empty.pol"), "END\r\n");
  EXPECT_EQ(fileText("empty.val"), "");

  // Asked for, a last column flags the rings of positive signed area.
  Cover cover = coverOf({tagged(squareRing(0, 0, 1, 1), 1), tagged(squareRing(2, 2, 3, 3, true), 2),
                         tagged(polyline({{0, 0}, {5, 5}}), 3)});
  cover.writeOrientationFlags = true;
  ASSERT_TRUE(writeLineFile(path("o.pol"), cover));
  EXPECT_EQ(fileText("o.val"), "1 0 1 1\r\n2 0 1 0\r\n3 0 1 0\r\n");
}

TEST_F(LineFileDisk, MissingUnreadableOrForeignFilesFailAndFailedSavesKeepWhatWasThere) {
  Cover loaded;
  EXPECT_EQ(readLineFile(path("absent.con"), loaded).status, LineFileStatus::CannotOpen);

  const Cover cover = coverOf({tagged(polyline({{0, 0}, {1, 1}}), 0, 5)});

  // The value file cannot be replaced (a folder is in the way): the old line file stays.
  ASSERT_TRUE(writeFileAtomically(path("x.con"), "old lines"));
  fs::create_directory(path("x.val"));
  EXPECT_FALSE(writeLineFile(path("x.con"), cover));
  EXPECT_EQ(fileText("x.con"), "old lines");

  // The line file's folder does not exist.
  EXPECT_FALSE(writeLineFile(path("nowhere/z.con"), cover));

  // A line file named like its own value file.
  EXPECT_TRUE(!writeLineFile(path("w.val"), cover) && !fs::exists(path("w.val")));

  // No temporary or backup file is left behind.
  EXPECT_EQ(entryNames(), (std::vector<std::string>{"x.con", "x.val"}));

  // Value files are optional, but must be readable when there.
  ASSERT_TRUE(writeFileAtomically(path("a.con"), "3\n1 1\n2 2\nEND\nEND\n"));
  bool missing = false;
  ASSERT_EQ(readLineFile(path("a.con"), loaded, &missing).status, LineFileStatus::Ok);
  EXPECT_EQ(std::pair(missing, loaded[0].value), std::pair(true, 0.0));
  ASSERT_TRUE(writeFileAtomically(path("a.val"), "3 7.5\n"));
  ASSERT_EQ(readLineFile(path("a.con"), loaded, &missing).status, LineFileStatus::Ok);
  EXPECT_EQ(std::pair(missing, loaded[0].value), std::pair(false, 7.5));

  // A value file that is there but cannot be read fails the load.
  ASSERT_TRUE(writeFileAtomically(path("a.val"), "3 1\n"));
  fs::permissions(dir_, fs::perms::all);
  fs::permissions(path("a.val"), fs::perms::none);
  const auto readAsNobody = [lineFile = path("a.con"), cover = Cover()]() mutable {
    return static_cast<int>(readLineFile(lineFile, cover).status);
  };
  EXPECT_EQ(vellumar::testing::inChild(readAsNobody, geteuid() == 0),
            static_cast<int>(LineFileStatus::CannotReadValues));

  // Line files that are not regular files, or too large for the memory, are refused at once.
  ASSERT_EQ(mkfifo(path("b.con").c_str(), 0644), 0);
  EXPECT_EQ(readLineFile(path("b.con"), loaded).status, LineFileStatus::CannotOpen);
  ASSERT_TRUE(writeFileAtomically(path("big.con"), std::string(3 << 20, '\n') + "END\n"));
  setenv("VELLUMAR_MEMORY_LIMIT", "1M", 1);
  EXPECT_THROW((void)readLineFile(path("big.con"), loaded), std::bad_alloc);
  EXPECT_EQ(loaded.size(), 1u);
}

// A save of a line file and its value file killed after each rename: both files are always there,
// and the reader rolls the cut save back, so it reads the old pair, never old lines with new
// values.
TEST_F(LineFileDisk, SavesCutShortLeaveBothFiles) {
  const Cover before = coverOf({tagged(polyline({{0, 0}, {1, 1}}), 1, 10)});
  const Cover after = coverOf(
      {tagged(polyline({{0, 0}, {1, 1}}), 1, 11), tagged(polyline({{5, 5}, {6, 6}}), 2, 20)});
  for (int renames = 0; renames <= 2; ++renames) {
    ASSERT_TRUE(writeLineFile(path("cut.con"), before));
    stopCommitsAfterRename(renames);
    EXPECT_EQ(writeLineFile(path("cut.con"), after), renames == 2);
    stopCommitsAfterRename(-1);
    Cover loaded;
    ASSERT_EQ(readLineFile(path("cut.con"), loaded).status, LineFileStatus::Ok);
    EXPECT_EQ(std::pair(loaded.size(), loaded[0].value),
              renames == 2 ? std::pair(2ul, 11.0) : std::pair(1ul, 10.0));
    EXPECT_EQ(entryCount(), 2u) << renames;  // cut.con and cut.val, no journal or temporary
  }
}

TEST(LineFileFaults, ReadingReportsLinesAndStopsWhenAsked) {
  std::string text;
  for (int id = 1; id <= 4; ++id)
    text += std::to_string(id) + "\n0 0\n1 " + std::to_string(id) + "\nEND\n";
  text += "END\n";
  vellumar::testing::RecordingObserver observer;
  ErrorSink sink(&observer);
  Cover cover;
  ASSERT_EQ(parseLineFile(text, std::nullopt, cover, &sink).status, LineFileStatus::Ok);
  EXPECT_EQ(observer.starts, (std::vector<std::pair<std::string, std::int64_t>>{{"", 4}}));
  EXPECT_EQ(observer.steps, (std::vector<std::int64_t>{1, 2, 3, 4}));
  EXPECT_EQ(idsOf(cover), (std::vector<std::int32_t>{1, 2, 3, 4}));

  vellumar::testing::RecordingObserver stopping(1);
  ErrorSink stopped(&stopping);
  Cover kept = cover;
  EXPECT_EQ(parseLineFile("7\n5 5\n6 6\nEND\n8\n1 1\n2 2\nEND\nEND\n", std::nullopt, kept, &stopped)
                .status,
            LineFileStatus::Cancelled);
  EXPECT_EQ(ringsOf(kept), ringsOf(cover));  // unchanged
}

}  // namespace
}  // namespace vellumar::geometry
