#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumar::memory {

// How much memory the program may really use, so that a request too large for it fails at once
// with the out-of-memory message instead of having the kernel kill the program half-way.
//
// The limit is the smaller of the memory limit of the process's control group (cgroup v2
// "memory.max", v1 "memory.limit_in_bytes", on its own group and every group above it) and the
// physical memory. The environment variable VELLUMAR_MEMORY_LIMIT (a number of bytes, optionally
// followed by K, M or G for binary kilo-, mega- and gigabytes) replaces it, so that tests and users
// of shared machines can lower it.
//
// Large blocks (from kLargeBlock up) are claimed before they are allocated: a claim succeeds when
// the block fits beside what the process already holds, its resident memory plus the claimed
// blocks not yet written (a block just allocated is not resident until its pages are written;
// growth of the resident memory after a claim is taken as its pages being written).

inline constexpr std::uint64_t kLargeBlock = std::uint64_t(1) << 20;

// The limit in bytes; 0 when nothing is known (no limit is then applied).
std::uint64_t usableBytes();
// The text of VELLUMAR_MEMORY_LIMIT when it is set but is no limit (not a byte count, or 0), so
// that the programs can warn that the automatic limit is used instead; nullopt when the variable
// is unset or valid.
std::optional<std::string> badLimitSetting();
// Resident memory of the process in bytes (0 when the system does not tell).
std::uint64_t residentBytes();

// True when a new block of the given size fits beside what the process holds. Blocks below
// kLargeBlock always fit.
bool fits(std::uint64_t bytes);
// Throws std::bad_alloc unless fits(bytes): the one way a reader or a kernel says that what it is
// about to build does not fit. The guards at the engine's boundary turn it into the
// out-of-memory message.
void require(std::uint64_t bytes);
// Claims a large block before allocating it; false, with nothing claimed, when it does not fit.
// Blocks below kLargeBlock are never refused and never counted.
bool claim(std::uint64_t bytes);
// Gives back what claim() took for a block of the same size (when freed).
void release(std::uint64_t bytes);
// Counts a large block just allocated as claimed, without checking: for blocks whose check came
// before their size was known exactly (the program's operator new). Released as claimed blocks.
void track(std::uint64_t bytes);
// Hands the free pages of malloc's heap back to the system. The heap grows in huge-page steps and
// keeps blocks of up to 32 MB, so a long run of jobs of mixed sizes (the tiles of a large grid)
// would otherwise keep every page it ever touched resident.
void giveBackFreePages();

// The size of a huge page on x86-64 and ARM64 Linux.
inline constexpr std::size_t kHugePageBytes = std::size_t(1) << 21;

// Asks the kernel to back the whole 2 MB stretches of a block with huge pages. Meant for a large
// block written in full soon after it is allocated (a table's column): it then costs one page
// fault per 2 MB instead of one per 4 KB, which on a virtual machine is most of the cost of
// filling it. Only advice: where huge pages are not available nothing changes.
void adviseHugePages(void* block, std::size_t bytes);

// A vector of count copies of value, its block advised as above before it is written.
template <class T>
std::vector<T> filledVector(std::size_t count, const T& value) {
  std::vector<T> filled;
  filled.reserve(count);
  adviseHugePages(filled.data(), count * sizeof(T));
  filled.assign(count, value);
  return filled;
}

// --- the pieces, exposed for tests ---

// "123", "64K", "512M", "3G" (case-insensitive suffix); nullopt for anything else.
std::optional<std::uint64_t> parseByteCount(std::string_view text);
// The tightest memory limit of the control groups listed in the text of /proc/self/cgroup, read
// under root (normally "/sys/fs/cgroup"); 0 when none is set.
std::uint64_t cgroupLimit(std::string_view procSelfCgroup, const std::string& root);

}  // namespace vellumar::memory
