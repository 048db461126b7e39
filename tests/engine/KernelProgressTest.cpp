// Long grid and data operations through the evaluator: they show a caption and a percentage,
// stop at the first cancel point after the user cancels, and operators build their results in
// the place of temporaries, never of named values.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "../grid/GridTestSupport.h"
#include "EvaluationHelpers.h"
#include "engine/Operators.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

using grid::testing::nodesOf;
using testing::evaluate;

using Observer = testing::Recorder;

// G1: 401 x 301 nodes of x*y + x; G2 the same rectangle, coarser; D1 the nodes of G1 as points.
void defineOperands(S_Calculator& calc) {
  const testing::Outcome outcome = evaluate(
      calc,
      "G1 = XG(0, 40, 0, 30, 0.1, 0.1) * YG(0, 40, 0, 30, 0.1, 0.1) + XG(0, 40, 0, 30, 0.1, 0.1);"
      "G2 = Dense(G1, 0.5); D1 = G_D(G1); 0");
  ASSERT_TRUE(outcome.ok) << outcome.text;
}

TEST(KernelProgress, LongOperationsShowAPercentageAndStopOnCancel) {
  S_Calculator calc;
  defineOperands(calc);
  const struct {
    const char* display;
    const char* caption;
  } cases[] = {
      {"Dense(G1, 2)", "Расчет грида..."},   {"G1 * 2 + 1", "Расчет грида..."},
      {"Sqrt(G1 + 1)", "Расчет грида..."},   {"G1 + G2", "Расчет грида..."},
      {"Dxx(G1)", "Расчет грида..."},        {"Spec(G1, 3)", "Расчет грида..."},
      {"Merge(G1, G2)", "Расчет грида..."},  {"Cut(G1, 2, 400, 2, 300)", "Расчет грида..."},
      {"D1 * 2 - 1", "Расчет данных..."},    {"D1 + G1", "Расчет данных..."},
      {"C_G_D(D1, G1)", "Расчет данных..."}, {"G_D(G1)", "Расчет данных..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.display);
    const testing::Outcome plain = evaluate(calc, c.display);
    ASSERT_TRUE(plain.ok) << plain.text;

    Observer full;
    const testing::Outcome complete = evaluate(calc, c.display, &full);
    EXPECT_TRUE(complete.ok) << complete.text;
    EXPECT_EQ(complete.text, plain.text);
    ASSERT_FALSE(full.steps.empty());
    EXPECT_EQ(full.starts.front().first, c.caption);
    EXPECT_GT(full.starts.back().second, 0);  // the window shows a percentage

    Observer cancelling(1);
    const testing::Outcome cancelled = evaluate(calc, c.display, &cancelling);
    EXPECT_FALSE(cancelled.ok);
    EXPECT_EQ(cancelled.text, "Вычисление прервано");
    // The operation stopped at its first cancel point: nothing was asked after the cancel.
    EXPECT_EQ(cancelling.steps.size(), 1u);
  }
}

// The values of a data operand's column.
std::vector<double> columnOf(const Operand& operand) {
  return {operand.points().values().begin(), operand.points().values().end()};
}

// a v + b, element by element.
std::vector<double> scaled(std::vector<double> v, double a, double b) {
  for (double& x : v) x = x * a + b;
  return v;
}

TEST(KernelProgress, OperatorsWriteIntoTemporariesOnly) {
  S_Calculator calc;
  defineOperands(calc);
  ErrorSink sink;
  calc.attachErrorSink(&sink);
  const Operand d1 = calc.registry().find("D1")->value;
  const std::vector<double> column = columnOf(d1);

  // ((D1*2+1)*3-4)/5: one new column, made by the first operator; the others write into it.
  Operand chain = multiply(calc, d1, Operand::number(2.0));
  const double* storage = chain.points().values().data();
  EXPECT_NE(storage, d1.points().values().data());
  chain = add(calc, std::move(chain), Operand::number(1.0));
  chain = multiply(calc, std::move(chain), Operand::number(3.0));
  chain = subtract(calc, std::move(chain), Operand::number(4.0));
  chain = divide(calc, std::move(chain), Operand::number(5.0));
  ASSERT_FALSE(sink.failed());
  EXPECT_EQ(chain.points().values().data(), storage);
  ASSERT_EQ(chain.points().values().size(), column.size());
  for (std::size_t k = 0; k < column.size(); ++k) {
    ASSERT_DOUBLE_EQ(chain.points().values()[k], ((column[k] * 2 + 1) * 3 - 4) / 5);
  }
  // The named column is unchanged, in the registry and in the copy.
  EXPECT_EQ(columnOf(calc.registry().find("D1")->value), column);

  // G1*2+1: one new grid.
  const Operand g1 = calc.registry().find("G1")->value;
  const std::vector<double> nodes = nodesOf(*g1.gridValue());
  Operand grid = multiply(calc, g1, Operand::number(2.0));
  const double* gridStorage = grid.gridValue()->nodes().data();
  grid = add(calc, std::move(grid), Operand::number(1.0));
  EXPECT_EQ(grid.gridValue()->nodes().data(), gridStorage);
  EXPECT_EQ(nodesOf(*calc.registry().find("G1")->value.gridValue()), nodes);
  // A temporary someone else still holds is copied, never changed.
  const Operand kept = grid;
  const Operand more = add(calc, grid, Operand::number(1.0));
  EXPECT_NE(more.gridValue()->nodes().data(), gridStorage);
  EXPECT_EQ(nodesOf(*kept.gridValue()), nodesOf(*grid.gridValue()));
  calc.attachErrorSink(nullptr);

  // Through the evaluator: a value assigned inside an expression is named, so the operator
  // around it leaves it alone.
  ASSERT_TRUE(evaluate(calc, "K = (H = G1 * 2) + 1; L = (E = D1 * 2) - 1; 0").ok);
  EXPECT_EQ(nodesOf(*calc.registry().find("H")->value.gridValue()), scaled(nodes, 2, 0));
  EXPECT_EQ(nodesOf(*calc.registry().find("K")->value.gridValue()), scaled(nodes, 2, 1));
  EXPECT_EQ(columnOf(calc.registry().find("E")->value), scaled(column, 2, 0));
  EXPECT_EQ(columnOf(calc.registry().find("L")->value), scaled(column, 2, -1));
}

}  // namespace
}  // namespace vellumar::engine
