#include "grid/DsaaFile.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "common/CFormat.h"
#include "common/FileIo.h"
#include "common/Parallel.h"
#include "common/SafeSave.h"

namespace vellumar::grid {

namespace {

// ---- tokens and lines ----

constexpr std::array<bool, 256> kSpaces = [] {
  std::array<bool, 256> spaces{};
  for (const unsigned char c : {' ', '\n', '\r', '\t', '\v', '\f'}) spaces[c] = true;
  return spaces;
}();

bool isSpace(char c) {
  return kSpaces[static_cast<unsigned char>(c)];
}

// The 1-based line of the byte at offset `at` of text.
std::int64_t lineAt(std::string_view text, std::size_t at) {
  return 1 + static_cast<std::int64_t>(std::count(text.begin(), text.begin() + at, '\n'));
}

// The line of the last character of text that is not white space; 0 when there is none.
std::int64_t lastTextLine(std::string_view text) {
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text.empty() ? 0 : lineAt(text, text.size());
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
    const auto at = static_cast<std::size_t>(last_ - bytes_.data());
    return at == bytes_.size() ? lastTextLine(bytes_) : lineAt(bytes_, at);
  }

  // The offset of the text not read yet.
  std::size_t offset() const { return static_cast<std::size_t>(p_ - bytes_.data()); }

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

// ---- node values in 12 significant digits ----

// The digits of a value rounded to 12 significant digits: digits[0] . digits[1..count) times ten
// to exponent, without trailing zeros.
struct Decimal {
  char digits[12];
  int count = 0;
  int exponent = 0;
};

constexpr int kNodeDigits = 12;
constexpr std::array<std::uint64_t, 19> kPowersOfTen = [] {
  std::array<std::uint64_t, 19> powers{};
  powers[0] = 1;
  for (std::size_t k = 1; k < powers.size(); ++k) powers[k] = 10 * powers[k - 1];
  return powers;
}();
__extension__ typedef unsigned __int128 Wide;  // GCC's and Clang's 128-bit integer

// The values whose 12 digits twelveDigits finds: for them a scaled mantissa fits 128 bits.
constexpr double kLeastDirect = 1e-5;
constexpr double kBeyondDirect = 9007199254740992.0;  // 2^53

// mantissa * 2^-shift * 10^(11 - exponent): its whole part, and its rest compared with one half
// (-1 below, 0 exactly half, 1 above).
struct Scaled {
  std::uint64_t whole;
  int rest;
};

Scaled scale(std::uint64_t mantissa, int shift, int exponent) {
  const int k = kNodeDigits - 1 - exponent;
  if (k >= 0) {
    const Wide product = static_cast<Wide>(mantissa) * kPowersOfTen[k];
    if (shift == 0) return {static_cast<std::uint64_t>(product), -1};
    const Wide whole = product >> shift;
    const Wide rest = product - (whole << shift);
    const Wide half = static_cast<Wide>(1) << (shift - 1);
    return {static_cast<std::uint64_t>(whole), rest < half ? -1 : rest > half ? 1 : 0};
  }
  const std::uint64_t divisor = kPowersOfTen[-k] << shift;
  const std::uint64_t rest = 2 * (mantissa % divisor);
  return {mantissa / divisor, rest < divisor ? -1 : rest > divisor ? 1 : 0};
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void writeSixDigits(char* out, std::uint32_t six) {
  std::memcpy(out, kDigitPairs + 2 * (six / 10000), 2);
  std::memcpy(out + 2, kDigitPairs + 2 * (six / 100 % 100), 2);
  std::memcpy(out + 4, kDigitPairs + 2 * (six % 100), 2);
}

// The 12 digits of a in [kLeastDirect, kBeyondDirect), rounded exactly, half to even, as printf
// rounds: a is mantissa * 2^-shift, so a scaled by a power of ten is an exact integer quotient.
// The decimal exponent starts as that of the power of two below a (floor(e * log10(2)), exact
// for every binary exponent e of a double), which is a's or one less, and is raised while the
// scaled value has more than 12 digits. False (never, in that range) when it started too high.
bool twelveDigits(double a, Decimal& d) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(a);
  const int biased = static_cast<int>(bits >> 52);
  const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int shift = 1075 - biased;
  int exponent = ((biased - 1023) * 78913) >> 18;  // floor((biased - 1023) * log10(2))
  Scaled scaled = scale(mantissa, shift, exponent);
  while (scaled.whole >= kPowersOfTen[kNodeDigits]) scaled = scale(mantissa, shift, ++exponent);
  if (scaled.whole < kPowersOfTen[kNodeDigits - 1]) return false;
  std::uint64_t n = scaled.whole + (scaled.rest > 0 || (scaled.rest == 0 && (scaled.whole & 1)));
  if (n == kPowersOfTen[kNodeDigits]) {
    n = kPowersOfTen[kNodeDigits - 1];
    ++exponent;
  }
  writeSixDigits(d.digits, static_cast<std::uint32_t>(n / 1000000));
  writeSixDigits(d.digits + 6, static_cast<std::uint32_t>(n % 1000000));
  d.count = kNodeDigits;
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
  d.exponent = exponent;
  return true;
}

char* copyDigits(char* out, const char* digits, int count) {
  std::memcpy(out, digits, static_cast<std::size_t>(count));
  return out + count;
}

// "d.ddde+XX", at least two exponent digits.
char* writeScientific(char* out, const Decimal& d) {
  *out++ = d.digits[0];
  if (d.count > 1) {
    *out++ = '.';
    out = copyDigits(out, d.digits + 1, d.count - 1);
  }
  *out++ = 'e';
  *out++ = d.exponent < 0 ? '-' : '+';
  const int magnitude = std::abs(d.exponent);
  if (magnitude < 10) *out++ = '0';
  return std::to_chars(out, out + 4, magnitude).ptr;
}

// "ddd.ddd" or "0.000ddd", no trailing zeros after the point.
char* writeFixed(char* out, const Decimal& d) {
  if (d.exponent < 0) {
    *out++ = '0';
    *out++ = '.';
    for (int k = d.exponent + 1; k < 0; ++k) *out++ = '0';
    return copyDigits(out, d.digits, d.count);
  }
  const int whole = d.exponent + 1;
  out = copyDigits(out, d.digits, std::min(whole, d.count));
  for (int k = d.count; k < whole; ++k) *out++ = '0';
  if (d.count <= whole) return out;
  *out++ = '.';
  return copyDigits(out, d.digits + whole, d.count - whole);
}

// Room for the longest text of writeTwelve ("-1.23456789012e-308").
constexpr std::size_t kNodeChars = 24;

// Writes v as std::to_chars(general, 12) does, the bytes of printf's "%.12g": usual values at
// several times its speed through twelveDigits, the others through to_chars itself.
char* writeTwelve(char* out, double v) {
  const double a = std::fabs(v);
  if (a == 0.0) {
    if (std::signbit(v)) *out++ = '-';
    *out++ = '0';
    return out;
  }
  Decimal d;
  if (a >= kLeastDirect && a < kBeyondDirect && twelveDigits(a, d)) {
    if (v < 0) *out++ = '-';
    return d.exponent < -4 || d.exponent >= kNodeDigits ? writeScientific(out, d)
                                                        : writeFixed(out, d);
  }
  return std::to_chars(out, out + kNodeChars, v, std::chars_format::general, kNodeDigits).ptr;
}

// The text of a blank node: the blanking value in 12 digits ("1.70141e+38").
const std::string& blankText() {
  static const std::string text = [] {
    char buffer[kNodeChars];
    return std::string(buffer, writeTwelve(buffer, kBlankValue));
  }();
  return text;
}

// A node value and its separating blank; blank nodes are written as the blanking value, whatever
// they hold.
char* writeNode(char* out, double v) {
  if (isBlank(v)) {
    const std::string& blank = blankText();
    out = copyDigits(out, blank.data(), static_cast<int>(blank.size()));
  } else {
    out = writeTwelve(out, v);
  }
  *out++ = ' ';
  return out;
}

// Formats rows [begin, end) of the nodes into out, each row ending with CR LF.
void formatRows(std::span<const double> nodes, std::size_t nx, std::size_t begin, std::size_t end,
                std::string& out) {
  out.resize((end - begin) * (nx * (kNodeChars + 1) + 2));
  char* p = out.data();
  for (std::size_t row = begin; row < end; ++row) {
    for (const double v : nodes.subspan(row * nx, nx)) p = writeNode(p, v);
    *p++ = '\r';
    *p++ = '\n';
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
}

// ---- the writer ----

// Appends the header's numbers to a text.
class HeaderText {
 public:
  void text(std::string_view s) { text_.append(s); }
  void number(double v) { number(v, kNodeDigits); }
  // An extent: 12 significant digits when they read back as the same double, else the fewest
  // digits that do, so that a saved grid lines up exactly with the grid it was saved from.
  void extent(double v) {
    for (int digits = 12; digits < 17; ++digits) {
      if (readsBack(v, digits)) return number(v, digits);
    }
    number(v, 17);
  }
  void integer(int v) { text_.append(std::to_string(v)); }
  const std::string& str() const { return text_; }

 private:
  void number(double v, int digits) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, v, std::chars_format::general, digits);
    text_.append(text, result.ptr);
  }
  static bool readsBack(double v, int digits) {
    char text[64];
    const auto written =
        std::to_chars(text, text + sizeof text, v, std::chars_format::general, digits);
    double read = 0.0;
    const auto parsed = std::from_chars(text, written.ptr, read);
    return parsed.ec == std::errc() && read == v;
  }

  std::string text_;
};

std::string headerText(const Grid& grid) {
  HeaderText out;
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
  return out.str();
}

// Takes the file text piece by piece, in order; false when it could not.
using TextSink = std::function<bool(std::string_view)>;

// The rows are formatted in blocks of about kWriteBlockNodes nodes, a batch of blocks at once
// on several threads, each block into a text of its own; the texts go to the sink in order, so
// that memory stays bounded by a batch, whatever the size of the grid.
constexpr std::size_t kWriteBlockNodes = std::size_t(1) << 16;
constexpr std::size_t kBlocksPerThread = 2;

bool emitDsaa(const Grid& grid, const TextSink& sink, ErrorSink* progress) {
  if (!sink(headerText(grid))) return false;
  const std::span<const double> nodes = grid.nodes();
  const auto nx = static_cast<std::size_t>(grid.nx());
  const auto ny = static_cast<std::size_t>(grid.ny());
  const std::size_t rowsPerBlock = std::max<std::size_t>(1, kWriteBlockNodes / nx);
  const std::size_t blocks = parallel::blockCount(ny, {rowsPerBlock, 0});
  const std::size_t batch = kBlocksPerThread * parallel::threadLimit();
  std::vector<std::string> texts(std::min(batch, blocks));
  ProgressPacer rows = ProgressPacer::opening(progress, grid.ny());
  for (std::size_t first = 0; first < blocks; first += batch) {
    const std::size_t count = std::min(batch, blocks - first);
    parallel::forEachBlock(
        count,
        [&](std::size_t begin, std::size_t end) {
          for (std::size_t k = begin; k < end; ++k) {
            const std::size_t row = (first + k) * rowsPerBlock;
            formatRows(nodes, nx, row, std::min(ny, row + rowsPerBlock), texts[k]);
          }
        },
        parallel::kCostlyItems);
    for (std::size_t k = 0; k < count; ++k) {
      if (!sink(texts[k])) return false;
    }
    const std::size_t done = std::min(ny, (first + count) * rowsPerBlock);
    if (!rows.advance(static_cast<std::int64_t>(done))) return false;
  }
  return true;
}

// ---- the reader ----

DsaaRead readNodesSerially(Tokens& tokens, std::span<double> nodes, int nx, int ny,
                           ProgressPacer& rows) {
  for (int row = 0; row < ny; ++row) {
    for (double& value : nodes.subspan(static_cast<std::size_t>(row) * nx, nx)) {
      if (!tokens.number(value)) return {DsaaStatus::Invalid, {tokens.lastLine()}};
      // An infinite or NaN node ("inf", "nan", or a number too large for a double) has no
      // usable value: it reads as blank, as every node at or above the blanking value does.
      if (!std::isfinite(value)) value = kBlankValue;
    }
    if (!rows.advance(row + 1)) return {DsaaStatus::Cancelled, {}};
  }
  return {};
}

// The node text is read in pieces of about kPieceBytes when it holds more than one.
constexpr std::size_t kPieceBytes = std::size_t(1) << 20;
constexpr std::size_t kPiecesPerThread = 4;
// A file is read in windows of two pieces per thread, within these bounds.
constexpr std::size_t kLeastWindowBytes = std::size_t(4) << 20;
constexpr std::size_t kMostWindowBytes = std::size_t(64) << 20;

// The text of a DSAA grid as the reader walks it: bytes held whole, or a file read a window at a
// time. The window is the text not dropped yet, as far as it is held. The line breaks of the
// dropped text are counted, and the line of its last character that is not white space kept,
// so that a fault anywhere names its line as if the text were held whole.
class DsaaText {
 public:
  explicit DsaaText(std::string_view whole) : whole_(whole), size_(whole.size()) {}
  explicit DsaaText(FileWindows& file) : file_(&file), size_(file.size()) {}

  std::string_view window() const { return file_ != nullptr ? file_->window() : whole_; }
  // Whether the window reaches the end of the text.
  bool last() const { return file_ == nullptr || file_->atEnd(); }
  std::uint64_t size() const { return size_; }
  std::int64_t linesBefore() const { return linesBefore_; }
  // The line of the last character that is not white space in the text dropped so far; 0 when
  // there is none.
  std::int64_t lastTextLine() const { return lastTextLine_; }

  // Drops the first `consumed` bytes of the window, which hold `newlines` line breaks.
  void drop(std::size_t consumed, std::int64_t newlines) {
    const std::string_view gone = window().substr(0, consumed);
    std::size_t end = gone.size();
    while (end > 0 && isSpace(gone[end - 1])) --end;
    if (end > 0) {
      const auto after =
          std::count(gone.begin() + static_cast<std::ptrdiff_t>(end), gone.end(), '\n');
      lastTextLine_ = linesBefore_ + 1 + newlines - after;
    }
    linesBefore_ += newlines;
    consumed_ = consumed;
    if (file_ == nullptr) whole_.remove_prefix(consumed);
  }
  // Reads on until the window holds at least `least` bytes or reaches the end of the text.
  DsaaStatus fill(std::size_t least) {
    if (file_ == nullptr) return DsaaStatus::Ok;
    const FileError error = file_->advance(consumed_, least);
    consumed_ = 0;
    return error == FileError::None ? DsaaStatus::Ok : DsaaStatus::CannotOpen;
  }

 private:
  std::string_view whole_;
  FileWindows* file_ = nullptr;
  std::uint64_t size_ = 0;
  std::size_t consumed_ = 0;  // dropped from the file's window, not yet released by a fill
  std::int64_t linesBefore_ = 0;
  std::int64_t lastTextLine_ = 0;
};

// The bytes of a file window: two pieces for every thread, so that the threads' share of the
// buffer stays small beside the grid.
std::size_t windowBytes() {
  return std::clamp(kPieceBytes * 2 * parallel::threadLimit(), kLeastWindowBytes, kMostWindowBytes);
}

// Cuts text into pieces of about kPieceBytes, each ending where white space (or the text) does
// begin, so that no token is split between two pieces.
std::vector<std::string_view> cutPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  for (std::size_t begin = 0; begin < text.size();) {
    std::size_t end = std::min(text.size(), begin + kPieceBytes);
    while (end < text.size() && !isSpace(text[end])) ++end;
    pieces.push_back(text.substr(begin, end - begin));
    begin = end;
  }
  return pieces;
}

// The tokens and the line breaks of a piece.
struct PieceCount {
  std::size_t tokens = 0;
  std::int64_t newlines = 0;
};

// Counts 16 bytes at a time where SSE2 is there (every x86-64): a byte mask of the white space
// and one of the line breaks, with a token starting at every other byte that follows white space.
[[gnu::always_inline]] inline PieceCount countPieceBody(std::string_view piece) {
  PieceCount count;
  const char* p = piece.data();
  const char* const end = p + piece.size();
  bool afterSpace = true;
#if defined(__SSE2__)
  unsigned before = 1;  // whether the byte before the block is white space
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // ' ', or '\t' ... '\r' (bytes from 0x80 on compare as negative, and are no white space).
    const __m128i blank =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')),
                     _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('\t' - 1)),
                                   _mm_cmplt_epi8(bytes, _mm_set1_epi8('\r' + 1))));
    const auto space = static_cast<unsigned>(_mm_movemask_epi8(blank));
    const auto breaks =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
    const unsigned follows = (space << 1 | before) & 0xFFFFu;
    count.tokens += static_cast<std::size_t>(std::popcount(~space & follows & 0xFFFFu));
    count.newlines += std::popcount(breaks);
    before = space >> 15;
  }
  afterSpace = before != 0;
#endif
  for (; p != end; ++p) {
    const bool space = isSpace(*p);
    count.tokens += afterSpace && !space;
    count.newlines += *p == '\n';
    afterSpace = space;
  }
  return count;
}

#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// The same count built for processors with a population count instruction, which the generic
// build replaces by a library call for each mask. It is chosen at run time, not through an ifunc
// (target_clones): an ifunc's resolver runs while the program is being relocated, before a
// sanitizer's runtime is set up, and crashes a ThreadSanitizer build at start.
[[gnu::target("popcnt")]] PieceCount countPieceWithPopcount(std::string_view piece) {
  return countPieceBody(piece);
}

PieceCount countPiece(std::string_view piece) {
  static const bool popcount = __builtin_cpu_supports("popcnt");
  return popcount ? countPieceWithPopcount(piece) : countPieceBody(piece);
}
#else
PieceCount countPiece(std::string_view piece) {
  return countPieceBody(piece);
}
#endif

// The first token of a piece that is no number: its node and where it starts (null for none).
struct PieceFault {
  std::size_t node = 0;
  const char* at = nullptr;
};

// Reads the tokens of piece into the nodes from first on, as far as there are nodes.
PieceFault parsePiece(std::string_view piece, std::span<double> nodes, std::size_t first) {
  const char* p = piece.data();
  const char* const end = p + piece.size();
  for (std::size_t node = first; node < nodes.size(); ++node) {
    while (p != end && isSpace(*p)) ++p;
    if (p == end) break;
    const char* const token = p;
    while (p != end && !isSpace(*p)) ++p;
    double& value = nodes[node];
    if (!parseWholeDouble({token, static_cast<std::size_t>(p - token)}, value)) {
      return {node, token};
    }
    if (!std::isfinite(value)) value = kBlankValue;  // as readNodesSerially
  }
  return {};
}

// Reads the nodes of a large text window by window, each window's whole tokens in batches of
// pieces on several threads: the tokens of every piece are counted, which places the first node
// of each piece, then the pieces are read into their nodes. The outcome is the serial reader's:
// the first token that is no number names its line, a missing token the text's last line,
// progress hears of the rows read, rising, and the tokens after the last node are never parsed (nor
// counted beyond their batch).
class PieceReader {
 public:
  PieceReader(DsaaText& text, std::span<double> nodes, int nx, ProgressPacer& rows)
      : text_(text), nodes_(nodes), nx_(static_cast<std::size_t>(nx)), rows_(rows) {}

  // Reads from offset `start` of the window on.
  DsaaRead run(std::size_t start) {
    // The line breaks of the window before the node text.
    const std::string_view head = text_.window().substr(0, start);
    std::int64_t newlines = std::count(head.begin(), head.end(), '\n');
    while (read_ < nodes_.size()) {
      const std::string_view window = text_.window();
      const std::size_t cut = wholeTokensEnd(window, start);
      if (cut == start && !text_.last()) {
        // One token fills the rest of the window: hold more of it.
        if (const DsaaStatus grown = text_.fill(2 * window.size()); grown != DsaaStatus::Ok) {
          return {grown, {}};
        }
        continue;
      }
      const DsaaRead read = readWindow(window.substr(start, cut - start), newlines);
      if (!read) return read;
      text_.drop(cut, newlines);
      if (text_.last() || read_ == nodes_.size()) break;
      if (const DsaaStatus filled = text_.fill(windowBytes()); filled != DsaaStatus::Ok) {
        return {filled, 0};
      }
      start = 0;
      newlines = 0;
    }
    if (read_ < nodes_.size()) return {DsaaStatus::Invalid, {text_.lastTextLine()}};
    return {};
  }

 private:
  // The end of the window's whole tokens from start on: all of it at the end of the text, else
  // up to its last white space (start when there is none).
  std::size_t wholeTokensEnd(std::string_view window, std::size_t start) const {
    if (text_.last()) return window.size();
    std::size_t cut = window.size();
    while (cut > start && !isSpace(window[cut - 1])) --cut;
    return cut;
  }

  // Reads the tokens of part, a run of whole tokens of the window, and adds its line breaks to
  // newlines (those of the window before part on entry).
  DsaaRead readWindow(std::string_view part, std::int64_t& newlines) {
    pieces_ = cutPieces(part);
    const std::size_t batch = kPiecesPerThread * parallel::threadLimit();
    for (std::size_t first = 0; first < pieces_.size() && read_ < nodes_.size(); first += batch) {
      const std::size_t count = std::min(batch, pieces_.size() - first);
      const std::size_t faulty = readBatch(first, count);
      const std::size_t readTo = faulty < count ? faults_[faulty].node : read_;
      if (!rows_.advance(static_cast<std::int64_t>(readTo / nx_))) {
        return {DsaaStatus::Cancelled, {}};
      }
      if (faulty < count) {
        const std::string_view piece = pieces_[first + faulty];
        const auto before = static_cast<std::ptrdiff_t>(faults_[faulty].at - piece.data());
        const std::int64_t within = std::count(piece.begin(), piece.begin() + before, '\n');
        return {DsaaStatus::Invalid,
                {text_.linesBefore() + 1 + newlines + newlinesBefore(faulty) + within}};
      }
      newlines += newlinesBefore(count);
    }
    return {};
  }

  // Reads pieces [first, first + count) and advances read_ past their nodes; the index within
  // the batch of the first piece with a fault, count when none has.
  std::size_t readBatch(std::size_t first, std::size_t count) {
    counts_.resize(count);
    starts_.resize(count);
    faults_.resize(count);
    parallel::forEachBlock(
        count,
        [&](std::size_t begin, std::size_t end) {
          for (std::size_t k = begin; k < end; ++k) counts_[k] = countPiece(pieces_[first + k]);
        },
        parallel::kCostlyItems);
    for (std::size_t k = 0; k < count; ++k) {
      starts_[k] = read_;
      read_ = std::min(nodes_.size(), read_ + counts_[k].tokens);
    }
    parallel::forEachBlock(
        count,
        [&](std::size_t begin, std::size_t end) {
          for (std::size_t k = begin; k < end; ++k) {
            faults_[k] = parsePiece(pieces_[first + k], nodes_, starts_[k]);
          }
        },
        parallel::kCostlyItems);
    for (std::size_t k = 0; k < count; ++k) {
      if (faults_[k].at != nullptr) return k;
    }
    return count;
  }

  // The line breaks of the first `count` pieces of the batch.
  std::int64_t newlinesBefore(std::size_t count) const {
    std::int64_t newlines = 0;
    for (std::size_t k = 0; k < count; ++k) newlines += counts_[k].newlines;
    return newlines;
  }

  DsaaText& text_;
  std::span<double> nodes_;
  std::size_t nx_;
  ProgressPacer& rows_;
  std::size_t read_ = 0;  // the nodes of the pieces read so far
  std::vector<std::string_view> pieces_;
  std::vector<PieceCount> counts_;
  std::vector<std::size_t> starts_;
  std::vector<PieceFault> faults_;
};

DsaaRead readNodes(DsaaText& text, Tokens& tokens, std::span<double> nodes, int nx, int ny,
                   ErrorSink* progress) {
  ProgressPacer rows = ProgressPacer::opening(progress, ny);
  if (nodes.empty() || (text.last() && text.window().size() - tokens.offset() <= kPieceBytes)) {
    return readNodesSerially(tokens, nodes, nx, ny, rows);
  }
  return PieceReader(text, nodes, nx, rows).run(tokens.offset());
}

// Reads the header from the window, holding more of the text while the header runs to the end
// of the window: the header's tokens and the white space after them are then all held, and the
// text before them is never dropped, so Tokens tells the lines of its faults.
DsaaRead readHeaderOf(DsaaText& text, Tokens& tokens, int& nx, int& ny, double extents[6]) {
  for (;;) {
    tokens = Tokens(text.window());
    const bool read = readHeader(tokens, nx, ny, extents);
    if (text.last() || tokens.offset() < text.window().size()) {
      if (!read) return {DsaaStatus::Invalid, {tokens.lastLine()}};
      return {};
    }
    if (const DsaaStatus grown = text.fill(2 * text.window().size() + 1); grown != DsaaStatus::Ok) {
      return {grown, {}};
    }
  }
}

DsaaRead parse(DsaaText& text, Grid& grid, ErrorSink* progress) {
  Tokens tokens(text.window());
  int nx = 0;
  int ny = 0;
  double extents[6];
  if (const DsaaRead header = readHeaderOf(text, tokens, nx, ny, extents); !header) return header;
  // Every value needs at least one character and one separator (or the end of the text). Each
  // count on its own is held to that too, so that a header of an empty grid ("2000000000 0")
  // cannot make later operations size anything from the count it claims.
  const std::uint64_t most = (text.size() + 1) / 2;
  const std::uint64_t count = static_cast<std::uint64_t>(nx) * static_cast<std::uint64_t>(ny);
  if (count > most || static_cast<std::uint64_t>(nx) > most ||
      static_cast<std::uint64_t>(ny) > most) {
    return {DsaaStatus::Invalid, {}};
  }
  Grid loaded;
  loaded.reinitialiseUnset(nx, ny);
  const DsaaRead read = readNodes(text, tokens, loaded.mutableNodes(), nx, ny, progress);
  if (!read) return read;
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

DsaaRead parseDsaa(std::string_view bytes, Grid& grid, ErrorSink* progress) {
  DsaaText text(bytes);
  return parse(text, grid, progress);
}

// The file is read in windows, never held whole: its pages are copied once into a buffer of a
// few megabytes that the parse reuses, which costs far less than faulting in a buffer of the
// whole file.
DsaaRead readDsaa(const std::string& path, Grid& grid, ErrorSink* progress) {
  FileWindows file;
  FileError error = file.open(path);
  if (error == FileError::None) error = file.advance(0, windowBytes());
  if (error != FileError::None) return {DsaaStatus::CannotOpen, {}};
  DsaaText text(file);
  const DsaaRead parsed = parse(text, grid, progress);
  if (parsed) grid.name = path;
  return parsed;
}

std::string formatDsaa(const Grid& grid) {
  std::string text;
  if (!grid.hasNodes()) return text;
  emitDsaa(
      grid,
      [&text](std::string_view piece) {
        text += piece;
        return true;
      },
      nullptr);
  return text;
}

bool writeDsaa(const Grid& grid, const std::string& path, ErrorSink* progress) {
  if (!grid.hasNodes()) return false;
  SaveFile file(path);
  if (!file.open()) return false;
  return emitDsaa(
             grid, [&file](std::string_view piece) { return file.write(piece); }, progress) &&
         file.commit();
}

}  // namespace vellumar::grid
