#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/ErrorSink.h"
#include "common/FileIo.h"

namespace vellumar::testing {

// A test with a fresh folder of its own, removed afterwards with whatever the test left in it;
// the memory limit a test may set is lifted again.
class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vellumar-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    unsetenv("VELLUMAR_MEMORY_LIMIT");
    std::filesystem::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  // The bytes of a file in the folder; "<missing>" when it cannot be read.
  std::string fileText(const std::string& name) const {
    return readWholeFile(path(name)).value_or("<missing>");
  }
  // The names in the folder, sorted, and their number.
  std::vector<std::string> entryNames() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::size_t entryCount() const { return entryNames().size(); }

  std::filesystem::path dir_;
};

// The user "nobody", whom file permissions bind even when the tests run as root.
inline constexpr uid_t kNobody = 65534;

// Runs work in a child process, as the user nobody when asked (only root can switch), and returns
// the number it returned; -1 when the child did not end normally.
inline int inChild(const std::function<int()>& work, bool asNobody) {
  const pid_t child = fork();
  if (child == 0) {
    if (asNobody && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(100);
    _exit(work());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A progress observer that records every call, and cancels from report number cancelAt on (0:
// never); otherThread tells whether a report came from a thread other than the one that made it.
class RecordingObserver : public ProgressObserver {
 public:
  explicit RecordingObserver(std::size_t cancelAt = 0) : cancelAt_(cancelAt) {}
  void start(std::string_view caption, std::int64_t total) override {
    starts.emplace_back(std::string(caption), total);
  }
  bool step(std::int64_t done) override {
    steps.push_back(done);
    otherThread = otherThread || std::this_thread::get_id() != maker_;
    return cancelAt_ == 0 || steps.size() < cancelAt_;
  }
  void close() override { ++closes; }
  std::vector<std::pair<std::string, std::int64_t>> starts;
  std::vector<std::int64_t> steps;
  int closes = 0;
  bool otherThread = false;

 private:
  std::size_t cancelAt_;
  std::thread::id maker_ = std::this_thread::get_id();
};

}  // namespace vellumar::testing
