#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace vellumar {

// Reads a whole file as bytes; nullopt when it cannot be opened or read, or is larger than
// maxBytes.
std::optional<std::string> readWholeFile(const std::string& path,
                                         std::size_t maxBytes = std::size_t(1) << 34);

// A file written beside its target and renamed into place on commit, so that a failed or
// abandoned save never destroys the file that was there. Several AtomicFiles can be written and
// then committed together (a line file with its value file).
class AtomicFile {
 public:
  explicit AtomicFile(std::string target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Opens the temporary file for binary writing; false when it cannot be created.
  bool open();
  std::FILE* stream() const { return stream_; }
  bool write(const std::string& bytes);
  // Flushes and closes the temporary file; false on any write error (the file is then removed).
  bool finish();
  // Renames the finished temporary file over the target; false on failure.
  bool commit();
  // Removes the temporary file if it was not committed.
  void abandon();

  const std::string& target() const { return target_; }
  const std::string& temporaryPath() const { return temporary_; }

 private:
  std::string target_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
  bool finished_ = false;
  bool committed_ = false;
};

// Writes bytes to path through an AtomicFile; false when anything failed (the old file stays).
bool writeFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace vellumar
