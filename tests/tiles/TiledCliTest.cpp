// vellumar-calc --tiles as scripts run it: alone, and under mpirun with several ranks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../common/TestSupport.h"
#include "common/FileIo.h"
#include "common/SafeSave.h"
#include "formats/RasterFile.h"
#include "grid/Grid.h"

namespace vellumar::tiles {
namespace {

// What a run printed and returned.
struct Ran {
  int status = -1;
  std::string err;
  // The exit status and standard error in one text, "1: message\n".
  std::string outcome() const { return std::to_string(status) + ": " + err; }
};

class TiledCliTest : public testing::FolderTest {
 protected:
  // Runs the program (vellumar-calc, or mpirun with its arguments) and waits for it.
  Ran run(const std::vector<std::string>& arguments) const { return finish(start(arguments)); }

  pid_t start(const std::vector<std::string>& arguments) const {
    const std::string outPath = path("out.txt"), errPath = path("err.txt");
    const pid_t child = fork();
    if (child == 0) {
      setpgid(0, 0);
      if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr))
        _exit(99);
      std::vector<char*> argv;
      for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    return child;
  }

  // Waits for a started run to end: its exit status (-1 when a signal ended it) and standard error.
  Ran finish(pid_t child) const {
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileText("err.txt")};
  }

  // A GeoTIFF over [0, n - 1] x [0, n - 1] with nodes the step apart, made by the program itself.
  void makeInput(int n, const std::string& name = "in.tif", const std::string& step = "1") const {
    const std::string side = std::to_string(n - 1);
    const std::string lattice = "(0, " + side + ", 0, " + side + ", " + step + ", " + step + ")";
    const std::string text =
        "x = XG" + lattice + "; y = YG" + lattice + "; Sin(x / 7) * Cos(y / 5) * 100 + x";
    ASSERT_EQ(run({kCalc, "-o", path(name), text}).status, 0);
  }

  // A tiled run of in.tif into out, the remaining arguments (the text last) following.
  std::vector<std::string> tiled(int size, const std::string& out,
                                 std::initializer_list<std::string> rest) const {
    std::vector<std::string> arguments = {
        kCalc, "--tiles", std::to_string(size), "-g", path("in.tif"), "-o", path(out)};
    arguments.insert(arguments.end(), rest);
    return arguments;
  }

  static std::vector<std::string> underMpi(int ranks, std::vector<std::string> calc) {
    // Open MPI refuses to start as root unless told that it is meant.
    setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
    setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
    std::vector<std::string> arguments = {"mpirun", "--oversubscribe", "-np", std::to_string(ranks),
                                          // The sanitizers' leak check would count MPI's own.
                                          "-x", "ASAN_OPTIONS=detect_leaks=0"};
    arguments.insert(arguments.end(), calc.begin(), calc.end());
    return arguments;
  }

  static bool mpiRuns() {
#ifndef VELLUMAR_MPI
    return false;
#else
    return std::system("command -v mpirun > /dev/null 2>&1") == 0;
#endif
  }

  const std::string kCalc = VELLUMAR_CALC_PATH;
};

TEST_F(TiledCliTest, TheCommandLineRefusesWhatItCannotTile) {
  makeInput(40);
  // A text that does not tile says why (the refusals are TiledEvaluationTest's), and so does a
  // tiled run the command line cannot make.
  EXPECT_EQ(run(tiled(16, "out.tif", {"G1 - MIN(G1)"})).outcome(),
            "1: --tiles: функция MIN не вычисляется по плиткам\n");
  EXPECT_EQ(run(tiled(16, "out.grd", {"--english", "G1"})).outcome(),
            "2: --tiles: the result is written as a GeoTIFF: -o FILE.tif\n");
  EXPECT_EQ(run(tiled(8, "out.tif", {"-f", path("missing.ctb")})).outcome(),
            "3: Нельзя открыть файл содержимого табло!\n");
  EXPECT_EQ(run(tiled(8, "out.tif", {"G1", "G1"})).outcome(),
            "2: --tiles: по плиткам вычисляется одно выражение\n");
  EXPECT_EQ(run({kCalc, "--tiles", "0", "G1"}).status, 2);
  const Ran refused = run({kCalc, "--tiles", "8", "--each", "P1", "G1"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err.rfind("vellumar-calc: --tiles and --each cannot be used together\n", 0),
            0u);
  EXPECT_FALSE(std::filesystem::exists(path("out.tif")));
}

TEST_F(TiledCliTest, AWindowBeyondTheMemoryGivesTheMemoryMessageAndKeepsTheTarget) {
  makeInput(1500);
  ASSERT_TRUE(writeFileAtomically(path("out.tif"), "old"));
  // One tile of the whole grid needs 18 MB for its window alone; small tiles fit.
  setenv("VELLUMAR_MEMORY_LIMIT", "12M", 1);
  EXPECT_EQ(run(tiled(1500, "out.tif", {"G1 * 2"})).outcome(),
            "1: недостаточно памяти для вычисления!\n");
  EXPECT_TRUE(fileText("out.tif") == "old");
  EXPECT_EQ(run(tiled(256, "out.tif", {"G1 * 2"})).status, 0);
  EXPECT_FALSE(fileText("out.tif") == "old");
}

TEST_F(TiledCliTest, RanksOfMpiGiveTheFileTheValueAndTheFailureOfOneProcess) {
  if (!mpiRuns()) GTEST_SKIP() << "vellumar-calc was built without MPI, or mpirun is missing";
  makeInput(61);
  // A coarser grid on the same rectangle, read through its surface at the nodes of in.tif.
  makeInput(61, "coarse.tif", "2.5");
  const std::string text = "Spec(G1, 1) * 100 + Dx(G1) - G2";
  ASSERT_EQ(run(tiled(7, "one.tif", {"-g", path("coarse.tif"), text})).status, 0);
  for (const int ranks : {2, 3}) {
    SCOPED_TRACE(ranks);
    const Ran shared =
        run(underMpi(ranks, tiled(7, "shared.tif", {"-g", path("coarse.tif"), text})));
    ASSERT_EQ(shared.status, 0) << shared.err;
    // The same nodes, bit for bit; the file's blocks may lie in another order, as GDAL's cache
    // wrote them.
    grid::Grid one, sharedGrid;
    ASSERT_TRUE(formats::readRaster(path("one.tif"), 1, one));
    ASSERT_TRUE(formats::readRaster(path("shared.tif"), 1, sharedGrid));
    ASSERT_EQ(sharedGrid.nodeCount(), one.nodeCount());
    EXPECT_EQ(std::memcmp(sharedGrid.nodes().data(), one.nodes().data(),
                          one.nodeCount() * sizeof(double)),
              0);
    EXPECT_TRUE(sharedGrid.sameLattice(one));
    // Nothing is left beside the result but the inputs and the logs.
    EXPECT_EQ(entryNames(), (std::vector<std::string>{"coarse.tif", "err.txt", "in.tif", "one.tif",
                                                      "out.txt", "shared.tif"}));
  }
  // Reductions over a rectangle across many tiles.
  ASSERT_EQ(run({kCalc, "-o", path("p.pol"), "G_P(EG(10.5, 40.2, 5.3, 50.7, 1, 1))"}).status, 0);
  for (const char* reduction :
       {"MAX(Dxy(G1) * 1000)", "Integral(Spec(G1, 1), P1)", "Mean(G1, P1)"}) {
    SCOPED_TRACE(reduction);
    const std::vector<std::string> alone = {kCalc,          "--tiles", "7",           "-g",
                                            path("in.tif"), "-p",      path("p.pol"), reduction};
    ASSERT_EQ(run(alone).status, 0);
    const std::string expected = fileText("out.txt");
    ASSERT_NE(expected, "");
    const Ran shared = run(underMpi(3, alone));
    ASSERT_EQ(shared.status, 0) << shared.err;
    EXPECT_EQ(fileText("out.txt"), expected);
  }
  // A failure on any rank is the run's, and leaves the old target.
  ASSERT_TRUE(writeFileAtomically(path("out.tif"), "old"));
  // Ln fails in the tiles where the surface goes below zero, whichever rank takes them.
  const Ran failed = run(underMpi(3, tiled(7, "out.tif", {"Ln(G1)"})));
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("недопустимое значение аргумента"), std::string::npos) << failed.err;
  EXPECT_EQ(fileText("out.tif"), "old");
}

TEST_F(TiledCliTest, AnInterruptedMpiRunLeavesTheOldTargetAndNoFilesOfItsOwn) {
  if (!mpiRuns()) GTEST_SKIP() << "vellumar-calc was built without MPI, or mpirun is missing";
  makeInput(1200);
  ASSERT_TRUE(writeFileAtomically(path("out.tif"), "old"));
  // 22,500 tiles of 8 nodes, each reading a window of 56 x 56, take many seconds; the run is
  // stopped as Ctrl-C stops it once the ranks are at work and have left tiles.
  const pid_t mpirun = start(underMpi(2, tiled(8, "out.tif", {"Spec(G1, 3)"})));
  for (int wait = 0; wait < 400 && fileText("err.txt").find("10%") == std::string::npos; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_NE(fileText("err.txt").find("10%"), std::string::npos);  // the ranks were at work
  kill(-mpirun, SIGINT);
  const Ran stopped = finish(mpirun);
  EXPECT_NE(stopped.status, 0) << stopped.err;
  EXPECT_TRUE(fileText("out.tif") == "old");
  // A rank removes its hidden files as the signal ends it. One that the launcher kills outright
  // before it could (Open MPI sends SIGKILL a second after its SIGTERM, which a loaded machine can
  // miss) leaves them to the next save into the folder, which removes the files of ended
  // processes. A rank still ending keeps its files, so the save is made again a little later until
  // the ranks have ended, a hundred times at most.
  const std::vector<std::string> left = {"err.txt", "in.tif", "later.tif", "out.tif", "out.txt"};
  for (int wait = 0; wait < 100; ++wait) {
    ASSERT_EQ(run({kCalc, "-g", path("in.tif"), "-o", path("later.tif"), "G1"}).status, 0);
    if (entryNames() == left) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_EQ(entryNames(), left);
}

}  // namespace
}  // namespace vellumar::tiles
