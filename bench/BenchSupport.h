#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"
#include "grid/Grid.h"

// What several benchmark programs share: a large smooth map and one evaluation of a text.
namespace vellumar::bench {

// An n x n map over [left, left + size] x [bottom, bottom + size], smooth at the scale of a few
// hundred nodes, as a DEM is.
inline grid::Grid wavyGrid(int n, double left, double bottom, double size) {
  grid::Grid rectangle;
  rectangle.left = left;
  rectangle.right = left + size;
  rectangle.bottom = bottom;
  rectangle.top = bottom + size;
  rectangle.rectangleFlag = 1;
  grid::NodeVector values(static_cast<std::size_t>(n) * n);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      values[static_cast<std::size_t>(j) * n + i] =
          1000.0 * std::sin(0.013 * i) * std::cos(0.017 * j) + 0.37 * i - 0.11 * j;
    }
  }
  return grid::Grid(n, n, rectangle, std::move(values));
}

// Evaluates text with a fresh sink; true on success.
inline bool evaluate(engine::S_Calculator& calc, const std::string& text) {
  ErrorSink sink;
  calc.attachErrorSink(&sink);
  std::string display = text;
  const bool ok = calc.run(display);
  calc.attachErrorSink(nullptr);
  return ok;
}

}  // namespace vellumar::bench
