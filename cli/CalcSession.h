#pragma once

#include <iosfwd>
#include <string>

#include "cli/CommandLine.h"
#include "engine/Calculator.h"
#include "engine/Workspace.h"
#include "tiles/TiledEvaluation.h"
#include "tiles/TiledRun.h"

namespace vellumar::cli {

// Exit statuses of vellumar-calc.
namespace exit_status {
inline constexpr int kSuccess = 0;
inline constexpr int kEvaluationFailed = 1;
inline constexpr int kUsage = 2;
inline constexpr int kFileFailed = 3;
}  // namespace exit_status

// One run of vellumar-calc: loads the operand files, evaluates the expressions in order (each one
// press of "Расчет"), prints each result line or error, saves the final result, and tells the
// exit status.
class CalcSession {
 public:
  CalcSession(const Options& options, std::ostream& out, std::ostream& err);
  int run();
  // Reads standard input line by line (with a prompt and line editing on a terminal); each line
  // is one evaluation, and a failure does not stop the session.
  int runStandardInput(bool interactive);

 private:
  int loadFiles();
  // Loads the operand file of a load action; success for any other action.
  engine::FileStatus loadOperand(const Action& action);
  // Reports a load's failure or warning; the exit status it gives.
  int reportLoad(const engine::FileStatus& status);
  engine::FileStatus loadData(const Action& action);
  int runActions();
  int saveResult();
  bool evaluate(const std::string& text);
  // The display text once per record of the --each layer; the layer with the results becomes
  // the current result. Fails only when no record succeeded.
  bool evaluateEach(const std::string& text);
  int evaluateFile(const std::string& path);
  int finish(bool evaluationsOk);
  // --tiles: loads the raster grids for reading by windows (the rest as usual), evaluates the one
  // expression tile by tile and writes the GeoTIFF.
  int runTiled();
  int loadTileInputs(std::vector<tiles::TiledEvaluation::Input>& inputs);
  // The one display text of a tiled run (an expression or a display file's text); the exit
  // status after the message when there is not one, or the file cannot be read.
  int tiledText(std::string& text);
  // The tiles evaluated in this process, or shared between the ranks of mpirun.
  tiles::TiledRunOutcome writeTiles(const tiles::TiledEvaluation& evaluation);
  tiles::TiledRunOutcome reduceTiles(const tiles::TiledEvaluation& evaluation,
                                     std::vector<tiles::TileShare>& shares);
  // The progress of a tiled run in this process, for a terminal.
  tiles::TileProgress tileProgress();
  // The refusal of an mpirun launch by a build without MPI.
  tiles::TiledRunOutcome noMpi() const;
  void reportFileError(const std::string& message);

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  engine::S_Calculator calc_;
  engine::Workspace workspace_{calc_};
  // The result of the last successful evaluation, as the window keeps it.
  engine::Operand currentResult_;
  bool evaluatedAny_ = false;
};

}  // namespace vellumar::cli
