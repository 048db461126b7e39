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
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "../common/TableSupport.h"
#include "../common/TestSupport.h"
#include "common/CFormat.h"
#include "common/FileIo.h"
#include "common/Parallel.h"
#include "common/SafeSave.h"
#include "data/DataPreview.h"
#include "data/M_Data.h"

namespace vellumar::data {
namespace {

// The table read from bytes with these options, a read that must end as expected.
M_Data read(std::string_view bytes, ReadOptions options = {}, ReadStatus expected = ReadStatus::Ok,
            ErrorSink* sink = nullptr) {
  M_Data table;
  table.setOptions(options);
  EXPECT_EQ(table.ReadBytes(bytes, sink).status, expected) << bytes;
  return table;
}

// Reads bytes that must be refused, and returns the line the reader names at fault (0: no one
// line); the table is left empty.
std::int64_t faultLineOf(std::string_view bytes, ReadOptions options = {}) {
  M_Data table = read("1 2\n");
  table.setOptions(options);
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
using testing::cellTexts, testing::columnNames;

TEST(DataReader, LineEndsOfAnyKindButMixedAndNoTrailingBlankRows) {
  // Each is the two rows "1 2" and "3 4": LF, CR LF or CR line ends, a last line without one,
  // trailing blank lines, a byte order mark.
  for (std::string_view bytes : {"1 2\n3 4\n", "1 2\r\n3 4\r\n", "1 2\r\n3 4", "1 2\r3 4\r",
                                 "1 2\r3 4", "1 2\n3 4\n\n  \n\t\n", "\uFEFF1 2\r3 4\r\r"}) {
    SCOPED_TRACE(bytes);
    const M_Data t = read(bytes);
    EXPECT_EQ(cellTexts(t), (Cells{{"1", "2"}, {"3", "4"}}));
    EXPECT_EQ(numericColumns(t), (std::vector<bool>{true, true}));
  }
  EXPECT_EQ(read("X Y\r1 2\r3 4\r", {' ', true, true}).columnName(1), "Y");
  // A line of commas is a row of empty cells, even at the end.
  EXPECT_EQ(read("1,2\n,\n", {',', false}).rowCount(), 2);
  // Mixed line ends are a broken file, at the first line that ends otherwise (in a file with LF
  // ends, a lone CR before them is a stray byte of its line); blank lines only are no data at all.
  for (const auto& [bytes, line] : {std::pair{"1 2\n3 4\r\n", 2},
                                    {"1 2\r3 4\n", 1},
                                    {"1 2\r\n3 4\r", 2},
                                    {"1 2\r\n3 4\r\n5 6\n7 8\r\n", 3},
                                    {"\n \n\t\n", 0}}) {
    EXPECT_EQ(faultLineOf(bytes), line) << bytes;
  }
  EXPECT_EQ(faultLineOf("X Y\n\n", {' ', true, true}), 0);
}

TEST(DataReader, RefusesWhatIsNotADataFileAndNamesTheLineAtFault) {
  using namespace std::string_literals;
  EXPECT_EQ(faultLineOf("1 2\n3\0 4\n"s), 2);
  EXPECT_EQ(faultLineOf("\177ELF\x02\x01\x01\n\x03\x04"), 1);
  // A control byte in the third row; with a header rows start on line 2; in the header itself.
  EXPECT_EQ(faultLineOf("X Y\n1 2\n3 4\n5 \x01 6\n7 8\n", {' ', true, true}), 4);
  EXPECT_EQ(faultLineOf("X \x02 Y\n1 2\n", {' ', true, true}), 1);
  // A byte order mark and CR-only files count lines alike.
  EXPECT_EQ(faultLineOf("\uFEFF1 2\n3\x7F\x01\n"), 2);
  EXPECT_EQ(faultLineOf("1;2\r3;4\r\x03;6\r", {';'}), 3);
  // Lines longer than any data file holds.
  EXPECT_EQ(faultLineOf(std::string(1'000'000, '7') + "\n"), 1);
  EXPECT_EQ(faultLineOf("1 2\n" + std::string(100001, '7') + "\n"), 2);
  EXPECT_EQ(faultLineOf("1 2\n", {'\n'}), 0);
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
  // The bytes, the delimiter, whether runs of it merge, and the cells read.
  const std::tuple<std::string_view, char, bool, Cells> cases[] = {
      {"1,,3\n", ',', false, {{"1", "0", "3"}}},
      {"1,,3\n", ',', true, {{"1", "3"}}},
      {"  1   2  \n", ' ', true, {{"1", "2"}}},
      // Without merging, inner runs make empty fields; leading and trailing runs still do not.
      {"  1   2  \n", ' ', false, {{"1", "0", "0", "2"}}},
      // Tab or space; a short line gets empty cells.
      {"1\t 2 \t3\n4\t5\n", 0, true, {{"1", "2", "3"}, {"4", "5", "0"}}},
      // Any character, also one that could start a number; a leading delimiter stays in the
      // first field.
      {"1.5.25\n", '.', false, {{"1", "5", "25"}}},
      {"2e3e4\n", 'e', true, {{"2", "3", "4"}}},
      {"-5-3\n", '-', true, {{"-5", "3"}}},
      // Lines of delimiters only and empty lines are rows of empty cells, but not at the end.
      {"1 2\n   \n\n3 4\n\n", ' ', true, {{"1", "2"}, {"0", "0"}, {"0", "0"}, {"3", "4"}}},
  };
  for (const auto& [bytes, delimiter, merge, cells] : cases)
    EXPECT_EQ(cellTexts(read(bytes, {delimiter, merge})), cells) << bytes;
}

TEST(DataReader, TypesColumnsByWhatStrtodReadsWhole) {
  M_Data t = read("12 x1 +5 0x10 inf 1e400\nabc 2 -7 .5 nan 1e-320\n");
  EXPECT_EQ(numericColumns(t), (std::vector<bool>{false, false, true, true, true, true}));
  EXPECT_EQ(t.CellText(1, 0), "abc");
  EXPECT_EQ(std::tuple(t.NumericValue(0, 0), t.NumericValue(1, 0), t.columnWidth(0)),
            std::tuple(12.0, 0.0, 4));
  EXPECT_EQ((std::vector{t.NumericValue(1, 1), t.NumericValue(0, 2), t.NumericValue(0, 3),
                         t.NumericValue(0, 4), t.NumericValue(0, 5)}),
            (std::vector{2.0, 5.0, 16.0, HUGE_VAL, HUGE_VAL}));
  EXPECT_TRUE(std::isnan(t.NumericValue(1, 4)) && t.NumericValue(1, 5) > 0.0);

  // Comma-separated numbers followed by blanks become numeric in the finishing pass; blanks
  // alone are empty cells.
  t = read("1.5 ,a\n 2 , b \n   ,c\n", {',', false});
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
      {',', false, true});
  EXPECT_EQ(columnNames(t), (Names{"County, name", "depth", "code"}));
  // Blanks around the quotes are no part of the text; a quote inside a field is text.
  EXPECT_EQ(cellTexts(t), (Cells{{"Smith, J", "10", "12"},
                                 {"say \"hi\"", "20", ""},
                                 {"a,b", "30", "xy"},
                                 {"plain 5\" pipe", "40", "7"}}));
  // A quoted number is text, and makes its column text.
  EXPECT_EQ(numericColumns(t), (std::vector<bool>{false, true, false}));

  // Merged commas inside quotes stay text; the run after the field separates once.
  EXPECT_EQ(cellTexts(read("\"a,,b\",,5\n", {',', true})), (Cells{{"a,,b", "5"}}));
  // Quotes in tab- or blank-delimited files are ordinary text.
  EXPECT_EQ(cellTexts(read("\"a\tb\"\t1\n", {'\t', false})), (Cells{{"\"a", "b\"", "1"}}));
  EXPECT_EQ(read("\"x y\" 1\n").columnCount(), 3);
  EXPECT_EQ(read("\"x,y\";1\n", {';'}).CellText(0, 0), "\"x,y\"");

  // A quote must close on its line, and holds no control bytes.
  for (std::string_view bytes : {"\"abc,1\n2,3\n", "1,\"ab\"\"\n", "\"a\x01z\",1\n"})
    EXPECT_EQ(faultLineOf(bytes, {','}), 1) << bytes;
  EXPECT_EQ(faultLineOf("name,\"x\nnext\",1\n", {',', false, true}), 1);
}

TEST(DataReader, TrailingFieldsNamedByTheHeaderAreColumns) {
  // Empty fields and the cells a short line lacks take the missing-cell value.
  M_Data t;
  t.setOptions({',', false, true});
  t.setMissingCellValue(-1.0);
  ASSERT_EQ(t.ReadBytes("a,b,c,d\n1,2,3,\n2,,200,\n5\n").status, ReadStatus::Ok);
  EXPECT_EQ(columnNames(t), (Names{"a", "b", "c", "d"}));
  EXPECT_EQ(numericColumns(t), (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(cellTexts(t),
            (Cells{{"1", "2", "3", "-1"}, {"2", "-1", "200", "-1"}, {"5", "-1", "-1", "-1"}}));

  // Only as many trailing fields as the header names; none past them, none without a header,
  // none with merging, none for a line of delimiters only.
  EXPECT_EQ(read("a,b,c,d,e\n1,,,,,,,\n", {',', false, true}).columnCount(), 5);
  EXPECT_EQ(read("a,b\n1,2,3,,\n", {',', false, true}).columnCount(), 3);
  EXPECT_EQ(read("1,2,3,\n", {',', false, false}).columnCount(), 3);
  EXPECT_EQ(read("a,b,c,d\n1,2,3,\n", {',', true, true}).columnCount(), 3);
  EXPECT_EQ(read("a,b,c,d\n1,2\n,,,\n", {',', false, true}).columnCount(), 2);
  // Any delimiter without merging, blanks too; after a quoted last field as well.
  EXPECT_EQ(read("a\tb\tc\n1\t2\t\n", {'\t', false, true}).columnName(2), "c");
  EXPECT_EQ(cellTexts(read("a,b,c\n1,\"x,\",\n", {',', false, true})), (Cells{{"1", "x,", "0"}}));
}

TEST(DataReader, NamesColumnsFromTheHeaderInUtf8) {
  const M_Data t = read("  X   Y   Name\n 1  2  a\n3 4 b c\n", {' ', true, true});
  EXPECT_EQ(columnNames(t), (Names{"X", "Y", "Name", ""}));
  EXPECT_EQ(cellTexts(t), (Cells{{"1", "2", "a", ""}, {"3", "4", "b", "c"}}));
  // "Глубина" and "песок" in CP1251, and in UTF-8 after a byte order mark.
  for (const auto& [bytes, delimiter] :
       {std::pair{"X\t\xc3\xeb\xf3\xe1\xe8\xed\xe0\r\n1\t\xef\xe5\xf1\xee\xea\r\n", '\t'},
        std::pair{"\xEF\xBB\xBFX;Глубина\n1;песок\n", ';'}}) {
    const M_Data u = read(bytes, {delimiter, true, true});
    EXPECT_EQ(columnNames(u), (Names{"X", "Глубина"}));
    EXPECT_EQ(cellTexts(u), (Cells{{"1", "песок"}}));
  }
}

using DataFilesOnDisk = vellumar::testing::FolderTest;

TEST_F(DataFilesOnDisk, ReadsRegularFilesThatFitAndRemembersTheirPathAndWhatTheyHeld) {
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
  // A FIFO is refused at once, not waited on; a file too large for the memory limit throws.
  ASSERT_EQ(mkfifo(path("fifo.dat").c_str(), 0644), 0);
  EXPECT_EQ(t.ReadFile(path("fifo.dat")).status, ReadStatus::CannotOpen);
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

TEST(DataCells, FormatNumbersByTheCellTextRuleAndConvertOnWritesAndWidthChanges) {
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

  // Numbers and texts convert on writes and width changes.
  t = M_Data();
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

TEST(DataPreview, AgreesWithTheReaderOnEveryOptionAndStopsAtTheRowCapOrARefusedLine) {
  // Each file is previewed and read with the same options: the preview has the table's columns
  // and header names, a text column's cells are the table's texts, and a numeric column's cells
  // read as its numbers (an empty cell as the missing value).
  const std::pair<const char*, ReadOptions> cases[] = {
      {"X Y Z\n0  0 5\n1 1\n  2 2 9\n", {' ', true, true}},
      {"a,b,c,d\n1,,3,\n\"x, y\",2,\"say \"\"hi\"\"\",4\n", {',', false, true}},
      {"1\t2\t3\n4\t\t6\n", {'\t', false, false}},
      {"1 \t 2\n3\t4\n", {0, true, false}},
      {",,1,2\n3,4\n", {',', true, false}},
      {"\xEF\xBB\xBFname;depth\r\nw1;10\r\nw2;20\r\n", {';', true, true}},
  };
  for (const auto& [bytes, options] : cases) {
    SCOPED_TRACE(bytes);
    const M_Data table = read(bytes, options);
    const CellPreview preview = previewCells(bytes, options, 20);
    ASSERT_EQ(preview.columnCount, table.columnCount());
    EXPECT_EQ(preview.captions, columnNames(table));
    ASSERT_EQ(static_cast<int>(preview.rows.size()), table.rowCount());
    for (int row = 0; row < table.rowCount(); ++row) {
      ASSERT_EQ(static_cast<int>(preview.rows[row].size()), table.columnCount());
      for (int j = 0; j < table.columnCount(); ++j) {
        const std::string& cell = preview.rows[row][j];
        double value = table.missingCellValue();
        if (!table.isNumericColumn(j)) {
          EXPECT_EQ(cell, table.CellText(row, j));
        } else {
          EXPECT_TRUE(cell.empty() || parseWholeDouble(cell, value)) << cell;
          EXPECT_EQ(value, table.NumericValue(row, j)) << row << "," << j;
        }
      }
    }
  }

  // At most maxRows rows; CP1251 text becomes UTF-8.
  EXPECT_EQ(previewCells("h\n1\n2\n3\n", {' ', true, true}, 2).rows, (Cells{{"1"}, {"2"}}));
  EXPECT_EQ(previewCells("\xC8\xEC\xFF 1\n", {' ', true, false}, 20).rows, (Cells{{"Имя", "1"}}));

  // The preview stops before a line the reader refuses; a refused header shows nothing, and a
  // header alone gives its columns.
  EXPECT_EQ(previewCells("1,2\n\"3,4\n5,6\n", {',', true, false}, 20).rows, (Cells{{"1", "2"}}));
  const CellPreview refused = previewCells("a\x01 b\n1 2\n", {' ', true, true}, 20);
  EXPECT_TRUE(refused.columnCount == 0 && refused.rows.empty() && refused.captions.empty());
  EXPECT_EQ(previewCells("x y\n", {' ', true, true}, 20).columnCount, 2);
  // Nothing read yet (a view without data) previews nothing.
  const CellPreview none = previewCells(std::string_view(), {' ', true, true}, 20);
  EXPECT_TRUE(none.columnCount == 0 && none.rows.empty() && none.captions.empty());
}

// Data files large enough that the reader types their rows in pieces on several threads: the
// table, and the line of a fault, must be those of one reader going line by line, whatever the
// thread count, also where a column only turns to text or appears in a late piece.
constexpr unsigned kThreadCounts[] = {1, 2, 7};
constexpr int kRows = 150000;
// Rows whose cells are unlike the others', all in late pieces.
constexpr int kWordRow = 110000;    // column 2: words from here on, which make the column text
constexpr int kSpacedRow = 120000;  // column 3: "1.5 ", a number that reads trimmed
constexpr int kQuotedRow = 130000;  // column 5: a quoted number, which makes the column text
constexpr int kWideFrom = 100000;   // from here every tenth row has a sixth field

std::string cellOf(int k, int column) {
  if (column == 0) return std::to_string(k);
  if (column == 1) return std::to_string(k / 4) + "." + std::to_string(k % 4 * 25) + "e-1";
  if (column == 2) return k >= kWordRow ? "w" + std::to_string(k) : std::to_string(-k);
  if (column == 3) return k == kSpacedRow ? "1.5 " : std::to_string(k % 977);
  if (column == 4) return k % 3 == 0 ? "" : std::to_string(k % 5);
  return k == kQuotedRow ? "\"7\"" : std::to_string(k % 11);
}

// A header and kRows rows of five fields, six in some late rows; line ends as given.
std::string largeText(const char* lineEnd = "\n") {
  std::string text = std::string("K,Quarter,Word,Spaced,Sparse,Quoted") + lineEnd;
  for (int k = 0; k < kRows; ++k) {
    for (int column = 0; column < 5; ++column) text += cellOf(k, column) + ",";
    if (k >= kWideFrom && k % 10 == 0) text += cellOf(k, 5);
    text += lineEnd;
  }
  return text;
}

class DataParallel : public ::testing::Test {
 protected:
  void TearDown() override { parallel::setThreadLimit(0); }
};

TEST_F(DataParallel, TypesLatePiecesAndNamesTheFirstFaultOfAnyPieceAsOneReaderWould) {
  const std::string text = largeText();
  ASSERT_GT(text.size(), std::size_t(4) << 20);  // several pieces
  const std::string crlf = largeText("\r\n");
  // The offset just past line end n of a text (0: the header's), where row n starts.
  const auto pastLineEnd = [](const std::string& t, int n, std::string_view end) {
    std::size_t at = 0;
    for (int k = 0; k <= n; ++k) at = t.find(end, at) + end.size();
    return at;
  };
  std::string control = text;
  control[pastLineEnd(text, 123456, "\n")] = '\x01';
  control[pastLineEnd(text, 140500, "\n")] = '\x02';
  // Row 145000 of the CR LF text ends in LF alone: its CR becomes a field's last byte.
  std::string mixed = crlf;
  mixed.erase(pastLineEnd(crlf, 145001, "\r\n") - 2, 1);
  const std::pair<std::string, std::int64_t> faults[] = {{control, 123456 + 2},
                                                         {mixed, 145001 + 1}};
  for (const unsigned threads : kThreadCounts) {
    SCOPED_TRACE(threads);
    parallel::setThreadLimit(threads);
    const M_Data table = read(text, {',', false, true});
    ASSERT_EQ(std::pair(table.rowCount(), table.columnCount()), std::pair(kRows, 6));
    EXPECT_EQ(table.columnName(5), "Quoted");
    const double missing = table.missingCellValue();
    int wrong = 0;
    for (int k = 0; k < kRows; ++k) {
      wrong += table.NumericValue(k, 0) != k;
      wrong += table.NumericValue(k, 1) != std::stod(cellOf(k, 1));
      wrong += table.CellText(k, 2) != cellOf(k, 2);
      wrong += table.NumericValue(k, 3) != (k == kSpacedRow ? 1.5 : k % 977);
      wrong += table.NumericValue(k, 4) != (k % 3 == 0 ? missing : k % 5);
      const bool wide = k >= kWideFrom && k % 10 == 0;
      wrong += table.CellText(k, 5) != (k == kQuotedRow ? "7" : wide ? cellOf(k, 5) : "");
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(numericColumns(table), (std::vector<bool>{true, true, false, true, true, false}));
    for (const auto& [bytes, line] : faults)
      EXPECT_EQ(faultLineOf(bytes, {',', false, true}), line);
    EXPECT_EQ(read(crlf, {',', false, true}).rowCount(), kRows);
  }
  // One thread types a batch of pieces between reports: a cancel at the second keeps no row.
  parallel::setThreadLimit(1);
  vellumar::testing::RecordingObserver observer(2);
  ErrorSink sink(&observer);
  EXPECT_EQ(read(text, {',', false, true}, ReadStatus::Cancelled, &sink).rowCount(), 0);
  EXPECT_EQ(observer.steps.size(), 2u);
}

}  // namespace
}  // namespace vellumar::data
