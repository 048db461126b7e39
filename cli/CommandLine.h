#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vellumar::cli {

// How a delimited data file is split, as the data-format dialog would choose it.
struct DataFormat {
  char delimiter = ' ';  // 0: tab or space
  bool header = false;
  bool merge = true;
  // 1-based X and Y columns; nullopt when coordinates were turned off with --xy none.
  std::optional<std::pair<int, int>> xy = std::make_pair(1, 2);
  bool xyGiven = false;
};

// One step of the command line, in the order given.
struct Action {
  enum class Type { LoadGrid, LoadLines, LoadPolygon, LoadData, Evaluate, EvaluateFile };
  Type type;
  std::string argument;    // the path or the expression text
  DataFormat format;       // for LoadData: the data options in force at that point
  std::string valueField;  // for shapefile lines and polygons: the DBF field of line values
  std::string option;      // the option as written ("-g", "--grid"), empty for bare expressions
  int band = 1;            // for LoadGrid: the raster band read (--band before the -g)
};

// Everything the command line asks for.
struct Options {
  std::vector<Action> actions;
  // The -o path; "-" for standard output.
  std::string outputPath;
  bool outputToStandardOutput() const { return outputPath == "-"; }
  // --each: the layer (P1, C2, ...) whose records the last display text is evaluated for, one at
  // a time; empty when off.
  std::string eachLayer;
  // How a grid result saved as a raster is written: GDAL creation options (--co) and the type
  // of its values (--type; empty for Float64).
  std::vector<std::string> creationOptions;
  std::string dataType;
  // --threads: the most threads the evaluation uses; 0 for the default (VELLUMAR_THREADS, else
  // every core the process may use).
  unsigned threads = 0;
  // --tiles: the side of the output tiles in nodes; 0 when the result is evaluated whole.
  int tiles = 0;
  bool degrees = false;
  bool meters = false;
  bool english = false;
  bool list = false;
  bool help = false;
  bool version = false;
};

// The result of reading the command line: the options, or the usage error to report.
struct ParseResult {
  Options options;
  std::string error;
  bool ok() const { return error.empty(); }
};

ParseResult parseCommandLine(const std::vector<std::string>& arguments);

// The text printed by --help.
std::string usageText();

}  // namespace vellumar::cli
