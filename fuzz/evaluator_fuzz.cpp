// Any byte string as a display text must end in a result or a message: never a crash, a hang or
// a sanitizer report. The first byte picks the settings; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"
#include "grid/Grid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // Expressions may legitimately ask for grids of hundreds of millions of nodes; a small limit
  // keeps every run fast while still reaching the paths that refuse too large a grid.
  vellumar::grid::setMostNodes(1 << 20);
  vellumar::engine::S_Calculator calc;
  calc.setAnglesInRadians((data[0] & 1) == 0);
  calc.setLanguage((data[0] & 2) ? vellumar::Language::English : vellumar::Language::Russian);
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  // Evaluate twice so that names assigned by the first run meet the second.
  for (int run = 0; run < 2; ++run) {
    vellumar::ErrorSink sink;
    calc.attachErrorSink(&sink);
    std::string display = text;
    const bool ok = calc.run(display);
    if (!ok && sink.code() == vellumar::sink_code::kNone) __builtin_trap();
  }
  return 0;
}
