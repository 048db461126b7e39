// Where the data reader finds a damaged file at fault, and how it reports and stops on progress.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../common/TestSupport.h"
#include "common/SafeSave.h"
#include "data/M_Data.h"

namespace vellumar::data {
namespace {

std::int64_t faultLineOf(std::string_view bytes, bool header = false, char delimiter = ' ') {
  M_Data table;
  table.setOptions({delimiter, true, header});
  std::int64_t line = -1;
  EXPECT_EQ(table.ReadBytes(bytes, {}, &line), ReadStatus::InvalidFormat) << bytes;
  return line;
}

TEST(DataReadFaults, NameTheLineAtFault) {
  // A control byte in the third row.
  EXPECT_EQ(faultLineOf("1 2\n3 4\n5 \x01 6\n7 8\n"), 3);
  // The same with a header: rows start on line 2.
  EXPECT_EQ(faultLineOf("X Y\n1 2\n3 4\n5 \x01 6\n7 8\n", true), 4);
  // A fault in the header itself.
  EXPECT_EQ(faultLineOf("X \x02 Y\n1 2\n", true), 1);
  // An LF line end among CR LF ones; a byte order mark and CR-only files count lines alike.
  EXPECT_EQ(faultLineOf("1 2\r\n3 4\r\n5 6\n7 8\r\n"), 3);
  EXPECT_EQ(faultLineOf("\xEF\xBB\xBF"
                        "1 2\n3\x7F\x01\n"),
            2);
  EXPECT_EQ(faultLineOf("1;2\r3;4\r\x03;6\r", false, ';'), 3);
  // A line longer than any data file holds.
  EXPECT_EQ(faultLineOf("1 2\n" + std::string(100001, '7') + "\n"), 2);
  // Faults of no one line.
  EXPECT_EQ(faultLineOf(""), 0);
  EXPECT_EQ(faultLineOf("X Y\n", true), 0);

  // A good read clears the line.
  M_Data table;
  std::int64_t line = -1;
  EXPECT_EQ(table.ReadBytes("1 2\n", {}, &line), ReadStatus::Ok);
  EXPECT_EQ(line, 0);
}

using DataReadProgress = vellumar::testing::FolderTest;

constexpr std::int64_t kRows = 10000;

TEST_F(DataReadProgress, ReportsRowsAndStopsWhenAsked) {
  std::string bytes;
  for (int i = 0; i < kRows; ++i) bytes += std::to_string(i) + " " + std::to_string(2 * i) + "\n";
  ASSERT_TRUE(writeFileAtomically(path("a.dat"), bytes));

  std::vector<std::int64_t> done;
  M_Data table;
  ASSERT_EQ(table.ReadFile(path("a.dat"),
                           [&done](std::int64_t rows, std::int64_t total) {
                             EXPECT_EQ(total, kRows);
                             done.push_back(rows);
                             return true;
                           }),
            ReadStatus::Ok);
  ASSERT_FALSE(done.empty());
  EXPECT_EQ(done.back(), kRows);
  for (std::size_t i = 1; i < done.size(); ++i) EXPECT_GT(done[i], done[i - 1]);
  EXPECT_EQ(table.NumericValue(kRows - 1, 1), 2.0 * (kRows - 1));

  // A cancelled read keeps nothing of the file: no rows, no path.
  const auto stop = [](std::int64_t, std::int64_t) { return false; };
  EXPECT_EQ(table.ReadFile(path("a.dat"), stop), ReadStatus::Cancelled);
  EXPECT_EQ(table.rowCount(), 0);
  EXPECT_EQ(table.path(), "");
}

}  // namespace
}  // namespace vellumar::data
