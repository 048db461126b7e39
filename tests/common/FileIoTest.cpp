#include "common/FileIo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <new>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>

#include "TestSupport.h"
#include "common/SafeSave.h"

namespace vellumar {
namespace {

using FileReading = testing::FolderTest;

TEST_F(FileReading, ReadsRegularFilesWholeWithTheirStampAndRefusesOthersAtOnce) {
  ASSERT_TRUE(writeFileAtomically(path("a.txt"), "alpha\nbeta\n"));
  std::string bytes;
  FileStamp stamp;
  ASSERT_EQ(readFile(path("a.txt"), bytes, &stamp), FileError::None);
  EXPECT_EQ(bytes, "alpha\nbeta\n");
  EXPECT_EQ(std::tuple(stamp.known, stamp.size, stamp.hash),
            std::tuple(true, 11u, hashBytes(bytes)));

  // The same size and the same modification time, other bytes: the hash tells them apart.
  ASSERT_TRUE(writeFileAtomically(path("b.txt"), "alpha\nbetA\n"));
  struct stat info {};
  ASSERT_EQ(stat(path("a.txt").c_str(), &info), 0);
  const timespec times[2] = {info.st_atim, info.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path("b.txt").c_str(), times, 0), 0);
  FileStamp other;
  ASSERT_EQ(readFile(path("b.txt"), bytes, &other), FileError::None);
  EXPECT_EQ(std::pair(other.size, other.modifiedNs), std::pair(stamp.size, stamp.modifiedNs));
  EXPECT_FALSE(other == stamp);
  FileStamp again;
  ASSERT_EQ(readFile(path("a.txt"), bytes, &again), FileError::None);
  EXPECT_TRUE(again == stamp);

  EXPECT_EQ(readFile(path("missing/x.txt"), bytes), FileError::Missing);
  EXPECT_EQ(bytes, "alpha\nbeta\n");  // untouched by failures

  // What is not a regular file is refused at once: none of these may block or read on forever, a
  // FIFO without a writer, endless devices, a folder.
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
  FileBytes fileBytes;
  for (const std::string& special :
       {path("fifo"), std::string("/dev/zero"), std::string("/dev/urandom"), dir_.string()}) {
    EXPECT_EQ(readFile(special, bytes), FileError::NotRegularFile) << special;
    EXPECT_EQ(readFile(special, fileBytes), FileError::NotRegularFile) << special;
    EXPECT_EQ(checkRegularFile(special), FileError::NotRegularFile) << special;
  }
  EXPECT_FALSE(readWholeFile(path("fifo")).has_value());
  EXPECT_EQ(checkRegularFile(path("nothing")), FileError::Missing);
  // Nor is such a file locked.
  EXPECT_EQ(FileLock().lock(path("fifo")), FileError::NotRegularFile);
  EXPECT_EQ(FileLock().lock(path("nothing")), FileError::Missing);
}

TEST_F(FileReading, FileBytesOfEverySizeAroundAHugePageAndFailuresKeepThePrevious) {
  // A large file's buffer is rounded up to whole huge pages: the bytes seen are still the file's,
  // no more, whether the file fills its last huge page, misses it by a byte or spills into one.
  const std::size_t huge = std::size_t(1) << 21;
  FileBytes bytes;
  std::string text;
  for (const std::size_t size : {huge - 1, huge, huge + 1, 3 * huge + 4097}) {
    text.assign(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
      text[i] = static_cast<char>('A' + (i * 31 + i / 4096) % 26);
    ASSERT_TRUE(writeFileAtomically(path("sized.txt"), text));
    FileStamp stamp;
    ASSERT_EQ(readFile(path("sized.txt"), bytes, &stamp), FileError::None) << size;
    EXPECT_TRUE(bytes.view() == text) << size;
    EXPECT_EQ(std::pair(stamp.size, stamp.hash), std::pair(size, hashBytes(text)));
  }

  EXPECT_EQ(readFile(path("none"), bytes), FileError::Missing);
  EXPECT_THROW((void)readFile(path("sized.txt"), bytes, nullptr, 1000), std::bad_alloc);
  EXPECT_TRUE(bytes.view() == text);  // failures leave the bytes read before

  // Small files are read into a plain buffer.
  for (const std::string small : {"small\n", ""}) {
    ASSERT_TRUE(writeFileAtomically(path("small.txt"), small));
    ASSERT_EQ(readFile(path("small.txt"), bytes), FileError::None);
    EXPECT_EQ(bytes.view(), small);
  }
}

TEST_F(FileReading, FileWindowsWalkTheFileGrowOnlyWhenAskedAndRefuseAChangedSize) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(writeFileAtomically(path("a.txt"), text));
  FileWindows file;
  ASSERT_EQ(file.open(path("a.txt")), FileError::None);
  EXPECT_EQ(file.size(), text.size());
  EXPECT_TRUE(file.window().empty());
  // Windows of 30000 bytes, each keeping the last 1000 bytes of the one before.
  std::string seen;
  ASSERT_EQ(file.advance(0, 30000), FileError::None);
  for (;;) {
    EXPECT_EQ(file.window(), std::string_view(text).substr(file.offset(), file.window().size()));
    const bool end = file.atEnd();
    const std::size_t consumed = end ? file.window().size() : file.window().size() - 1000;
    seen += file.window().substr(0, consumed);
    if (end) break;
    ASSERT_EQ(file.advance(consumed, 30000), FileError::None);
    ASSERT_GE(file.window().size(), std::min<std::size_t>(30000, text.size() - file.offset()));
  }
  EXPECT_EQ(seen, text);
  // A wider window than the buffer had keeps what was held.
  ASSERT_EQ(file.open(path("a.txt")), FileError::None);
  ASSERT_EQ(file.advance(0, 10), FileError::None);
  ASSERT_EQ(file.advance(5, 60000), FileError::None);
  EXPECT_EQ(file.window(), std::string_view(text).substr(5, 60000));

  EXPECT_EQ(file.open(path("none")), FileError::Missing);
  EXPECT_EQ(file.open(dir_.string()), FileError::NotRegularFile);
  EXPECT_EQ(file.advance(0, 10), FileError::ReadFailed);  // nothing open

  // A file that changed its size is refused.
  ASSERT_TRUE(writeFileAtomically(path("a.txt"), std::string(50000, 'x')));
  for (const off_t size : {off_t{20000}, off_t{80000}}) {
    ASSERT_EQ(file.open(path("a.txt")), FileError::None);
    ASSERT_EQ(file.advance(0, 10000), FileError::None);
    ASSERT_EQ(truncate(path("a.txt").c_str(), size), 0);
    // Cut short: the bytes the opened size promised are missing. Grown: bytes beyond it appear.
    EXPECT_EQ(file.advance(10000, 100000), FileError::ReadFailed) << size;
    ASSERT_EQ(truncate(path("a.txt").c_str(), 50000), 0);
  }
}

TEST_F(FileReading, FilesLargerThanTheUsableMemoryAreRefused) {
  ASSERT_TRUE(writeFileAtomically(path("big.txt"), std::string(3 << 20, 'x')));
  ASSERT_TRUE(writeFileAtomically(path("small.txt"), "small"));
  setenv("VELLUMAR_MEMORY_LIMIT", "1M", 1);
  std::string bytes;
  EXPECT_THROW((void)readFile(path("big.txt"), bytes), std::bad_alloc);
  EXPECT_FALSE(readWholeFile(path("big.txt")).has_value());
  EXPECT_EQ(readFile(path("small.txt"), bytes), FileError::None);
  unsetenv("VELLUMAR_MEMORY_LIMIT");
  EXPECT_EQ(readFile(path("big.txt"), bytes), FileError::None);
  EXPECT_THROW((void)readFile(path("small.txt"), bytes, nullptr, 4), std::bad_alloc);
}

}  // namespace
}  // namespace vellumar
