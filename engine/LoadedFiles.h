#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "engine/Calculator.h"
#include "engine/FileStatus.h"

namespace vellumar::engine {

// The operand files loaded into a calculator, by kind: their paths in load order (entry i is the
// operand numbered i + 1: G1, C2, P3), which refuse a second load of a path and let a save over a
// loaded file replace its operand, and the projection of the shapefiles loaded so far. Operands
// are registered under their generated names with their source path. Every change happens
// between evaluations (asserted in debug builds).
class LoadedFiles {
 public:
  explicit LoadedFiles(S_Calculator& calc) : calc_(calc) {}

  const std::vector<std::string>& paths(FileKind kind) const;
  bool isLoaded(FileKind kind, const std::string& path) const;
  // Registers operand as the next of its kind, loaded from path.
  void add(FileKind kind, const std::string& path, Operand operand);
  // Closing a list window: the next load of the kind is numbered 1 again; operands stay.
  void closeList(FileKind kind);
  // Re-registers a saved result when path is a loaded file of the kind.
  void refresh(FileKind kind, const std::string& path, const Operand& result);
  // Registers an operand under name, with the path it was loaded from (empty for none).
  void registerOperand(const std::string& name, const std::string& path, Operand operand);

  // Notes the .prj of a shapefile just loaded for sessionProjection.
  void noteProjection(const std::string& path);
  // That of the shapefiles loaded so far when every one that carried a .prj carried the same
  // bytes; empty when none carried one or two differed.
  const std::string& sessionProjection() const;
  // The first .prj noted, even when a later one differed.
  const std::string& firstProjection() const { return projection_; }

  // The generated name of the n-th (1-based) operand of a kind: "G1", "C2", "P3".
  static std::string operandName(FileKind kind, std::size_t number);
  // Every change of the workspace or of its operands happens between evaluations (debug check).
  void assertNoEvaluation() const { calc_.registry().assertNoOtherEvaluation(); }

 private:
  std::vector<std::string>& pathsOf(FileKind kind) { return paths_[static_cast<int>(kind)]; }

  S_Calculator& calc_;
  std::array<std::vector<std::string>, 3> paths_;
  std::string projection_;
  bool projectionsDiffer_ = false;
};

}  // namespace vellumar::engine
