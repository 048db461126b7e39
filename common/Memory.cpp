#include "common/Memory.h"

#include <malloc.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>

namespace vellumar::memory {
namespace {

// Values at or above this mean "no limit" (cgroup v1 writes the largest page-aligned number).
constexpr std::uint64_t kNoLimit = std::uint64_t(1) << 60;

// Large blocks claimed whose pages have not shown up in the resident memory yet, and the resident
// memory when last looked at: growth of the resident memory since then is taken as pages of
// those blocks being written.
struct Ledger {
  std::mutex mutex;
  std::uint64_t untouched = 0;
  std::uint64_t lastResident = 0;
};
Ledger& ledger() {
  static Ledger instance;
  return instance;
}

// What the process holds now, by the ledger; the caller holds its mutex.
std::uint64_t heldLocked(Ledger& book) {
  const std::uint64_t resident = residentBytes();
  if (resident > book.lastResident) {
    book.untouched -= std::min(book.untouched, resident - book.lastResident);
  }
  book.lastResident = resident;
  return resident + book.untouched;
}

bool fitsBeside(std::uint64_t held, std::uint64_t bytes) {
  const std::uint64_t limit = usableBytes();
  return limit == 0 || (held <= limit && bytes <= limit - held);
}

std::string firstLineOf(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The limit written in one group's file; 0 for "max", a missing file or no limit.
std::uint64_t limitIn(const std::string& file) {
  const std::string text = firstLineOf(file);
  std::uint64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || value == 0 || value >= kNoLimit) return 0;
  return value;
}

// The tightest limit of a group and every group above it, each found at base + group + name.
std::uint64_t tightestOnPath(const std::string& base, std::string group, const char* name) {
  std::uint64_t tightest = 0;
  for (;;) {
    while (group.size() > 1 && group.back() == '/') group.pop_back();
    const std::string folder = group == "/" ? base : base + group;
    if (const std::uint64_t limit = limitIn(folder + "/" + name)) {
      tightest = tightest == 0 ? limit : std::min(tightest, limit);
    }
    if (group.empty() || group == "/") return tightest;
    const std::size_t slash = group.find_last_of('/');
    group = slash == 0 || slash == std::string::npos ? "/" : group.substr(0, slash);
  }
}

bool listsController(std::string_view controllers, std::string_view wanted) {
  while (!controllers.empty()) {
    const std::size_t comma = controllers.find(',');
    if (controllers.substr(0, comma) == wanted) return true;
    if (comma == std::string_view::npos) break;
    controllers.remove_prefix(comma + 1);
  }
  return false;
}

std::uint64_t physicalBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
}

std::uint64_t systemLimit() {
  std::ifstream in("/proc/self/cgroup");
  std::stringstream text;
  text << in.rdbuf();
  const std::uint64_t group = cgroupLimit(text.str(), "/sys/fs/cgroup");
  const std::uint64_t physical = physicalBytes();
  if (group == 0) return physical;
  return physical == 0 ? group : std::min(group, physical);
}

}  // namespace

std::optional<std::uint64_t> parseByteCount(std::string_view text) {
  std::uint64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr == text.data()) return std::nullopt;
  const std::string_view suffix(result.ptr, text.data() + text.size() - result.ptr);
  int shift = 0;
  if (suffix.size() == 1) {
    switch (std::toupper(static_cast<unsigned char>(suffix[0]))) {
      case 'K':
        shift = 10;
        break;
      case 'M':
        shift = 20;
        break;
      case 'G':
        shift = 30;
        break;
      default:
        return std::nullopt;
    }
  } else if (!suffix.empty()) {
    return std::nullopt;
  }
  if (value > (~std::uint64_t(0) >> shift)) return std::nullopt;
  return value << shift;
}

std::uint64_t cgroupLimit(std::string_view procSelfCgroup, const std::string& root) {
  std::uint64_t tightest = 0;
  auto take = [&](std::uint64_t limit) {
    if (limit != 0) tightest = tightest == 0 ? limit : std::min(tightest, limit);
  };
  // Each line is "hierarchy:controllers:group"; cgroup v2 has hierarchy 0 and no controllers.
  while (!procSelfCgroup.empty()) {
    const std::size_t end = procSelfCgroup.find('\n');
    std::string_view line = procSelfCgroup.substr(0, end);
    procSelfCgroup.remove_prefix(end == std::string_view::npos ? procSelfCgroup.size() : end + 1);
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string group(line.substr(second + 1));
    if (line.substr(0, first) == "0" && controllers.empty()) {
      take(tightestOnPath(root, group, "memory.max"));
      take(tightestOnPath(root + "/unified", group, "memory.max"));
    } else if (listsController(controllers, "memory")) {
      take(tightestOnPath(root + "/memory", group, "memory.limit_in_bytes"));
    }
  }
  return tightest;
}

std::optional<std::string> badLimitSetting() {
  const char* text = std::getenv("VELLUMAR_MEMORY_LIMIT");
  if (text == nullptr) return std::nullopt;
  const auto bytes = parseByteCount(text);
  if (bytes && *bytes > 0) return std::nullopt;
  return std::string(text);
}

std::uint64_t usableBytes() {
  // A limit of 0 would switch the guard off: it is refused like any other bad value.
  if (const char* text = std::getenv("VELLUMAR_MEMORY_LIMIT")) {
    if (const auto bytes = parseByteCount(text); bytes && *bytes > 0) return *bytes;
  }
  static std::once_flag once;
  static std::uint64_t limit = 0;
  std::call_once(once, [] { limit = systemLimit(); });
  return limit;
}

std::uint64_t residentBytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long long size = 0;
  unsigned long long resident = 0;
  const int read = std::fscanf(statm, "%llu %llu", &size, &resident);
  std::fclose(statm);
  const long pageSize = sysconf(_SC_PAGESIZE);
  return read == 2 && pageSize > 0 ? resident * std::uint64_t(pageSize) : 0;
}

bool fits(std::uint64_t bytes) {
  if (bytes < kLargeBlock || usableBytes() == 0) return true;
  Ledger& book = ledger();
  const std::lock_guard<std::mutex> hold(book.mutex);
  return fitsBeside(heldLocked(book), bytes);
}

void require(std::uint64_t bytes) {
  if (!fits(bytes)) throw std::bad_alloc();
}

bool claim(std::uint64_t bytes) {
  if (bytes < kLargeBlock) return true;
  Ledger& book = ledger();
  const std::lock_guard<std::mutex> hold(book.mutex);
  if (!fitsBeside(heldLocked(book), bytes)) return false;
  book.untouched += bytes;
  return true;
}

void track(std::uint64_t bytes) {
  if (bytes < kLargeBlock) return;
  Ledger& book = ledger();
  const std::lock_guard<std::mutex> hold(book.mutex);
  heldLocked(book);  // growth of the resident memory before now belongs to earlier blocks
  book.untouched += bytes;
}

void release(std::uint64_t bytes) {
  if (bytes < kLargeBlock) return;
  Ledger& book = ledger();
  const std::lock_guard<std::mutex> hold(book.mutex);
  book.untouched -= std::min(book.untouched, bytes);
}

void adviseHugePages(void* block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (bytes < kHugePageBytes) return;  // smaller than one huge page: nothing to gain
  // madvise takes whole pages: the pages that lie inside the block, so that the advice reaches
  // no memory of a neighbouring allocation.
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

void giveBackFreePages() {
  malloc_trim(0);
}

}  // namespace vellumar::memory
