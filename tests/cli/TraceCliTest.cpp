#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

// A 4 m hill on a flat plain with a 9 m summit in the middle.
constexpr const char* kHill =
    "DSAA\r\n5 5\r\n0 4\r\n0 4\r\n0 9\r\n0 0 0 0 0 \r\n0 4 4 4 0 \r\n0 4 9 4 0 \r\n"
    "0 4 4 4 0 \r\n0 0 0 0 0 \r\n";

TEST(CalcTrace, RegionsAreSavedAsPolygonFilesAndShapefiles) {
  ScratchFolder folder;
  const std::string hill = folder.write("hill.grd", kHill);
  // Below 6 m: the map's frame with the summit as a hole, numbered 1 and 2 with their levels (the
  // rings themselves are TracePolygon.PeakAndPitGiveTheRingOrTheFrameWithAHole's).
  runClean({"-g", hill, "-o", folder.path("low.pol"), "Trace(G1, 6, 2, 0)"});
  const std::string saved = folder.read("low.pol");
  EXPECT_EQ(folder.read("low.val"), "1 0 1\r\n2 6 1\r\n");
  // The file loads back as a polygon: every ring closed.
  EXPECT_EQ(runClean({"-p", folder.path("low.pol"), "MAX(P1)"}).out, "6.000000000000\n");

  // As a shapefile the region is one record of two parts; loaded back, it is the same polygon,
  // whose two rings now share the id of their record.
  runClean({"-g", hill, "-o", folder.path("low.shp"), "Trace(G1, 6, 2, 0)"});
  runClean({"--value-field", "Atribute", "-p", folder.path("low.shp"), "-o",
            folder.path("again.pol"), "P1"});
  std::string oneRecord = saved;
  oneRecord.replace(oneRecord.find("END\r\n2\r\n"), 8, "END\r\n1\r\n");
  EXPECT_EQ(folder.read("again.pol"), oneRecord);

  // An empty region is saved as an empty polygon file.
  runClean({"-g", hill, "-o", folder.path("none.pol"), "Trace(G1, 9, 1, 1)"});
  EXPECT_EQ(folder.read("none.pol"), "END\r\n");
}

}  // namespace
}  // namespace vellumar::cli::testing
