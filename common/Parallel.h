#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/ErrorSink.h"

// The one parallel loop of the engine: a loop over items cut into blocks of a fixed size, the
// blocks run on the cores the process may use (oneTBB's work-stealing pool, behind this header).
//
// - Results never depend on the number of threads: the blocks are the same whatever runs them,
//   each block writes only its own items, and reductions combine the blocks' partial results in
//   block order.
// - Progress and cancel work as in the serial loop: the thread that started the loop reports the
//   items done to its pacer after each block it runs, and once the pacer or a block says stop, no
//   further block starts, on any thread.
// - The memory guard of the calling thread (common/MemoryGuard.h) goes with the blocks to the
//   other threads: an allocation refused there throws std::bad_alloc out of the loop as it would
//   on the calling thread, and allocationRefused() tells the caller afterwards.
// - A loop inside a block runs in parallel too; while it waits, a thread only takes blocks of
//   that inner loop, so that the per-thread state of an outer block is never disturbed.
// - Loops too short to gain from threads run serially on the calling thread.
namespace vellumar::parallel {

// How a loop is cut: items per block, and the fewest items worth starting other threads for.
struct Blocking {
  std::size_t block = kProgressBlock;
  std::size_t leastParallel = 8 * kProgressBlock;
};

// A loop whose items each cost about as much as a few hundred node operations (a row of a spline
// solve, a derivative node): smaller blocks, and threads for any loop of two blocks or more.
inline constexpr Blocking kCostlyItems{1, 2};
// The rows of nx items each that forEachRowBlock puts in one block: about kProgressBlock items.
std::size_t rowsPerBlock(std::size_t nx);

// ---- the threads ----

// The cores this process may use: those of its CPU affinity mask, fewer when the quota of its
// control group (cgroup v2 "cpu.max", v1 "cpu.cfs_quota_us") allows less; at least 1.
unsigned usableCores();
// The most threads a loop uses now.
unsigned threadLimit();
// Caps the threads of every loop from now on; 0 restores the default, usableCores().
void setThreadLimit(unsigned threads);
// "1" to "1024"; nullopt for anything else.
std::optional<unsigned> parseThreadCount(std::string_view text);
// Applies the environment variable VELLUMAR_THREADS, a thread count. Returns its text when it is
// set but is no thread count (the default then stays), so that the programs can warn.
std::optional<std::string> applyThreadSetting();

// ---- the loops ----

namespace detail {

// One block of a loop; false asks the loop to stop.
using BlockTask = bool (*)(void* context, std::size_t begin, std::size_t end);
// Runs task over [0, n) in blocks of blocking.block items (serially when the loop is short or
// one thread is allowed), reporting to pacer from the calling thread. False when stopped.
bool runBlocks(std::size_t n, const Blocking& blocking, ProgressPacer& pacer, void* context,
               BlockTask task);

template <class Body>
bool runBody(void* context, std::size_t begin, std::size_t end) {
  Body& body = *static_cast<Body*>(context);
  if constexpr (std::is_same_v<decltype(body(begin, end)), bool>) {
    return body(begin, end);
  } else {
    body(begin, end);
    return true;
  }
}

}  // namespace detail

// Runs body(begin, end) over the items [0, n) in blocks, blocks at once on several threads. The
// body must touch only what belongs to its items (or read shared data). A body that returns bool
// stops the loop by returning false; blocks already running finish. False when the pacer or the
// body stopped the loop.
template <class Body>
bool forEachBlock(std::size_t n, ProgressPacer& pacer, Body&& body, const Blocking& blocking = {}) {
  using Stored = std::remove_reference_t<Body>;
  return detail::runBlocks(n, blocking, pacer, const_cast<void*>(static_cast<const void*>(&body)),
                           &detail::runBody<Stored>);
}

// The number of blocks forEachBlock cuts n items into.
inline std::size_t blockCount(std::size_t n, const Blocking& blocking) {
  return (n + blocking.block - 1) / blocking.block;
}

// A reduction: body(begin, end) gives each block's partial result, and combine(total, partial)
// folds them into total in block order, so the result is the same whatever ran the blocks. False,
// with total unchanged, when the pacer stopped the loop.
template <class T, class Body, class Combine>
bool reduceBlocks(std::size_t n, ProgressPacer& pacer, T& total, Body&& body, Combine&& combine,
                  const Blocking& blocking = {}) {
  // One element per block, wrapped so that std::vector<bool> cannot pack the partials of
  // different blocks into one word.
  struct Partial {
    T value;
  };
  std::vector<Partial> partials(blockCount(n, blocking), Partial{total});
  const bool done = forEachBlock(
      n, pacer,
      [&](std::size_t begin, std::size_t end) {
        partials[begin / blocking.block].value = body(begin, end);
      },
      blocking);
  if (!done) return false;
  for (Partial& partial : partials) total = combine(std::move(total), std::move(partial.value));
  return true;
}

// Runs body(rowBegin, rowEnd) over the rows [0, rows) of nx items each, in parallel blocks of
// rowsPerBlock(nx) rows (and serially for fewer than leastBlocks blocks); the pacer hears of the
// items done. Block b holds the rows from b * rowsPerBlock(nx) on. False when stopped.
template <class Body>
bool forEachRowBlock(std::size_t rows, std::size_t nx, ProgressPacer& pacer, Body&& body,
                     std::size_t leastBlocks = 8) {
  const std::size_t perBlock = rowsPerBlock(nx);
  nx = nx == 0 ? 1 : nx;
  return forEachBlock(
      rows * nx, pacer,
      [&](std::size_t begin, std::size_t end) { return body(begin / nx, end / nx); },
      Blocking{perBlock * nx, leastBlocks * perBlock * nx});
}

// A reduction over rows: compute(rowBegin, rowEnd) gives the partial result of each block of
// forEachRowBlock, and combine folds them into total in block order. False, with total unchanged,
// when the pacer stopped the loop.
template <class T, class Compute, class Combine>
bool reduceRowBlocks(std::size_t rows, std::size_t nx, ProgressPacer& pacer, T& total,
                     Compute&& compute, Combine&& combine) {
  const std::size_t perBlock = rowsPerBlock(nx);
  nx = nx == 0 ? 1 : nx;
  return reduceBlocks(
      rows * nx, pacer, total,
      [&](std::size_t begin, std::size_t end) { return compute(begin / nx, end / nx); }, combine,
      Blocking{perBlock * nx, 8 * perBlock * nx});
}

// Writes to one byte of every page of [data, data + bytes), in parallel blocks of pages: the
// first touch of a fresh array, so that the kernel's zeroing of its new pages is spread over the
// threads when the loop that fills it would touch every page from each thread (a loop over column
// strips of a row-major array). The array's contents are left unspecified.
void touchPages(void* data, std::size_t bytes);

// ---- independent tasks ----

// Runs task(0) ... task(count - 1), as many at once as there are threads: the calling thread and
// the pool's threads each take the next task not taken yet, in index order, so that with one
// thread they run in order on the calling thread. A task run on another thread carries the
// calling thread's memory guard, as a block of a loop does. Once every task is taken, the calling
// thread calls idle() (when given) every few milliseconds until the others have finished: it is
// the one thread that may talk to a progress observer, so it shows their progress and hears a
// cancel meanwhile. An exception of a task is thrown again on the calling thread once every task
// has ended (that of the lowest index).
void runTasks(std::size_t count, const std::function<void(std::size_t)>& task,
              const std::function<void()>& idle = {});

// Whether this thread is running a block of a parallel loop or a task of runTasks: work started
// there finds the other threads busy with the blocks or tasks beside it.
bool insideParallelWork();

// forEachBlock for a loop without progress (nobody watches and nothing can cancel it).
template <class Body>
bool forEachBlock(std::size_t n, Body&& body, const Blocking& blocking = {}) {
  ProgressPacer quiet(nullptr, 0);
  return forEachBlock(n, quiet, std::forward<Body>(body), blocking);
}

}  // namespace vellumar::parallel
