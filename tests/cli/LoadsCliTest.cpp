// What vellumar-calc reads: special files refused at once, files cut short or padded, value files,
// the places of faults, and the interactive prompt.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

namespace fs = std::filesystem;

TEST(CalcLoads, SpecialFilesAreRefusedAtOnceAndAMissingValueFileIsAWarning) {
  ScratchFolder folder;
  const std::string fifo = folder.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const std::string lines = folder.write("roads.con", "1\r\n0 0\r\n3 4\r\nEND\r\nEND\r\n");
  EXPECT_EQ(runCalc({"-l", lines, "MAX(C1)"}).all(),
            std::tuple(0, "0.000000000000E+00\n",
                       "значения равны 0: нет файла значений " + folder.path("roads.val") + "\n"));
  EXPECT_EQ(runCalc({"--english", "-l", lines, "1"}).err,
            "values are 0: no value file " + folder.path("roads.val") + "\n");
  // A FIFO without a writer would block a reader for ever; these runs must end. (Folders and
  // endless devices are refused in each reader's own tests and in the file reading's.) A value
  // file that cannot be read fails the load.
  fs::create_directory(folder.path("roads.val"));
  expectOutcomes({
      {{"-g", fifo, "1"}, "3: Недопустимый формат файла гридa!\n"},
      {{"-l", fifo, "1"}, "3: Недопустимый формат файла линий!\n"},
      {{"-p", fifo, "1"}, "3: Недопустимый формат файла полигонa!\n"},
      {{"-d", fifo, "1"}, "3: Нельзя открыть файл " + fifo + " !\n"},
      {{"-f", fifo}, "3: Нельзя открыть файл содержимого табло!\n"},
      {{"-l", lines, "MAX(C1)"}, "3: Недопустимый формат файла линий!\n"},
  });
}

TEST(CalcLoads, UnderAnAddressSpaceLimitLargeFilesGiveTheMemoryMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit allows";
#endif
  ScratchFolder folder;
  const RunSetup setup{.addressSpaceLimit = 256ll << 20};
  std::string points = "1\n";
  for (int i = 0; i < 7'500'000; ++i) points += "0 0\n1 1\n";  // 15 million points, 60 MB
  points += "END\nEND\n";
  std::string rows;
  for (int i = 0; i < 20'000'000; ++i) rows += "1 2\n";  // 80 MB, 320 MB of cells
  const std::string memory = "3: недостаточно памяти для вычисления!\n";
  expectOutcomes({{{"-l", folder.write("big.con", points), "1"}, memory},
                  {{"-d", folder.write("big.dat", rows), "1"}, memory},
                  {{"-f", folder.write("big.ctb", std::string(100 << 20, ' ') + "1+1")}, memory}},
                 setup);
}

// Reads from the terminal's master side until text appears after position from, or the time is
// up.
bool readUntil(int master, std::string& seen, const std::string& text, std::size_t from = 0) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (seen.find(text, from) == std::string::npos) {
    pollfd ready{master, POLLIN, 0};
    char buffer[256];
    const ssize_t got = poll(&ready, 1, 10) > 0 ? read(master, buffer, sizeof buffer) : 0;
    if (got < 0 || std::chrono::steady_clock::now() > deadline) return false;
    seen.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

TEST(CalcLoads, CtrlCClearsTheLineAndCtrlDEndsTheSession) {
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(VELLUMAR_CALC_PATH, VELLUMAR_CALC_PATH, static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  // Types the keys and waits for the echo.
  const auto type = [&](const std::string& keys, const std::string& echo) {
    return write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size()) &&
           readUntil(master, seen, echo);
  };
  ASSERT_TRUE(readUntil(master, seen, "vellumar> ")) << seen;
  // Typed, then dropped with Ctrl-C: the next line is evaluated alone.
  ASSERT_TRUE(type("1+1", "1+1") && type("\x03", "^C") && type("2+3\r", "5.000000000000")) << seen;
  // Ctrl-D on the empty line ends the session normally.
  ASSERT_TRUE(readUntil(master, seen, "vellumar> ", seen.find("5.000000000000"))) << seen;
  ASSERT_EQ(write(master, "\x04", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << seen;
  EXPECT_EQ(seen.find("15.000000000000"), std::string::npos) << seen;  // "1+12+3"
}

// Load failures name the line or record at fault after the reader's message, in both languages.

TEST(CalcFaultPlaces, TextFilesNameTheirLineAndShapefilesTheirRecord) {
  ScratchFolder folder;
  const std::string grid =
      folder.write("bad.grd", "DSAA\r\n2 2\r\n0 1\r\n0 1\r\n0 9\r\n1 2\r\n3 x4\r\n");
  const std::string data = folder.write("bad.dat", "X Y Z\n1 2 3\n4 5 6\n7 \x01 9\n");
  const std::string lines = folder.write("bad.con", "1\n0 0\n1 1\nEND\n2\n0 0\n1 one\nEND\nEND\n");
  const std::string good = folder.write("good.pol", "1\n0 0\n1 0\n1 1\n0 0\nEND\nEND\n");
  folder.write("good.val", "1 5 1\n\n1 x\n");
  // A shapefile names the record: record 2 of these lines claims more parts than its bytes can
  // hold.
  const std::string three =
      folder.write("l.con", "1\n0 0\n1 1\nEND\n2\n0 0\n2 2\nEND\n3\n0 0\n3 3\nEND\nEND\n");
  runClean({"-l", three, "-o", folder.path("l.shp"), "C1"});
  std::string shp = folder.read("l.shp");
  const std::string shx = folder.read("l.shx");
  // Record 2 starts this many 16-bit words into the .shp: bytes 108 to 111 of the .shx, big-endian.
  std::size_t words = 0;
  for (std::size_t k = 0; k < 4; ++k) words = words << 8 | static_cast<unsigned char>(shx[108 + k]);
  for (std::size_t k = 0; k < 4; ++k) shp[2 * words + 8 + 36 + k] = k == 3 ? '\x7f' : '\xff';
  const std::string broken = folder.write("l.shp", shp);
  expectOutcomes({
      {{"--english", "-g", grid, "1"}, "3: Invalid grid file format!, line 7\n"},
      {{"--header", "-d", data, "1"}, "3: Недопустимый формат файла данных!, строка 4\n"},
      {{"-l", lines, "1"}, "3: Недопустимый формат файла линий!, строка 7\n"},
      {{"--english", "-p", lines, "1"}, "3: Invalid polygon file format!, line 7\n"},
      {{"-p", good, "1"}, "3: Недопустимый формат файла полигонa!, строка 3 файла значений\n"},
      {{"--english", "-l", good, "1"}, "3: Invalid line file format!, line 3 of the value file\n"},
      // A fault that lies in no one line gives the message alone.
      {{"-g", folder.write("empty.grd", ""), "1"}, "3: Недопустимый формат файла гридa!\n"},
      {{"-l", broken, "1"}, "3: Недопустимый формат файла линий!, запись 2\n"},
      {{"--english", "-p", broken, "1"}, "3: Invalid polygon file format!, record 2\n"},
      {{"--english", "-d", broken, "1"}, "3: Invalid data file format!, record 2\n"},
  });
}

}  // namespace
}  // namespace vellumar::cli::testing
