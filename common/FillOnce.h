#pragma once

#include <atomic>
#include <mutex>

namespace vellumar {

// Makes something once, on first use, by whichever thread asks first, as std::call_once does;
// a making that throws leaves it unmade, and the next call makes it again. std::call_once
// promises that too, but under ThreadSanitizer its pthread_once never lets go of a call that
// threw, and the next call waits forever: a cancelled spline solve or polygon check is such a
// call, and must be made again by the next operation that needs it.
class FillOnce {
 public:
  template <class Make>
  void operator()(Make&& make) {
    if (done_.load(std::memory_order_acquire)) return;
    const std::lock_guard lock(mutex_);
    if (done_.load(std::memory_order_relaxed)) return;
    make();
    done_.store(true, std::memory_order_release);
  }
  bool done() const { return done_.load(std::memory_order_acquire); }

 private:
  std::mutex mutex_;
  std::atomic<bool> done_{false};
};

}  // namespace vellumar
