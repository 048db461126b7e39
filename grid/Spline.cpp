#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/ErrorSink.h"
#include "common/Parallel.h"
#include "grid/Blank.h"
#include "grid/Surface.h"

namespace vellumar::grid {

namespace {

// Elimination factors -1/(4 + t[k-1]) of the tridiagonal system c[k-1] + 4c[k] + c[k+1] = 6f[k],
// rounded to 11 decimals; from index 10 on the factor has converged.
constexpr double kFactors[11] = {-0.25,          -0.26666666666, -0.26785714285, -0.26794258373,
                                 -0.26794871794, -0.26794915836, -0.26794918998, -0.26794919225,
                                 -0.26794919241, -0.26794919242, -0.26794919243};

double factor(int k) {
  return kFactors[std::min(k, 10)];
}

// The rows of the solve along X solved together, interleaved.
constexpr std::size_t kRowBlock = 8;
// The lanes of a strip of the solve along Y, solved on one thread: a strip of every row fits in
// the cache between the forward and the backward sweep.
constexpr std::size_t kColumnStrip = 64;

// Element k (0 = pad, 1..n = data, n+1 = pad) of many independent 1-D systems ("lanes") at once.
// RowLanes: element k is a whole row and the lanes are its contiguous values (solve along Y).
struct RowLanes {
  double* base;
  std::size_t stride;  // distance between elements k and k+1
  std::size_t lanes;
  double* at(int k) const { return base + k * stride; }
  template <class F>
  void each(int k, F&& f) const {
    double* p = at(k);
    for (std::size_t l = 0; l < lanes; ++l) f(p + l, static_cast<std::ptrdiff_t>(stride));
  }
};

// Element k is value k of each of a few rows (solve along X); interleaving the rows hides the
// latency of the sequential recurrence.
struct ColumnLanes {
  double* base;
  std::size_t rowStride;
  std::size_t lanes;
  template <class F>
  void each(int k, F&& f) const {
    for (std::size_t l = 0; l < lanes; ++l) f(base + l * rowStride + k, std::ptrdiff_t{1});
  }
};

// Counts the slot rows a solve has finished and reports them, in slots, through the pacer: the
// solve's cancel point, once per row, or once per block of a pass run in parallel.
class RowTicks {
 public:
  RowTicks(ProgressPacer& pacer, std::size_t width)
      : pacer_(pacer), width_(static_cast<std::int64_t>(width)) {}
  bool operator()(std::size_t rows = 1) {
    rows_ += static_cast<std::int64_t>(rows);
    return pacer_.advance(rows_ * width_);
  }
  // Runs body(begin, end) over the slots [0, rows * width) in parallel blocks of blockSlots,
  // reported as they finish; a finished pass then counts as weight passes over those rows. False
  // when stopped.
  template <class Body>
  bool parallelPass(std::size_t rows, std::size_t blockSlots, int weight, Body&& body) {
    pacer_.setBase(rows_ * width_);
    const bool done = parallel::forEachBlock(rows * static_cast<std::size_t>(width_), pacer_, body,
                                             parallel::Blocking{blockSlots, 2 * blockSlots});
    pacer_.setBase(0);
    if (done) rows_ += weight * static_cast<std::int64_t>(rows);
    return done;
  }

 private:
  ProgressPacer& pacer_;
  std::int64_t width_;
  std::int64_t rows_ = 0;
};

// The natural-end cubic-spline solve over c_1..c_n holding f_1..f_n, in two parts: the forward
// elimination, one element at a time, and the back substitution, which also sets the pads c_0
// and c_{n+1}.

// Step m (3 <= m <= n) of the forward elimination: element m - 1.
template <class Lanes>
void eliminate(const Lanes& lanes, int m) {
  const double t = factor(m - 3);
  lanes.each(m - 1, [t](double* c, std::ptrdiff_t d) { c[0] = (c[-d] - 6.0 * c[0]) * t; });
}

// The rest of the solve once every elimination step is done. tick() is asked after each
// element's step; false stops the solve (cancel).
template <class Lanes, class Tick>
bool substitute(const Lanes& lanes, int n, Tick&& tick) {
  if (n < 2) {
    lanes.each(1, [](double* c, std::ptrdiff_t d) { c[-d] = c[d] = c[0]; });
    return true;
  }
  if (n >= 3) {
    const double t = factor(n - 3);
    lanes.each(n - 1, [t](double* c, std::ptrdiff_t d) { c[0] = c[0] + t * c[d]; });
  }
  lanes.each(n + 1, [](double* c, std::ptrdiff_t d) { c[0] = 2.0 * c[-d] - c[-2 * d]; });
  for (int j = n - 2; j >= 2; --j) {
    const double t = factor(j - 2);
    lanes.each(j, [t](double* c, std::ptrdiff_t d) { c[0] = c[0] + t * c[d]; });
    if (!tick()) return false;
  }
  lanes.each(0, [](double* c, std::ptrdiff_t d) { c[0] = 2.0 * c[d] - c[2 * d]; });
  return true;
}

// The whole solve; tick() is asked after each element's step, and false stops it (cancel).
template <class Lanes, class Tick>
bool solve(const Lanes& lanes, int n, Tick&& tick) {
  for (int m = 3; m <= n; ++m) {
    eliminate(lanes, m);
    if (!tick()) return false;
  }
  return substitute(lanes, n, tick);
}

// ---- the solve around blank nodes ----
//
// A spline cannot be solved across a blank: the node has no value to interpolate, and any value
// put in its place would ring through every row and column that holds it. So each column and row
// run of valid nodes is solved as its own natural spline, with the same 1-D solve and factor
// table as a whole axis, writing its two pads into the blank slots beside it. The coefficients
// stay one array, so the surface remains the B-spline sum of Grid::value: continuous with its
// first and second derivatives wherever it is evaluated, and blank in every cell with a blank
// corner (Grid::value never reads the coefficients there). Three consequences:
//   - The valid nodes are reproduced: every 1-D identity (c[k-1] + 4c[k] + c[k+1]) / 6 = f[k]
//     that a node's value needs holds inside its runs.
//   - A rectangular block of valid nodes surrounded by blanks gets exactly the coefficients of the
//     block cut out as its own grid: its columns are whole runs, its rows (pad rows included) too.
//   - A single blank between two runs would be the pad of both; there the two runs are joined and
//     the blank takes the mean of its two neighbours for the solve only (its cells stay blank).
// Columns are solved first, then rows over everything the columns defined (values and pads), as
// the solve without blanks does with its pad rows.
//
// Most slots lie deep inside a run (its factor has converged) or deep inside a blank area (zero,
// and zero around it, which the elimination leaves zero), and there the elimination is the same
// for every slot. So each sweep applies that uniform step, as fast as the solve without blanks,
// and the step of its own only to the few "special" slots near the ends of runs, listed first.

// Mask bits of a slot: a node of the column solve (valid, or a joined single gap), a column pad,
// a slot joined in the row solve.
constexpr std::uint8_t kNodeSlot = 1;
constexpr std::uint8_t kColumnPad = 2;
constexpr std::uint8_t kRowJoin = 4;
constexpr std::uint8_t kColumnRun = kNodeSlot;
constexpr std::uint8_t kRowRun = kNodeSlot | kColumnPad | kRowJoin;

// The mask of every slot, in the coefficient layout.
using SlotMask = std::vector<std::uint8_t, NodeAllocator<std::uint8_t>>;

// How the elimination treats a slot ("special" slots, all but kUniform). A slot of a run that the
// elimination changes has the code of its factor while that still converges: position p (1 for
// the first slot of the run) gives code p - 2 for p = 2 ... 11, and kUniform from 12 on. The
// first and last slot of a run, and the blank slots just before and after it, keep their value.
constexpr std::uint8_t kKeep = 11;      // the first or last slot of a run
constexpr std::uint8_t kEndPad = 12;    // the blank slot after a run: takes its pad afterwards
constexpr std::uint8_t kStartPad = 13;  // the blank slot before a run: takes its pad afterwards
constexpr std::uint8_t kUniform = 255;  // deep in a run, or deep in a blank area
constexpr int kConverged = 12;          // run positions from here on use the last factor
constexpr double kLastFactor = kFactors[10];

// The elimination steps of a special slot, as solve() computes them.
inline double forwardStep(std::uint8_t code, double previous, double slot) {
  return code < kKeep ? (previous - 6.0 * slot) * factor(code) : slot;
}
inline double backwardStep(std::uint8_t code, double slot, double next) {
  return code < kKeep ? slot + factor(code) * next : slot;
}
// The natural pad beside a run end e, from e and the slot inside it (absent for a run of one).
inline double padBeside(double end, double inner, bool hasInner) {
  return hasInner ? 2.0 * end - inner : end;
}

// The special slots of a sweep, lane by lane, grouped by element.
struct Specials {
  // Left uninitialised when grown: each row is collected into room for a whole row.
  std::vector<std::uint32_t, NodeAllocator<std::uint32_t>> lane;
  std::vector<std::uint8_t, NodeAllocator<std::uint8_t>> code;
  std::vector<std::size_t> start;  // start[k] ... start[k + 1]: the specials of element k

  std::size_t begin(std::size_t k) const { return start[k]; }
  std::size_t end(std::size_t k) const { return start[k + 1]; }
};

// Calls f(i) for every byte i of bytes[0 .. n) that differs from the byte value skip, reading
// whole words (bytes must hold a multiple of 8 bytes past n).
template <class F>
void forEachByteNot(const std::uint8_t* bytes, std::size_t n, std::uint8_t skip, F&& f) {
  const std::uint64_t skipWord = 0x0101010101010101ull * skip;
  for (std::size_t w = 0; w < n; w += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes + w, sizeof word);
    std::uint64_t differs = word ^ skipWord;
    while (differs != 0) {
      const int byte = __builtin_ctzll(differs) / 8;
      differs &= ~(std::uint64_t{0xFF} << (8 * byte));
      if (w + byte < n) f(w + static_cast<std::size_t>(byte));
    }
  }
}

// The single gaps of a row of column runs: flags[l] is set where the slot is blank between valid
// slots in the rows below and above.
void findColumnGaps(const std::uint8_t* __restrict below, const std::uint8_t* __restrict here,
                    const std::uint8_t* __restrict above, std::uint8_t* __restrict flags,
                    std::size_t width) {
  for (std::size_t l = 0; l < width; ++l) flags[l] = ~here[l] & below[l] & above[l] & kColumnRun;
}

// Joins the single gaps of slot row j of the column runs (1 < j < height - 1), whose neighbours
// hold their node values: the gap takes their mean and becomes a node of the column solve.
// flags is scratch space of width rounded up to whole words.
void joinColumnGaps(double* c, std::uint8_t* mask, std::size_t width, std::size_t j,
                    std::vector<std::uint8_t>& flags) {
  std::uint8_t* here = mask + j * width;
  findColumnGaps(here - width, here, here + width, flags.data(), width);
  double* r = c + j * width;
  const double* below = r - width;
  const double* above = r + width;
  forEachByteNot(flags.data(), width, 0, [&](std::size_t l) {
    r[l] = (below[l] + above[l]) / 2.0;
    here[l] |= kNodeSlot;
  });
}

// One row of the column solve in byte arithmetic on whole vectors of lanes: the codes of the
// slots here, from their run positions (updated) and the rows before and after.
void classifyColumnSlots(const std::uint8_t* __restrict before, const std::uint8_t* __restrict here,
                         const std::uint8_t* __restrict after, std::uint8_t* __restrict position,
                         std::uint8_t* __restrict codes, std::size_t width) {
  for (std::size_t l = 0; l < width; ++l) {
    const std::uint8_t v = here[l] & kColumnRun;
    const std::uint8_t vp = before[l] & kColumnRun;
    const std::uint8_t vn = after[l] & kColumnRun;
    const std::uint8_t p =
        std::min<std::uint8_t>(position[l] + 1, kConverged) & static_cast<std::uint8_t>(-v);
    position[l] = p;
    const std::uint8_t interior = (p >= 2) & vn;
    const std::uint8_t young = p < kConverged ? p - 2 : kUniform;
    const std::uint8_t inRun = interior ? young : kKeep;
    const std::uint8_t inBlank = vp ? kEndPad : (vn ? kStartPad : kUniform);
    codes[l] = v ? inRun : inBlank;
  }
}

// One sweep step over the lanes [first, last) of a row: the uniform step on the stretches between
// the specials (those of the row in that stretch of lanes, ascending), and each special's own step
// from its value.
template <class Uniform, class Own>
void sweepRow(double* r, const std::uint32_t* lanes, const std::uint8_t* codes, std::size_t count,
              std::size_t first, std::size_t last, Uniform&& uniform, Own&& own) {
  std::size_t from = first;
  for (std::size_t e = 0; e < count; ++e) {
    const std::size_t l = lanes[e];
    uniform(from, l);
    r[l] = own(codes[e], l, r[l]);
    from = l + 1;
  }
  uniform(from, last);
}

// The specials of every row of the column solve, for the sweeps: s all of them, pads the pad slots
// among them. Each row's specials are also cut by strips of kColumnStrip lanes: strip b of row k
// holds the entries from at[k * (strips + 1) + b] to the next.
struct ColumnSpecials {
  struct StripIndex {
    std::size_t strips = 0;
    std::vector<std::size_t> at;
    std::pair<std::size_t, std::size_t> range(std::size_t k, std::size_t strip) const {
      const std::size_t row = k * (strips + 1);
      return {at[row + strip], at[row + strip + 1]};
    }
    // Adds row k's cuts (the row's entries being lanes[begin, end), ascending).
    void addRow(const std::uint32_t* lanes, std::size_t begin, std::size_t end) {
      std::size_t e = begin;
      for (std::size_t b = 0; b < strips; ++b) {
        while (e < end && lanes[e] < b * kColumnStrip) ++e;
        at.push_back(e);
      }
      at.push_back(end);
    }
  };
  Specials s;
  Specials pads;
  StripIndex sStrips;
  StripIndex padStrips;
};

ColumnSpecials classifyColumns(const std::uint8_t* mask, std::size_t width, std::size_t height) {
  const std::size_t padded = (width + 7) / 8 * 8;
  const std::vector<std::uint8_t> none(padded, 0);
  std::vector<std::uint8_t> position(padded, 0);
  std::vector<std::uint8_t> codes(padded, kUniform);
  ColumnSpecials found;
  Specials& s = found.s;
  Specials& pads = found.pads;
  const std::size_t strips = (width + kColumnStrip - 1) / kColumnStrip;
  found.sStrips.strips = found.padStrips.strips = strips;
  found.sStrips.at.reserve(height * (strips + 1));
  found.padStrips.at.reserve(height * (strips + 1));
  s.start.assign(height + 1, 0);
  pads.start.assign(height + 1, 0);
  s.lane.reserve(width * height / 16);
  s.code.reserve(width * height / 16);
  const auto maskRow = [&](std::size_t k) { return k >= height ? none.data() : mask + k * width; };
  for (std::size_t k = 0; k < height; ++k) {
    classifyColumnSlots(k == 0 ? none.data() : maskRow(k - 1), maskRow(k), maskRow(k + 1),
                        position.data(), codes.data(), width);
    std::size_t count = s.lane.size();
    std::size_t padCount = pads.lane.size();
    s.start[k] = count;
    pads.start[k] = padCount;
    s.lane.resize(count + width);
    s.code.resize(count + width);
    pads.lane.resize(padCount + width);
    pads.code.resize(padCount + width);
    forEachByteNot(codes.data(), width, kUniform, [&](std::size_t l) {
      s.lane[count] = static_cast<std::uint32_t>(l);
      s.code[count++] = codes[l];
      pads.lane[padCount] = static_cast<std::uint32_t>(l);
      pads.code[padCount] = codes[l];
      padCount += codes[l] >= kEndPad;
    });
    s.lane.resize(count);
    s.code.resize(count);
    pads.lane.resize(padCount);
    pads.code.resize(padCount);
    s.start[k + 1] = count;
    pads.start[k + 1] = padCount;
    found.sStrips.addRow(s.lane.data(), s.start[k], count);
    found.padStrips.addRow(pads.lane.data(), pads.start[k], padCount);
  }
  return found;
}

// The column solve of the lanes [first, last) of one strip, in its stages.
struct ColumnStrip {
  double* c;
  std::uint8_t* mask;
  std::size_t width;
  std::size_t height;
  const ColumnSpecials& found;
  std::size_t first;
  std::size_t last;
  std::size_t strip;

  double* row(std::size_t k) const { return c + k * width; }
  bool inRun(std::size_t k, std::size_t l) const {
    return k < height && (mask[k * width + l] & kColumnRun);
  }

  // The forward elimination, row by row from the second to the last but one.
  void forward() const {
    const Specials& s = found.s;
    for (std::size_t k = 1; k + 1 < height; ++k) {
      double* r = row(k);
      const double* previous = row(k - 1);
      const auto [begin, end] = found.sStrips.range(k, strip);
      sweepRow(
          r, s.lane.data() + begin, s.code.data() + begin, end - begin, first, last,
          [r, previous](std::size_t from, std::size_t to) {
            for (std::size_t l = from; l < to; ++l) r[l] = (previous[l] - 6.0 * r[l]) * kLastFactor;
          },
          [previous](std::uint8_t code, std::size_t l, double value) {
            return forwardStep(code, previous[l], value);
          });
    }
  }

  // The back substitution of row k from row k + 1.
  void backward(std::size_t k) const {
    const Specials& s = found.s;
    double* r = row(k);
    const double* next = row(k + 1);
    const auto [begin, end] = found.sStrips.range(k, strip);
    sweepRow(
        r, s.lane.data() + begin, s.code.data() + begin, end - begin, first, last,
        [r, next](std::size_t from, std::size_t to) {
          for (std::size_t l = from; l < to; ++l) r[l] = r[l] + kLastFactor * next[l];
        },
        [next](std::uint8_t code, std::size_t l, double value) {
          return backwardStep(code, value, next[l]);
        });
  }

  // The pads of row k of the given code: start pads before runs that start at row k + 1, end pads
  // after runs that end at row k - 1 (the rows they read must be final).
  void placePads(std::size_t k, std::uint8_t code) const {
    const Specials& pads = found.pads;
    const bool start = code == kStartPad;
    const std::size_t endRow = start ? k + 1 : k - 1;    // the end of the run beside the pad
    const std::size_t innerRow = start ? k + 2 : k - 2;  // the run's next row inwards
    const auto [begin, end] = found.padStrips.range(k, strip);
    for (std::size_t e = begin; e < end; ++e) {
      if (pads.code[e] != code) continue;
      const std::size_t l = pads.lane[e];
      const bool inner = (start || k >= 2) && inRun(innerRow, l);
      row(k)[l] = padBeside(row(endRow)[l], inner ? row(innerRow)[l] : 0.0, inner);
      mask[k * width + l] |= kColumnPad;
    }
  }
};

// The column solve of the lanes [first, last): forward row by row, then backward, and the pads of
// each row once the rows they read are final (and before a row that could read them is
// eliminated): after row k, the start pads of row k + 1 and the end pads of row k + 2. Lanes are
// independent, so strips of them are solved at once.
void solveColumnStrip(double* c, std::uint8_t* mask, std::size_t width, std::size_t height,
                      const ColumnSpecials& found, std::size_t first, std::size_t last) {
  const ColumnStrip strip{c, mask, width, height, found, first, last, first / kColumnStrip};
  strip.forward();
  for (std::size_t after = height; after-- > 0;) {  // k = after - 1, from height - 2 down to -1
    if (after >= 2 && after < height) strip.backward(after - 1);
    if (after + 1 < height) {
      strip.placePads(after, kStartPad);    // of the runs that start at row after + 1
      strip.placePads(after + 1, kEndPad);  // of the runs that end at row after
    }
  }
}

// The column solve (its single gaps joined): the lanes are the columns, contiguous within each
// row (element k), solved in parallel strips. False when ticks stopped it (cancel).
bool solveColumnRuns(double* c, std::uint8_t* mask, std::size_t width, int ny, RowTicks& ticks) {
  const std::size_t height = static_cast<std::size_t>(ny) + 2;
  // The specials of every row first, so that the sweeps stream through the rows undisturbed.
  const ColumnSpecials found = classifyColumns(mask, width, height);
  return ticks.parallelPass(
      height, kColumnStrip * height, 2, [&](std::size_t begin, std::size_t end) {
        solveColumnStrip(c, mask, width, height, found, begin / height, end / height);
      });
}

// The special slots of one row of the row solve, ascending.
struct RowSpecials {
  std::vector<std::uint32_t, NodeAllocator<std::uint32_t>> at;
  std::vector<std::uint8_t, NodeAllocator<std::uint8_t>> code;
};

// Joins the single gaps of a row's runs and lists its special slots, run by run: the runs are
// found from the slots where the mask changes, so a row costs little more than its specials.
// changes is scratch space of width + 8 bytes.
void scanRow(double* c, std::uint8_t* m, std::size_t width, std::vector<std::uint8_t>& changes,
             RowSpecials& out) {
  // A row holds at most one special per slot.
  out.at.resize(width);
  out.code.resize(width);
  std::size_t count = 0;
  changes[0] = (m[0] & kRowRun) != 0;
  for (std::size_t k = 1; k < width; ++k) {
    changes[k] = ((m[k] & kRowRun) != 0) ^ ((m[k - 1] & kRowRun) != 0);
  }
  const auto emit = [&out, &count](std::size_t k, std::uint8_t code) {
    out.at[count] = static_cast<std::uint32_t>(k);
    out.code[count++] = code;
  };
  // The run [first, last] once complete: its start pad, ends, converging slots and end pad.
  const auto emitRun = [&](std::size_t first, std::size_t last) {
    emit(first - 1, kStartPad);
    emit(first, kKeep);
    const std::size_t young = std::min(first + kConverged - 1, last);  // slots before it converge
    for (std::size_t k = first + 1; k < young; ++k) {
      emit(k, static_cast<std::uint8_t>(k - first - 1));
    }
    if (last != first) emit(last, kKeep);
    emit(last + 1, kEndPad);
  };
  std::size_t first = 0;  // start of the run being assembled
  std::size_t last = 0;   // its last slot so far
  bool open = false;      // a run has been started
  bool starting = true;   // the next change starts a run
  forEachByteNot(changes.data(), width, 0, [&](std::size_t k) {
    if (starting) {
      if (open && k == last + 2) {  // a single gap: join it and go on with the run
        c[k - 1] = (c[k - 2] + c[k]) / 2.0;
        m[k - 1] |= kRowJoin;
      } else {
        if (open) emitRun(first, last);
        first = k;
        open = true;
      }
    } else {
      last = k - 1;
    }
    starting = !starting;
  });
  if (open) emitRun(first, last);
  out.at.resize(count);
  out.code.resize(count);
}

// The row solve of up to 8 rows at once, interleaved to hide the latency of the recurrence (as
// solve() does): uniform steps along the rows up to the nearest special slot of any row, where
// that row takes its own step. The stages: forward(), backward(), then placePads().
struct RowBlockSolve {
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  double* const* rows;
  const RowSpecials* lists;
  std::size_t lanes;
  std::size_t last;                 // the data slots are 1 ... last
  std::size_t cursor[kRowBlock]{};  // each row's next special in its list
  std::size_t nextAt[kRowBlock]{};  // where each row's next special stands, or kNone

  std::size_t nearest() const { return *std::min_element(nextAt, nextAt + lanes); }

  // Forward: specials from the first data slot on, ascending.
  std::size_t forwardAt(std::size_t l) const {
    return cursor[l] < lists[l].at.size() ? std::size_t{lists[l].at[cursor[l]]} : kNone;
  }
  void forward() {
    for (std::size_t l = 0; l < lanes; ++l) {
      cursor[l] = 0;
      if (forwardAt(l) == 0) ++cursor[l];
      nextAt[l] = forwardAt(l);
    }
    for (std::size_t k = 1; k <= last; ++k) {
      const std::size_t stop = std::min(nearest(), last + 1);
      for (; k < stop; ++k) {
        for (std::size_t l = 0; l < lanes; ++l) {
          double* r = rows[l];
          r[k] = (r[k - 1] - 6.0 * r[k]) * kLastFactor;
        }
      }
      if (k > last) break;
      for (std::size_t l = 0; l < lanes; ++l) {
        double* r = rows[l];
        if (nextAt[l] != k) {
          r[k] = (r[k - 1] - 6.0 * r[k]) * kLastFactor;
          continue;
        }
        r[k] = forwardStep(lists[l].code[cursor[l]++], r[k - 1], r[k]);
        nextAt[l] = forwardAt(l);
      }
    }
  }

  // Backward: specials from the last data slot down, descending (as 0 ... last counted back).
  std::size_t backwardAt(std::size_t l) const {
    return cursor[l] > 0 ? last - lists[l].at[cursor[l] - 1] : kNone;
  }
  void backward() {
    for (std::size_t l = 0; l < lanes; ++l) {
      cursor[l] = lists[l].at.size();
      if (cursor[l] > 0 && lists[l].at[cursor[l] - 1] > last) --cursor[l];
      nextAt[l] = backwardAt(l);
    }
    for (std::size_t back = 0; back < last; ++back) {  // slot k = last - back
      const std::size_t stop = std::min(nearest(), last);
      for (; back < stop; ++back) {
        const std::size_t k = last - back;
        for (std::size_t l = 0; l < lanes; ++l) {
          double* r = rows[l];
          r[k] = r[k] + kLastFactor * r[k + 1];
        }
      }
      if (back >= last) break;
      const std::size_t k = last - back;
      for (std::size_t l = 0; l < lanes; ++l) {
        double* r = rows[l];
        if (nextAt[l] != back) {
          r[k] = r[k] + kLastFactor * r[k + 1];
          continue;
        }
        r[k] = backwardStep(lists[l].code[--cursor[l]], r[k], r[k + 1]);
        nextAt[l] = backwardAt(l);
      }
    }
  }

  // The pads, once the runs are final.
  void placePads(const std::uint8_t* const* masks, std::size_t width) const {
    for (std::size_t l = 0; l < lanes; ++l) {
      double* r = rows[l];
      const std::uint8_t* m = masks[l];
      for (std::size_t e = 0; e < lists[l].at.size(); ++e) {
        const std::size_t k = lists[l].at[e];
        if (lists[l].code[e] == kStartPad) {
          const bool inner = k + 2 < width && (m[k + 2] & kRowRun);
          r[k] = padBeside(r[k + 1], inner ? r[k + 2] : 0.0, inner);
        } else if (lists[l].code[e] == kEndPad) {
          const bool inner = k >= 2 && (m[k - 2] & kRowRun);
          r[k] = padBeside(r[k - 1], inner ? r[k - 2] : 0.0, inner);
        }
      }
    }
  }
};

bool solveRowRuns(double* c, std::uint8_t* mask, std::size_t width, std::size_t height,
                  RowTicks& ticks) {
  return ticks.parallelPass(height, kRowBlock * width, 1, [&](std::size_t begin, std::size_t end) {
    RowSpecials lists[kRowBlock];
    std::vector<std::uint8_t> changes((width + 7) / 8 * 8 + 8, 0);
    double* rows[kRowBlock];
    const std::uint8_t* masks[kRowBlock];
    const std::size_t row = begin / width;
    const std::size_t lanes = (end - begin) / width;
    for (std::size_t l = 0; l < lanes; ++l) {
      rows[l] = c + (row + l) * width;
      masks[l] = mask + (row + l) * width;
      scanRow(rows[l], mask + (row + l) * width, width, changes, lists[l]);
    }
    RowBlockSolve block{rows, lists, lanes, width - 2};
    block.forward();
    block.backward();
    block.placePads(masks, width);
  });
}

// Copies a row of nodes into the coefficient array; true when one of them is blank. The copied
// row, in cache, is then looked over for candidates (mayBeBlank).
bool placeRow(const double* nodes, std::size_t n, double* out) {
  std::copy_n(nodes, n, out);
  std::uint32_t candidate = 0;  // an integer, so that the loop runs on whole vectors
  for (std::size_t i = 0; i < n; ++i) candidate |= static_cast<std::uint32_t>(mayBeBlank(out[i]));
  return candidate != 0 && std::any_of(out, out + n, isBlank);
}

// Copies a row of n nodes into its slots 1 ... n, blanks as zero, and marks them in the mask row
// (the pad slots 0 and n + 1 included).
void placeRow(const double* nodes, std::size_t n, double* out, std::uint8_t* mask) {
  mask[0] = 0;
  mask[n + 1] = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = nodes[i];
    const bool blank = isBlank(v);
    out[i + 1] = blank ? 0.0 : v;
    mask[i + 1] = static_cast<std::uint8_t>(!blank);
  }
}

constexpr std::size_t kCancelledPlacing = ~std::size_t{0};

// Copies the rows of nodes into the slots of c, in parallel blocks of rows, and zeroes the pads:
// the first pass of the solve. Returns the first row holding a blank (ny for none), or
// kCancelledPlacing when cancelled.
std::size_t placeRows(std::span<const double> nodes, std::size_t nx, int ny, double* c,
                      RowTicks& ticks) {
  const std::size_t width = nx + 2;
  const std::size_t rows = static_cast<std::size_t>(ny);
  std::fill_n(c, width, 0.0);
  std::fill_n(c + (rows + 1) * width, width, 0.0);
  const std::size_t blockRows = std::max<std::size_t>(1, kProgressBlock / width);
  std::vector<std::size_t> firstBlanks(parallel::blockCount(rows, {blockRows, 0}), rows);
  const bool placed =
      ticks.parallelPass(rows, blockRows * width, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin / width; j < end / width; ++j) {
          double* slots = c + (j + 1) * width;
          slots[0] = slots[width - 1] = 0.0;
          if (placeRow(nodes.data() + j * nx, nx, slots + 1) &&
              firstBlanks[j / blockRows] == rows) {
            firstBlanks[j / blockRows] = j;
          }
        }
      });
  if (!placed) return kCancelledPlacing;
  return *std::min_element(firstBlanks.begin(), firstBlanks.end());
}

// Places the nodes of the slot columns [first, last) row by row (pads as zero) and solves them
// along Y, each row's elimination step right after its placing, so that the nodes are read once
// and the strip is still in cache for the back substitution. Stops, leaving the strip unfinished,
// with blank set, once a blank node turns up here or in another strip.
bool placeAndSolveStrip(const double* nodes, std::size_t nx, int ny, double* c, std::size_t first,
                        std::size_t last, std::atomic<bool>& blank) {
  const std::size_t width = nx + 2;
  const std::size_t from = std::max<std::size_t>(first, 1);
  const std::size_t to = std::min(last, nx + 1);
  const RowLanes lanes{c + first, width, last - first};
  for (int j = 1; j <= ny; ++j) {
    double* row = c + static_cast<std::size_t>(j) * width;
    if (first == 0) row[0] = 0.0;
    if (last == width) row[width - 1] = 0.0;
    const double* source = nodes + static_cast<std::size_t>(j - 1) * nx + (from - 1);
    if (placeRow(source, to - from, row + from) || blank.load(std::memory_order_relaxed)) {
      blank.store(true, std::memory_order_relaxed);
      return false;
    }
    if (j >= 2 && j < ny) eliminate(lanes, j + 1);
  }
  return substitute(lanes, ny, [] { return true; });
}

// The mask of a grid whose rows before firstBlankRow hold no blank (those rows marked, the pad
// rows clear); the other rows are marked as they are placed.
SlotMask startMask(std::size_t width, std::size_t height, std::size_t firstBlankRow) {
  SlotMask mask(width * height);
  std::fill_n(mask.data(), width, std::uint8_t{0});
  std::fill_n(mask.data() + (height - 1) * width, width, std::uint8_t{0});
  for (std::size_t j = 1; j <= firstBlankRow; ++j) {
    std::uint8_t* m = mask.data() + j * width;
    std::fill_n(m, width, kNodeSlot);
    m[0] = m[width - 1] = 0;
  }
  return mask;
}

// The solve of a grid with a blank node, into c: the rows are placed, and from the first row with
// a blank on placed again with the mask made from them; then the single gaps of the column runs
// are joined (a join changes only a blank slot whose neighbours in its column are nodes, so no
// join depends on another: both go in parallel rows), and the runs are solved. False when
// cancelled.
bool solveAroundBlanks(std::span<const double> nodes, std::size_t n, int ny, double* c,
                       RowTicks& ticks) {
  const std::size_t width = n + 2;
  const std::size_t height = static_cast<std::size_t>(ny) + 2;
  const std::size_t firstBlank = placeRows(nodes, n, ny, c, ticks);
  if (firstBlank == kCancelledPlacing) return false;
  SlotMask mask = startMask(width, height, firstBlank);
  const std::size_t rest = static_cast<std::size_t>(ny) - firstBlank;
  const std::size_t block = parallel::rowsPerBlock(width) * width;
  // Rows [begin, end) of the rest, from slot offsets.
  const auto rows = [&](std::size_t begin, std::size_t end) {
    return std::pair{firstBlank + begin / width, firstBlank + end / width};
  };
  const bool placed = ticks.parallelPass(rest, block, 0, [&](std::size_t begin, std::size_t end) {
    const auto [first, last] = rows(begin, end);
    for (std::size_t j = first; j < last; ++j) {
      placeRow(nodes.data() + j * n, n, c + (j + 1) * width, mask.data() + (j + 1) * width);
    }
  });
  const bool joined =
      placed && ticks.parallelPass(rest, block, 0, [&](std::size_t begin, std::size_t end) {
        const auto [first, last] = rows(begin, end);
        std::vector<std::uint8_t> gaps((width + 7) / 8 * 8, 0);
        for (std::size_t j = std::max<std::size_t>(2, first); j < last; ++j) {
          joinColumnGaps(c, mask.data(), width, j, gaps);
        }
      });
  return joined && solveColumnRuns(c, mask.data(), width, ny, ticks) &&
         solveRowRuns(c, mask.data(), width, height, ticks);
}

}  // namespace

NodeVector computeSplineCoefficients(std::span<const double> nodes, int nx, int ny, bool* blanks,
                                     ErrorSink* progress) {
  const std::size_t width = static_cast<std::size_t>(nx) + 2;
  const std::size_t height = static_cast<std::size_t>(ny) + 2;
  const std::size_t n = static_cast<std::size_t>(nx);
  // Four passes over the slot rows: placing the nodes, the two sweeps along Y, the rows.
  ProgressPacer pacer(progress, 4 * static_cast<std::int64_t>(width * height));
  RowTicks ticks(pacer, width);
  // Every return gives c, so that it is built in place of the result; a cancel empties it.
  NodeVector c(width * height);
  // Without a blank, each strip of lanes is placed and solved along Y in one pass, then the rows
  // in blocks of rows, each block on its own. A blank stops the strips, and the rows are placed
  // again for the solve around blanks.
  std::atomic<bool> blank = false;
  parallel::touchPages(c.data(), c.size() * sizeof(double));
  const bool columns =
      ticks.parallelPass(height, kColumnStrip * height, 3, [&](std::size_t begin, std::size_t end) {
        return placeAndSolveStrip(nodes.data(), n, ny, c.data(), begin / height, end / height,
                                  blank);
      });
  if (columns) {
    if (blanks != nullptr) *blanks = false;
    if (!ticks.parallelPass(height, kRowBlock * width, 1, [&](std::size_t begin, std::size_t end) {
          solve(ColumnLanes{c.data() + begin, width, (end - begin) / width}, nx,
                [] { return true; });
        })) {
      c = NodeVector();
    }
    return c;
  }
  if (!blank || !solveAroundBlanks(nodes, n, ny, c.data(), ticks)) c = NodeVector();
  if (blanks != nullptr) *blanks = blank;
  return c;
}

}  // namespace vellumar::grid
