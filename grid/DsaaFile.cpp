#include "grid/DsaaFile.h"

#include <charconv>
#include <functional>
#include <new>

#include "common/CFormat.h"
#include "common/FileIo.h"
#include "common/SafeSave.h"

namespace vellumar::grid {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\v' || c == '\f';
}

// Walks the white-space separated tokens of a DSAA text.
class Tokens {
 public:
  explicit Tokens(std::string_view bytes) : p_(bytes.data()), end_(bytes.data() + bytes.size()) {}

  std::string_view word() {
    skipSpace();
    const char* start = p_;
    while (p_ != end_ && !isSpace(*p_)) ++p_;
    return {start, static_cast<std::size_t>(p_ - start)};
  }

  // A whole token that is a number; false for a missing token or one with anything else in it.
  template <class T>
  bool number(T& value) {
    skipSpace();
    const char* start = p_;
    if (p_ != end_ && *p_ == '+') ++p_;  // from_chars does not take a plus sign
    if (p_ != end_ && (*p_ == '+' || *p_ == '-') && p_ != start) return false;
    T parsed{};
    const auto [next, error] = std::from_chars(p_, end_, parsed);
    if (error == std::errc::invalid_argument || (next != end_ && !isSpace(*next))) return false;
    if (error == std::errc::result_out_of_range) {
      if (!outOfRange(start, next, parsed)) return false;
    }
    p_ = next;
    value = parsed;
    return true;
  }

 private:
  void skipSpace() {
    while (p_ != end_ && isSpace(*p_)) ++p_;
  }

  // Out-of-range doubles become what strtod gives (infinity or the nearest tiny value); an
  // out-of-range integer is refused.
  static bool outOfRange(const char*, const char*, int&) { return false; }
  static bool outOfRange(const char* start, const char* next, double& value) {
    const std::string text(start, next);
    value = cstrtod(text.c_str(), nullptr);
    return true;
  }

  const char* p_;
  const char* end_;
};

bool readHeader(Tokens& tokens, int& nx, int& ny, double extents[6]) {
  if (tokens.word() != "DSAA") return false;
  if (!tokens.number(nx) || !tokens.number(ny) || nx < 0 || ny < 0) return false;
  for (int k = 0; k < 6; ++k) {
    if (!tokens.number(extents[k])) return false;
  }
  return true;
}

// Appends text to a buffer that is handed on in large pieces, so that big grids are written
// without building the whole file in memory.
class ChunkWriter {
 public:
  template <class Flush>
  explicit ChunkWriter(Flush&& flush) : flush_(std::forward<Flush>(flush)) {
    buffer_.reserve(kChunk + 256);
  }
  void text(std::string_view s) { buffer_.append(s); }
  void number(double v) { number(v, 12); }
  // A node value: blank nodes are written as the blanking value, whatever they hold.
  void node(double v) { number(isBlank(v) ? kBlankValue : v); }
  // An extent: 12 significant digits when they read back as the same double, else the fewest
  // digits that do, so that a saved grid lines up exactly with the grid it was saved from.
  void extent(double v) {
    for (int digits = 12; digits < 17; ++digits) {
      if (readsBack(v, digits)) return number(v, digits);
    }
    number(v, 17);
  }
  void integer(int v) { buffer_.append(std::to_string(v)); }
  bool maybeFlush() { return buffer_.size() < kChunk || flush(); }
  bool flush() {
    const bool ok = flush_(buffer_);
    buffer_.clear();
    return ok;
  }

 private:
  void number(double v, int digits) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, v, std::chars_format::general, digits);
    buffer_.append(text, result.ptr);
  }
  static bool readsBack(double v, int digits) {
    char text[64];
    const auto written =
        std::to_chars(text, text + sizeof text, v, std::chars_format::general, digits);
    double read = 0.0;
    const auto parsed = std::from_chars(text, written.ptr, read);
    return parsed.ec == std::errc() && read == v;
  }

  static constexpr std::size_t kChunk = std::size_t(1) << 20;
  std::function<bool(const std::string&)> flush_;
  std::string buffer_;
};

bool emitDsaa(const Grid& grid, ChunkWriter& out) {
  out.text("DSAA\r\n");
  out.integer(grid.nx());
  out.text(" ");
  out.integer(grid.ny());
  const double extents[2][2] = {{grid.left, grid.right}, {grid.bottom, grid.top}};
  for (const auto& pair : extents) {
    out.text("\r\n");
    out.extent(pair[0]);
    out.text(" ");
    out.extent(pair[1]);
  }
  out.text("\r\n");
  out.number(grid.zmin);
  out.text(" ");
  out.number(grid.zmax);
  out.text("\r\n");
  const std::span<const double> nodes = grid.nodes();
  const std::size_t nx = static_cast<std::size_t>(grid.nx());
  for (std::size_t row = 0; row < nodes.size(); row += nx) {
    for (std::size_t i = 0; i < nx; ++i) {
      out.node(nodes[row + i]);
      out.text(" ");
    }
    out.text("\r\n");
    if (!out.maybeFlush()) return false;
  }
  return out.flush();
}

enum class Parsed { Ok, Invalid, OutOfMemory };

Parsed parse(std::string_view bytes, Grid& grid) {
  Tokens tokens(bytes);
  int nx = 0;
  int ny = 0;
  double extents[6];
  if (!readHeader(tokens, nx, ny, extents)) return Parsed::Invalid;
  // Every value needs at least one character and one separator (or the end of the text). Each
  // count on its own is held to that too, so that a header of an empty grid ("2000000000 0")
  // cannot make later operations size anything from the count it claims.
  const std::uint64_t most = (bytes.size() + 1) / 2;
  const std::uint64_t count = static_cast<std::uint64_t>(nx) * static_cast<std::uint64_t>(ny);
  if (count > most || static_cast<std::uint64_t>(nx) > most ||
      static_cast<std::uint64_t>(ny) > most) {
    return Parsed::Invalid;
  }
  Grid loaded;
  try {
    loaded.reinitialise(nx, ny);
  } catch (const std::bad_alloc&) {
    return Parsed::OutOfMemory;
  }
  for (double& value : loaded.mutableNodes()) {
    if (!tokens.number(value)) return Parsed::Invalid;
  }
  loaded.rectangleFlag = 1;
  loaded.left = extents[0];
  loaded.right = extents[1];
  loaded.bottom = extents[2];
  loaded.top = extents[3];
  loaded.zmin = extents[4];
  loaded.zmax = extents[5];
  grid = std::move(loaded);
  return Parsed::Ok;
}

}  // namespace

bool parseDsaa(std::string_view bytes, Grid& grid) {
  return parse(bytes, grid) == Parsed::Ok;
}

bool readDsaa(const std::string& path, Grid& grid, bool* outOfMemory) {
  if (outOfMemory != nullptr) *outOfMemory = false;
  std::string bytes;
  const FileError read = readFile(path, bytes);
  const Parsed parsed = read == FileError::None          ? parse(bytes, grid)
                        : read == FileError::OutOfMemory ? Parsed::OutOfMemory
                                                         : Parsed::Invalid;
  if (outOfMemory != nullptr) *outOfMemory = parsed == Parsed::OutOfMemory;
  if (parsed != Parsed::Ok) return false;
  grid.name = path;
  return true;
}

std::string formatDsaa(const Grid& grid) {
  std::string text;
  if (!grid.hasNodes()) return text;
  ChunkWriter writer([&text](const std::string& piece) {
    text += piece;
    return true;
  });
  emitDsaa(grid, writer);
  return text;
}

bool writeDsaa(const Grid& grid, const std::string& path) {
  if (!grid.hasNodes()) return false;
  SaveFile file(path);
  if (!file.open()) return false;
  ChunkWriter writer([&file](const std::string& piece) { return file.write(piece); });
  return emitDsaa(grid, writer) && file.commit();
}

}  // namespace vellumar::grid
