#include "common/MemoryGuard.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "common/Memory.h"

namespace vellumar::memory {
namespace {

// Small allocations are added up and the memory is looked at each time they reach this much:
// reading the resident size costs a few microseconds, which this spreads over a few megabytes.
constexpr std::uint64_t kCheckInterval = std::uint64_t(4) << 20;
// What a small allocation is taken to cost beyond its size: malloc's header and rounding.
constexpr std::uint64_t kChunkOverhead = 16;
// The room a check of small allocations asks for: more than they can add before the next check,
// with their overhead and the pages malloc rounds them into.
constexpr std::uint64_t kSmallReserve = std::uint64_t(16) << 20;

// The guard state of one thread: plain data, so that reaching it costs no initialisation check.
struct GuardState {
  int depth = 0;                 // guards alive
  int suspended = 0;             // Unguarded scopes alive
  bool refused = false;          // an allocation was refused or failed under the guard
  bool checking = false;         // inside the check itself, whose own allocations pass
  std::uint64_t sinceCheck = 0;  // bytes of small allocations since the last check
};
thread_local GuardState tState;

bool checkFits(GuardState& state, std::uint64_t bytes) {
  state.checking = true;
  const bool ok = fits(bytes);
  state.checking = false;
  return ok;
}

// Whether a small allocation may go ahead under the guard.
bool admitsSmall(GuardState& state, std::size_t size) {
  state.sinceCheck += size + kChunkOverhead;
  if (state.sinceCheck < kCheckInterval) return true;
  state.sinceCheck = 0;
  return checkFits(state, kSmallReserve);
}

// ---- Huge pages for malloc's heap --------------------------------------------------------------
//
// Polygon work makes millions of small allocations; on a virtual machine the page faults of the
// fresh heap they fill cost about a third of an overlay's time. Backing the heap with transparent
// huge pages cuts the faults by up to 512. The heap grows by whole padded steps, each step is
// advised as soon as an allocation sees it, and blocks that malloc maps on their own (the large
// ones) are advised like every large block.

constexpr std::size_t kHeapStep = std::size_t(32) << 20;

std::atomic<std::uintptr_t> advisedHeapEnd{0};

void adviseHeapGrowth() {
  const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
  std::uintptr_t advised = advisedHeapEnd.load(std::memory_order_relaxed);
  if (end <= advised || end == std::uintptr_t(-1)) return;
  if (!advisedHeapEnd.compare_exchange_strong(advised, end, std::memory_order_relaxed)) return;
  if (advised == 0) return;  // the heap as it was at the first allocation stays as it is
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t begin = advised & ~(page - 1);
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// The heap grows by steps of kHeapStep, so that its huge pages lie within it; blocks below the
// same size stay on the heap. Setting these switches off malloc's own moving threshold, whose
// largest value this is.
[[maybe_unused]] const bool heapConfigured = [] {
  mallopt(M_TOP_PAD, static_cast<int>(kHeapStep));
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHeapStep));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kHeapStep));
  return true;
}();

}  // namespace

Guard::Guard() {
  GuardState& state = tState;
  if (state.depth++ == 0) {
    state.refused = false;
    state.sinceCheck = 0;
  }
}

Guard::~Guard() {
  GuardState& state = tState;
  // What the refused work freed lies scattered over malloc's heap, still resident: give it back,
  // so that the next job is measured by what the program really holds.
  if (--state.depth == 0 && state.refused) malloc_trim(0);
}

Unguarded::Unguarded() {
  ++tState.suspended;
}

Unguarded::~Unguarded() {
  --tState.suspended;
}

bool allocationRefused() {
  const GuardState& state = tState;
  return state.depth > 0 && state.refused;
}

void throwIfRefused() {
  if (allocationRefused()) throw std::bad_alloc();
}

namespace detail {

bool guarding() noexcept {
  const GuardState& state = tState;
  return state.depth > 0 && state.suspended == 0;
}

void noteRefused() noexcept {
  GuardState& state = tState;
  if (state.depth > 0) state.refused = true;
}

void* allocate(std::size_t size) noexcept {
  GuardState& state = tState;
  const bool guarded = guarding() && !state.checking;
  const bool large = size >= kLargeBlock;
  if (guarded && !(large ? checkFits(state, size) : admitsSmall(state, size))) {
    state.refused = true;
    return nullptr;
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    if (guarded) state.refused = true;
    return nullptr;
  }
  adviseHeapGrowth();
  if (large) {
    // Until its pages are written a large block is not resident: the ledger counts it meanwhile,
    // so that a check in between sees it (a reserved vector filled later).
    track(malloc_usable_size(block));
    if (size >= kHeapStep) adviseHugePages(block, size);
  }
  return block;
}

void deallocate(void* block) noexcept {
  if (block == nullptr) return;
  const std::size_t usable = malloc_usable_size(block);
  if (usable >= kLargeBlock) release(usable);
  std::free(block);
}

}  // namespace detail
}  // namespace vellumar::memory
