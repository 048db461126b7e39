#include "common/CommitJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <random>
#include <string_view>

#include "common/FileIo.h"

namespace vellumar {
namespace {

constexpr const char* kHeader = "vellumar-journal 1\n";
constexpr const char* kEnd = "end\n";
constexpr const char* kJournalSuffix = ".vellumar-journal";

std::string nameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// ---- The journal's text: a header, one line per entry, and an end line; every path is written as
// its length, a colon and its bytes, so that no name can break the format. ----

void appendField(std::string& out, const std::string& text) {
  out += std::to_string(text.size());
  out += ':';
  out += text;
}

std::string formatEntries(const std::vector<JournalEntry>& entries) {
  std::string out = kHeader;
  for (const JournalEntry& e : entries) {
    out += std::to_string(e.device) + ' ' + std::to_string(e.inode) + ' ';
    appendField(out, e.temporary);
    out += ' ';
    appendField(out, e.destination);
    out += ' ';
    appendField(out, e.backup);
    out += '\n';
  }
  return out + kEnd;
}

class JournalReader {
 public:
  explicit JournalReader(const std::string& text) : text_(text) {}

  // The entries of a complete journal; false for one that a commit was still writing (no rename
  // had happened then) or that is damaged.
  bool read(std::vector<JournalEntry>& entries) {
    if (text_.compare(0, std::string(kHeader).size(), kHeader) != 0) return false;
    at_ = std::string(kHeader).size();
    while (text_.compare(at_, std::string::npos, kEnd) != 0) {
      JournalEntry e;
      if (!number(e.device) || !expect(' ') || !number(e.inode) || !expect(' ') ||
          !field(e.temporary) || !expect(' ') || !field(e.destination) || !expect(' ') ||
          !field(e.backup) || !expect('\n')) {
        return false;
      }
      entries.push_back(std::move(e));
    }
    return true;
  }

 private:
  bool expect(char c) { return at_ < text_.size() && text_[at_++] == c; }
  bool number(std::uint64_t& value) {
    const std::size_t start = at_;
    value = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9' && at_ - start < 20)
      value = value * 10 + static_cast<std::uint64_t>(text_[at_++] - '0');
    return at_ > start;
  }
  bool field(std::string& out) {
    std::uint64_t length = 0;
    if (!number(length) || !expect(':') || length > text_.size() - at_) return false;
    out = text_.substr(at_, static_cast<std::size_t>(length));
    at_ += static_cast<std::size_t>(length);
    return true;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

// Opens the journal and takes its lock, waiting for another commit to end. The file is checked to
// still be the one at the path once locked: a commit that ended meanwhile removed it.
int lockJournal(const std::string& path, bool create) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) return -1;
    int locked = 0;
    while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    struct stat held {};
    struct stat named {};
    if (locked == 0 && fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return fd;
    }
    close(fd);
    if (!create && !exists(path)) return -1;
  }
  return -1;
}

// Whether the file at path is the new file the entry recorded.
bool isNewFile(const std::string& path, const JournalEntry& e) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && static_cast<std::uint64_t>(info.st_dev) == e.device &&
         static_cast<std::uint64_t>(info.st_ino) == e.inode;
}

// Puts one target back as it was before the commit; false when that failed.
bool restore(const JournalEntry& e) {
  if (!e.temporary.empty()) unlink(e.temporary.c_str());
  if (!e.backup.empty()) {
    struct stat backup {};
    struct stat now {};
    if (stat(e.backup.c_str(), &backup) != 0) return true;  // already put back
    // Not replaced yet: the backup is a second link to the old file (a rename between two links of
    // one file would do nothing and leave both).
    if (stat(e.destination.c_str(), &now) == 0 && now.st_dev == backup.st_dev &&
        now.st_ino == backup.st_ino) {
      return unlink(e.backup.c_str()) == 0;
    }
    return std::rename(e.backup.c_str(), e.destination.c_str()) == 0;
  }
  if (isNewFile(e.destination, e)) return unlink(e.destination.c_str()) == 0;
  return true;
}

// Rolls back what the journal open on fd records, and empties it when all went back (it is kept for
// another try otherwise). A journal without its end line was still being written, so nothing was
// renamed: it is emptied, and the temporary files and backups of its dead writer are orphans.
void recoverFrom(int fd, const std::string& path) {
  std::string text;
  if (readFile(path, text) != FileError::None || text.empty()) return;
  std::vector<JournalEntry> entries;
  bool restored = true;
  if (JournalReader(text).read(entries)) {
    for (const JournalEntry& e : entries) restored = restore(e) && restored;
  }
  if (!restored) return;
  syncFolder(path);
  if (ftruncate(fd, 0) == 0) fsync(fd);
}

// Whether the process has ended: no such process, or a zombie. A process killed after its parent
// ended is left a zombie where nothing reaps the orphans (a container whose first process is
// not an init, as the ranks of an interrupted mpirun are); its files are no longer in use.
bool processGone(long pid) {
  if (pid <= 0) return false;
  if (kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
  char name[32];
  std::snprintf(name, sizeof name, "/proc/%ld/stat", pid);
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char stat[512];
  const ssize_t got = ::read(fd, stat, sizeof stat - 1);
  ::close(fd);
  if (got <= 0) return false;
  // "pid (name) state ...": the name may hold anything, so the state follows its last ')'.
  const std::string_view text(stat, static_cast<std::size_t>(got));
  const std::size_t close = text.rfind(')');
  return close != std::string_view::npos && text.substr(close).starts_with(") Z");
}

// The process id in a hidden file's name ".vellumar-PID-XXXXXX"; 0 when it has none.
long hiddenFilePid(const char* name) {
  static constexpr char kPrefix[] = ".vellumar-";
  if (std::string_view(name).substr(0, sizeof kPrefix - 1) != kPrefix) return 0;
  long pid = 0;
  int used = 0;
  if (std::sscanf(name + sizeof kPrefix - 1, "%ld-%n", &pid, &used) != 1 || used == 0) return 0;
  return pid;
}

bool copyFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool ok = out >= 0;
  char buffer[1 << 16];
  while (ok) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      const ssize_t put = write(out, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      ok = put > 0;
      done += put;
    }
  }
  ok = ok && fsync(out) == 0;
  close(in);
  if (out >= 0 && close(out) != 0) ok = false;
  if (!ok && out >= 0) unlink(to.c_str());
  return ok;
}

}  // namespace

std::string journalPathOf(const std::string& target) {
  const std::string file = followLinks(target);
  const std::string& resolved = file.empty() ? target : file;
  return folderOf(resolved) + "/." + nameOf(resolved) + kJournalSuffix;
}

std::string hiddenPrefix(const std::string& folder) {
  return folder + "/.vellumar-" + std::to_string(static_cast<long>(getpid())) + "-";
}

CommitJournal::CommitJournal(std::string path) : path_(std::move(path)) {
  fd_ = lockJournal(path_, true);
  if (fd_ >= 0) recoverFrom(fd_, path_);
}

CommitJournal::~CommitJournal() {
  if (fd_ >= 0) remove();
}

bool CommitJournal::record(const std::vector<JournalEntry>& entries) {
  if (fd_ < 0) return false;
  const std::string text = formatEntries(entries);
  if (ftruncate(fd_, 0) != 0) return false;
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t put =
        pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return fsync(fd_) == 0 && syncFolder(path_);
}

bool CommitJournal::rollBack(const std::vector<JournalEntry>& entries) {
  bool restored = true;
  for (const JournalEntry& e : entries) restored = restore(e) && restored;
  syncFolder(path_);
  if (restored) {
    remove();
  } else {
    abandon();
  }
  return restored;
}

void CommitJournal::complete(const std::vector<JournalEntry>& entries) {
  remove();
  for (const JournalEntry& e : entries) {
    if (!e.backup.empty()) unlink(e.backup.c_str());
  }
}

void CommitJournal::abandon() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void CommitJournal::remove() {
  unlink(path_.c_str());
  syncFolder(path_);
  abandon();
}

void recoverInterruptedSave(const std::string& target) {
  const std::string path = journalPathOf(target);
  if (!exists(path)) return;
  const int fd = lockJournal(path, false);
  if (fd < 0) return;
  recoverFrom(fd, path);
  // An empty journal is a lock file a commit left; a kept one awaits another try.
  struct stat info {};
  if (fstat(fd, &info) == 0 && info.st_size == 0) unlink(path.c_str());
  close(fd);
}

std::string backupOf(const std::string& path) {
  std::mt19937_64 random{std::random_device{}()};
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = hiddenPrefix(folderOf(path));
    for (int k = 0; k < 6; ++k) name += kLetters[random() % (sizeof kLetters - 1)];
    if (link(path.c_str(), name.c_str()) == 0) return name;
    if (errno == EEXIST) continue;
    if (errno == ENOENT || errno == EACCES || errno == EROFS || errno == ENOSPC) return {};
    // A file system without hard links gets a copy.
    if (copyFile(path, name)) return name;
    if (errno != EEXIST) return {};
  }
  return {};
}

void removeOrphans(const std::string& path) {
  const std::string folder = folderOf(path);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> orphans;
  bool unfinished = false;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.ends_with(kJournalSuffix)) {
      struct stat info {};
      unfinished |= stat((folder + "/" + name).c_str(), &info) == 0 && info.st_size > 0;
    } else if (processGone(hiddenFilePid(entry->d_name))) {
      orphans.push_back(folder + "/" + name);
    }
  }
  closedir(dir);
  if (unfinished) return;
  for (const std::string& orphan : orphans) unlink(orphan.c_str());
}

}  // namespace vellumar
