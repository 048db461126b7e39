#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"
#include "engine/ResultText.h"

namespace vellumar::engine::testing {

// The outcome of one press of "Расчет": success with the message-line text of the result, or
// failure with the error message.
struct Outcome {
  bool ok;
  std::string text;
};

inline Outcome evaluate(S_Calculator& calc, const std::string& display) {
  ErrorSink sink;
  calc.attachErrorSink(&sink);
  std::string text = display;
  const bool ok = calc.run(text);
  calc.attachErrorSink(nullptr);
  if (ok) return {true, resultText(calc.result(), calc.language())};
  return {false, text};
}

// Evaluates on a fresh calculator.
inline Outcome evaluate(const std::string& display) {
  S_Calculator calc;
  return evaluate(calc, display);
}

// Expects the display to fail with exactly that message.
inline void expectFailure(const std::string& display, const std::string& message) {
  const Outcome outcome = evaluate(display);
  EXPECT_FALSE(outcome.ok) << display;
  EXPECT_EQ(outcome.text, message) << display;
}

inline double numberOf(S_Calculator& calc, const std::string& display) {
  const Outcome outcome = evaluate(calc, display);
  EXPECT_TRUE(outcome.ok) << display << " -> " << outcome.text;
  return calc.result().numberValue();
}

inline double numberOf(const std::string& display) {
  S_Calculator calc;
  return numberOf(calc, display);
}

}  // namespace vellumar::engine::testing
