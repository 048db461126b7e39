#include "common/SafeSave.h"

#include "common/CommitJournal.h"
#include "common/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace vellumar {
namespace {

std::atomic<int> faultAfterRenames{-1};
std::atomic<CommitFault> injectedFault{CommitFault::Kill};

// ---- Temporary files removed when a signal ends the program ---------------------------------
// The paths of the temporary files being written sit in fixed slots that a signal handler may
// read: it removes them, then lets the signal end the program as it would have.

constexpr std::size_t kSlots = 64;
constexpr std::size_t kPathBytes = 4096;
struct TemporarySlot {
  std::atomic<int> state{0};  // 0 free, 1 being filled or emptied, 2 holds a path
  char path[kPathBytes];
};
TemporarySlot temporarySlots[kSlots];

void removeTemporariesAndDie(int signal) {
  for (TemporarySlot& slot : temporarySlots) {
    if (slot.state.load(std::memory_order_acquire) == 2) unlink(slot.path);
  }
  std::signal(signal, SIG_DFL);
  raise(signal);
}

// Takes over SIGTERM, SIGHUP and SIGINT where they would end the program (a disposition the
// program or its parent chose, such as SIGHUP ignored by nohup, is left alone).
void installSignalCleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
      struct sigaction current {};
      if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
          (current.sa_flags & SA_SIGINFO) != 0) {
        continue;
      }
      struct sigaction cleanup {};
      cleanup.sa_handler = removeTemporariesAndDie;
      sigemptyset(&cleanup.sa_mask);
      sigaction(signal, &cleanup, nullptr);
    }
  });
}

// The slot now holding path; -1 when every slot is taken or the path is too long (the file is then
// left to the cleanup of orphans by a later save).
int registerTemporary(const std::string& path) {
  installSignalCleanup();
  if (path.size() >= kPathBytes) return -1;
  for (std::size_t k = 0; k < kSlots; ++k) {
    int expected = 0;
    if (!temporarySlots[k].state.compare_exchange_strong(expected, 1)) continue;
    path.copy(temporarySlots[k].path, path.size());
    temporarySlots[k].path[path.size()] = '\0';
    temporarySlots[k].state.store(2, std::memory_order_release);
    return static_cast<int>(k);
  }
  return -1;
}

void unregisterTemporary(int& slot) {
  if (slot >= 0) temporarySlots[static_cast<std::size_t>(slot)].state.store(0);
  slot = -1;
}

// A file size limit (ulimit -f) must give a write error, not kill the program with SIGXFSZ.
void ignoreFileSizeSignal() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

// The umask, read without changing it (the window saves while a worker may create files).
mode_t currentUmask() {
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask);
  }
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

// Character devices and FIFOs are written in place.
bool isStream(mode_t mode) {
  return S_ISCHR(mode) || S_ISFIFO(mode);
}

}  // namespace

bool writesInPlace(const std::string& path) {
  const std::string destination = followLinks(path);
  if (destination.empty()) return false;
  struct stat info {};
  return descriptorNamed(destination) >= 0 ||
         (stat(destination.c_str(), &info) == 0 && isStream(info.st_mode));
}

SaveFile::SaveFile(std::string target, std::string temporarySuffix)
    : target_(std::move(target)), temporarySuffix_(std::move(temporarySuffix)) {}

SaveFile::~SaveFile() {
  abandon();
}

bool SaveFile::fail(SaveError error) {
  if (error_ == SaveError::None) error_ = error;
  abandon();
  return false;
}

RemovedOnSignal::RemovedOnSignal(const std::string& path) : slot_(registerTemporary(path)) {}

RemovedOnSignal::~RemovedOnSignal() {
  unregisterTemporary(slot_);
}

void SaveFile::abandon() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty() && !replaced_) unlink(temporary_.c_str());
  temporary_.clear();
  unregisterTemporary(signalSlot_);
}

bool SaveFile::open() {
  ignoreFileSizeSignal();
  destination_ = followLinks(target_);
  if (destination_.empty()) return fail(SaveError::NotRegularFile);
  if (const int named = descriptorNamed(destination_); named >= 0) return openDescriptor(named);
  struct stat info {};
  if (stat(destination_.c_str(), &info) == 0) {
    if (isStream(info.st_mode)) return openStream();
    if (!S_ISREG(info.st_mode)) return fail(SaveError::NotRegularFile);
    if (faccessat(AT_FDCWD, destination_.c_str(), W_OK, AT_EACCESS) != 0) {
      return fail(SaveError::NotWritable);
    }
    existed_ = true;
    oldDevice_ = info.st_dev;
    oldInode_ = info.st_ino;
    oldMode_ = info.st_mode;
    oldOwner_ = info.st_uid;
    oldGroup_ = info.st_gid;
  } else if (errno != ENOENT) {
    return fail(SaveError::CannotCreate);
  }
  removeOrphans(destination_);
  std::string name = hiddenPrefix(folderOf(destination_)) + "XXXXXX" + temporarySuffix_;
  fd_ = mkostemps(name.data(), static_cast<int>(temporarySuffix_.size()), O_CLOEXEC);
  if (fd_ < 0) return fail(SaveError::CannotCreate);
  temporary_ = std::move(name);
  signalSlot_ = registerTemporary(temporary_);
  return true;
}

// A descriptor is written through a duplicate, so the write goes where the descriptor stands;
// reopening its name would start a regular file anew at its first byte.
bool SaveFile::openDescriptor(int named) {
  const int flags = fcntl(named, F_GETFL);
  if (flags < 0) return fail(SaveError::CannotCreate);
  if ((flags & O_ACCMODE) == O_RDONLY) return fail(SaveError::NotWritable);
  fd_ = fcntl(named, F_DUPFD_CLOEXEC, 0);
  if (fd_ < 0) return fail(SaveError::CannotCreate);
  inPlace_ = true;
  return true;
}

bool SaveFile::openStream() {
  fd_ = ::open(destination_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) {
    return fail(errno == EACCES || errno == EPERM || errno == EROFS ? SaveError::NotWritable
                                                                    : SaveError::CannotCreate);
  }
  // A regular file put in the device's place since it was looked at is not written in place.
  struct stat info {};
  if (fstat(fd_, &info) != 0 || !isStream(info.st_mode)) return fail(SaveError::NotRegularFile);
  inPlace_ = true;
  return true;
}

bool SaveFile::write(std::string_view bytes) {
  if (fd_ < 0 || finished_) return fail(SaveError::WriteFailed);
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return fail(SaveError::WriteFailed);
    bytes.remove_prefix(static_cast<std::size_t>(written));
    size_ += static_cast<std::uint64_t>(written);
  }
  return true;
}

bool SaveFile::vacateForLibrary() {
  if (temporary_.empty() || finished_ || fd_ < 0) return fail(SaveError::CannotCreate);
  close(fd_);
  fd_ = -1;
  if (unlink(temporary_.c_str()) != 0) return fail(SaveError::CannotCreate);
  return true;
}

bool SaveFile::adoptLibraryWrite() {
  if (temporary_.empty() || finished_) return fail(SaveError::WriteFailed);
  if (fd_ >= 0) close(fd_);
  fd_ = ::open(temporary_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) return fail(SaveError::WriteFailed);
  struct stat info {};
  if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return fail(SaveError::WriteFailed);
  return true;
}

void SaveFile::applyOwnerAndMode() {
  if (!existed_) {
    fchmod(fd_, 0666 & ~currentUmask());
    return;
  }
  // The owner first, as changing it may clear mode bits. Set-id bits are not carried over: the
  // program writes data, never programs, and must not hand out privileges with them.
  struct stat now {};
  if (fstat(fd_, &now) == 0 && (now.st_uid != oldOwner_ || now.st_gid != oldGroup_)) {
    if (fchown(fd_, oldOwner_, oldGroup_) != 0 && now.st_gid != oldGroup_) {
      // A user may give the file a group of their own even when the owner cannot change.
      [[maybe_unused]] const int ignored = fchown(fd_, static_cast<uid_t>(-1), oldGroup_);
    }
  }
  fchmod(fd_, static_cast<mode_t>(oldMode_ & (0777 | S_ISVTX)));
}

bool SaveFile::finish() {
  if (finished_) return true;
  if (fd_ < 0) return fail(SaveError::WriteFailed);
  if (inPlace_) {
    // A stream is not synced (pipes and most devices cannot be); its size is what was written.
    const int closed = close(fd_);
    fd_ = -1;
    finished_ = closed == 0;
    return finished_ || fail(SaveError::WriteFailed);
  }
  applyOwnerAndMode();
  struct stat info {};
  if (fsync(fd_) != 0 || fstat(fd_, &info) != 0) return fail(SaveError::WriteFailed);
  const int closed = close(fd_);
  fd_ = -1;
  if (closed != 0) return fail(SaveError::WriteFailed);
  size_ = static_cast<std::uint64_t>(info.st_size);
  newDevice_ = static_cast<std::uint64_t>(info.st_dev);
  newInode_ = static_cast<std::uint64_t>(info.st_ino);
  modifiedNs_ = std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  finished_ = true;
  return true;
}

bool SaveFile::replaceTarget() {
  if (inPlace_ && finished_) return true;  // a stream holds its content already
  if (!finished_ || temporary_.empty()) return fail(SaveError::RenameFailed);
  if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    return fail(SaveError::RenameFailed);
  }
  replaced_ = true;
  temporary_.clear();
  unregisterTemporary(signalSlot_);
  // The rename is done; a folder that cannot be synced does not undo it.
  syncFolder(destination_);
  return true;
}

bool SaveFile::commit() {
  return finish() && replaceTarget();
}

bool SaveFile::sameExistingFile(const SaveFile& other) const {
  return existed_ && other.existed_ && oldDevice_ == other.oldDevice_ &&
         oldInode_ == other.oldInode_;
}

SaveFile& SaveSet::add(std::string target) {
  files_.push_back(std::make_unique<SaveFile>(std::move(target)));
  return *files_.back();
}

bool SaveSet::fail(SaveError error) {
  if (error_ == SaveError::None) error_ = error;
  for (const auto& file : files_) file->abandon();
  return false;
}

bool SaveSet::open() {
  // An unfinished commit of this set is rolled back before anything else.
  if (!files_.empty()) recoverInterruptedSave(files_.back()->target());
  for (std::size_t i = 0; i < files_.size(); ++i) {
    SaveFile& file = *files_[i];
    // Checked before opening, which for a FIFO would wait for a reader.
    if (writesInPlace(file.target())) return fail(SaveError::StreamTarget);
    if (!file.open()) return fail(file.error());
    if (file.inPlace()) return fail(SaveError::StreamTarget);
    for (std::size_t j = 0; j < i; ++j) {
      if (files_[j]->destination() == file.destination() || files_[j]->sameExistingFile(file)) {
        return fail(SaveError::SameFile);
      }
    }
  }
  return true;
}

bool SaveSet::commit() {
  for (const auto& file : files_) {
    if (!file->finish()) return fail(file->error());
  }
  if (files_.empty()) return true;
  // One file needs no journal: its rename alone is all or nothing.
  if (files_.size() == 1) {
    if (faultAfterRenames.load() == 0) {
      return fail(injectedFault.load() == CommitFault::Kill ? SaveError::Stopped
                                                            : SaveError::RenameFailed);
    }
    return files_[0]->replaceTarget() || fail(files_[0]->error());
  }
  CommitJournal journal(journalPathOf(files_.back()->destination()));
  if (!journal.locked()) return fail(SaveError::Locked);
  std::vector<JournalEntry> entries;
  const auto dropBackups = [&] {
    for (const JournalEntry& e : entries) {
      if (!e.backup.empty()) unlink(e.backup.c_str());
    }
  };
  for (const auto& file : files_) {
    JournalEntry& e = entries.emplace_back();
    e.temporary = file->temporaryPath();
    e.device = file->newDevice();
    e.inode = file->newInode();
    e.destination = file->destination();
    if (file->existed() && (e.backup = backupOf(e.destination)).empty()) {
      dropBackups();
      return fail(SaveError::CannotCreate);
    }
  }
  if (!journal.record(entries)) {
    dropBackups();
    return fail(SaveError::WriteFailed);
  }
  const int faultAfter = faultAfterRenames.load();
  for (std::size_t k = 0; k < files_.size(); ++k) {
    const bool faulty = faultAfter >= 0 && k == static_cast<std::size_t>(faultAfter);
    if (faulty && injectedFault.load() == CommitFault::Kill) {
      journal.abandon();
      return fail(SaveError::Stopped);
    }
    if (faulty || !files_[k]->replaceTarget()) {
      journal.rollBack(entries);
      return fail(faulty ? SaveError::RenameFailed : files_[k]->error());
    }
  }
  journal.complete(entries);
  return true;
}

SaveError saveFile(const std::string& path, std::string_view bytes) {
  SaveFile file(path);
  const bool saved = file.open() && file.write(bytes) && file.commit();
  return saved ? SaveError::None : file.error();
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
  return saveFile(path, bytes) == SaveError::None;
}

void injectCommitFault(int renames, CommitFault fault) {
  injectedFault = fault;
  faultAfterRenames = renames;
}

}  // namespace vellumar
