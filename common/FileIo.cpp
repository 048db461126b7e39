#include "common/FileIo.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace vellumar {

std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string bytes;
  char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got > 0) {
      if (bytes.size() + got > maxBytes) {
        ok = false;
        break;
      }
      bytes.append(buffer, got);
    }
    if (got < sizeof buffer) {
      ok = std::ferror(file) == 0;
      break;
    }
  }
  std::fclose(file);
  if (!ok) return std::nullopt;
  return bytes;
}

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
  static std::atomic<unsigned> counter{0};
  temporary_ = target_ + ".vellumar-" + std::to_string(getpid()) + "-" +
               std::to_string(counter.fetch_add(1)) + ".tmp";
}

AtomicFile::~AtomicFile() {
  abandon();
}

bool AtomicFile::open() {
  stream_ = std::fopen(temporary_.c_str(), "wb");
  return stream_ != nullptr;
}

bool AtomicFile::write(const std::string& bytes) {
  return stream_ != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size();
}

bool AtomicFile::finish() {
  if (stream_ == nullptr) return false;
  bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  ok = std::fclose(stream_) == 0 && ok;
  stream_ = nullptr;
  if (!ok) {
    std::remove(temporary_.c_str());
    return false;
  }
  finished_ = true;
  return true;
}

bool AtomicFile::commit() {
  if (!finished_ || committed_) return false;
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
  committed_ = true;
  return true;
}

void AtomicFile::abandon() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!committed_) std::remove(temporary_.c_str());
  finished_ = false;
}

bool writeFileAtomically(const std::string& path, const std::string& bytes) {
  AtomicFile file(path);
  return file.open() && file.write(bytes) && file.finish() && file.commit();
}

}  // namespace vellumar
