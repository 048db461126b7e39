#include <gtest/gtest.h>

#include <cmath>

#include "CalcRunner.h"

namespace vellumar::cli {
namespace {

using testing::runCalc;
using testing::runClean;
using testing::ScratchFolder;

// z = 1 + x + 3y on a 3 x 3 lattice over [0, 2]^2.
constexpr const char* kPlane = "DSAA\r\n3 3\r\n0 2\r\n0 2\r\n1 9\r\n1 2 3 \r\n4 5 6 \r\n7 8 9 \r\n";

// The node values of a DSAA file, after its five header lines (DSAA, nx ny, the four extents
// and the z-range).
std::vector<double> nodeValues(const std::string& text) {
  return testing::numbersIn(text, 9);
}

TEST(CalcGridFunctions, ConstructedGridsAreSavedAsDsaa) {
  ScratchFolder folder;
  const auto run = runClean({"-o", folder.path("ones.grd"), "EG(0, 2.4, 0, 1, 1, 1)"});
  EXPECT_EQ(run.out, "Результат - карта - готов !\n");
  EXPECT_EQ(folder.read("ones.grd"), "DSAA\r\n3 2\r\n0 2\r\n0 1\r\n1 1\r\n1 1 1 \r\n1 1 1 \r\n");
  runClean({"-o", folder.path("x.grd"), "XG(100, 120, 0, 10, 10, 10)"});
  EXPECT_EQ(folder.read("x.grd"),
            "DSAA\r\n3 2\r\n100 120\r\n0 10\r\n100 120\r\n100 110 120 \r\n100 110 120 \r\n");
}

TEST(CalcGridFunctions, SlopeAndCutOfALoadedGrid) {
  ScratchFolder folder;
  const std::string plane = folder.write("plane.grd", kPlane);
  runClean({"-g", plane, "-o", folder.path("slope.grd"), "Spec(G1, 1)"});
  const std::vector<double> values = nodeValues(folder.read("slope.grd"));
  ASSERT_EQ(values.size(), 9u);
  for (const double v : values) EXPECT_NEAR(v, std::sqrt(10.0), 1e-9);

  runClean({"-g", plane, "-o", folder.path("cut.grd"), "Cut(G1, 2, 3, 1, 3)"});
  EXPECT_EQ(folder.read("cut.grd"), "DSAA\r\n2 3\r\n1 2\r\n0 2\r\n2 9\r\n2 3 \r\n5 6 \r\n8 9 \r\n");

  EXPECT_EQ(runCalc({"-g", plane, "--english", "Cut(G1, 3, 3, 1, 3)"}).outcome(),
            "1: : invalid argument value!\n");
}

}  // namespace
}  // namespace vellumar::cli
