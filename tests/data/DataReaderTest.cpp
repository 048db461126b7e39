#include <gtest/gtest.h>

#include <sys/stat.h>
#include <new>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "../common/TableSupport.h"
#include "../common/TestSupport.h"
#include "common/FileIo.h"
#include "common/SafeSave.h"
#include "data/M_Data.h"

namespace vellumar::data {
namespace {

M_Data read(std::string_view bytes, char delimiter = ' ', bool merge = true, bool header = false) {
  M_Data table;
  table.setOptions({delimiter, merge, header});
  // A failed read leaves the table empty, which the callers' expectations then show.
  static_cast<void>(table.ReadBytes(bytes));
  return table;
}

// Reads bytes that must be refused, and returns the line the reader names at fault (0: no one
// line); the table is left empty.
std::int64_t faultLineOf(std::string_view bytes, char delimiter = ' ', bool merge = true,
                         bool header = false) {
  M_Data table = read("1 2\n");
  table.setOptions({delimiter, merge, header});
  const DataRead outcome = table.ReadBytes(bytes);
  EXPECT_EQ(outcome.status, ReadStatus::InvalidFormat) << bytes;
  EXPECT_EQ(std::pair(table.rowCount(), table.columnCount()), std::pair(0, 0)) << bytes;
  return outcome.place.line;
}

// Which of a table's columns are numeric.
std::vector<bool> numericColumns(const M_Data& t) {
  std::vector<bool> numeric;
  for (int j = 0; j < t.columnCount(); ++j) numeric.push_back(t.isNumericColumn(j));
  return numeric;
}

using Cells = std::vector<std::vector<std::string>>;
using Names = std::vector<std::string>;
using testing::cellTexts;
using testing::columnNames;

TEST(DataReader, LineEndsOfAnyKindButMixedAndNoTrailingBlankRows) {
  // Each is the two rows "1 2" and "3 4": LF, CR LF or CR line ends, a last line without one,
  // trailing blank lines, a byte order mark.
  for (std::string_view bytes :
       {"1 2\n3 4\n", "1 2\r\n3 4\r\n", "1 2\r\n3 4", "1 2\r3 4\r", "1 2\r3 4", "1 2\n3 4\n\n",
        "1 2\n3 4\n\n  \n\t\n", "1 2\r\n3 4\r\n\r\n \r\n", "1 2\n3 4\n \t ",
        "\uFEFF1 2\r3 4\r\r"}) {
    SCOPED_TRACE(bytes);
    const M_Data t = read(bytes);
    EXPECT_EQ(cellTexts(t), (Cells{{"1", "2"}, {"3", "4"}}));
    EXPECT_EQ(numericColumns(t), (std::vector<bool>{true, true}));
  }
  EXPECT_EQ(read("X Y\r1 2\r3 4\r", ' ', true, true).columnName(1), "Y");
  // A line of commas is a row of empty cells, even at the end.
  EXPECT_EQ(read("1,2\n,\n", ',', false).rowCount(), 2);
  // Mixed line ends are a broken file, at the first line that ends otherwise (in a file with LF
  // ends, a lone CR before them is a stray byte of its line); blank lines only are no data at all.
  for (const auto& [bytes, line] : {std::pair{"1 2\r\n3 4\n", 2},
                                    {"1 2\n3 4\r\n", 2},
                                    {"1 2\r3 4\n", 1},
                                    {"1 2\r\n3 4\r", 2},
                                    {"1 2\r3 4\n5 6\n", 1},
                                    {"1 2\r\n3 4\r\n5 6\n7 8\r\n", 3},
                                    {"\n \n\t\n", 0}}) {
    EXPECT_EQ(faultLineOf(bytes), line) << bytes;
  }
  EXPECT_EQ(faultLineOf("X Y\n\n", ' ', true, true), 0);
}

TEST(DataReader, RefusesWhatIsNotADataFileAndNamesTheLineAtFault) {
  using namespace std::string_literals;
  EXPECT_EQ(faultLineOf(""), 0);
  EXPECT_EQ(faultLineOf("1 2\n3\0 4\n"s), 2);
  EXPECT_EQ(faultLineOf("\177ELF\x02\x01\x01\n\x03\x04"), 1);
  // A control byte in the third row; with a header rows start on line 2; in the header itself.
  EXPECT_EQ(faultLineOf("1 2\n3 4\n5 \x01 6\n7 8\n"), 3);
  EXPECT_EQ(faultLineOf("X Y\n1 2\n3 4\n5 \x01 6\n7 8\n", ' ', true, true), 4);
  EXPECT_EQ(faultLineOf("X \x02 Y\n1 2\n", ' ', true, true), 1);
  // A byte order mark and CR-only files count lines alike.
  EXPECT_EQ(faultLineOf("\uFEFF1 2\n3\x7F\x01\n"), 2);
  EXPECT_EQ(faultLineOf("1;2\r3;4\r\x03;6\r", ';'), 3);
  // Lines longer than any data file holds.
  EXPECT_EQ(faultLineOf(std::string(1'000'000, '7') + "\n"), 1);
  EXPECT_EQ(faultLineOf("1 2\n" + std::string(100001, '7') + "\n"), 2);
  EXPECT_EQ(faultLineOf("X Y\n", ' ', true, true), 0);  // header only
  EXPECT_EQ(faultLineOf("1 2\n", '\n'), 0);
  // One very wide line after many empty ones would make a huge sparse table.
  std::string ragged(40000, '\n');
  for (int i = 0; i < 20000; ++i) ragged += "1 ";
  EXPECT_EQ(faultLineOf(ragged), 40001);
  // A good read names no line.
  const DataRead outcome = M_Data().ReadBytes("1 2\n");
  EXPECT_EQ(std::pair(outcome.status, outcome.place.line),
            std::pair(ReadStatus::Ok, std::int64_t{0}));
}

TEST(DataReader, SplitsFieldsByDelimiterKindAndMerging) {
  const struct {
    std::string_view bytes;
    char delimiter;
    bool merge;
    Cells cells;
  } cases[] = {
      {"1,,3\n", ',', false, {{"1", "0", "3"}}},
      {"1,,3\n", ',', true, {{"1", "3"}}},
      {"  1   2  \n", ' ', true, {{"1", "2"}}},
      // Without merging, inner runs make empty fields; leading and trailing runs still do not.
      {"  1   2  \n", ' ', false, {{"1", "0", "0", "2"}}},
      // Tab or space; a short line gets empty cells.
      {"1\t 2 \t3\n4\t5\n", 0, true, {{"1", "2", "3"}, {"4", "5", "0"}}},
      // Any character, also one that could start a number; a leading delimiter stays in the
      // first field.
      {"5;6;7\n", ';', true, {{"5", "6", "7"}}},
      {"1.5.25\n", '.', false, {{"1", "5", "25"}}},
      {"2e3e4\n", 'e', true, {{"2", "3", "4"}}},
      {"-5-3\n", '-', true, {{"-5", "3"}}},
      // Lines of delimiters only and empty lines are rows of empty cells, but not at the end.
      {"1 2\n   \n\n3 4\n\n", ' ', true, {{"1", "2"}, {"0", "0"}, {"0", "0"}, {"3", "4"}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(cellTexts(read(c.bytes, c.delimiter, c.merge)), c.cells) << c.bytes;
  M_Data t;
  t.setMissingCellValue(-1.0);
  EXPECT_EQ(t.ReadBytes("1 2\n3\n").status, ReadStatus::Ok);
  EXPECT_EQ(t.NumericValue(1, 1), -1.0);
}

TEST(DataReader, TypesColumnsByWhatStrtodReadsWhole) {
  M_Data t = read("12 x1 +5 0x10 inf 1e400\nabc 2 -7 .5 nan 1e-320\n");
  EXPECT_EQ(numericColumns(t), (std::vector<bool>{false, false, true, true, true, true}));
  EXPECT_EQ(t.CellText(1, 0), "abc");
  EXPECT_EQ(std::tuple(t.NumericValue(0, 0), t.NumericValue(1, 0), t.columnWidth(0)),
            std::tuple(12.0, 0.0, 4));
  EXPECT_EQ(std::vector<double>({t.NumericValue(1, 1), t.NumericValue(0, 2), t.NumericValue(0, 3)}),
            (std::vector<double>{2.0, 5.0, 16.0}));
  const double inf = HUGE_VAL;
  EXPECT_EQ(std::pair(t.NumericValue(0, 4), t.NumericValue(0, 5)), std::pair(inf, inf));
  EXPECT_TRUE(std::isnan(t.NumericValue(1, 4)));
  EXPECT_GT(t.NumericValue(1, 5), 0.0);

  // Comma-separated numbers followed by blanks become numeric in the finishing pass; blanks
  // alone are empty cells.
  t = read("1.5 ,a\n 2 , b \n   ,c\n", ',', false);
  EXPECT_EQ(numericColumns(t), (std::vector<bool>{true, false}));
  EXPECT_EQ(cellTexts(t), (Cells{{"1.5", "a"}, {"2", "b"}, {"0", "c"}}));
}

TEST(DataReader, QuotedCommaFieldsAreTextCells) {
  const M_Data t = read(
      "\"County, name\",depth,\"code\"\n"
      "\"Smith, J\",10,\"12\"\n"
      "\"say \"\"hi\"\"\",20,\"\"\n"
      "  \"a,b\"  ,30,\"x\"y \n"
      "plain 5\" pipe,40,7\n",
      ',', false, true);
  EXPECT_EQ(columnNames(t), (Names{"County, name", "depth", "code"}));
  // Blanks around the quotes are no part of the text; a quote inside a field is text.
  EXPECT_EQ(cellTexts(t), (Cells{{"Smith, J", "10", "12"},
                                 {"say \"hi\"", "20", ""},
                                 {"a,b", "30", "xy"},
                                 {"plain 5\" pipe", "40", "7"}}));
  // A quoted number is text, and makes its column text.
  EXPECT_EQ(numericColumns(t), (std::vector<bool>{false, true, false}));

  // Merged commas inside quotes stay text; the run after the field separates once.
  EXPECT_EQ(cellTexts(read("\"a,,b\",,5\n", ',', true)), (Cells{{"a,,b", "5"}}));
  // Quotes in tab- or blank-delimited files are ordinary text.
  EXPECT_EQ(cellTexts(read("\"a\tb\"\t1\n", '\t', false)), (Cells{{"\"a", "b\"", "1"}}));
  EXPECT_EQ(read("\"x y\" 1\n").columnCount(), 3);
  EXPECT_EQ(read("\"x,y\";1\n", ';').CellText(0, 0), "\"x,y\"");

  // A quote must close on its line, and holds no control bytes.
  for (std::string_view bytes : {"\"abc,1\n2,3\n", "1,\"ab\"\"\n", "\"a\x01z\",1\n"})
    EXPECT_EQ(faultLineOf(bytes, ','), 1) << bytes;
  EXPECT_EQ(faultLineOf("name,\"x\nnext\",1\n", ',', false, true), 1);
}

TEST(DataReader, TrailingFieldsNamedByTheHeaderAreColumns) {
  M_Data t;
  t.setOptions({',', false, true});
  t.setMissingCellValue(-1.0);
  ASSERT_EQ(t.ReadBytes("a,b,c,d\n1,2,3,\n2,,200,\n").status, ReadStatus::Ok);
  EXPECT_EQ(columnNames(t), (Names{"a", "b", "c", "d"}));
  EXPECT_EQ(numericColumns(t), (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(cellTexts(t), (Cells{{"1", "2", "3", "-1"}, {"2", "-1", "200", "-1"}}));

  // Only as many trailing fields as the header names; none past them, none without a header,
  // none with merging, none for a line of delimiters only.
  EXPECT_EQ(read("a,b,c,d,e\n1,,,,,,,\n", ',', false, true).columnCount(), 5);
  EXPECT_EQ(read("a,b\n1,2,3,,\n", ',', false, true).columnCount(), 3);
  EXPECT_EQ(read("1,2,3,\n", ',', false, false).columnCount(), 3);
  EXPECT_EQ(read("a,b,c,d\n1,2,3,\n", ',', true, true).columnCount(), 3);
  EXPECT_EQ(read("a,b,c,d\n1,2\n,,,\n", ',', false, true).columnCount(), 2);
  // Any delimiter without merging, blanks too; after a quoted last field as well.
  EXPECT_EQ(read("a\tb\tc\n1\t2\t\n", '\t', false, true).columnName(2), "c");
  EXPECT_EQ(cellTexts(read("a,b,c\n1,\"x,\",\n", ',', false, true)), (Cells{{"1", "x,", "0"}}));
}

TEST(DataReader, NamesColumnsFromTheHeaderInUtf8) {
  const M_Data t = read("  X   Y   Name\n 1  2  a\n3 4 b c\n", ' ', true, true);
  EXPECT_EQ(columnNames(t), (Names{"X", "Y", "Name", ""}));
  EXPECT_EQ(cellTexts(t), (Cells{{"1", "2", "a", ""}, {"3", "4", "b", "c"}}));
  // "Глубина" and "песок" in CP1251, and in UTF-8 after a byte order mark.
  for (const auto& [bytes, delimiter] :
       {std::pair{"X\t\xc3\xeb\xf3\xe1\xe8\xed\xe0\r\n1\t\xef\xe5\xf1\xee\xea\r\n", '\t'},
        std::pair{"\xEF\xBB\xBFX;Глубина\n1;песок\n", ';'}}) {
    const M_Data u = read(bytes, delimiter, true, true);
    EXPECT_EQ(columnNames(u), (Names{"X", "Глубина"}));
    EXPECT_EQ(cellTexts(u), (Cells{{"1", "песок"}}));
  }
}

using DataFilesOnDisk = vellumar::testing::FolderTest;

TEST_F(DataFilesOnDisk, ReadsFilesAndRemembersTheirPathAndWhatTheyHeld) {
  const std::string bytes = "A B\r\n1 2\r\n";
  ASSERT_TRUE(writeFileAtomically(path("a.dat"), bytes));
  M_Data t;
  t.setOptions({' ', true, true});
  EXPECT_FALSE(t.fileStamp().known);
  EXPECT_EQ(t.ReadFile(path("a.dat")).status, ReadStatus::Ok);
  EXPECT_EQ(std::tuple(t.path(), t.columnName(1), t.fileStamp().known, t.fileStamp().size,
                       t.fileStamp().hash),
            std::tuple(path("a.dat"), "B", true, bytes.size(), hashBytes(bytes)));
  // Tables read from bytes know no file.
  ASSERT_EQ(t.ReadBytes(bytes).status, ReadStatus::Ok);
  EXPECT_EQ(std::pair(t.fileStamp().known, t.path()), std::pair(false, std::string()));
  // Neither do failed reads.
  ASSERT_EQ(t.ReadFile(path("a.dat")).status, ReadStatus::Ok);
  std::filesystem::remove(path("a.dat"));
  EXPECT_EQ(t.ReadFile(path("a.dat")).status, ReadStatus::CannotOpen);
  EXPECT_TRUE(t.rowCount() == 0 && t.path().empty() && !t.fileStamp().known);
}

TEST_F(DataFilesOnDisk, OnlyRegularFilesThatFitAreRead) {
  M_Data t;
  ASSERT_EQ(mkfifo(path("fifo.dat").c_str(), 0644), 0);
  EXPECT_EQ(t.ReadFile(path("fifo.dat")).status, ReadStatus::CannotOpen);  // at once, not blocked
  ASSERT_TRUE(writeFileAtomically(path("big.dat"), std::string(3 << 20, '1') + "\n"));
  setenv("VELLUMAR_MEMORY_LIMIT", "1M", 1);
  EXPECT_THROW((void)t.ReadFile(path("big.dat")), std::bad_alloc);
}

constexpr std::int64_t kProgressRows = 10000;

TEST_F(DataFilesOnDisk, ReportsRowsAndStopsWhenAsked) {
  std::string bytes;
  for (int i = 0; i < kProgressRows; ++i)
    bytes += std::to_string(i) + " " + std::to_string(2 * i) + "\n";
  ASSERT_TRUE(writeFileAtomically(path("a.dat"), bytes));

  vellumar::testing::RecordingObserver observer;
  ErrorSink sink(&observer);
  M_Data table;
  ASSERT_EQ(table.ReadFile(path("a.dat"), &sink).status, ReadStatus::Ok);
  EXPECT_EQ(observer.starts,
            (std::vector<std::pair<std::string, std::int64_t>>{{"", kProgressRows}}));
  const std::vector<std::int64_t>& done = observer.steps;
  ASSERT_FALSE(done.empty());
  EXPECT_EQ(done.back(), kProgressRows);
  EXPECT_TRUE(std::adjacent_find(done.begin(), done.end(), std::greater_equal<>()) == done.end());
  EXPECT_EQ(table.NumericValue(kProgressRows - 1, 1), 2.0 * (kProgressRows - 1));

  // A cancelled read keeps nothing of the file: no rows, no path.
  vellumar::testing::RecordingObserver stopping(1);
  ErrorSink stopped(&stopping);
  EXPECT_EQ(table.ReadFile(path("a.dat"), &stopped).status, ReadStatus::Cancelled);
  EXPECT_TRUE(table.rowCount() == 0 && table.path().empty());
}

TEST(DataCells, FormatNumbersByTheCellTextRule) {
  // Without decimals set, then with 2, 0 and 1.
  const auto format = M_Data::formatCell;
  EXPECT_EQ(
      (std::vector{format(0.0000005, -1), format(-2e13, -1), format(1234.5, -1), format(3.0, -1),
                   format(0.0, -1), format(12.5, 2), format(12.5, 0), format(-0.125, 1)}),
      (std::vector<std::string>{" 5.0000E-07", "-2.0000E+13", "1234.5", "3", "0", "12.50", "12",
                                "-0.1"}));

  M_Data t = read("1234.5\n");
  EXPECT_EQ(t.CellText(0, 0), "1234.5");
  t.setColumnDecimals(0, 3);
  EXPECT_EQ(t.CellText(0, 0), "1234.500");
  EXPECT_EQ(std::pair(t.CellText(5, 0), t.NumericValue(0, 7)), std::pair(std::string(), 0.0));
}

TEST(DataCells, ConvertBetweenNumbersAndTextOnWritesAndWidthChanges) {
  M_Data t;
  t.setMissingCellValue(-9.0);
  t.Allocate(2, 2, {0, 4});
  EXPECT_EQ(t.columnName(1), "2");
  // The second is an empty text.
  EXPECT_EQ(std::pair(t.NumericValue(0, 0), t.NumericValue(0, 1)), std::pair(-9.0, -9.0));
  t.SetNumeric(0, 1, 2.5);  // "2.500000" cut to width - 1
  t.SetNumeric(1, 1, -9.0);
  EXPECT_EQ(cellTexts(t), (Cells{{"-9", "2.5"}, {"-9", ""}}));
  t.SetText(1, 1, "longer text");
  t.SetText(0, 0, "7.25");
  t.SetText(1, 0, "7.25x");
  EXPECT_EQ(
      std::tuple(t.columnWidth(1), t.CellText(1, 1), t.NumericValue(0, 0), t.NumericValue(1, 0)),
      std::tuple(12, "longer text", 7.25, -9.0));

  t.SetColumnWidth(0, 5);  // numeric to text: "%lf" cut to 4 bytes
  t.SetColumnWidth(1, 3);  // texts cut to 2 bytes
  EXPECT_EQ(cellTexts(t), (Cells{{"7.25", "2."}, {"", "lo"}}));
  t.SetColumnWidth(0, 0);
  EXPECT_TRUE(t.isNumericColumn(0));
  EXPECT_EQ(std::pair(t.NumericValue(0, 0), t.NumericValue(1, 0)), std::pair(7.25, -9.0));

  t.InsertColumn(0, 0, true);
  t.InsertColumn(99, 6, false);
  EXPECT_EQ(columnNames(t), (Names{"1", "1", "2", " "}));
  EXPECT_EQ(std::pair(t.NumericValue(1, 0), t.NumericValue(1, 1)), std::pair(-9.0, -9.0));

  t.setRowMark(1, 5);
  M_Data copy;
  copy.CopyFrom(t);
  EXPECT_EQ(copy.missingCellValue(), 0.0);  // not copied
  EXPECT_EQ(std::pair(copy.rowMark(1), copy.CellText(0, 1)), std::pair(5, std::string("7.25")));
  copy.SetNumeric(0, 1, 1.0);
  EXPECT_EQ(t.NumericValue(0, 1), 7.25);  // deep copy
  t.Clear();
  EXPECT_EQ(std::pair(t.rowCount(), copy.rowCount()), std::pair(0, 2));
}

}  // namespace
}  // namespace vellumar::data
