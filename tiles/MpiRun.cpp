#include "tiles/MpiRun.h"

#include <mpi.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <vector>

#include "common/CFormat.h"
#include "common/CommitJournal.h"
#include "common/FileIo.h"
#include "common/SafeSave.h"
#include "grid/GridMessages.h"
#include "tiles/TileMessages.h"

namespace vellumar::tiles {

namespace {

// MPI from initialisation to finalisation. The kernels run on threads of their own, but only
// this thread calls MPI.
class MpiSession {
 public:
  MpiSession() {
    int provided = 0;
    MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided);
    MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
    MPI_Comm_size(MPI_COMM_WORLD, &size_);
  }
  ~MpiSession() { MPI_Finalize(); }
  MpiSession(const MpiSession&) = delete;
  MpiSession& operator=(const MpiSession&) = delete;
  int rank() const { return rank_; }
  int size() const { return size_; }

 private:
  int rank_ = 0;
  int size_ = 1;
};

// The number of the next tile, shared by every rank: a counter in rank 0's memory that each
// rank advances by one with an atomic fetch-and-add, which needs nothing of rank 0 but its
// memory. stop() moves it past the last tile, so that every rank stops asking.
class TileCounter {
 public:
  TileCounter(int rank, long long tiles) : tiles_(tiles) {
    MPI_Win_allocate(rank == 0 ? sizeof(long long) : 0, sizeof(long long), MPI_INFO_NULL,
                     MPI_COMM_WORLD, &counter_, &window_);
    if (rank == 0) *counter_ = 0;
    MPI_Barrier(MPI_COMM_WORLD);
    MPI_Win_lock_all(0, window_);
  }
  ~TileCounter() {
    MPI_Win_unlock_all(window_);
    MPI_Win_free(&window_);
  }
  TileCounter(const TileCounter&) = delete;
  TileCounter& operator=(const TileCounter&) = delete;

  // The next tile to evaluate; tiles or more once none is left.
  long long next() {
    const long long one = 1;
    long long taken = 0;
    MPI_Fetch_and_op(&one, &taken, MPI_LONG_LONG, 0, 0, MPI_SUM, window_);
    MPI_Win_flush(0, window_);
    return taken;
  }
  void stop() {
    long long old = 0;
    MPI_Fetch_and_op(&tiles_, &old, MPI_LONG_LONG, 0, 0, MPI_REPLACE, window_);
    MPI_Win_flush(0, window_);
  }

 private:
  long long tiles_;
  long long* counter_ = nullptr;
  MPI_Win window_{};
};

// The file beside the target where a rank other than 0 leaves its tiles, one after the other in
// the order it took them, as they are in memory: only this program reads it back, on a machine of
// the same kind. The names come from rank 0's, so that every rank of one run agrees on them, and
// a signal that ends the rank removes its file. They are hidden files of rank 0's process, so a
// file left by a rank killed outright is removed by the first save into the folder after rank 0
// has ended.
class RankTiles {
 public:
  static std::string baseName(const std::string& target, int rank) {
    std::string name;
    if (rank == 0) {
      name = hiddenPrefix(folderOf(target)) + std::filesystem::path(target).filename().string() +
             ".tiles-";
    }
    int length = static_cast<int>(name.size());
    MPI_Bcast(&length, 1, MPI_INT, 0, MPI_COMM_WORLD);
    name.resize(static_cast<std::size_t>(length));
    MPI_Bcast(name.data(), length, MPI_CHAR, 0, MPI_COMM_WORLD);
    return name;
  }

  RankTiles(const std::string& base, int rank)
      : path_(base + std::to_string(rank)), removal_(path_) {}
  ~RankTiles() {
    if (file_ != nullptr) std::fclose(file_);
    if (created_) std::remove(path_.c_str());
  }
  RankTiles(const RankTiles&) = delete;
  RankTiles& operator=(const RankTiles&) = delete;

  // Appends the tile's nodes; false when they could not be written whole.
  bool add(int index, const grid::Grid& part) {
    if (file_ == nullptr) {
      file_ = std::fopen(path_.c_str(), "wb");
      created_ = file_ != nullptr;
      if (file_ == nullptr) return false;
    }
    tiles_.push_back(index);
    return std::fwrite(part.nodes().data(), sizeof(double), part.nodeCount(), file_) ==
               part.nodeCount() &&
           std::fflush(file_) == 0;
  }
  const std::vector<int>& tiles() const { return tiles_; }

 private:
  std::string path_;
  RemovedOnSignal removal_;
  std::FILE* file_ = nullptr;
  bool created_ = false;
  std::vector<int> tiles_;
};

// Where each tile left by the other ranks lies: the rank whose file holds it and its offset
// there, in bytes; rank -1 for the tiles rank 0 wrote itself. Known to rank 0 alone.
struct TilePlace {
  int rank = -1;
  long offset = 0;
};

std::vector<TilePlace> gatherPlaces(const MpiSession& mpi, const TilePlan& plan,
                                    const std::vector<int>& mine) {
  int count = static_cast<int>(mine.size());
  std::vector<int> counts(static_cast<std::size_t>(mpi.size()));
  MPI_Gather(&count, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
  std::vector<int> starts(counts.size(), 0);
  for (std::size_t r = 1; r < counts.size(); ++r) starts[r] = starts[r - 1] + counts[r - 1];
  std::vector<int> all(mpi.rank() == 0 ? static_cast<std::size_t>(starts.back() + counts.back())
                                       : 0);
  MPI_Gatherv(mine.data(), count, MPI_INT, all.data(), counts.data(), starts.data(), MPI_INT, 0,
              MPI_COMM_WORLD);
  std::vector<TilePlace> places(mpi.rank() == 0 ? static_cast<std::size_t>(plan.count()) : 0);
  for (int r = 1; mpi.rank() == 0 && r < mpi.size(); ++r) {
    long offset = 0;
    for (int k = 0; k < counts[r]; ++k) {
      const int index = all[static_cast<std::size_t>(starts[r] + k)];
      places[static_cast<std::size_t>(index)] = {r, offset};
      offset += static_cast<long>(plan.tile(index).nodeCount() * sizeof(double));
    }
  }
  return places;
}

bool readTile(const std::string& base, const TilePlace& place, grid::Grid& part) {
  std::FILE* in = std::fopen((base + std::to_string(place.rank)).c_str(), "rb");
  if (in == nullptr) return false;
  const std::span<double> nodes = part.mutableNodes();
  const bool read = std::fseek(in, place.offset, SEEK_SET) == 0 &&
                    std::fread(nodes.data(), sizeof(double), nodes.size(), in) == nodes.size();
  std::fclose(in);
  return read;
}

TiledRunOutcome saveFailure(Language language) {
  return {3, grid::text::kSaveFailed.in(language), {}};
}

// Sends the outcome of the rank with the first failure to rank 0, and gives every rank the
// failure's exit status.
TiledRunOutcome shareFailure(const MpiSession& mpi, TiledRunOutcome outcome, int failedTile) {
  struct {
    int tile;
    int rank;
  } mine{failedTile, mpi.rank()}, first{};
  MPI_Allreduce(&mine, &first, 1, MPI_2INT, MPI_MINLOC, MPI_COMM_WORLD);
  if (first.tile == INT_MAX) return {};
  int failure = outcome.failure;
  MPI_Bcast(&failure, 1, MPI_INT, first.rank, MPI_COMM_WORLD);
  if (first.rank != 0 && (mpi.rank() == 0 || mpi.rank() == first.rank)) {
    for (std::string* text : {&outcome.message, &outcome.detail}) {
      int length = static_cast<int>(text->size());
      if (mpi.rank() == first.rank) {
        MPI_Send(&length, 1, MPI_INT, 0, 0, MPI_COMM_WORLD);
        MPI_Send(text->data(), length, MPI_CHAR, 0, 0, MPI_COMM_WORLD);
      } else {
        MPI_Recv(&length, 1, MPI_INT, first.rank, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        text->resize(static_cast<std::size_t>(length));
        MPI_Recv(text->data(), length, MPI_CHAR, first.rank, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      }
    }
  }
  outcome.failure = failure;
  return outcome;
}

// Rank 0's part after every tile is done: the other ranks' tiles copied into the GeoTIFF.
TiledRunOutcome joinTiles(const TiledEvaluation& evaluation, const std::vector<TilePlace>& places,
                          const std::string& base, formats::RasterTileWriter& writer) {
  const Language language = evaluation.language();
  for (int index = 0; index < evaluation.plan().count(); ++index) {
    const TilePlace& place = places[static_cast<std::size_t>(index)];
    if (place.rank < 0) continue;
    const grid::NodeWindow tile = evaluation.plan().tile(index);
    grid::Grid part(tile.nx, tile.ny);
    if (!readTile(base, place, part)) return saveFailure(language);
    if (const formats::RasterWrite written = writer.write(part, tile); !written) {
      return writeFailure(written, language);
    }
  }
  if (const formats::RasterWrite committed = writer.commit(); !committed) {
    return writeFailure(committed, language);
  }
  return {};
}

// Evaluates the tiles this rank takes from the counter, handing each to take; the first failure
// of any rank, by tile number, ends every rank's loop and is every rank's outcome.
TiledRunOutcome shareTiles(const MpiSession& mpi, const TiledEvaluation& evaluation,
                           std::ostream& progress, const TileTaker& take) {
  const int count = evaluation.plan().count();
  TiledRunOutcome outcome;
  int failedTile = INT_MAX;
  TileCounter counter(mpi.rank(), count);
  const memory::KeptBlocks kept = tileBlocks(evaluation.plan());
  int reported = 0;
  for (long long next = counter.next(); next < count; next = counter.next()) {
    const int index = static_cast<int>(next);
    outcome = takeTile(evaluation, index, take);
    if (!outcome.ok()) {
      failedTile = index;
      counter.stop();
      break;
    }
    // The share of the tiles handed out, each tenth once, as rank 0 sees it.
    const int tenth = static_cast<int>(10 * (next + 1) / count);
    if (mpi.rank() == 0 && tenth > reported) {
      reported = tenth;
      progress << cformat(text::kTilesHandedOut.in(evaluation.language()), 10 * tenth) << std::endl;
    }
  }
  return shareFailure(mpi, std::move(outcome), failedTile);
}

}  // namespace

TiledRunOutcome runTilesOverRanks(const TiledEvaluation& evaluation, const std::string& path,
                                  const formats::RasterWriteOptions& options,
                                  std::ostream& progress) {
  const MpiSession mpi;
  const Language language = evaluation.language();
  const std::string base = RankTiles::baseName(path, mpi.rank());
  formats::RasterTileWriter writer;
  TiledRunOutcome outcome;
  if (mpi.rank() == 0) {
    const formats::RasterWrite created =
        writer.create(path, evaluation.plan().lattice(), evaluation.georeference(), options);
    if (!created) outcome = writeFailure(created, language);
  }
  // Nobody starts when rank 0 could not start the file.
  int failure = outcome.failure;
  MPI_Bcast(&failure, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (failure == 0) {
    RankTiles mine(base, mpi.rank());
    const auto keep = [&](int index, const TileOutcome& tile) -> TiledRunOutcome {
      if (mpi.rank() != 0) {
        return mine.add(index, tile.part) ? TiledRunOutcome{} : saveFailure(language);
      }
      const formats::RasterWrite written = writer.write(tile.part, evaluation.plan().tile(index));
      return written ? TiledRunOutcome{} : writeFailure(written, language);
    };
    outcome = shareTiles(mpi, evaluation, progress, keep);
    const std::vector<TilePlace> places = gatherPlaces(mpi, evaluation.plan(), mine.tiles());
    if (mpi.rank() == 0 && outcome.ok()) outcome = joinTiles(evaluation, places, base, writer);
    // Every rank's file stays until rank 0 has read it.
    MPI_Barrier(MPI_COMM_WORLD);
  }
  // Every rank ends with rank 0's outcome.
  failure = outcome.failure;
  MPI_Bcast(&failure, 1, MPI_INT, 0, MPI_COMM_WORLD);
  outcome.failure = failure;
  return outcome;
}

TiledRunOutcome reduceTilesOverRanks(const TiledEvaluation& evaluation,
                                     std::vector<TileShare>& shares, std::ostream& progress) {
  const MpiSession mpi;
  const TiledReduction& reduction = *evaluation.reduction();
  shares.assign(static_cast<std::size_t>(evaluation.plan().count()), reduction.none());
  const auto keep = [&](int index, const TileOutcome& tile) {
    shares[static_cast<std::size_t>(index)] = tile.share;
    return TiledRunOutcome{};
  };
  TiledRunOutcome outcome = shareTiles(mpi, evaluation, progress, keep);
  // Every tile's share comes from the one rank that evaluated it: the others hold the share that
  // changes nothing, so every rank ends with every share, and combines them in tile order as one
  // process would.
  static_assert(sizeof(TileShare) == 2 * sizeof(double));
  const MPI_Op op = reduction.kind() == TiledReduction::Kind::Min   ? MPI_MIN
                    : reduction.kind() == TiledReduction::Kind::Max ? MPI_MAX
                                                                    : MPI_SUM;
  MPI_Allreduce(MPI_IN_PLACE, shares.data(), static_cast<int>(2 * shares.size()), MPI_DOUBLE, op,
                MPI_COMM_WORLD);
  return outcome;
}

}  // namespace vellumar::tiles
