#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli {
namespace {

using testing::runCalc;
using testing::runClean;
using testing::ScratchFolder;

// z = 1 + x + 3y on 5 x 5 nodes over [0, 4]^2.
constexpr const char* kPlane =
    "DSAA\r\n5 5\r\n0 4\r\n0 4\r\n1 17\r\n1 2 3 4 5 \r\n4 5 6 7 8 \r\n7 8 9 10 11 \r\n"
    "10 11 12 13 14 \r\n13 14 15 16 17 \r\n";
// The square 0.5..3.5 with the hole 1.5..2.5: area 8, centroid (2, 2).
constexpr const char* kFrame =
    "1\r\n0.5 0.5\r\n3.5 0.5\r\n3.5 3.5\r\n0.5 3.5\r\n0.5 0.5\r\nEND\r\n"
    "2\r\n1.5 1.5\r\n1.5 2.5\r\n2.5 2.5\r\n2.5 1.5\r\n1.5 1.5\r\nEND\r\nEND\r\n";

TEST(CalcPolygonFunctions, MeasuresReductionsAndTheIntegral) {
  ScratchFolder folder;
  const std::string map = folder.write("plane.grd", kPlane);
  const std::string frame = folder.write("frame.pol", kFrame);
  const std::string wells = folder.write("wells.dat", "1 1 5\r\n2 2 7\r\n3 3.2 13\r\n4 4 9\r\n");
  const std::string road = folder.write("road.con", "7\r\n0 1\r\n4 1\r\nEND\r\nEND\r\n");
  std::vector<std::string> arguments = {"-g", map, "-p", frame, "-d", wells, "-l", road};
  for (const char* expression : {"Integral(G1, P1) / Area(P1)", "Area(P1)", "Len(P1)", "Area(G1)",
                                 "MIN(G1, P1)", "MAX(G1, P1)", "Sum(D1_3, P1)", "Len(D1_3, P1)",
                                 "MAX(In_P(D1_3, P1))", "Len(C1, P1)", "Len(G1)", "Len(G1, P1)"}) {
    arguments.push_back(expression);
  }
  const auto run = runCalc(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<double> v = testing::numbersIn(run.out);
  ASSERT_EQ(v.size(), 12u) << run.out;
  EXPECT_NEAR(v[0], 9.0, 1e-9);  // the plane at the centroid
  EXPECT_EQ(std::vector<double>(v.begin() + 1, v.end()),
            (std::vector<double>{8, 16, 16, 5, 13, 18, 2, 13, 3, 16, 0}));
}

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

TEST(CalcPolygonFunctions, MasksAndFlagsAreSaved) {
  ScratchFolder folder;
  const std::string map = folder.write("plane.grd", kPlane);
  const std::string frame = folder.write("frame.pol", kFrame);
  runClean({"-g", map, "-p", frame, "-o", folder.path("in.grd"), "In_P(G1, P1)"});
  EXPECT_EQ(folder.read("in.grd"),
            "DSAA\r\n5 5\r\n0 4\r\n0 4\r\n0 13\r\n0 0 0 0 0 \r\n0 5 6 7 0 \r\n0 8 0 10 0 \r\n"
            "0 11 12 13 0 \r\n0 0 0 0 0 \r\n");
  const auto flags = runClean({"-g", map, "-p", frame, "-o", folder.path("flags.dat"),
                               "Sum(IO_P(G1, P1))", "Sum(Out(G1, P1))", "IO_P(G1, P1)"});
  // Nine nodes lie in the frame's rectangle; the middle one is in the hole.
  EXPECT_EQ(flags.out, "8.000000000000\n17.000000000000\nРезультат - данные - готов !\n");
  EXPECT_FALSE(folder.read("flags.dat").empty());
}

}  // namespace
}  // namespace vellumar::cli
