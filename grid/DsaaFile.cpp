#include "grid/DsaaFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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

// Walks the white-space separated tokens of a DSAA text, and tells the line of a fault.
class Tokens {
 public:
  explicit Tokens(std::string_view bytes) : bytes_(bytes), p_(bytes.data()) {}

  std::string_view word() {
    const char* end = bytes_.data() + bytes_.size();
    while (p_ != end && isSpace(*p_)) ++p_;
    last_ = p_;
    while (p_ != end && !isSpace(*p_)) ++p_;
    return {last_, static_cast<std::size_t>(p_ - last_)};
  }

  // A whole token that is a number; false for a missing token or one with anything else in it.
  bool number(double& value) { return parseWholeDouble(word(), value); }
  bool number(int& value) {
    std::string_view token = word();
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);  // from_chars takes no '+'
    const char* end = token.data() + token.size();
    const auto [next, error] = std::from_chars(token.data(), end, value);
    return error == std::errc() && next == end;
  }

  // The 1-based line of the last token read; at the end of the text, the line of its last
  // character that is not white space (where the missing token was due).
  std::int64_t lastLine() const {
    std::string_view before = bytes_.substr(0, static_cast<std::size_t>(last_ - bytes_.data()));
    if (last_ == bytes_.data() + bytes_.size()) {
      while (!before.empty() && isSpace(before.back())) before.remove_suffix(1);
      if (before.empty()) return 0;
    }
    return 1 + static_cast<std::int64_t>(std::count(before.begin(), before.end(), '\n'));
  }

 private:
  std::string_view bytes_;
  const char* p_;
  const char* last_ = p_;
};

bool readHeader(Tokens& tokens, int& nx, int& ny, double extents[6]) {
  if (tokens.word() != "DSAA") return false;
  if (!tokens.number(nx) || nx < 0 || !tokens.number(ny) || ny < 0) return false;
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

bool emitDsaa(const Grid& grid, ChunkWriter& out, const RowProgress& progress) {
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
  for (int row = 0; row < grid.ny(); ++row) {
    const std::size_t first = static_cast<std::size_t>(row) * nx;
    for (std::size_t i = 0; i < nx; ++i) {
      out.node(nodes[first + i]);
      out.text(" ");
    }
    out.text("\r\n");
    if (!out.maybeFlush() || !reportRows(progress, row + 1, grid.ny())) return false;
  }
  return out.flush();
}

DsaaRead parse(std::string_view bytes, Grid& grid, const RowProgress& progress) {
  Tokens tokens(bytes);
  const DsaaRead invalid{DsaaStatus::Invalid, 0};
  const auto faultHere = [&tokens] { return DsaaRead{DsaaStatus::Invalid, tokens.lastLine()}; };
  int nx = 0;
  int ny = 0;
  double extents[6];
  if (!readHeader(tokens, nx, ny, extents)) return faultHere();
  // Every value needs at least one character and one separator (or the end of the text). Each
  // count on its own is held to that too, so that a header of an empty grid ("2000000000 0")
  // cannot make later operations size anything from the count it claims.
  const std::uint64_t most = (bytes.size() + 1) / 2;
  const std::uint64_t count = static_cast<std::uint64_t>(nx) * static_cast<std::uint64_t>(ny);
  if (count > most || static_cast<std::uint64_t>(nx) > most ||
      static_cast<std::uint64_t>(ny) > most) {
    return invalid;
  }
  Grid loaded;
  try {
    loaded.reinitialise(nx, ny);
  } catch (const std::bad_alloc&) {
    return {DsaaStatus::OutOfMemory, 0};
  }
  const std::span<double> nodes = loaded.mutableNodes();
  for (int row = 0; row < ny; ++row) {
    for (double& value : nodes.subspan(static_cast<std::size_t>(row) * nx, nx)) {
      if (!tokens.number(value)) return faultHere();
      // An infinite or NaN node ("inf", "nan", or a number too large for a double) has no
      // usable value: it reads as blank, as every node at or above the blanking value does.
      if (!std::isfinite(value)) value = kBlankValue;
    }
    if (!reportRows(progress, row + 1, ny)) return {DsaaStatus::Cancelled, 0};
  }
  loaded.rectangleFlag = 1;
  loaded.left = extents[0];
  loaded.right = extents[1];
  loaded.bottom = extents[2];
  loaded.top = extents[3];
  loaded.zmin = extents[4];
  loaded.zmax = extents[5];
  grid = std::move(loaded);
  return {};
}

}  // namespace

DsaaRead parseDsaa(std::string_view bytes, Grid& grid, const RowProgress& progress) {
  return parse(bytes, grid, progress);
}

DsaaRead readDsaa(const std::string& path, Grid& grid, const RowProgress& progress) {
  FileBytes bytes;
  const FileError read = readFile(path, bytes);
  if (read != FileError::None) {
    return {read == FileError::OutOfMemory ? DsaaStatus::OutOfMemory : DsaaStatus::CannotOpen, 0};
  }
  const DsaaRead parsed = parse(bytes.view(), grid, progress);
  if (parsed) grid.name = path;
  return parsed;
}

std::string formatDsaa(const Grid& grid) {
  std::string text;
  if (!grid.hasNodes()) return text;
  ChunkWriter writer([&text](const std::string& piece) {
    text += piece;
    return true;
  });
  emitDsaa(grid, writer, {});
  return text;
}

bool writeDsaa(const Grid& grid, const std::string& path, const RowProgress& progress) {
  if (!grid.hasNodes()) return false;
  SaveFile file(path);
  if (!file.open()) return false;
  ChunkWriter writer([&file](const std::string& piece) { return file.write(piece); });
  return emitDsaa(grid, writer, progress) && file.commit();
}

}  // namespace vellumar::grid
