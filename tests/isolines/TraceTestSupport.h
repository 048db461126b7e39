#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"
#include "engine/ResultText.h"
#include "geometry/Geometry.h"
#include "grid/Grid.h"

namespace vellumar::isolines::testing {

// A grid of nx x ny nodes over [left, right] x [bottom, top] holding f at its nodes.
inline grid::Grid gridOf(int nx, int ny, double left, double right, double bottom, double top,
                         const std::function<double(double, double)>& f,
                         grid::Interpolation mode = grid::Interpolation::Spline) {
  grid::Grid g(nx, ny);
  g.left = left, g.right = right, g.bottom = bottom, g.top = top, g.rectangleFlag = 1;
  g.setMode(mode);
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) g.setNode(i, j, f(g.nodeX(i), g.nodeY(j)));
  }
  return g;
}

// A lattice of nx x ny nodes at unit spacing from (0, 0), values given bottom row first.
inline grid::Grid latticeOf(int nx, int ny, grid::NodeVector values) {
  grid::Grid frame;
  frame.right = nx - 1;
  frame.top = ny - 1;
  return grid::Grid::fromNodes(nx, ny, frame, std::move(values));
}

inline std::vector<std::pair<double, double>> coordinates(const geometry::Line& line) {
  std::vector<std::pair<double, double>> out;
  for (const geometry::Point& p : line.points()) out.emplace_back(p.x, p.y);
  return out;
}

// Whether, at the middle of every segment, the surface is higher a little to the right of the
// line than a little to its left.
inline bool higherOnTheRight(const geometry::Line& line, const grid::Grid& map, double offset) {
  for (std::size_t k = 0; k + 1 < line.size(); ++k) {
    const double dx = line[k + 1].x - line[k].x;
    const double dy = line[k + 1].y - line[k].y;
    const double length = std::hypot(dx, dy);
    if (length < 4 * offset) continue;
    const double mx = (line[k].x + line[k + 1].x) / 2, my = (line[k].y + line[k + 1].y) / 2;
    const double nx = dy / length * offset, ny = -dx / length * offset;
    if (!(map.value(mx + nx, my + ny) > map.value(mx - nx, my - ny))) return false;
  }
  return true;
}

// Records what a long kernel shows and cancels at the given step call (0: never).
class RecordingProgress : public ProgressObserver {
 public:
  explicit RecordingProgress(int cancelAt = 0) : cancelAt_(cancelAt) {}
  void start(std::string_view caption, std::int64_t total) override {
    captions.emplace_back(caption);
    totals.push_back(total);
    last.push_back(0);
  }
  bool step(std::int64_t done) override {
    last.back() = done;
    return ++steps != cancelAt_;
  }
  void close() override { ++closes; }

  std::vector<std::string> captions;
  std::vector<std::int64_t> totals;
  std::vector<std::int64_t> last;  // the last step reported under each caption
  int steps = 0;
  int closes = 0;

 private:
  int cancelAt_;
};

// A calculator evaluating displays as the window does, with maps put under names.
class CalculatorTest : public ::testing::Test {
 protected:
  struct Outcome {
    bool ok;
    std::string text;
  };

  void put(const std::string& name, grid::Grid grid) {
    calc_.registry().findOrCreate(name).value =
        engine::Operand::grid(std::make_shared<const grid::Grid>(std::move(grid)));
  }

  // Success with the message-line text of the result, or failure with the error message.
  Outcome evaluate(const std::string& display, ProgressObserver* progress = nullptr) {
    ErrorSink sink(progress);
    calc_.attachErrorSink(&sink);
    std::string text = display;
    const bool ok = calc_.run(text);
    calc_.attachErrorSink(nullptr);
    return {ok, ok ? engine::resultText(calc_.result(), calc_.language()) : text};
  }

  // Expects every display to fail with its message.
  void expectFailures(std::span<const std::pair<const char*, const char*>> cases) {
    for (const auto& [display, message] : cases) {
      const Outcome outcome = evaluate(display);
      EXPECT_FALSE(outcome.ok) << display;
      EXPECT_EQ(outcome.text, message) << display;
    }
  }

  engine::S_Calculator calc_;
};

}  // namespace vellumar::isolines::testing
