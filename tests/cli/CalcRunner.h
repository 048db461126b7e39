#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/FileIo.h"

namespace vellumar::cli::testing {

// WGS 84 / UTM zone 32N as ESRI spells it in a .prj file.
inline constexpr const char* kUtm32Prj =
    "PROJCS[\"WGS_1984_UTM_Zone_32N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\","
    "SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],"
    "UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
    "PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],"
    "PARAMETER[\"Central_Meridian\",9.0],PARAMETER[\"Scale_Factor\",0.9996],"
    "PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";

// What one run of the built vellumar-calc printed and returned.
struct RunResult {
  int status = -1;
  std::string out{}, err{};
  // The exit status and standard error in one text, "3: message\n", to assert a failure at once.
  std::string outcome() const { return std::to_string(status) + ": " + err; }
  // The exit status, standard output and standard error, to assert a whole run at once.
  std::tuple<int, std::string, std::string> all() const { return {status, out, err}; }
};

// How to run it besides its arguments.
struct RunSetup {
  std::string input{};      // standard input
  std::string inputPath{};  // a file or folder to open as standard input instead of input
  std::vector<std::pair<std::string, std::string>> environment{};  // variables to set
  std::string output{};              // a file to use as standard output instead of capturing it
  bool appendOutput = false;         // open that file for appending (>>) rather than anew (>)
  std::string directory{};           // the working directory of the run; empty: the test's
  bool asNobody = false;             // run as the user nobody (when the tests run as root)
  long long fileSizeLimit = -1;      // ulimit -f in bytes; negative: none
  long long addressSpaceLimit = -1;  // ulimit -v in bytes; negative: none
  long long threadLimit = -1;        // ulimit -u: processes and threads of the user; negative: none
};

// A fresh folder for the files of one test, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumar-cli-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
  }
  ~ScratchFolder() { std::filesystem::remove_all(root_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string path(const std::string& name) const { return root_ + "/" + name; }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  // The bytes of a file the test wrote or a run left; "" when it is not there.
  std::string read(const std::string& name) const { return readWholeFile(path(name)).value_or(""); }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

// A run of vellumar-calc (no shell involved) started at construction.
class CalcProcess {
 public:
  CalcProcess(const std::vector<std::string>& arguments, const RunSetup& setup);
  ~CalcProcess() {
    if (pid_ > 0) wait();
  }
  CalcProcess(const CalcProcess&) = delete;
  CalcProcess& operator=(const CalcProcess&) = delete;
  pid_t pid() const { return pid_; }
  // Waits for the end of the run.
  RunResult wait();

 private:
  ScratchFolder folder_;  // of the run's standard input, output and error
  pid_t pid_ = -1;
  bool captured_ = true;
};

// Runs vellumar-calc with the arguments, made with the setup, and waits for it.
RunResult runCalc(const std::vector<std::string>& arguments, const RunSetup& setup = {});
// Runs it as runCalc does, and fails the test, naming the arguments and showing the error, unless
// the run ends with status 0.
RunResult runClean(const std::vector<std::string>& arguments, const RunSetup& setup = {});

// A case of a table of runs: the arguments, and the outcome (exit status and standard error) the
// run must end with.
using Outcome = std::pair<std::vector<std::string>, std::string>;
// Expects each run of the arguments, made with the setup, to end with its outcome.
void expectOutcomes(const std::vector<Outcome>& cases, const RunSetup& setup = {});

// A polygon file of one ring of n vertices round (cx, cy), counter-clockwise from the angle 0:
// the vertex at the angle a lies radius(a) from the centre.
std::string ringFile(int n, double cx, double cy, const std::function<double(double)>& radius);

// The numbers of a text separated by white space.
std::vector<double> numbersIn(const std::string& text);

}  // namespace vellumar::cli::testing
