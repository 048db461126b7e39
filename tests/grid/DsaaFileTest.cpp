#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <vector>

#include "../common/TestSupport.h"
#include "GridTestSupport.h"
#include "common/CFormat.h"
#include "common/FileIo.h"
#include "grid/DsaaFile.h"
#include "grid/GridArithmetic.h"

namespace vellumar::grid {
namespace {

namespace fs = std::filesystem;

using DsaaFiles = vellumar::testing::FolderTest;

// A grid written by GDAL's DSAA driver from a GeoTIFF with no-data margins: 12 x 9 nodes,
// 14-digit extents, no-data nodes as 1.70141e+38, ten values to a line.
const std::string kFixture = std::string(VELLUMAR_TEST_DATA) + "/gdal_blanks.grd";

// The fixture's blank nodes, as the file lays them out (its margins and one hole).
bool fixtureBlank(int i, int j) {
  return i + j < 3 || (i >= 10 && j < 4) || (j == 8 && i < 5) || (i == 6 && j == 4);
}

std::size_t occurrences(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

// Extents take 12 digits where they suffice and the fewest that read back otherwise; the z-range
// (the stored one) and the nodes keep 12; blanks of every kind are written as the blanking value.
TEST_F(DsaaFiles, WritesTheDocumentedBytes) {
  Grid grid = testing::makeGrid(3, 2, 0.1, 1.0 / 3.0 + 1.0, -1e-20, 100.25,
                                [](double, double) { return 4.0; });
  grid.setNode(2, 1, 1.0 / 3.0);
  grid.setNode(0, 0, 1e20);
  grid.setNode(1, 0, std::numeric_limits<double>::quiet_NaN());
  grid.setNode(2, 0, 5e38);
  grid.setNode(0, 1, -2.0);
  grid.zmin = 1.0 / 3.0;
  grid.zmax = 4.0;
  EXPECT_EQ(formatDsaa(grid),
            "DSAA\r\n3 2\r\n0.1 1.3333333333333333\r\n-1e-20 100.25\r\n0.333333333333 4\r\n"
            "1e+20 1.70141e+38 1.70141e+38 \r\n-2 4 0.333333333333 \r\n");
  ASSERT_TRUE(writeDsaa(grid, path("a.grd")));
  EXPECT_EQ(fileText("a.grd"), formatDsaa(grid));
  Grid loaded;
  ASSERT_TRUE(readDsaa(path("a.grd"), loaded));
  EXPECT_EQ(testing::extentsOf(loaded), testing::extentsOf(grid));
}

TEST_F(DsaaFiles, RoundTripKeepsTwelveDigitsAndTheHeaderRange) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(-1e6, 1e6);
  Grid grid = testing::makeGrid(17, 11, -123.456789012345, 987.654321098765, 0.1, 0.7,
                                [&](double, double) { return value(random); });
  grid.setNode(3, 4, 1.234567890123456e-200);
  grid.zmin = -5.0;  // deliberately not the range of the data
  grid.zmax = 5.0;
  ASSERT_TRUE(writeDsaa(grid, path("r.grd")));
  Grid loaded;
  ASSERT_TRUE(readDsaa(path("r.grd"), loaded));
  EXPECT_EQ(testing::countsOf(loaded), std::pair(17, 11));
  EXPECT_EQ(loaded.rectangleFlag, 1u);
  EXPECT_EQ(loaded.name, path("r.grd"));
  EXPECT_EQ(testing::zRangeOf(loaded), std::pair(-5.0, 5.0));
  const auto twelve = [](double v) { return cstrtod(cformat("%.12g", v).c_str(), nullptr); };
  // The extents read back exactly (they need more than 12 digits here); the nodes keep 12.
  EXPECT_EQ(loaded.left, grid.left);
  EXPECT_EQ(loaded.right, grid.right);
  ASSERT_EQ(loaded.nodeCount(), grid.nodeCount());
  for (std::size_t k = 0; k < grid.nodeCount(); ++k) {
    EXPECT_EQ(loaded.nodes()[k], twelve(grid.nodes()[k])) << k;
  }
  // Saving again over the file gives the same bytes.
  const std::string first = fileText("r.grd");
  ASSERT_TRUE(writeDsaa(loaded, path("r.grd")));
  EXPECT_EQ(fileText("r.grd"), first);
}

TEST(DsaaParse, AcceptsLooseWhiteSpaceAndNoFinalBreak) {
  Grid grid;
  ASSERT_TRUE(parseDsaa("  DSAA\n2\t2\n0 1\n0 +1e1\n\n-1 1\n1 2 3 +4.5", grid));
  EXPECT_EQ(grid.nx(), 2);
  EXPECT_EQ(grid.top, 10.0);
  EXPECT_EQ(grid.node(1, 1), 4.5);
  ASSERT_TRUE(parseDsaa("DSAA\r\n1 2\r\n0 0\r\n0 1\r\n0 0\r\n7 \r\n8 \r\ntrailing words", grid));
  EXPECT_EQ(grid.node(0, 1), 8.0);
  ASSERT_TRUE(parseDsaa("DSAA 0 5 0 1 0 1 0 0", grid));
  EXPECT_FALSE(grid.hasNodes());
}

TEST(DsaaParse, InfiniteAndNanNodesReadAsBlank) {
  Grid grid;
  ASSERT_TRUE(parseDsaa("DSAA 4 2 0 3 0 1 -1 1\n1 inf -inf nan\n-INF 1e400 -1e400 2\n", grid));
  for (const auto& [i, j] : {std::pair{1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1}, {2, 1}}) {
    EXPECT_EQ(grid.node(i, j), kBlankValue) << i << ' ' << j;
  }
  EXPECT_EQ(grid.node(0, 0), 1.0);
  const Range range = rangeOf(grid.nodes());
  EXPECT_EQ(std::pair(range.min, range.max), std::pair(1.0, 2.0));
}

TEST(DsaaParse, RejectsMalformedFilesAndKeepsTheGrid) {
  const char* bad[] = {
      "",
      "DSAB 1 1 0 1 0 1 0 0 5",
      "DSAAx 1 1 0 1 0 1 0 0 5",
      "dsaa 1 1 0 1 0 1 0 0 5",
      "DSAA 2 2 0 1 0 1 0 0 1 2 3",   // one value short
      "DSAA 2 1 0 1 0 1 0 0 1 abc",   // not a number
      "DSAA 2 1 0 1 0 1 0 0 1 2.5x",  // number with junk
      "DSAA 2 1 0 1 0 1 0 0 1 ++2",
      "DSAA 2 1 0 1 0 1 0 0 1 +-2",
      "DSAA 2 1 0 1 zero 1 0 0 1 2",  // header field not a number
      "DSAA 2.5 1 0 1 0 1 0 0 1 2",
      "DSAA -2 -1 0 1 0 1 0 0 1 2",  // negative counts
      "DSAA -2 1 0 1 0 1 0 0",
      "DSAA 100000 100000 0 1 0 1 0 0 1 2",  // more nodes than the bytes can hold
      "DSAA 99999999999 2 0 1 0 1 0 0 1 2",  // count out of range
      "DSAA 2147483647 2147483647 0 1 0 1 0 0 1",
      // An empty grid whose other count claims more nodes than the bytes could hold.
      "DSAA 2000000000 0 0 1 0 1 0 0",
      "DSAA 0 2000000000 0 1 0 1 0 0",
  };
  Grid grid = testing::makeGrid(2, 2, 0, 1, 0, 1, [](double x, double) { return x; });
  for (const char* text : bad) {
    EXPECT_FALSE(parseDsaa(text, grid)) << text;
    EXPECT_EQ(grid.nx(), 2);
    EXPECT_EQ(grid.node(1, 0), 1.0);
  }
  EXPECT_FALSE(readDsaa("/nonexistent/folder/x.grd", grid));

  // A header of an empty grid with counts the file could hold still loads, without nodes.
  ASSERT_TRUE(parseDsaa("DSAA 3 0 0 1 0 1 0 0", grid));
  EXPECT_FALSE(grid.hasNodes());
  EXPECT_EQ(grid.nx(), 3);
}

TEST_F(DsaaFiles, OnlyRegularFilesThatFitAreRead) {
  Grid grid;
  ASSERT_EQ(mkfifo(path("fifo.grd").c_str(), 0644), 0);
  // At once, not blocked.
  EXPECT_EQ(readDsaa(path("fifo.grd"), grid).status, DsaaStatus::CannotOpen);
  EXPECT_EQ(readDsaa("/dev/zero", grid).status, DsaaStatus::CannotOpen);
  EXPECT_EQ(readDsaa(dir_.string(), grid).status, DsaaStatus::CannotOpen);
  const Grid big =
      testing::makeGrid(600, 600, 0, 1, 0, 1, [](double x, double y) { return x * y; });
  ASSERT_TRUE(writeDsaa(big, path("big.grd")));
  setenv("VELLUMAR_MEMORY_LIMIT", "1M", 1);
  EXPECT_EQ(readDsaa(path("big.grd"), grid).status, DsaaStatus::OutOfMemory);
  unsetenv("VELLUMAR_MEMORY_LIMIT");
  ASSERT_EQ(readDsaa(path("big.grd"), grid).status, DsaaStatus::Ok);
  EXPECT_EQ(grid.nodeCount(), 360000u);
  EXPECT_EQ(grid.name, path("big.grd"));
}

TEST(DsaaParse, NamesTheLineAtFault) {
  Grid grid = testing::makeGrid(2, 2, 0, 1, 0, 1, [](double x, double) { return x; });
  const struct {
    const char* text;
    std::int64_t line;
  } cases[] = {
      {"DSAB\n2 2\n0 1\n0 1\n0 0\n1 2\n3 4\n", 1},
      {"DSAA\n2 -2\n0 1\n0 1\n0 0\n1 2\n3 4\n", 2},
      {"DSAA\r\n2 2\r\n0 1\r\n0 y\r\n0 0\r\n1 2\r\n3 4\r\n", 4},
      {"DSAA\n2 2\n0 1\n0 1\n0 0\n1 2\n\n3 4x\n", 8},
      // Too few values: the last line that holds anything, where more were due.
      {"DSAA\n2 2\n0 1\n0 1\n0 0\n1 2\n3\n\n  \n", 7},
      {"", 0},
  };
  for (const auto& c : cases) {
    const DsaaRead read = parseDsaa(c.text, grid);
    EXPECT_EQ(read.status, DsaaStatus::Invalid) << c.text;
    EXPECT_EQ(read.line, c.line) << c.text;
  }
  EXPECT_EQ(grid.node(1, 0), 1.0);  // untouched by every failure
  // Numbers are read as strtod reads them, hex included.
  ASSERT_TRUE(parseDsaa("DSAA 1 1 0 1 0 1 0 0 0x1.8p1", grid));
  EXPECT_EQ(grid.node(0, 0), 3.0);
}

// The file reader reports every row and stops when asked, leaving the grid as it was (the writer,
// and the reader of text held whole, are checked on large grids with the thread counts).
TEST_F(DsaaFiles, ReadsReportRowsAndStopWhenAsked) {
  ASSERT_TRUE(writeDsaa(testing::constantGrid(3, 5, 1.0), path("a.grd")));
  std::vector<std::int64_t> rows;
  Grid loaded;
  ASSERT_TRUE(readDsaa(path("a.grd"), loaded, [&rows](std::int64_t done, std::int64_t total) {
    EXPECT_EQ(total, 5);
    rows.push_back(done);
    return true;
  }));
  EXPECT_EQ(rows, (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
  const RowProgress stopAtTwo = [](std::int64_t done, std::int64_t) { return done < 2; };
  Grid kept = testing::constantGrid(2, 2, 9.0);
  EXPECT_EQ(readDsaa(path("a.grd"), kept, stopAtTwo).status, DsaaStatus::Cancelled);
  EXPECT_EQ(kept.nx(), 2);
  EXPECT_EQ(kept.node(0, 0), 9.0);
}

TEST_F(DsaaFiles, FailedSavesLeaveNothingBehind) {
  const Grid grid = testing::makeGrid(2, 2, 0, 1, 0, 1, [](double x, double y) { return x + y; });
  EXPECT_FALSE(writeDsaa(grid, path("missing/a.grd")));
  EXPECT_FALSE(fs::exists(path("missing")));
  EXPECT_EQ(entryCount(), 0u);

  EXPECT_FALSE(writeDsaa(Grid(), path("empty.grd")));
  EXPECT_EQ(entryCount(), 0u);

  // A failed save over an existing file keeps the old file.
  ASSERT_TRUE(writeDsaa(grid, path("keep.grd")));
  const std::string before = fileText("keep.grd");
  EXPECT_FALSE(writeDsaa(Grid(), path("keep.grd")));
  EXPECT_EQ(fileText("keep.grd"), before);
  fs::create_directory(path("dir.grd"));
  EXPECT_FALSE(writeDsaa(grid, path("dir.grd")));
  EXPECT_EQ(entryCount(), 2u);

  // Saves through a link replace the file it names and keep the link and the file's mode.
  fs::permissions(path("keep.grd"), fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("keep.grd", path("link.grd"));
  ASSERT_TRUE(writeDsaa(testing::constantGrid(2, 2, 7.0), path("link.grd")));
  EXPECT_TRUE(fs::is_symlink(path("link.grd")));
  EXPECT_NE(fileText("keep.grd"), before);
  EXPECT_EQ(fs::status(path("keep.grd")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(entryCount(), 3u);
}

TEST_F(DsaaFiles, AGdalGridReadsComputesAndWritesBackWithItsBlanks) {
  Grid grid;
  ASSERT_TRUE(readDsaa(kFixture, grid));
  ASSERT_EQ(testing::countsOf(grid), std::pair(12, 9));
  EXPECT_EQ(grid.left, cstrtod("37.127616666667", nullptr));
  EXPECT_EQ(grid.top, cstrtod("55.770883333334", nullptr));
  int blanks = 0;
  testing::forEachNode(grid, [&](int i, int j, double, double) {
    EXPECT_EQ(isBlank(grid.node(i, j)), fixtureBlank(i, j)) << i << "," << j;
    blanks += fixtureBlank(i, j);
  });
  ASSERT_EQ(blanks, 20);
  EXPECT_EQ(grid.node(3, 0), 187.5);
  // The range GDAL gives in the header is the range MIN and MAX find.
  EXPECT_EQ(std::pair(minimum(grid), maximum(grid)), std::pair(120.53, 310.55));
  EXPECT_EQ(testing::zRangeOf(grid), std::pair(120.53, 310.55));

  // Feet to metres keeps every blank blank.
  ErrorSink sink;
  const Grid metres = combine(grid, 0.3048, BinaryOp::Multiply, false, sink);
  EXPECT_DOUBLE_EQ(metres.zmin, 120.53 * 0.3048);
  EXPECT_DOUBLE_EQ(metres.zmax, 310.55 * 0.3048);
  ASSERT_TRUE(writeDsaa(metres, path("m.grd")));
  const std::string text = fileText("m.grd");
  // The extents go back as GDAL wrote them (they need all 14 digits), the blanks as the
  // blanking value.
  EXPECT_EQ(text.substr(0, text.find("\r\n", 12)),
            "DSAA\r\n12 9\r\n37.127616666667 37.219283333334");
  EXPECT_NE(text.find("\r\n55.704216666667 55.770883333334\r\n"), std::string::npos);
  EXPECT_EQ(occurrences(text, "1.70141e+38 "), 20u);
  EXPECT_EQ(text.find("e+37"), std::string::npos);

  Grid again;
  ASSERT_TRUE(readDsaa(path("m.grd"), again));
  EXPECT_EQ(testing::extentsOf(again), testing::extentsOf(grid));
  ASSERT_EQ(testing::countsOf(again), std::pair(12, 9));
  testing::forEachNode(again, [&](int i, int j, double, double) {
    const double expected = fixtureBlank(i, j) ? kBlankValue : grid.node(i, j) * 0.3048;
    EXPECT_NEAR(again.node(i, j), expected, 1e-9) << i << "," << j;
  });
  EXPECT_FALSE(sink.failed());
}

}  // namespace
}  // namespace vellumar::grid
