// Data files large enough that the reader types their rows in pieces on several threads: the
// table, and the line of a fault, must be those of one reader going line by line, whatever the
// thread count, also where a column only turns to text or appears in a late piece.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../common/TestSupport.h"
#include "common/Parallel.h"
#include "data/M_Data.h"

namespace vellumar::data {
namespace {

constexpr unsigned kThreadCounts[] = {1, 2, 7};
constexpr int kRows = 150000;
// Rows whose cells are unlike the others', all in late pieces.
constexpr int kWordRow = 110000;    // column 2: words from here on, which make the column text
constexpr int kSpacedRow = 120000;  // column 3: "1.5 ", a number that reads trimmed
constexpr int kQuotedRow = 130000;  // column 5: a quoted number, which makes the column text
constexpr int kWideFrom = 100000;   // from here every tenth row has a sixth field

std::string cellOf(int k, int column) {
  switch (column) {
    case 0:
      return std::to_string(k);
    case 1:
      return std::to_string(k / 4) + "." + std::to_string(k % 4 * 25) + "e-1";
    case 2:
      return k >= kWordRow ? "w" + std::to_string(k) : std::to_string(-k);
    case 3:
      return k == kSpacedRow ? "1.5 " : std::to_string(k % 977);
    case 4:
      return k % 3 == 0 ? "" : std::to_string(k % 5);
    default:
      return k == kQuotedRow ? "\"7\"" : std::to_string(k % 11);
  }
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
  static M_Data read(const std::string& text, ReadStatus expected = ReadStatus::Ok,
                     std::int64_t* line = nullptr, ErrorSink* sink = nullptr) {
    M_Data table;
    table.setOptions({',', false, true});
    const DataRead outcome = table.ReadBytes(text, sink);
    EXPECT_EQ(outcome.status, expected);
    if (line != nullptr) *line = outcome.place.line;
    return table;
  }
};

TEST_F(DataParallel, TypesLatePiecesAsOneReaderWould) {
  const std::string text = largeText();
  ASSERT_GT(text.size(), std::size_t(4) << 20);  // several pieces
  for (const unsigned threads : kThreadCounts) {
    parallel::setThreadLimit(threads);
    const M_Data table = read(text);
    ASSERT_EQ(table.rowCount(), kRows) << threads;
    ASSERT_EQ(table.columnCount(), 6) << threads;
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
    EXPECT_EQ(wrong, 0) << threads << " threads";
    EXPECT_TRUE(table.isNumericColumn(0) && table.isNumericColumn(3) && table.isNumericColumn(4));
    EXPECT_FALSE(table.isNumericColumn(2) || table.isNumericColumn(5)) << threads;
  }
  // One thread types a batch of pieces between reports: a cancel at the second keeps no row.
  parallel::setThreadLimit(1);
  vellumar::testing::RecordingObserver observer(2);
  ErrorSink sink(&observer);
  EXPECT_EQ(read(text, ReadStatus::Cancelled, nullptr, &sink).rowCount(), 0);
  EXPECT_EQ(observer.steps.size(), 2u);
}

TEST_F(DataParallel, TheFirstFaultOfAnyPieceNamesItsLine) {
  const std::string text = largeText();
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
  const struct {
    std::string text;
    std::int64_t line;
  } cases[] = {{control, 123456 + 2}, {mixed, 145001 + 1}};
  for (const unsigned threads : kThreadCounts) {
    parallel::setThreadLimit(threads);
    for (const auto& c : cases) {
      std::int64_t line = -1;
      const M_Data table = read(c.text, ReadStatus::InvalidFormat, &line);
      EXPECT_EQ(line, c.line) << threads << " threads";
      EXPECT_EQ(table.rowCount(), 0);
    }
    EXPECT_EQ(read(crlf).rowCount(), kRows);
  }
}

}  // namespace
}  // namespace vellumar::data
