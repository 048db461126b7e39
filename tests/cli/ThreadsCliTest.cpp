// Results through vellumar-calc are the same, byte for byte, whatever the number of threads: the
// kernels that run in parallel blocks on grids large enough to be cut into several blocks, with
// and without blank nodes, and the thread settings' checks.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "CalcRunner.h"
#include "common/CFormat.h"

namespace vellumar::cli::testing {
namespace {

// A wavy DSAA grid of 480 x 400 nodes over [0, 479] x [0, 399] with a disc of blank nodes, so
// that the spline is solved in runs around it.
std::string blankDiscGrid() {
  std::string text = "DSAA\r\n480 400\r\n0 479\r\n0 399\r\n-200 200\r\n";
  for (int j = 0; j < 400; ++j) {
    for (int i = 0; i < 480; ++i) {
      const double v = 120.0 * std::sin(i / 31.0) * std::cos(j / 17.0) + 0.1 * i - 0.05 * j;
      text += std::hypot(i - 300.0, j - 150.0) < 40.0 ? "1.70141e38 " : cformat("%.9g ", v);
    }
    text += "\r\n";
  }
  return text;
}

TEST(CalcThreads, EveryParallelKernelGivesTheSameBytesWhateverTheThreads) {
  ScratchFolder folder;
  const std::string grid = folder.write("disc.grd", blankDiscGrid());
  // A polygon of 400 vertices winding around the grid's centre.
  const std::string polygon = folder.write(
      "star.pol", ringFile(400, 240, 200, [](double a) { return 150 + 40 * std::sin(7 * a); }));
  folder.write("star.val", "1 1\n");
  // A grid without blanks of the same rectangle, with other node counts.
  const std::string wavy =
      "w = 100 * Sin(XG(0, 479, 0, 399, 0.8, 0.9) / 23) * Cos(YG(0, 479, 0, 399, 0.8, 0.9) / 19); ";
  const std::vector<std::string> texts = {
      "Spec(G1, 3)",                        // derivatives around blanks
      wavy + "Spec(w, 1) * 2 + 1",          // the solve without blanks, then node-wise
      wavy + "G1 + w",                      // resampled through the surface
      wavy + "G1 * Less(0, Dense(G1, 2))",  // a finer lattice, a comparison
      wavy + "Merge(G1, Cut(w, 10, 300, 20, 350))",
      wavy + "100 / w + G1 - 3",  // a number over a grid
      // the lattice mask of a polygon, and reductions over it
      wavy + "In_P(w, P1) + G1 * (MAX(G1, P1) - MIN(G1, P1))",
      wavy + "Ln(w + 60)",  // fails at the first node, in column order, below -60
  };
  for (std::size_t t = 0; t < texts.size(); ++t) {
    SCOPED_TRACE(texts[t]);
    std::vector<std::string> outputs;  // of each run: the saved grid, then what it printed
    for (const char* threads : {"1", "2", "7"}) {
      const std::string name = "r" + std::to_string(t) + "_" + threads + ".grd";
      const auto run = runCalc(
          {"--threads", threads, "-g", grid, "-p", polygon, "-o", folder.path(name), texts[t]});
      // Every text but the last makes a result worth comparing; the last fails.
      EXPECT_EQ(run.status, t + 1 < texts.size() ? 0 : 1) << threads << ": " << run.err;
      const std::string saved = run.status == 0 ? folder.read(name) : std::string();
      EXPECT_TRUE(run.status != 0 || saved.size() > 100000u) << threads;
      outputs.push_back(saved + "\n--\n" + run.outcome() + run.out);
    }
    EXPECT_EQ(outputs, std::vector<std::string>(3, outputs[0]));  // as under one thread
  }
  // A thread count that is no count is warned of and every usable core is used.
  // (A valid count says nothing: the README's runs with VELLUMAR_THREADS.)
  EXPECT_EQ(
      runCalc({"--english", "1+1"}, {.environment = {{"VELLUMAR_THREADS", "lots"}}}).outcome(),
      "0: invalid thread count VELLUMAR_THREADS=\"lots\": every usable core is used\n");
}

}  // namespace
}  // namespace vellumar::cli::testing
