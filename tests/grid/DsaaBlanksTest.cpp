#include <gtest/gtest.h>

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "GridTestSupport.h"
#include "common/ErrorSink.h"
#include "grid/DsaaFile.h"
#include "grid/GridArithmetic.h"

namespace vellumar::grid {
namespace {

namespace fs = std::filesystem;

// A grid written by GDAL's DSAA driver from a GeoTIFF with no-data margins: 12 x 9 nodes,
// 14-digit extents, no-data nodes as 1.70141e+38, ten values to a line.
const std::string kFixture = std::string(VELLUMAR_TEST_DATA) + "/gdal_blanks.grd";

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

double parsed(const char* text) {
  double v = 0.0;
  std::from_chars(text, text + std::char_traits<char>::length(text), v);
  return v;
}

std::size_t occurrences(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

// The fixture's blank nodes, as the file lays them out (its margins and one hole).
bool fixtureBlank(int i, int j) {
  return i + j < 3 || (i >= 10 && j < 4) || (j == 8 && i < 5) || (i == 6 && j == 4);
}

TEST(DsaaBlanks, AGdalGridReadsComputesAndWritesBackWithItsBlanks) {
  Grid grid;
  ASSERT_TRUE(readDsaa(kFixture, grid));
  ASSERT_EQ(testing::countsOf(grid), std::pair(12, 9));
  EXPECT_EQ(grid.left, parsed("37.127616666667"));
  EXPECT_EQ(grid.top, parsed("55.770883333334"));
  int blanks = 0;
  for (int j = 0; j < 9; ++j) {
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(isBlank(grid.node(i, j)), fixtureBlank(i, j)) << i << "," << j;
      blanks += fixtureBlank(i, j);
    }
  }
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
  const std::string path =
      (fs::temp_directory_path() / ("vellumar-dsaa-blanks-" + std::to_string(::getpid()) + ".grd"))
          .string();
  ASSERT_TRUE(writeDsaa(metres, path));
  const std::string text = fileText(path);
  // The extents go back as GDAL wrote them (they need all 14 digits), the blanks as the
  // blanking value.
  EXPECT_EQ(text.substr(0, text.find("\r\n", 12)),
            "DSAA\r\n12 9\r\n37.127616666667 37.219283333334");
  EXPECT_NE(text.find("\r\n55.704216666667 55.770883333334\r\n"), std::string::npos);
  EXPECT_EQ(occurrences(text, "1.70141e+38 "), 20u);
  EXPECT_EQ(text.find("e+37"), std::string::npos);

  Grid again;
  ASSERT_TRUE(readDsaa(path, again));
  fs::remove(path);
  EXPECT_EQ(testing::extentsOf(again), testing::extentsOf(grid));
  EXPECT_TRUE(again.sameLattice(grid));
  for (int j = 0; j < 9; ++j) {
    for (int i = 0; i < 12; ++i) {
      if (fixtureBlank(i, j)) {
        EXPECT_EQ(again.node(i, j), kBlankValue);
        continue;
      }
      EXPECT_NEAR(again.node(i, j), grid.node(i, j) * 0.3048, 1e-9) << i << "," << j;
    }
  }
  // Read back, it is node for node the computed grid: same lattice, no resampling.
  const Grid difference = combine(again, metres, BinaryOp::Subtract, sink);
  EXPECT_EQ(testing::countsOf(difference), std::pair(12, 9));
  EXPECT_LT(std::max(std::abs(difference.zmin), std::abs(difference.zmax)), 1e-9);
  EXPECT_FALSE(sink.failed());
}

TEST(DsaaBlanks, ExtentsReadBackExactlyAndBlanksAreWrittenAsTheBlankingValue) {
  Grid grid = testing::makeGrid(3, 2, 0.1, 1.0 / 3.0 + 1.0, -1e-20, 100.25,
                                [](double x, double) { return x; });
  grid.setNode(0, 0, std::numeric_limits<double>::quiet_NaN());
  grid.setNode(1, 0, 5e38);
  grid.setNode(2, 0, 1.0 / 3.0);
  grid.zmin = 1.0 / 3.0;
  grid.zmax = 2.0;
  const std::string text = formatDsaa(grid);
  // 12 digits where they suffice, the fewest that read back otherwise; the z-range and the nodes
  // keep 12.
  EXPECT_EQ(text.substr(0, text.find("\r\n1.70141")),
            "DSAA\r\n3 2\r\n0.1 1.3333333333333333\r\n-1e-20 100.25\r\n0.333333333333 2");
  EXPECT_NE(text.find("\r\n1.70141e+38 1.70141e+38 0.333333333333 \r\n"), std::string::npos);
  Grid loaded;
  ASSERT_TRUE(parseDsaa(text, loaded));
  EXPECT_EQ(loaded.right, grid.right);
  EXPECT_EQ(loaded.bottom, grid.bottom);
  EXPECT_EQ(loaded.node(0, 0), kBlankValue);
  EXPECT_EQ(loaded.node(1, 0), kBlankValue);
}

}  // namespace
}  // namespace vellumar::grid
