#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli {
namespace {

using testing::runCalc;
using testing::runClean;
using testing::ScratchFolder;

std::string squareFile(int id, double x0, double y0, double x1, double y1) {
  std::ostringstream out;
  out << id << "\r\n"
      << x0 << ' ' << y0 << "\r\n"
      << x1 << ' ' << y0 << "\r\n"
      << x1 << ' ' << y1 << "\r\n"
      << x0 << ' ' << y1 << "\r\n"
      << x0 << ' ' << y0 << "\r\nEND\r\n";
  return out.str();
}

class CalcPolygonOperators : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = folder_.write("a.pol", squareFile(1, 0, 0, 2, 2) + "END\r\n");
    folder_.write("a.val", "1 5\r\n");
    b_ = folder_.write("b.pol", squareFile(4, 1, 1, 3, 3) + "END\r\n");
    folder_.write("b.val", "4 7\r\n");
  }
  // The number of rings a clean run of the arguments (the expression last) saves in the folder
  // as name.
  std::size_t savedRings(const std::string& name, std::vector<std::string> arguments) {
    arguments.insert(arguments.end() - 1, {"-o", folder_.path(name)});
    runClean(arguments);
    const auto records = testing::lineRecords(folder_.read(name));
    return static_cast<std::size_t>(
        std::count_if(records.begin(), records.end(), [](const auto& r) { return !r.empty(); }));
  }

  ScratchFolder folder_;
  std::string a_, b_;
};

TEST_F(CalcPolygonOperators, ToleranceAndMessages) {
  // 0.5 apart: separate in km, one ring in m.
  const std::string beside =
      folder_.write("beside.pol", squareFile(3, 3.5, -10, 13.5, 13) + "END\r\n");
  EXPECT_EQ(savedRings("km.pol", {"-p", b_, "-p", beside, "P1 + P2"}), 2u);
  EXPECT_EQ(savedRings("m.pol", {"--meters", "-p", b_, "-p", beside, "P1 + P2"}), 1u);

  // Crossing rings of two records are records that overlap: message 7 with the operand's
  // position and the two records named, nothing saved.
  const std::string crossing = folder_.write(
      "cross.pol", squareFile(1, 0, 0, 2, 1) + squareFile(2, 1, 0.5, 3, 3) + "END\r\n");
  folder_.write("cross.val", "1 0\r\n2 0\r\n");
  EXPECT_EQ(runCalc({"-p", a_, "-p", crossing, "-o", folder_.path("no.pol"), "P1 + P2"}).outcome(),
            "1: Сложение: недопустимое значение аргумента 2\nобъекты 1 и 2 перекрываются\n");
  EXPECT_EQ(runCalc({"--english", "-p", crossing, "-p", a_, "P1 - P2"}).outcome(),
            "1: Subtraction: invalid value of argument 1\nrecords 1 and 2 overlap\n");
  EXPECT_EQ(folder_.read("no.pol"), "");
}

TEST(CalcPolygonMemory, AnOverlayBeyondTheMemoryFailsWithTheMemoryMessage) {
  // GEOS builds the overlay of a ring of 300,000 vertices with itself in some 400 MB of small
  // pieces, and turns a refused allocation into a failure of its own (then tries its older
  // overlay): it is still the memory's.
  ScratchFolder folder;
  const std::string a =
      folder.write("a.pol", testing::ringFile(300000, 0, 0, [](double) { return 1000.0; }));
  testing::RunSetup limited;
  limited.environment = {{"VELLUMAR_MEMORY_LIMIT", "150M"}};
  const auto run = runCalc({"--english", "-p", a, "Area(P1 * P1)"}, limited);
  EXPECT_EQ(std::tie(run.status, run.out), std::tuple(1, ""));
  EXPECT_NE(run.err.find("not enough memory for the calculation!\n"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace vellumar::cli
