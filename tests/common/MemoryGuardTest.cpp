#include "common/MemoryGuard.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/Memory.h"

namespace vellumar::memory {
namespace {

constexpr std::uint64_t kMb = std::uint64_t(1) << 20;

// VELLUMAR_MEMORY_LIMIT at what the process holds now plus room, for one test.
class LimitAboveResident {
 public:
  explicit LimitAboveResident(std::uint64_t room) {
    setenv("VELLUMAR_MEMORY_LIMIT", std::to_string(residentBytes() + room).c_str(), 1);
  }
  ~LimitAboveResident() { unsetenv("VELLUMAR_MEMORY_LIMIT"); }
};

// Allocates blocks of 1000 written bytes, the way covers and GEOS geometries grow, until bytes
// are held (the list of blocks is reserved beforehand, so it allocates nothing meanwhile).
void fillSmallBlocks(std::vector<std::unique_ptr<char[]>>& blocks, std::uint64_t bytes) {
  for (std::uint64_t held = 0; held < bytes; held += 1000) {
    blocks.emplace_back(new char[1000]);
    std::memset(blocks.back().get(), 1, 1000);
  }
}

TEST(MemoryGuard, SmallAllocationsAddingUpPastTheLimitAreRefused) {
  std::vector<std::unique_ptr<char[]>> blocks;
  blocks.reserve(200000);
  const LimitAboveResident limit(48 * kMb);
  {
    const Guard guard;
    EXPECT_FALSE(allocationRefused());
    EXPECT_THROW(fillSmallBlocks(blocks, 190 * kMb), std::bad_alloc);
    EXPECT_TRUE(allocationRefused());
    EXPECT_THROW(throwIfRefused(), std::bad_alloc);
    // Refused near the limit, not far beyond it.
    EXPECT_LT(blocks.size() * 1000, 80 * kMb);
    // A few small allocations still pass, for the failure to be reported.
    EXPECT_NO_THROW(std::string(200, 'x'));
  }
  EXPECT_FALSE(allocationRefused());
  EXPECT_NO_THROW(throwIfRefused());
}

TEST(MemoryGuard, OnlyGuardedThreadsAndScopesAreChecked) {
  std::vector<std::unique_ptr<char[]>> blocks;
  blocks.reserve(100000);
  const LimitAboveResident limit(16 * kMb);
  // Without a guard, and inside an Unguarded scope, nothing is refused.
  EXPECT_NO_THROW(fillSmallBlocks(blocks, 40 * kMb));
  {
    const Guard guard;
    const Unguarded unguarded;
    EXPECT_NO_THROW(fillSmallBlocks(blocks, 20 * kMb));
    EXPECT_FALSE(allocationRefused());
  }
  // Nested guards share one state: what the inner one refused (a large block, before it is
  // made) the outer one sees, and a guard made later inside it too.
  {
    const Guard outer;
    {
      const Guard inner;
      EXPECT_THROW(std::vector<char>(64 * kMb), std::bad_alloc);
    }
    EXPECT_TRUE(allocationRefused());
    const Guard fresh;
    EXPECT_TRUE(allocationRefused());
  }
}

TEST(MemoryGuard, ReservedButUnwrittenBlocksCountAgainstLaterOnes) {
  const LimitAboveResident limit(96 * kMb);
  const Guard guard;
  // Each block fits alone; together, though not yet written, they do not.
  std::vector<std::vector<char>> reserved;
  reserved.reserve(4);
  EXPECT_THROW(
      {
        for (int i = 0; i < 4; ++i) reserved.emplace_back().reserve(40 * kMb);
      },
      std::bad_alloc);
  ASSERT_EQ(reserved.size(), 3u);
  EXPECT_EQ(reserved[2].capacity(), 0u);  // the third could not reserve its block
  reserved.clear();
  // Freed blocks give their claim back.
  EXPECT_NO_THROW(std::vector<char>(40 * kMb));
}

}  // namespace
}  // namespace vellumar::memory
