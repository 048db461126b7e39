#include <gtest/gtest.h>
#include <sys/stat.h>
#include <new>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../common/TestSupport.h"
#include "GridTestSupport.h"
#include "common/CFormat.h"
#include "common/Parallel.h"
#include "common/SafeSave.h"
#include "grid/DsaaFile.h"

namespace vellumar::grid {
namespace {

using DsaaFiles = vellumar::testing::FolderTest;
using vellumar::testing::RecordingObserver;

// A grid written by GDAL's DSAA driver from a GeoTIFF with no-data margins: 12 x 9 nodes,
// 14-digit extents, no-data nodes as 1.70141e+38, ten values to a line.
const std::string kFixture = std::string(VELLUMAR_TEST_DATA) + "/gdal_blanks.grd";

// The fixture's blank nodes, as the file lays them out (its margins and one hole).
bool fixtureBlank(int i, int j) {
  return i + j < 3 || (i >= 10 && j < 4) || (j == 8 && i < 5) || (i == 6 && j == 4);
}

// Extents take 12 digits where they suffice and the fewest that read back otherwise; the z-range
// (the stored one) and the nodes keep 12; blanks of every kind are written as the blanking value.
// Where the target goes and which file is kept is the safe save's; here the writer's two ways to
// fail, a grid without nodes and a target it cannot create, leave nothing behind.
TEST_F(DsaaFiles, WritesTheDocumentedBytesAndFailedSavesLeaveNothingBehind) {
  Grid grid = testing::makeGrid(3, 2, 0.1, 1.0 / 3.0 + 1.0, -1e-20, 100.25,
                                [](double, double) { return 4.0; });
  grid.replaceNodes({1e20, std::numeric_limits<double>::quiet_NaN(), 5e38, -2.0, 4.0, 1.0 / 3.0});
  std::tie(grid.zmin, grid.zmax) = std::pair(1.0 / 3.0, 4.0);
  EXPECT_EQ(formatDsaa(grid),
            "DSAA\r\n3 2\r\n0.1 1.3333333333333333\r\n-1e-20 100.25\r\n0.333333333333 4\r\n"
            "1e+20 1.70141e+38 1.70141e+38 \r\n-2 4 0.333333333333 \r\n");
  ASSERT_TRUE(writeDsaa(grid, path("a.grd")));
  EXPECT_EQ(fileText("a.grd"), formatDsaa(grid));
  EXPECT_FALSE(writeDsaa(grid, path("missing/a.grd")));
  EXPECT_FALSE(writeDsaa(Grid(), path("empty.grd")));
  EXPECT_FALSE(writeDsaa(Grid(), path("a.grd")));
  EXPECT_EQ(fileText("a.grd"), formatDsaa(grid));
  EXPECT_EQ(entryNames(), std::vector<std::string>{"a.grd"});
}

TEST_F(DsaaFiles, RoundTripKeepsTwelveDigitsAndTheHeaderRange) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(-1e6, 1e6);
  Grid grid = testing::makeGrid(17, 11, -123.456789012345, 987.654321098765, 0.1, 0.7,
                                [&](double, double) { return value(random); });
  grid.setNode(3, 4, 1.234567890123456e-200);
  std::tie(grid.zmin, grid.zmax) = std::pair(-5.0, 5.0);  // deliberately not the data's range
  ASSERT_TRUE(writeDsaa(grid, path("r.grd")));
  Grid loaded;
  ASSERT_TRUE(readDsaa(path("r.grd"), loaded));
  // The extents read back exactly (two need more than 12 digits here); the nodes keep 12.
  EXPECT_EQ(std::tuple(testing::countsOf(loaded), loaded.rectangleFlag, loaded.name,
                       testing::zRangeOf(loaded), testing::extentsOf(loaded)),
            std::tuple(std::pair(17, 11), 1u, path("r.grd"), std::pair(-5.0, 5.0),
                       testing::extentsOf(grid)));
  std::vector<double> expected = testing::nodesOf(grid);
  for (double& v : expected) v = cstrtod(cformat("%.12g", v).c_str(), nullptr);
  EXPECT_EQ(testing::nodesOf(loaded), expected);
  // Saving again over the file gives the same bytes.
  const std::string first = fileText("r.grd");
  ASSERT_TRUE(writeDsaa(loaded, path("r.grd")));
  EXPECT_EQ(fileText("r.grd"), first);
}

// Faults, and that they keep the grid, are read at every thread count below.
TEST(DsaaParse, AcceptsLooseTextAndEmptyGridsAndReadsInfiniteNodesAsBlank) {
  Grid grid;
  ASSERT_TRUE(parseDsaa("  DSAA\n2\t2\n0 1\n0 +1e1\n\n-1 1\n1 2 3 +4.5", grid));
  EXPECT_EQ(std::tuple(grid.nx(), grid.top, grid.node(1, 1)), std::tuple(2, 10.0, 4.5));
  // A header of an empty grid with counts the bytes could hold still loads, without nodes.
  ASSERT_TRUE(parseDsaa("DSAA 0 5 0 1 0 1 0 0", grid));
  EXPECT_FALSE(grid.hasNodes());
  ASSERT_TRUE(parseDsaa("DSAA 3 0 0 1 0 1 0 0", grid));
  EXPECT_EQ(std::pair(grid.hasNodes(), grid.nx()), std::pair(false, 3));

  ASSERT_TRUE(parseDsaa("DSAA 4 2 0 3 0 1 -1 1\n1 inf -inf nan\n-INF 1e400 -1e400 2\n", grid));
  const double b = kBlankValue;
  EXPECT_EQ(testing::nodesOf(grid), std::vector<double>({1.0, b, b, b, b, b, b, 2.0}));
  const Range range = rangeOf(grid.nodes());
  EXPECT_EQ(std::pair(range.min, range.max), std::pair(1.0, 2.0));
}

TEST_F(DsaaFiles, OnlyRegularFilesThatFitAreRead) {
  Grid grid;
  ASSERT_EQ(mkfifo(path("fifo.grd").c_str(), 0644), 0);
  // At once, not blocked: the file reader refuses every file that is not regular.
  EXPECT_EQ(readDsaa(path("fifo.grd"), grid).status, DsaaStatus::CannotOpen);
  const Grid big =
      testing::makeGrid(600, 600, 0, 1, 0, 1, [](double x, double y) { return x * y; });
  ASSERT_TRUE(writeDsaa(big, path("big.grd")));
  setenv("VELLUMAR_MEMORY_LIMIT", "1M", 1);
  EXPECT_THROW((void)readDsaa(path("big.grd"), grid), std::bad_alloc);
  unsetenv("VELLUMAR_MEMORY_LIMIT");
  ASSERT_EQ(readDsaa(path("big.grd"), grid).status, DsaaStatus::Ok);
  EXPECT_EQ(grid.nodeCount(), 360000u);
}

TEST_F(DsaaFiles, AGdalGridReadsAndWritesBackWithItsBlanks) {
  Grid grid;
  ASSERT_TRUE(readDsaa(kFixture, grid));
  ASSERT_EQ(testing::countsOf(grid), std::pair(12, 9));
  EXPECT_EQ(std::pair(grid.left, grid.top),
            std::pair(cstrtod("37.127616666667", nullptr), cstrtod("55.770883333334", nullptr)));
  int blanks = 0;
  testing::forEachNode(grid, [&](int i, int j, double, double) {
    EXPECT_EQ(isBlank(grid.node(i, j)), fixtureBlank(i, j)) << i << "," << j;
    blanks += fixtureBlank(i, j);
  });
  ASSERT_EQ(blanks, 20);
  EXPECT_EQ(grid.node(3, 0), 187.5);
  EXPECT_EQ(testing::zRangeOf(grid), std::pair(120.53, 310.55));

  ASSERT_TRUE(writeDsaa(grid, path("m.grd")));
  const std::string text = fileText("m.grd");
  // The extents go back as GDAL wrote them (they need all 14 digits); blanks of every kind are
  // written as the blanking value in every block of rows, below.
  EXPECT_EQ(text.substr(0, text.find("\r\n", 12)),
            "DSAA\r\n12 9\r\n37.127616666667 37.219283333334");
  EXPECT_NE(text.find("\r\n55.704216666667 55.770883333334\r\n"), std::string::npos);

  Grid again;
  ASSERT_TRUE(readDsaa(path("m.grd"), again));
  EXPECT_EQ(
      std::tuple(testing::countsOf(again), testing::extentsOf(again), testing::nodesOf(again)),
      std::tuple(std::pair(12, 9), testing::extentsOf(grid), testing::nodesOf(grid)));
}

// ---- DSAA files large enough that the reader cuts their node text into many pieces and the
// writer formats their rows in many blocks: the outcome must be the same whatever the threads ----

constexpr unsigned kThreadCounts[] = {1, 2, 7};

class DsaaParallel : public vellumar::testing::FolderTest {
 protected:
  void TearDown() override {
    parallel::setThreadLimit(0);
    FolderTest::TearDown();
  }
  // Reads text held whole or, written to a file, through the file reader, which holds a window
  // of a few megabytes at a time: the two must come to the same outcome.
  DsaaRead readFrom(bool file, const std::string& text, Grid& grid, ErrorSink* progress = nullptr) {
    if (!file) return parseDsaa(text, grid, progress);
    if (!writeFileAtomically(path("text.grd"), text)) return {DsaaStatus::CannotOpen, {-1}};
    return readDsaa(path("text.grd"), grid, progress);
  }
};

// ---- the writer ----

// Values that are hard to write in 12 digits: any bit pattern, short decimals in every decade,
// 13-digit halves (ties), neighbours of powers of ten, zeros, blanks and infinities.
std::vector<double> hardValues(std::size_t count) {
  std::mt19937_64 random(11);
  std::vector<double> values;
  while (values.size() < count) {
    const double bits = std::bit_cast<double>(random());
    const auto digits = static_cast<double>(random() % 1000000000000);
    const double decade = std::pow(10.0, static_cast<int>(random() % 44) - 22);
    // The list's values are made in order, so the last draw comes after these.
    values.insert(values.end(),
                  {bits, digits * decade, -(digits * 10 + 5) * decade, std::nextafter(decade, 0.0),
                   decade * 0.9999999999995, static_cast<double>(random() % 100000000) / 64.0});
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

// Reports of a large read or write: rising row counts up to all rows, from the calling thread.
void expectRows(const RecordingObserver& observer, std::int64_t rows) {
  EXPECT_EQ(observer.starts, (std::vector<std::pair<std::string, std::int64_t>>{{"", rows}}));
  EXPECT_FALSE(observer.otherThread);
  EXPECT_TRUE(std::ranges::adjacent_find(observer.steps, std::greater_equal<>()) ==
              observer.steps.end());
  EXPECT_EQ(observer.steps.empty() ? 0 : observer.steps.back(), rows);
}

// Rows of 1000 nodes, and 14 blocks of rows (several batches of blocks at one or two threads,
// one at seven): the same bytes, printf's, whatever the threads. Told to stop, a write keeps the
// old file and leaves no temporary file.
TEST_F(DsaaParallel, WritesEveryNodeAsPrintfDoesWhateverTheThreads) {
  const Grid small = testing::constantGrid(2, 2, 9.0);
  for (const Grid& grid :
       {gridOf(1000, 150, hardValues(150000)), gridOf(300, 3000, hardValues(900000))}) {
    const std::string header = "DSAA\r\n" + std::to_string(grid.nx()) + " " +
                               std::to_string(grid.ny()) + "\r\n0 1\r\n0 1\r\n";
    const std::string expected = printfNodeLines(grid);
    for (const unsigned threads : kThreadCounts) {
      SCOPED_TRACE(std::to_string(grid.nx()) + " columns, " + std::to_string(threads) + " threads");
      parallel::setThreadLimit(threads);
      RecordingObserver observer;
      ErrorSink sink(&observer);
      ASSERT_TRUE(writeDsaa(grid, path("a.grd"), &sink));
      expectRows(observer, grid.ny());
      const std::string bytes = fileText("a.grd");
      EXPECT_EQ(bytes.rfind(header, 0), 0u);
      EXPECT_TRUE(nodeLines(bytes) == expected);
      ASSERT_TRUE(writeDsaa(small, path("keep.grd")));
      RecordingObserver stopping(1);
      ErrorSink stopped(&stopping);
      EXPECT_FALSE(writeDsaa(grid, path("keep.grd"), &stopped));
      EXPECT_EQ(stopping.steps.size(), 1u);
      EXPECT_EQ(fileText("keep.grd"), formatDsaa(small));
    }
  }
  EXPECT_EQ(entryNames(), (std::vector<std::string>{"a.grd", "keep.grd"}));
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

// The nodes are the same whatever the threads; told to stop, a read changes nothing and is not
// asked again. Faults in later pieces name the line the serial reader names, and every whole row
// before the fault is reported, no more. Texts whose header, one token or the white space at the
// end is wider than the file reader's window read as held whole: the reader holds more of the
// file as it needs, and lines are counted across windows.
TEST_F(DsaaParallel, ReadsTheSameNodesAndFaultsAsTheSerialReaderWhateverTheThreads) {
  const LargeText& large = largeText();
  ASSERT_GT(large.text.size(), std::size_t(9) << 20);  // ten pieces
  // Tokens after the last node are never read, numbers or not.
  const std::string trailing = large.text + "\n1 2 junk 3x\n";
  const int last = LargeText::kNx * LargeText::kNy - 1;
  const std::string missingLast = large.text.substr(0, large.offsets[last]) + "\n\n \t\r\n";
  const std::string padding = std::string(9 << 20, ' ') + "\n\n";
  const std::string wideOne = "1" + std::string(9 << 20, '0') + "e-" + std::to_string(9 << 20);
  const std::string head = "DSAA\n2 2\n0 1 0 1 0 4\n1 ";
  // The text, the outcome, the line at fault, and the node where the serial reader stops.
  struct Case {
    std::string text;
    DsaaStatus status;
    std::int64_t line;
    int node;
  };
  std::vector<Case> cases = {
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
      // Small texts: faults in the header's lines, in a node line after an empty line, too few
      // values (the last line that holds anything, where more were due), and no text at all.
      {"DSAB\n2 2\n0 1\n0 1\n0 0\n1 2\n3 4\n", DsaaStatus::Invalid, 1, 0},
      {"DSAA\n2 -2\n0 1\n0 1\n0 0\n1 2\n3 4\n", DsaaStatus::Invalid, 2, 0},
      {"DSAA\r\n2 2\r\n0 1\r\n0 y\r\n0 0\r\n1 2\r\n3 4\r\n", DsaaStatus::Invalid, 4, 0},
      {"DSAA\n2 2\n0 1\n0 1\n0 0\n1 2\n\n3 4x\n", DsaaStatus::Invalid, 8, 3},
      {"DSAA\n2 2\n0 1\n0 1\n0 0\n1 2\n3\n\n  \n", DsaaStatus::Invalid, 7, 3},
      {"", DsaaStatus::Invalid, 0, 0},
  };
  // Faults of a first line: a wrong tag, a count that is no whole number (the number forms are
  // the number parser's), negative or out of range.
  for (const char* text :
       {"DSAAx 1 1 0 1 0 1 0 0 5", "dsaa 1 1 0 1 0 1 0 0 5", "DSAA 2.5 1 0 1 0 1 0 0 1 2",
        "DSAA -2 1 0 1 0 1 0 0", "DSAA 99999999999 2 0 1 0 1 0 0 1 2"}) {
    cases.push_back({text, DsaaStatus::Invalid, 1, 0});
  }
  // Counts of more nodes than the bytes can hold, even when the other count makes the grid empty:
  // no one line is at fault.
  for (const char* text :
       {"DSAA 100000 100000 0 1 0 1 0 0 1 2", "DSAA 2000000000 0 0 1 0 1 0 0",
        "DSAA 2147483647 2147483647 0 1 0 1 0 0 1", "DSAA 0 2000000000 0 1 0 1 0 0"}) {
    cases.push_back({text, DsaaStatus::Invalid, 0, 0});
  }
  for (const unsigned threads : kThreadCounts) {
    parallel::setThreadLimit(threads);
    for (const bool file : {false, true}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + (file ? "file" : "bytes"));
      RecordingObserver reports;
      ErrorSink reported(&reports);
      Grid whole;
      ASSERT_TRUE(readFrom(file, trailing, whole, &reported));
      expectRows(reports, LargeText::kNy);
      EXPECT_EQ(testing::zRangeOf(whole), std::pair(-1.0, 1.0));
      EXPECT_TRUE(testing::nodesOf(whole) == large.values);  // 900000 values: not printed

      RecordingObserver stopping(1);
      ErrorSink stopped(&stopping);
      Grid kept = testing::constantGrid(2, 2, 9.0);
      EXPECT_EQ(readFrom(file, large.text, kept, &stopped).status, DsaaStatus::Cancelled);
      EXPECT_EQ(std::tuple(stopping.steps.size(), testing::countsOf(kept), testing::nodesOf(kept)),
                std::tuple(1u, std::pair(2, 2), std::vector<double>(4, 9.0)));

      for (const auto& c : cases) {
        SCOPED_TRACE("node " + std::to_string(c.node));
        Grid grid = testing::constantGrid(2, 2, 9.0);
        RecordingObserver observer;
        ErrorSink sink(&observer);
        const DsaaRead outcome = readFrom(file, c.text, grid, &sink);
        const std::int64_t rows = c.node / (c.node > 4 ? LargeText::kNx : 2);
        EXPECT_EQ(std::tuple(outcome.status, outcome.place.line,
                             observer.steps.empty() ? 0 : observer.steps.back()),
                  std::tuple(c.status, c.line, rows));
        // A fault keeps the grid; a read gives the nodes, the wide token among them being 1.
        const double second = c.text.find(wideOne) != std::string::npos ? 1.0 : 2.0;
        EXPECT_EQ(std::pair(testing::countsOf(grid), testing::nodesOf(grid)),
                  std::pair(std::pair(2, 2), c.status == DsaaStatus::Ok
                                                 ? std::vector<double>{1.0, second, 3.0, 4.0}
                                                 : std::vector<double>(4, 9.0)));
      }
    }
  }
}

}  // namespace
}  // namespace vellumar::grid
