// What vellumar-calc does when a result cannot or must not be saved where -o points, when two runs
// append to one data file at once, when memory or the output runs out.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::DoubleNear;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kGrid = "DSAA\r\n2 2\r\n0 1\r\n0 1\r\n1 4\r\n1 2 \r\n3 4 \r\n";
constexpr const char* kNeedsFiles =
    "\nэтот формат пишется только в файлы, не в стандартный вывод, канал или устройство\n";

// What a reader of the FIFO got while a clean run of the arguments wrote to it, and the run.
std::pair<std::string, RunResult> readWhile(const std::string& fifo,
                                            const std::vector<std::string>& arguments,
                                            const RunSetup& setup = {}) {
  std::string received;
  std::thread reader([&] {
    std::ifstream in(fifo, std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in), {});
  });
  RunResult run = runClean(arguments, setup);
  reader.join();
  return {received, run};
}

// Each test has a folder with a grid, a data file and a square polygon with its value file: four
// files, besides which a failed save must leave nothing.
class CalcSaves : public ::testing::Test {
 protected:
  auto entries() const { return std::distance(fs::directory_iterator(folder_.root()), {}); }
  ScratchFolder folder_;
  const std::string grid_ = folder_.write("dem.grd", kGrid);
  const std::string data_ = folder_.write("d.dat", "0 0 1\n1 1 2\n");
  const std::string square_ =
      folder_.write("sq.pol", "1\r\n0 0\r\n1 0\r\n1 1\r\n0 1\r\n0 0\r\nEND\r\nEND\r\n");
  const std::string values_ = folder_.write("sq.val", "1 2\r\n");
};

TEST_F(CalcSaves, StreamsAndStandardOutputTakeSingleTextFilesWhereTheyStand) {
  // Formats of several files or written with seeking refuse streams, saying why, and never open
  // them: a FIFO without a reader would wait for ever. (Folders, and devices such as /dev/null,
  // are refused in the safe save's own tests.)
  for (const std::string name : {"fifo.tif", "fifo.shp", "fifo"})
    ASSERT_EQ(mkfifo(folder_.path(name).c_str(), 0644), 0);
  expectOutcomes({
      {{"-g", grid_, "-o", folder_.path("fifo.tif"), "G1"},
       std::string("3: Ошибка сохранения грида!") + kNeedsFiles},
      {{"-p", square_, "-o", folder_.path("fifo"), "P1"},
       std::string("3: Ошибка сохранения полигона!") + kNeedsFiles},
      {{"--english", "-d", data_, "-o", folder_.path("fifo.shp"), "D1_3"},
       "3: Data saving error!\nthis format is written to files only, not to standard output, "
       "a pipe or a device\n"},
  });
  // A DSAA grid or a data file is written into the stream; the FIFO stays a FIFO.
  runClean({"-g", grid_, "-o", folder_.path("copy.grd"), "G1"});
  EXPECT_EQ(readWhile(folder_.path("fifo"), {"-g", grid_, "-o", folder_.path("fifo"), "G1"}).first,
            folder_.read("copy.grd"));
  runClean({"-d", data_, "-o", "/dev/null", "D1_3"});
  EXPECT_EQ(entries(), 8);  // nothing left behind

  runClean({"-g", grid_, "-o", folder_.path("twice.grd"), "G1*2"});
  runClean({"-d", data_, "-o", folder_.path("twice.dat"), "D1_3*2"});
  // "-o -": standard output holds the file alone, whether a file or a pipe; what the run prints
  // besides goes to standard error.
  const RunResult toFile = runClean({"-g", grid_, "-o", "-", "G1*2"});
  EXPECT_EQ(std::pair(toFile.out, toFile.err),
            std::pair(folder_.read("twice.grd"), std::string("Результат - карта - готов !\n")));
  ASSERT_EQ(mkfifo(folder_.path("pipe").c_str(), 0644), 0);
  const RunSetup piped{.output = folder_.path("pipe")};
  const auto [received, listed] =
      readWhile(piped.output, {"--list", "-d", data_, "-o", "-", "D1_3*2"}, piped);
  EXPECT_EQ(received, folder_.read("twice.dat"));
  EXPECT_THAT(listed.err, HasSubstr("Результат - данные - готов !\nPi:"));

  // "-o /dev/stdout" into a log opened for appending keeps its lines, and prints as before.
  const RunSetup appended{.output = folder_.write("log", "old line\n"), .appendOutput = true};
  runClean({"-g", grid_, "-o", "/dev/stdout", "G1*2"}, appended);
  EXPECT_EQ(folder_.read("log"),
            "old line\nРезультат - карта - готов !\n" + folder_.read("twice.grd"));

  // Lines and polygons need their files.
  EXPECT_EQ(runCalc({"-p", square_, "-o", "-", "P1"}).all(),
            std::tuple(3, "",
                       std::string("Результат - полигон - готов !\nОшибка сохранения полигона!") +
                           kNeedsFiles));
  // A failed write to standard output is an error.
  expectOutcomes({{{"1+1"}, "1: Ошибка записи в стандартный вывод!\n"},
                  {{"--english", "--help"}, "1: Cannot write to standard output!\n"}},
                 {.output = "/dev/full"});
}

TEST_F(CalcSaves, WhereTheResultMustNotGoNothingIsWritten) {
  // A data file with no room for its buffer file says so (folders the user may not create files
  // in are the safe save's own tests); lines are not saved under their value file's name.
  expectOutcomes({
      {{"-d", data_, "-o", folder_.path("no/such/folder/out.dat"), "D1_3"},
       "3: Ошибка создания буферного файла!\n"},
      {{"--english", "-d", data_, "-o", folder_.path("no/out.dat"), "D1_3"},
       "3: Cannot create the buffer file!\n"},
      {{"-p", square_, "-o", folder_.path("x.val"), "P1"},
       "3: Файл .val - это файл значений линий: выберите другое имя!\n"},
      {{"--english", "-l", square_, "-o", folder_.path("x.val"), "C1"},
       "3: A .val file is the value file of lines: choose another name!\n"},
  });
  EXPECT_EQ(entries(), 4);  // no x.val, no folder
  // A file size limit gives the message and keeps the old file. Status 3: not killed by SIGXFSZ.
  const std::string big = "EG(0, 299, 0, 299, 1, 1)";  // 90000 nodes, far over 4 KB of text
  EXPECT_EQ(runCalc({"-o", grid_, big}, {.fileSizeLimit = 4096}).outcome(),
            "3: Ошибка сохранения грида!\n");
  EXPECT_EQ(folder_.read("dem.grd"), kGrid);
  EXPECT_EQ(entries(), 4);
}

// Whether a process waits for a file lock, by its wait channel.
bool waitsForALock(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/wchan");
  std::string channel;
  return std::getline(in, channel) && channel.find("lock") != std::string::npos;
}

TEST_F(CalcSaves, TwoAppendsAtOnceNeverLoseAColumn) {
  std::string rows;
  for (int i = 0; i < 20000; ++i)
    rows += std::to_string(i) + " " + std::to_string(i % 7) + " " + std::to_string(i * 3) + "\n";
  const std::string data = folder_.write("w.dat", rows);
  // Both runs load the file while this test holds its lock, so both reach their append before
  // either can write; then the lock goes and they race.
  const int fd = open(data.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  CalcProcess first({"-d", data, "-o", data, "D1_3 * 2"}, {});
  CalcProcess second({"-d", data, "-o", data, "D1_3 + 1"}, {});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline &&
         !(waitsForALock(first.pid()) && waitsForALock(second.pid())))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  flock(fd, LOCK_UN);
  close(fd);
  const auto a = first.wait(), b = second.wait();
  // One wins; the other finds the file changed and writes nothing.
  EXPECT_EQ(a.status + b.status, 3) << a.err << b.err;
  EXPECT_EQ((a.status == 3 ? a : b).err, "файл данных изменён после загрузки\n");
  const std::string saved = folder_.read("w.dat");
  const std::string firstLine = saved.substr(0, saved.find('\n'));
  // The file's LF line ends stay.
  EXPECT_THAT(firstLine, ::testing::AnyOf("0 0 0 0.000000", "0 0 0 1.000000"));
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 20000);
  EXPECT_EQ(entries(), 5);

  // Run one after the other, both appends are kept.
  runClean({"-d", data, "-o", data, "D1_4 + 1"});
  const std::string after = folder_.read("w.dat");
  EXPECT_EQ(after.substr(0, after.find('\n')),
            firstLine + " " + (firstLine == "0 0 0 0.000000" ? "1" : "2") + ".000000");
}

TEST_F(CalcSaves, RequestsBeyondTheMemoryFailAndAProcessWithoutThreadsComputesAlone) {
  RunSetup setup{.environment = {{"VELLUMAR_MEMORY_LIMIT", "1G"}}};
  EXPECT_EQ(runCalc({"MAX(EG(0,16383,0,16383,1,1))"}, setup).all(),
            std::tuple(1, "", "недостаточно памяти для вычисления!\n"));
  // Within the limit the same kind of request works.
  EXPECT_EQ(runClean({"MAX(EG(0,99,0,99,1,1))"}, setup).out, "1.000000000000\n");

  // A display file larger than the memory allows is a file that cannot be loaded.
  const std::string display = folder_.write("big.ctb", std::string(3 << 20, ' ') + "1+1");
  setup.environment = {{"VELLUMAR_MEMORY_LIMIT", "1M"}};
  EXPECT_EQ(runCalc({"--english", "-f", display}, setup).outcome(),
            "3: not enough memory for the calculation!\n");

  // A limit that is no limit is warned of; the automatic limit is used. (Which settings are no
  // limit is the memory's own test.)
  setup.environment = {{"VELLUMAR_MEMORY_LIMIT", "abc"}};
  EXPECT_EQ(runCalc({"--english", "2+3"}, setup).outcome(),
            "0: invalid memory limit VELLUMAR_MEMORY_LIMIT=\"abc\": the automatic limit is used\n");

  // Derivatives of a grid of a million nodes are computed in parallel blocks. Root may start
  // threads beyond any limit, so the run is made as the user nobody.
  // The leak checker of sanitized builds needs a thread of its own at exit.
  const RunSetup alone{
      .environment = {{"ASAN_OPTIONS", "detect_leaks=0"}}, .asNobody = true, .threadLimit = 0};
  for (const char* threads : {"1", "2", "16"}) {
    const auto run =
        runCalc({"--english", "--threads", threads, "MAX(Dx(XG(0, 1023, 0, 1023, 1, 1)))"}, alone);
    EXPECT_EQ(run.outcome(), "0: ") << threads;
    EXPECT_THAT(numbersIn(run.out), ElementsAre(DoubleNear(1.0, 1e-8))) << threads;
  }
}

}  // namespace
}  // namespace vellumar::cli::testing
