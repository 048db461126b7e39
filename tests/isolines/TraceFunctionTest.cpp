#include <gtest/gtest.h>

#include <memory>

#include "TraceTestSupport.h"
#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "engine/ResultText.h"

namespace vellumar::engine {
namespace {

using isolines::testing::gridOf;
using isolines::testing::RecordingProgress;

// A calculator holding a peak as G1 and a flat map as G2.
class TraceFunction : public isolines::testing::CalculatorTest {
 protected:
  void SetUp() override {
    const auto peak = [](double x, double y) { return 10 - x * x - y * y; };
    put("G1", gridOf(31, 31, -3, 3, -3, 3, peak));
    put("G2", gridOf(5, 5, 0, 4, 0, 4, [](double, double) { return 3.0; }));
  }

  geometry::Cover resultLines() {
    geometry::Cover cover;
    EXPECT_EQ(calc_.result().kind(), Kind::Lines);
    unpackOperand(calc_.result(), cover);
    return cover;
  }
};

TEST_F(TraceFunction, ArgumentsAreCheckedInOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"Trace(5, 0, 10, 1, 1)", "Trace: недопустимый тип аргумента 1"},
      {"Trace(G1, G1, 10, 1, 1)", "Trace: недопустимый тип аргумента 2"},
      {"Trace(G1, 0, 10, 1, G1)", "Trace: недопустимый тип аргумента 5"},
      {"Trace(G1, 11, 10, 0, 0)", "Trace: недопустимое значение аргумента 2"},
      {"Trace(G1, 0, 10, 0, 0)", "Trace: недопустимое значение аргумента 4"},
      {"Trace(G1, 0, 10, -1, 1)", "Trace: недопустимое значение аргумента 4"},
      {"Trace(G1, 0, 10, 1, 0)", "Trace: недопустимое значение аргумента 5"},
      {"Trace(G1, 0, 10, 1, -2)", "Trace: недопустимое значение аргумента 5"},
      {"Trace(G1, 0, 1e300, 1e-300, 1)", "Trace: ошибка исполнения функции!"},
      {"Trace(G1, 0, 10, 1, 1e9)", "недостаточно памяти для вычисления!"},
  };
  expectFailures(cases);
  calc_.setLanguage(Language::English);
  EXPECT_EQ(evaluate("Trace(G1, 0, 10, 1, 0)").text, "Trace: invalid value of argument 5");
}

TEST_F(TraceFunction, ResultsAreLinesCarryingTheirLevels) {
  const Outcome outcome = evaluate("Trace(G1, 2, 9, 3, 2)");
  ASSERT_TRUE(outcome.ok) << outcome.text;
  EXPECT_EQ(outcome.text, "Результат - линии - готов !");
  const geometry::Cover cover = resultLines();
  ASSERT_EQ(cover.size(), 3u);
  // Closed and clockwise around the peak, as the driver's own test checks them.
  for (std::size_t k = 0; k < cover.size(); ++k) EXPECT_EQ(cover[k].value, 2.0 + 3.0 * k);
  // Lines combine with numbers like any lines operand.
  ASSERT_TRUE(evaluate("MAX(Trace(G1, 2, 9, 3, 1))").ok);
  EXPECT_EQ(calc_.result().numberValue(), 8.0);
  // A flat map, or levels above the map, give an empty lines result.
  ASSERT_TRUE(evaluate("Trace(G2, 0, 10, 1, 1)").ok);
  EXPECT_TRUE(resultLines().empty());
  ASSERT_TRUE(evaluate("Trace(G1, 20, 30, 1, 1)").ok);
  EXPECT_TRUE(resultLines().empty());
  // A single level.
  ASSERT_TRUE(evaluate("Trace(G1, 5, 5, 1, 1)").ok);
  EXPECT_EQ(resultLines().size(), 1u);
}

TEST_F(TraceFunction, ProgressIsShownAndCancelFailsTheEvaluation) {
  RecordingProgress shown;
  ASSERT_TRUE(evaluate("Trace(G1, 2, 9, 3, 1)", &shown).ok);
  EXPECT_EQ(shown.captions,
            (std::vector<std::string>{"Подготовка данных...", "Трассировка изолиний"}));

  RecordingProgress cancelling(30);
  const Outcome outcome = evaluate("Iso = Trace(G1, 2, 9, 3, 1)", &cancelling);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.text, "Вычисление прервано");
  // The failed statement stored no lines.
  const Calc_ID* entry = calc_.registry().find("Iso");
  EXPECT_TRUE(entry == nullptr || entry->value.kind() != Kind::Lines);
}

}  // namespace
}  // namespace vellumar::engine
