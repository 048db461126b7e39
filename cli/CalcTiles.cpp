// The run of vellumar-calc by tiles (--tiles N): a grid result evaluated window by window.
#include <unistd.h>

#include <memory>
#include <optional>

#include "cli/CalcSession.h"
#include "common/CFormat.h"
#include "engine/EngineMessages.h"
#include "engine/ResultText.h"
#include "formats/RasterWindows.h"
#include "tiles/TileMessages.h"
#include "tiles/TiledRun.h"
#ifdef VELLUMAR_MPI
#include "tiles/MpiRun.h"
#endif

namespace vellumar::cli {

int CalcSession::tiledText(std::string& text) {
  int expressions = 0;
  for (const Action& action : options_.actions) {
    if (action.type == Action::Type::Evaluate) {
      text = action.argument;
      ++expressions;
    } else if (action.type == Action::Type::EvaluateFile) {
      if (const MessageText* failure = engine::readDisplayText(action.argument, text)) {
        reportFileError(failure->in(calc_.language()));
        return exit_status::kFileFailed;
      }
      ++expressions;
    }
  }
  if (expressions != 1) {
    err_ << tiles::text::kOneExpression.in(calc_.language()) << '\n';
    return exit_status::kUsage;
  }
  return exit_status::kSuccess;
}

int CalcSession::loadTileInputs(std::vector<tiles::TiledEvaluation::Input>& inputs) {
  for (const Action& action : options_.actions) {
    const bool windows =
        action.type == Action::Type::LoadGrid && formats::readsAsRaster(action.argument);
    std::shared_ptr<formats::RasterWindowReader> reader;
    engine::FileStatus status =
        windows ? workspace_.checkNotLoaded(engine::FileKind::Grid, action.argument)
                : loadOperand(action);
    if (windows && status.ok) {
      reader = std::make_shared<formats::RasterWindowReader>();
      status = workspace_.openGridWindows(action.argument, action.band, *reader);
    }
    if (const int reported = reportLoad(status); reported != exit_status::kSuccess) {
      return reported;
    }
    if (action.type != Action::Type::LoadGrid) continue;
    if (windows) {
      // The name stands for a grid without nodes until each tile puts its window there.
      auto placeholder = std::make_shared<grid::Grid>();
      placeholder->name = action.argument;
      workspace_.addLoaded(engine::FileKind::Grid, action.argument,
                           engine::Operand::grid(std::move(placeholder)));
    }
    const std::string name = engine::Workspace::operandName(
        engine::FileKind::Grid, workspace_.loadedPaths(engine::FileKind::Grid).size());
    // A DSAA grid has no windowed reader: it was read whole, as a load reads it.
    inputs.push_back(
        {name,
         windows ? tiles::TileInput::ofRaster(std::move(reader))
                 : tiles::TileInput::ofGrid(calc_.registry().find(name)->value.sharedGrid()),
         {}});
  }
  return exit_status::kSuccess;
}

int CalcSession::runTiled() {
  const Language language = calc_.language();
  std::string text;
  if (const int status = tiledText(text); status != exit_status::kSuccess) return status;
  // Lines, polygons and data load as usual; a text that uses them is refused below.
  std::vector<tiles::TiledEvaluation::Input> inputs;
  if (const int status = loadTileInputs(inputs); status != exit_status::kSuccess) return status;
  const tiles::TiledEvaluation evaluation(calc_, std::move(inputs), options_.tiles, text);
  if (!evaluation.refusal().empty()) {
    err_ << evaluation.refusal() << '\n';
    return exit_status::kEvaluationFailed;
  }
  const bool reduces = evaluation.reduction().has_value();
  if (!reduces && !formats::RasterTileWriter::writes(options_.outputPath)) {
    err_ << tiles::text::kWritesGeoTiff.in(language) << '\n';
    return exit_status::kUsage;
  }
  std::vector<tiles::TileShare> shares;
  const tiles::TiledRunOutcome outcome =
      reduces ? reduceTiles(evaluation, shares) : writeTiles(evaluation);
  if (!outcome.ok()) {
    err_ << outcome.message << '\n';
    if (!outcome.detail.empty()) err_ << outcome.detail << '\n';
    return outcome.failure;
  }
  if (!reduces) {
    out_ << engine::resultText(engine::Operand::grid(std::make_shared<grid::Grid>()), language)
         << '\n';
    return exit_status::kSuccess;
  }
  const std::optional<double> value = evaluation.reduction()->combine(shares);
  if (!value) {
    err_ << evaluation.reduction()->noValues(language) << '\n';
    return exit_status::kEvaluationFailed;
  }
  // A number, as the whole evaluation would give it: printed, and never saved.
  currentResult_ = engine::Operand::number(*value);
  evaluatedAny_ = true;
  out_ << engine::resultText(currentResult_, language) << '\n';
  return finish(true);
}

tiles::TiledRunOutcome CalcSession::writeTiles(const tiles::TiledEvaluation& evaluation) {
  const formats::RasterWriteOptions written{options_.creationOptions, options_.dataType, 0};
  if (tiles::launchRanks().size == 1) {
    return tiles::runTiles(evaluation, options_.outputPath, written, tileProgress());
  }
#ifdef VELLUMAR_MPI
  return tiles::runTilesOverRanks(evaluation, options_.outputPath, written, err_);
#else
  return noMpi();
#endif
}

tiles::TiledRunOutcome CalcSession::reduceTiles(const tiles::TiledEvaluation& evaluation,
                                                std::vector<tiles::TileShare>& shares) {
  if (tiles::launchRanks().size == 1) {
    return tiles::reduceTiles(evaluation, shares, tileProgress());
  }
#ifdef VELLUMAR_MPI
  return tiles::reduceTilesOverRanks(evaluation, shares, err_);
#else
  return noMpi();
#endif
}

tiles::TileProgress CalcSession::tileProgress() {
  // Someone watching a terminal hears how far a long run is, each tenth once; a script's
  // standard error keeps the messages alone.
  if (isatty(STDERR_FILENO) == 0) return {};
  return [this, reported = 0](int done, int total) mutable {
    const int tenth = 10 * done / total;
    if (tenth <= reported) return;
    reported = tenth;
    err_ << cformat(tiles::text::kTilesDone.in(calc_.language()), 10 * tenth) << std::endl;
  };
}

tiles::TiledRunOutcome CalcSession::noMpi() const {
  return {exit_status::kUsage, tiles::text::kNoMpi.in(calc_.language()), {}};
}

}  // namespace vellumar::cli
