#include "cli/CommandLine.h"

#include <charconv>
#include <map>
#include <utility>

#include "common/Parallel.h"
#include "formats/RasterFile.h"

namespace vellumar::cli {
namespace {

bool parseColumn(const std::string& text, int& column) {
  const auto result = std::from_chars(text.data(), text.data() + text.size(), column);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::optional<char> parseDelimiter(const std::string& kind) {
  static const std::map<std::string, char> named = {
      {"space", ' '}, {"tab", '\t'}, {"blank", '\0'}, {"comma", ','}};
  if (const auto found = named.find(kind); found != named.end()) return found->second;
  if (kind.size() == 1) return kind[0];
  return std::nullopt;
}

// Reads the command line left to right, keeping the data options in force for later -d.
class Parser {
 public:
  explicit Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  ParseResult run() {
    while (index_ < arguments_.size() && result_.ok()) step();
    // A tiled run evaluates one grid expression; records of a layer are no grid.
    if (result_.ok() && result_.options.tiles > 0 && !result_.options.eachLayer.empty()) {
      result_.error = "--tiles and --each cannot be used together";
    }
    return std::move(result_);
  }

 private:
  void step() {
    std::string argument = arguments_[index_++];
    std::optional<std::string> attached;
    if (argument.rfind("--", 0) == 0) {
      if (const auto equals = argument.find('='); equals != std::string::npos) {
        attached = argument.substr(equals + 1);
        argument.resize(equals);
      }
    }
    if (argument == "--") {
      while (index_ < arguments_.size()) addAction(Action::Type::Evaluate, arguments_[index_++]);
      return;
    }
    if (isOption(argument)) {
      option(argument, attached);
    } else {
      addAction(Action::Type::Evaluate, argument);
    }
  }

  // Long options and the single-letter options are options; any other argument, "-2+3" and
  // "-P1" among them, is an expression.
  static bool isOption(const std::string& argument) {
    if (argument.rfind("--", 0) == 0) return true;
    static const std::string kLetters = "glpdefoh";
    return argument.size() == 2 && argument[0] == '-' &&
           kLetters.find(argument[1]) != std::string::npos;
  }

  void option(const std::string& name, const std::optional<std::string>& attached) {
    using Type = Action::Type;
    static const std::map<std::string, Type> files = {
        {"-g", Type::LoadGrid},       {"--grid", Type::LoadGrid}, {"-l", Type::LoadLines},
        {"--lines", Type::LoadLines}, {"-p", Type::LoadPolygon},  {"--polygon", Type::LoadPolygon},
        {"-d", Type::LoadData},       {"--data", Type::LoadData}, {"-e", Type::Evaluate},
        {"--eval", Type::Evaluate},   {"-f", Type::EvaluateFile}, {"--file", Type::EvaluateFile}};
    if (const auto found = files.find(name); found != files.end()) {
      if (const auto value = valueOf(name, attached)) addAction(found->second, *value, name);
      return;
    }
    if (name == "-o" || name == "--output") {
      if (const auto value = valueOf(name, attached)) result_.options.outputPath = *value;
    } else if (name == "--each") {
      eachOption(name, attached);
    } else if (name == "--delimiter") {
      delimiterOption(name, attached);
    } else if (name == "--xy") {
      xyOption(name, attached);
    } else if (name == "--value-field") {
      if (const auto value = valueOf(name, attached)) valueField_ = *value;
    } else if (name == "--band" || name == "--co" || name == "--type") {
      rasterOption(name, attached);
    } else if (name == "--threads") {
      threadsOption(name, attached);
    } else if (name == "--tiles") {
      tilesOption(name, attached);
    } else if (!flag(name)) {
      result_.error = "unknown option " + name;
    }
  }

  bool flag(const std::string& name) {
    Options& options = result_.options;
    const std::map<std::string, bool*> flags = {
        {"--header", &format_.header},   {"--merge", &format_.merge},
        {"--degrees", &options.degrees}, {"--meters", &options.meters},
        {"--english", &options.english}, {"--list", &options.list},
        {"--help", &options.help},       {"-h", &options.help},
        {"--version", &options.version}};
    if (const auto found = flags.find(name); found != flags.end()) {
      *found->second = true;
      return true;
    }
    if (name == "--no-header") {
      format_.header = false;
      return true;
    }
    if (name == "--no-merge") {
      format_.merge = false;
      return true;
    }
    return false;
  }

  void rasterOption(const std::string& name, const std::optional<std::string>& attached) {
    const auto value = valueOf(name, attached);
    if (!value) return;
    Options& options = result_.options;
    if (name == "--band") {
      if (!parseColumn(*value, band_))
        result_.error = "--band takes a band number, not '" + *value + "'";
    } else if (name == "--co") {
      if (value->find('=') == std::string::npos || value->front() == '=') {
        result_.error = "--co takes KEY=VALUE, not '" + *value + "'";
      }
      options.creationOptions.push_back(*value);
    } else if (!formats::knownDataType(*value)) {
      result_.error = "unknown raster type '" + *value + "' for --type";
    } else {
      options.dataType = *value;
    }
  }

  void threadsOption(const std::string& name, const std::optional<std::string>& attached) {
    const auto value = valueOf(name, attached);
    if (!value) return;
    if (const std::optional<unsigned> threads = parallel::parseThreadCount(*value)) {
      result_.options.threads = *threads;
    } else {
      result_.error = "--threads takes a number of threads from 1 to 1024, not '" + *value + "'";
    }
  }

  // Tiles of 1 to 1,000,000 nodes a side; below 64 the halo read around each tile costs more
  // than the tile itself, but small tiles are what tests use.
  void tilesOption(const std::string& name, const std::optional<std::string>& attached) {
    const auto value = valueOf(name, attached);
    if (!value) return;
    int size = 0;
    if (!parseColumn(*value, size) || size < 1 || size > 1000000) {
      result_.error = "--tiles takes a tile size from 1 to 1000000 nodes, not '" + *value + "'";
      return;
    }
    result_.options.tiles = size;
  }

  // A polygon or lines operand name: P or C, then its number.
  void eachOption(const std::string& name, const std::optional<std::string>& attached) {
    const auto value = valueOf(name, attached);
    if (!value) return;
    int number = 0;
    if (value->size() < 2 || ((*value)[0] != 'P' && (*value)[0] != 'C') ||
        !parseColumn(value->substr(1), number) || number < 1) {
      result_.error =
          "--each takes a polygon or lines operand such as P1 or C2, not '" + *value + "'";
      return;
    }
    result_.options.eachLayer = *value;
  }

  void delimiterOption(const std::string& name, const std::optional<std::string>& attached) {
    const auto value = valueOf(name, attached);
    if (!value) return;
    const auto delimiter = parseDelimiter(*value);
    if (!delimiter) {
      result_.error = "invalid delimiter '" + *value + "' for --delimiter";
      return;
    }
    format_.delimiter = *delimiter;
  }

  void xyOption(const std::string& name, const std::optional<std::string>& attached) {
    const auto value = valueOf(name, attached);
    if (!value) return;
    format_.xyGiven = true;
    if (*value == "none") {
      format_.xy.reset();
      return;
    }
    const auto comma = value->find(',');
    int x = 0;
    int y = 0;
    if (comma == std::string::npos || !parseColumn(value->substr(0, comma), x) ||
        !parseColumn(value->substr(comma + 1), y)) {
      result_.error = "--xy takes X,Y (column numbers) or none, not '" + *value + "'";
      return;
    }
    format_.xy = std::make_pair(x, y);
  }

  std::optional<std::string> valueOf(const std::string& name,
                                     const std::optional<std::string>& attached) {
    if (attached) return attached;
    if (index_ >= arguments_.size()) {
      result_.error = "option " + name + " needs a value";
      return std::nullopt;
    }
    return arguments_[index_++];
  }

  void addAction(Action::Type type, std::string argument, std::string option = {}) {
    result_.options.actions.push_back(
        {type, std::move(argument), format_, valueField_, std::move(option), 1});
    // A --band holds for the one grid after it.
    if (type == Action::Type::LoadGrid)
      result_.options.actions.back().band = std::exchange(band_, 1);
  }

  const std::vector<std::string>& arguments_;
  std::size_t index_ = 0;
  DataFormat format_;
  std::string valueField_;
  int band_ = 1;
  ParseResult result_;
};

}  // namespace

ParseResult parseCommandLine(const std::vector<std::string>& arguments) {
  return Parser(arguments).run();
}

std::string usageText() {
  return R"(Usage: vellumar-calc [OPTION]... [EXPRESSION]...
Evaluate Vellumar expressions over maps, data, lines, polygons and numbers.

Operand files (loaded in the order given, before any evaluation):
  -g, --grid FILE        a grid (DSAA .grd, GeoTIFF, ESRI ASCII, netCDF, Imagine, VRT,
                         or any raster GDAL reads), registered as G1, G2, ...
  --band N               the raster band read for the -g after it (default: 1)
  -l, --lines FILE       a line file (.con, .lin with .val), shapefile or vector layer,
                         as C1, C2, ...
  -p, --polygon FILE     a polygon file (.pol, .con with .val), shapefile or vector layer,
                         as P1, P2, ...
  -d, --data FILE        a delimited data file, shapefile or vector layer of points;
                         column c of slot s is Ds_c
                         Vector layers: GeoPackage (.gpkg), GeoJSON (.geojson, .json),
                         FlatGeobuf (.fgb), KML, GML or any vector file GDAL reads;
                         FILE:LAYER names one layer of several (default: the first)
Data options (apply to every -d after them):
  --delimiter KIND       space, tab, blank (tab or space), comma (fields may be
                         "quoted"), or one character
  --header, --no-header  the first line holds column names (default: no header)
  --merge, --no-merge    a run of delimiters counts as one (default: merge)
  --xy X,Y | --xy none   coordinate columns of the data operands (default: 1,2)
  --value-field NAME     the field with the line values of the shapefile or vector
                         lines and polygons after it
Settings:
  --degrees              angles in degrees (default: radians)
  --meters               length unit m, tolerance 1.0 (default: km, tolerance 0.001)
  --english              messages in English (default: Russian)
Evaluation and output:
  -e, --eval TEXT        evaluate TEXT (statements separated by ';')
  -f, --file FILE        evaluate the text of a display file (.ctb)
  -o, --output FILE      save the final result with the writer of its kind; a grid by
                         extension: .grd DSAA, .tif/.tiff GeoTIFF, .asc ESRI ASCII,
                         .nc netCDF, .img Imagine; lines, polygons and data by
                         extension too: .shp shapefile, .gpkg GeoPackage, .geojson
                         GeoJSON, .fgb FlatGeobuf; '-' writes a DSAA grid or a data
                         file to standard output (the messages go to standard error)
  --co KEY=VALUE         a GDAL creation option of a raster result (repeatable),
                         e.g. --co COMPRESS=DEFLATE
  --type TYPE            the type of a raster result's values (Byte, Int16, Float32, ...;
                         default: Float64, which keeps every node exactly)
  --each P1              evaluate the last expression once per record of the layer P1
                         (or lines C1), which stands for that record alone: one line
                         per record (its number, a tab, the result); the result is the
                         layer with the numbers in the field Zres, saved with -o
  --threads N            use at most N threads (default: every core the process may
                         use, by its CPU affinity and control group)
  --tiles N              evaluate the grid result by tiles of N x N nodes, reading only
                         each tile's window of every raster grid: for grids larger than
                         memory; the result must go to a GeoTIFF (-o FILE.tif)
  --list                 print the identifier-values list after the evaluations
  --help                 print this help;  --version  print the version
  --                     end of options: every later argument is an expression
                         (so '-- -e' evaluates the constant e)
Without expressions, standard input is read line by line (interactive on a terminal).

Environment:
  VELLUMAR_MEMORY_LIMIT  the memory the program may use, in bytes or with K, M or G
                         (default: the physical memory or the control group's limit)
  VELLUMAR_THREADS       the most threads, as --threads (which takes precedence)

Exit status: 0 success, 1 an evaluation failed, 2 wrong command line,
3 an operand file could not be loaded or the result could not be saved.
)";
}

}  // namespace vellumar::cli
