#include "tiles/MpiRun.h"

#include <mpi.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <vector>

#include "common/CFormat.h"
#include "common/Memory.h"
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

// The folder beside the target where the ranks other than 0 leave their tiles; its name comes
// from rank 0, so that every rank of one run uses the same.
std::filesystem::path tileFolder(const std::string& target, int rank) {
  std::string name;
  if (rank == 0) {
    const std::filesystem::path path(target);
    name = (path.parent_path() /
            ("." + path.filename().string() + ".tiles-" + std::to_string(getpid())))
               .string();
  }
  int length = static_cast<int>(name.size());
  MPI_Bcast(&length, 1, MPI_INT, 0, MPI_COMM_WORLD);
  name.resize(static_cast<std::size_t>(length));
  MPI_Bcast(name.data(), length, MPI_CHAR, 0, MPI_COMM_WORLD);
  return name;
}

std::filesystem::path tileFile(const std::filesystem::path& folder, int index) {
  return folder / (std::to_string(index) + ".tile");
}

// The nodes of a tile as they are in memory: the file is only ever read back by this program,
// on this machine or one of its kind.
bool writeTileFile(const std::filesystem::path& file, const grid::Grid& part) {
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written =
      std::fwrite(part.nodes().data(), sizeof(double), part.nodeCount(), out) == part.nodeCount();
  return std::fclose(out) == 0 && written;
}

bool readTileFile(const std::filesystem::path& file, grid::Grid& part) {
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) return false;
  const std::span<double> nodes = part.mutableNodes();
  const bool read = std::fread(nodes.data(), sizeof(double), nodes.size(), in) == nodes.size();
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
TiledRunOutcome joinTiles(const TiledEvaluation& evaluation, const std::vector<bool>& own,
                          const std::filesystem::path& folder, formats::RasterTileWriter& writer) {
  const Language language = evaluation.language();
  for (int index = 0; index < evaluation.plan().count(); ++index) {
    if (own[static_cast<std::size_t>(index)]) continue;
    const grid::NodeWindow tile = evaluation.plan().tile(index);
    grid::Grid part(tile.nx, tile.ny);
    if (!readTileFile(tileFile(folder, index), part)) return saveFailure(language);
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
                           const std::string& text, std::ostream& progress, const TileTaker& take) {
  const int count = evaluation.plan().count();
  TiledRunOutcome outcome;
  int failedTile = INT_MAX;
  TileCounter counter(mpi.rank(), count);
  int reported = 0;
  for (long long next = counter.next(); next < count; next = counter.next()) {
    const int index = static_cast<int>(next);
    TileOutcome tile = evaluation.evaluate(text, index);
    memory::giveBackFreePages();
    outcome = tile.ok
                  ? take(index, tile.part)
                  : TiledRunOutcome{tile.failure, std::move(tile.message), std::move(tile.detail)};
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

TiledRunOutcome runTilesOverRanks(const TiledEvaluation& evaluation, const std::string& text,
                                  const std::string& path,
                                  const formats::RasterWriteOptions& options,
                                  std::ostream& progress) {
  const MpiSession mpi;
  const Language language = evaluation.language();
  const std::filesystem::path folder = tileFolder(path, mpi.rank());
  formats::RasterTileWriter writer;
  TiledRunOutcome outcome;
  if (mpi.rank() == 0) {
    std::error_code error;
    std::filesystem::create_directory(folder, error);
    const formats::RasterWrite created =
        writer.create(path, evaluation.plan().lattice(), evaluation.georeference(), options);
    if (error) outcome = saveFailure(language);
    if (!created) outcome = writeFailure(created, language);
  }
  // Nobody starts before the folder exists, or when rank 0 could not start the file.
  int startFailure = outcome.failure;
  MPI_Bcast(&startFailure, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (startFailure == 0) {
    std::vector<bool> own(static_cast<std::size_t>(evaluation.plan().count()), false);
    const auto keep = [&](int index, const grid::Grid& part) -> TiledRunOutcome {
      if (mpi.rank() != 0) {
        return writeTileFile(tileFile(folder, index), part) ? TiledRunOutcome{}
                                                            : saveFailure(language);
      }
      own[static_cast<std::size_t>(index)] = true;
      const formats::RasterWrite written = writer.write(part, evaluation.plan().tile(index));
      return written ? TiledRunOutcome{} : writeFailure(written, language);
    };
    outcome = shareTiles(mpi, evaluation, text, progress, keep);
    if (mpi.rank() == 0 && outcome.ok()) outcome = joinTiles(evaluation, own, folder, writer);
  }
  if (mpi.rank() == 0) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  // Every rank ends with rank 0's outcome.
  int failure = outcome.failure;
  MPI_Bcast(&failure, 1, MPI_INT, 0, MPI_COMM_WORLD);
  outcome.failure = failure;
  return outcome;
}

TiledRunOutcome reduceTilesOverRanks(const TiledEvaluation& evaluation, TiledExtremum& extremum,
                                     std::ostream& progress) {
  const MpiSession mpi;
  const auto reduce = [&](int, const grid::Grid& part) {
    extremum.add(part);
    return TiledRunOutcome{};
  };
  TiledRunOutcome outcome = shareTiles(mpi, evaluation, extremum.inner(), progress, reduce);
  // The extremum of the ranks' extrema does not depend on their order.
  const double mine = extremum.value();
  double all = mine;
  MPI_Allreduce(&mine, &all, 1, MPI_DOUBLE, extremum.largest() ? MPI_MAX : MPI_MIN, MPI_COMM_WORLD);
  extremum.add(all);
  return outcome;
}

}  // namespace vellumar::tiles
