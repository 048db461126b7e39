#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vellumar {

// Reading files whole. Only regular files are read: a FIFO, a device or a directory is refused at
// once (never opened for a read that could block or run on forever), and no more than the size
// the file had when it was opened is ever read. A file larger than the memory the program may use
// (common/Memory.h) is not a file error: its read throws std::bad_alloc, which the guards at the
// engine's boundary turn into the out-of-memory message. See common/SafeSave.h for writing.

enum class [[nodiscard]] FileError{
    None,
    Missing,         // nothing exists at the path
    CannotOpen,      // the file exists but cannot be opened (permissions, a broken path)
    NotRegularFile,  // a FIFO, device, socket or directory
    ReadFailed,      // a read error, or the file changed its size while it was read
};

// What a file held when it was read: its size, its modification time and a hash of its bytes.
// Two stamps of the same path differ when the file was written in between.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::uint64_t hash = 0;
  bool known = false;

  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// A fast hash of bytes (not cryptographic: it tells changed contents apart, nothing more).
std::uint64_t hashBytes(std::string_view bytes);
FileStamp makeStamp(std::string_view bytes, std::int64_t modifiedNs);

// The bytes of a whole file, read into a buffer written once, by the read itself (never
// zero-filled first); a large file's buffer takes whole huge pages. A copy rather than a mapping:
// the pages of a mapping are each faulted in on first use, which costs more than the copy on a
// virtual machine, and a file cut short by another program while it is parsed would crash the
// reader of a mapping. Move-only; an empty object views no bytes.
class FileBytes {
 public:
  std::string_view view() const { return {data_.get(), size_}; }
  std::size_t size() const { return size_; }

 private:
  friend FileError readFile(const std::string&, FileBytes&, FileStamp*, std::uint64_t);
  // Frees a buffer allocated with the given alignment.
  struct Release {
    std::size_t alignment;
    void operator()(const char* bytes) const;
  };
  std::unique_ptr<const char, Release> data_;
  std::size_t size_ = 0;
};

// Reads the regular file at path whole. stamp, when given, receives the file's stamp. Files
// larger than maxBytes or than the usable memory throw std::bad_alloc. On failure bytes is
// unchanged.
FileError readFile(const std::string& path, FileBytes& bytes, FileStamp* stamp = nullptr,
                   std::uint64_t maxBytes = std::uint64_t(1) << 40);
// The same into a string, for small files whose text is kept.
FileError readFile(const std::string& path, std::string& bytes, FileStamp* stamp = nullptr,
                   std::uint64_t maxBytes = std::uint64_t(1) << 40);
// The same, with every failure as nullopt, a file too large to hold included: for files the
// caller can go on without.
std::optional<std::string> readWholeFile(const std::string& path,
                                         std::uint64_t maxBytes = std::uint64_t(1) << 40);

// A regular file read front to back a window at a time, for readers that never need the whole
// file at once: memory stays bounded by the widest window asked for, and no page is written
// twice. The same files are refused as by readFile, and no more than the size the file had when
// it was opened is read; a file that shrank or grew meanwhile gives ReadFailed.
class FileWindows {
 public:
  FileWindows() = default;
  ~FileWindows();
  FileWindows(const FileWindows&) = delete;
  FileWindows& operator=(const FileWindows&) = delete;

  // Opens path; the window is empty until the first advance.
  FileError open(const std::string& path);
  // The size the file had when it was opened.
  std::uint64_t size() const { return size_; }
  // The bytes held, from file offset offset() on.
  std::string_view window() const { return {buffer_.get(), held_}; }
  std::uint64_t offset() const { return offset_; }
  // Whether the window reaches the end of the file.
  bool atEnd() const { return offset_ + held_ == size_; }
  // Drops the first `consumed` bytes of the window and reads on until it holds at least `least`
  // bytes or reaches the end of the file. std::bad_alloc when the buffer cannot grow to `least`.
  FileError advance(std::size_t consumed, std::size_t least);

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::uint64_t offset_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t held_ = 0;
};

// Missing, NotRegularFile or CannotOpen for what readFile would refuse before reading; None for a
// regular file that exists (whether it can be opened is not tried).
FileError checkRegularFile(const std::string& path);

// The folder of a path ("." for a bare name, "/" at the root).
std::string folderOf(const std::string& path);
// The descriptor a name designates: 0, 1 and 2 for /dev/stdin, /dev/stdout and /dev/stderr, N
// for /dev/fd/N, /proc/self/fd/N, /proc/thread-self/fd/N and /proc/PID/fd/N of this process;
// -1 for every other path. Whether the descriptor is open is not checked.
int descriptorNamed(const std::string& path);
// The file a path names after following symbolic links in its last component; the path itself
// when it is not a link or does not exist. Empty for a loop of links. A link that names a
// descriptor (descriptorNamed) is where following stops: what that link leads to is the file the
// descriptor has open, which only the descriptor reaches as it stands (its offset, its append
// mode; a pipe has no name at all).
std::string followLinks(const std::string& path);
// Syncs the folder of path (its entries); true where the file system cannot sync folders.
bool syncFolder(const std::string& path);

// An exclusive advisory lock (flock) on the file a path names, held until the object is
// destroyed. While one process waited for the lock another may have replaced the file (a save
// renames a new file over the old one): the lock is then taken again on the file the path names
// now, so the holder always has the current file.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits for the lock; an error when the path is not a regular file that can be opened.
  FileError lock(const std::string& path);
  // The whole locked file with its stamp.
  FileError read(std::string& bytes, FileStamp& stamp) const;

 private:
  int fd_ = -1;
};

}  // namespace vellumar
