#include "tiles/TiledRun.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "common/Memory.h"
#include "grid/GridMessages.h"

namespace vellumar::tiles {

namespace {

// The first of the variables that is set, as a number; fallback when none is.
int environmentNumber(std::initializer_list<const char*> names, int fallback) {
  for (const char* name : names) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
      return std::atoi(value);
    }
  }
  return fallback;
}

}  // namespace

LaunchRanks launchRanks() {
  return {environmentNumber({"OMPI_COMM_WORLD_RANK", "PMI_RANK", "PMIX_RANK"}, 0),
          environmentNumber({"OMPI_COMM_WORLD_SIZE", "PMI_SIZE"}, 1)};
}

TiledRunOutcome writeFailure(const formats::RasterWrite& written, Language language) {
  TiledRunOutcome outcome;
  outcome.failure = 3;
  outcome.message = grid::text::kSaveFailed.in(language);
  outcome.detail = written.libraryError;
  return outcome;
}

TiledRunOutcome takeTile(const TiledEvaluation& evaluation, int index, const TileTaker& take) {
  TileOutcome tile = evaluation.evaluate(index);
  memory::giveBackFreePages();
  if (!tile.ok) return {tile.failure, std::move(tile.message), std::move(tile.detail)};
  return take(index, tile);
}

memory::KeptBlocks tileBlocks(const TilePlan& plan) {
  // A tile holds a few arrays of its window's size at once: the windows of its inputs, their
  // spline coefficients, the intermediate results and its part of the result.
  constexpr std::uint64_t kArraysKept = 8;
  const grid::NodeWindow first = plan.tile(0);
  const auto side = static_cast<std::uint64_t>(std::max(first.nx, first.ny) + 2 * kHaloNodes + 2);
  return memory::KeptBlocks(kArraysKept * side * side * sizeof(double));
}

TiledRunOutcome forEachTile(const TiledEvaluation& evaluation, const TileTaker& take,
                            const TileProgress& progress) {
  const int count = evaluation.plan().count();
  const memory::KeptBlocks kept = tileBlocks(evaluation.plan());
  for (int index = 0; index < count; ++index) {
    if (TiledRunOutcome taken = takeTile(evaluation, index, take); !taken.ok()) return taken;
    if (progress) progress(index + 1, count);
  }
  return {};
}

TiledRunOutcome runTiles(const TiledEvaluation& evaluation, const std::string& path,
                         const formats::RasterWriteOptions& options, const TileProgress& progress) {
  const Language language = evaluation.language();
  formats::RasterTileWriter writer;
  if (const formats::RasterWrite created =
          writer.create(path, evaluation.plan().lattice(), evaluation.georeference(), options);
      !created) {
    return writeFailure(created, language);
  }
  const auto write = [&](int index, const TileOutcome& tile) -> TiledRunOutcome {
    const formats::RasterWrite written = writer.write(tile.part, evaluation.plan().tile(index));
    return written ? TiledRunOutcome{} : writeFailure(written, language);
  };
  if (TiledRunOutcome outcome = forEachTile(evaluation, write, progress); !outcome.ok()) {
    return outcome;
  }
  if (const formats::RasterWrite committed = writer.commit(); !committed) {
    return writeFailure(committed, language);
  }
  return {};
}

TiledRunOutcome reduceTiles(const TiledEvaluation& evaluation, std::vector<TileShare>& shares,
                            const TileProgress& progress) {
  shares.assign(static_cast<std::size_t>(evaluation.plan().count()),
                evaluation.reduction()->none());
  const auto keep = [&](int index, const TileOutcome& tile) {
    shares[static_cast<std::size_t>(index)] = tile.share;
    return TiledRunOutcome{};
  };
  return forEachTile(evaluation, keep, progress);
}

}  // namespace vellumar::tiles
