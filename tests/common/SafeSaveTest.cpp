#include "common/CommitJournal.h"
#include "common/SafeSave.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "common/FileIo.h"

namespace vellumar {
namespace {

namespace fs = std::filesystem;

using testing::inChild, testing::kNobody;

class SafeSave : public testing::FolderTest {
 protected:
  void TearDown() override {
    stopCommitsAfterRename(-1);
    FolderTest::TearDown();
  }
  // The error of opening a set of these targets, which must fail.
  static SaveError refusedSet(const std::vector<std::string>& targets) {
    SaveSet set;
    for (const std::string& target : targets) set.add(target);
    EXPECT_FALSE(set.open());
    return set.error();
  }
};

TEST_F(SafeSave, ReplacesTheTargetOnlyOnCommitThroughShortUniqueTemporaryFiles) {
  ASSERT_EQ(saveFile(path("result.txt"), "old"), SaveError::None);
  {
    SaveFile file(path("result.txt"));
    ASSERT_TRUE(file.open() && file.write("new") && file.finish());
    EXPECT_EQ(fileText("result.txt"), "old");  // not yet renamed
    // The temporary file lies beside the target (its name is short whatever the target's: below).
    EXPECT_EQ(entryCount(), 2u);
    // Abandoned here.
  }
  EXPECT_EQ(fileText("result.txt"), "old");
  EXPECT_EQ(entryNames(), std::vector<std::string>{"result.txt"});
  ASSERT_EQ(saveFile(path("result.txt"), "new"), SaveError::None);
  EXPECT_EQ(fileText("result.txt"), "new");
  EXPECT_EQ(entryNames(), std::vector<std::string>{"result.txt"});

  EXPECT_EQ(saveFile(path("no/such/folder/x.txt"), "data"), SaveError::CannotCreate);

  // A 240-character name leaves no room for a temporary name built from it.
  const std::string longName(240, 'n');
  ASSERT_EQ(saveFile(path(longName), "first"), SaveError::None);
  ASSERT_EQ(saveFile(path(longName), "second"), SaveError::None);
  EXPECT_EQ(fileText(longName), "second");

  // Two saves of one target at once get two different temporary files, each a fresh regular
  // file only its owner can read until it is finished.
  SaveFile a(path("t.txt"));
  SaveFile b(path("t.txt"));
  ASSERT_TRUE(a.open() && b.open());
  std::vector<std::string> temporaries = entryNames();
  std::erase(temporaries, longName);
  std::erase(temporaries, "result.txt");
  ASSERT_EQ(temporaries.size(), 2u);
  for (const std::string& name : temporaries) {
    struct stat info {};
    ASSERT_EQ(lstat(path(name).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFREG | 0600u) << name;
  }
  ASSERT_TRUE(a.write("A") && a.commit());
  ASSERT_TRUE(b.write("B") && b.commit());
  EXPECT_EQ(fileText("t.txt"), "B");
}

TEST_F(SafeSave, FollowsLinksAndKeepsThem) {
  fs::create_directory(path("real"));
  ASSERT_EQ(saveFile(path("real/data.txt"), "old"), SaveError::None);
  fs::create_symlink("real/data.txt", path("link.txt"));    // relative
  fs::create_symlink(path("link.txt"), path("chain.txt"));  // a link to a link
  ASSERT_EQ(saveFile(path("chain.txt"), "new"), SaveError::None);
  EXPECT_TRUE(fs::is_symlink(path("link.txt")) && fs::is_symlink(path("chain.txt")));
  EXPECT_EQ(fs::read_symlink(path("link.txt")), "real/data.txt");
  EXPECT_EQ(fileText("real/data.txt"), "new");
  // The temporary file was made beside the file replaced, not beside the link.
  EXPECT_EQ(std::distance(fs::directory_iterator(path("real")), fs::directory_iterator()), 1);

  // A dangling link: the file it names is created.
  fs::create_symlink("real/fresh.txt", path("dangling.txt"));
  ASSERT_EQ(saveFile(path("dangling.txt"), "made"), SaveError::None);
  EXPECT_EQ(fileText("real/fresh.txt"), "made");
  EXPECT_TRUE(fs::is_symlink(path("dangling.txt")));

  fs::create_symlink("loop2", path("loop1"));
  fs::create_symlink("loop1", path("loop2"));
  EXPECT_EQ(saveFile(path("loop1"), "x"), SaveError::NotRegularFile);
  EXPECT_TRUE(fs::is_symlink(path("loop1")));
}

// What a reader of a FIFO gets when saveFile writes to name, a link to it or the FIFO itself.
std::string savedThroughFifo(const std::string& fifo, const std::string& name) {
  std::string received;
  std::thread reader([&] {
    std::ifstream in(fifo, std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in), {});
  });
  const SaveError error = saveFile(name, "through the fifo");
  reader.join();
  return error == SaveError::None ? received : "<refused>";
}

TEST_F(SafeSave, StreamsAreWrittenInPlaceAndOtherSpecialFilesRefused) {
  fs::create_directory(path("folder"));
  fs::create_symlink("folder", path("to-folder"));
  for (const std::string name : {"folder", "to-folder"})
    EXPECT_EQ(saveFile(path(name), "x"), SaveError::NotRegularFile) << name;
  EXPECT_TRUE(fs::is_empty(path("folder")));
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
  fs::create_symlink("fifo", path("to-fifo"));
  for (const std::string name : {"fifo", "to-fifo"})
    EXPECT_EQ(savedThroughFifo(path("fifo"), path(name)), "through the fifo") << name;
  EXPECT_TRUE(fs::is_fifo(path("fifo")));
  EXPECT_EQ(saveFile("/dev/null", "x"), SaveError::None);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // A descriptor's names write where it stands: a file opened for appending keeps its old lines,
  // one opened at an offset is written from there, and a pipe gets the bytes.
  const int appended = ::open(path("log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int placed = ::open(path("placed").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_TRUE(appended >= 0 && placed >= 0 && ::write(appended, "old\n", 4) == 4);
  ASSERT_TRUE(::write(placed, "0123456789", 10) == 10 && lseek(placed, 2, SEEK_SET) == 2);
  const std::string fd = std::to_string(appended);
  fs::create_symlink("/proc/self/fd/" + fd, path("to-log"));
  for (const std::string& name : {"/dev/fd/" + fd, "/proc/self/fd/" + fd, path("to-log")})
    EXPECT_EQ(saveFile(name, "new\n"), SaveError::None) << name;
  EXPECT_EQ(saveFile("/dev/fd/" + std::to_string(placed), "ab"), SaveError::None);
  EXPECT_EQ(fileText("log"), "old\nnew\nnew\nnew\n");
  EXPECT_EQ(fileText("placed"), "01ab456789");
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  EXPECT_EQ(saveFile("/dev/fd/" + std::to_string(pipeEnds[1]), "piped"), SaveError::None);
  char piped[8] = {};
  EXPECT_EQ(std::string(piped, std::max<ssize_t>(0, ::read(pipeEnds[0], piped, sizeof piped))),
            "piped");
  // A descriptor open for reading only is no target; neither is a stream in a set of files, which
  // is refused before the FIFO is opened (that would wait for a reader that never comes).
  EXPECT_EQ(saveFile("/dev/fd/" + std::to_string(pipeEnds[0]), "x"), SaveError::NotWritable);
  for (const std::string& stream : {path("fifo"), std::string("/dev/null"), "/dev/fd/" + fd})
    EXPECT_EQ(refusedSet({path("companion"), stream}), SaveError::StreamTarget) << stream;
  for (const int open : {appended, placed, pipeEnds[0], pipeEnds[1]}) close(open);
  EXPECT_EQ(entryNames(), (std::vector<std::string>{"fifo", "folder", "log", "placed", "to-fifo",
                                                    "to-folder", "to-log"}));
}

TEST_F(SafeSave, RefusesTargetsTheUserMayNotWriteAndKeepsPermissionsOwnerAndGroup) {
  // Root may write any file: the refusal is checked as the user nobody.
  const bool root = geteuid() == 0;
  fs::permissions(dir_, fs::perms::all);
  const auto refused = [&](const std::string& name, fs::perms perms, bool toNobody) {
    ASSERT_EQ(saveFile(path(name), "old"), SaveError::None);
    fs::permissions(path(name), perms);
    ASSERT_TRUE(!toNobody || chown(path(name).c_str(), kNobody, kNobody) == 0) << name;
    EXPECT_EQ(inChild([&] { return static_cast<int>(saveFile(path(name), "new")); }, root),
              static_cast<int>(SaveError::NotWritable))
        << name;
    EXPECT_EQ(fileText(name), "old");
  };
  refused("readonly.txt", fs::perms{0444}, root);
  // A file of another user that nobody may write.
  if (root) refused("roots.txt", fs::perms{0604}, false);
  EXPECT_EQ(entryNames().size(), root ? 2u : 1u);

  // A save keeps the permissions, owner and group of the file it replaces; new files get the
  // umask.
  ASSERT_EQ(saveFile(path("private.txt"), "old"), SaveError::None);
  fs::permissions(path("private.txt"), fs::perms{0600});
  ASSERT_EQ(saveFile(path("private.txt"), "new"), SaveError::None);
  EXPECT_EQ(fs::status(path("private.txt")).permissions(), fs::perms{0600});

  const mode_t previous = umask(027);
  ASSERT_EQ(saveFile(path("fresh.txt"), "x"), SaveError::None);
  umask(previous);
  EXPECT_EQ(fs::status(path("fresh.txt")).permissions(), fs::perms{0640});

  if (!root) GTEST_SKIP() << "giving a file to another user needs root";
  ASSERT_EQ(saveFile(path("theirs.txt"), "old"), SaveError::None);
  ASSERT_EQ(chown(path("theirs.txt").c_str(), kNobody, kNobody), 0);
  fs::permissions(path("theirs.txt"), fs::perms{0660});
  ASSERT_EQ(saveFile(path("theirs.txt"), "new"), SaveError::None);
  struct stat info {};
  ASSERT_EQ(stat(path("theirs.txt").c_str(), &info), 0);
  EXPECT_EQ(std::tuple(info.st_uid, info.st_gid, info.st_mode & 0777),
            std::tuple(kNobody, kNobody, 0660u));
  EXPECT_EQ(fileText("theirs.txt"), "new");
}

TEST_F(SafeSave, SetsRenameInOrderAndNeverLeaveATargetMissing) {
  const std::vector<std::string> targets = {"a.idx", "b.tab", "c.main"};
  auto saveAll = [&](const std::string& content) {
    SaveSet set;
    std::vector<SaveFile*> files;
    for (const std::string& name : targets) files.push_back(&set.add(path(name)));
    if (!set.open()) return set.error();
    for (SaveFile* file : files) {
      if (!file->write(content)) return file->error();
    }
    return set.commit() ? SaveError::None : set.error();
  };
  ASSERT_EQ(saveAll("old"), SaveError::None);
  for (int stop = 0; stop <= 3; ++stop) {
    ASSERT_EQ(saveAll("old"), SaveError::None);
    stopCommitsAfterRename(stop);
    EXPECT_EQ(saveAll("new"), stop < 3 ? SaveError::Stopped : SaveError::None);
    stopCommitsAfterRename(-1);
    // Killed after some renames: every target is there, and the journal beside the main file
    // lets the next load put the old set back.
    for (const std::string& name : targets) EXPECT_TRUE(fs::exists(path(name))) << name;
    EXPECT_EQ(fs::exists(path(".c.main.vellumar-journal")), stop < 3) << stop;
    recoverInterruptedSave(path("c.main"));
    for (const std::string& name : targets)
      EXPECT_EQ(fileText(name), stop < 3 ? "old" : "new") << "stop " << stop << " file " << name;
    EXPECT_EQ(entryNames(), targets);  // no journal, backup or temporary left
  }

  // A rename that fails puts back the files already replaced, and a target that was new goes.
  for (int failAt = 0; failAt < 3; ++failAt) {
    ASSERT_EQ(saveAll("old"), SaveError::None);
    fs::remove(path("b.tab"));
    injectCommitFault(failAt, CommitFault::RenameError);
    EXPECT_EQ(saveAll("new"), SaveError::RenameFailed);
    injectCommitFault(-1, CommitFault::Kill);
    EXPECT_EQ(std::tuple(fileText("a.idx"), fileText("c.main")), std::tuple("old", "old"))
        << failAt;
    EXPECT_EQ(entryNames(), (std::vector<std::string>{"a.idx", "c.main"})) << failAt;
  }
  ASSERT_EQ(saveAll("old"), SaveError::None);

  // A save that finds the journal of a killed commit rolls it back before its own.
  stopCommitsAfterRename(2);
  EXPECT_EQ(saveAll("dead"), SaveError::Stopped);
  stopCommitsAfterRename(-1);
  EXPECT_EQ(fileText("a.idx"), "dead");
  SaveSet partial;
  SaveFile& main = partial.add(path("c.main"));
  ASSERT_TRUE(partial.open());
  EXPECT_EQ(fileText("a.idx"), "old");
  ASSERT_TRUE(main.write("main only") && partial.commit());
  EXPECT_EQ(fileText("b.tab"), "old");
  EXPECT_EQ(entryNames(), targets);

  // Two names for one file, or a folder among the targets, are refused before anything is
  // written.
  fs::create_symlink("a.idx", path("alias"));
  fs::create_directory(path("folder"));
  EXPECT_EQ(refusedSet({path("a.idx"), path("alias")}), SaveError::SameFile);
  EXPECT_EQ(refusedSet({path("new.txt"), path("new.txt")}), SaveError::SameFile);
  EXPECT_EQ(refusedSet({path("a.idx"), path("folder")}), SaveError::NotRegularFile);
  EXPECT_EQ(fileText("a.idx"), "old");
  EXPECT_EQ(entryNames(),
            (std::vector<std::string>{"a.idx", "alias", "b.tab", "c.main", "folder"}));
}

TEST_F(SafeSave, SavesOfOneSetTakeTurns) {
  // Two writers of one pair at once, over and over: the pair is always one writer's.
  std::atomic<bool> mixed{false};
  const auto writer = [&](const std::string& content) {
    for (int round = 0; round < 40; ++round) {
      SaveSet set;
      SaveFile& values = set.add(path("pair.val"));
      SaveFile& lines = set.add(path("pair.con"));
      ASSERT_TRUE(set.open() && values.write(content) && lines.write(content) && set.commit());
      recoverInterruptedSave(path("pair.con"));
      if (fileText("pair.val") != fileText("pair.con")) mixed = true;
    }
  };
  std::thread first(writer, "first");
  std::thread second(writer, "second");
  first.join();
  second.join();
  EXPECT_FALSE(mixed);
  EXPECT_EQ(entryNames(), (std::vector<std::string>{"pair.con", "pair.val"}));
}

TEST_F(SafeSave, TemporaryFilesOfProgramsEndedBySignalsOrGoneAreRemoved) {
  ASSERT_EQ(saveFile(path("result.txt"), "old"), SaveError::None);
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      SaveFile file(path("result.txt"));
      if (!file.open() || !file.write("half of the new")) _exit(99);
      raise(signal);
      _exit(98);  // not reached: the signal ends the child
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " " << status;
    EXPECT_EQ(fileText("result.txt"), "old");
    EXPECT_EQ(entryNames(), std::vector<std::string>{"result.txt"}) << signal;
  }

  // A temporary file of a writer killed long ago, one of a writer that ended but was never
  // reaped (a zombie, as the ranks of a stopped mpirun are where nothing reaps orphans), and one
  // of this process's own.
  ASSERT_EQ(saveFile(path(".vellumar-2147483646-aBcDeF"), "orphan"), SaveError::None);
  const pid_t zombie = fork();
  if (zombie == 0) _exit(0);
  siginfo_t ended{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(zombie), &ended, WEXITED | WNOWAIT), 0);
  ASSERT_EQ(saveFile(path(".vellumar-" + std::to_string(zombie) + "-zOmBiE"), "ended"),
            SaveError::None);
  const std::string own = hiddenPrefix(dir_.string()) + "own123";
  ASSERT_EQ(saveFile(own, "mine"), SaveError::None);
  ASSERT_EQ(saveFile(path("result.txt"), "new"), SaveError::None);
  waitpid(zombie, nullptr, 0);
  EXPECT_EQ(entryNames(),
            (std::vector<std::string>{fs::path(own).filename().string(), "result.txt"}));
}

}  // namespace
}  // namespace vellumar
