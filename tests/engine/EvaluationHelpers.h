#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../common/TestSupport.h"
#include "../geometry/TestShapes.h"
#include "common/ErrorSink.h"
#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "engine/ResultText.h"
#include "grid/Grid.h"

namespace vellumar::engine::testing {

// The outcome of one press of "Расчет": success with the message-line text of the result, or
// failure with the error message.
struct Outcome {
  bool ok;
  std::string text;
};

inline Outcome evaluate(S_Calculator& calc, const std::string& display,
                        ProgressObserver* progress = nullptr) {
  ErrorSink sink(progress);
  calc.attachErrorSink(&sink);
  std::string text = display;
  const bool ok = calc.run(text);
  calc.attachErrorSink(nullptr);
  if (ok) return {true, resultText(calc.result(), calc.language())};
  return {false, text};
}

// The argument checks of functions, each failing with "<function>: <check> <argument>".
inline const char* const kType = "недопустимый тип аргумента";
inline const char* const kValue = "недопустимое значение аргумента";

// Expects every display to fail with the message of the function it starts with, followed by
// the tail: "Sqrt(1, 2)" with ": пропущена ')'!" fails with "Sqrt: пропущена ')'!".
inline void expectFunctionFailures(S_Calculator& calc, const std::string& tail,
                                   std::initializer_list<std::string> displays) {
  for (const std::string& display : displays) {
    const Outcome outcome = evaluate(calc, display);
    EXPECT_FALSE(outcome.ok) << display;
    EXPECT_EQ(outcome.text, display.substr(0, display.find('(')) + tail) << display;
  }
}

// Expects every display to fail that check, at that argument, of the function it starts with.
inline void expectArgumentFailures(S_Calculator& calc, const std::string& check, int argument,
                                   std::initializer_list<std::string> displays) {
  expectFunctionFailures(calc, ": " + check + " " + std::to_string(argument), displays);
}

inline double numberOf(S_Calculator& calc, const std::string& display) {
  const Outcome outcome = evaluate(calc, display);
  EXPECT_TRUE(outcome.ok) << display << " -> " << outcome.text;
  return calc.result().numberValue();
}

inline Operand gridOperand(grid::Grid grid) {
  return Operand::grid(std::make_shared<const grid::Grid>(std::move(grid)));
}

// Data without coordinates, and data with them.
inline Operand dataOf(std::vector<double> values) {
  return Operand::data(std::make_shared<const data::DATA>(std::move(values)));
}
inline Operand dataOf(std::vector<double> values, std::vector<double> x, std::vector<double> y) {
  return Operand::data(
      std::make_shared<const data::DATA>(std::move(values), std::move(x), std::move(y)));
}

// Records every call of an evaluation, the statements it announces too; cancels at report
// number cancelAt (0: never).
class Recorder final : public ::vellumar::testing::RecordingObserver {
 public:
  using RecordingObserver::RecordingObserver;
  void statement(int index, int count) override { statements.emplace_back(index, count); }
  std::vector<std::pair<int, int>> statements;
};

// A jagged star of n vertices round (cx, cy), some 1000 across: the overlay of two of them runs
// long enough to be cancelled or run beside another.
inline geometry::Line jaggedStar(int n, double cx, double cy) {
  int k = 0;
  return geometry::test::starRing(n, cx, cy, [&k](double) {
    const double i = k++;
    return 1000 * (1 + 0.06 * std::sin(i * 12.9898) * std::cos(i * 4.1414));
  });
}

// A display and the number it evaluates to, for tables of cases.
struct NumberCase {
  const char* display;
  double value;
};

// A test with a calculator of its own, operands put into its registry as the load commands do,
// and the outcomes of displays evaluated on it.
class CalculatorTest : public ::testing::Test {
 protected:
  void put(const std::string& name, Operand value, const std::string& path = {}) {
    value.setSourcePath(path);
    calc_.registry().findOrCreate(name).value = std::move(value);
  }
  // The rings as a polygon (or lines) operand, as a load command packs them.
  void putRings(const std::string& name, std::vector<geometry::Line> rings,
                Kind kind = Kind::Polygon, bool keepIds = false) {
    put(name, packCover(geometry::test::coverOf(std::move(rings)), kind, keepIds));
  }
  // Expects each display to fail with its message.
  void expectMessages(std::initializer_list<std::pair<std::string, std::string>> cases) {
    for (const auto& [display, message] : cases) EXPECT_EQ(failure(display), message) << display;
  }
  // Expects every display to fail with the one message.
  void expectMessage(const std::string& message, std::initializer_list<std::string> displays) {
    for (const std::string& display : displays) EXPECT_EQ(failure(display), message) << display;
  }
  // The message of a display that must fail.
  std::string failure(const std::string& display) {
    const Outcome outcome = evaluate(calc_, display);
    EXPECT_FALSE(outcome.ok) << display;
    return outcome.text;
  }
  // The result of a display that must succeed, kept apart from the calculator's own.
  Operand result(const std::string& display) {
    const Outcome outcome = evaluate(calc_, display);
    EXPECT_TRUE(outcome.ok) << display << " -> " << outcome.text;
    return calc_.result();
  }
  double number(const std::string& display) { return numberOf(calc_, display); }
  // The values of a data, line or polygon result.
  std::vector<double> values(const std::string& display) {
    const Operand value = result(display);
    return {value.points().values().begin(), value.points().values().end()};
  }

  S_Calculator calc_;
};

}  // namespace vellumar::engine::testing
