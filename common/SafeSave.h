#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellumar {

// The one way the program writes a file over another: every writer (grids, data files and their
// Zres append, line files with their value files, shapefiles, display files) saves through it.
//
// A save never destroys what was there until the new content is safely on disk:
//  - The new content goes to a temporary file beside the file it replaces, created exclusively
//    (O_CREAT | O_EXCL) under a short unpredictable name, so a link planted in the folder cannot
//    redirect the write and a 240-character target name still leaves room for it.
//  - A target that is a symbolic link is followed: the file it names is replaced, the link stays.
//  - A stream is written in place, never replaced: a character device (/dev/null, a terminal), a
//    FIFO, and a name of an open descriptor (/dev/stdout, /dev/fd/N, /proc/self/fd/N, or a link to
//    one). A descriptor is written as it stands, so a regular file behind /dev/stdout that the
//    shell opened for appending (>>) gets the content at its end and keeps its old lines. A stream
//    cannot take back what was written: a failed write leaves what went out before it.
//  - Every other target that exists and is not a regular file (a directory, a socket, a block
//    device) is refused, and so is one the user may not write.
//  - The new file keeps the replaced file's permission bits, and its owner and group where the
//    process may set them; a new file gets the permissions the umask allows.
//  - The file is synced before the rename and its folder after it; every failure, a full disk and
//    a file size limit included (SIGXFSZ is ignored so that a limit gives an error, not a kill),
//    removes the temporary file and leaves the target untouched.
//  - Several files saved together (SaveSet) are all or nothing, even across a kill: a rollback
//    journal (CommitJournal.h) records the commit before the first rename, and a load or save
//    that finds it rolls the commit back. Two saves of one set take turns.
//  - SIGTERM, SIGHUP and SIGINT remove the temporary files being written before they end the
//    program (unless the program or its parent chose another disposition for them).
//  - Temporary files carry the writer's process id (".vellumar-PID-XXXXXX"); a save removes
//    those beside its target whose writer is gone (killed before it could clean up).

enum class [[nodiscard]] SaveError{
    None,
    NotRegularFile,  // the target is a directory, socket, block device or a loop of links
    StreamTarget,    // a stream where only files will do (a set of files, a write by path)
    NotWritable,     // the user may not write the target
    SameFile,        // two files of one save name the same file
    CannotCreate,    // the temporary file cannot be created beside the target
    WriteFailed,     // writing or syncing the new content failed (disk full, file size limit)
    RenameFailed,    // the new file could not take the target's place
    Stopped,         // the test hook stopped the commit (see stopCommitsAfterRename)
    Locked,          // the journal of a set cannot be created or locked beside its files
};

// The new content of one target file.
class SaveFile {
 public:
  // temporarySuffix ends the temporary file's name, for a library that picks its format or its
  // layout by the extension of the name it writes (FlatGeobuf writes a folder of files otherwise).
  explicit SaveFile(std::string target, std::string temporarySuffix = {});
  ~SaveFile();
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  // Checks the target and creates the temporary file, or opens the stream it names (which for a
  // FIFO waits for a reader); false with error() set on refusal.
  [[nodiscard]] bool open();
  // Whether the target is a stream written in place (known once open() succeeded).
  bool inPlace() const { return inPlace_; }
  // Appends bytes to the new content.
  [[nodiscard]] bool write(std::string_view bytes);
  // The temporary file, for a library that writes the new content by path itself (GDAL's
  // drivers) instead of through write(); empty before open(), after the save ended and for a
  // stream.
  const std::string& temporaryPath() const { return temporary_; }
  // Removes the temporary file, keeping its name, for a library that creates the file it writes
  // and refuses a name that is taken (OGR's vector drivers); adoptLibraryWrite() then takes up
  // what it wrote. The name stays unpredictable, and such a library refuses one planted there.
  [[nodiscard]] bool vacateForLibrary();
  // Takes up the temporary file again after a library wrote it by path, so that finish() syncs
  // and closes what the library left there, even when it replaced the file it was given.
  [[nodiscard]] bool adoptLibraryWrite();
  // Gives the new file its permissions and owner, syncs and closes it.
  bool finish();
  // Renames the finished file over the target and syncs the folder.
  [[nodiscard]] bool replaceTarget();
  // finish() and replaceTarget().
  [[nodiscard]] bool commit();
  // Removes the temporary file unless it took the target's place (the destructor does it too).
  void abandon();

  SaveError error() const { return error_; }
  // The path as given, and the file that is replaced (a link's target, followed).
  const std::string& target() const { return target_; }
  const std::string& destination() const { return destination_; }
  // Size and modification time of the new file, known once finish() succeeded.
  std::uint64_t size() const { return size_; }
  std::int64_t modifiedNs() const { return modifiedNs_; }
  // True when both name an existing file and it is the same one (device and inode).
  bool sameExistingFile(const SaveFile& other) const;
  // Whether the target existed when the file was opened.
  bool existed() const { return existed_; }
  // The device and inode of the new file, known once finish() succeeded.
  std::uint64_t newDevice() const { return newDevice_; }
  std::uint64_t newInode() const { return newInode_; }

 private:
  bool fail(SaveError error);
  bool openDescriptor(int named);
  bool openStream();
  void applyOwnerAndMode();

  std::string target_;
  std::string temporarySuffix_;
  std::string destination_;
  std::string temporary_;
  int fd_ = -1;
  int signalSlot_ = -1;  // where a signal that ends the program finds the temporary file
  bool existed_ = false;
  bool inPlace_ = false;
  std::uint64_t oldDevice_ = 0;
  std::uint64_t oldInode_ = 0;
  unsigned oldMode_ = 0;
  unsigned oldOwner_ = 0;
  unsigned oldGroup_ = 0;
  bool finished_ = false;
  bool replaced_ = false;
  std::uint64_t size_ = 0;
  std::int64_t modifiedNs_ = 0;
  std::uint64_t newDevice_ = 0;
  std::uint64_t newInode_ = 0;
  SaveError error_ = SaveError::None;
};

// Several files saved together: a line file with its value file, the three files of a shapefile.
// The last file added is the set's main file, which names its journal. A stream cannot take part
// (StreamTarget): the files of a set are replaced together, which a stream cannot be, and the
// libraries that write a file by path need one they may seek in. Nothing is replaced until
// every file is written; then, holding the journal's lock, the commit backs up every old target,
// records the commit, renames each new file over its target in the order added, and removes the
// journal and the backups. A failed rename puts every replaced file back. A failure removes every
// temporary file not yet renamed.
class SaveSet {
 public:
  // Adds a target; the reference stays valid for the life of the set.
  SaveFile& add(std::string target);
  // Opens every file; refuses two targets that are the same file.
  [[nodiscard]] bool open();
  // Finishes every file, then renames each over its target in order.
  [[nodiscard]] bool commit();
  SaveError error() const { return error_; }

 private:
  bool fail(SaveError error);

  std::vector<std::unique_ptr<SaveFile>> files_;
  SaveError error_ = SaveError::None;
};

// Puts a file the program writes beside the user's files (a part of a result being assembled)
// among those that SIGTERM, SIGHUP and SIGINT remove before they end the program, for as long as
// it lives; the file itself is left to its owner.
class RemovedOnSignal {
 public:
  explicit RemovedOnSignal(const std::string& path);
  ~RemovedOnSignal();
  RemovedOnSignal(const RemovedOnSignal&) = delete;
  RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

 private:
  int slot_;
};

// The name of standard output, written in place wherever standard output goes.
inline constexpr std::string_view kStandardOutputName = "/dev/stdout";

// True when a save to path would write a stream in place (see SaveFile).
bool writesInPlace(const std::string& path);

// Writes bytes to path through a SaveFile; the error (None on success) is returned.
SaveError saveFile(const std::string& path, std::string_view bytes);
// The same, true on success.
[[nodiscard]] bool writeFileAtomically(const std::string& path, std::string_view bytes);

// For tests of faults during a commit. Every SaveSet commit stops after the given number of
// renames (a negative number turns the hook off): as if the process had died (Kill: the journal
// and the backups stay for the next load or save, the files not yet renamed are removed as
// orphans would be), or as if the next rename failed (RenameError).
enum class CommitFault { Kill, RenameError };
void injectCommitFault(int renames, CommitFault fault);
inline void stopCommitsAfterRename(int renames) {
  injectCommitFault(renames, CommitFault::Kill);
}

}  // namespace vellumar
