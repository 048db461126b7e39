#include "common/Parallel.h"

#include <sched.h>
#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "common/MemoryGuard.h"

namespace vellumar::parallel {
namespace {

// ---- the cores of the process ----

std::string firstLineOf(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

double numberAt(std::string_view text) {
  double value = 0.0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() ? value : 0.0;
}

// The cores a quota of quota microseconds per period allows; 0 for no quota.
double quotaCores(double quota, double period) {
  return quota > 0.0 && period > 0.0 ? quota / period : 0.0;
}

// The quota of one group: v2's "cpu.max" ("max 100000" or "200000 100000"), else v1's pair.
double groupQuota(const std::string& folder, bool unified) {
  if (unified) {
    const std::string line = firstLineOf(folder + "/cpu.max");
    const std::size_t space = line.find(' ');
    if (space == std::string::npos || line.compare(0, space, "max") == 0) return 0.0;
    return quotaCores(numberAt(std::string_view(line).substr(0, space)),
                      numberAt(std::string_view(line).substr(space + 1)));
  }
  return quotaCores(numberAt(firstLineOf(folder + "/cpu.cfs_quota_us")),
                    numberAt(firstLineOf(folder + "/cpu.cfs_period_us")));
}

// The tightest quota of a group and every group above it; 0 when none is set.
double tightestQuota(const std::string& base, std::string group, bool unified) {
  double tightest = 0.0;
  for (;;) {
    while (group.size() > 1 && group.back() == '/') group.pop_back();
    const double quota = groupQuota(group == "/" ? base : base + group, unified);
    if (quota > 0.0) tightest = tightest == 0.0 ? quota : std::min(tightest, quota);
    if (group.empty() || group == "/") return tightest;
    const std::size_t slash = group.find_last_of('/');
    group = slash == 0 || slash == std::string::npos ? "/" : group.substr(0, slash);
  }
}

// The CPU quota of the process's control groups, in cores; 0 when there is none.
double cgroupCores() {
  std::ifstream in("/proc/self/cgroup");
  std::stringstream text;
  text << in.rdbuf();
  double tightest = 0.0;
  std::string line;
  while (std::getline(text, line)) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string group = line.substr(second + 1);
    double quota = 0.0;
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      quota = tightestQuota("/sys/fs/cgroup", group, true);
    } else if (("," + controllers + ",").find(",cpu,") != std::string::npos) {
      quota = tightestQuota("/sys/fs/cgroup/cpu", group, false);
      if (quota == 0.0) quota = tightestQuota("/sys/fs/cgroup/cpu,cpuacct", group, false);
    }
    if (quota > 0.0) tightest = tightest == 0.0 ? quota : std::min(tightest, quota);
  }
  return tightest;
}

unsigned affinityCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

// ---- the cap ----

struct Cap {
  std::mutex mutex;
  unsigned threads = 0;  // 0 until the first loop or setThreadLimit
  std::unique_ptr<tbb::global_control> control;
};
Cap& cap() {
  static Cap instance;
  return instance;
}

// How many of the wanted threads the process can start now, beside the calling one: a process
// under a limit of threads (ulimit -u) or of memory may start fewer, or none. oneTBB ends the
// process when it cannot start a worker it counted on, so the cap never counts on more than this
// found. The probes run at once, since the limits count the threads alive together.
unsigned startableThreads(unsigned wanted) {
  std::vector<std::thread> probes;
  probes.reserve(wanted);
  std::atomic<bool> release{false};
  try {
    while (probes.size() < wanted) {
      probes.emplace_back([&release] {
        while (!release.load()) std::this_thread::yield();
      });
    }
  } catch (const std::exception&) {
    // Fewer than wanted: those started are all there are.
  }
  release.store(true);
  for (std::thread& probe : probes) probe.join();
  return static_cast<unsigned>(probes.size());
}

void applyLocked(Cap& state, unsigned threads) {
  threads = 1 + startableThreads(threads - 1);
  state.threads = threads;
  state.control =
      std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, threads);
}

// The cap, set to the default on first use; cached in an atomic for the loops' quick look.
std::atomic<unsigned> cachedLimit{0};

// ---- one parallel loop ----

// Blocks and tasks this thread is running now.
thread_local int tParallelWork = 0;

class ParallelWork {
 public:
  ParallelWork() { ++tParallelWork; }
  ~ParallelWork() { --tParallelWork; }
  ParallelWork(const ParallelWork&) = delete;
  ParallelWork& operator=(const ParallelWork&) = delete;
};

// Carries the memory guard of the thread that started a loop to a block run on another thread,
// and brings a refusal back.
class BlockGuard {
 public:
  BlockGuard(bool guarded, std::atomic<bool>& refused) : refused_(refused) {
    if (guarded) guard_.emplace();
  }
  ~BlockGuard() {
    if (guard_ && memory::allocationRefused()) refused_.store(true, std::memory_order_relaxed);
  }
  BlockGuard(const BlockGuard&) = delete;
  BlockGuard& operator=(const BlockGuard&) = delete;

 private:
  std::atomic<bool>& refused_;
  std::optional<memory::Guard> guard_;
};

class ParallelLoop {
 public:
  ParallelLoop(std::size_t n, const Blocking& blocking, ProgressPacer& pacer, void* context,
               detail::BlockTask task)
      : n_(n), block_(blocking.block), pacer_(pacer), context_(context), task_(task) {}

  bool run() {
    const std::size_t blocks = blockCount(n_, Blocking{block_, 0});
    // What the caller wrote before the loop happens before every block (each block's acquire
    // load of stop_ reads this store or a later one), and every block's writes happen before the
    // caller goes on (the acquire load of done_ after the loop). The pool's own synchronisation
    // gives the same, but in a library ThreadSanitizer cannot look into.
    stop_.store(false, std::memory_order_release);
    try {
      tbb::this_task_arena::isolate([&] {
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, blocks, 1),
            [this](const tbb::blocked_range<std::size_t>& range) {
              for (std::size_t b = range.begin(); b != range.end(); ++b) runBlock(b);
            },
            tbb::simple_partitioner());
      });
    } catch (...) {
      noteRefusal();
      throw;
    }
    noteRefusal();
    done_.load(std::memory_order_acquire);
    return !stop_.load();
  }

 private:
  void runBlock(std::size_t b) {
    if (stop_.load(std::memory_order_acquire)) return;
    const std::size_t begin = b * block_;
    const std::size_t end = std::min(n_, begin + block_);
    const bool onCaller = std::this_thread::get_id() == caller_;
    const ParallelWork work;
    bool going = false;
    try {
      if (onCaller) {
        going = task_(context_, begin, end);
      } else {
        BlockGuard guard(guarded_, refused_);
        going = task_(context_, begin, end);
      }
    } catch (...) {
      stop_.store(true);
      throw;
    }
    const auto items = static_cast<std::int64_t>(end - begin);
    const std::int64_t done = done_.fetch_add(items, std::memory_order_acq_rel) + items;
    if (!going || (onCaller && !pacer_.advance(done))) stop_.store(true);
  }

  void noteRefusal() {
    if (refused_.load()) memory::detail::noteRefused();
  }

  std::size_t n_;
  std::size_t block_;
  ProgressPacer& pacer_;
  void* context_;
  detail::BlockTask task_;
  const std::thread::id caller_ = std::this_thread::get_id();
  const bool guarded_ = memory::detail::guarding();
  std::atomic<bool> stop_{false};
  std::atomic<bool> refused_{false};
  std::atomic<std::int64_t> done_{0};
};

bool runSerially(std::size_t n, std::size_t block, ProgressPacer& pacer, void* context,
                 detail::BlockTask task) {
  for (std::size_t begin = 0; begin < n; begin += block) {
    const std::size_t end = n - begin < block ? n : begin + block;
    if (!task(context, begin, end)) return false;
    if (!pacer.advance(static_cast<std::int64_t>(end))) return false;
  }
  return true;
}

// ---- independent tasks ----

// How often the calling thread of runTasks calls idle() once it has no task left to take; it
// goes on at once when the last task ends.
constexpr auto kIdlePoll = std::chrono::milliseconds(5);

class TaskRun {
 public:
  TaskRun(std::size_t count, const std::function<void(std::size_t)>& task)
      : count_(count), task_(task), errors_(count) {}

  // The tasks in order on the calling thread, when one thread is allowed.
  void runInOrder() {
    for (std::size_t index = 0; index < count_; ++index) runOne(index, true);
    rethrowFirst();
  }

  void run(const std::function<void()>& idle) {
    const std::size_t helpers = std::min<std::size_t>(count_, threadLimit()) - 1;
    tbb::task_group group;
    // Only this run's tasks are taken by the calling thread while it waits in it, as in a loop.
    tbb::this_task_arena::isolate([&] {
      try {
        for (std::size_t h = 0; h < helpers; ++h) group.run([this] { takeTasks(false); });
      } catch (...) {
        // A helper that could not be queued leaves more tasks to the calling thread.
      }
      takeTasks(true);
      if (idle) {
        std::unique_lock<std::mutex> hold(mutex_);
        while (finished_.load(std::memory_order_acquire) < count_) {
          hold.unlock();
          idle();
          hold.lock();
          ended_.wait_for(hold, kIdlePoll,
                          [this] { return finished_.load(std::memory_order_acquire) == count_; });
        }
      }
      group.wait();
    });
    if (refused_.load()) memory::detail::noteRefused();
    rethrowFirst();
  }

 private:
  void rethrowFirst() {
    for (std::exception_ptr& error : errors_) {
      if (error) std::rethrow_exception(error);
    }
  }

  void takeTasks(bool onCaller) {
    for (;;) {
      const std::size_t index = next_.fetch_add(1, std::memory_order_relaxed);
      if (index >= count_) return;
      runOne(index, onCaller);
    }
  }

  void runOne(std::size_t index, bool onCaller) {
    const ParallelWork work;
    try {
      if (onCaller) {
        task_(index);
      } else {
        BlockGuard guard(guarded_, refused_);
        task_(index);
      }
    } catch (...) {
      errors_[index] = std::current_exception();
    }
    const std::lock_guard<std::mutex> hold(mutex_);
    finished_.fetch_add(1, std::memory_order_acq_rel);
    ended_.notify_all();
  }

  std::size_t count_;
  const std::function<void(std::size_t)>& task_;
  std::vector<std::exception_ptr> errors_;
  const bool guarded_ = memory::detail::guarding();
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> finished_{0};
  std::atomic<bool> refused_{false};
  // The calling thread waits on ended_ between its calls of idle().
  std::mutex mutex_;
  std::condition_variable ended_;
};

}  // namespace

void runTasks(std::size_t count, const std::function<void(std::size_t)>& task,
              const std::function<void()>& idle) {
  if (count == 0) return;
  TaskRun run(count, task);
  if (count == 1 || threadLimit() == 1) {
    run.runInOrder();
  } else {
    run.run(idle);
  }
}

bool insideParallelWork() {
  return tParallelWork > 0;
}

void touchPages(void* data, std::size_t bytes) {
  constexpr std::size_t kPage = 4096;
  constexpr std::size_t kPagesPerBlock = 4096;  // 16 MB: a thread faults in long runs of pages
  auto* bytesOf = static_cast<volatile unsigned char*>(data);
  forEachBlock((bytes + kPage - 1) / kPage,
               [&](std::size_t begin, std::size_t end) {
                 for (std::size_t page = begin; page < end; ++page) bytesOf[page * kPage] = 0;
               },
               Blocking{kPagesPerBlock, 2 * kPagesPerBlock});
}

std::size_t rowsPerBlock(std::size_t nx) {
  return std::max<std::size_t>(1, kProgressBlock / std::max<std::size_t>(1, nx));
}

unsigned usableCores() {
  static const unsigned cores = [] {
    const unsigned affinity = affinityCores();
    const double quota = cgroupCores();
    if (quota <= 0.0) return affinity;
    return std::clamp(static_cast<unsigned>(std::ceil(quota)), 1u, affinity);
  }();
  return cores;
}

unsigned threadLimit() {
  const unsigned cached = cachedLimit.load(std::memory_order_relaxed);
  if (cached != 0) return cached;
  Cap& state = cap();
  const std::lock_guard<std::mutex> hold(state.mutex);
  if (state.threads == 0) applyLocked(state, usableCores());
  cachedLimit.store(state.threads);
  return state.threads;
}

void setThreadLimit(unsigned threads) {
  Cap& state = cap();
  const std::lock_guard<std::mutex> hold(state.mutex);
  applyLocked(state, threads == 0 ? usableCores() : threads);
  cachedLimit.store(state.threads);
}

std::optional<unsigned> parseThreadCount(std::string_view text) {
  unsigned value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  if (value < 1 || value > 1024) return std::nullopt;
  return value;
}

std::optional<std::string> applyThreadSetting() {
  const char* text = std::getenv("VELLUMAR_THREADS");
  if (text == nullptr) return std::nullopt;
  const std::optional<unsigned> threads = parseThreadCount(text);
  if (!threads) return std::string(text);
  setThreadLimit(*threads);
  return std::nullopt;
}

namespace detail {

bool runBlocks(std::size_t n, const Blocking& blocking, ProgressPacer& pacer, void* context,
               BlockTask task) {
  const std::size_t block = std::max<std::size_t>(1, blocking.block);
  if (n <= block || n < blocking.leastParallel || threadLimit() == 1) {
    return runSerially(n, block, pacer, context, task);
  }
  return ParallelLoop(n, Blocking{block, 0}, pacer, context, task).run();
}

}  // namespace detail
}  // namespace vellumar::parallel
