#pragma once

#include <string>
#include <utility>

#include "engine/Operand.h"

namespace vellumar::engine {

// Kinds of operand files that are numbered by load order (G1, C1, P1, ...).
enum class FileKind { Grid = 0, Lines = 1, Polygon = 2 };

// The operand kind a file of a kind loads as.
inline Kind operandKind(FileKind kind) {
  switch (kind) {
    case FileKind::Grid:
      return Kind::Grid;
    case FileKind::Lines:
      return Kind::Lines;
    case FileKind::Polygon:
      return Kind::Polygon;
  }
  return Kind::Number;
}

// The outcome of loading or saving: on failure the message-box text; on success an optional
// notice (the number-result notice of a save).
struct [[nodiscard]] FileStatus {
  bool ok = true;
  std::string message;

  static FileStatus success(std::string notice = {}) { return {true, std::move(notice)}; }
  static FileStatus failure(std::string message) { return {false, std::move(message)}; }
};

}  // namespace vellumar::engine
