#include "common/LargeBlocks.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

#include "common/Memory.h"

namespace vellumar::memory {
namespace {

// Each mapping starts with its size; the caller's array follows, cache-line aligned. The size
// lets a kept block that is larger than a later request go back whole.
constexpr std::size_t kHeader = 64;

struct Block {
  std::byte* base;
  std::size_t size;  // the whole mapping, a multiple of the huge page
};

// The blocks kept for reuse, their total and the limit on it.
struct KeptList {
  std::mutex mutex;
  std::vector<Block> blocks;
  std::uint64_t total = 0;
  std::uint64_t limit = 0;
};
KeptList& kept() {
  static KeptList instance;
  return instance;
}

std::size_t mappedSize(std::size_t bytes) {
  return (bytes + kHeader + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}

// A fresh mapping of size bytes that starts on a huge-page boundary, advised to use huge pages.
std::byte* mapAligned(std::size_t size) {
  const std::size_t spare = kHugePageBytes;
  void* raw =
      mmap(nullptr, size + spare, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto* start = static_cast<std::byte*>(raw);
  const auto address = reinterpret_cast<std::uintptr_t>(start);
  const std::size_t lead = (kHugePageBytes - address % kHugePageBytes) % kHugePageBytes;
  if (lead > 0) munmap(start, lead);
  if (spare - lead > 0) munmap(start + lead + size, spare - lead);
  madvise(start + lead, size, MADV_HUGEPAGE);
  return start + lead;
}

void unmap(const Block& block) {
  ASAN_UNPOISON_MEMORY_REGION(block.base, block.size);
  munmap(block.base, block.size);
  release(block.size);
}

// Takes blocks out of the list, smallest first, until the total is within the limit; the caller
// holds the list's mutex and unmaps what is returned after letting it go.
std::vector<Block> trimLocked(KeptList& list) {
  std::vector<Block> dropped;
  std::sort(list.blocks.begin(), list.blocks.end(),
            [](const Block& a, const Block& b) { return a.size > b.size; });
  while (list.total > list.limit) {
    dropped.push_back(list.blocks.back());
    list.total -= list.blocks.back().size;
    list.blocks.pop_back();
  }
  return dropped;
}

void unmapAll(const std::vector<Block>& blocks) {
  for (const Block& block : blocks) unmap(block);
}

// The smallest kept block of at least size bytes, taken out of the list.
std::byte* reuseKept(std::size_t size) {
  KeptList& list = kept();
  const std::lock_guard<std::mutex> hold(list.mutex);
  auto best = list.blocks.end();
  for (auto it = list.blocks.begin(); it != list.blocks.end(); ++it) {
    if (it->size >= size && (best == list.blocks.end() || it->size < best->size)) best = it;
  }
  if (best == list.blocks.end()) return nullptr;
  std::byte* base = best->base;
  list.total -= best->size;
  list.blocks.erase(best);
  return base;
}

// Unmaps every kept block, so that their memory counts no more against a claim.
void dropKept() {
  KeptList& list = kept();
  std::vector<Block> dropped;
  {
    const std::lock_guard<std::mutex> hold(list.mutex);
    dropped.swap(list.blocks);
    list.total = 0;
  }
  unmapAll(dropped);
}

// A fresh mapping of size bytes, claimed first; nullptr when it does not fit.
std::byte* mapClaimed(std::size_t size) {
  if (!claim(size)) {
    dropKept();
    if (!claim(size)) return nullptr;
  }
  std::byte* base = mapAligned(size);
  if (base == nullptr) release(size);
  return base;
}

// The caller's array in block base, with the header and the unused end poisoned for the address
// sanitizer (an overrun into them is then reported as one into a freed block would be).
void* handOut(std::byte* base, std::size_t bytes) {
  const std::size_t size = *reinterpret_cast<const std::size_t*>(base);
  ASAN_POISON_MEMORY_REGION(base, size);
  ASAN_UNPOISON_MEMORY_REGION(base + kHeader, bytes);
  return base + kHeader;
}

// Sets the limit on the kept blocks, unmapping those beyond it; returns the limit before.
std::uint64_t setLimit(std::uint64_t bytes) {
  KeptList& list = kept();
  std::vector<Block> dropped;
  std::uint64_t previous = 0;
  {
    const std::lock_guard<std::mutex> hold(list.mutex);
    previous = list.limit;
    list.limit = bytes;
    dropped = trimLocked(list);
  }
  unmapAll(dropped);
  return previous;
}

}  // namespace

void* takeBlock(std::size_t bytes) {
  if (bytes > static_cast<std::size_t>(-1) - kHeader - kHugePageBytes) return nullptr;
  const std::size_t size = mappedSize(bytes);
  if (std::byte* base = reuseKept(size)) return handOut(base, bytes);
  std::byte* base = mapClaimed(size);
  if (base == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(base) = size;
  return handOut(base, bytes);
}

void giveBlock(void* block) {
  if (block == nullptr) return;
  std::byte* base = static_cast<std::byte*>(block) - kHeader;
  ASAN_UNPOISON_MEMORY_REGION(base, kHeader);
  const Block freed{base, *reinterpret_cast<const std::size_t*>(base)};
  KeptList& list = kept();
  std::vector<Block> dropped;
  {
    const std::lock_guard<std::mutex> hold(list.mutex);
    if (freed.size <= list.limit) {
      ASAN_POISON_MEMORY_REGION(freed.base + kHeader, freed.size - kHeader);
      list.blocks.push_back(freed);
      list.total += freed.size;
      dropped = trimLocked(list);
    } else {
      dropped.push_back(freed);
    }
  }
  unmapAll(dropped);
}

KeptBlocks::KeptBlocks(std::uint64_t bytes) : previous_(setLimit(bytes)) {}

KeptBlocks::~KeptBlocks() {
  setLimit(previous_);
}

std::uint64_t keptBytes() {
  KeptList& list = kept();
  const std::lock_guard<std::mutex> hold(list.mutex);
  return list.total;
}

}  // namespace vellumar::memory
