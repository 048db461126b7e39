#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli {
namespace {

using testing::runCalc;
using testing::ScratchFolder;

TEST(CalcPolygonFunctions, CoordinatesBeyondTheRangeRefuseTheirOperand) {
  ScratchFolder folder;
  const auto square = [](const char* c) {
    return std::string("1\n-") + c + " -" + c + "\n-" + c + " " + c + "\n" + c + " " + c + "\n" +
           c + " -" + c + "\n-" + c + " -" + c + "\nEND\nEND\n";
  };
  const auto map = [](const char* c) {
    return std::string("DSAA 4 4 -") + c + " " + c + " -" + c + " " + c + " 0 15" +
           " 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15";
  };
  const std::string near = folder.write("near.pol", square("1e300"));
  const std::string edge = folder.write("edge.con", square("1e308"));
  folder.write("near.val", "1 0\n");
  folder.write("edge.val", "1 0\n");
  const std::string wide = folder.write("wide.grd", "DSAA 2 2 -1e308 1e308 -1 1 0 1 0 1 0 1");
  const std::string g154 = folder.write("g154.grd", map("1e154"));
  const std::string g155 = folder.write("g155.grd", map("1e155"));
  const std::string big = folder.path("big.shp");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-p", near, "Area(P1)"}, "Area: недопустимое значение аргумента 1"},
      {{"-p", near, "2 + Len(P1)"}, "Len: недопустимое значение аргумента 1"},
      {{"-p", near, "-o", big, "P1 * P1"}, "Умножение: недопустимое значение аргумента 1"},
      {{"-l", edge, "Len(C1)"}, "Len: недопустимое значение аргумента 1"},
      {{"-g", wide, "Area(G1)"}, "Area: недопустимое значение аргумента 1"},
      {{"-g", wide, "Len(G1)"}, "Len: недопустимое значение аргумента 1"},
      {{"-g", g154, "Integral(G1, G_P(G1))"}, "Integral: недопустимое значение аргумента 1"},
      {{"-g", g155, "Integral(G1, G_P(G1))"}, "Integral: недопустимое значение аргумента 1"},
      {{"-g", g155, "Mean(G1, G_P(G1))"}, "Mean: недопустимое значение аргумента 1"},
  };
  for (const auto& [arguments, message] : cases) {
    EXPECT_EQ(runCalc(arguments).outcome(), "1: " + message + "\n") << arguments.back();
  }
  EXPECT_FALSE(std::filesystem::exists(big));
}

}  // namespace
}  // namespace vellumar::cli
