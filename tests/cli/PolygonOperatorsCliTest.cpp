#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CalcRunner.h"
#include "common/CFormat.h"

namespace vellumar::cli::testing {
namespace {

// A record of a polygon file: the square [x0, x1] x [y0, y1] with the id.
std::string squareFile(int id, double x0, double y0, double x1, double y1) {
  return cformat("%d\r\n%g %g\r\n%g %g\r\n%g %g\r\n%g %g\r\n%g %g\r\nEND\r\n", id, x0, y0, x1, y0,
                 x1, y1, x0, y1, x0, y0);
}

TEST(CalcPolygonOperators, ToleranceMessagesAndMemory) {
  ScratchFolder folder;
  const std::string a = folder.write("a.pol", squareFile(1, 0, 0, 2, 2) + "END\r\n");
  folder.write("a.val", "1 5\r\n");
  const std::string b = folder.write("b.pol", squareFile(4, 1, 1, 3, 3) + "END\r\n");
  folder.write("b.val", "4 7\r\n");
  // The number of rings a clean run of the arguments (the expression last) saves as name.
  const auto savedRings = [&](const std::string& name, std::vector<std::string> arguments) {
    arguments.insert(arguments.end() - 1, {"-o", folder.path(name)});
    runClean(arguments);
    const std::string saved = folder.read(name);
    int ends = 0;  // of each ring, and of the file
    for (std::size_t at = 0; (at = saved.find("END\r\n", at)) != std::string::npos; at += 5) ++ends;
    return ends - 1;
  };
  // 0.5 apart: separate in km, one ring in m.
  const std::string beside =
      folder.write("beside.pol", squareFile(3, 3.5, -10, 13.5, 13) + "END\r\n");
  EXPECT_EQ(savedRings("km.pol", {"-p", b, "-p", beside, "P1 + P2"}), 2);
  EXPECT_EQ(savedRings("m.pol", {"--meters", "-p", b, "-p", beside, "P1 + P2"}), 1);

  // Crossing rings of two records are records that overlap: message 7 with the operand's
  // position and the two records named, nothing saved.
  const std::string crossing = folder.write(
      "cross.pol", squareFile(1, 0, 0, 2, 1) + squareFile(2, 1, 0.5, 3, 3) + "END\r\n");
  folder.write("cross.val", "1 0\r\n2 0\r\n");
  EXPECT_EQ(runCalc({"-p", a, "-p", crossing, "-o", folder.path("no.pol"), "P1 + P2"}).outcome(),
            "1: Сложение: недопустимое значение аргумента 2\nобъекты 1 и 2 перекрываются\n");
  EXPECT_EQ(runCalc({"--english", "-p", crossing, "-p", a, "P1 - P2"}).outcome(),
            "1: Subtraction: invalid value of argument 1\nrecords 1 and 2 overlap\n");
  EXPECT_EQ(folder.read("no.pol"), "");

  // GEOS builds the overlay of a ring of 300,000 vertices with itself in some 400 MB of small
  // pieces, and turns a refused allocation into a failure of its own (then tries its older
  // overlay): it is still the memory's.
  const std::string round =
      folder.write("round.pol", ringFile(300000, 0, 0, [](double) { return 1000.0; }));
  const RunSetup limited{.environment = {{"VELLUMAR_MEMORY_LIMIT", "150M"}}};
  EXPECT_THAT(runCalc({"--english", "-p", round, "Area(P1 * P1)"}, limited).all(),
              ::testing::FieldsAre(
                  1, "", ::testing::HasSubstr("not enough memory for the calculation!\n")));
}

}  // namespace
}  // namespace vellumar::cli::testing
