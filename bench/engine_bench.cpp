// Evaluator throughput and the cost of looking up large operands.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"

namespace {

using vellumar::ErrorSink;
using vellumar::engine::Operand;
using vellumar::engine::S_Calculator;

bool evaluate(S_Calculator& calc, const std::string& text) {
  ErrorSink sink;
  calc.attachErrorSink(&sink);
  std::string display = text;
  return calc.run(display);
}

// A display of 100,000 statements "x = x + 1;" (target: under 50 ms).
void BM_HundredThousandStatements(benchmark::State& state) {
  std::string display;
  for (int i = 0; i < 100000; ++i) display += "x = x + 1;";
  for (auto _ : state) {
    S_Calculator calc;
    if (!evaluate(calc, display) || calc.result().numberValue() != 100000) {
      state.SkipWithError("wrong result");
    }
  }
}
BENCHMARK(BM_HundredThousandStatements)->Unit(benchmark::kMillisecond);

// Looking up a name holding ten million data values, a thousand times: a lookup shares the
// column instead of copying 80 MB, so this stays in microseconds.
void BM_LookUpLargeOperand(benchmark::State& state) {
  S_Calculator calc;
  auto column = std::make_shared<vellumar::data::DATA>(std::vector<double>(10'000'000, 1.0));
  calc.registry().findOrCreate("big").value.assign(Operand::data(column));
  std::string display;
  for (int i = 0; i < 1000; ++i) display += "big;";
  for (auto _ : state) {
    if (!evaluate(calc, display)) state.SkipWithError("lookup failed");
  }
}
BENCHMARK(BM_LookUpLargeOperand)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
