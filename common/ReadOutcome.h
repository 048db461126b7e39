#pragma once

#include <cstdint>

namespace vellumar {

// Where in a file a reader found the fault it reports: the 1-based line, and whether the line is
// one of the value file beside a line file. Line 0 when no one line is at fault (an empty file, a
// file without rows, a fault found only at the end).
struct FaultPlace {
  std::int64_t line = 0;
  bool inValueFile = false;
};

// What a text reader gives back: its status, whose first value (0) is always Ok, and the place of
// the fault for a status that has one. True when the file was read.
template <class Status>
struct [[nodiscard]] ReadOutcome {
  Status status{};
  FaultPlace place{};
  explicit operator bool() const { return status == Status{}; }
};

}  // namespace vellumar
