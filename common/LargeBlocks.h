#pragma once

#include <cstddef>
#include <cstdint>

namespace vellumar::memory {

// Large arrays (node values, spline coefficients) in blocks mapped on their own, aligned to huge
// pages and advised to use them.
//
// Mapped blocks never share pages with malloc's heap, so freeing one gives all of its memory back
// at once instead of leaving holes between the small, long-lived allocations of the libraries
// (GDAL's block cache). A run of jobs of the same sizes (the tiles of a large grid) may keep the
// blocks it frees, so that the next job takes them already faulted in: on a virtual machine the
// kernel's zeroing of fresh pages is a fifth of a tile's time, and two processes faulting pages
// at once slow each other down.

// Blocks from this size up are mapped; smaller ones come from malloc.
inline constexpr std::size_t kMappedBlock = std::size_t(4) << 20;

// A block of at least bytes (from kMappedBlock up): a kept one when one is large enough, else a
// fresh one claimed from the memory the program may use (common/Memory.h), the kept blocks
// dropped first when it would not fit beside them. nullptr when it does not fit or the system
// refuses it.
void* takeBlock(std::size_t bytes);
// Gives back a block takeBlock gave: kept while the kept blocks stay within what the innermost
// KeptBlocks allows (the smallest ones go first), else unmapped.
void giveBlock(void* block);

// While alive, freed blocks are kept up to the given total; at the end the kept ones are unmapped
// and nothing more is kept. Scopes nest: the innermost limit holds.
class KeptBlocks {
 public:
  explicit KeptBlocks(std::uint64_t bytes);
  ~KeptBlocks();
  KeptBlocks(const KeptBlocks&) = delete;
  KeptBlocks& operator=(const KeptBlocks&) = delete;

 private:
  std::uint64_t previous_;
};

// The total size of the blocks kept now, for tests.
std::uint64_t keptBytes();

}  // namespace vellumar::memory
