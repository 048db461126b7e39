#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumar {

// The rollback journal of a save of several files (a line file with its value file, the files of
// a shapefile), which makes the save all or nothing even when the process dies half-way.
//
// A commit holds an advisory lock (flock) on the journal, a hidden file beside the set's main
// file, named after it (".field.con.vellumar-journal"), for as long as it runs, so two saves of
// one set take turns. Before the first rename it writes down, and syncs, every new file, its
// target and a backup of the old target (a hard link, or a copy where links are not possible).
// Once every new file took its place the journal is removed, which is the commit point, and then
// the backups. A commit that dies leaves the journal; whoever next loads or saves the set finds it
// and rolls the commit back: every backup is renamed over its target again, new files of targets
// that did not exist are removed, and so are the temporary files.

// The path of the journal of the set whose main file (the file readers check the others against,
// renamed last) is target.
std::string journalPathOf(const std::string& target);

// One file of a commit: its temporary file (with the device and inode that identify it), the
// file it replaces, and the backup of that file's old content (empty when it did not exist).
struct JournalEntry {
  std::string temporary;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::string destination;
  std::string backup;
};

// The journal of one commit, locked while the object lives. On taking the lock it rolls back a
// commit that an earlier process left unfinished.
class CommitJournal {
 public:
  explicit CommitJournal(std::string path);
  ~CommitJournal();
  CommitJournal(const CommitJournal&) = delete;
  CommitJournal& operator=(const CommitJournal&) = delete;

  // Whether the lock is held (false when the journal cannot be created beside the files).
  bool locked() const { return fd_ >= 0; }
  // Writes and syncs the entries; after this the commit may rename.
  [[nodiscard]] bool record(const std::vector<JournalEntry>& entries);
  // Puts back what the entries' renames replaced, as a recovery does; true when all was put back
  // (the journal is then removed; otherwise it stays for the next load or save to finish).
  bool rollBack(const std::vector<JournalEntry>& entries);
  // The commit point: removes the journal, then the backups.
  void complete(const std::vector<JournalEntry>& entries);
  // Lets the lock go and leaves the journal as it is, as a process that dies does.
  void abandon();

 private:
  void remove();

  std::string path_;
  int fd_ = -1;
};

// Rolls back an unfinished commit of the set whose main file is target, waiting for a commit
// under way to end; does nothing (at the cost of one stat) when there is no journal. Loads call
// it before they read.
void recoverInterruptedSave(const std::string& target);

// A backup of an existing file beside it under a fresh hidden name that carries this process's
// id: a hard link, or a synced copy where the file system has no links. Empty on failure.
std::string backupOf(const std::string& path);

// Hidden files this program leaves beside targets (".vellumar-PID-XXXXXX": temporary files and
// backups) whose process is gone are removed from the folder of path, unless an unfinished
// commit in the folder may still need them.
void removeOrphans(const std::string& path);

// The prefix of this process's hidden files in a folder: "FOLDER/.vellumar-PID-".
std::string hiddenPrefix(const std::string& folder);

}  // namespace vellumar
