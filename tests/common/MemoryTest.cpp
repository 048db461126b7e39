#include "common/Memory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "TestSupport.h"
#include "common/LargeBlocks.h"

namespace vellumar::memory {
namespace {

using FakeCgroups = testing::FolderTest;

TEST_F(FakeCgroups, TheTightestLimitUpTheTreeOfTheMemoryController) {
  // A fake /sys/fs/cgroup: files in the folder holding the given texts.
  const auto put = [&](const std::string& file, const std::string& text) {
    std::filesystem::create_directories((dir_ / file).parent_path());
    std::ofstream(dir_ / file) << text << "\n";
  };
  put("memory.max", "max");
  put("a/memory.max", "3221225472");
  put("a/b/memory.max", "max");
  EXPECT_EQ(cgroupLimit("0::/a/b\n", dir_.string()), 3221225472u);
  put("a/b/memory.max", "1073741824");
  EXPECT_EQ(cgroupLimit("0::/a/b\n", dir_.string()), 1073741824u);
  // A group path that is not visible inside a container: its ancestors still count.
  EXPECT_EQ(cgroupLimit("0::/a/hidden/deeper\n", dir_.string()), 3221225472u);
  EXPECT_EQ(cgroupLimit("0::/\n", dir_.string()), 0u);
  EXPECT_EQ(cgroupLimit("", dir_.string()), 0u);

  // Version 1: the memory controller's files.
  put("memory/memory.limit_in_bytes", "9223372036854771712");  // no limit
  put("memory/job/memory.limit_in_bytes", "2147483648");
  put("cpu/job/memory.limit_in_bytes", "1");  // not the memory controller
  const std::string self = "9:cpu,cpuacct:/job\n4:memory:/job/task\n0::/\n";
  EXPECT_EQ(cgroupLimit(self, dir_.string()), 2147483648u);
  EXPECT_EQ(cgroupLimit("4:memory:/\n", dir_.string()), 0u);
  put("memory/memory.limit_in_bytes", "1073741824");
  EXPECT_EQ(cgroupLimit(self, dir_.string()), 1073741824u);
  // Garbage in the files or in the list is no limit.
  put("memory/memory.limit_in_bytes", "lots");
  EXPECT_EQ(cgroupLimit("not a cgroup line\n4:memory:/job\n", dir_.string()), 2147483648u);
}

// The override takes a byte count with binary suffixes.
TEST(Memory, TheOverrideTakesBinarySuffixesAndBoundsClaimsBesideWhatIsHeld) {
  const std::pair<const char*, std::uint64_t> counts[] = {
      {"0", 0}, {"1234", 1234}, {"64K", 65536}, {"3m", 3u << 20}, {"2G", std::uint64_t(2) << 30}};
  for (const auto& [text, bytes] : counts) EXPECT_EQ(parseByteCount(text), bytes) << text;
  for (const char* bad :
       {"", "G", "12KB", "-5", "1.5G", " 5", "5 ", "99999999999999999999", "17179869184G"}) {
    EXPECT_FALSE(parseByteCount(bad).has_value()) << bad;
  }

  const std::uint64_t physical = std::uint64_t(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE);
  EXPECT_GT(usableBytes(), 0u);
  EXPECT_LE(usableBytes(), physical);

  const std::uint64_t resident = residentBytes();
  ASSERT_GT(resident, 0u);
  const std::uint64_t mb = std::uint64_t(1) << 20;
  setenv("VELLUMAR_MEMORY_LIMIT", std::to_string(resident + 64 * mb).c_str(), 1);
  EXPECT_EQ(usableBytes(), resident + 64 * mb);
  // 40 MB fits beside what is held, 200 MB does not, and small blocks are never refused.
  EXPECT_EQ(std::tuple(fits(40 * mb), fits(200 * mb), fits(1000)), std::tuple(true, false, true));
  // Two blocks claimed but not yet written: the second no longer fits.
  ASSERT_TRUE(claim(40 * mb));
  EXPECT_FALSE(claim(40 * mb));
  release(40 * mb);
  EXPECT_TRUE(claim(40 * mb));
  release(40 * mb);
  EXPECT_TRUE(claim(100));
  EXPECT_FALSE(badLimitSetting().has_value());
  // Values that are no limit (0 would switch the guard off) give the automatic limit, and are
  // told apart so that the programs can warn of them.
  unsetenv("VELLUMAR_MEMORY_LIMIT");
  const std::uint64_t automatic = usableBytes();
  EXPECT_FALSE(badLimitSetting().has_value());
  for (const char* bad : {"not a number", "abc", "0", "-5", "", "0G"}) {
    setenv("VELLUMAR_MEMORY_LIMIT", bad, 1);
    EXPECT_EQ(usableBytes(), automatic) << bad;
    EXPECT_EQ(badLimitSetting(), std::optional<std::string>(bad));
  }
  unsetenv("VELLUMAR_MEMORY_LIMIT");
}

// Writes every byte of a block taken for bytes, so that its pages are resident.
void* writtenBlock(std::size_t bytes) {
  void* block = takeBlock(bytes);
  if (block != nullptr) std::memset(block, 0x5a, bytes);
  return block;
}

TEST(LargeBlocks, FreedBlocksAreKeptOnlyWithinAScopeAndItsLimitAndDroppedForAFreshOne) {
  const std::size_t mb = std::size_t(1) << 20;
  void* first = writtenBlock(8 * mb);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % 64, 0u);
  giveBlock(first);
  EXPECT_EQ(keptBytes(), 0u);  // no scope: unmapped at once
  {
    const KeptBlocks kept(40 * mb);
    void* large = writtenBlock(9 * mb);
    giveBlock(large);
    const std::uint64_t largeMapping = keptBytes();
    EXPECT_GE(largeMapping, 9 * mb);
    // A smaller request takes the kept block, which goes back whole.
    void* smaller = takeBlock(5 * mb);
    EXPECT_EQ(smaller, large);
    EXPECT_EQ(keptBytes(), 0u);
    giveBlock(smaller);
    EXPECT_EQ(keptBytes(), largeMapping);
    // A request larger than every kept block maps a fresh one.
    void* larger = writtenBlock(20 * mb);
    EXPECT_NE(larger, large);
    giveBlock(larger);
    EXPECT_LE(keptBytes(), 40 * mb);
    {
      // Beyond an inner scope's limit the smallest blocks go first.
      const KeptBlocks tighter(24 * mb);
      EXPECT_EQ(keptBytes(), 22 * mb);
      void* again = takeBlock(20 * mb);
      EXPECT_EQ(keptBytes(), 0u);
      giveBlock(again);
      EXPECT_EQ(keptBytes(), 22 * mb);
    }
  }
  EXPECT_EQ(keptBytes(), 0u);

  // A fresh block that would not fit beside the kept ones drops them.
  const KeptBlocks kept(200 * mb);
  void* block = writtenBlock(30 * mb);
  ASSERT_NE(block, nullptr);
  giveBlock(block);
  ASSERT_EQ(keptBytes(), 32 * mb);
  // Room for 10 MB beside what is resident, the kept block's 30 MB included: a 33 MB block, too
  // large to reuse it, fits only when the kept one is unmapped first.
  setenv("VELLUMAR_MEMORY_LIMIT", std::to_string(residentBytes() + 10 * mb).c_str(), 1);
  void* fresh = takeBlock(33 * mb);
  EXPECT_NE(fresh, nullptr);
  EXPECT_EQ(keptBytes(), 0u);
  giveBlock(fresh);
  EXPECT_EQ(takeBlock(200 * mb), nullptr);  // refused, not mapped
  unsetenv("VELLUMAR_MEMORY_LIMIT");
}

}  // namespace
}  // namespace vellumar::memory
