#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "../common/TestSupport.h"
#include "GridTestSupport.h"
#include "common/CFormat.h"
#include "common/FileIo.h"
#include "grid/DsaaFile.h"

namespace vellumar::grid {
namespace {

namespace fs = std::filesystem;

using DsaaFiles = vellumar::testing::FolderTest;

TEST_F(DsaaFiles, WritesTheDocumentedBytes) {
  Grid grid =
      testing::makeGrid(3, 2, 0.0, 2.0, -1.0, 1.0, [](double x, double y) { return x + 3 * y; });
  grid.setNode(2, 1, 1.0 / 3.0);
  grid.setNode(0, 0, 1e20);
  grid.zmin = -1.5;
  grid.zmax = 4.0;
  EXPECT_EQ(formatDsaa(grid),
            "DSAA\r\n3 2\r\n0 2\r\n-1 1\r\n-1.5 4\r\n"
            "1e+20 -2 -1 \r\n3 4 0.333333333333 \r\n");
  ASSERT_TRUE(writeDsaa(grid, path("a.grd")));
  EXPECT_EQ(fileText("a.grd"), formatDsaa(grid));
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
  EXPECT_EQ(formatDsaa(grid),
            "DSAA\r\n4 2\r\n0 3\r\n0 1\r\n-1 1\r\n1 1.70141e+38 1.70141e+38 1.70141e+38 \r\n"
            "1.70141e+38 1.70141e+38 1.70141e+38 2 \r\n");
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

TEST_F(DsaaFiles, ReadsAndWritesReportRowsAndStopWhenAsked) {
  const Grid grid =
      testing::makeGrid(3, 5, 0, 1, 0, 1, [](double x, double y) { return x + 10 * y; });
  std::vector<std::int64_t> rows;
  const RowProgress record = [&rows](std::int64_t done, std::int64_t total) {
    EXPECT_EQ(total, 5);
    rows.push_back(done);
    return true;
  };
  ASSERT_TRUE(writeDsaa(grid, path("a.grd"), record));
  EXPECT_EQ(rows, (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
  rows.clear();
  Grid loaded;
  ASSERT_TRUE(readDsaa(path("a.grd"), loaded, record));
  EXPECT_EQ(rows, (std::vector<std::int64_t>{1, 2, 3, 4, 5}));

  // Stopping after the second row: the load changes nothing, the save keeps the old file and
  // leaves no temporary file.
  const RowProgress stopAtTwo = [](std::int64_t done, std::int64_t) { return done < 2; };
  Grid kept = testing::constantGrid(2, 2, 9.0);
  EXPECT_EQ(readDsaa(path("a.grd"), kept, stopAtTwo).status, DsaaStatus::Cancelled);
  EXPECT_EQ(kept.nx(), 2);
  EXPECT_EQ(kept.node(0, 0), 9.0);
  const std::string before = fileText("a.grd");
  EXPECT_FALSE(writeDsaa(testing::constantGrid(3, 5, -1.0), path("a.grd"), stopAtTwo));
  EXPECT_EQ(fileText("a.grd"), before);
  EXPECT_EQ(entryCount(), 1u);
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

}  // namespace
}  // namespace vellumar::grid
