#include "common/FileIo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "common/Memory.h"

namespace vellumar {
namespace {

FileError openError(int error) {
  return error == ENOENT || error == ENOTDIR ? FileError::Missing : FileError::CannotOpen;
}

// Opens path for reading when it names a regular file. The kind is checked before opening, so
// that a FIFO is never opened (that alone would wait for a writer), and again on the descriptor.
FileError openRegular(const std::string& path, int& fd, struct stat& info) {
  struct stat before {};
  if (stat(path.c_str(), &before) != 0) return openError(errno);
  if (!S_ISREG(before.st_mode)) return FileError::NotRegularFile;
  fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return openError(errno);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    fd = -1;
    return FileError::NotRegularFile;
  }
  return FileError::None;
}

// pread that retries interrupted calls.
ssize_t readAt(int fd, char* buffer, std::size_t count, off_t offset) {
  for (;;) {
    const ssize_t got = pread(fd, buffer, count, offset);
    if (got >= 0 || errno != EINTR) return got;
  }
}

std::int64_t modifiedNs(const struct stat& info) {
  return std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// Reads exactly the size the file had when it was opened; a file that shrank or grew meanwhile
// was being written and is not trusted.
// allocate(size) returns the buffer to fill; it may throw std::bad_alloc, as does a file larger
// than maxBytes or than the usable memory.
template <class Allocate>
FileError readOpened(int fd, const struct stat& info, Allocate&& allocate, FileStamp* stamp,
                     std::uint64_t maxBytes) {
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size > maxBytes || size > std::uint64_t(PTRDIFF_MAX)) throw std::bad_alloc();
  memory::require(size);
  char* buffer = allocate(static_cast<std::size_t>(size));
  std::uint64_t done = 0;
  while (done < size) {
    const ssize_t got = readAt(fd, buffer + done, size - done, static_cast<off_t>(done));
    if (got <= 0) return FileError::ReadFailed;
    done += static_cast<std::uint64_t>(got);
  }
  char extra = 0;
  if (readAt(fd, &extra, 1, static_cast<off_t>(size)) != 0) return FileError::ReadFailed;
  if (stamp != nullptr) {
    *stamp = makeStamp(std::string_view(buffer, static_cast<std::size_t>(size)), modifiedNs(info));
  }
  return FileError::None;
}

// An allocate function for readOpened that sizes a string to hold the file.
auto sizing(std::string& target) {
  return [&target](std::size_t size) {
    target.resize(size);
    return target.data();
  };
}

// Closes a descriptor when its read ends, by a return or by std::bad_alloc.
struct ClosedOnExit {
  int fd;
  explicit ClosedOnExit(int descriptor) : fd(descriptor) {}
  ClosedOnExit(const ClosedOnExit&) = delete;
  ClosedOnExit& operator=(const ClosedOnExit&) = delete;
  ~ClosedOnExit() { close(fd); }
};

// Opens path and reads it with allocate.
template <class Allocate>
FileError readRegular(const std::string& path, Allocate&& allocate, FileStamp* stamp,
                      std::uint64_t maxBytes) {
  int fd = -1;
  struct stat info {};
  const FileError opened = openRegular(path, fd, info);
  if (opened != FileError::None) return opened;
  const ClosedOnExit closing{fd};
  return readOpened(fd, info, allocate, stamp, maxBytes);
}

std::uint64_t rotateLeft(std::uint64_t value, int bits) {
  return (value << bits) | (value >> (64 - bits));
}

}  // namespace

std::uint64_t hashBytes(std::string_view bytes) {
  // Four independent lanes over 32-byte blocks keep the multiplier busy (one chain would wait on
  // each multiplication), so stamping a large file costs little beside reading it.
  constexpr std::uint64_t kFactor = 0x9E3779B97F4A7C15ull;
  std::uint64_t lanes[4] = {(bytes.size() + 1) * kFactor, kFactor, 2 * kFactor, 3 * kFactor};
  std::size_t i = 0;
  for (; i + 32 <= bytes.size(); i += 32) {
    for (int k = 0; k < 4; ++k) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes.data() + i + 8 * k, 8);
      lanes[k] = (rotateLeft(lanes[k], 23) ^ word) * kFactor;
    }
  }
  std::uint64_t hash = lanes[0];
  for (int k = 1; k < 4; ++k) hash = (rotateLeft(hash, 23) ^ lanes[k]) * kFactor;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    hash = (rotateLeft(hash, 23) ^ word) * kFactor;
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
  hash = (rotateLeft(hash, 23) ^ tail) * kFactor;
  return hash ^ (hash >> 31);
}

FileStamp makeStamp(std::string_view bytes, std::int64_t modified) {
  return {bytes.size(), modified, hashBytes(bytes), true};
}

void FileBytes::Release::operator()(const char* bytes) const {
  ::operator delete (const_cast<char*>(bytes), std::align_val_t{alignment});
}

FileError readFile(const std::string& path, FileBytes& bytes, FileStamp* stamp,
                   std::uint64_t maxBytes) {
  FileBytes read;
  const auto allocate = [&read](std::size_t count) {
    // Not zero-filled: the read writes every byte. A large file takes whole huge pages, aligned,
    // so that it lands in as few pages as it can (see memory::adviseHugePages); its last one is
    // only partly used, for as long as the bytes are kept.
    constexpr std::size_t kHuge = memory::kHugePageBytes;
    const bool large = count >= kHuge;
    const std::size_t alignment = large ? kHuge : alignof(std::max_align_t);
    const std::size_t block = large ? (count + kHuge - 1) / kHuge * kHuge : count;
    auto* buffer = static_cast<char*>(::operator new (block, std::align_val_t{alignment}));
    read.data_ = {buffer, FileBytes::Release{alignment}};
    read.size_ = count;
    memory::adviseHugePages(buffer, block);
    return buffer;
  };
  const FileError error = readRegular(path, allocate, stamp, maxBytes);
  if (error == FileError::None) bytes = std::move(read);
  return error;
}

FileError readFile(const std::string& path, std::string& bytes, FileStamp* stamp,
                   std::uint64_t maxBytes) {
  std::string read;
  const FileError error = readRegular(path, sizing(read), stamp, maxBytes);
  if (error == FileError::None) bytes = std::move(read);
  return error;
}

std::optional<std::string> readWholeFile(const std::string& path, std::uint64_t maxBytes) {
  std::string bytes;
  try {
    if (readFile(path, bytes, nullptr, maxBytes) != FileError::None) return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  return bytes;
}

FileWindows::~FileWindows() {
  if (fd_ >= 0) close(fd_);
}

FileError FileWindows::open(const std::string& path) {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  offset_ = 0;
  held_ = 0;
  struct stat info {};
  const FileError opened = openRegular(path, fd_, info);
  if (opened != FileError::None) return opened;
  size_ = static_cast<std::uint64_t>(info.st_size);
  return FileError::None;
}

FileError FileWindows::advance(std::size_t consumed, std::size_t least) {
  if (fd_ < 0) return FileError::ReadFailed;
  consumed = std::min(consumed, held_);
  offset_ += consumed;
  held_ -= consumed;
  const std::uint64_t left = size_ - offset_;
  const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(least, left));
  if (wanted > capacity_) {
    memory::require(wanted);
    std::unique_ptr<char[]> wider(new char[wanted]);
    if (held_ != 0) std::memcpy(wider.get(), buffer_.get() + consumed, held_);
    buffer_ = std::move(wider);
    capacity_ = wanted;
  } else if (consumed != 0 && held_ != 0) {
    std::memmove(buffer_.get(), buffer_.get() + consumed, held_);
  }
  while (held_ < wanted) {
    const ssize_t got =
        readAt(fd_, buffer_.get() + held_, wanted - held_, static_cast<off_t>(offset_ + held_));
    if (got <= 0) return FileError::ReadFailed;
    held_ += static_cast<std::size_t>(got);
  }
  if (atEnd()) {
    char extra = 0;
    if (readAt(fd_, &extra, 1, static_cast<off_t>(size_)) != 0) return FileError::ReadFailed;
  }
  return FileError::None;
}

FileError checkRegularFile(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return openError(errno);
  return S_ISREG(info.st_mode) ? FileError::None : FileError::NotRegularFile;
}

FileLock::~FileLock() {
  if (fd_ >= 0) close(fd_);  // closing the descriptor releases the lock
}

FileError FileLock::lock(const std::string& path) {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  // Each retry means another process replaced the file while this one waited; a bound keeps a
  // pathological stream of replacements from holding the program forever.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    int fd = -1;
    struct stat opened {};
    const FileError error = openRegular(path, fd, opened);
    if (error != FileError::None) return error;
    int locked = flock(fd, LOCK_EX);
    while (locked != 0 && errno == EINTR) locked = flock(fd, LOCK_EX);
    if (locked != 0) {
      close(fd);
      return FileError::CannotOpen;
    }
    struct stat now {};
    if (stat(path.c_str(), &now) == 0 && now.st_dev == opened.st_dev &&
        now.st_ino == opened.st_ino) {
      fd_ = fd;
      return FileError::None;
    }
    close(fd);
  }
  return FileError::CannotOpen;
}

FileError FileLock::read(std::string& bytes, FileStamp& stamp) const {
  struct stat info {};
  if (fd_ < 0 || fstat(fd_, &info) != 0) return FileError::CannotOpen;
  std::string read;
  const FileError error = readOpened(fd_, info, sizing(read), &stamp, std::uint64_t(1) << 40);
  if (error == FileError::None) bytes = std::move(read);
  return error;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int descriptorNamed(const std::string& path) {
  static constexpr std::pair<std::string_view, int> kStreams[] = {
      {"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
  for (const auto& [name, fd] : kStreams) {
    if (path == name) return fd;
  }
  const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
  for (const std::string_view folder :
       {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
        std::string_view("/proc/thread-self/fd/"), std::string_view(own)}) {
    if (!path.starts_with(folder) || path.size() == folder.size()) continue;
    const char* end = path.data() + path.size();
    int fd = -1;
    const auto [stop, error] = std::from_chars(path.data() + folder.size(), end, fd);
    return error == std::errc() && stop == end && fd >= 0 ? fd : -1;
  }
  return -1;
}

std::string followLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (descriptorNamed(current) >= 0) return current;
    if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
    const ssize_t length = readlink(current.c_str(), link.data(), link.size());
    if (length < 0 || static_cast<std::size_t>(length) >= link.size()) return {};
    link.resize(static_cast<std::size_t>(length));
    current = link.front() == '/' ? link : folderOf(current) + "/" + link;
  }
  return {};
}

bool syncFolder(const std::string& path) {
  const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync folders
  close(fd);
  return ok;
}

}  // namespace vellumar
