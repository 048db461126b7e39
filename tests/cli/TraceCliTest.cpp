#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli {
namespace {

using testing::lineRecords;
using testing::runCalc;
using testing::runClean;
using testing::ScratchFolder;

// A 4 m hill on a flat plain with a 9 m summit in the middle.
constexpr const char* kHill =
    "DSAA\r\n5 5\r\n0 4\r\n0 4\r\n0 9\r\n0 0 0 0 0 \r\n0 4 4 4 0 \r\n0 4 9 4 0 \r\n"
    "0 4 4 4 0 \r\n0 0 0 0 0 \r\n";

// Each test has a folder with the hill in it.
class CalcTrace : public ::testing::Test {
 protected:
  ScratchFolder folder_;
  const std::string hill_ = folder_.write("hill.grd", kHill);
};

TEST_F(CalcTrace, IsolinesAreSavedAsALineFileWithTheirLevels) {
  const auto run = runClean({"-g", hill_, "-o", folder_.path("iso.con"), "Trace(G1, 2, 6, 4, 1)"});
  EXPECT_EQ(run.out, "Результат - линии - готов !\n");
  const auto lines = lineRecords(folder_.read("iso.con"));
  // Two closed lines, then the final "END" (an empty run before it and after it).
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(lines[2].empty() && lines[3].empty());
  for (std::size_t k = 0; k < 2; ++k) {
    ASSERT_GE(lines[k].size(), 5u);
    EXPECT_EQ(lines[k][0], std::to_string(k + 1));  // the id
    EXPECT_EQ(lines[k][1], lines[k].back());        // closed
  }
  // The 2 m line starts on the lowest row it crosses (its direction is the tracer's own tests'),
  // written in the shortest form.
  EXPECT_EQ(lines[0][1], "0.5 1");
  EXPECT_EQ(folder_.read("iso.val"), "1 2 1\r\n2 6 1\r\n");

  // Loading the file back brings the levels with it.
  const auto back = runCalc({"-l", folder_.path("iso.con"), "MAX(C1)", "MIN(C1)"});
  EXPECT_EQ(back.out, "6.000000000000\n2.000000000000\n");
  // A failed argument check ends the run with status 1: the step of the levels is a number.
  EXPECT_EQ(runCalc({"-g", hill_, "Trace(G1, 0, 10, G1, 1)"}).outcome(),
            "1: Trace: недопустимый тип аргумента 4\n");
}

TEST_F(CalcTrace, RegionsAreSavedAsPolygonFilesAndShapefiles) {
  // Below 6 m: the map's frame with the summit as a hole.
  const auto run = runClean({"-g", hill_, "-o", folder_.path("low.pol"), "Trace(G1, 6, 2, 0)"});
  EXPECT_EQ(run.out, "Результат - полигон - готов !\n");
  const std::string saved = folder_.read("low.pol");
  const auto rings = lineRecords(saved);
  ASSERT_EQ(rings.size(), 4u);
  // The frame first, clockwise from the lower left corner, then the hole.
  EXPECT_EQ(rings[0], (std::vector<std::string>{"1", "0 0", "0 4", "4 4", "4 0", "0 0"}));
  ASSERT_GE(rings[1].size(), 5u);
  EXPECT_EQ(rings[1][1], rings[1].back());
  EXPECT_EQ(folder_.read("low.val"), "1 0 1\r\n2 6 1\r\n");
  // The file loads back as a polygon: every ring closed.
  const auto back = runClean({"-p", folder_.path("low.pol"), "MAX(P1)"});
  EXPECT_EQ(back.out, "6.000000000000\n");

  // As a shapefile the region is one record of two parts; loaded back, it is the same polygon,
  // whose two rings now share the id of their record.
  runClean({"-g", hill_, "-o", folder_.path("low.shp"), "Trace(G1, 6, 2, 0)"});
  runClean({"--value-field", "Atribute", "-p", folder_.path("low.shp"), "-o",
            folder_.path("again.pol"), "P1"});
  std::string oneRecord = saved;
  oneRecord.replace(oneRecord.find("END\r\n2\r\n"), 8, "END\r\n1\r\n");
  EXPECT_EQ(folder_.read("again.pol"), oneRecord);

  // An empty region is saved as an empty polygon file.
  runClean({"-g", hill_, "-o", folder_.path("none.pol"), "Trace(G1, 9, 1, 1)"});
  EXPECT_EQ(folder_.read("none.pol"), "END\r\n");
}

}  // namespace
}  // namespace vellumar::cli
