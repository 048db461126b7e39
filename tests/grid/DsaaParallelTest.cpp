// DSAA files large enough that the reader cuts their node text into many pieces and the writer
// formats their rows in many blocks: the outcome must be the same whatever the thread count.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../common/TestSupport.h"
#include "GridTestSupport.h"
#include "common/CFormat.h"
#include "common/FileIo.h"
#include "common/Parallel.h"
#include "common/SafeSave.h"
#include "grid/DsaaFile.h"

namespace vellumar::grid {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kThreadCounts[] = {1, 2, 7};

class DsaaParallel : public vellumar::testing::FolderTest {
 protected:
  void TearDown() override {
    parallel::setThreadLimit(0);
    FolderTest::TearDown();
  }
  // Reads text held whole or, written to a file, through the file reader, which holds a window
  // of a few megabytes at a time: the two must come to the same outcome.
  DsaaRead readFrom(bool file, const std::string& text, Grid& grid,
                    const RowProgress& progress = {}) {
    if (!file) return parseDsaa(text, grid, progress);
    if (!writeFileAtomically(path("text.grd"), text)) return {DsaaStatus::CannotOpen, -1};
    return readDsaa(path("text.grd"), grid, progress);
  }
  static const char* sourceName(bool file) { return file ? "file" : "bytes"; }
};

// ---- the writer ----

// Values that are hard to write in 12 digits: any bit pattern, short decimals in every decade,
// 13-digit halves (ties), neighbours of powers of ten, zeros, blanks and infinities.
std::vector<double> hardValues(std::size_t count) {
  std::mt19937_64 random(11);
  std::vector<double> values;
  while (values.size() < count) {
    values.push_back(std::bit_cast<double>(random()));
    const auto digits = static_cast<double>(random() % 1000000000000);
    const double decade = std::pow(10.0, static_cast<int>(random() % 44) - 22);
    values.push_back(digits * decade);
    values.push_back(-(digits * 10 + 5) * decade);
    values.push_back(std::nextafter(decade, 0.0));
    values.push_back(decade * 0.9999999999995);
    values.push_back(static_cast<double>(random() % 100000000) / 64.0);
  }
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const double specials[] = {
      0.0,  -0.0,           kBlankValue,        2 * kBlankValue,    kInf,    -kInf,
      kNaN, 123456789012.5, 123456789013.5,     999999999999.5,     1e-5,    9.99999999999e-6,
      1e12, 1e15,           9007199254740991.0, 9007199254740992.0, 4.9e-324};
  std::copy(std::begin(specials), std::end(specials), values.begin());
  values.resize(count);
  return values;
}

Grid gridOf(int nx, int ny, std::vector<double> values) {
  return Grid(nx, ny, testing::constantGrid(2, 2, 0.0), NodeVector(values.begin(), values.end()));
}

// The node lines of a grid as printf writes them: "%.12g " for every node, blanks as 1.70141e+38.
std::string printfNodeLines(const Grid& grid) {
  std::string text;
  for (int j = 0; j < grid.ny(); ++j) {
    for (int i = 0; i < grid.nx(); ++i) {
      const double v = grid.node(i, j);
      text += cformat("%.12g ", isBlank(v) ? kBlankValue : v);
    }
    text += "\r\n";
  }
  return text;
}

// The text after the five header lines.
std::string nodeLines(const std::string& file) {
  std::size_t at = 0;
  for (int line = 0; line < 5; ++line) at = file.find('\n', at) + 1;
  return file.substr(at);
}

// Rows of 1000 nodes, and 14 blocks of rows (several batches of blocks at one or two threads,
// one at seven): the same bytes, printf's, whatever the threads.
TEST_F(DsaaParallel, WritesEveryNodeAsPrintfDoesWhateverTheThreads) {
  for (const Grid& grid :
       {gridOf(1000, 150, hardValues(150000)), gridOf(300, 3000, hardValues(900000))}) {
    SCOPED_TRACE(grid.nx());
    const std::string header = "DSAA\r\n" + std::to_string(grid.nx()) + " " +
                               std::to_string(grid.ny()) + "\r\n0 1\r\n0 1\r\n";
    const std::string expected = printfNodeLines(grid);
    for (const unsigned threads : kThreadCounts) {
      parallel::setThreadLimit(threads);
      ASSERT_TRUE(writeDsaa(grid, path("a.grd")));
      const std::string bytes = fileText("a.grd");
      EXPECT_EQ(bytes.rfind(header, 0), 0u) << threads << " threads";
      EXPECT_TRUE(nodeLines(bytes) == expected) << threads << " threads";
    }
  }
}

// ---- the reader ----

// A large node text of known values, with the line and offset of every node's token.
struct LargeText {
  static constexpr int kNx = 1000;
  static constexpr int kNy = 900;
  std::string text;
  std::vector<std::int64_t> lines;
  std::vector<std::size_t> offsets;
  std::vector<double> values;
  std::int64_t line = 5;  // the header's lines

  // About 11 MB: lines of 37 tokens, separated by tabs, runs of blanks and both line breaks;
  // multiples of 1/4, a few infinities and NaNs (blank nodes), and a token longer than a piece.
  LargeText() {
    text = "DSAA\r\n1000 900\r\n0 1\r\n0 1\r\n-1 1";
    const char* separators[] = {" ", "\t\v", "   ", " \f\t "};
    for (int k = 0; k < kNx * kNy; ++k) {
      text += k % 37 == 0 ? (k % 2 ? "\r\n" : "\n") : separators[k % 4];
      line += k % 37 == 0;
      lines.push_back(line);
      offsets.push_back(text.size());
      values.push_back(static_cast<double>(std::int64_t{k} * 7919 % 4000001) / 4 - 500000);
      char digits[32];
      text.append(digits, std::to_chars(digits, digits + sizeof digits, values.back()).ptr);
    }
    for (const int k : {17, 300001, 777777}) setToken(k, "inf", kBlankValue);
    setToken(500000, "-nan", kBlankValue);
    setToken(600000, "+0x1p-2", 0.25);
    setToken(123456, "1" + std::string(1200000, '0') + "e-1200000", 1.0);
  }
  void setToken(int k, const std::string& token, double value) {
    const std::size_t end = text.find_first_of(" \t\r\n", offsets[k]);
    const std::ptrdiff_t grown =
        static_cast<std::ptrdiff_t>(token.size()) - static_cast<std::ptrdiff_t>(end - offsets[k]);
    text.replace(offsets[k], end - offsets[k], token);
    for (std::size_t later = k + 1; later < offsets.size(); ++later) offsets[later] += grown;
    values[k] = value;
  }
  // The text with the token of node k made no number (same length, so offsets stay).
  std::string spoiled(std::initializer_list<int> nodes) const {
    std::string copy = text;
    for (const int k : nodes) copy[offsets[k]] = 'x';
    return copy;
  }
};

const LargeText& largeText() {
  static const LargeText instance;
  return instance;
}

TEST_F(DsaaParallel, ReadsTheSameNodesWhateverTheThreads) {
  const LargeText& large = largeText();
  ASSERT_GT(large.text.size(), std::size_t(9) << 20);  // ten pieces
  // Tokens after the last node are never read, numbers or not.
  const std::string trailing = large.text + "\n1 2 junk 3x\n";
  for (const unsigned threads : kThreadCounts) {
    parallel::setThreadLimit(threads);
    for (const bool file : {false, true}) {
      Grid grid;
      ASSERT_TRUE(readFrom(file, trailing, grid)) << threads << " " << sourceName(file);
      ASSERT_EQ(grid.nodeCount(), large.values.size());
      EXPECT_EQ(testing::zRangeOf(grid), std::pair(-1.0, 1.0));
      std::size_t wrong = 0;
      for (std::size_t k = 0; k < large.values.size(); ++k)
        wrong += grid.nodes()[k] != large.values[k];
      EXPECT_EQ(wrong, 0u) << threads << " threads, " << sourceName(file);
    }
  }
}

// Faults in later pieces name the line the serial reader names, and every whole row before the
// fault is reported, no more. Texts whose header, one token or the white space at the end is
// wider than the file reader's window read as held whole: the reader holds more of the file as it
// needs, and lines are counted across windows.
TEST_F(DsaaParallel, FaultsAndWideTokensReadAsTheSerialReaderReadsThem) {
  const LargeText& large = largeText();
  const int last = LargeText::kNx * LargeText::kNy - 1;
  const std::string missingLast = large.text.substr(0, large.offsets[last]) + "\n\n \t\r\n";
  const std::string padding = std::string(9 << 20, ' ') + "\n\n";
  const std::string wideOne = "1" + std::string(9 << 20, '0') + "e-" + std::to_string(9 << 20);
  const std::string head = "DSAA\n2 2\n0 1 0 1 0 4\n1 ";
  // The text, the outcome, the line at fault, and the node where the serial reader stops.
  const struct {
    std::string text;
    DsaaStatus status;
    std::int64_t line;
    int node;
  } cases[] = {
      {large.spoiled({800000}), DsaaStatus::Invalid, large.lines[800000], 800000},
      // The first of several faults counts, in whatever pieces and batches they are.
      {large.spoiled({850000, 250001, 600001}), DsaaStatus::Invalid, large.lines[250001], 250001},
      {large.spoiled({last}) + " 1", DsaaStatus::Invalid, large.lines[last], last},
      // One value short: the line of the last value there is.
      {missingLast, DsaaStatus::Invalid, large.lines[last - 1], last},
      {large.spoiled({last - 1}).substr(0, large.offsets[last]), DsaaStatus::Invalid,
       large.lines[last - 1], last - 1},
      {"DSAA" + padding + "2 2\n0 1 0 1 0 4\n1 2\n3 4\n", DsaaStatus::Ok, 0, 4},
      {head + wideOne + "\n3 4\n", DsaaStatus::Ok, 0, 4},
      {head + wideOne + "x\n3 4\n", DsaaStatus::Invalid, 4, 1},
      // A value short, after lines of nothing: the line of the last value there is.
      {head + "2\n3" + padding + padding, DsaaStatus::Invalid, 5, 3},
      {head + "2\n3" + padding + "\nx", DsaaStatus::Invalid, 8, 3},
      {"DSAA\n2" + padding + "x 2\n0 1 0 1 0 4\n1 2\n3 4\n", DsaaStatus::Invalid, 4, 0},
  };
  for (const unsigned threads : kThreadCounts) {
    parallel::setThreadLimit(threads);
    for (const auto& c : cases) {
      for (const bool file : {false, true}) {
        const std::string where = std::to_string(threads) + " threads, node " +
                                  std::to_string(c.node) + ", " + sourceName(file);
        Grid grid = testing::constantGrid(2, 2, 9.0);
        std::int64_t rowsReported = 0;
        const DsaaRead outcome = readFrom(file, c.text, grid, [&](std::int64_t done, std::int64_t) {
          rowsReported = done;
          return true;
        });
        EXPECT_EQ(outcome.status, c.status) << where;
        EXPECT_EQ(outcome.line, c.line) << where;
        EXPECT_EQ(rowsReported, c.node / (c.node > 4 ? LargeText::kNx : 2)) << where;
        if (c.status != DsaaStatus::Ok) {
          EXPECT_EQ(grid.node(1, 1), 9.0) << where;
          continue;
        }
        ASSERT_EQ(grid.nodeCount(), 4u) << where;
        EXPECT_EQ(grid.node(0, 0), 1.0) << where;
        EXPECT_EQ(grid.node(1, 0), c.text.find(wideOne) != std::string::npos ? 1.0 : 2.0) << where;
        EXPECT_EQ(grid.node(1, 1), 4.0) << where;
      }
    }
  }
}

// ---- progress and cancel ----

TEST_F(DsaaParallel, LargeReadsAndWritesReportEveryRowFromTheCallingThread) {
  const LargeText& large = largeText();
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<std::int64_t> rows;
  const RowProgress record = [&](std::int64_t done, std::int64_t total) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    EXPECT_EQ(total, LargeText::kNy);
    rows.push_back(done);
    return true;
  };
  std::vector<std::int64_t> expected(LargeText::kNy);
  for (int row = 0; row < LargeText::kNy; ++row) expected[row] = row + 1;
  parallel::setThreadLimit(7);
  Grid grid;
  ASSERT_TRUE(parseDsaa(large.text, grid, record));
  EXPECT_EQ(rows, expected);
  rows.clear();
  ASSERT_TRUE(writeDsaa(grid, path("a.grd"), record));
  EXPECT_EQ(rows, expected);
}

TEST_F(DsaaParallel, CancelStopsLargeReadsAndWrites) {
  const LargeText& large = largeText();
  const Grid big = gridOf(300, 3000, hardValues(900000));
  const Grid small = testing::constantGrid(2, 2, 9.0);
  ASSERT_TRUE(writeDsaa(small, path("keep.grd")));
  const std::string kept = fileText("keep.grd");
  for (const unsigned threads : kThreadCounts) {
    parallel::setThreadLimit(threads);
    int calls = 0;
    const RowProgress stopAtThree = [&calls](std::int64_t, std::int64_t) { return ++calls < 3; };
    Grid grid = small;
    EXPECT_EQ(parseDsaa(large.text, grid, stopAtThree).status, DsaaStatus::Cancelled);
    EXPECT_EQ(calls, 3);  // not asked again once it said stop
    EXPECT_EQ(grid.nx(), 2);
    EXPECT_EQ(grid.node(0, 0), 9.0);
    calls = 0;
    EXPECT_FALSE(writeDsaa(big, path("keep.grd"), stopAtThree));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(fileText("keep.grd"), kept);
    EXPECT_EQ(entryCount(), 1u);
  }
}

}  // namespace
}  // namespace vellumar::grid
