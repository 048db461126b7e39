// Speed and memory of the data subsystem: reading a large delimited file and the element-wise
// kernels behind "D1_3 + D1_4 * 2".
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "common/CFormat.h"
#include "common/ErrorSink.h"
#include "data/DataKernels.h"
#include "data/M_Data.h"
#include "engine/Calculator.h"

namespace {

using vellumar::data::DATA;
using vellumar::data::M_Data;

constexpr int kFileRows = 1'000'000;
constexpr int kFileColumns = 5;

// Removes the generated file when the program ends.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() { std::filesystem::remove(path); }
};

// A 1,000,000-row file of five numbers split by the delimiter, written line by line.
std::string writeNumericFile(const char* name, char delimiter) {
  const auto file = std::filesystem::temp_directory_path() / name;
  std::FILE* out = std::fopen(file.string().c_str(), "wb");
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> value(-999.0, 999.0);
  for (int row = 0; row < kFileRows && out; ++row) {
    std::string line;
    for (int column = 0; column < kFileColumns; ++column) {
      if (column) line += delimiter;
      line += vellumar::cformat("%.6f", value(random));
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), out);
  }
  if (out) std::fclose(out);
  return file.string();
}

const std::string& numericFile() {
  static const TemporaryFile file{writeNumericFile("vellumar-data-bench.dat", ' ')};
  return file.path;
}

// The same numbers as a comma-separated file, the delimiter whose fields may be quoted.
const std::string& commaFile() {
  static const TemporaryFile file{writeNumericFile("vellumar-data-bench.csv", ',')};
  return file.path;
}

long peakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void readNumericFile(benchmark::State& state, const std::string& path, char delimiter) {
  const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  const long before = peakKilobytes();
  long grown = -1;
  for (auto _ : state) {
    M_Data table;
    table.setOptions({delimiter, true, false});
    if (!table.ReadFile(path) || table.rowCount() != kFileRows ||
        table.columnCount() != kFileColumns) {
      state.SkipWithError("the file was not read");
      break;
    }
    if (grown < 0) grown = peakKilobytes() - before;
    benchmark::DoNotOptimize(table);
  }
  const double tableMb = 8.0 * kFileRows * kFileColumns / 1e6;
  state.counters["file_MB"] = fileMb;
  state.counters["peak_growth_MB"] = static_cast<double>(grown) * 1024 / 1e6;
  state.counters["budget_MB"] = fileMb + 2 * tableMb;
}

void BM_ReadNumericFile(benchmark::State& state) {
  readNumericFile(state, numericFile(), ' ');
}
BENCHMARK(BM_ReadNumericFile)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadCommaFile(benchmark::State& state) {
  readNumericFile(state, commaFile(), ',');
}
BENCHMARK(BM_ReadCommaFile)->Unit(benchmark::kMillisecond)->Iterations(3);

DATA column(std::size_t count, double scale, bool coordinates) {
  std::vector<double> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = scale * static_cast<double>(i % 1000);
  values[count / 2] = -9999.0;
  if (!coordinates) return DATA(std::move(values));
  std::vector<double> x(count, 1.0);
  std::vector<double> y(count, 2.0);
  return DATA(std::move(values), std::move(x), std::move(y));
}

// D1_3 + D1_4 * 2 over ten million elements: two kernels, the product handed to the sum as a
// temporary, as the evaluator hands it (one new column in all).
void BM_AddScaledColumn(benchmark::State& state) {
  constexpr std::size_t kCount = 10'000'000;
  const DATA d3 = column(kCount, 0.5, true);
  const DATA d4 = column(kCount, 1.5, true);
  for (auto _ : state) {
    vellumar::ErrorSink sink;
    DATA product =
        vellumar::data::combine(d4, 2.0, vellumar::BinaryOp::Multiply, false, -9999.0, sink);
    DATA result =
        vellumar::data::combine(d3, std::move(product), vellumar::BinaryOp::Add, -9999.0, sink);
    benchmark::DoNotOptimize(result.values().data());
  }
}
BENCHMARK(BM_AddScaledColumn)->Unit(benchmark::kMillisecond)->Iterations(10);

// The same when the intermediate result stays shared (an evaluator that keeps it in a value it
// does not hand over), so the second kernel needs a fresh column too.
void BM_AddScaledColumnShared(benchmark::State& state) {
  constexpr std::size_t kCount = 10'000'000;
  const DATA d3 = column(kCount, 0.5, true);
  const DATA d4 = column(kCount, 1.5, true);
  for (auto _ : state) {
    vellumar::ErrorSink sink;
    const DATA product =
        vellumar::data::combine(d4, 2.0, vellumar::BinaryOp::Multiply, false, -9999.0, sink);
    const DATA kept = product;
    DATA result = vellumar::data::combine(d3, kept, vellumar::BinaryOp::Add, -9999.0, sink);
    benchmark::DoNotOptimize(result.values().data());
  }
}
BENCHMARK(BM_AddScaledColumnShared)->Unit(benchmark::kMillisecond)->Iterations(10);

// ((D*2+1)*3-4)/5 over ten million elements through the evaluator: the first operator makes the
// result's column and the four after it write into that temporary, so a run alone
// (--benchmark_filter) peaks at D's three columns and one more of 80 MB, not two more.
void BM_OperatorChainThroughEvaluator(benchmark::State& state) {
  constexpr std::size_t kCount = 10'000'000;
  vellumar::engine::S_Calculator calc;
  calc.registry().findOrCreate("D").value =
      vellumar::engine::Operand::data(std::make_shared<const DATA>(column(kCount, 0.5, true)));
  for (auto _ : state) {
    vellumar::ErrorSink sink;
    calc.attachErrorSink(&sink);
    std::string text = "((D*2+1)*3-4)/5";
    if (!calc.run(text)) state.SkipWithError(text.c_str());
    calc.attachErrorSink(nullptr);
  }
}
BENCHMARK(BM_OperatorChainThroughEvaluator)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
