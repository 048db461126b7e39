#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

using ::testing::HasSubstr;

TEST(CalcEvaluation, ArgumentsStandardInputAndDisplayFilesPrintEachResultAsTheMessageLine) {
  EXPECT_EQ(runCalc({"2+3*4", "-e", "x = 0", "--eval=x - 1e13"}).all(),
            std::tuple(0, "14.000000000000\n0.000000000000E+00\n-1.000000000000E+13\n", ""));
  // A failure stops the run with its message and status 1.
  EXPECT_EQ(runCalc({"1", "Sqrt(-1", "2"}).all(),
            std::tuple(1, "1.000000000000\n", "Sqrt: пропущена ')'!\n"));
  // Standard input goes on after an error.
  EXPECT_EQ(runCalc({}, {.input = "a = 2\r\n1/0\n\na * 3\n"}).all(),
            std::tuple(1, "2.000000000000\n6.000000000000\n", ": деление на 0!\n"));
  // A byte order mark is skipped (those of files are the text reader's own tests).
  EXPECT_EQ(runCalc({}, {.input = std::string("\xEF\xBB\xBF") + "2*3\n4+4\n"}).all(),
            std::tuple(0, "6.000000000000\n8.000000000000\n", ""));
  EXPECT_EQ(runCalc({}, {.input = "\xE3\xEB = 3\n\xE3\xEB * 2\n"}).out,
            "3.000000000000\n6.000000000000\n");
  // Standard input that cannot be read is a failure.
  ScratchFolder folder;
  const RunSetup fromFolder{.inputPath = folder.root()};
  EXPECT_EQ(runCalc({}, fromFolder).outcome(), "2: Ошибка чтения стандартного ввода!\n");
  EXPECT_EQ(runCalc({"--english", "-o", folder.path("x.grd")}, fromFolder).outcome(),
            "2: Cannot read standard input!\n");
  // Display files store line breaks as CR CR LF; old ones may be CP1251 (decoded as the display
  // file reader's own tests show).
  const std::string file = folder.write("sheet.ctb", "\xE3\xEB = 3;\r\r\n\xE3\xEB * 2\r\r\n");
  EXPECT_EQ(runClean({"-f", file}).out, "6.000000000000\n");
  EXPECT_EQ(runCalc({"-f", folder.path("none.ctb")}).outcome(),
            "3: Нельзя открыть файл содержимого табло!\n");
}

TEST(CalcCommandLine, RefusedArgumentsEndWithStatusTwoAndTheOthersRun) {
  // The first line of standard error names what was refused (the usage text may follow).
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--frobnicate", "1"}, "unknown option --frobnicate"},
      {{"1", "-e"}, "option -e needs a value"},
      {{"--threads", "0", "1"}, "'0'"},
      {{"--threads=x", "1"}, "'x'"},
      {{"--type", "Float65", "1"}, "'Float65'"},
      {{"--co", "COMPRESS", "1"}, "'COMPRESS'"},
      {{"--band", "two", "1"}, "'two'"},
      {{"--delimiter", "semicolons", "1"}, "'semicolons'"},
      {{"--each", "G1", "1"}, "'G1'"},
  };
  for (const auto& [arguments, words] : cases) {
    SCOPED_TRACE(arguments[0]);
    const auto run = runCalc(arguments);
    EXPECT_EQ(std::tie(run.status, run.out), std::tuple(2, ""));
    EXPECT_NE(run.err.substr(0, run.err.find('\n')).find(words), std::string::npos) << run.err;
  }
  // Help, version, and what only looks like an option.
  EXPECT_THAT(runClean({"--help"}).out,
              ::testing::AllOf(HasSubstr("Usage: vellumar-calc"), HasSubstr("  --  ")));
  EXPECT_EQ(runClean({"--version"}).out.rfind("vellumar-calc ", 0), 0u);
  EXPECT_EQ(runClean({"--threads=3", "1+1"}).out, "2.000000000000\n");
  // A leading minus sign starts an expression, not an option; "-e" after "--" is the constant
  // e, not the option that wants a text.
  EXPECT_EQ(runCalc({"-2+3"}).out, "-5.000000000000\n");
  EXPECT_THAT(runCalc({"--", "-e", "--degrees"}).all(),
              ::testing::FieldsAre(1, "-2.718281828459\n", ::testing::Not(::testing::IsEmpty())));
}

}  // namespace
}  // namespace vellumar::cli::testing
