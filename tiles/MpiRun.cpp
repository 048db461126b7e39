#include "tiles/MpiRun.h"

#include <mpi.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
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

// The file beside the target where a rank other than 0 leaves its tiles for rank 0, one after
// the other in the order it finished them, as they are in memory: only this program reads it back,
// on a machine of the same kind. The names come from rank 0's, so that every rank of one run agrees
// on them, and a signal that ends the rank removes its file. They are hidden files of rank 0's
// process, so a file left by a rank killed outright is removed by the first save into the folder
// after rank 0 has ended.
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

  // Appends the tile's nodes, flushed for rank 0 to read; their offset in the file, or nullopt
  // when they could not be written whole.
  std::optional<long long> add(const grid::Grid& part) {
    if (file_ == nullptr) {
      file_ = std::fopen(path_.c_str(), "wb");
      created_ = file_ != nullptr;
      if (file_ == nullptr) return std::nullopt;
    }
    const long long offset = size_;
    if (std::fwrite(part.nodes().data(), sizeof(double), part.nodeCount(), file_) !=
            part.nodeCount() ||
        std::fflush(file_) != 0) {
      return std::nullopt;
    }
    size_ += static_cast<long long>(part.nodeCount() * sizeof(double));
    return offset;
  }

 private:
  std::string path_;
  RemovedOnSignal removal_;
  std::FILE* file_ = nullptr;
  bool created_ = false;
  long long size_ = 0;
};

// What a rank tells rank 0 when it has left a tile in its file: the tile and its offset there;
// tile -1 once the rank has taken its last tile. Small enough to go at once (MPI's eager send).
struct TileNotice {
  long long tile = -1;
  long long offset = 0;
};
constexpr int kNoticeTag = 1;

void tellRankZero(const TileNotice& notice) {
  MPI_Send(&notice, 2, MPI_LONG_LONG, 0, kNoticeTag, MPI_COMM_WORLD);
}

TiledRunOutcome saveFailure(Language language) {
  return {3, grid::text::kSaveFailed.in(language), {}};
}

// Rank 0's writer of the GeoTIFF: its own tiles as they are done, and between them the tiles the
// other ranks have left in their files since, so that those go into the file while the ranks
// compute and little is left to copy once the last tile is done.
class TileJoiner {
 public:
  TileJoiner(const TiledEvaluation& evaluation, const std::string& base,
             formats::RasterTileWriter& writer, int ranks)
      : evaluation_(evaluation),
        base_(base),
        writer_(writer),
        files_(static_cast<std::size_t>(ranks), nullptr),
        ranksTaking_(ranks - 1) {}
  ~TileJoiner() {
    for (std::FILE* file : files_) {
      if (file != nullptr) std::fclose(file);
    }
  }
  TileJoiner(const TileJoiner&) = delete;
  TileJoiner& operator=(const TileJoiner&) = delete;

  // Writes a tile into the GeoTIFF; the first failure stays the joiner's.
  TiledRunOutcome write(int index, const grid::Grid& part) {
    if (!failed_.ok()) return failed_;
    if (const formats::RasterWrite written = writer_.write(part, evaluation_.plan().tile(index));
        !written) {
      failed_ = writeFailure(written, evaluation_.language());
      return failed_;
    }
    ++written_;
    return {};
  }

  // Copies in the tiles the notices that have come tell of; with wait, every tile until each
  // other rank has taken its last one. After a failure the notices are still taken, so that every
  // rank can finish, but nothing more is copied.
  TiledRunOutcome join(bool wait) {
    while (ranksTaking_ > 0) {
      MPI_Status status;
      int arrived = 1;
      if (wait) {
        MPI_Probe(MPI_ANY_SOURCE, kNoticeTag, MPI_COMM_WORLD, &status);
      } else {
        MPI_Iprobe(MPI_ANY_SOURCE, kNoticeTag, MPI_COMM_WORLD, &arrived, &status);
      }
      if (arrived == 0) break;
      TileNotice notice;
      MPI_Recv(&notice, 2, MPI_LONG_LONG, status.MPI_SOURCE, kNoticeTag, MPI_COMM_WORLD,
               MPI_STATUS_IGNORE);
      if (notice.tile < 0) {
        --ranksTaking_;
      } else if (failed_.ok()) {
        copy(status.MPI_SOURCE, notice);
      }
    }
    return failed_;
  }

  // Closes the GeoTIFF under the target's name, once every tile is in it.
  TiledRunOutcome commit() {
    if (written_ < evaluation_.plan().count()) return saveFailure(evaluation_.language());
    if (const formats::RasterWrite committed = writer_.commit(); !committed) {
      return writeFailure(committed, evaluation_.language());
    }
    return {};
  }

 private:
  void copy(int rank, const TileNotice& notice) {
    const int index = static_cast<int>(notice.tile);
    const grid::NodeWindow tile = evaluation_.plan().tile(index);
    // One grid takes every copied tile in turn: the tiles are mostly of one size, so its pages are
    // faulted in once rather than for every tile.
    if (part_.nx() != tile.nx || part_.ny() != tile.ny) part_.reinitialiseUnset(tile.nx, tile.ny);
    std::FILE* in = fileOf(rank);
    const std::span<double> nodes = part_.mutableNodes();
    const bool read = in != nullptr &&
                      fseeko(in, static_cast<off_t>(notice.offset), SEEK_SET) == 0 &&
                      std::fread(nodes.data(), sizeof(double), nodes.size(), in) == nodes.size();
    if (!read) {
      failed_ = saveFailure(evaluation_.language());
      return;
    }
    write(index, part_);
  }

  // The file of a rank's tiles, opened at its first notice and kept open for the next ones.
  std::FILE* fileOf(int rank) {
    std::FILE*& file = files_[static_cast<std::size_t>(rank)];
    if (file == nullptr) file = std::fopen((base_ + std::to_string(rank)).c_str(), "rb");
    return file;
  }

  const TiledEvaluation& evaluation_;
  const std::string& base_;
  formats::RasterTileWriter& writer_;
  std::vector<std::FILE*> files_;  // by rank; nullptr until its first notice
  grid::Grid part_;                // the tile being copied
  TiledRunOutcome failed_;
  int written_ = 0;
  int ranksTaking_;
};

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

// What came of one rank's tiles: its first failure and the tile it came with (INT_MAX for none).
struct RankOutcome {
  TiledRunOutcome outcome;
  int failedTile = INT_MAX;
};

// Evaluates the tiles this rank takes from the counter, handing each to take; a failure stops
// every rank from taking more.
RankOutcome takeTiles(const MpiSession& mpi, const TiledEvaluation& evaluation,
                      std::ostream& progress, const TileTaker& take) {
  const int count = evaluation.plan().count();
  TileCounter counter(mpi.rank(), count);
  const memory::KeptBlocks kept = tileBlocks(evaluation.plan());
  int reported = 0;
  for (long long next = counter.next(); next < count; next = counter.next()) {
    const int index = static_cast<int>(next);
    if (TiledRunOutcome outcome = takeTile(evaluation, index, take); !outcome.ok()) {
      counter.stop();
      return {std::move(outcome), index};
    }
    // The share of the tiles handed out, each tenth once, as rank 0 sees it.
    const int tenth = static_cast<int>(10 * (next + 1) / count);
    if (mpi.rank() == 0 && tenth > reported) {
      reported = tenth;
      progress << cformat(text::kTilesHandedOut.in(evaluation.language()), 10 * tenth) << std::endl;
    }
  }
  return {};
}

// Rank 0's share of a run that writes: its own tiles and the others' into the GeoTIFF, then the
// file under the target's name.
TiledRunOutcome writeAsRankZero(const MpiSession& mpi, const TiledEvaluation& evaluation,
                                const std::string& base, formats::RasterTileWriter& writer,
                                std::ostream& progress) {
  TileJoiner joiner(evaluation, base, writer, mpi.size());
  const auto write = [&](int index, const TileOutcome& tile) -> TiledRunOutcome {
    if (TiledRunOutcome own = joiner.write(index, tile.part); !own.ok()) return own;
    return joiner.join(false);
  };
  RankOutcome taken = takeTiles(mpi, evaluation, progress, write);
  if (TiledRunOutcome rest = joiner.join(true); taken.outcome.ok() && !rest.ok()) {
    taken = {std::move(rest), evaluation.plan().count()};
  }
  TiledRunOutcome outcome = shareFailure(mpi, std::move(taken.outcome), taken.failedTile);
  if (outcome.ok()) outcome = joiner.commit();
  // The other ranks' files stay until rank 0 has read them.
  MPI_Barrier(MPI_COMM_WORLD);
  return outcome;
}

// The share of any other rank: its tiles left in its file, each told to rank 0.
TiledRunOutcome leaveForRankZero(const MpiSession& mpi, const TiledEvaluation& evaluation,
                                 const std::string& base, std::ostream& progress) {
  RankTiles mine(base, mpi.rank());
  const auto leave = [&](int index, const TileOutcome& tile) -> TiledRunOutcome {
    const std::optional<long long> offset = mine.add(tile.part);
    if (!offset) return saveFailure(evaluation.language());
    tellRankZero({index, *offset});
    return {};
  };
  RankOutcome taken = takeTiles(mpi, evaluation, progress, leave);
  tellRankZero({});
  TiledRunOutcome outcome = shareFailure(mpi, std::move(taken.outcome), taken.failedTile);
  // The file stays until rank 0 has read it.
  MPI_Barrier(MPI_COMM_WORLD);
  return outcome;
}

}  // namespace

TiledRunOutcome runTilesOverRanks(const TiledEvaluation& evaluation, const std::string& path,
                                  const formats::RasterWriteOptions& options,
                                  std::ostream& progress) {
  const MpiSession mpi;
  const std::string base = RankTiles::baseName(path, mpi.rank());
  formats::RasterTileWriter writer;
  TiledRunOutcome outcome;
  if (mpi.rank() == 0) {
    const formats::RasterWrite created =
        writer.create(path, evaluation.plan().lattice(), evaluation.georeference(), options);
    if (!created) outcome = writeFailure(created, evaluation.language());
  }
  // Nobody starts when rank 0 could not start the file.
  int failure = outcome.failure;
  MPI_Bcast(&failure, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (failure == 0) {
    outcome = mpi.rank() == 0 ? writeAsRankZero(mpi, evaluation, base, writer, progress)
                              : leaveForRankZero(mpi, evaluation, base, progress);
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
  RankOutcome taken = takeTiles(mpi, evaluation, progress, keep);
  TiledRunOutcome outcome = shareFailure(mpi, std::move(taken.outcome), taken.failedTile);
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
