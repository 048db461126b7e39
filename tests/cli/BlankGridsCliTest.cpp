#include <gtest/gtest.h>

#include <string>

#include "CalcRunner.h"

namespace vellumar::cli {
namespace {

using testing::runClean;
using testing::ScratchFolder;

// A grid written by GDAL's DSAA driver, with no-data margins and a hole (20 blank nodes).
const std::string kFixture = std::string(VELLUMAR_TEST_DATA) + "/gdal_blanks.grd";

std::size_t occurrences(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

TEST(CalcBlankGrids, AGdalGridWithBlanksComputesAndSavesThem) {
  EXPECT_EQ(runClean({"-g", kFixture, "MAX(G1)", "MIN(G1 * 0.3048)"}).out,
            "310.550000000000\n36.737544000000\n");

  ScratchFolder folder;
  runClean({"-g", kFixture, "-o", folder.path("m.grd"), "G1 * 0.3048"});
  const std::string text = folder.read("m.grd");
  EXPECT_EQ(text.substr(0, text.find("\r\n", 12)),
            "DSAA\r\n12 9\r\n37.127616666667 37.219283333334");
  EXPECT_EQ(occurrences(text, "1.70141e+38 "), 20u);
  EXPECT_EQ(occurrences(text, "e+37"), 0u);

  // The saved grid lines up with the one it came from: the difference is computed node by node.
  const auto difference = testing::numbersIn(
      runClean({"-g", kFixture, "-g", folder.path("m.grd"), "MAX(Abs(G2 - G1 * 0.3048))"}).out);
  ASSERT_EQ(difference.size(), 1u);
  EXPECT_LT(difference[0], 1e-9);
}

TEST(CalcBlankGrids, InfiniteAndNanNodesAreBlank) {
  ScratchFolder folder;
  const std::string grid =
      folder.write("inf.grd", "DSAA\n3 2\n0 2\n0 1\n1 5\n1 inf 3\n-inf 5 nan\n");
  EXPECT_EQ(runClean({"-g", grid, "MAX(G1)", "MIN(G1)"}).out, "5.000000000000\n1.000000000000\n");
  runClean({"-g", grid, "-o", folder.path("plus.grd"), "G1 + 1"});
  EXPECT_EQ(
      folder.read("plus.grd"),
      "DSAA\r\n3 2\r\n0 2\r\n0 1\r\n2 6\r\n2 1.70141e+38 4 \r\n1.70141e+38 6 1.70141e+38 \r\n");
}

}  // namespace
}  // namespace vellumar::cli
